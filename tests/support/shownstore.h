// Saves and loads of the local-file store as the program does them: what the store
// returns is shown through the message interface, so tests can record it. And a
// configuration with the session that keeps it, as the application holds the two side by
// side, for tests that load and save one configuration in several places.
#pragma once

#include <string>

#include "model/configuration.h"
#include "platform/support/messages.h"
#include "platform/support/oidtable.h"
#include "store/files/localstore.h"
#include "store/files/templatefile.h"
#include "store/store.h"

namespace testsupport {

// Shows what `result` holds, as the program's windows do, and says whether it succeeded.
inline bool Shown(const msg::Result& result) {
  msg::Show(result.problems);
  return result.ok;
}
inline bool Shown(const msg::Outcome& outcome) {
  msg::Show(outcome.problems);
  return bool(outcome);
}

// Problems that are shown when the statement that filled them ends: pass
// `ShowAfter().Into()` where a function appends what it has to say.
struct ShowAfter {
  ShowAfter() = default;
  ShowAfter(const ShowAfter&) = delete;
  ~ShowAfter() { msg::Show(problems); }
  msg::Problems& Into() { return problems; }
  msg::Problems problems;
};

struct KeptConfiguration : Configuration {
  store::Session session;
};

// A directory session that logs on as `dn` with `password`, protected as `tls` asks; the
// URL of directory::ConnectConfiguration gives the server.
inline directory::Session LogonAs(const std::string& dn, const std::string& password,
                                  const ldapx::TlsOptions& tls = {}) {
  directory::Session session;
  session.server.bindDn = dn;
  session.server.security = ldapx::SecurityName(tls.security);
  session.server.caCertificateFile = tls.caFile;
  session.password = password;
  return session;
}

inline msg::Outcome SaveShown(const Configuration& c, const std::string& folder) {
  msg::Outcome saved = SaveToFiles(c, folder);
  msg::Show(saved);
  return saved;
}
inline msg::Outcome SaveShown(const KeptConfiguration& c) {
  return SaveShown(c, c.session.configurationDirectory);
}

inline int LoadShown(Configuration& c, const std::string& folder, const kvaro::Oidtable& table) {
  msg::Problems problems;
  const int loaded = LoadFromFiles(c, folder, table, &problems);
  msg::Show(problems);
  return loaded;
}
inline int LoadShown(KeptConfiguration& c, const kvaro::Oidtable& table) {
  return LoadShown(c, c.session.configurationDirectory, table);
}

}  // namespace testsupport

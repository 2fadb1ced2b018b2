// Three throwaway slapd servers that replicate: a provider (syncprov) and two read-only
// copies (syncrepl refreshAndPersist) that answer writes with referrals. The first copy
// refers to the provider and also offers TLS (StartTLS and LDAPS with the test CA), which
// the provider does not; the second refers to a loopback port where nothing answers.
// Made once per test program and shared by its cases; the servers die with the program.
#pragma once

#include <memory>
#include <string>

#include "model/configuration.h"
#include "tests/support/slapdfixture.h"

namespace testsupport {

// The LDIF a save of `configuration` below `root` writes, for comparing configurations:
// equal texts, equal configurations. "(unsaveable)" when it cannot be saved.
std::string ConfigurationText(const Configuration& configuration, const std::string& root);

// What the server of `connection` serves below `root` now, loaded as the editor loads
// it: its ConfigurationText; "none" when the root is absent or holds no record,
// "warnings" when the load warned, "error: TEXT" when it could not be read.
std::string ServedConfiguration(ldapx::Connection& connection, const std::string& root,
                                const kvaro::Oidtable& table);
// The same over a new connection to `server`, bound as its administrator.
std::string ServedConfiguration(const DirectoryServer& server, const std::string& root,
                                const kvaro::Oidtable& table);

class ReplicatedSlapd {
 public:
  ReplicatedSlapd();
  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }

  SlapdFixture& provider() { return *provider_; }
  SlapdFixture& copy() { return *copy_; }      // refers to the provider; TLS
  SlapdFixture& lostCopy() { return *lost_; }  // refers to deadPort()
  int deadPort() const { return deadPort_; }

  // "ldap://127.0.0.1:PORT/" of a server, and the URL of `dn` there (escaped as a URL).
  static std::string Url(const SlapdFixture& server, const std::string& dn = {});

  // Waits until both copies hold what the provider holds (the contextCSN of o=Sample is
  // the same on all three), at most `seconds`. The milliseconds it took, or -1.
  long WaitForCopies(int seconds);

  // Starts the provider again (after Kill), same port and data.
  bool RestartProvider() { return provider_->Restart(); }

 private:
  std::unique_ptr<SlapdFixture> provider_;
  std::unique_ptr<SlapdFixture> copy_;
  std::unique_ptr<SlapdFixture> lost_;
  int deadPort_ = 0;
  bool ok_ = false;
  std::string error_;
};

// The program's one replicated set, started on the first call.
ReplicatedSlapd& SharedReplicas();

// Two throwaway slapd servers in mirror mode: each takes writes and is a syncrepl
// consumer (refreshAndPersist) of the other (serverID 1 and 2, "mirrormode on"). Made
// once per test program and shared by its cases; the servers die with the program.
class MirrorSlapd {
 public:
  MirrorSlapd();
  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }

  SlapdFixture& mirror(int i) { return i == 0 ? *first_ : *second_; }

  // Waits until both hold the same changes (the contextCSN of o=Sample is the same on
  // both), at most `seconds`. The milliseconds it took, or -1.
  long WaitForMirrors(int seconds);

 private:
  std::unique_ptr<SlapdFixture> first_;
  std::unique_ptr<SlapdFixture> second_;
  bool ok_ = false;
  std::string error_;
};

// The program's one mirror pair, started on the first call.
MirrorSlapd& SharedMirrors();

}  // namespace testsupport

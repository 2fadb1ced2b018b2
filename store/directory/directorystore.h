// The directory pieces of the command-line tool: a configuration addressed by an LDAP
// URL whose DN is the configuration root entry, e.g.
//   ldap://dirhost:389/cn=Orvelle%20Configuration,o=Sample
// loaded and saved without windows (what they have to say is returned for the caller to
// show), and the LDIF of the entries a save writes.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "model/configuration.h"
#include "platform/ldap/ldapclient.h"
#include "platform/support/outcome.h"
#include "store/directory/session.h"

namespace kvaro {
class Oidtable;
}

namespace directory {

struct ConfigurationUrl {
  // The server, or several that hold the same configuration, tried in order: the URL's
  // host part may list them separated by commas, each with its own port or none
  // ("ldap://ldap1,ldap2:1389/cn=..."); host is then that list as the settings hold it
  // (ldapx::ParseHostList) and port the port of those that name none.
  std::string host;
  int port = 389;         // 389 (ldaps: 636) when the URL names none
  bool ldaps = false;     // an ldaps:// URL: TLS from the first byte
  std::string subtreeDn;  // the root entry's DN, unescaped
};

// Parses an ldap:// or ldaps:// URL; nullopt when it is not one, has no host or no DN,
// or a host of its list is empty or has a port that is not valid.
std::optional<ConfigurationUrl> ParseConfigurationUrl(const std::string& url);

// Opens a connection to the URL's server and binds with session.server.bindDn and
// session.password (both empty: anonymously), protected as session.server asks (an
// ldaps:// URL always means LDAPS; a failed certificate check or a refused StartTLS ends
// it before the bind). Then sets the server's address and port (and security "ldaps" for
// an ldaps:// URL), subtreeDn and connection of `session`. On failure one message (none
// when cancelled), the session unchanged: 61277 when the server cannot be reached, 61276
// when the bind is refused, 62120 for a bad URL.
msg::Result ConnectConfiguration(Session& session, const std::string& url,
                                 const ldapx::Timeouts& timeouts = {});

// Connects (as above) and loads the configuration subtree, with the load's warnings.
// Fails when the connection failed, the subtree could not be read (62121) or the entry
// is not a configuration root (62131).
// `serverSchemaInto` (may be null) receives the server's schema as LoadFromDirectory
// describes, before the load. With `keepState` session.loaded keeps what the load read,
// for a save of what changed (see LoadSession).
msg::Result LoadConfigurationFromUrl(Session& session, Configuration& configuration,
                                     const kvaro::Oidtable& table, const std::string& url,
                                     const ldapx::Timeouts& timeouts = {},
                                     kvaro::Oidtable* serverSchemaInto = nullptr,
                                     bool keepState = false);

// Connects (as above) and saves the configuration's rule sets and forms to the URL's
// subtree with SaveConfiguration (which creates the root entry when the directory does
// not hold it yet, and refuses an entry that is not a configuration root).
msg::Result SaveConfigurationToUrl(Session& session, const Configuration& configuration,
                                   const std::string& url, const ldapx::Timeouts& timeouts = {});

// Saves over session.connection (SaveConfiguration; the root entry is created when it is
// missing).
msg::Result SaveWithRootEntry(Session& session, const Configuration& configuration);

// The LDIF (RFC 2849) of exactly the entries a save adds: the root entry at `subtreeDn`,
// then every rule set and form, depth first, in writing order, attributes and values in
// the order they are sent. When a record may not be stored, the message of a save's
// checks (CheckConfiguration, CheckEntryPlan), and nothing in `out`.
msg::Outcome ConfigurationLdif(const Configuration& configuration, const std::string& subtreeDn,
                               std::string& out);

}  // namespace directory

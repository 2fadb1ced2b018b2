// Read-only copies of the configuration: a save that reached a server holding a
// read-only copy (a consumer of replication) is refused by it with a referral to the
// server that takes changes; these find that referral in a save's result and connect to
// that server, for a caller that decides to save there.
#pragma once

#include <optional>
#include <string>

#include "platform/ldap/ldapclient.h"
#include "platform/support/outcome.h"
#include "store/directory/session.h"

namespace directory {

// When `result` is a save refused by a server that holds a read-only copy (its first
// write answered with a referral; message msg::id::kReadOnlyCopy, nothing was written
// anywhere), the URL of the server that takes changes as the copy named it; nullopt for
// any other result.
std::optional<std::string> ReadOnlyCopyReferral(const msg::Result& result);

// Opens and binds a connection to the server `url` names (a referral of a read-only copy)
// with the session's bind DN and password, protected never weaker than the session:
// ldaps:// with LDAPS; ldap:// with StartTLS when the session is encrypted (a provider
// that does not offer it is refused), else in plain text. On success the session's
// server and connection are the provider's (the subtree stays); else one message
// (kProviderFailed with the reason, 62190, kProviderUnusable for a URL that names no
// ldap:// or ldaps:// server; none when cancelled) and the session unchanged.
msg::Result ConnectToProvider(Session& session, const std::string& url,
                              const ldapx::Timeouts& timeouts);

}  // namespace directory

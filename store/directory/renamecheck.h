// Whether a server moves a whole subtree when it renames the subtree's top entry. Saves
// rename subtrees (a staged configuration into place, a form in or out); a server that
// moves only part of one would leave the rest of it under the old name, out of the
// configuration, while the rename reports success.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/ldap/ldapclient.h"
#include "store/directory/session.h"

namespace directory {

// Checks the server of `session` once per server (the answer is kept in the session):
// on 389 Directory Server (its root DSE's vendorName) a small subtree of the program's
// own kinds of entries is added beside the configuration root `session.subtreeDn`, under
// a name marked as a save's (a leftover of a check that stopped half way is removed by a
// later save), renamed, looked for at its new DNs and removed again, under either name;
// other servers are taken at their word (OpenLDAP moves whole subtrees). 389 Directory
// Server with its LMDB database (2.3, 3.1) moves only the first two entries below each
// child of the renamed entry. Writes nothing on other servers. Each request waits within the
// connection's limits and ends early through ldapx::CancelScope; a server lost, silent or
// cancelled gives Unknown at once, and a later save removes what the check left.
// `onStep`, for tests: called after the check's adds ("added") and its rename ("renamed").
SubtreeRenames CheckSubtreeRenames(Session& session,
                                   const std::function<void(std::string_view)>& onStep = {});

}  // namespace directory

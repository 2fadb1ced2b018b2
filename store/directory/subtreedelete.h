// Deleting a subtree of the directory, children before their parents, many deletes in
// flight.
#pragma once

#include <string>
#include <vector>

#include "platform/ldap/ldapclient.h"
#include "platform/support/outcome.h"

namespace directory {

// Deletes every entry below `dn`, children before parents, depth first, in the server's
// order; with `deleteSelf` also `dn` itself. Stops at the first refusal (message 61264
// with the DN and error text, then 62122 when an entry deleted beyond it could not be put
// back; 61263 when the entries could not be listed).
msg::Outcome DeleteSubtree(ldapx::Connection& connection, const std::string& dn, bool deleteSelf);

// Deletes in flight when a save removes its own subtrees.
inline constexpr int kRemoveWindow = 256;

// Removes our own subtree at `dn` (with `dn` itself when `self`), quietly, many deletes
// in flight, children before parents. An entry that is already gone counts as removed:
// another save may have taken the subtree over. The entries directly below `dn` named in
// `keep` stay, and `dn` with them; what is below them goes. Returns the first failure,
// its DN in `failedDn`.
int RemoveSubtree(ldapx::Connection& conn, const std::string& dn, bool self,
                  std::string* failedDn = nullptr, const std::vector<std::string>& keep = {});

// Removes the entries `dns`, none below another, as RemoveSubtree removes its entries.
int RemoveEntries(ldapx::Connection& conn, const std::vector<std::string>& dns,
                  std::string* failedDn = nullptr);

}  // namespace directory

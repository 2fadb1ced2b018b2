// What saves leave beside the configuration root: the old copy a save renamed away, and
// the marked subtrees of saves that were stopped. Their names are "<root name>" + a mark +
// a kvaro::TimedTag.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/ldap/ldapclient.h"

namespace directory {

inline constexpr std::string_view kSaveMark = ".orvelle-save-";  // a staging subtree
inline constexpr std::string_view kOldMark = ".orvelle-old-";    // a stored one renamed away

// Removes what earlier saves left beside the configuration root `rootDn`: subtrees whose
// root is a configuration root named "<root name>" + a mark + a save's tag. A staging
// subtree is taken whatever its age (a save still writing it then fails, saying that
// another save changed the configuration); an old copy only when it was made at least
// `minAgeSeconds` ago, since a save between its two renames may be about to rename it
// back. Each is first renamed to a name of this removal, so that no two removals take the
// same subtree. Failures here lose nothing and are not reported: a later save tries again.
void ClearLeftovers(ldapx::Connection& conn, const std::string& rootDn, long minAgeSeconds);

// The DNs of the second copies of the configuration root `rootDn` that replication between
// servers that both take writes left beside it (389 Directory Server names such a copy
// "<root's RDN>+nsuniqueid=<id>" and marks it with nsds5ReplConflict): the root added, or a
// save's staging subtree renamed into its place, on two servers at once. Never the root
// itself. Empty when there are none or they cannot be read.
std::vector<std::string> ReplicatedRootCopies(ldapx::Connection& conn, const std::string& rootDn);

}  // namespace directory

// What saves leave beside the configuration root: the old copy a save renamed away, and
// the marked subtrees of saves that were stopped. Their names are "<root name>" + a mark +
// a kvaro::TimedTag.
#pragma once

#include <string>
#include <string_view>

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

}  // namespace directory

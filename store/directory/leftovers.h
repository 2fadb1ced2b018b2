// What saves leave beside the configuration root: the old copy a save renamed away, the
// search forms and rule sets a save moved out, and the marked subtrees of saves that were
// stopped. Their names are "<root name>" + a mark + a kvaro::TimedTag, or, for an entry
// renamed away, + kOldMark + kIdTag + the server's unique id of that entry.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/ldap/ldapclient.h"

namespace directory {

inline constexpr std::string_view kSaveMark = ".orvelle-save-";  // a staging subtree
inline constexpr std::string_view kOldMark = ".orvelle-old-";    // a stored one renamed away
inline constexpr std::string_view kIdTag = "id-";  // after kOldMark: the entry's unique id

// The operational attributes that hold an entry's unique id (389 Directory Server's
// nsUniqueId, OpenLDAP's entryUUID): ask for them in the read of an entry that
// OldCopyValue names.
const std::vector<std::string>& UniqueIdAttributes();

// True when `id` has the shape of a unique id: hexadecimal digits in groups separated by
// single "-", 32 digits in all.
bool IsUniqueId(std::string_view id);

// True when `type` is one of UniqueIdAttributes (compared ignoring case).
bool IsUniqueIdAttribute(std::string_view type);

// True when `tag`, what follows kOldMark in a name, is kIdTag + a unique id: the name
// OldCopyValue gives an entry that has one.
bool IsIdTag(std::string_view tag);

// The unique id of `entry` (read with UniqueIdAttributes) when it has the shape of one,
// else empty.
std::string UniqueIdOf(const ldapx::Entry& entry);

// The naming value of `entry` (read with UniqueIdAttributes) once renamed away beside the
// root whose naming value is `rootValue`: rootValue + kOldMark + kIdTag + its unique id.
// Every server that renames that entry away gives it this same name, so that servers
// that both take writes agree on where it went (389 Directory Server cannot replay the
// removal of an entry that another server renamed elsewhere before removing it). Without
// a unique id: rootValue + kOldMark + a kvaro::TimedTag.
std::string OldCopyValue(const std::string& rootValue, const ldapx::Entry& entry);
// The same for an entry whose unique id (UniqueIdOf) is `uniqueId`.
std::string OldCopyValue(const std::string& rootValue, const std::string& uniqueId);

// Removes `oldDn`, a stored configuration root that a save renamed away from `rootDn`,
// with every entry below it. On 389 Directory Server each of its search forms is first
// emptied, then renamed out beside the root under its OldCopyValue, as a save of changes
// moves a form out, and removed there: where a supplier that takes writes too moved one
// of them out at the same time, the two renamed it to the same DN (389 Directory Server
// cannot replay the rename of an entry that it removed in place). Returns the first failure, its DN
// in `failedDn`; an entry already gone counts as removed.
int RemoveOldRoot(ldapx::Connection& conn, const std::string& oldDn, const std::string& rootDn,
                  std::string* failedDn = nullptr);

// Removes what earlier saves left beside the configuration root `rootDn`: subtrees whose
// root is a configuration root named "<root name>" + a mark + a save's tag. A staging
// subtree is taken whatever its age (a save still writing it then fails, saying that
// another save changed the configuration); an old copy with a time in its name only when
// it was made at least `minAgeSeconds` ago, since a save between its two renames may be
// about to rename it back. These are first renamed to their OldCopyValue, so that a save
// still at work cannot use them any more. An old copy named by its unique id is removed
// where it stands, and only while the root stands: a save renames the root away under
// that name, and needs it back only as long as no root has taken its place. A search form
// or rule set that a save moved out beside the root under its OldCopyValue is removed once
// it was moved there (its modifyTimestamp, the server's time) at least `minAgeSeconds`
// ago: a save of changes renames it back only while it runs, to take itself back. Failures here
// lose nothing and are not reported: a later save tries again.
void ClearLeftovers(ldapx::Connection& conn, const std::string& rootDn, long minAgeSeconds);

// The DNs of the second copies of the configuration root `rootDn` that replication between
// servers that both take writes left beside it (389 Directory Server names such a copy
// "<root's RDN>+nsuniqueid=<id>" and marks it with nsds5ReplConflict): the root added, or a
// save's staging subtree renamed into its place, on two servers at once. Never the root
// itself. Empty when there are none or they cannot be read.
std::vector<std::string> ReplicatedRootCopies(ldapx::Connection& conn, const std::string& rootDn);

}  // namespace directory

// The version of a configuration kept in a directory: what identifies the stored version
// of each entry of the configuration subtree, read with one search, and a token of it
// that a later read can be compared with to tell, and where it can to name, what changed.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ldap/ldapclient.h"

namespace directory {

// What the server keeps that changes with every write of an entry, as its subschema and
// root DSE say, in this order of preference:
//   'c'  entryCSN (OpenLDAP): a change sequence number, ordered, unique per write;
//   'u'  entryUSN with nsUniqueId (389 Directory Server with its USN plug-in on: the
//        root DSE then shows lastUSN);
//   't'  modifyTimestamp (with nsUniqueId where defined) and a digest of the entry's
//        attribute values, since a timestamp of whole seconds misses a second write
//        within the same second.
struct EntryVersion {
  std::string dn;
  std::string stamp;  // the values that identify this stored version, as one text
  std::string order;  // the value that orders writes (entryCSN, entryUSN, modifyTimestamp)
  std::string id;     // the entry's unique id (UniqueIdAttributes) where it was read, else empty
};

struct DirectoryState {
  int code = ldapx::kSuccess;         // of the failing read; kSuccess when read
  char kind = 0;                      // 'c', 'u' or 't' as above; 0 when the server keeps none
  std::vector<EntryVersion> entries;  // every entry of the subtree, the root included
};

// The DN as the server compares DNs: one text form, ASCII letters folded.
std::string DnKey(const std::string& dn);

// Reads the state of the subtree at `rootDn` (asking the subschema and root DSE which
// attributes to read first). `code` tells a failed read; `kind` 0 a server that keeps
// nothing of the kinds above. A subtree whose root entry does not exist has no entries.
DirectoryState ReadDirectoryState(ldapx::Connection& connection, const std::string& rootDn);

// The same read for a server whose `kind` is known (from an earlier read): no subschema
// or root DSE read. Entries that do not keep the kind's attributes have empty stamps.
DirectoryState ReadDirectoryState(ldapx::Connection& connection, const std::string& rootDn,
                                  char kind);

// The versions of the entries at `bases` as ReadDirectoryState would read them for a
// server of `kind`: each base entry alone (`subtree` false) or with every entry below it.
// A base that does not exist adds nothing; `code` tells any other failed read. One search
// per base, so a caller reads this way only a few entries of a large subtree.
struct VersionRead {
  std::string dn;
  bool subtree = false;
  bool uniqueIds = false;  // also each entry's unique id, where the server keeps one
};
DirectoryState ReadVersionsAt(ldapx::Connection& connection, const std::vector<VersionRead>& bases,
                              char kind);

// The version of the one entry at `dn` as ReadDirectoryState would read it for a server
// of `kind`; nullopt when it could not be read.
std::optional<EntryVersion> ReadEntryVersion(ldapx::Connection& connection, const std::string& dn,
                                             char kind);

// The version token of a state, one word of [0-9A-Za-z._-]:
//
//   d1-<kind>-<count>-<newest>-<digest>
//
// <kind> as above; <count> the number of entries (decimal); <newest> the greatest
// ordering value among them (for 'c' the newest entryCSN), with every character but
// letters, digits and "." written "_" and two hex digits ("#" is "_23"); <digest> the
// first 16 hex digits of the SHA-256 of every entry's normalised DN and stamp (DN, NUL,
// stamp, NUL, in byte order of the DNs). Equal states give equal tokens. A later state
// holds the entries written since as those whose ordering value is greater than
// <newest> (for 't' also those of the same second), and removed entries show in the
// count and the digest.
std::string DirectoryToken(const DirectoryState& state);

// What changed from the state `token` was made from to `now`: the DNs of the entries
// written since (added or changed; in the order of `now`), and how many entries at
// least were removed. nullopt when `token` is not a directory token of `now`'s kind.
struct DirectoryChanges {
  std::vector<std::string> written;
  size_t removed = 0;
};
std::optional<DirectoryChanges> DirectoryChangesSince(std::string_view token,
                                                      const DirectoryState& now);

// The lines of a message that name `changes` (a change of `now` below `rootDn`): for an
// entry of a rule set's or form's subtree that record ("rule set 'Staff' was changed"),
// each once; else the entry's DN; then how many entries at least were removed. Reads
// the object classes of the records below `rootDn` to tell them apart.
std::vector<std::string> DescribeChanges(ldapx::Connection& connection, const std::string& rootDn,
                                         const DirectoryChanges& changes);

}  // namespace directory

// The version of a configuration folder: what its stored files hold, as the digest of
// each, so that a save can tell which files someone else wrote since a load, and a
// script can ask whether a folder is still as it last saw it.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/support/outcome.h"

namespace localfiles {

// The stored files of a configuration folder as one read saw them: each regular file
// whose name starts with "RuleSet=" (those the load reads and the save writes or leaves
// alone), by name, with the SHA-256 digest of its content (64 hex digits).
struct FolderState {
  std::map<std::string, std::string> digests;
  bool operator==(const FolderState&) const = default;
};

// The digest FolderState keeps for a file holding `text`.
std::string FileDigest(std::string_view text);

// Reads the state of `folder` now. A folder that does not exist has the empty state.
// The problem names the folder or file that could not be read, with the system's reason.
msg::Outcome ReadFolderState(const std::string& folder, FolderState& state);

// The version token of a state, one word of [0-9a-z-]:
//
//   f1-<count>-<digest>{-<file>}
//
// <count> is the number of files in decimal; <digest> the first 16 hex digits of the
// SHA-256 of every file's name and digest (name, NUL, digest, NUL, in byte order of the
// names); then one <file> per file in that order: the first 8 hex digits of the SHA-256
// of its name followed by the first 12 of its content digest. Equal states give equal
// tokens; the <file> parts let FolderChangesSince name what changed.
std::string FolderToken(const FolderState& state);

// One difference between the state a token was made from and a later one. A removed
// file is known by its name's digest only: `name` is then empty.
struct FileChange {
  enum class Kind { Added, Changed, Removed };
  Kind kind;
  std::string name;
  bool operator==(const FileChange&) const = default;
};

// What changed from the state `token` was made from to `now`: added and changed files
// by name (in byte order), then one Removed entry per file that is gone. Empty when the
// token is `now`'s; nullopt when `token` is not a folder token.
std::optional<std::vector<FileChange>> FolderChangesSince(std::string_view token,
                                                          const FolderState& now);

}  // namespace localfiles

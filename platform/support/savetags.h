// What the two saves (the local folder and the directory subtree) share: the random tags
// in the names of what a save writes before it is in place (a new folder, temporary
// files, a staging subtree, old copies), by which a later save knows its own leftovers
// and nothing else, and the per-user data folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kvaro {

// 64 bits from the system's random source.
uint64_t RandomBits();

// Characters of a RandomTag.
inline constexpr size_t kRandomTagLength = 10;

// kRandomTagLength random characters of [0-9a-z]: no other save picks the same.
std::string RandomTag();

// True when `text` has the shape of a RandomTag.
bool IsRandomTag(std::string_view text);

// The time (UTC) `secondsAgo` seconds ago as "YYYYMMDDHHMMSS", to the second.
std::string UtcStamp(long secondsAgo = 0);

// A tag that carries its time: UtcStamp(), "-" and 64 random bits as 16 hex digits, so
// that the age of a leftover can be read from its name.
std::string TimedTag();

// True when `tag` has the shape of a TimedTag, or of one followed by "-" and a number
// (a leftover claimed for removal).
bool IsTimedTag(std::string_view tag);

// True when TimedTag `tag` was made at `stamp` (a UtcStamp) or before.
bool MadeNoLaterThan(std::string_view tag, const std::string& stamp);

// ${XDG_DATA_HOME:-~/.local/share}: where the program keeps the user's data. A relative
// $XDG_DATA_HOME is ignored; without $HOME the folder is ./.local/share.
std::string DataHome();

}  // namespace kvaro

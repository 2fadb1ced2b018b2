// Writing a whole file so that readers and a crash see either the old text or the new.
#pragma once

#include <string>
#include <string_view>

namespace kvaro {

// Replaces the file at `path` by `text`, all or nothing: the text goes to a temporary file
// in the same folder, which is flushed to disk and renamed over the old file (QSaveFile);
// then the folder is flushed, so the new name survives a crash too. A file that is there
// keeps its permissions; a new one gets the default mode, or owner read and write only
// with `ownerOnly`. False on failure, with the old file unchanged, no temporary file left
// and the system's reason in *why (when given).
bool WriteFileAtomically(const std::string& path, std::string_view text, std::string* why = nullptr,
                         bool ownerOnly = false);

}  // namespace kvaro

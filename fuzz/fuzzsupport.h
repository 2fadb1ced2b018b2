// Shared pieces of the fuzz targets: a message sink that drops everything, the
// attribute table of the source tree, and a private temporary folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kvaro {
class Oidtable;
}

namespace fuzzsupport {

// Installs (once) a sink that discards every message, so that a run is not flooded with
// message text on standard error. Each message is still formatted.
void QuietMessages();

// The program's own attribute table (resources/oidtable32 of the source tree), loaded once.
const kvaro::Oidtable& Table();

// A folder of its own below $TMPDIR, made once per process and removed at exit.
const std::string& TempFolder();

// Writes `data` to `path` (created or truncated); aborts when that fails, since the
// target would then test nothing.
void WriteFile(const std::string& path, std::string_view data);

// The input as text.
inline std::string_view AsText(const uint8_t* data, size_t size) {
  return std::string_view(reinterpret_cast<const char*>(data), size);
}

}  // namespace fuzzsupport

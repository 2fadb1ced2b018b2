#include "datafiles.h"

#include <filesystem>
#include <system_error>
#include <vector>

namespace kvaro {

namespace fs = std::filesystem;

namespace {
fs::path g_programDir;
}

void SetProgramPath(const std::string& argv0) {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec || exe.empty()) exe = fs::absolute(argv0, ec);
  g_programDir = exe.parent_path();
}

std::string FindDataFile(const std::string& name) {
  std::error_code ec;
  if (fs::exists(name, ec)) return name;
  std::vector<fs::path> candidates;
  if (g_programDir.empty()) SetProgramPath("");
  candidates.push_back(g_programDir / ".." / "share" / "orvelle32setup" / name);
#ifdef ORVELLE_DATA_DIR
  candidates.push_back(fs::path(ORVELLE_DATA_DIR) / name);
#endif
  for (const auto& c : candidates) {
    if (fs::exists(c, ec)) return fs::weakly_canonical(c, ec).string();
  }
  return name;
}

}  // namespace kvaro

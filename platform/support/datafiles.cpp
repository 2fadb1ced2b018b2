#include "platform/support/datafiles.h"

#include <filesystem>
#include <system_error>

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
  if (g_programDir.empty()) SetProgramPath("");
  // Installed programs live in <prefix>/bin with their data in <prefix>/share; the
  // build tree has the same shape (bin/, tests/ and share/ side by side), so no path of
  // the build folder is compiled in.
  const fs::path installed = g_programDir / ".." / "share" / "orvelle32setup" / name;
  if (fs::exists(installed, ec)) return fs::weakly_canonical(installed, ec).string();
  return name;
}

}  // namespace kvaro

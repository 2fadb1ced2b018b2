#include "tests/support/testfiles.h"

#include <QProcess>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace testsupport {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::error_code ignored;  // a folder that cannot be made fails the write below
  fs::create_directories(fs::path(path).parent_path(), ignored);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::map<std::string, std::string> Snapshot(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::directory_iterator(folder))
    files[e.path().filename().string()] = e.is_directory() ? "<dir>" : ReadFile(e.path().string());
  return files;
}

ProgramResult RunProgram(const QString& program, const QStringList& arguments,
                         const QString& folder, int timeoutMs) {
  QProcess p;
  if (!folder.isEmpty()) p.setWorkingDirectory(folder);
  p.start(program, arguments);
  ProgramResult r;
  if (!p.waitForFinished(timeoutMs)) {
    p.kill();
    p.waitForFinished();
    return r;
  }
  r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
  r.out = QString::fromUtf8(p.readAllStandardOutput());
  r.err = QString::fromUtf8(p.readAllStandardError());
  return r;
}

}  // namespace testsupport

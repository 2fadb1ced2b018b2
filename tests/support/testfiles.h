// Whole-file reads and writes and running a program, for tests.
#pragma once

#include <QString>
#include <QStringList>
#include <map>
#include <string>

namespace testsupport {

// The bytes of the file at `path` (empty when it cannot be read).
std::string ReadFile(const std::string& path);
// Replaces the file at `path` with `text`, byte for byte, making its folder first.
void WriteFile(const std::string& path, const std::string& text);
// Every entry of `folder` by name: a file's contents, "<dir>" for a folder.
std::map<std::string, std::string> Snapshot(const std::string& folder);

// How a program run ended: `code` is its exit code, -1 when it did not end within the
// time-out (it is killed then), -2 when it crashed.
struct ProgramResult {
  int code = -1;
  QString out;
  QString err;
};

// Runs `program` with `arguments` in `folder` (the current one when empty) and waits at
// most `timeoutMs` for it.
ProgramResult RunProgram(const QString& program, const QStringList& arguments,
                         const QString& folder = {}, int timeoutMs = 60000);

}  // namespace testsupport

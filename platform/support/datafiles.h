#pragma once

#include <string>

namespace kvaro {

// Records the running program's path (argv[0] or /proc/self/exe) so data files can be
// found next to it. Called once from main().
void SetProgramPath(const std::string& argv0);

// Where a data file (the attribute table "oidtable32", the "Form Templates" folder)
// is: `name` in the current folder when it exists there, else in the program's data
// folder <program dir>/../share/orvelle32setup (the installed layout, and the build
// tree's). Returns `name` unchanged when found nowhere.
std::string FindDataFile(const std::string& name);

}  // namespace kvaro

// The application object and the start-up routine that decides between the editor
// (a configuration could be loaded) and the set-up wizard (none could).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "model/configuration.h"
#include "platform/support/oidtable.h"
#include "store/store.h"

// Lives for the whole run and owns the attribute table, the one configuration and the
// session of the store that keeps it. The configuration is declared after the table, so
// it is destroyed first.
class ApplicationObject {
 public:
  ApplicationObject() = default;
  ApplicationObject(const ApplicationObject&) = delete;
  ApplicationObject& operator=(const ApplicationObject&) = delete;

  kvaro::Oidtable oidtable;
  Configuration configuration;
  // Where the configuration is kept (the settings), the password and the connection.
  store::Session session;
  // Set by the command-line switch "noconn"; recorded only.
  int NoConnectFlag = 0;

  // The parts start-up hands over to, supplied by the program's main(). Each may be
  // left empty; start-up then says what it would have done.
  // Loads the configuration from the directory (StartupMode::kDirectory): kLoaded, kNothingLoaded
  // or kLoadCancelled (the administrator cancelled the logon).
  std::function<int(ApplicationObject&)> loadFromDirectory;
  // Opens the editor on the loaded configuration and runs it; returns the exit code.
  std::function<int(ApplicationObject&)> runEditor;
  // Runs the set-up wizard and stores its result; returns the exit code.
  std::function<int(ApplicationObject&)> runWizard;
};

// 1 when the arguments (without the program name) hold the switch "noconn": a
// parameter starting with "/" or "-" whose remaining text is "noconn" in any case.
// Every other parameter is ignored.
int ParseNoConnect(const std::vector<std::string>& arguments);

// Start-up: reads the command line, loads the attribute table "oidtable32" (found by
// kvaro::FindDataFile, so the program works from any folder; a missing table leaves
// it empty), then loads the configuration. Hands over to runEditor when it loaded,
// otherwise to runWizard. Returns the process exit code: 1 when the settings key is
// missing (after message 61280), 0 when the load was cancelled (neither editor nor
// wizard runs), else what the editor or wizard returned (0 when that part is not
// supplied).
int RunStartup(ApplicationObject& app, const std::vector<std::string>& arguments);

// Loads the configuration the way start-up does: reads the settings, then loads from
// the directory or the local files: kLoaded when loaded, kNothingLoaded when the
// settings could not be read or nothing is there, kLoadUnreadable or kLoadCancelled as
// store::Load says; *settingsKeyMissing tells the caller to end with exit code 1.
int LoadConfiguration(ApplicationObject& app, bool* settingsKeyMissing);

// The load of a configuration kept in local files, and the start-up load that chooses
// between the local files and the directory.
#pragma once

#include <functional>

#include "model/configuration.h"
#include "platform/support/outcome.h"
#include "store/files/folderversion.h"

namespace kvaro {
class Oidtable;
}

// What Load() calls: the settings read (returns 1 when the settings were read) and the
// directory load (kLoaded, kNothingLoaded or kLoadCancelled). The application supplies
// both.
struct LoadHooks {
  std::function<int(Configuration&)> readSettings;
  std::function<int(Configuration&)> loadFromDirectory;
};

// Reads the settings into `configuration`, then loads from the directory
// (StartupMode::kDirectory) or from the local files. kLoaded when a configuration was
// loaded; kLoadUnreadable from the local files when one could not be read (see
// LoadFromFiles); kLoadCancelled when the directory hook says the administrator
// cancelled. The local files' problems go to *problems.
int Load(Configuration& configuration, const LoadHooks& hooks, const kvaro::Oidtable& table,
         msg::Problems* problems);

// Reads every "RuleSet=*" file of configuration.configurationDirectory (see
// templatefile.h); 1 when the result has at least one rule set and one form, else clears
// and returns 0 (no configuration). -1 when a "RuleSet=" file could not be read whole: the
// configuration there must not be replaced by a new one. What the caller should show (the
// file and the system's reason; files that are not regular files) is appended to
// *problems when given. `read` (when given) receives the digests of the files the load
// read, for the save of this configuration to hand back (SaveToFiles); empty unless 1.
int LoadFromFiles(Configuration& configuration, const kvaro::Oidtable& table,
                  msg::Problems* problems = nullptr, localfiles::FolderState* read = nullptr);

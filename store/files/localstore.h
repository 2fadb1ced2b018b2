// The load of a configuration kept in local files, and what a load returns.
#pragma once

#include <string>

#include "model/configuration.h"
#include "platform/support/outcome.h"
#include "store/files/folderversion.h"

namespace kvaro {
class Oidtable;
}

// What a load of the configuration returns (here, and store::Load for both stores).
// A configuration was loaded.
inline constexpr int kLoaded = 1;
// No configuration is there (or no server is configured): the set-up wizard may make one.
inline constexpr int kNothingLoaded = 0;
// A configuration is there but could not be read; it must not be replaced.
inline constexpr int kLoadUnreadable = -1;
// The administrator ended the load (Cancel in the logon dialog): the program ends.
inline constexpr int kLoadCancelled = -2;

// Reads every "RuleSet=*" file of `folder` (see templatefile.h; empty: the working
// folder) into `configuration`; kLoaded when the result has at least one rule set and
// one form, else clears it and returns kNothingLoaded (no configuration).
// kLoadUnreadable when a "RuleSet=" file could not be read whole: the configuration there
// must not be replaced by a new one. What the caller should show (the file and the
// system's reason; files that are not regular files) is appended to *problems when
// given. `read` (when given) receives the digests of the files the load read, for the
// save of this configuration to hand back (SaveToFiles); empty unless kLoaded.
int LoadFromFiles(Configuration& configuration, const std::string& folder,
                  const kvaro::Oidtable& table, msg::Problems* problems = nullptr,
                  localfiles::FolderState* read = nullptr);

// The one front door to the two stores: a configuration is loaded from and saved to where
// its session keeps it, the directory subtree or the local folder, and only this layer
// chooses between them.
#pragma once

#include <string>

#include "model/configuration.h"
#include "store/directory/directoryload.h"
#include "store/directory/directorysave.h"
#include "store/directory/session.h"
#include "store/files/folderversion.h"
#include "store/files/localstore.h"

namespace kvaro {
class Oidtable;
}

// Where the configuration is kept; the settings file names these "file" and "ldap".
enum class StartupMode { kFiles, kDirectory };

namespace store {

// Where a configuration is kept and how it is reached: what the settings hold (the
// start-up mode, the folder, the server and how its connection is protected), the
// password and the open connection. The application holds it beside the configuration.
struct Session {
  StartupMode startupMode = StartupMode::kFiles;
  // The local folder (StartupMode::kFiles).
  std::string configurationDirectory;
  // The directory (StartupMode::kDirectory).
  directory::Session directory;
};

// What a load from the directory needs beyond the session (see
// directory::LoadFromDirectory); unused for the local folder.
struct DirectoryLoad {
  directory::CredentialsPrompt* prompt = nullptr;
  ldapx::Timeouts timeouts;
  directory::PleaseWait* wait = nullptr;
  kvaro::Oidtable* serverSchemaInto = nullptr;
};

// Loads the configuration from where session.startupMode says: the directory
// (directory::LoadFromDirectory; kNothingLoaded when no server is configured,
// kLoadCancelled when the administrator cancelled the logon) or the local folder
// (LoadFromFiles, whose problems go to *problems). kLoaded when a configuration was
// loaded; kNothingLoaded or kLoadUnreadable as LoadFromFiles says. `folderState` (when
// given) receives what a load from the local folder read, for Save to hand back.
int Load(Session& session, Configuration& configuration, const kvaro::Oidtable& table,
         const DirectoryLoad& directory, msg::Problems* problems = nullptr,
         localfiles::FolderState* folderState = nullptr);

// What a directory load's result means for start-up: kLoaded, kNothingLoaded (no server
// configured) or kLoadCancelled.
int LoadStatusOf(directory::LoadResult result);

// Saves the whole configuration where session.startupMode says: the directory subtree
// through the session's connection (directory::SaveConfiguration, with `wait` and
// `options`), or the local folder (SaveToFiles, given `folderState`: the state Load gave,
// which then writes only what changed since and refuses to overwrite what someone else
// wrote meanwhile). Succeeds when everything was written; what the save has to say is in
// the result, for the caller to show.
msg::Result Save(Session& session, const Configuration& configuration,
                 directory::PleaseWait* wait = nullptr, const directory::SaveOptions& options = {},
                 localfiles::FolderState* folderState = nullptr);

}  // namespace store

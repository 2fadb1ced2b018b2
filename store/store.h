// The one front door to the two stores: a configuration is loaded from and saved to where
// its session keeps it, the directory subtree or the local folder, and only this layer
// chooses between them.
#pragma once

#include "model/configuration.h"
#include "store/directory/directoryload.h"
#include "store/directory/directorysave.h"
#include "store/files/folderversion.h"

namespace kvaro {
class Oidtable;
}

namespace store {

// What a load from the directory needs beyond the configuration's session (see
// directory::LoadFromDirectory); unused for the local folder.
struct DirectoryLoad {
  directory::CredentialsPrompt* prompt = nullptr;
  ldapx::Timeouts timeouts;
  directory::PleaseWait* wait = nullptr;
  kvaro::Oidtable* serverSchemaInto = nullptr;
};

// Loads the configuration from where configuration.startupMode says: the directory
// (directory::LoadFromDirectory; kNothingLoaded when no server is configured,
// kLoadCancelled when the administrator cancelled the logon) or the local folder
// (LoadFromFiles, whose problems go to *problems). kLoaded when a configuration was
// loaded; kNothingLoaded or kLoadUnreadable as LoadFromFiles says. `folderState` (when
// given) receives what a load from the local folder read, for Save to hand back.
int Load(Configuration& configuration, const kvaro::Oidtable& table, const DirectoryLoad& directory,
         msg::Problems* problems = nullptr, localfiles::FolderState* folderState = nullptr);

// What a directory load's result means for start-up: kLoaded, kNothingLoaded (no server
// configured) or kLoadCancelled.
int LoadStatusOf(directory::LoadResult result);

// Saves the whole configuration where configuration.startupMode says: the directory
// subtree at subtreeDn through configuration.connection (directory::SaveConfiguration,
// with `wait` and `options`), or the local folder (SaveToFiles, given `folderState`: the
// state Load gave, which then writes only what changed since and refuses to overwrite
// what someone else wrote meanwhile). True when everything was written; false after
// exactly one message.
bool Save(Configuration& configuration, directory::PleaseWait* wait = nullptr,
          const directory::SaveOptions& options = {},
          localfiles::FolderState* folderState = nullptr);

}  // namespace store

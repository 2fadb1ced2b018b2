// The one front door to the two stores: a configuration is loaded from and saved to where
// its session keeps it, the directory subtree or the local folder, and only this layer
// chooses between them.
#pragma once

#include <optional>
#include <string>

#include "model/configuration.h"
#include "store/directory/changesave.h"
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
// password and the open connection, and what the last load or save read. The
// application holds it beside the configuration.
struct Session {
  StartupMode startupMode = StartupMode::kFiles;
  // The local folder (StartupMode::kFiles).
  std::string configurationDirectory;
  // The directory (StartupMode::kDirectory), with what its last load or save read.
  directory::Session directory;
  // What the last load from or save to the folder read there (folderStateKnown), and
  // the records it held.
  localfiles::FolderState folderState = {};
  bool folderStateKnown = false;
  directory::RecordMarks folderRecords = {};
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
// loaded; kNothingLoaded or kLoadUnreadable as LoadFromFiles says. The session keeps
// what the load read, for Save and PendingChanges (nothing when nothing was loaded).
int Load(Session& session, Configuration& configuration, const kvaro::Oidtable& table,
         const DirectoryLoad& directory, msg::Problems* problems = nullptr);

// What a directory load's result means for start-up: kLoaded, kNothingLoaded (no server
// configured) or kLoadCancelled.
int LoadStatusOf(directory::LoadResult result);

// How a save goes about its work.
enum class SaveMode {
  // Checks what was stored since the last load or save, and writes what changed since
  // then (see directory::SaveChanges, SaveToFiles with the folder state); refuses,
  // writing nothing, when someone else changed what it would write or remove. Without
  // such a state (nothing loaded yet) it is the whole save.
  kChanges,
  // The whole configuration, without a check: it replaces whatever is stored ("Save
  // Anyway").
  kWhole,
};

// Saves the configuration where session.startupMode says: the directory subtree through
// the session's connection (with `wait` and `options`), or the local folder. Succeeds
// when everything was written; what the save has to say is in the result, for the
// caller to show. A refusal because someone else changed the stored configuration is a
// failed result whose first problem is msg::id::kChangedSinceLoad (where, lines naming
// what changed); nothing was written then. After a successful save the session holds
// what it stored, so the next save goes on from there.
msg::Result Save(Session& session, const Configuration& configuration,
                 directory::PleaseWait* wait = nullptr, const directory::SaveOptions& options = {},
                 SaveMode mode = SaveMode::kChanges);

// Records (rule sets, rules, forms, groups and fields) added, changed (renamed or moved
// included) and removed since the session's last load or save, by identity, without
// reading the store; nullopt when nothing was loaded.
using ChangeCounts = directory::ChangeCounts;
std::optional<ChangeCounts> PendingChanges(const Session& session,
                                           const Configuration& configuration);

}  // namespace store

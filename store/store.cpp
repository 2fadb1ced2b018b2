#include "store/store.h"

#include "store/files/templatefile.h"

namespace store {

int Load(Session& session, Configuration& configuration, const kvaro::Oidtable& table,
         const DirectoryLoad& directory, msg::Problems* problems) {
  if (session.startupMode != StartupMode::kDirectory) {
    session.folderState = {};
    session.folderRecords.clear();
    const int loaded = ::LoadFromFiles(configuration, session.configurationDirectory, table,
                                       problems, &session.folderState);
    session.folderStateKnown = loaded == kLoaded;
    if (session.folderStateKnown) session.folderRecords = directory::MarkRecords(configuration);
    return loaded;
  }
  if (!directory.prompt) return kNothingLoaded;
  return LoadStatusOf(directory::LoadFromDirectory(session.directory, configuration, table,
                                                   *directory.prompt, directory.timeouts,
                                                   directory.wait, directory.serverSchemaInto));
}

int LoadStatusOf(directory::LoadResult result) {
  switch (result) {
    case directory::LoadResult::Loaded:
      return kLoaded;
    case directory::LoadResult::NoServer:
      return kNothingLoaded;
    case directory::LoadResult::Cancelled:
      return kLoadCancelled;
  }
  return kNothingLoaded;
}

msg::Result Save(Session& session, const Configuration& configuration, directory::PleaseWait* wait,
                 const directory::SaveOptions& options, SaveMode mode) {
  if (session.startupMode != StartupMode::kDirectory) {
    const bool changes = mode == SaveMode::kChanges && session.folderStateKnown;
    msg::Result saved = SaveToFiles(configuration, session.configurationDirectory,
                                    changes ? &session.folderState : nullptr);
    if (saved.ok) {
      // A whole save leaves the folder holding exactly this configuration's files.
      session.folderStateKnown =
          changes ||
          localfiles::ReadFolderState(session.configurationDirectory, session.folderState);
      session.folderRecords = directory::MarkRecords(configuration);
    }
    return saved;
  }
  directory::SaveOptions held = options;
  if (mode == SaveMode::kChanges) {
    bool whole = false;
    msg::Result saved =
        directory::SaveChanges(session.directory, configuration, wait, options, whole);
    if (!whole) return saved;
    // The whole save writes no assertions: what the check above saw is checked again
    // just before its swap, so that a write by someone else meanwhile is not replaced.
    held.beforeSwap = [&session, &configuration, outer = options.beforeSwap] {
      if (outer)
        if (msg::Result checked = outer(); !checked) return checked;
      return directory::CheckUnchangedSinceLoad(session.directory, configuration);
    };
  }
  msg::Result saved = directory::SaveConfiguration(session.directory, configuration, wait, held);
  // The whole subtree was written: the next save goes on from what is stored now.
  if (saved.ok) directory::RefreshLoadedState(session.directory, configuration);
  return saved;
}

std::optional<ChangeCounts> PendingChanges(const Session& session,
                                           const Configuration& configuration) {
  if (session.startupMode != StartupMode::kDirectory) {
    if (!session.folderStateKnown) return std::nullopt;
    return directory::CountChanges(session.folderRecords, configuration);
  }
  if (!session.directory.loaded.known) return std::nullopt;
  return directory::CountChanges(session.directory.loaded, configuration);
}

}  // namespace store

#include "store/store.h"

#include "store/files/templatefile.h"

namespace store {

int Load(Session& session, Configuration& configuration, const kvaro::Oidtable& table,
         const DirectoryLoad& directory, msg::Problems* problems,
         localfiles::FolderState* folderState) {
  if (session.startupMode != StartupMode::kDirectory)
    return ::LoadFromFiles(configuration, session.configurationDirectory, table, problems,
                           folderState);
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
                 const directory::SaveOptions& options, localfiles::FolderState* folderState) {
  if (session.startupMode != StartupMode::kDirectory)
    return SaveToFiles(configuration, session.configurationDirectory, folderState);
  return directory::SaveConfiguration(session.directory, configuration, wait, options);
}

}  // namespace store

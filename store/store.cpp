#include "store/store.h"

#include "platform/support/messages.h"
#include "store/files/localstore.h"
#include "store/files/templatefile.h"

namespace store {

int Load(Configuration& configuration, const kvaro::Oidtable& table, const DirectoryLoad& directory,
         msg::Problems* problems, localfiles::FolderState* folderState) {
  if (configuration.startupMode != StartupMode::kDirectory)
    return ::LoadFromFiles(configuration, table, problems, folderState);
  if (!directory.prompt) return kNothingLoaded;
  return LoadStatusOf(directory::LoadFromDirectory(configuration, table, *directory.prompt,
                                                   directory.timeouts, directory.wait,
                                                   directory.serverSchemaInto));
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

bool Save(Configuration& configuration, directory::PleaseWait* wait,
          const directory::SaveOptions& options, localfiles::FolderState* folderState) {
  if (configuration.startupMode != StartupMode::kDirectory) {
    const msg::Outcome saved = SaveToFiles(configuration, folderState);
    msg::Show(saved);
    return bool(saved);
  }
  return directory::SaveConfiguration(configuration, wait, options);
}

}  // namespace store

// orvelle32setup: the set-up and configuration tool.
#include <QApplication>

#include "app/directoryrun.h"
#include "app/editorrun.h"
#include "app/startup.h"
#include "app/wizardrun.h"
#include "directoryui/directorywork.h"
#include "platform/support/datafiles.h"
#include "platform/support/messages.h"
#include "store/directory/oldcopyremover.h"
#include "widgets/messagebox.h"

int main(int argc, char* argv[]) {
  QApplication qapp(argc, argv);
  kvaro::SetProgramPath(argv[0]);
  WidgetMessageSink sink;
  msg::ScopedSink scoped(&sink);

  // Saves in the editor return once the new configuration is in place; the old copy is
  // removed meanwhile, and before the program ends.
  directory::OldCopyRemover remover([](const msg::Problems& problems) { msg::Show(problems); });
  ApplicationObject app;
  app.loadFromDirectory = LoadFromDirectoryInWorker;
  app.runEditor = EditorHook(
      [&app, &remover](Configuration& configuration) {
        return SaveInWorker(app.session, configuration, QApplication::activeWindow(), &remover);
      },
      [&app](Configuration& into) { return ReloadConfiguration(app, into); });
  app.runWizard = RunSetupWizard;

  std::vector<std::string> arguments(argv + 1, argv + argc);
  const int status = RunStartup(app, arguments);
  FinishOldCopyRemoval(remover);
  return status;
}

// orvelle32setup: the set-up and configuration tool.
#include <QApplication>
#include <cstdlib>

#include "credentialsdialog.h"
#include "datafiles.h"
#include "directoryload.h"
#include "directorysave.h"
#include "editorrun.h"
#include "messagebox.h"
#include "messages.h"
#include "pleasewaitdialog.h"
#include "startup.h"
#include "wizardrun.h"

int main(int argc, char* argv[]) {
  QApplication qapp(argc, argv);
  kvaro::SetProgramPath(argv[0]);
  WidgetMessageSink sink;
  msg::ScopedSink scoped(&sink);

  ApplicationObject app;
  app.loadFromDirectory = [](ApplicationObject& a) {
    DialogCredentialsPrompt prompt;
    switch (directory::LoadFromDirectory(a.configuration, a.oidtable, prompt)) {
      case directory::LoadResult::Loaded:
        return 1;
      case directory::LoadResult::NoServer:
        return 0;
      case directory::LoadResult::Cancelled:
        std::exit(0);
    }
    return 0;
  };
  app.runEditor = EditorHook([](Configuration& configuration) {
    WidgetPleaseWait wait(QApplication::activeWindow());
    return directory::SaveConfiguration(configuration, &wait);
  });
  app.runWizard = RunSetupWizard;

  std::vector<std::string> arguments(argv + 1, argv + argc);
  return RunStartup(app, arguments);
}

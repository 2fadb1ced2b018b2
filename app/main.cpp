// orvelle32setup: the set-up and configuration tool.
#include <QApplication>

#include "app/directoryrun.h"
#include "app/editorrun.h"
#include "app/startup.h"
#include "app/wizardrun.h"
#include "platform/support/datafiles.h"
#include "platform/support/messages.h"
#include "widgets/messagebox.h"

int main(int argc, char* argv[]) {
  QApplication qapp(argc, argv);
  kvaro::SetProgramPath(argv[0]);
  WidgetMessageSink sink;
  msg::ScopedSink scoped(&sink);

  ApplicationObject app;
  app.loadFromDirectory = LoadFromDirectoryInWorker;
  app.runEditor = EditorHook([](Configuration& configuration) {
    return SaveInWorker(configuration, QApplication::activeWindow());
  });
  app.runWizard = RunSetupWizard;

  std::vector<std::string> arguments(argv + 1, argv + argc);
  return RunStartup(app, arguments);
}

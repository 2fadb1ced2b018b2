// orvelle32setup: the set-up and configuration tool.
#include <QApplication>

#include "datafiles.h"
#include "directoryrun.h"
#include "editorrun.h"
#include "messagebox.h"
#include "messages.h"
#include "startup.h"
#include "wizardrun.h"

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

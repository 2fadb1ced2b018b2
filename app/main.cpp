// orvelle32setup: the set-up and configuration tool.
#include <QApplication>

#include "datafiles.h"
#include "messagebox.h"
#include "messages.h"
#include "startup.h"

int main(int argc, char* argv[]) {
  QApplication qapp(argc, argv);
  kvaro::SetProgramPath(argv[0]);
  WidgetMessageSink sink;
  msg::ScopedSink scoped(&sink);

  ApplicationObject app;
  std::vector<std::string> arguments(argv + 1, argv + argc);
  return RunStartup(app, arguments);
}

// orvelle32setup: the set-up and configuration tool.
#include <QApplication>
#include <cstdlib>

#include "credentialsdialog.h"
#include "datafiles.h"
#include "directoryload.h"
#include "directorylogon.h"
#include "directorysave.h"
#include "directorywork.h"
#include "editorrun.h"
#include "messagebox.h"
#include "messages.h"
#include "pleasewaitdialog.h"
#include "settings.h"
#include "startup.h"
#include "wizardrun.h"

int main(int argc, char* argv[]) {
  QApplication qapp(argc, argv);
  kvaro::SetProgramPath(argv[0]);
  WidgetMessageSink sink;
  msg::ScopedSink scoped(&sink);

  ApplicationObject app;
  app.loadFromDirectory = [](ApplicationObject& a) {
    const settings::ConnectionLimits limits = settings::ReadConnectionLimits();
    const ldapx::Timeouts timeouts{limits.connectSeconds, limits.operationSeconds};
    DialogCredentialsPrompt prompt;
    prompt.dialog().SetSecurityText(
        directory::LogonSecurityText(directory::TlsOf(a.configuration).security));
    // The logon loop runs on a worker thread; the logon dialog and the messages are shown
    // by the GUI thread, and the wait window's Cancel leads back to the logon dialog.
    const auto result = RunInWorker(nullptr, [&](directory::PleaseWait& wait) {
      return directory::LoadFromDirectory(a.configuration, a.oidtable, prompt, timeouts, &wait);
    });
    switch (result) {
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
    // The save decides itself how far Cancel may stop it.
    return RunInWorker(
        QApplication::activeWindow(),
        [&](directory::PleaseWait& wait) {
          return directory::SaveConfiguration(configuration, &wait);
        },
        CancelBy::ByWork);
  });
  app.runWizard = RunSetupWizard;

  std::vector<std::string> arguments(argv + 1, argv + argc);
  return RunStartup(app, arguments);
}

#include "directoryrun.h"

#include <cstdlib>

#include "credentialsdialog.h"
#include "directoryload.h"
#include "directorylogon.h"
#include "directorysave.h"
#include "directorywork.h"
#include "messages.h"
#include "settings.h"
#include "startup.h"

int LoadFromDirectoryInWorker(ApplicationObject& app) {
  const settings::ConnectionLimits limits = settings::ReadConnectionLimits();
  const ldapx::Timeouts timeouts{limits.connectSeconds, limits.operationSeconds};
  DialogCredentialsPrompt prompt;
  prompt.dialog().SetSecurityText(
      directory::LogonSecurityText(directory::TlsOf(app.configuration).security));
  // The logon dialog and the messages are shown by the GUI thread for the worker.
  const auto result = RunInWorker(nullptr, [&](directory::PleaseWait& wait) {
    return directory::LoadFromDirectory(app.configuration, app.oidtable, prompt, timeouts, &wait,
                                        &app.oidtable);
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
}

bool SaveInWorker(Configuration& configuration, QWidget* parent) {
  return RunWithPleaseWait(
      parent, std::string(msg::LoadString(61282)), std::string(msg::LoadString(62199)),
      [&](directory::PleaseWait& wait) {
        return directory::SaveConfiguration(configuration, &wait);
      },
      CancelBy::ByWork);
}

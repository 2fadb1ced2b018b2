#include "app/directoryrun.h"

#include <cstdlib>
#include <utility>

#include "app/settings.h"
#include "app/startup.h"
#include "directoryui/credentialsdialog.h"
#include "directoryui/directorywork.h"
#include "platform/support/messages.h"
#include "store/directory/directoryload.h"
#include "store/directory/directorylogon.h"
#include "store/directory/directorysave.h"
#include "store/store.h"

int LoadFromDirectoryInWorker(ApplicationObject& app) {
  const settings::ConnectionLimits limits = settings::ReadConnectionLimits();
  const ldapx::Timeouts timeouts{limits.connectSeconds, limits.operationSeconds};
  DialogCredentialsPrompt prompt;
  prompt.dialog().SetSecurityText(
      directory::LogonSecurityText(app.session.directory.server.Tls().security));
  // The logon dialog and the messages are shown by the GUI thread for the worker.
  const auto result = RunInWorker(nullptr, [&](directory::PleaseWait& wait) {
    return directory::LoadFromDirectory(app.session.directory, app.configuration, app.oidtable,
                                        prompt, timeouts, &wait, &app.oidtable);
  });
  return store::LoadStatusOf(result);
}

bool SaveInWorker(store::Session& session, Configuration& configuration, QWidget* parent,
                  directory::OldCopyRemover* remover) {
  directory::OldCopy old;
  directory::SaveOptions options;
  if (remover) options.leaveOldCopy = &old;
  const msg::Result saved = RunWithPleaseWait(
      parent, std::string(msg::LoadString(61282)), std::string(msg::LoadString(62199)),
      [&](directory::PleaseWait& wait) {
        return store::Save(session, configuration, &wait, options);
      },
      CancelBy::ByWork);
  msg::Show(saved);
  if (remover) remover->Add(std::move(old));
  return bool(saved);
}

#include "app/directoryrun.h"

#include <cstdlib>
#include <utility>

#include "app/settings.h"
#include "app/startup.h"
#include "directoryui/credentialsdialog.h"
#include "directoryui/directorywork.h"
#include "platform/support/messageids.h"
#include "platform/support/messages.h"
#include "store/directory/directoryload.h"
#include "store/directory/directorylogon.h"
#include "store/directory/directorysave.h"
#include "store/directory/readonlycopy.h"
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

namespace {

// A save that reached a read-only copy asks whether to save on the server that takes
// changes instead; Yes logs on there (the same DN, password and security, never weaker)
// and saves there. What was shown is gone from the result.
msg::Result SaveOnProviderIfAsked(store::Session& session, Configuration& configuration,
                                  QWidget* parent, const directory::SaveOptions& options,
                                  msg::Result saved) {
  const auto provider = directory::ReadOnlyCopyReferral(saved);
  if (!provider) return saved;
  const std::string copy = saved.problems.back().args.front();
  saved.problems.pop_back();
  msg::Show(saved);  // what the save said before its refusal
  if (msg::Show(msg::id::kSaveOnProvider, {copy, *provider}, msg::Buttons::YesNo,
                msg::Icon::Question) != msg::Answer::Yes)
    return msg::Result(false);
  const ldapx::Timeouts timeouts =
      session.directory.connection ? session.directory.connection->timeouts() : ldapx::Timeouts{};
  return RunWithPleaseWait(
      parent, std::string(msg::LoadString(61282)), std::string(msg::LoadString(62199)),
      [&](directory::PleaseWait& wait) {
        msg::Result connected =
            directory::ConnectToProvider(session.directory, *provider, timeouts);
        if (!connected) return connected;
        return store::Save(session, configuration, &wait, options);
      },
      CancelBy::ByWork);
}

}  // namespace

bool SaveInWorker(store::Session& session, Configuration& configuration, QWidget* parent,
                  directory::OldCopyRemover* remover) {
  directory::OldCopy old;
  directory::SaveOptions options;
  if (remover) options.leaveOldCopy = &old;
  msg::Result saved = RunWithPleaseWait(
      parent, std::string(msg::LoadString(61282)), std::string(msg::LoadString(62199)),
      [&](directory::PleaseWait& wait) {
        return store::Save(session, configuration, &wait, options);
      },
      CancelBy::ByWork);
  saved = SaveOnProviderIfAsked(session, configuration, parent, options, std::move(saved));
  msg::Show(saved);
  if (remover) remover->Add(std::move(old));
  return bool(saved);
}

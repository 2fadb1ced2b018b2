#include "app/directoryrun.h"

#include <algorithm>
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

namespace {

// Answers the first request for the logon with the one the session holds, so that a
// reload asks nothing while that logon still works; then asks with the dialog.
class KeptLogonPrompt : public directory::CredentialsPrompt {
 public:
  KeptLogonPrompt(directory::CredentialsPrompt& dialog, bool useKept)
      : dialog_(dialog), useKept_(useKept) {}
  bool Ask(std::string& dn, std::string& password) override {
    if (useKept_) {
      useKept_ = false;
      return true;
    }
    return dialog_.Ask(dn, password);
  }
  void Tell(const msg::Problems& problems) override { dialog_.Tell(problems); }

 private:
  directory::CredentialsPrompt& dialog_;
  bool useKept_;
};

int LoadFromDirectoryInto(ApplicationObject& app, Configuration& into, bool useKeptLogon) {
  const settings::ConnectionLimits limits = settings::ReadConnectionLimits();
  const ldapx::Timeouts timeouts{limits.connectSeconds, limits.operationSeconds};
  DialogCredentialsPrompt dialog;
  dialog.dialog().SetSecurityText(
      directory::LogonSecurityText(app.session.directory.server.Tls().security));
  KeptLogonPrompt prompt(dialog, useKeptLogon);
  // The logon dialog and the messages are shown by the GUI thread for the worker.
  const auto result = RunInWorker(nullptr, [&](directory::PleaseWait& wait) {
    return directory::LoadFromDirectory(app.session.directory, into, app.oidtable, prompt, timeouts,
                                        &wait, &app.oidtable);
  });
  return store::LoadStatusOf(result);
}

// A save that reached a read-only copy asks whether to save on the server that takes
// changes instead; Yes logs on there (the same DN, password and security, never weaker)
// and saves there. What was shown is gone from the result.
msg::Result SaveOnProviderIfAsked(store::Session& session, Configuration& configuration,
                                  QWidget* parent, const directory::SaveOptions& options,
                                  store::SaveMode mode, msg::Result saved) {
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
        return store::Save(session, configuration, &wait, options, mode);
      },
      CancelBy::ByWork);
}

}  // namespace

int LoadFromDirectoryInWorker(ApplicationObject& app) {
  return LoadFromDirectoryInto(app, app.configuration, false);
}

bool ReloadConfiguration(ApplicationObject& app, Configuration& into) {
  into.oidtable = &app.oidtable;
  if (app.session.startupMode == StartupMode::kDirectory)
    return LoadFromDirectoryInto(app, into, app.session.directory.connection != nullptr) == kLoaded;
  msg::Problems problems;
  const int loaded = store::Load(app.session, into, app.oidtable, {}, &problems);
  msg::Show(problems);
  return loaded == kLoaded;
}

SaveStatus SaveInWorker(store::Session& session, Configuration& configuration, QWidget* parent,
                        directory::OldCopyRemover* remover) {
  store::SaveMode mode = store::SaveMode::kChanges;
  for (;;) {
    directory::OldCopy old;
    directory::SaveOptions options;
    if (remover) options.leaveOldCopy = &old;
    msg::Result saved = RunWithPleaseWait(
        parent, std::string(msg::LoadString(61282)), std::string(msg::LoadString(62199)),
        [&](directory::PleaseWait& wait) {
          return store::Save(session, configuration, &wait, options, mode);
        },
        CancelBy::ByWork);
    saved = SaveOnProviderIfAsked(session, configuration, parent, options, mode, std::move(saved));
    if (remover) remover->Add(std::move(old));
    const auto conflict =
        std::find_if(saved.problems.begin(), saved.problems.end(),
                     [](const msg::Problem& p) { return p.id == msg::id::kChangedSinceLoad; });
    if (saved || conflict == saved.problems.end()) {
      msg::Show(saved);
      return bool(saved);
    }
    // Someone else's changes: nothing was written. The user is asked in the conflict's own
    // words; anything else the save had to say is shown first.
    const msg::Problem question = *conflict;
    saved.problems.erase(conflict);
    msg::Show(saved.problems);
    const msg::Answer answer =
        question.prepared
            ? msg::ShowPrepared(62339, question.args, msg::Buttons::ReloadSaveAnywayCancel,
                                msg::Icon::Question)
            : msg::Show(62339, question.args, msg::Buttons::ReloadSaveAnywayCancel,
                        msg::Icon::Question);
    if (answer == msg::Answer::Reload) return SaveStatus::kReload;
    if (answer != msg::Answer::SaveAnyway) return SaveStatus::kNotSaved;
    mode = store::SaveMode::kWhole;
  }
}

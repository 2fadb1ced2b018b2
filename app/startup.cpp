#include "app/startup.h"

#include <cctype>
#include <cstdio>

#include "app/settings.h"
#include "platform/ldap/ldapclient.h"
#include "platform/support/datafiles.h"
#include "platform/support/messages.h"
#include "store/store.h"

int ParseNoConnect(const std::vector<std::string>& arguments) {
  int flag = 0;
  for (const std::string& argument : arguments) {
    if (argument.empty() || (argument[0] != '/' && argument[0] != '-')) continue;
    const std::string_view word = std::string_view(argument).substr(1);
    constexpr std::string_view kSwitch = "noconn";
    if (word.size() != kSwitch.size()) continue;
    bool same = true;
    for (size_t i = 0; i < word.size(); ++i)
      same = same && std::tolower(static_cast<unsigned char>(word[i])) == kSwitch[i];
    if (same) flag = 1;
  }
  return flag;
}

int LoadConfiguration(ApplicationObject& app, bool* settingsKeyMissing) {
  bool keyMissing = false;
  const int read = settings::ReadSettings(app.session, &keyMissing);
  if (settingsKeyMissing) *settingsKeyMissing = keyMissing;
  if (!read) return kNothingLoaded;
  app.configuration.oidtable = &app.oidtable;
  if (app.session.startupMode == StartupMode::kDirectory)
    return app.loadFromDirectory ? app.loadFromDirectory(app) : kNothingLoaded;
  msg::Problems problems;
  const int loaded = store::Load(app.session, app.configuration, app.oidtable, {}, &problems);
  msg::Show(problems);
  return loaded;
}

int RunStartup(ApplicationObject& app, const std::vector<std::string>& arguments) {
  // The sockets layer needs no set-up here, so there is nothing that could fail with
  // message 104.
  app.NoConnectFlag = ParseNoConnect(arguments);
  ldapx::LoadOidtable(app.oidtable, kvaro::FindDataFile("oidtable32"));

  bool keyMissing = false;
  const int loaded = LoadConfiguration(app, &keyMissing);
  if (keyMissing) return 1;
  // Cancel in the logon dialog ends the program normally.
  if (loaded == kLoadCancelled) return 0;
  // A configuration that is there but could not be read (the message named the file)
  // must not be replaced by the wizard's.
  if (loaded == kLoadUnreadable) return 1;
  if (loaded) {
    if (app.runEditor) return app.runEditor(app);
    std::printf(
        "orvelle32setup: the configuration was loaded (%zu rule sets, %zu search forms); "
        "the editor would open now, but this build has none.\n",
        app.configuration.ruleSets.size(), app.configuration.searchForms.size());
    return 0;
  }
  if (app.runWizard) return app.runWizard(app);
  std::printf(
      "orvelle32setup: no configuration could be loaded; the set-up wizard would run "
      "now, but this build has none.\n");
  return 0;
}

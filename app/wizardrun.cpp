#include "app/wizardrun.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "app/settings.h"
#include "app/startup.h"
#include "directoryui/directorywork.h"
#include "directoryui/pleasewaitdialog.h"
#include "platform/support/messages.h"
#include "store/directory/directorysave.h"
#include "store/directory/entrylayout.h"
#include "store/store.h"
#include "wizard/setupwizard.h"

namespace {

const char* const kStartupMode = "Startup Mode";
const char* const kConfigurationDirectory = "Configuration Directory";
// "Startup Mode" values: "file" selects local files, any other text the directory.
const char* const kModeFile = "file";
const char* const kModeDirectory = "directory";

bool WriteText(settings::SettingsKey* key, const char* name, const std::string& value) {
  return settings::WriteSetting(key, name, settings::kRegSz,
                                std::as_bytes(std::span(value.c_str(), value.size() + 1))) == 1;
}

// The folder for local files: the configuration's own, else the one the settings name,
// else the default.
std::string ConfigurationFolderFor(const store::Session& session) {
  std::string folder = session.configurationDirectory;
  if (folder.empty()) {
    if (auto key = settings::OpenSettingsKey("Startup")) {
      folder = settings::ExpandFolder(key->ReadString(kConfigurationDirectory).value_or(""));
    }
  }
  if (folder.empty()) folder = DefaultConfigurationDirectory();
  return folder;
}

}  // namespace

std::string DefaultConfigurationDirectory() {
  return settings::UserBaseDirectory(settings::UserFolder::kData, ".") + "/orvelle/configuration";
}

bool StoreWizardResult(ApplicationObject& app, SetupWizard& wizard) {
  Configuration& config = app.configuration;
  store::Session& session = app.session;
  // A configuration without the rule set of every chosen service is not what the
  // administrator asked for, and stored over an existing one it would lose that one:
  // nothing is written unless every template gave its rule set.
  if (const msg::Outcome generated = wizard.GenerateConfiguration();
      !generated || wizard.generatedRuleSets.empty()) {
    wizard.generatedRuleSets.clear();
    wizard.generatedForms.clear();
    msg::Show(generated);
    msg::Show(62246, {wizard.TemplateFolder()}, msg::Buttons::Ok, msg::Icon::Error);
    return false;
  }
  const bool inDirectory = wizard.startupMode == StartupMode::kDirectory;
  std::string folder;
  if (!inDirectory) {
    // The location page asked about the folder's configuration files; ask again if
    // they changed since.
    folder = wizard.configurationFolder.empty() ? ConfigurationFolderFor(session)
                                                : wizard.configurationFolder;
    if (!ConfirmReplacingFiles(folder, wizard.replaceFileCount)) {
      wizard.generatedRuleSets.clear();
      wizard.generatedForms.clear();
      return false;
    }
  }

  for (auto& ruleSet : wizard.generatedRuleSets) config.ruleSets.push_back(std::move(ruleSet));
  for (auto& form : wizard.generatedForms) config.searchForms.push_back(std::move(form));
  wizard.generatedRuleSets.clear();
  wizard.generatedForms.clear();

  session.directory = wizard.directory;
  // The save goes where the administrator chose, not where the settings pointed.
  session.startupMode = inDirectory ? StartupMode::kDirectory : StartupMode::kFiles;

  if (inDirectory) {
    // A configuration the administrator chose to replace keeps its root entry: the save
    // writes the new configuration beside it and swaps it in, or changes nothing.
    bool written = wizard.replaceConfiguration;
    if (!written && session.directory.connection) {
      const msg::Outcome root = RunWithPleaseWait(
          nullptr, std::string(msg::LoadString(61282)), std::string(msg::LoadString(61285)),
          [&session](directory::PleaseWait&) {
            return directory::WriteRootEntry(*session.directory.connection,
                                             session.directory.subtreeDn);
          });
      msg::Show(root);
      written = bool(root);
    }
    if (!written) {
      msg::Show(61286, {}, msg::Buttons::Ok, msg::Icon::Error);
      return false;
    }
    const msg::Result saved = RunInWorker(
        nullptr, [&](directory::PleaseWait& wait) { return store::Save(session, config, &wait); },
        CancelBy::ByWork);
    msg::Show(saved);
    if (!saved) {
      msg::Show(61296, {}, msg::Buttons::Ok, msg::Icon::Error);
      return false;
    }
  } else {
    session.configurationDirectory = folder;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    // A folder that cannot be made shows up as the save's "cannot create file" message.
    const msg::Result saved = store::Save(session, config);
    msg::Show(saved);
    if (!saved) {
      msg::Show(61296, {}, msg::Buttons::Ok, msg::Icon::Error);
      return false;
    }
  }

  // "Startup Mode" is written last, so that it never points at values that are missing.
  if (inDirectory) {
    if (!settings::WriteDirectorySettings(session)) return false;
    auto key = settings::OpenSettingsKey("Startup");
    return WriteText(key.get(), kStartupMode, kModeDirectory);
  }
  auto key = settings::OpenSettingsKey("Startup");
  if (!WriteText(key.get(), kConfigurationDirectory, session.configurationDirectory)) return false;
  return WriteText(key.get(), kStartupMode, kModeFile);
}

int RunSetupWizard(ApplicationObject& app) {
  SetupWizard wizard(app.oidtable);
  const settings::ConnectionLimits limits = settings::ReadConnectionLimits();
  wizard.timeouts = ldapx::Timeouts{limits.connectSeconds, limits.operationSeconds};
  wizard.configurationFolder = ConfigurationFolderFor(app.session);
  // Settings that name the directory (a "Startup Mode" other than "file") start the wizard
  // on the directory choice, with the server they name.
  if (app.session.startupMode == StartupMode::kDirectory) {
    wizard.startupMode = StartupMode::kDirectory;
    const ldapx::ServerSettings& named = app.session.directory.server;
    ldapx::ServerSettings& server = wizard.directory.server;
    if (!named.address.empty()) server.address = named.address;
    if (named.port > 0) server.port = named.port;
    // Settings written before connections could be encrypted say nothing of it: the
    // wizard's StartTLS stays rather than falling back to plain text.
    if (named.Tls().security != ldapx::Security::None) server.security = named.security;
    server.caCertificateFile = named.caCertificateFile;
  }
  if (wizard.exec() != kIdFinish) return 0;
  return StoreWizardResult(app, wizard) ? 0 : 1;
}

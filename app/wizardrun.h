// Start-up when no configuration could be loaded: the set-up wizard runs, its result is
// stored where the administrator chose, and the settings are written so that the next
// start finds it.
#pragma once

#include <string>

class ApplicationObject;
class SetupWizard;

// Runs the set-up wizard modally and, after Finish, stores its result
// (StoreWizardResult). Cancel in the wizard ends the process with status 0. Returns the
// exit code: 0 when the configuration was stored, 1 when it was not (after the message
// that says why, or after the administrator declined to replace the configuration files
// found in the folder). Plugged into ApplicationObject::runWizard.
int RunSetupWizard(ApplicationObject& app);

// What follows Finish: builds the configuration from the chosen services, moves it into
// app.configuration with the wizard's connection settings and open connection, writes
// the root entry (directory choice), saves where the wizard chose, and records in the
// settings what the next start needs ("Startup Mode" and the directory values, or the
// configuration folder). True when everything was stored. False after its messages when
// a chosen service's template gave no rule set (nothing is written then), when the
// configuration folder cannot be read, when its "RuleSet=" files changed since the
// administrator agreed to replace them and the administrator now declines (nothing is
// written then either), or when a write failed.
bool StoreWizardResult(ApplicationObject& app, SetupWizard& wizard);

// The folder local configurations go to when the settings name none:
// ${XDG_DATA_HOME:-~/.local/share}/orvelle/configuration.
std::string DefaultConfigurationDirectory();

// Pictures of the set-up wizard's pages, for the documentation.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace kvaro {
class Oidtable;
}
class SetupWizard;

// The names of the page pictures, in page order ("wizard_0_intro" ... "wizard_7_summary").
std::vector<std::string> WizardShotNames();

// A shown wizard on the page of picture `name`, filled with sample values (no server is
// contacted); null for an unknown name. Cancel in it does not end the process.
std::unique_ptr<SetupWizard> MakeWizardShot(const std::string& name, const kvaro::Oidtable& table);

// Renders every page picture to <folder>/<name>.png; returns how many were written.
int RenderWizardScreenshots(const std::string& folder, const kvaro::Oidtable& table);

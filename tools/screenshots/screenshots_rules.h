// Pictures of the rule dialogs and panels for the documentation: each window is built
// over a small sample configuration, filled in as an administrator would, and grabbed.
#pragma once

#include <QImage>
#include <QString>
#include <utility>
#include <vector>

namespace kvaro {
class Oidtable;
}

// One picture: a file-name stem ("rule-panel-entry-point") and the grabbed image.
using RuleShot = std::pair<QString, QImage>;

// Appends a picture of each rule dialog (Add Rule as search rule and as entry point, Add
// Object Class, Add Child Search Rule, Set Start Point) and of the rule set panel and both
// rule panel shapes. `table` must know "person", "organizationalPerson", "o" and "c".
void AddRuleScreenshots(std::vector<RuleShot>& shots, const kvaro::Oidtable& table);

// Writes the pictures of AddRuleScreenshots as "<stem>.png" into `folder`; returns the
// paths written (a picture that cannot be written is left out).
std::vector<QString> WriteRuleScreenshots(const QString& folder, const kvaro::Oidtable& table);

#include "editor/addrulesetdialog.h"

#include <QString>
#include <algorithm>

#include "model/configuration.h"
#include "model/renaming.h"
#include "platform/support/messages.h"
#include "widgets/dialogparts.h"

int CheckRuleSetName(const std::string& name, const std::vector<std::string>& existing,
                     std::vector<std::string>& args) {
  args = {name};
  if (QString::fromStdString(name).toUcs4().size() < 3) return 61253;
  // The name becomes a file name and a line of the configuration file: the rule the
  // saves apply.
  if (!IsStorableName(NameKind::RuleSet, name)) return 62173;
  return NameDialog::Refusal(CheckNameFree(name, existing, 62172, {name}), args);
}

int CheckRuleSetName(const std::string& name, const std::vector<std::string>& existing) {
  std::vector<std::string> args;
  return CheckRuleSetName(name, existing, args);
}

AddRuleSetDialog::AddRuleSetDialog(std::vector<std::string> existing, QWidget* parent)
    : NameDialog(
          QStringLiteral("AddRuleSetDialog"), QStringLiteral("Add Rule Set"),
          QStringLiteral("Rule Set &Name"), std::string(),
          [existing = std::move(existing)](const std::string& name,
                                           std::vector<std::string>& args) {
            return CheckRuleSetName(name, existing, args);
          },
          parent) {}

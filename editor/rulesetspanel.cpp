#include "editor/rulesetspanel.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <algorithm>
#include <memory>
#include <string>

#include "editor/addrulesetdialog.h"
#include "editor/configtree.h"
#include "model/configuration.h"
#include "platform/support/messages.h"

CRuleSetsPanel::CRuleSetsPanel(CConfigTree* tree, QWidget* parent)
    : CRootListPanel(tree, QStringLiteral("Rule Sets"), 61269, 61270, 61271, parent) {
  for (const auto& ruleSet : tree->configuration().ruleSets) ruleSets_.push_back(ruleSet.get());
  for (RuleSet* ruleSet : ruleSets_) {
    InsertNameRow(list(), QString::fromStdString(ruleSet->name), ruleSet);
  }
  connect(addButton(), &QPushButton::clicked, this, &CRuleSetsPanel::AddRuleSet);
  connect(removeButton(), &QPushButton::clicked, this, &CRuleSetsPanel::RemoveRuleSet);
}

void CRuleSetsPanel::AddRuleSet() {
  Configuration& configuration = tree()->configuration();
  std::vector<std::string> names;
  for (const auto& ruleSet : configuration.ruleSets) names.push_back(ruleSet->name);
  AddRuleSetDialog dialog(std::move(names), this);
  if (dialog.exec() != QDialog::Accepted) return;

  // The set starts empty: a save refuses it until it has a rule, which tells the
  // administrator what is still missing.
  RuleSet* ruleSet = configuration.AddRuleSet(std::make_unique<RuleSet>(dialog.name));
  if (!ruleSet) return;  // the dialog has refused a name in use
  ruleSets_.push_back(ruleSet);
  tree()->AddRuleSetNode(ruleSet);
  AppendRecordRow(QString::fromStdString(ruleSet->name), ruleSet);
}

void CRuleSetsPanel::RemoveRuleSet() {
  const int row = SelectedRow(list());
  if (row < 0) return;
  // The row's own rule set, not one found by the row's text: a name that is not valid
  // UTF-8 is shown changed.
  auto found = std::find(ruleSets_.begin(), ruleSets_.end(), RowRecord<RuleSet>(list(), row));
  if (found == ruleSets_.end()) return;
  RuleSet* ruleSet = *found;
  // A rule set in use is refused by the tree with its own message; one that can go goes
  // with its rules, without a question: Undo brings it back.
  if (!tree()->RemoveRuleSet(ruleSet)) {
    list()->setFocus(Qt::OtherFocusReason);
    return;
  }
  ruleSets_.erase(found);
  DropRecordRow(row);
}

#include "editor/rulesetpanel.h"

#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <algorithm>
#include <memory>

#include "editor/addruledialog.h"
#include "editor/configtree.h"
#include "editor/controlids.h"
#include "model/configuration.h"
#include "model/renaming.h"
#include "platform/support/messages.h"

namespace {
QString Text(int id) { return QString::fromUtf8(msg::LoadString(id)); }
}  // namespace

CRuleSetPanel::CRuleSetPanel(CConfigTree* tree, RuleSet* ruleSet, QWidget* parent)
    : CPropertyPanel(tree, QStringLiteral("Rule Set Properties"), parent), ruleSet_(ruleSet) {
  title_ = CreateTitle(kIdRuleSetTitle, Text(61241) + QString::fromStdString(ruleSet_->name));
  add_ = CreateButton(kIdRuleSetAddRuleButton, Text(61214));
  remove_ = CreateButton(kIdRuleSetRemoveRuleButton, Text(62221), false);
  rename_ = CreateRenameButton(kIdRuleSetRenameButton);
  list_ = CreateReportList(kIdRuleSetRuleList, {{Text(61215), 150}, {Text(61216), 150}});
  // Each row goes in at the top, so the list shows the rules newest first.
  for (const auto& rule : ruleSet_->rules) {
    InsertReportRow(list_, 0, {QString::fromStdString(rule->name), TypeText(*rule)}, rule.get());
  }
  LinkRemoveButton(list_, remove_);
  connect(add_, &QPushButton::clicked, this, &CRuleSetPanel::AddRule);
  connect(remove_, &QPushButton::clicked, this, &CRuleSetPanel::RemoveRule);
  Relayout();
}

QString CRuleSetPanel::TypeText(const SearchRule& rule) {
  return Text(rule.ruleType != RuleTypeEntryPoint ? 61218 : 61217);
}

void CRuleSetPanel::AddRule() {
  AddRuleDialog dialog(tree()->oidtable(), this, [this](const std::string& name) {
    return CheckRuleNameFree(*ruleSet_, name);
  });
  if (dialog.exec() != QDialog::Accepted) return;

  std::unique_ptr<SearchRule> made;
  if (dialog.ruleType == RuleTypeSearchRule) {
    made = std::make_unique<SearchRule>(ruleSet_, dialog.name, std::vector<SearchRule*>{},
                                        dialog.objectClasses);
  } else {
    made = std::make_unique<SearchRule>(ruleSet_, dialog.name, std::vector<SearchRule*>{},
                                        dialog.ldapUri);
  }
  SearchRule* stored = ruleSet_->AddRule(std::move(made));
  if (!stored) {
    // The dialog has closed, so without a word the administrator would take the rule as
    // added.
    msg::Show(62171, {dialog.name, ruleSet_->name}, msg::Buttons::Ok, msg::Icon::Warning);
    return;
  }
  tree()->AddRuleNode(ruleSet_, stored);
  InsertReportRow(list_, 0, {QString::fromStdString(stored->name), TypeText(*stored)}, stored);
  NotifyModified();
}

void CRuleSetPanel::RemoveRule() {
  int row = -1;
  SearchRule* rule = SelectedRecord(list_, ruleSet_->rules, row);
  if (!rule) return;
  Configuration& configuration = tree()->configuration();
  const std::vector<RuleUse> uses = UsesOfRule(configuration, *ruleSet_, *rule);
  if (!uses.empty()) {
    std::vector<std::string> users;
    for (const RuleUse& use : uses) {
      users.push_back(use.searchingRule
                          ? msg::Text(62225, {use.searchingRule->name})
                          : msg::Text(62226, {use.group->name,
                                              CConfigTree::FormCaption(*use.form).toStdString()}));
    }
    // One use a line: the list is built from safe pieces, so its line breaks stay.
    msg::ShowPrepared(62224, {msg::Displayable(rule->name), msg::DisplayableLines(users)},
                      msg::Buttons::Ok, msg::Icon::Warning);
    list_->setFocus(Qt::OtherFocusReason);
    return;
  }
  tree()->RemoveNodesOf(rule);
  ::RemoveRule(configuration, *ruleSet_, rule);
  DeleteRow(list_, row);
  list_->setFocus(Qt::OtherFocusReason);
  NotifyModified();
}

void CRuleSetPanel::LayoutControls(int cx, int cy) {
  const int titleBottom = PlaceTitle(title_, cx);
  const int buttonBottom = PlaceButtonRow({add_, remove_, rename_}, 6, titleBottom + 6, 8, cx - 6);
  const int top = buttonBottom + 6;
  list_->setGeometry(6, top, std::max(0, cx - 12), std::max(MinimumListHeight(), cy - top - 6));
}

#include "editor/formpanel.h"

#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <algorithm>
#include <memory>

#include "editor/addinputgroupdialog.h"
#include "editor/configtree.h"
#include "editor/controlids.h"
#include "model/configuration.h"
#include "model/renaming.h"
#include "platform/support/messages.h"
#include "platform/support/qstringlist.h"

namespace {

QString Text(int id, const std::vector<std::string>& args = {}) {
  return QString::fromStdString(msg::Text(id, args));
}

QString RuleNameOf(const InputGroup* group) {
  return group && group->searchRule ? QString::fromStdString(group->searchRule->name) : QString();
}

}  // namespace

CFormPanel::CFormPanel(CConfigTree* tree, SearchForm* form, QWidget* parent)
    : CPropertyPanel(tree, QStringLiteral("Form Properties"), parent), form_(form) {
  title_ = CreateTitle(kIdFormTitle, Text(61249, {CConfigTree::FormCaption(*form_).toStdString()}));
  setTarget_ = CreateButton(kIdFormSetTargetButton, Text(61257));
  addGroup_ = CreateButton(kIdFormAddGroupButton, Text(61232));
  removeGroup_ = CreateButton(kIdFormRemoveGroupButton, Text(61233), false);
  rename_ = CreateRenameButton(kIdFormRenameButton);
  targetRule_ = CreateLabel(kIdFormTargetRuleLabel, QString());
  targetClasses_ = CreateLabel(kIdFormTargetClassesLabel, QString());
  toolTipLabel_ = CreateLabel(kIdFormToolTipLabel, Text(62325));
  toolTip_ = CreateTextEdit(kIdFormToolTipEdit, toolTipLabel_, form_->toolTip);
  helpLabel_ = CreateLabel(kIdFormHelpLabel, Text(62326));
  help_ = CreateTextEdit(kIdFormHelpEdit, helpLabel_, form_->helpString);
  connect(toolTip_, &QLineEdit::textEdited, this, &CFormPanel::SetToolTip);
  connect(help_, &QLineEdit::textEdited, this, &CFormPanel::SetHelpText);
  list_ = CreateReportList(kIdFormGroupList, {{Text(61227), 150}, {Text(61228), 150}});
  for (const auto& group : form_->inputGroups) {
    InsertReportRow(list_, 0, {QString::fromStdString(group->name), RuleNameOf(group.get())},
                    group.get());
  }
  ShowTarget();
  LinkRemoveButton(list_, removeGroup_);
  connect(setTarget_, &QPushButton::clicked, this, &CFormPanel::SetTargetGroup);
  connect(addGroup_, &QPushButton::clicked, this, &CFormPanel::AddGroup);
  connect(removeGroup_, &QPushButton::clicked, this, &CFormPanel::RemoveGroup);
  Relayout();
}

std::vector<std::string> CFormPanel::CandidateRules() const {
  std::vector<std::string> names;
  if (!form_->ruleSet) return names;
  for (const auto& rule : form_->ruleSet->rules) {
    if (rule->ruleType == RuleTypeSearchRule) names.push_back(rule->name);
  }
  return names;
}

void CFormPanel::ShowTarget() {
  const InputGroup* target = form_->targetGroup.get();
  std::string ruleName;
  std::string classes;
  if (target && target->searchRule) {
    ruleName = target->searchRule->name;
    classes = kvaro::Join(target->searchRule->objectClasses, ", ");
  }
  targetRule_->setText(Text(61258, {ruleName}));
  targetClasses_->setText(Text(61259, {classes}));
}

std::unique_ptr<InputGroup> CFormPanel::AskForGroup(const InputGroup* replaced) {
  const std::vector<std::string> candidates = CandidateRules();
  if (candidates.empty()) {
    msg::Show(61255, {form_->ruleSet ? form_->ruleSet->name : std::string()});
    return nullptr;
  }
  // One dialog object for every round, so a refused name comes back with what was typed.
  AddInputGroupDialog dialog(candidates, this);
  for (;;) {
    if (dialog.exec() != QDialog::Accepted) return nullptr;
    const msg::Outcome free = CheckGroupNameFree(*form_, dialog.name, replaced);
    if (free) break;
    msg::Show(free);
  }
  SearchRule* rule = form_->ruleSet->FindRule(dialog.searchRuleName);
  if (!rule) return nullptr;
  return std::make_unique<InputGroup>(dialog.name, rule);
}

void CFormPanel::SetTargetGroup() {
  std::unique_ptr<InputGroup> group = AskForGroup(form_->targetGroup.get());
  if (!group) return;
  if (tree() && form_->targetGroup) tree()->RemoveNodesOf(form_->targetGroup.get());
  InputGroup* added = group.get();
  form_->SetTargetGroup(std::move(group));
  if (tree()) tree()->AddInputGroupNode(form_, added);
  ShowTarget();
  NotifyModified();
}

void CFormPanel::AddGroup() {
  std::unique_ptr<InputGroup> group = AskForGroup();
  if (!group) return;
  InputGroup* added = group.get();
  if (!form_->AddInputGroup(std::move(group))) return;
  InsertReportRow(list_, -1, {QString::fromStdString(added->name), RuleNameOf(added)}, added);
  if (tree()) tree()->AddInputGroupNode(form_, added);
  NotifyModified();
}

QLineEdit* CFormPanel::CreateTextEdit(int id, QLabel* label, const std::string& text) {
  auto* edit = new QLineEdit(QString::fromStdString(text), this);
  edit->setObjectName(ObjectName(id));
  edit->setFont(normalFont());
  label->setBuddy(edit);
  return edit;
}

void CFormPanel::SetToolTip(const QString& text) {
  const std::string value = text.toStdString();
  if (form_->toolTip == value) return;
  form_->toolTip = value;
  NotifyModified();
}

void CFormPanel::SetHelpText(const QString& text) {
  const std::string value = text.toStdString();
  if (form_->helpString == value) return;
  form_->helpString = value;
  NotifyModified();
}

void CFormPanel::RemoveGroup() {
  // The row's own group: groups of one form may share a name.
  RemoveSelectedRecord(list_, form_->inputGroups);
}

void CFormPanel::LayoutControls(int cx, int cy) {
  const int titleBottom = PlaceTitle(title_, cx);
  const int buttonBottom =
      PlaceButtonRow({setTarget_, addGroup_, removeGroup_, rename_}, 8, titleBottom + 8, 8, cx - 8);
  // The lines are as high as the text they show; never lower than their own font needs,
  // so the text is not clipped where the panel font is taller than the measuring font.
  const int sh =
      std::max(TextExtent(Text(61258)).height(), QFontMetrics(targetRule_->font()).height());
  const int width = std::max(0, cx - 16);
  const int ruleTop = buttonBottom + 8;
  targetRule_->setGeometry(8, ruleTop, width, sh);
  const int classesTop = ruleTop + sh + 8;
  targetClasses_->setGeometry(8, classesTop, width, sh);
  // Each text's label on the left, its edit filling the rest of the line.
  int labelWidth = 0;
  for (const QLabel* label : {toolTipLabel_, helpLabel_})
    labelWidth = std::max(labelWidth, TextExtent(label->text()).width());
  const int editHeight = std::max(sh, toolTip_->sizeHint().height());
  const int editLeft = 8 + labelWidth + 8;
  const int editWidth = std::max(0, cx - 8 - editLeft);
  int top = classesTop + sh + 8;
  for (const auto& [label, edit] :
       {std::pair{toolTipLabel_, toolTip_}, std::pair{helpLabel_, help_}}) {
    label->setGeometry(8, top + (editHeight - sh) / 2, labelWidth, sh);
    edit->setGeometry(editLeft, top, editWidth, editHeight);
    top += editHeight + 8;
  }
  const int listTop = top;
  list_->setGeometry(8, listTop, width, std::max(MinimumListHeight(), cy - 8 - listTop));
}

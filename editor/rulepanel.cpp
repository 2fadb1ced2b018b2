#include "editor/rulepanel.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <algorithm>

#include "editor/addobjectclassdialog.h"
#include "editor/childruledialog.h"
#include "editor/controlids.h"
#include "editor/startpointdialog.h"
#include "model/configuration.h"
#include "platform/ldap/ldapclient.h"
#include "platform/support/messages.h"

namespace {

QString Text(int id) { return QString::fromUtf8(msg::LoadString(id)); }
QString Q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

CRulePanel::CRulePanel(SearchRule* rule, RuleSet* owner, const kvaro::Oidtable& table,
                       QWidget* parent)
    : CPropertyPanel(nullptr, QStringLiteral("Rule Properties"), parent),
      rule_(rule),
      owner_(owner ? owner : rule->ownerRuleSet),
      table_(table),
      searchRule_(rule->ruleType != RuleTypeEntryPoint) {
  title_ = CreateTitle(kIdRuleTitle, Text(61242) + Q(rule_->name));
  nameLabel_ = CreateLabel(kIdRuleNameLabel, Text(61219));
  nameEdit_ = CreateEdit(kIdRuleNameEdit);
  // The name changes only through Rename, which renames every reference to the rule as
  // well, so the edit must not look as if typing into it would.
  nameEdit_->setReadOnly(true);
  nameLabel_->setBuddy(nameEdit_);
  rename_ = CreateRenameButton(kIdRuleRenameButton);

  searchGroup_ = CreateGroupBox(kIdRuleSearchGroup, Text(61246));
  std::tie(addSearchRule_, removeSearchRule_, searchList_) = CreateEditableNameList(
      kIdRuleAddSearchRuleButton, Text(61247), kIdRuleRemoveSearchRuleButton, Text(61248),
      kIdRuleSearchRuleList, [this] { AddSearchRule(); }, [this] { RemoveSearchRule(); });

  if (searchRule_) {
    secondGroup_ = CreateGroupBox(kIdRuleSecondGroup, Text(61220));
    std::tie(addClass_, removeClass_, classList_) = CreateEditableNameList(
        kIdRuleAddClassButton, Text(61243), kIdRuleRemoveClassButton, Text(61244), kIdRuleClassList,
        [this] { AddObjectClass(); }, [this] { RemoveObjectClass(); });
  } else {
    secondGroup_ = CreateGroupBox(kIdRuleSecondGroup, Text(61221));
    baseLabel_ = CreateLabel(kIdRuleBaseLabel, Text(61222));
    baseEdit_ = CreateEdit(kIdRuleBaseEdit);
    hostLabel_ = CreateLabel(kIdRuleHostLabel, Text(61223));
    hostEdit_ = CreateEdit(kIdRuleHostEdit);
    portLabel_ = CreateLabel(kIdRulePortLabel, Text(61224));
    portEdit_ = CreateEdit(kIdRulePortEdit);
    for (QLineEdit* edit : {baseEdit_, hostEdit_, portEdit_}) edit->setReadOnly(true);
    baseLabel_->setBuddy(baseEdit_);
    hostLabel_->setBuddy(hostEdit_);
    portLabel_->setBuddy(portEdit_);
    setStartPoint_ = CreateButton(kIdRuleSetStartPointButton, Text(61267));
    connect(setStartPoint_, &QPushButton::clicked, this, &CRulePanel::SetStartPoint);
  }

  // Tab order follows the layout, top to bottom.
  QWidget* previous = nameEdit_;
  for (QWidget* next :
       std::vector<QWidget*>{rename_, searchList_, addSearchRule_, removeSearchRule_}) {
    setTabOrder(previous, next);
    previous = next;
  }
  const std::vector<QWidget*> second =
      searchRule_ ? std::vector<QWidget*>{classList_, addClass_, removeClass_}
                  : std::vector<QWidget*>{baseEdit_, hostEdit_, portEdit_, setStartPoint_};
  for (QWidget* next : second) {
    setTabOrder(previous, next);
    previous = next;
  }

  Fill();
  Relayout();
}

QLineEdit* CRulePanel::CreateEdit(int id) {
  auto* edit = new QLineEdit(this);
  edit->setObjectName(ObjectName(id));
  edit->setFont(normalFont());
  edit->setGeometry(0, 0, 10, 10);
  return edit;
}

QGroupBox* CRulePanel::CreateGroupBox(int id, const QString& text) {
  auto* group = new QGroupBox(text, this);
  group->setObjectName(ObjectName(id));
  group->setFont(normalFont());
  group->setFocusPolicy(Qt::NoFocus);
  group->setGeometry(0, 0, 10, 10);
  return group;
}

void CRulePanel::Fill() {
  nameEdit_->setText(Q(rule_->name));
  nameEdit_->setCursorPosition(0);

  ClearRows(searchList_);
  for (const auto& searchable : rule_->searchableRules)
    InsertNameRow(searchList_, Q(searchable->name), searchable);

  if (searchRule_) {
    ClearRows(classList_);
    for (const std::string& objectClass : rule_->objectClasses)
      InsertNameRow(classList_, Q(objectClass));
    return;
  }
  const auto url = ldapx::ParseUrl(rule_->ldapUri);
  if (!url) {
    msg::Show(61245, {rule_->ldapUri, rule_->name}, msg::Buttons::Ok, msg::Icon::Warning);
    return;
  }
  const int defaultPort = url->scheme == "ldaps" ? ldapx::kLdapsPort : ldapx::kLdapPort;
  portEdit_->setText(QString::number(url->port == 0 ? defaultPort : url->port));
  hostEdit_->setText(Q(url->host));
  baseEdit_->setText(Q(url->dn));
  // Long values show from their start, not scrolled to their end.
  for (QLineEdit* edit : {baseEdit_, hostEdit_, portEdit_}) edit->setCursorPosition(0);
}

void CRulePanel::AddObjectClass() {
  if (!searchRule_) return;
  AddObjectClassDialog dialog(table_, this);
  if (dialog.exec() != QDialog::Accepted) return;
  if (!rule_->AddObjectClass(dialog.objectClassName)) {
    RefuseListed(62182, classList_, Q(dialog.objectClassName));
    return;
  }
  InsertNameRow(classList_, Q(dialog.objectClassName));
  NotifyModified();
}

void CRulePanel::RemoveObjectClass() {
  if (!searchRule_) return;
  const int row = SelectedRow(classList_);
  if (row < 0) return;
  const std::string name = RowText(classList_, row).toStdString();
  if (rule_->objectClasses.size() == 1 && rule_->objectClasses.front() == name) {
    // Saved without object classes, the rule would be dropped as badly defined when the
    // configuration is loaded again, and the input groups that use it with it.
    msg::Show(62170, {rule_->name}, msg::Buttons::Ok, msg::Icon::Warning);
    return;
  }
  if (!rule_->RemoveObjectClass(name)) return;
  DeleteRow(classList_, row);
  NotifyModified();
}

void CRulePanel::AddSearchRule() {
  std::vector<std::string> candidates;
  if (owner_) {
    for (const auto& other : owner_->rules) {
      if (other->ruleType == RuleTypeSearchRule && other.get() != rule_)
        candidates.push_back(other->name);
    }
  }
  if (candidates.empty()) {
    msg::Show(61255, {owner_ ? owner_->name : std::string()}, msg::Buttons::Ok, msg::Icon::Warning);
    return;
  }
  ChildRuleDialog dialog(candidates, this);
  if (dialog.exec() != QDialog::Accepted) return;
  SearchRule* chosen = owner_->FindRule(dialog.selectedRule);
  if (!chosen) return;
  if (!rule_->AddSearchableRule(chosen)) {
    RefuseListed(62183, searchList_, Q(chosen->name));
    return;
  }
  InsertNameRow(searchList_, Q(chosen->name), chosen);
  NotifyModified();
}

void CRulePanel::RemoveSearchRule() {
  // The row's own reference, not a name read back from the row: a name that is not valid
  // UTF-8 is shown changed.
  int row = -1;
  const SearchRule* searchable = SelectedRecord(searchList_, rule_->searchableRules, row);
  if (!searchable || !rule_->RemoveSearchableRule(searchable->name)) return;
  DeleteRow(searchList_, row);
  NotifyModified();
}

void CRulePanel::SetStartPoint() {
  std::string uri;
  if (!rule_->GetLdapUri(uri)) return;
  StartPointDialog dialog(uri, table_, this);
  if (dialog.exec() != QDialog::Accepted) return;
  rule_->SetLdapUri(dialog.ldapUri);
  Fill();
  NotifyModified();
}

int CRulePanel::PlaceListGroup(QGroupBox* group, QWidget* list,
                               const std::vector<QPushButton*>& buttons, int groupTop, int cx,
                               int listHeight) {
  const int h = TextExtent(Text(61219)).height();
  const int listTop = groupTop + h + 10;
  list->setGeometry(16, listTop, std::max(0, cx - 32), listHeight);
  const int buttonBottom = PlaceButtonRow(buttons, 16, listTop + listHeight + 8, 8, cx - 16);
  const int bottom = buttonBottom + 10;
  // The group box holds its widest button when the panel is narrower than that.
  int right = 0;
  for (QPushButton* button : buttons) right = std::max(right, button->geometry().right() + 1);
  group->setGeometry(8, groupTop, std::max(cx - 16, right), bottom - groupTop);
  return bottom;
}

int CRulePanel::PlaceControls(int cx, int listHeight) {
  const int titleBottom = PlaceTitle(title_, cx);

  const QSize nameExtent = TextExtent(nameLabel_->text());
  const int labelTop = titleBottom + kEdge + 10;
  nameLabel_->setGeometry(8, labelTop, nameExtent.width() + kEdge, nameExtent.height() + kEdge);
  const int editX = 8 + nameExtent.width() + kEdge + 8;
  const int editTop = labelTop - kEdge;
  const int editHeight = nameExtent.height() + 3 * kEdge;
  // Rename sits right of the name it changes.
  const QSize renameExtent = TextExtent(rename_->text());
  const int renameWidth = renameExtent.width() + 6 * kEdge;
  const int renameHeight = renameExtent.height() + 4 * kEdge;
  const int editWidth = std::max(kMinimumEditWidth, cx - 8 - renameWidth - 8 - editX);
  nameEdit_->setGeometry(editX, editTop, editWidth, editHeight);
  const int renameTop = editTop - (renameHeight - editHeight) / 2;
  rename_->setGeometry(editX + editWidth + 8, renameTop, renameWidth, renameHeight);
  const int nameBottom = std::max(editTop + editHeight, renameTop + renameHeight);

  const int firstBottom =
      PlaceListGroup(searchGroup_, searchList_, {addSearchRule_, removeSearchRule_},
                     nameBottom + 14, cx, listHeight);
  const int secondTop = firstBottom + 14;
  int bottom = 0;
  if (searchRule_) {
    bottom = PlaceListGroup(secondGroup_, classList_, {addClass_, removeClass_}, secondTop, cx,
                            listHeight);
  } else {
    int previousBottom = -1;
    const std::pair<QLabel*, QLineEdit*> rows[] = {
        {baseLabel_, baseEdit_}, {hostLabel_, hostEdit_}, {portLabel_, portEdit_}};
    for (const auto& [label, edit] : rows) {
      const QSize extent = TextExtent(label->text());
      const int top = previousBottom < 0 ? secondTop + extent.height() + kEdge + 10
                                         : previousBottom + kEdge + 10;
      label->setGeometry(16, top, extent.width(), extent.height() + kEdge);
      const int x = 16 + extent.width() + 8;
      const int height = extent.height() + 3 * kEdge;
      edit->setGeometry(x, top - kEdge, std::max(kMinimumEditWidth, cx - 16 - x), height);
      previousBottom = top - kEdge + height;
    }
    const QSize extent = TextExtent(setStartPoint_->text());
    const int buttonTop = previousBottom + 10;
    setStartPoint_->setGeometry(16, buttonTop, extent.width() + 6 * kEdge,
                                extent.height() + 4 * kEdge);
    bottom = buttonTop + extent.height() + 4 * kEdge + 10;
    // The group box holds its widest control when the panel is narrower than that.
    int right = setStartPoint_->geometry().right() + 1;
    for (const auto& row : rows) right = std::max(right, row.second->geometry().right() + 1);
    secondGroup_->setGeometry(8, secondTop, std::max(cx - 16, right), bottom - secondTop);
  }
  // The group boxes go to the back so the controls inside them are drawn over them.
  searchGroup_->lower();
  secondGroup_->lower();
  return bottom;
}

void CRulePanel::LayoutControls(int cx, int cy) {
  // Lists are five lines high; where the panel is too short for that, they give up
  // height first (down to the least list height), before the pane has to scroll.
  const int h = TextExtent(Text(61219)).height();
  const int full = 5 * h;
  const int bottom = PlaceControls(cx, full);
  const int lists = searchRule_ ? 2 : 1;
  const int excess = bottom + kMargin - cy;
  if (excess <= 0) return;
  const int shorter = std::max(MinimumListHeight(), full - (excess + lists - 1) / lists);
  if (shorter < full) PlaceControls(cx, shorter);
}

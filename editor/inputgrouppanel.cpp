#include "editor/inputgrouppanel.h"

#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <algorithm>

#include "editor/addinputfielddialog.h"
#include "editor/configtree.h"
#include "editor/controlids.h"
#include "model/configuration.h"
#include "model/renaming.h"
#include "platform/support/messages.h"

namespace {

QString Text(int id, const std::vector<std::string>& args = {}) {
  return QString::fromStdString(msg::Text(id, args));
}

QString JoinedFilters(const InputField& field) {
  std::string out;
  for (size_t i = 0; i < field.filterAttributes.size(); ++i) {
    if (i) out += ", ";
    out += field.filterAttributes[i];
  }
  return QString::fromStdString(out);
}

}  // namespace

CInputGroupPanel::CInputGroupPanel(CConfigTree* tree, InputGroup* group, QWidget* parent)
    : CPropertyPanel(tree, QStringLiteral("Form Group Properties"), parent), group_(group) {
  title_ = CreateTitle(kIdInputGroupTitle, Text(61250, {group_->name}));
  add_ = CreateButton(kIdInputGroupAddFieldButton, Text(61234));
  remove_ = CreateButton(kIdInputGroupRemoveFieldButton, Text(61235), false);
  rename_ = CreateRenameButton(kIdInputGroupRenameButton);
  list_ = CreateReportList(kIdInputGroupFieldList, {{Text(61236), 150}, {Text(61237), 250}});
  FillList();
  LinkRemoveButton(list_, remove_);
  connect(add_, &QPushButton::clicked, this, &CInputGroupPanel::AddInput);
  connect(remove_, &QPushButton::clicked, this, &CInputGroupPanel::RemoveInput);
  Relayout();
}

void CInputGroupPanel::FillList() {
  ClearRows(list_);
  for (const auto& field : group_->fields) {
    InsertReportRow(list_, 0, {QString::fromStdString(field->name), JoinedFilters(*field)},
                    field.get());
  }
}

void CInputGroupPanel::AddInput() {
  if (!tree()) return;
  // One dialog object for every round, so a refused name comes back with what was typed.
  AddInputFieldDialog dialog(tree()->oidtable(), this);
  for (;;) {
    if (dialog.exec() != QDialog::Accepted) return;
    const msg::Outcome free = CheckFieldNameFree(*group_, dialog.name);
    if (free) break;
    msg::Show(free);
  }
  if (!group_->AddField(dialog.name, dialog.defaultValue, dialog.filterAttributes)) return;
  InputField* field = group_->FindField(dialog.name);
  FillList();
  tree()->AddInputFieldNode(group_, field);
  NotifyModified();
}

void CInputGroupPanel::RemoveInput() {
  // The row's own field, even should a loaded group hold two fields of one name.
  RemoveSelectedRecord(list_, group_->fields);
}

void CInputGroupPanel::LayoutControls(int cx, int cy) {
  LayoutStandard(title_, {add_, remove_, rename_}, list_, cx, cy);
}

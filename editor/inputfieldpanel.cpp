#include "editor/inputfieldpanel.h"

#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>

#include "editor/addfilterattributedialog.h"
#include "editor/controlids.h"
#include "model/configuration.h"
#include "platform/support/messages.h"

namespace {

QString Text(int id, const std::vector<std::string>& args = {}) {
  return QString::fromStdString(msg::Text(id, args));
}

}  // namespace

CInputFieldPanel::CInputFieldPanel(InputField* field, const kvaro::Oidtable& table, QWidget* parent)
    : CPropertyPanel(nullptr, QStringLiteral("Form Input Properties"), parent),
      field_(field),
      table_(table) {
  title_ = CreateTitle(kIdInputFieldTitle, Text(61251, {field_->name}));
  add_ = CreateButton(kIdInputFieldAddAttributeButton, Text(61238));
  remove_ = CreateButton(kIdInputFieldRemoveAttributeButton, Text(61239), false);
  rename_ = CreateRenameButton(kIdInputFieldRenameButton);
  list_ = CreateReportList(kIdInputFieldAttributeList, {{Text(61240), 150}});
  // In the field's order, as its group's list and the stores show them; an added one at
  // the end, where the field takes it.
  for (const std::string& attribute : field_->filterAttributes)
    InsertReportRow(list_, -1, {QString::fromStdString(attribute)});
  LinkRemoveButton(list_, remove_);
  connect(add_, &QPushButton::clicked, this, &CInputFieldPanel::AddFilter);
  connect(remove_, &QPushButton::clicked, this, &CInputFieldPanel::RemoveFilter);
  Relayout();
}

void CInputFieldPanel::AddFilter() {
  AddFilterAttributeDialog dialog(table_, this);
  if (dialog.exec() != QDialog::Accepted) return;
  if (dialog.attributeTypeName.empty()) return;
  if (!field_->AddFilterAttribute(dialog.attributeTypeName)) {
    RefuseListed(62184, list_, QString::fromStdString(dialog.attributeTypeName));
    return;
  }
  InsertReportRow(list_, -1, {QString::fromStdString(dialog.attributeTypeName)});
  NotifyModified();
}

void CInputFieldPanel::RemoveFilter() {
  const int row = SelectedRow(list_);
  if (row < 0) return;
  const std::string text = RowText(list_, row).toStdString();
  DeleteRow(list_, row);
  field_->RemoveFilterAttribute(text);
  NotifyModified();
}

void CInputFieldPanel::LayoutControls(int cx, int cy) {
  LayoutStandard(title_, {add_, remove_, rename_}, list_, cx, cy);
}

#include "formlistpanel.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <algorithm>

#include "configtree.h"
#include "configuration.h"
#include "messages.h"

namespace {
QString Text(int id) { return QString::fromUtf8(msg::LoadString(id)); }
}  // namespace

CFormListPanel::CFormListPanel(CConfigTree* tree, QWidget* parent)
    : CPropertyPanel(tree, QStringLiteral("Form List Properties"), parent) {
  for (const auto& form : tree->configuration().searchForms) forms_.push_back(form.get());

  title_ = CreateTitle(103, Text(61273));
  // "Add Form" has no action: forms come from the set-up wizard's templates.
  add_ = CreateButton(100, Text(61225));
  remove_ = CreateButton(101, Text(61226), false);
  list_ = CreateNameList(102);
  for (SearchForm* form : forms_) InsertNameRow(list_, CConfigTree::FormCaption(*form), form);
  LinkRemoveButton(list_, remove_);
  connect(remove_, &QPushButton::clicked, this, &CFormListPanel::RemoveForm);
  Relayout();
}

void CFormListPanel::RemoveForm() {
  const int row = SelectedRow(list_);
  if (row < 0) return;
  auto* form = static_cast<SearchForm*>(RowData(list_, row));
  auto found = std::find(forms_.begin(), forms_.end(), form);
  if (found == forms_.end()) return;
  if (!tree()->RemoveForm(form)) return;
  forms_.erase(found);
  DeleteRow(list_, row);
  list_->clearSelection();
  remove_->setEnabled(false);
  NotifyModified();
}

void CFormListPanel::LayoutControls(int cx, int cy) {
  LayoutStandard(title_, {add_, remove_}, list_, cx, cy);
}

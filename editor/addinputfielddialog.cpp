#include "editor/addinputfielddialog.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <tuple>

#include "editor/addfilterattributedialog.h"
#include "editor/addinputgroupdialog.h"
#include "editor/controlids.h"
#include "editor/dialoglist.h"
#include "platform/support/messages.h"
#include "widgets/dialogparts.h"
#include "widgets/dialogunits.h"

AddInputFieldDialog::AddInputFieldDialog(const kvaro::Oidtable& table, QWidget* parent)
    : QDialog(parent), table_(table) {
  setObjectName(ObjectName(kIdAddInputFieldDialog));
  setWindowTitle("Add Form Group Field");
  setFont(dlgu::DialogFont());

  nameEdit_ = new QLineEdit(this);
  nameEdit_->setObjectName(ObjectName(kIdAddFieldNameEdit));
  auto* nameLabel = new QLabel("Field &Name", this);
  nameLabel->setBuddy(nameEdit_);
  defaultEdit_ = new QLineEdit(this);
  defaultEdit_->setObjectName(ObjectName(kIdAddFieldDefaultEdit));
  auto* defaultLabel = new QLabel("&Default Value", this);
  defaultLabel->setBuddy(defaultEdit_);

  auto* group = new QGroupBox("Filter Attributes", this);
  group->setObjectName(ObjectName(kIdAddFieldAttributeGroup));
  list_ = new QListWidget(group);
  list_->setObjectName(ObjectName(kIdAddFieldAttributeList));
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setViewMode(QListView::ListMode);
  list_->setFlow(QListView::TopToBottom);
  list_->setWrapping(true);
  list_->setFrameShadow(QFrame::Sunken);
  auto* groupButtons = new QVBoxLayout;
  QPushButton* addButton = nullptr;
  std::tie(addButton, removeButton_) =
      AddListButtons(group, groupButtons, "&Add", kIdAddFieldAddAttributeButton, "&Remove",
                     kIdAddFieldRemoveAttributeButton);
  auto* groupLayout = new QHBoxLayout(group);
  groupLayout->addWidget(list_, 1);
  groupLayout->addLayout(groupButtons);

  // Neither store keeps a default value; the note says so before anything is typed.
  auto* defaultNote = new QLabel(QString::fromStdString(msg::Text(62324)), this);
  defaultNote->setObjectName(ObjectName(kIdAddFieldDefaultNote));
  defaultNote->setWordWrap(true);

  auto* grid = new QGridLayout;
  grid->addWidget(nameLabel, 0, 0);
  grid->addWidget(nameEdit_, 0, 1);
  grid->addWidget(defaultLabel, 1, 0);
  grid->addWidget(defaultEdit_, 1, 1);
  grid->addWidget(defaultNote, 2, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(group, 1);
  dlgparts::AddOkCancelRow(this, layout);
  resize(dlgu::ToPixels(font(), QSize(191, 159)).expandedTo(sizeHint()));

  connect(addButton, &QPushButton::clicked, this, &AddInputFieldDialog::addFilterAttribute);
  connect(removeButton_, &QPushButton::clicked, this, &AddInputFieldDialog::removeFilterAttribute);
  connect(list_, &QListWidget::itemSelectionChanged, this, [this] { updateWidgets(); });

  showResults();
}

int AddInputFieldDialog::exec() {
  showResults();
  return QDialog::exec();
}

void AddInputFieldDialog::showResults() {
  nameEdit_->setText(QString::fromStdString(name));
  defaultEdit_->setText(QString::fromStdString(defaultValue));
  list_->clear();
  for (const std::string& attribute : filterAttributes)
    list_->addItem(QString::fromStdString(attribute));
  list_->clearSelection();
  list_->setCurrentRow(-1);
  nameEdit_->setFocus();
  updateWidgets();
}

void AddInputFieldDialog::updateWidgets() {
  removeButton_->setEnabled(!list_->selectedItems().isEmpty());
}

void AddInputFieldDialog::addFilterAttribute() {
  AddFilterAttributeDialog dialog(table_, this);
  if (dialog.exec() != QDialog::Accepted) return;
  const std::string& added = dialog.attributeTypeName;
  if (added.empty()) return;
  if (std::find(filterAttributes.begin(), filterAttributes.end(), added) !=
      filterAttributes.end()) {
    RefuseListedName(62184, list_, added);
    return;
  }
  filterAttributes.push_back(added);
  list_->addItem(QString::fromStdString(added));
}

void AddInputFieldDialog::removeFilterAttribute() {
  const QList<QListWidgetItem*> selected = list_->selectedItems();
  if (selected.isEmpty()) return;
  const int row = list_->row(selected.first());
  const std::string text = selected.first()->text().toStdString();
  // Leave nothing selected: deleting the current item would otherwise select its neighbour.
  list_->clearSelection();
  list_->setCurrentRow(-1);
  delete list_->takeItem(row);
  list_->clearSelection();
  auto it = std::find(filterAttributes.begin(), filterAttributes.end(), text);
  if (it != filterAttributes.end()) filterAttributes.erase(it);
  updateWidgets();
}

void AddInputFieldDialog::accept() {
  if (filterAttributes.empty()) {
    msg::Show(61256);
    return;
  }
  if (!TakeFormName(nameEdit_, name)) return;
  defaultValue = defaultEdit_->text().toStdString();
  QDialog::accept();
}

#include "editor/addruledialog.h"

#include <QButtonGroup>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>
#include <tuple>

#include "editor/addobjectclassdialog.h"
#include "editor/controlids.h"
#include "editor/dialoglist.h"
#include "editor/startpointdialog.h"
#include "model/configuration.h"
#include "platform/support/messages.h"
#include "widgets/dialogparts.h"
#include "widgets/dialogunits.h"

AddRuleDialog::AddRuleDialog(const kvaro::Oidtable& table, QWidget* parent, NameFree nameFree)
    : QDialog(parent), table_(table), nameFree_(std::move(nameFree)) {
  setObjectName(ObjectName(kIdAddRuleDialog));
  setWindowTitle("Add Rule");

  nameEdit_ = new QLineEdit(this);
  nameEdit_->setObjectName(ObjectName(kIdAddRuleNameEdit));
  auto* nameLabel = new QLabel("Rule Name", this);
  nameLabel->setBuddy(nameEdit_);

  searchRuleRadio_ = new QRadioButton("&Search Rule", this);
  searchRuleRadio_->setObjectName(ObjectName(kIdAddRuleSearchRuleRadio));
  entryPointRadio_ = new QRadioButton("&Entry Point", this);
  entryPointRadio_->setObjectName(ObjectName(kIdAddRuleEntryPointRadio));
  auto* typeGroup = new QButtonGroup(this);
  typeGroup->addButton(searchRuleRadio_);
  typeGroup->addButton(entryPointRadio_);
  auto* typeRow = new QHBoxLayout;
  typeRow->addWidget(new QLabel("Rule Type", this));
  typeRow->addWidget(searchRuleRadio_);
  typeRow->addWidget(entryPointRadio_);
  typeRow->addStretch();

  auto* searchGroup = new QGroupBox("Search Rule", this);
  searchGroup->setObjectName(ObjectName(kIdAddRuleSearchRuleGroup));
  classList_ = new QListWidget(searchGroup);
  classList_->setObjectName(ObjectName(kIdAddRuleClassList));
  classList_->setViewMode(QListView::ListMode);
  classList_->setSelectionMode(QAbstractItemView::SingleSelection);
  auto* classButtons = new QHBoxLayout;
  std::tie(addClassButton_, removeClassButton_) =
      AddListButtons(searchGroup, classButtons, "&Add Object Class", kIdAddRuleAddClassButton,
                     "&Remove Object Class", kIdAddRuleRemoveClassButton);
  auto* searchLayout = new QVBoxLayout(searchGroup);
  searchLayout->addWidget(classList_);
  searchLayout->addLayout(classButtons);

  auto* entryGroup = new QGroupBox("Entry Point", this);
  entryGroup->setObjectName(ObjectName(kIdAddRuleEntryPointGroup));
  startPoint_ = AddStartPointRows(entryGroup, new QFormLayout(entryGroup));

  auto* form = new QFormLayout;
  form->addRow(nameLabel, nameEdit_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addLayout(typeRow);
  layout->addWidget(searchGroup, 1);
  layout->addWidget(entryGroup);
  dlgparts::AddOkCancelRow(this, layout).cancel->setAutoDefault(false);

  connect(searchRuleRadio_, &QRadioButton::clicked, this, &AddRuleDialog::chooseSearchRule);
  connect(entryPointRadio_, &QRadioButton::clicked, this, &AddRuleDialog::chooseEntryPoint);
  connect(addClassButton_, &QPushButton::clicked, this, &AddRuleDialog::addObjectClass);
  connect(removeClassButton_, &QPushButton::clicked, this, &AddRuleDialog::removeObjectClass);
  connect(classList_, &QListWidget::itemSelectionChanged, this, &AddRuleDialog::updateWidgets);

  searchRuleRadio_->setChecked(true);
  updateWidgets();
  resize(dlgu::ToPixels(font(), QSize(194, 205)).expandedTo(sizeHint()));
  nameEdit_->setFocus();
}

void AddRuleDialog::updateWidgets() {
  const bool searchRule = ruleType == RuleTypeSearchRule;
  for (QLineEdit* edit : {startPoint_.base, startPoint_.host, startPoint_.port})
    edit->setEnabled(!searchRule);
  classList_->setEnabled(searchRule);
  addClassButton_->setEnabled(searchRule);
  removeClassButton_->setEnabled(searchRule && !classList_->selectedItems().isEmpty());
}

void AddRuleDialog::chooseSearchRule() {
  ruleType = RuleTypeSearchRule;
  searchRuleRadio_->setChecked(true);
  updateWidgets();
}

void AddRuleDialog::chooseEntryPoint() {
  ruleType = RuleTypeEntryPoint;
  entryPointRadio_->setChecked(true);
  updateWidgets();
}

void AddRuleDialog::addObjectClass() {
  AddObjectClassDialog dialog(table_, this);
  if (dialog.exec() != QDialog::Accepted) return;
  if (std::find(objectClasses.begin(), objectClasses.end(), dialog.objectClassName) !=
      objectClasses.end()) {
    RefuseListedName(62182, classList_, dialog.objectClassName);
  } else {
    // Appended, as the rule panel appends to a rule's classes.
    objectClasses.push_back(dialog.objectClassName);
    classList_->addItem(QString::fromStdString(dialog.objectClassName));
  }
  updateWidgets();
}

void AddRuleDialog::SetObjectClasses(const std::vector<std::string>& classes) {
  objectClasses.clear();
  classList_->clear();
  for (const std::string& name : classes) {
    if (std::find(objectClasses.begin(), objectClasses.end(), name) != objectClasses.end())
      continue;
    objectClasses.push_back(name);
    classList_->addItem(QString::fromStdString(name));
  }
  updateWidgets();
}

void AddRuleDialog::removeObjectClass() {
  const int row = classList_->currentRow();
  QListWidgetItem* item = classList_->currentItem();
  if (row >= 0 && item && item->isSelected()) {
    // The list shows objectClasses in order, so the row is the entry's index; removing by
    // index keeps the list and the names in step.
    objectClasses.erase(objectClasses.begin() + row);
    delete classList_->takeItem(row);
    // The list selects a neighbour of the removed row; nothing stays selected instead.
    classList_->selectionModel()->clear();
  }
  updateWidgets();
}

void AddRuleDialog::accept() {
  const std::string typed = nameEdit_->text().toStdString();
  // Characters, not bytes: a name of three accented letters is long enough.
  if (nameEdit_->text().toUcs4().size() < 3) {
    msg::Show(61253);
    nameEdit_->setFocus();
    return;
  }
  // The same rule the saves apply, so a rule added here can always be saved.
  if (!IsStorableName(NameKind::Rule, typed)) {
    msg::Show(62160, {typed});
    nameEdit_->setFocus();
    return;
  }
  if (nameFree_) {
    if (const msg::Outcome free = nameFree_(typed); !free) {
      msg::Show(free);
      nameEdit_->setFocus();
      nameEdit_->selectAll();
      return;
    }
  }
  name = typed;
  if (ruleType == RuleTypeEntryPoint) {
    const std::optional<std::string> uri = TakeStartPoint(startPoint_, table_);
    if (!uri) return;
    ldapUri = *uri;
  } else if (objectClasses.empty()) {
    msg::Show(61268);
    addClassButton_->setFocus(Qt::OtherFocusReason);
    return;
  }
  QDialog::accept();
}

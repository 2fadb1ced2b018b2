#include "editor/addformdialog.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "editor/addinputgroupdialog.h"
#include "widgets/dialogparts.h"
#include "widgets/dialogunits.h"

AddFormDialog::AddFormDialog(std::vector<std::string> names, QWidget* parent)
    : QDialog(parent), ruleSetNames(std::move(names)) {
  setObjectName("AddFormDialog");
  setWindowTitle("Add Form");
  setFont(dlgu::DialogFont());

  auto* prompt = new QLabel(
      "Enter the name of the new search form and the rule set whose rules its input "
      "groups will use.",
      this);
  nameEdit_ = new QLineEdit(this);
  nameEdit_->setObjectName("1000");
  auto* nameLabel = new QLabel("Form &Name", this);
  nameLabel->setBuddy(nameEdit_);
  ruleSetCombo_ = new QComboBox(this);
  ruleSetCombo_->setObjectName("1001");
  ruleSetCombo_->setEditable(false);
  for (const std::string& ruleSet : ruleSetNames)
    ruleSetCombo_->addItem(QString::fromStdString(ruleSet));
  ruleSetCombo_->setCurrentIndex(ruleSetNames.empty() ? -1 : 0);
  auto* ruleSetLabel = new QLabel("&Rule Set", this);
  ruleSetLabel->setBuddy(ruleSetCombo_);

  auto* grid = new QGridLayout;
  grid->addWidget(nameLabel, 0, 0);
  grid->addWidget(nameEdit_, 0, 1);
  grid->addWidget(ruleSetLabel, 1, 0);
  grid->addWidget(ruleSetCombo_, 1, 1);
  okButton_ = dlgparts::LayOutColumn(this, prompt, grid).ok;
  okButton_->setEnabled(!ruleSetNames.empty());
  resize(dlgu::ToPixels(font(), QSize(166, 102)).expandedTo(sizeHint()));

  nameEdit_->setFocus();
}

void AddFormDialog::accept() {
  if (ruleSetCombo_->currentIndex() < 0) return;
  if (!TakeFormName(nameEdit_, name)) return;
  ruleSetName = ruleSetCombo_->currentText().toStdString();
  QDialog::accept();
}

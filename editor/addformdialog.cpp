#include "addformdialog.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "addinputgroupdialog.h"
// By path: another layer has a header of the same name on the include path.
#include "dialogunits.h"

AddFormDialog::AddFormDialog(std::vector<std::string> names, QWidget* parent)
    : QDialog(parent), ruleSetNames(std::move(names)) {
  setObjectName("AddFormDialog");
  setWindowTitle("Add Form");
  setFont(dlgu::DialogFont());

  auto* prompt = new QLabel(
      "Enter the name of the new search form and the rule set whose rules its input "
      "groups will use.",
      this);
  prompt->setWordWrap(true);
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

  okButton_ = new QPushButton("&OK", this);
  okButton_->setObjectName("1");
  okButton_->setDefault(true);
  okButton_->setEnabled(!ruleSetNames.empty());
  auto* cancelButton = new QPushButton("&Cancel", this);
  cancelButton->setObjectName("2");
  connect(okButton_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);

  auto* grid = new QGridLayout;
  grid->addWidget(nameLabel, 0, 0);
  grid->addWidget(nameEdit_, 0, 1);
  grid->addWidget(ruleSetLabel, 1, 0);
  grid->addWidget(ruleSetCombo_, 1, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(okButton_);
  buttons->addWidget(cancelButton);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(prompt);
  layout->addLayout(grid);
  layout->addStretch();
  layout->addLayout(buttons);
  resize(dlgu::ToPixels(font(), QSize(166, 102)).expandedTo(sizeHint()));

  nameEdit_->setFocus();
}

void AddFormDialog::accept() {
  if (ruleSetCombo_->currentIndex() < 0) return;
  const std::string typed = nameEdit_->text().toStdString();
  if (!AcceptFormName(typed)) {
    nameEdit_->setFocus();
    return;
  }
  name = typed;
  ruleSetName = ruleSetCombo_->currentText().toStdString();
  QDialog::accept();
}

#include "addrulesetdialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "messages.h"

int CheckRuleSetName(const std::string& name, const std::vector<std::string>& existing) {
  if (QString::fromStdString(name).toUcs4().size() < 3) return 61253;
  // The name becomes a file name and a line of the configuration file.
  const bool blankAtEnd =
      name.front() == ' ' || name.front() == '\t' || name.back() == ' ' || name.back() == '\t';
  if (name == "." || name == ".." || blankAtEnd ||
      name.find_first_of(std::string("/:\r\n\0", 6)) != std::string::npos)
    return 62173;
  if (std::find(existing.begin(), existing.end(), name) != existing.end()) return 62172;
  return 0;
}

AddRuleSetDialog::AddRuleSetDialog(std::vector<std::string> existing, QWidget* parent)
    : QDialog(parent), existing_(std::move(existing)) {
  setObjectName("AddRuleSetDialog");
  setWindowTitle("Add Rule Set");

  auto* prompt = new QLabel("Rule Set &Name", this);
  nameEdit_ = new QLineEdit(this);
  nameEdit_->setObjectName("1000");
  prompt->setBuddy(nameEdit_);

  auto* okButton = new QPushButton("&OK", this);
  okButton->setObjectName("1");
  okButton->setDefault(true);
  auto* cancelButton = new QPushButton("&Cancel", this);
  cancelButton->setObjectName("2");
  cancelButton->setAutoDefault(false);

  auto* row = new QHBoxLayout;
  row->addWidget(prompt);
  row->addWidget(nameEdit_, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(okButton);
  buttons->addWidget(cancelButton);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  layout->addStretch();
  layout->addLayout(buttons);

  connect(okButton, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
  resize(sizeHint().expandedTo(QSize(320, 0)));
  nameEdit_->setFocus();
}

void AddRuleSetDialog::accept() {
  const std::string typed = nameEdit_->text().toStdString();
  if (const int problem = CheckRuleSetName(typed, existing_)) {
    msg::Show(problem, {typed});
    nameEdit_->setFocus();
    nameEdit_->selectAll();
    return;
  }
  name = typed;
  QDialog::accept();
}

#include "editor/addrulesetdialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>

#include "model/configuration.h"
#include "platform/support/messages.h"
#include "widgets/dialogparts.h"

int CheckRuleSetName(const std::string& name, const std::vector<std::string>& existing) {
  if (QString::fromStdString(name).toUcs4().size() < 3) return 61253;
  // The name becomes a file name and a line of the configuration file: the rule the
  // saves apply.
  if (!IsStorableName(NameKind::RuleSet, name)) return 62173;
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

  auto* row = new QHBoxLayout;
  row->addWidget(prompt);
  row->addWidget(nameEdit_, 1);
  dlgparts::LayOutColumn(this, nullptr, row).cancel->setAutoDefault(false);

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

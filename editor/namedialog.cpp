#include "editor/namedialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "editor/controlids.h"
#include "platform/support/messages.h"
#include "widgets/dialogparts.h"

NameDialog::NameDialog(const QString& objectName, const QString& title, const QString& label,
                       const std::string& current, Check check, QWidget* parent)
    : QDialog(parent),
      check_(std::move(check)),
      current_(current),
      shown_(QString::fromStdString(current)) {
  setObjectName(objectName);
  setWindowTitle(title);

  auto* prompt = new QLabel(label, this);
  nameEdit_ = new QLineEdit(this);
  nameEdit_->setObjectName(ObjectName(kIdNameEdit));
  nameEdit_->setText(shown_);
  nameEdit_->selectAll();
  prompt->setBuddy(nameEdit_);

  auto* row = new QHBoxLayout;
  row->addWidget(prompt);
  row->addWidget(nameEdit_, 1);
  dlgparts::LayOutColumn(this, nullptr, row).cancel->setAutoDefault(false);

  resize(sizeHint().expandedTo(QSize(320, 0)));
  nameEdit_->setFocus();
}

int NameDialog::Refusal(const msg::Outcome& outcome, std::vector<std::string>& args) {
  if (outcome) return 0;
  args = outcome.problems.front().args;
  return outcome.problems.front().id;
}

void NameDialog::accept() {
  // A name that is not valid UTF-8 shows with U+FFFD; converted back it would be another
  // name, so an untouched edit stands for the current name itself.
  const QString text = nameEdit_->text();
  const std::string typed = text == shown_ ? current_ : text.toStdString();
  std::vector<std::string> args;
  if (const int problem = check_ ? check_(typed, args) : 0) {
    msg::Show(problem, args);
    nameEdit_->setFocus();
    nameEdit_->selectAll();
    return;
  }
  name = typed;
  QDialog::accept();
}

#include "editor/addobjectclassdialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "platform/support/oidtable.h"
#include "widgets/dialogparts.h"
#include "widgets/dialogunits.h"

AddObjectClassDialog::AddObjectClassDialog(const kvaro::Oidtable& table, QWidget* parent)
    : QDialog(parent), table_(table) {
  setObjectName("143");
  setWindowTitle("Add Object Class");

  auto* prompt = new QLabel("Enter the name of the object class to add to the search rule.", this);
  nameEdit_ = new QLineEdit(this);
  nameEdit_->setObjectName("1000");
  prompt->setBuddy(nameEdit_);

  okButton_ = dlgparts::LayOutColumn(this, prompt, nameEdit_, dlgparts::ButtonTexts::kPlain).ok;

  connect(nameEdit_, &QLineEdit::textChanged, this, [this] { updateWidgets(); });

  updateWidgets();
  resize(dlgu::ToPixels(font(), QSize(164, 71)).expandedTo(sizeHint()));
  nameEdit_->setFocus();
}

void AddObjectClassDialog::updateWidgets() {
  okButton_->setEnabled(table_.str2oc(nameEdit_->text().toStdString()) != nullptr);
}

void AddObjectClassDialog::accept() {
  // Enter in the edit reaches here too; only a known object class may end the dialog.
  const std::string text = nameEdit_->text().toStdString();
  if (table_.str2oc(text) == nullptr) return;
  objectClassName = text;
  QDialog::accept();
}

#include "editor/addfilterattributedialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "platform/support/oidtable.h"
#include "widgets/dialogparts.h"
#include "widgets/dialogunits.h"

AddFilterAttributeDialog::AddFilterAttributeDialog(const kvaro::Oidtable& table, QWidget* parent)
    : QDialog(parent), table_(table) {
  setObjectName("135");
  setWindowTitle("Add Filter Attribute");
  setFont(dlgu::DialogFont());

  auto* prompt = new QLabel("Enter the name of the attribute type to add to the filter.", this);
  nameEdit_ = new QLineEdit(this);
  nameEdit_->setObjectName("1000");
  prompt->setBuddy(nameEdit_);

  okButton_ = dlgparts::LayOutColumn(this, prompt, nameEdit_, dlgparts::ButtonTexts::kPlain).ok;
  resize(dlgu::ToPixels(font(), QSize(164, 71)).expandedTo(sizeHint()));

  connect(nameEdit_, &QLineEdit::textChanged, this, [this] { updateWidgets(); });

  nameEdit_->setFocus();
  updateWidgets();
}

void AddFilterAttributeDialog::updateWidgets() {
  const std::string text = nameEdit_->text().toStdString();
  okButton_->setEnabled(table_.str2at(text) != nullptr);
}

void AddFilterAttributeDialog::accept() {
  // Enter in the edit reaches here too; only a known attribute type may end the dialog.
  const std::string text = nameEdit_->text().toStdString();
  if (table_.str2at(text) == nullptr) return;
  attributeTypeName = text;
  QDialog::accept();
}

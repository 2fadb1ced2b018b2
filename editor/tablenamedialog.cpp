#include "editor/tablenamedialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "widgets/dialogparts.h"
// By path: another layer has a header of the same name on the include path.
#include "editor/controlids.h"
#include "widgets/dialogunits.h"

TableNameDialog::TableNameDialog(const QString& objectName, const QString& title,
                                 const QString& prompt, bool dialogFont,
                                 const kvaro::Oidtable& table, Known known, QWidget* parent)
    : QDialog(parent), table_(table), known_(known) {
  setObjectName(objectName);
  setWindowTitle(title);
  if (dialogFont) setFont(dlgu::DialogFont());

  auto* label = new QLabel(prompt, this);
  nameEdit_ = new QLineEdit(this);
  nameEdit_->setObjectName(ObjectName(kIdNameEdit));
  label->setBuddy(nameEdit_);

  okButton_ = dlgparts::LayOutColumn(this, label, nameEdit_, dlgparts::ButtonTexts::kPlain).ok;
  resize(dlgu::ToPixels(font(), QSize(164, 71)).expandedTo(sizeHint()));

  connect(nameEdit_, &QLineEdit::textChanged, this, [this] { updateWidgets(); });

  nameEdit_->setFocus();
  updateWidgets();
}

void TableNameDialog::updateWidgets() {
  okButton_->setEnabled(known_(table_, nameEdit_->text().toStdString()));
}

bool TableNameDialog::TakeKnownName(std::string& name) const {
  const std::string text = nameEdit_->text().toStdString();
  if (!known_(table_, text)) return false;
  name = text;
  return true;
}

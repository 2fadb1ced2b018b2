#include "editor/namechoicedialog.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>

#include "widgets/dialogparts.h"
// By path: another layer has a header of the same name on the include path.
#include "editor/controlids.h"
#include "widgets/dialogunits.h"

NameChoiceDialog::NameChoiceDialog(const QString& objectName, const QString& title,
                                   const QString& prompt, const QString& nameLabel,
                                   const QString& choiceLabel,
                                   const std::vector<std::string>& choices, QWidget* parent)
    : QDialog(parent), choices_(choices) {
  setObjectName(objectName);
  setWindowTitle(title);
  setFont(dlgu::DialogFont());

  auto* promptLabel = new QLabel(prompt, this);
  nameEdit_ = new QLineEdit(this);
  nameEdit_->setObjectName(ObjectName(kIdNameEdit));
  auto* nameBuddy = new QLabel(nameLabel, this);
  nameBuddy->setBuddy(nameEdit_);
  choiceCombo_ = new QComboBox(this);
  choiceCombo_->setObjectName(ObjectName(kIdNameChoiceCombo));
  choiceCombo_->setEditable(false);
  auto* choiceBuddy = new QLabel(choiceLabel, this);
  choiceBuddy->setBuddy(choiceCombo_);
  for (const std::string& name : choices) choiceCombo_->addItem(QString::fromStdString(name));
  choiceCombo_->setCurrentIndex(choices.empty() ? -1 : 0);

  auto* grid = new QGridLayout;
  grid->addWidget(nameBuddy, 0, 0);
  grid->addWidget(nameEdit_, 0, 1);
  grid->addWidget(choiceBuddy, 1, 0);
  grid->addWidget(choiceCombo_, 1, 1);
  okButton_ = dlgparts::LayOutColumn(this, promptLabel, grid).ok;
  // The prompt wraps: its height is the one it needs at the width the dialog takes.
  QSize size = dlgu::ToPixels(font(), QSize(166, 102)).expandedTo(sizeHint());
  size.setHeight(std::max(size.height(), layout()->totalHeightForWidth(size.width())));
  resize(size);

  nameEdit_->setFocus();
}

bool NameChoiceDialog::hasChoice() const { return choiceCombo_->currentIndex() >= 0; }

std::string NameChoiceDialog::choice() const {
  const int index = choiceCombo_->currentIndex();
  return index >= 0 && size_t(index) < choices_.size() ? choices_[size_t(index)] : std::string();
}

#include "editor/childruledialog.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "editor/controlids.h"
#include "widgets/dialogparts.h"
#include "widgets/dialogunits.h"

ChildRuleDialog::ChildRuleDialog(std::vector<std::string> names, QWidget* parent)
    : QDialog(parent), ruleNames(std::move(names)) {
  setObjectName(ObjectName(kIdChildRuleDialog));
  setWindowTitle("Add Child Search Rule");

  auto* prompt = new QLabel(
      "Select a search rule that can be applied from entries of selected entry class.", this);
  combo_ = new QComboBox(this);  // not editable: a drop-down list
  combo_->setObjectName(ObjectName(kIdChildRuleCombo));
  prompt->setBuddy(combo_);

  okButton_ = dlgparts::LayOutColumn(this, prompt, combo_).ok;

  combo_->clear();
  for (const std::string& name : ruleNames)
    combo_->insertItem(combo_->count(), QString::fromStdString(name));
  combo_->setCurrentIndex(combo_->count() > 0 ? 0 : -1);
  updateWidgets();

  resize(dlgu::ToPixels(font(), QSize(166, 70)).expandedTo(sizeHint()));
  combo_->setFocus();
}

void ChildRuleDialog::updateWidgets() { okButton_->setEnabled(combo_->currentIndex() >= 0); }

void ChildRuleDialog::accept() {
  const int index = combo_->currentIndex();
  // The item's own text, not the display text: names are kept byte for byte.
  selectedRule = index >= 0 ? ruleNames[static_cast<size_t>(index)] : std::string();
  QDialog::accept();
}

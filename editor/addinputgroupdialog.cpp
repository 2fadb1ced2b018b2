#include "editor/addinputgroupdialog.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

#include "model/configuration.h"
#include "platform/support/messages.h"
#include "widgets/dialogparts.h"
#include "widgets/dialogunits.h"

int CheckFormName(const std::string& name) {
  // Count characters, not bytes, so a two-letter name in any script is "too short".
  const std::u32string chars = QString::fromStdString(name).toStdU32String();
  if (chars.size() < 3) return 61253;
  for (char32_t c : chars) {
    const bool ok = (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z') ||
                    (c >= U'0' && c <= U'9') || c == U' ';
    if (!ok) return 61254;
  }
  // Blanks at either end would not survive a save: the rule the saves apply.
  if (!IsStorableName(NameKind::InputField, name)) return 62160;
  return 0;
}

bool TakeFormName(QLineEdit* edit, std::string& name) {
  const std::string typed = edit->text().toStdString();
  if (const int id = CheckFormName(typed)) {
    msg::Show(id, {typed});
    edit->setFocus();
    return false;
  }
  name = typed;
  return true;
}

AddInputGroupDialog::AddInputGroupDialog(std::vector<std::string> names, QWidget* parent)
    : QDialog(parent), ruleNames(std::move(names)) {
  setObjectName("137");
  setWindowTitle("Add Form Input Group");
  setFont(dlgu::DialogFont());

  auto* prompt = new QLabel(
      "Enter the name of the new input group and a search rule that describes the type of "
      "entry that this input group will be used to search for. ",
      this);

  nameEdit_ = new QLineEdit(this);
  nameEdit_->setObjectName("1000");
  auto* nameLabel = new QLabel("Group &Name", this);
  nameLabel->setBuddy(nameEdit_);

  ruleCombo_ = new QComboBox(this);
  ruleCombo_->setObjectName("1001");
  ruleCombo_->setEditable(false);
  auto* ruleLabel = new QLabel("&Search Rule", this);
  ruleLabel->setBuddy(ruleCombo_);
  for (size_t i = 0; i < ruleNames.size(); ++i)
    ruleCombo_->insertItem(int(i), QString::fromStdString(ruleNames[i]));
  ruleCombo_->setCurrentIndex(ruleNames.empty() ? -1 : 0);

  auto* grid = new QGridLayout;
  grid->addWidget(nameLabel, 0, 0);
  grid->addWidget(nameEdit_, 0, 1);
  grid->addWidget(ruleLabel, 1, 0);
  grid->addWidget(ruleCombo_, 1, 1);
  dlgparts::LayOutColumn(this, prompt, grid);
  resize(dlgu::ToPixels(font(), QSize(166, 102)).expandedTo(sizeHint()));

  nameEdit_->setFocus();
}

void AddInputGroupDialog::accept() {
  if (!TakeFormName(nameEdit_, name)) return;
  searchRuleName =
      ruleCombo_->currentIndex() >= 0 ? ruleCombo_->currentText().toStdString() : std::string();
  QDialog::accept();
}

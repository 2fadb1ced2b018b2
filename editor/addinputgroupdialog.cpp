#include "editor/addinputgroupdialog.h"

#include <QLineEdit>

#include "editor/controlids.h"
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
    : NameChoiceDialog(ObjectName(kIdAddInputGroupDialog), QStringLiteral("Add Form Input Group"),
                       QStringLiteral("Enter the name of the new input group and a search rule "
                                      "that describes the type of entry that this input group "
                                      "will be used to search for. "),
                       QStringLiteral("Group &Name"), QStringLiteral("&Search Rule"), names,
                       parent),
      ruleNames(std::move(names)) {}

void AddInputGroupDialog::accept() {
  if (!TakeFormName(nameEdit(), name)) return;
  searchRuleName = choice();
  QDialog::accept();
}

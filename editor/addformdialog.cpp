#include "editor/addformdialog.h"

#include <QPushButton>

#include "editor/addinputgroupdialog.h"
#include "widgets/dialogparts.h"
#include "widgets/dialogunits.h"

AddFormDialog::AddFormDialog(std::vector<std::string> names, QWidget* parent)
    : NameChoiceDialog(QStringLiteral("AddFormDialog"), QStringLiteral("Add Form"),
                       QStringLiteral("Enter the name of the new search form and the rule set "
                                      "whose rules its input groups will use."),
                       QStringLiteral("Form &Name"), QStringLiteral("&Rule Set"), names, parent),
      ruleSetNames(std::move(names)) {
  okButton()->setEnabled(!ruleSetNames.empty());
}

void AddFormDialog::accept() {
  if (!hasChoice()) return;
  if (!TakeFormName(nameEdit(), name)) return;
  ruleSetName = choice();
  QDialog::accept();
}

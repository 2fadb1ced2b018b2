#include "editor/addobjectclassdialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "editor/controlids.h"
#include "platform/support/oidtable.h"
#include "widgets/dialogparts.h"
#include "widgets/dialogunits.h"

AddObjectClassDialog::AddObjectClassDialog(const kvaro::Oidtable& table, QWidget* parent)
    : TableNameDialog(
          ObjectName(kIdAddObjectClassDialog), QStringLiteral("Add Object Class"),
          QStringLiteral("Enter the name of the object class to add to the search rule."), false,
          table,
          [](const kvaro::Oidtable& t, const std::string& name) {
            return t.str2oc(name) != nullptr;
          },
          parent) {}

void AddObjectClassDialog::accept() {
  if (TakeKnownName(objectClassName)) QDialog::accept();
}

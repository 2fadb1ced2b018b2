#include "editor/addfilterattributedialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "editor/controlids.h"
#include "platform/support/oidtable.h"
#include "widgets/dialogparts.h"
#include "widgets/dialogunits.h"

AddFilterAttributeDialog::AddFilterAttributeDialog(const kvaro::Oidtable& table, QWidget* parent)
    : TableNameDialog(
          ObjectName(kIdAddFilterAttributeDialog), QStringLiteral("Add Filter Attribute"),
          QStringLiteral("Enter the name of the attribute type to add to the filter."), true, table,
          [](const kvaro::Oidtable& t, const std::string& name) {
            return t.str2at(name) != nullptr;
          },
          parent) {}

void AddFilterAttributeDialog::accept() {
  if (TakeKnownName(attributeTypeName)) QDialog::accept();
}

// "Add Filter Attribute": asks for one attribute-type name that the attribute table knows.
#pragma once

#include <string>

#include "editor/tablenamedialog.h"

class AddFilterAttributeDialog : public TableNameDialog {
  Q_OBJECT

 public:
  // `table` decides which names are accepted; it must outlive the dialog.
  explicit AddFilterAttributeDialog(const kvaro::Oidtable& table, QWidget* parent = nullptr);

  // The typed name, untrimmed; set when the dialog ends with OK, empty before.
  std::string attributeTypeName;

 public slots:
  void accept() override;
};

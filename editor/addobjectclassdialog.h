// "Add Object Class": asks for one object-class name that the attribute table knows.
#pragma once

#include <string>

#include "editor/tablenamedialog.h"

class AddObjectClassDialog : public TableNameDialog {
  Q_OBJECT

 public:
  // `table` decides which names are accepted; it must outlive the dialog.
  explicit AddObjectClassDialog(const kvaro::Oidtable& table, QWidget* parent = nullptr);

  // The typed name, untrimmed; set when the dialog ends with OK, empty before.
  std::string objectClassName;

 public slots:
  void accept() override;
};

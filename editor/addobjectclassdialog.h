// "Add Object Class": asks for one object-class name that the attribute table knows.
#pragma once

#include <QDialog>
#include <string>

class QLineEdit;
class QPushButton;

namespace kvaro {
class Oidtable;
}

class AddObjectClassDialog : public QDialog {
  Q_OBJECT

 public:
  // `table` decides which names are accepted; it must outlive the dialog.
  explicit AddObjectClassDialog(const kvaro::Oidtable& table, QWidget* parent = nullptr);

  // The typed name, untrimmed; set when the dialog ends with OK, empty before.
  std::string objectClassName;

 public slots:
  void accept() override;

 private:
  // OK is enabled exactly when the table knows the edit's text as an object class.
  void updateWidgets();

  const kvaro::Oidtable& table_;
  QLineEdit* nameEdit_;
  QPushButton* okButton_;
};

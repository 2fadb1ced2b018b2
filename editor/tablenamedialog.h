// The base of the dialogs that ask for one name the attribute table knows (an object
// class or an attribute type): a prompt above one edit ("1000"), then plain OK and Cancel.
// OK is enabled exactly while the table knows the edit's text.
#pragma once

#include <QDialog>
#include <string>

class QLineEdit;
class QPushButton;

namespace kvaro {
class Oidtable;
}

class TableNameDialog : public QDialog {
  Q_OBJECT

 protected:
  // Whether `table` knows `name` as the kind of name the dialog asks for.
  using Known = bool (*)(const kvaro::Oidtable& table, const std::string& name);

  // Named `objectName`, titled `title`, with `prompt` above the edit. `dialogFont` gives
  // the dialog the dialog font instead of the application's. `table` must outlive the
  // dialog.
  TableNameDialog(const QString& objectName, const QString& title, const QString& prompt,
                  bool dialogFont, const kvaro::Oidtable& table, Known known, QWidget* parent);

  // Enter in the edit reaches accept() too, so only a known name may end the dialog: true
  // when the table knows the edit's text, which is then stored (untrimmed) in `name`;
  // false, leaving `name` as it was, otherwise.
  bool TakeKnownName(std::string& name) const;

 private:
  void updateWidgets();

  const kvaro::Oidtable& table_;
  Known known_;
  QLineEdit* nameEdit_;
  QPushButton* okButton_;
};

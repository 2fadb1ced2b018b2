// "Add Form Group Field": asks for a field name, its default value and its filter
// attribute types. A note below the default value says that it is not stored (the
// configuration has no place for it). Its results survive the run, so the same object can be run
// again and shows what it returned last time (used after a refused duplicate name).
#pragma once

#include <QDialog>
#include <string>
#include <vector>

class QLineEdit;
class QListWidget;
class QPushButton;

namespace kvaro {
class Oidtable;
}

class AddInputFieldDialog : public QDialog {
  Q_OBJECT

 public:
  // `table` checks the filter attribute types; it must outlive the dialog.
  explicit AddInputFieldDialog(const kvaro::Oidtable& table, QWidget* parent = nullptr);

  // Shows the current results in the controls, then runs the dialog modally.
  int exec() override;
  // Puts the current results into the controls (exec() does so itself).
  void showResults();

  // `name` and `defaultValue` are set when the dialog ends with OK. `filterAttributes`
  // follows the list while the dialog runs; it always equals what the list shows.
  std::string name;
  std::string defaultValue;
  std::vector<std::string> filterAttributes;

 public slots:
  void accept() override;
  // Runs "Add Filter Attribute" and appends a new, not yet listed name.
  void addFilterAttribute();
  // Removes the selected filter attribute type; nothing when none is selected.
  void removeFilterAttribute();

 private:
  // Remove is enabled exactly when a list item is selected.
  void updateWidgets();

  const kvaro::Oidtable& table_;
  QLineEdit* nameEdit_;
  QLineEdit* defaultEdit_;
  QListWidget* list_;
  QPushButton* removeButton_;
};

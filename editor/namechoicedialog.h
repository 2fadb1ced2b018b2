// The base of the dialogs that ask for the name of a new record and one of a list of given
// names: a prompt, a labelled name edit ("1000") above a labelled drop-down list ("1001"),
// then OK and Cancel. The dialog font is used throughout.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

class QComboBox;
class QLineEdit;
class QPushButton;

class NameChoiceDialog : public QDialog {
  Q_OBJECT

 protected:
  // Named `objectName`, titled `title`. `choices` fill the list in this order; the first is
  // selected (none when there are none). The labels carry their Alt shortcuts.
  NameChoiceDialog(const QString& objectName, const QString& title, const QString& prompt,
                   const QString& nameLabel, const QString& choiceLabel,
                   const std::vector<std::string>& choices, QWidget* parent);

  QLineEdit* nameEdit() const { return nameEdit_; }
  QPushButton* okButton() const { return okButton_; }
  // Whether a name of the list is selected.
  bool hasChoice() const;
  // The selected name of the list, byte for byte as given (a name that is not valid
  // UTF-8 shows with U+FFFD but is still found); empty when none is selected.
  std::string choice() const;

 private:
  std::vector<std::string> choices_;
  QLineEdit* nameEdit_;
  QComboBox* choiceCombo_;
  QPushButton* okButton_;
};

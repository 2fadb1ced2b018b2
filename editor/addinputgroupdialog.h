// "Add Form Input Group": asks for a group name and the search rule the group searches by.
// Also holds the name rules shared by the form dialogs.
#pragma once

#include <string>
#include <vector>

#include "editor/namechoicedialog.h"

class QLineEdit;

// The name rules of input groups and input fields, applied to the text as typed: 0 when
// `name` passes, else the id of the message that refuses it (61253 when shorter than
// three characters, 61254 when a character is not an ASCII letter, digit or space, 62160
// when the stores could not hold it, i.e. a blank at either end).
int CheckFormName(const std::string& name);

// Applies CheckFormName to the text of `edit`. When it passes, stores it in `name` and
// returns true; otherwise shows the refusing message, puts the focus back in `edit` and
// returns false, leaving `name` as it was.
bool TakeFormName(QLineEdit* edit, std::string& name);

class AddInputGroupDialog : public NameChoiceDialog {
  Q_OBJECT

 public:
  // `ruleNames` (copied) fill the rule choice in this order; the first is selected.
  explicit AddInputGroupDialog(std::vector<std::string> ruleNames, QWidget* parent = nullptr);

  std::vector<std::string> ruleNames;
  // Set when the dialog ends with OK; empty before. `searchRuleName` is empty when
  // `ruleNames` was.
  std::string name;
  std::string searchRuleName;

 public slots:
  void accept() override;
};

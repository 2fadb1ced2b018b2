// "Rename": asks for a new name for a rule set, rule, form, input group or input field.
// The caller's check applies the name rules of the record's Add dialog; a refused name
// keeps the dialog open with the message that says why.
#pragma once

#include "editor/namedialog.h"

class RenameDialog : public NameDialog {
  Q_OBJECT

 public:
  // Titled `title`, showing `current` (selected, so typing replaces it). On OK, `name` is
  // the new name exactly as typed.
  RenameDialog(const QString& title, const std::string& current, Check check,
               QWidget* parent = nullptr);
};

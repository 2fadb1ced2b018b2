// "Rename": asks for a new name for a rule set, rule, form, input group or input field.
// The caller's check applies the name rules of the record's Add dialog; a refused name
// keeps the dialog open with the message that says why.
#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

class QLineEdit;

class RenameDialog : public QDialog {
  Q_OBJECT

 public:
  // 0 when `name` may be taken; otherwise the id of the message that refuses it, with the
  // values for its placeholders in `args`.
  using Check = std::function<int(const std::string& name, std::vector<std::string>& args)>;

  // Titled `title`, showing `current` (selected, so typing replaces it).
  RenameDialog(const QString& title, const std::string& current, Check check,
               QWidget* parent = nullptr);

  // On OK: the new name exactly as typed. Empty before.
  std::string name;

 public slots:
  // Ends with OK only for a name `check` accepts; otherwise shows its message, puts the
  // focus back in the name with the text selected, and stays open.
  void accept() override;

 private:
  Check check_;
  QLineEdit* nameEdit_;
};

// The base of the dialogs that ask for one name: a label beside one edit ("1000"), then
// OK and Cancel. A check decides which names may end the dialog with OK; a refused name
// keeps it open with the message that says why.
#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

#include "platform/support/messages.h"

class QLineEdit;

class NameDialog : public QDialog {
  Q_OBJECT

 public:
  // 0 when `name` may be taken; otherwise the id of the message that refuses it, with the
  // values for its placeholders in `args`.
  using Check = std::function<int(const std::string& name, std::vector<std::string>& args)>;
  // The first problem of `outcome` as a Check answers it: its id (0 for none), with its
  // arguments in `args`.
  static int Refusal(const msg::Outcome& outcome, std::vector<std::string>& args);

  // On OK: the name exactly as typed; the current name, byte for byte, when the edit still
  // shows it unchanged. Empty before.
  std::string name;

 public slots:
  // Ends with OK only for a name `check` accepts; otherwise shows its message, puts the
  // focus back in the name with the text selected, and stays open.
  void accept() override;

 protected:
  // Named `objectName`, titled `title`; `label` is the edit's label (its buddy). The edit
  // shows `current`, selected so that typing replaces it.
  NameDialog(const QString& objectName, const QString& title, const QString& label,
             const std::string& current, Check check, QWidget* parent);

 private:
  Check check_;
  std::string current_;
  QString shown_;
  QLineEdit* nameEdit_;
};

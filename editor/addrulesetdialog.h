// "Add Rule Set": asks for the name of a new, empty rule set.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

class QLineEdit;

// 0 when `name` may name a new rule set beside `existing`; otherwise the id of the
// message that says why not (61253 too short, 62172 taken, 62173 unusable as the name the
// rule set is stored under, by IsStorableName).
int CheckRuleSetName(const std::string& name, const std::vector<std::string>& existing);

class AddRuleSetDialog : public QDialog {
  Q_OBJECT

 public:
  // `existing` are the names of the rule sets there are already (copied).
  explicit AddRuleSetDialog(std::vector<std::string> existing, QWidget* parent = nullptr);

  // On OK: the typed name, exactly as typed. Empty before.
  std::string name;

 public slots:
  // Ends with OK only for a name CheckRuleSetName accepts; otherwise shows its message and
  // stays open.
  void accept() override;

 private:
  std::vector<std::string> existing_;
  QLineEdit* nameEdit_;
};

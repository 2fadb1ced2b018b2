// "Add Rule Set": asks for the name of a new, empty rule set.
#pragma once

#include <string>
#include <vector>

#include "editor/namedialog.h"

// 0 when `name` may name a rule set beside `existing`; otherwise the id of the message
// that says why not (61253 too short, 62173 unusable as the name the rule set is stored
// under, by IsStorableName; 62172 or 62320 taken, by CheckNameFree), with its arguments
// in `args`.
int CheckRuleSetName(const std::string& name, const std::vector<std::string>& existing,
                     std::vector<std::string>& args);
// The same without the arguments.
int CheckRuleSetName(const std::string& name, const std::vector<std::string>& existing);

class AddRuleSetDialog : public NameDialog {
  Q_OBJECT

 public:
  // `existing` are the names of the rule sets there are already (copied). OK ends the
  // dialog only for a name CheckRuleSetName accepts, `name` then being the name exactly
  // as typed; otherwise its message is shown and the dialog stays open.
  explicit AddRuleSetDialog(std::vector<std::string> existing, QWidget* parent = nullptr);
};

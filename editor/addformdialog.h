// "Add Form": asks for the name of a new search form and the rule set it belongs to.
// The caller builds the form (and its target group afterwards, in the form's panel).
#pragma once

#include <string>
#include <vector>

#include "editor/namechoicedialog.h"

class AddFormDialog : public NameChoiceDialog {
  Q_OBJECT

 public:
  // `ruleSetNames` (copied) fill the rule set choice in this order; the first is
  // selected. Without any, OK stays disabled: a form needs a rule set.
  explicit AddFormDialog(std::vector<std::string> ruleSetNames, QWidget* parent = nullptr);

  std::vector<std::string> ruleSetNames;
  // Set when the dialog ends with OK; empty before.
  std::string name;
  std::string ruleSetName;

 public slots:
  // Applies the name rules of input groups and fields (the name becomes part of a DN).
  void accept() override;
};

// The panel of the "Rule Sets" root: the names of all rule sets, with Add Rule Set and
// Remove Rule Set.
#pragma once

#include <vector>

#include "editor/propertypanel.h"
#include "editor/rootlistpanel.h"

class RuleSet;

class CRuleSetsPanel : public CRootListPanel {
  Q_OBJECT

 public:
  // Lists the configuration's rule sets (copied into the panel's own list) in their order.
  CRuleSetsPanel(CConfigTree* tree, QWidget* parent);

  // Add Rule Set: asks for a new, unique name; on OK an empty rule set of that name joins
  // the end of the configuration's rule sets, its node the top of "Rule Sets" and its row
  // the end of the list. Nothing changes on Cancel.
  void AddRuleSet();

  // Remove Rule Set: the rule set of the selected row leaves the configuration and the
  // tree. Nothing without a selection or when the tree refuses (rule set still in use).
  void RemoveRuleSet();

 private:
  std::vector<RuleSet*> ruleSets_;
};

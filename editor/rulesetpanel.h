// The panel of a rule set node: the set's rules (newest first) with their types, Add Rule,
// Remove Rule and Rename.
#pragma once

#include "editor/propertypanel.h"

class RuleSet;
class SearchRule;

class CRuleSetPanel : public CPropertyPanel {
  Q_OBJECT

 public:
  // Shows `ruleSet` (not owned; must outlive the panel). `tree` gets a node for every rule
  // added here.
  CRuleSetPanel(CConfigTree* tree, RuleSet* ruleSet, QWidget* parent);

  // Add Rule: asks for a rule with the "Add Rule" dialog and adds it to the rule set, as
  // the top row of the list and the top child of the rule set's tree node. A name the
  // set already holds adds nothing and says so.
  void AddRule();
  // Remove Rule: the selected row's rule leaves the set and the tree. Refused, with a
  // message naming them, while other rules can search for it or input groups search by
  // it. Nothing without a selection.
  void RemoveRule();

  // Text of the Type column for `rule`.
  static QString TypeText(const SearchRule& rule);

 protected:
  void LayoutControls(int cx, int cy) override;

 private:
  RuleSet* ruleSet_;
  QLabel* title_;
  QPushButton* add_;
  QPushButton* remove_;
  QPushButton* rename_;
  QTreeWidget* list_;
};

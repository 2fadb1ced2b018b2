// The panel of a search form node: the form's target group (two lines naming its search
// rule and that rule's object classes), its tool tip and help text (edited in place) and
// its further input groups.
#pragma once

#include <string>
#include <vector>

#include "editor/propertypanel.h"

class InputGroup;
class QLineEdit;
class SearchForm;

class CFormPanel : public CPropertyPanel {
  Q_OBJECT

 public:
  // Shows `form` (not owned). `tree` is kept in step with every change; it may be null
  // when the panel is shown on its own.
  CFormPanel(CConfigTree* tree, SearchForm* form, QWidget* parent);

  // Names, in order, of the search rules (not entry points) of the form's rule set.
  std::vector<std::string> CandidateRules() const;

  // Set Target Group: asks for a new group and makes it the form's target group in place
  // of the old one (which is destroyed with its fields). Message 61255 when the rule set
  // has no search rule.
  void SetTargetGroup();
  // Add Group: asks for a new group and appends it to the form's further groups.
  void AddGroup();
  // Remove Group: the group of the selected row leaves the form and the tree and is
  // destroyed with its fields. Nothing without a selection.
  void RemoveGroup();
  // The form's tool tip and help text take `text`; a change marks the configuration
  // modified. The edits call these as they are typed into.
  void SetToolTip(const QString& text);
  void SetHelpText(const QString& text);

 protected:
  void LayoutControls(int cx, int cy) override;

 private:
  // Asks for a group with one of the candidate rules and a name no other group of the form
  // has (but `replaced`, the group the new one takes the place of); null on Cancel or when
  // there is no candidate (after message 61255). The caller owns the result.
  std::unique_ptr<InputGroup> AskForGroup(const InputGroup* replaced = nullptr);
  // A one-line edit showing `text`, the buddy of `label`.
  QLineEdit* CreateTextEdit(int id, QLabel* label, const std::string& text);
  // Fills the two lines about the target group's search rule.
  void ShowTarget();

  SearchForm* form_;
  QLabel* title_;
  QPushButton* setTarget_;
  QPushButton* addGroup_;
  QPushButton* removeGroup_;
  QPushButton* rename_;
  QLabel* targetRule_;
  QLabel* targetClasses_;
  QLabel* toolTipLabel_;
  QLineEdit* toolTip_;
  QLabel* helpLabel_;
  QLineEdit* help_;
  QTreeWidget* list_;
};

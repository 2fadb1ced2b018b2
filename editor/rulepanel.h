// The panel of a rule node: the rules it can search for and, for a search rule, its object
// classes, for an entry point, its start point.
#pragma once

#include "editor/propertypanel.h"

class QGroupBox;
class QLineEdit;
class RuleSet;
class SearchRule;
namespace kvaro {
class Oidtable;
}

class CRulePanel : public CPropertyPanel {
  Q_OBJECT

 public:
  // Shows `rule` of the rule set `owner` (neither owned; both must outlive the panel; a
  // null `owner` falls back to the rule's ownerRuleSet). `table` checks the names the
  // dialogs accept.
  CRulePanel(SearchRule* rule, RuleSet* owner, const kvaro::Oidtable& table, QWidget* parent);

  // Add Object Class: a name from the "Add Object Class" dialog, appended when the rule
  // takes it (a search rule that does not hold it yet).
  void AddObjectClass();
  // Remove Object Class: drops the selected row's object class. The last one stays, since
  // a search rule without object classes does not survive the next load.
  void RemoveObjectClass();
  // Add Search Rule: offers the other search rules of the rule set; message 61255 when
  // there are none.
  void AddSearchRule();
  // Remove Search Rule: drops the selected row's rule from the rules it can search for.
  void RemoveSearchRule();
  // Set Start Point: edits the entry point's URI with the "Set Start Point" dialog.
  void SetStartPoint();

 protected:
  void LayoutControls(int cx, int cy) override;

 private:
  // Shows the rule's values: name, searchable rules, object classes or start point. A
  // start point that does not parse gives message 61245 and leaves the three edits as
  // they are.
  void Fill();
  QLineEdit* CreateEdit(int id);
  QGroupBox* CreateGroupBox(int id, const QString& text);
  // Places a list `listHeight` high with its button row and the group box around them
  // from `groupTop`; returns the group's bottom edge.
  int PlaceListGroup(QGroupBox* group, QWidget* list, const std::vector<QPushButton*>& buttons,
                     int groupTop, int cx, int listHeight);
  // Places every control for width `cx` with lists `listHeight` high; returns the bottom
  // of the last group box.
  int PlaceControls(int cx, int listHeight);
  // Edits keep at least this width on a narrow panel.
  static constexpr int kMinimumEditWidth = 40;

  SearchRule* rule_;
  RuleSet* owner_;
  const kvaro::Oidtable& table_;
  const bool searchRule_;

  QLabel* title_;
  QLabel* nameLabel_;
  QLineEdit* nameEdit_;
  QPushButton* rename_;
  QGroupBox* searchGroup_;
  QPushButton* addSearchRule_;
  QPushButton* removeSearchRule_;
  QListWidget* searchList_;
  QGroupBox* secondGroup_;
  // Search rule only.
  QPushButton* addClass_ = nullptr;
  QPushButton* removeClass_ = nullptr;
  QListWidget* classList_ = nullptr;
  // Entry point only.
  QLabel* baseLabel_ = nullptr;
  QLineEdit* baseEdit_ = nullptr;
  QLabel* hostLabel_ = nullptr;
  QLineEdit* hostEdit_ = nullptr;
  QLabel* portLabel_ = nullptr;
  QLineEdit* portEdit_ = nullptr;
  QPushButton* setStartPoint_ = nullptr;
};

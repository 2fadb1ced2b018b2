// "Add Rule": collects the name, type and definition (object classes or start point) of a
// new rule. The dialog checks its values but never touches the model.
#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

#include "editor/startpointdialog.h"
#include "model/configuration.h"

class QGroupBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;

namespace kvaro {
class Oidtable;
}

class AddRuleDialog : public QDialog {
  Q_OBJECT

 public:
  // Whether a rule may take a name beside the other rules of its set (the rule set's
  // CheckRuleNameFree).
  using NameFree = std::function<msg::Outcome(const std::string& name)>;

  // `table` checks object classes and the search base; it must outlive the dialog.
  // `nameFree`, when given, refuses a name another rule has.
  explicit AddRuleDialog(const kvaro::Oidtable& table, QWidget* parent = nullptr,
                         NameFree nameFree = {});

  // Results, meaningful after the dialog ended with OK. Only the values of the chosen
  // type matter: `objectClasses` for a search rule, `ldapUri` for an entry point.
  std::string name;
  RuleType ruleType = RuleTypeSearchRule;
  std::vector<std::string> objectClasses;  // newest first
  std::string ldapUri;

  // Starts the object-class list with `classes` (in that order, duplicates dropped), as
  // if they had been added newest first.
  void SetObjectClasses(const std::vector<std::string>& classes);

 public slots:
  // Ends with OK only when the name has 3 or more characters and the chosen type's
  // values pass their check; otherwise stays open with a message that says why, and the
  // focus on the field at fault.
  void accept() override;

 private:
  void chooseSearchRule();
  void chooseEntryPoint();
  void addObjectClass();
  void removeObjectClass();
  // Enables the controls of the chosen rule type; Remove Object Class needs a search
  // rule with a selected object class.
  void updateWidgets();

  const kvaro::Oidtable& table_;
  NameFree nameFree_;
  QLineEdit* nameEdit_;
  QRadioButton* searchRuleRadio_;
  QRadioButton* entryPointRadio_;
  QListWidget* classList_;
  QPushButton* addClassButton_;
  QPushButton* removeClassButton_;
  StartPointEdits startPoint_;
};

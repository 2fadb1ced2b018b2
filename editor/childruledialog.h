// "Add Child Search Rule": picks one of the given search rule names.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

class QComboBox;
class QPushButton;

class ChildRuleDialog : public QDialog {
  Q_OBJECT

 public:
  // Offers `ruleNames` (copied) in their order, the first one chosen.
  explicit ChildRuleDialog(std::vector<std::string> ruleNames, QWidget* parent = nullptr);

  // The names offered.
  std::vector<std::string> ruleNames;
  // On OK: the chosen name. Empty before, and whenever there was nothing to choose.
  std::string selectedRule;

 public slots:
  void accept() override;

 private:
  // OK is enabled when there is a name to choose.
  void updateWidgets();

  QComboBox* combo_;
  QPushButton* okButton_;
};

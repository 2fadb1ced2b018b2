#include "editor/formlistpanel.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <algorithm>
#include <memory>
#include <string>

#include "editor/addformdialog.h"
#include "editor/configtree.h"
#include "editor/controlids.h"
#include "model/configuration.h"
#include "model/renaming.h"
#include "platform/support/messages.h"

CFormListPanel::CFormListPanel(CConfigTree* tree, QWidget* parent)
    : CRootListPanel(tree, QStringLiteral("Form List Properties"), 61273, 61225, 61226, parent,
                     false) {
  // Unlike the other panels, the form list has neither the dark blue title nor a
  // background of its own: it shows as a plain window.
  setPaintsBackground(false);
  for (const auto& form : tree->configuration().searchForms) forms_.push_back(form.get());
  for (SearchForm* form : forms_) InsertNameRow(list(), CConfigTree::FormCaption(*form), form);
  connect(addButton(), &QPushButton::clicked, this, &CFormListPanel::AddForm);
  connect(removeButton(), &QPushButton::clicked, this, &CFormListPanel::RemoveForm);
}

void CFormListPanel::AddForm() {
  Configuration& configuration = tree()->configuration();
  // Only a rule set with a search rule is offered: a form's target group and its other
  // input groups each search by a search rule of the form's rule set, so a form on a set
  // of entry points alone could never get one.
  std::vector<std::string> ruleSetNames;
  for (const auto& ruleSet : configuration.ruleSets) {
    const bool searchable =
        std::any_of(ruleSet->rules.begin(), ruleSet->rules.end(),
                    [](const auto& rule) { return rule->ruleType == RuleTypeSearchRule; });
    if (searchable) ruleSetNames.push_back(ruleSet->name);
  }
  if (ruleSetNames.empty()) {
    msg::Show(62181, {}, msg::Buttons::Ok, msg::Icon::Warning);
    addButton()->setFocus(Qt::OtherFocusReason);
    return;
  }

  std::string name;
  std::string ruleSetName;
  for (;;) {
    AddFormDialog dialog(ruleSetNames, this);
    // Asked again after a refused name: the dialog comes back as it was left.
    if (!name.empty()) {
      if (auto* edit = dialog.findChild<QLineEdit*>(ObjectName(kIdNameEdit))) {
        edit->setText(QString::fromStdString(name));
        edit->selectAll();
      }
      if (auto* combo = dialog.findChild<QComboBox*>(ObjectName(kIdNameChoiceCombo))) {
        const auto chosen = std::find(ruleSetNames.begin(), ruleSetNames.end(), ruleSetName);
        if (chosen != ruleSetNames.end())
          combo->setCurrentIndex(int(chosen - ruleSetNames.begin()));
      }
    }
    if (dialog.exec() != QDialog::Accepted) return;
    name = dialog.name;
    ruleSetName = dialog.ruleSetName;
    const msg::Outcome free = CheckFormNameFree(configuration, name);
    if (free) break;
    msg::Show(free);
  }
  RuleSet* ruleSet = configuration.FindRuleSet(ruleSetName);
  if (!ruleSet) return;

  // No target group yet: the form's own panel sets it, and a save refuses the form
  // until then.
  SearchForm* form = configuration.AddForm(std::make_unique<SearchForm>(name, ruleSet));
  if (!form) return;  // CheckFormNameFree has refused a name in use
  forms_.push_back(form);
  tree()->AddFormNode(form);
  AppendRecordRow(CConfigTree::FormCaption(*form), form);
}

void CFormListPanel::RemoveForm() {
  const int row = SelectedRow(list());
  if (row < 0) return;
  auto* form = RowRecord<SearchForm>(list(), row);
  auto found = std::find(forms_.begin(), forms_.end(), form);
  if (found == forms_.end()) return;
  // The form goes with all its input groups and fields, without a question: Undo brings
  // it back, as it brings back every other removal.
  if (!tree()->RemoveForm(form)) return;
  forms_.erase(found);
  DropRecordRow(row);
}

// Which panel each kind of tree node shows. One line per node kind.
#include <QLabel>

#include "editor/configtree.h"
#include "editor/controlids.h"
#include "editor/formlistpanel.h"
#include "editor/formpanel.h"
#include "editor/inputfieldpanel.h"
#include "editor/inputgrouppanel.h"
#include "editor/propertypanel.h"
#include "editor/rulepanel.h"
#include "editor/rulesetpanel.h"
#include "editor/rulesetspanel.h"
#include "model/configuration.h"

namespace {

// A titled, empty panel for node kinds whose own panel is not built yet.
class CPlainPanel : public CPropertyPanel {
 public:
  CPlainPanel(const QString& title, QWidget* parent) : CPropertyPanel(nullptr, title, parent) {
    title_ = CreateTitle(kIdPlainPanelTitle, QStringLiteral(" ") + title);
    Relayout();
  }

 protected:
  void LayoutControls(int cx, int) override { PlaceTitle(title_, cx); }

 private:
  QLabel* title_;
};

}  // namespace

CPropertyPanel* CreatePropertyPanel(CConfigTree* tree, int kind, const RecordRef& object,
                                    RuleSet* owner, QWidget* parent) {
  switch (kind) {
    // clang-format off
    case RuleSetsRoot:   return new CRuleSetsPanel(tree, parent);
    case FormsRoot:      return new CFormListPanel(tree, parent);
    case RuleSetNode:    return new CRuleSetPanel(tree, RecordAs<RuleSet>(object), parent);
    case RuleNode:       return new CRulePanel(RecordAs<SearchRule>(object), owner, tree->oidtable(), parent);
    case FormNode:       return new CFormPanel(tree, RecordAs<SearchForm>(object), parent);
    case InputGroupNode: return new CInputGroupPanel(tree, RecordAs<InputGroup>(object), parent);
    case InputFieldNode: return new CInputFieldPanel(RecordAs<InputField>(object), tree->oidtable(), parent);
      // clang-format on
  }
  return nullptr;
}

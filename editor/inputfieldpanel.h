// The panel of an input field node: the attribute types the field filters on.
#pragma once

#include "editor/propertypanel.h"

class InputField;
namespace kvaro {
class Oidtable;
}

class CInputFieldPanel : public CPropertyPanel {
  Q_OBJECT

 public:
  // Shows `field` (not owned); `table` checks new filter attribute types and must outlive
  // the panel.
  CInputFieldPanel(InputField* field, const kvaro::Oidtable& table, QWidget* parent);

  // Add Filter: asks for an attribute type and appends it unless the field has it.
  void AddFilter();
  // Remove Filter: drops the selected attribute type. The last one may go too; the field
  // then fails its check when the configuration is saved.
  void RemoveFilter();

 protected:
  void LayoutControls(int cx, int cy) override;

 private:
  InputField* field_;
  const kvaro::Oidtable& table_;
  QLabel* title_;
  QPushButton* add_;
  QPushButton* remove_;
  QPushButton* rename_;
  QTreeWidget* list_;
};

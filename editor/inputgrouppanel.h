// The panel of an input group node: the group's input fields with their filter attribute
// types.
#pragma once

#include "editor/propertypanel.h"

class InputGroup;

class CInputGroupPanel : public CPropertyPanel {
  Q_OBJECT

 public:
  // Shows `group` (not owned). `tree` supplies the attribute table and is kept in step.
  CInputGroupPanel(CConfigTree* tree, InputGroup* group, QWidget* parent);

  // Add Input: asks for a field until its name is new in the group (message 61252 and
  // the same dialog again otherwise) or the user cancels; then adds it and lists it.
  void AddInput();
  // Remove Input: the field of the selected row leaves the group and the tree and is
  // destroyed. Nothing without a selection.
  void RemoveInput();

 protected:
  void LayoutControls(int cx, int cy) override;

 private:
  // Empties the list and fills it from the group's fields (last field on top).
  void FillList();

  InputGroup* group_;
  QLabel* title_;
  QPushButton* add_;
  QPushButton* remove_;
  QPushButton* rename_;
  QTreeWidget* list_;
};

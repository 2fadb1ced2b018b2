// The panel of the "Forms" root: the captions of all search forms, with Remove Form.
#pragma once

#include <vector>

#include "propertypanel.h"

class SearchForm;

class CFormListPanel : public CPropertyPanel {
  Q_OBJECT

 public:
  // Lists the configuration's forms (copied into the panel's own list) in their order,
  // each as "name (rule set name)".
  CFormListPanel(CConfigTree* tree, QWidget* parent);

  // Remove Form: the form of the selected row leaves the configuration and the tree and
  // is destroyed with its groups and fields. Nothing without a selection.
  void RemoveForm();

 protected:
  void LayoutControls(int cx, int cy) override;

 private:
  std::vector<SearchForm*> forms_;
  QLabel* title_;
  QPushButton* add_;
  QPushButton* remove_;
  QListWidget* list_;
};

// The panel of the "Forms" root: the captions of all search forms, with Add Form and
// Remove Form.
#pragma once

#include <vector>

#include "editor/propertypanel.h"
#include "editor/rootlistpanel.h"

class SearchForm;

class CFormListPanel : public CRootListPanel {
  Q_OBJECT

 public:
  // Lists the configuration's forms (copied into the panel's own list) in their order,
  // each as "name (rule set name)".
  CFormListPanel(CConfigTree* tree, QWidget* parent);

  // Add Form: asks for a name and a rule set; a name another form has is refused with a
  // message and the dialog asked again. On OK a form without groups joins the end of the
  // configuration's forms, its node the top of "Forms" and its row the end of the list.
  // Without any rule set there is nothing a form could use: a message says so.
  void AddForm();

  // Remove Form: the form of the selected row leaves the configuration and the tree and
  // is destroyed with its groups and fields. Nothing without a selection.
  void RemoveForm();

 private:
  std::vector<SearchForm*> forms_;
};

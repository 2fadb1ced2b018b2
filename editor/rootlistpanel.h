// The base of the panels of the two roots ("Rule Sets" and "Forms"): a title, an Add and
// a Remove button in a row below it, and a name list of the root's records filling the
// rest. The list's rows carry their records as row data.
#pragma once

#include "editor/propertypanel.h"

class CRootListPanel : public CPropertyPanel {
  Q_OBJECT

 protected:
  // Creates the title (103, text `titleText`), Add (100, `addText`), Remove (101,
  // `removeText`, enabled only while a row is selected) and the name list (102), in this
  // order, which is their tab order. The texts are message ids. `colouredTitle` false
  // leaves the title in the default static colours.
  CRootListPanel(CConfigTree* tree, const QString& title, int titleText, int addText,
                 int removeText, QWidget* parent, bool colouredTitle = true);

  QPushButton* addButton() const { return add_; }
  QPushButton* removeButton() const { return remove_; }
  QListWidget* list() const { return list_; }

  // Appends the row of a record that has just joined the configuration and reports the
  // change.
  void AppendRecordRow(const QString& text, const RecordRef& record);
  // Takes out row `row`, whose record has just left the configuration, leaves no row
  // selected and reports the change.
  void DropRecordRow(int row);

  void LayoutControls(int cx, int cy) override;

 private:
  QLabel* title_;
  QPushButton* add_;
  QPushButton* remove_;
  QListWidget* list_;
};

// The two panes of the main window with a configuration tree over a configuration, for
// tests of the tree and its panels without the whole window. Header only, for tests that
// link the editor.
#pragma once

#include "editor/configtree.h"
#include "editor/panes.h"
#include "editor/propertypanel.h"
#include "platform/support/oidtable.h"
#include "widgets/controlids.h"

namespace testsupport {

struct EditorPanes {
  explicit EditorPanes(Configuration& config) : left(config, table, &right) {
    left.resize(300, 400);
    right.resize(420, 400);
    // Size changes reach hidden widgets only when they are shown.
    left.show();
    right.show();
  }
  CConfigTree* tree() { return left.tree(); }
  void Select(QTreeWidgetItem* item) { tree()->setCurrentItem(item); }
  // The control named `name` on the panel shown now.
  template <class T>
  T* Find(const char* name) {
    return right.findChild<T*>(QLatin1String(name));
  }
  template <class T>
  T* Find(int id) {
    return right.findChild<T*>(ObjectName(id));
  }
  // How many panels the right pane shows (one at the most).
  int PanelCount() {
    int count = 0;
    for (auto* panel : right.findChildren<CPropertyPanel*>()) {
      if (panel->isVisibleTo(&right)) ++count;
    }
    return count;
  }

  kvaro::Oidtable table;
  OVS_RHSClientWnd right;
  OVS_LHSClientWnd left;
};

}  // namespace testsupport

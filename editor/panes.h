// The two panes of the main window's splitter: the left one holds the configuration
// tree, the right one the property panel of the selected tree node. Both have a sunken
// edge, as the classic split window draws its panes.
#pragma once

#include <QFrame>
#include <QPointer>

class CConfigTree;
class Configuration;
class QScrollArea;
namespace kvaro {
class Oidtable;
}

// Right pane: shows at most one panel, sized to the whole pane, on a button-face ground.
// A panel that needs more room than the pane has (its controls would overlap or be cut
// off) keeps the room it needs, and the pane scrolls.
class OVS_RHSClientWnd : public QFrame {
  Q_OBJECT

 public:
  explicit OVS_RHSClientWnd(QWidget* parent = nullptr);

  // The panel shown now, or null.
  QWidget* panel() const { return panel_; }
  // Makes `panel` (a child of this pane, or null) the one shown and sizes it to the pane.
  // The pane does not own the panel; whoever made it deletes it.
  void SetPanel(QWidget* panel);
  // The scroll area the panel lives in (its viewport is the panel's parent).
  QScrollArea* scroller() const { return scroller_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  // Sizes the panel to the viewport, or to what it needs where that is more.
  void FitPanel();

  QScrollArea* scroller_;
  QPointer<QWidget> panel_;
  bool fitting_ = false;
};

// Left pane: holds the configuration tree over its whole area.
class OVS_LHSClientWnd : public QFrame {
  Q_OBJECT

 public:
  // Creates the tree (objectName "1024") for `configuration`; panels go to `rightPane`.
  OVS_LHSClientWnd(Configuration& configuration, const kvaro::Oidtable& table,
                   OVS_RHSClientWnd* rightPane, QWidget* parent = nullptr);

  CConfigTree* tree() const { return tree_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  CConfigTree* tree_;
};

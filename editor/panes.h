// The two panes of the main window's splitter: the left one holds the configuration
// tree, the right one the property panel of the selected tree node.
#pragma once

#include <QPointer>
#include <QWidget>

class CConfigTree;
class Configuration;
namespace kvaro {
class Oidtable;
}

// Right pane: shows at most one panel, sized to the whole pane, on a button-face ground.
class OVS_RHSClientWnd : public QWidget {
  Q_OBJECT

 public:
  explicit OVS_RHSClientWnd(QWidget* parent = nullptr);

  // The panel shown now, or null.
  QWidget* panel() const { return panel_; }
  // Makes `panel` (a child of this pane, or null) the one shown and sizes it to the pane.
  void SetPanel(QWidget* panel);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  QPointer<QWidget> panel_;
};

// Left pane: holds the configuration tree over its whole area.
class OVS_LHSClientWnd : public QWidget {
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

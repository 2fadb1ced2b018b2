#include "panes.h"

#include <QPainter>

#include "configtree.h"

OVS_RHSClientWnd::OVS_RHSClientWnd(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("OVS_RHSClientWnd"));
}

void OVS_RHSClientWnd::SetPanel(QWidget* panel) {
  panel_ = panel;
  if (panel_) {
    panel_->setGeometry(rect());
    panel_->update();
  }
}

void OVS_RHSClientWnd::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (panel_) panel_->setGeometry(rect());
}

void OVS_RHSClientWnd::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().color(QPalette::Button));
}

OVS_LHSClientWnd::OVS_LHSClientWnd(Configuration& configuration, const kvaro::Oidtable& table,
                                   OVS_RHSClientWnd* rightPane, QWidget* parent)
    : QWidget(parent), tree_(new CConfigTree(configuration, table, this)) {
  setObjectName(QStringLiteral("OVS_LHSClientWnd"));
  tree_->SetRightPane(rightPane);
  setFocusProxy(tree_);
}

void OVS_LHSClientWnd::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  tree_->setGeometry(rect());
  tree_->update();
}

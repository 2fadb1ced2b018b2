#include "editor/panes.h"

#include <QPainter>
#include <QResizeEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <algorithm>

#include "editor/configtree.h"
#include "editor/propertypanel.h"

namespace {

// The sunken edge of a pane: a shadow line outside, drawn by the frame itself.
void MakeSunken(QFrame* pane) {
  pane->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  pane->setLineWidth(1);
}

}  // namespace

OVS_RHSClientWnd::OVS_RHSClientWnd(QWidget* parent)
    : QFrame(parent), scroller_(new QScrollArea(this)) {
  setObjectName(QStringLiteral("OVS_RHSClientWnd"));
  MakeSunken(this);
  scroller_->setObjectName(QStringLiteral("panelScroller"));
  scroller_->setFrameShape(QFrame::NoFrame);
  scroller_->setWidgetResizable(false);
  scroller_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  scroller_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  scroller_->setBackgroundRole(QPalette::Button);
  scroller_->viewport()->setBackgroundRole(QPalette::Button);
  scroller_->setGeometry(contentsRect());
}

void OVS_RHSClientWnd::SetPanel(QWidget* panel) {
  if (panel_ == panel) return;
  if (panel_ && scroller_->widget() == panel_.data()) {
    // The panel stays alive until its owner deletes it.
    scroller_->takeWidget();
  }
  panel_ = panel;
  if (!panel_) return;
  scroller_->setWidget(panel_);
  FitPanel();
  panel_->update();
}

void OVS_RHSClientWnd::FitPanel() {
  if (!panel_ || fitting_) return;
  fitting_ = true;
  const QSize area = scroller_->maximumViewportSize();
  const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, scroller_);
  auto* panel = qobject_cast<CPropertyPanel*>(panel_.data());
  auto needFor = [panel, this](int width) {
    return panel ? panel->RequiredSize(width) : panel_->minimumSizeHint().expandedTo(QSize(0, 0));
  };
  QSize need = needFor(area.width());
  int width = std::max(area.width(), need.width());
  int height = area.height() - (width > area.width() ? bar : 0);
  if (need.height() > height) {
    // A vertical scroll bar takes its width from the panel.
    const int narrower = std::max(0, area.width() - bar);
    need = needFor(narrower);
    width = std::max(narrower, need.width());
    height = area.height() - (width > narrower ? bar : 0);
  }
  panel_->resize(width, std::max(height, need.height()));
  fitting_ = false;
}

void OVS_RHSClientWnd::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  scroller_->setGeometry(contentsRect());
  FitPanel();
}

void OVS_RHSClientWnd::paintEvent(QPaintEvent* event) {
  {
    QPainter painter(this);
    painter.fillRect(contentsRect(), palette().color(QPalette::Button));
  }
  QFrame::paintEvent(event);
}

OVS_LHSClientWnd::OVS_LHSClientWnd(Configuration& configuration, const kvaro::Oidtable& table,
                                   OVS_RHSClientWnd* rightPane, QWidget* parent)
    : QFrame(parent), tree_(new CConfigTree(configuration, table, this)) {
  setObjectName(QStringLiteral("OVS_LHSClientWnd"));
  MakeSunken(this);
  tree_->setFrameShape(QFrame::NoFrame);
  tree_->SetRightPane(rightPane);
  setFocusProxy(tree_);
}

void OVS_LHSClientWnd::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  tree_->setGeometry(contentsRect());
  tree_->update();
}

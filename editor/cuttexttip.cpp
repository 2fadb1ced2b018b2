#include "editor/cuttexttip.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QStyle>
#include <QToolTip>

bool IsTextCut(const QAbstractItemView* view, const QModelIndex& index) {
  if (!index.isValid()) return false;
  const QString text = index.data(Qt::DisplayRole).toString();
  if (text.isEmpty()) return false;
  const QRect item = view->visualRect(index);
  const QRect shown = item.intersected(view->viewport()->rect());
  // The item views draw their text this far in from each side of the cell.
  const int margin = view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
  const int textLeft = item.left() + margin;
  const int textRight = textLeft + QFontMetrics(view->font()).horizontalAdvance(text);
  return textLeft < shown.left() || textRight > shown.right() - margin + 1;
}

bool ShowTipWhereCut(QAbstractItemView* view, QHelpEvent* event) {
  const QModelIndex index = view->indexAt(event->pos());
  if (!IsTextCut(view, index)) {
    QToolTip::hideText();
    return false;
  }
  QToolTip::showText(event->globalPos(), index.data(Qt::DisplayRole).toString(), view->viewport(),
                     view->visualRect(index));
  return true;
}

// Dialog units: a dialog's sizes are given in units of its font, a quarter of the
// average character width across and an eighth of the character height down.
#pragma once

#include <QFontMetrics>
#include <QRect>
#include <QWidget>

namespace directory_ui {

inline QRect DialogUnits(const QWidget& dialog, int x, int y, int w, int h) {
  const QFontMetrics fm(dialog.font());
  const int cx = fm.averageCharWidth(), cy = fm.height();
  return QRect(x * cx / 4, y * cy / 8, w * cx / 4, h * cy / 8);
}

}  // namespace directory_ui

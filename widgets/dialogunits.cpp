#include "widgets/dialogunits.h"

#include <QFontMetrics>

namespace dlgu {

QFont DialogFont() {
  QFont font(QStringLiteral("Sans Serif"));
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(8);
  return font;
}

BaseUnits BaseUnitsOf(const QFont& font) {
  QFontMetrics metrics(font);
  static const QString kLetters =
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  BaseUnits units;
  // Average of the 52 letters, rounded half up: (width / 26 + 1) / 2.
  units.cx = (metrics.horizontalAdvance(kLetters) / 26 + 1) / 2;
  units.cy = metrics.height();
  if (units.cx < 1) units.cx = 1;
  if (units.cy < 1) units.cy = 1;
  return units;
}

namespace {
int Scale(int units, int base, int divisor) {
  // Round to nearest, symmetric for negative values.
  const int product = units * base;
  return product >= 0 ? (product + divisor / 2) / divisor : -((-product + divisor / 2) / divisor);
}
}  // namespace

int ToPixelsX(const QFont& font, int units) { return Scale(units, BaseUnitsOf(font).cx, 4); }

int ToPixelsY(const QFont& font, int units) { return Scale(units, BaseUnitsOf(font).cy, 8); }

QSize ToPixels(const QFont& font, QSize units) {
  const BaseUnits base = BaseUnitsOf(font);
  return QSize(Scale(units.width(), base.cx, 4), Scale(units.height(), base.cy, 8));
}

QPoint ToPixels(const QFont& font, QPoint units) {
  const BaseUnits base = BaseUnitsOf(font);
  return QPoint(Scale(units.x(), base.cx, 4), Scale(units.y(), base.cy, 8));
}

QRect ToPixels(const QFont& font, QRect units) {
  return QRect(ToPixels(font, units.topLeft()), ToPixels(font, units.size()));
}

}  // namespace dlgu

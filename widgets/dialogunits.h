// Dialog units: the font-relative measure dialog layouts are given in. One horizontal
// unit is a quarter of the dialog font's average character width, one vertical unit an
// eighth of its character height.
#pragma once

#include <QFont>
#include <QPoint>
#include <QRect>
#include <QSize>

namespace dlgu {

// The font dialogs are laid out in: the platform's sans-serif face, 8 points, standing
// for the classic "MS Sans Serif" dialog font.
QFont DialogFont();

// Base units of `font` in pixels: average character width (over the 52 Latin letters,
// rounded as the classic dialog manager rounds) and character height.
struct BaseUnits {
  int cx = 1;
  int cy = 1;
};
BaseUnits BaseUnitsOf(const QFont& font);

// Dialog units of `font` converted to pixels (rounded to nearest).
int ToPixelsX(const QFont& font, int units);
int ToPixelsY(const QFont& font, int units);
QSize ToPixels(const QFont& font, QSize units);
QPoint ToPixels(const QFont& font, QPoint units);
// A rectangle given as x, y, width, height in dialog units.
QRect ToPixels(const QFont& font, QRect units);

}  // namespace dlgu

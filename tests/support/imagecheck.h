// Looking at pictures in tests. Header only: the test support library itself does not
// link Qt Gui.
#pragma once

#include <QImage>
#include <QSet>

namespace testsupport {

// How many different colours `image` holds, counting up to `enough` (a blank or
// single-filled picture has one).
inline int ColourCount(const QImage& image, int enough = 16) {
  QSet<QRgb> colours;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      colours.insert(image.pixel(x, y));
      if (colours.size() >= enough) return int(colours.size());
    }
  }
  return int(colours.size());
}

}  // namespace testsupport

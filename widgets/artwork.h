// The program's own artwork, drawn in code: the About box picture and the window icon.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace art {

// The About box picture (bitmap 155): 418 x 322 pixels.
QPixmap AboutBitmap();
// The application icon in the usual sizes.
QIcon ApplicationIcon();
// The application icon drawn at `size` x `size` pixels (also what the installed icon
// files are rendered from).
QPixmap IconPixmap(int size);

}  // namespace art

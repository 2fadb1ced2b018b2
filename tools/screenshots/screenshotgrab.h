// Small helpers the screenshot makers share.
#pragma once

#include <QImage>
#include <QLineEdit>
#include <QSize>
#include <QWidget>

#include "widgets/controlids.h"

namespace shots {

// The widget drawn into an image, laid out at `size` when one is given.
inline QImage Grab(QWidget& widget, QSize size = QSize()) {
  if (size.isValid()) widget.resize(size);
  widget.show();  // lays the widget out at its final size before the grab
  QImage image = widget.grab().toImage();
  widget.hide();
  return image;
}

// Puts `text` into the line edit with control id `id` below `parent`, when there is one.
inline void SetText(QWidget& parent, int id, const QString& text) {
  if (auto* edit = parent.findChild<QLineEdit*>(ObjectName(id))) edit->setText(text);
}

}  // namespace shots

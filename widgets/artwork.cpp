#include "widgets/artwork.h"

#include <QFont>
#include <QFontMetrics>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <algorithm>

namespace art {

namespace {

// The emblem: a directory tree of three nodes under a magnifying glass, in a w x w box.
void DrawEmblem(QPainter& painter, const QRectF& box) {
  const qreal w = box.width();
  painter.save();
  painter.translate(box.topLeft());
  painter.setRenderHint(QPainter::Antialiasing);
  // Tree: a root with two children.
  QPen line(QColor(255, 255, 255), std::max<qreal>(1.0, w / 24));
  painter.setPen(line);
  const QPointF root(w * 0.30, w * 0.22), left(w * 0.14, w * 0.55), right(w * 0.46, w * 0.55);
  painter.drawLine(root, QPointF(root.x(), w * 0.40));
  painter.drawLine(QPointF(left.x(), w * 0.40), QPointF(right.x(), w * 0.40));
  painter.drawLine(QPointF(left.x(), w * 0.40), left);
  painter.drawLine(QPointF(right.x(), w * 0.40), right);
  painter.setPen(Qt::NoPen);
  const qreal node = w * 0.16;
  for (const QPointF& p : {root, left, right}) {
    painter.setBrush(QColor(250, 196, 60));
    painter.drawRoundedRect(QRectF(p.x() - node / 2, p.y() - node / 2, node, node), node / 5,
                            node / 5);
  }
  // Lens and handle.
  const QPointF centre(w * 0.62, w * 0.58);
  const qreal radius = w * 0.22;
  QPen handle(QColor(90, 60, 30), w / 10, Qt::SolidLine, Qt::RoundCap);
  painter.setPen(handle);
  painter.drawLine(centre + QPointF(radius * 0.7, radius * 0.7), QPointF(w * 0.94, w * 0.90));
  QRadialGradient glass(centre - QPointF(radius / 3, radius / 3), radius * 1.2);
  glass.setColorAt(0, QColor(255, 255, 255, 200));
  glass.setColorAt(1, QColor(150, 200, 255, 110));
  painter.setBrush(glass);
  painter.setPen(QPen(QColor(230, 230, 240), std::max<qreal>(1.0, w / 20)));
  painter.drawEllipse(centre, radius, radius);
  painter.restore();
}

}  // namespace

QPixmap AboutBitmap() {
  QPixmap pixmap(418, 322);
  QPainter painter(&pixmap);
  QLinearGradient sky(0, 0, 0, 322);
  sky.setColorAt(0, QColor(0, 0, 127));
  sky.setColorAt(1, QColor(20, 60, 140));
  painter.fillRect(pixmap.rect(), sky);
  // A band of faint directory-entry outlines across the lower part.
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(QColor(255, 255, 255, 40), 1));
  for (int i = 0; i < 9; ++i) {
    painter.drawRoundedRect(QRectF(14 + i * 45, 250 + (i % 2) * 16, 36, 22), 4, 4);
  }
  DrawEmblem(painter, QRectF(24, 36, 150, 150));

  painter.setPen(QColor(255, 255, 255));
  QFont heading(QStringLiteral("Sans Serif"));
  heading.setStyleHint(QFont::SansSerif);
  heading.setPixelSize(30);
  heading.setBold(true);
  // The name has to fit beside the emblem whatever face the platform supplies.
  while (heading.pixelSize() > 12 &&
         QFontMetrics(heading).horizontalAdvance(QStringLiteral("Orvelle32Setup")) > 220) {
    heading.setPixelSize(heading.pixelSize() - 1);
  }
  painter.setFont(heading);
  painter.drawText(QRectF(186, 60, 224, 40), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("Orvelle32Setup"));
  QFont body = heading;
  body.setPixelSize(14);
  body.setBold(false);
  painter.setFont(body);
  painter.drawText(
      QRectF(188, 104, 220, 60), Qt::AlignLeft | Qt::TextWordWrap,
      QStringLiteral("Set-up and configuration of the\nOrvelle directory search client"));
  painter.setPen(QColor(250, 196, 60));
  painter.drawText(QRectF(188, 168, 220, 22), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("Version 3.0"));
  painter.setPen(QColor(200, 210, 240));
  body.setPixelSize(12);
  painter.setFont(body);
  painter.drawText(QRectF(14, 296, 390, 20), Qt::AlignRight | Qt::AlignVCenter,
                   QStringLiteral("Press Enter or Esc to close"));
  return pixmap;
}

QIcon ApplicationIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128}) icon.addPixmap(IconPixmap(size));
  return icon;
}

QPixmap IconPixmap(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0, 0, 127));
  painter.drawRoundedRect(QRectF(0, 0, size, size), size / 6.0, size / 6.0);
  DrawEmblem(painter, QRectF(size * 0.04, size * 0.04, size * 0.92, size * 0.92));
  painter.end();
  return pixmap;
}

}  // namespace art

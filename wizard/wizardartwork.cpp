// The wizard's side picture: a small directory tree under a magnifying glass on a
// night-blue gradient, painted once at run time.
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QRadialGradient>

#include "wizard/setupwizard.h"

namespace {

void Node(QPainter& p, QPointF centre, double radius, const QColor& fill) {
  p.setPen(QPen(QColor(255, 255, 255, 230), 1.2));
  p.setBrush(fill);
  p.drawEllipse(centre, radius, radius);
}

}  // namespace

QPixmap WizardArtwork() {
  constexpr int kWidth = 110;
  constexpr int kHeight = 226;
  QPixmap pixmap(kWidth, kHeight);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);

  QLinearGradient sky(0, 0, 0, kHeight);
  sky.setColorAt(0.0, QColor(16, 32, 84));
  sky.setColorAt(0.6, QColor(24, 92, 128));
  sky.setColorAt(1.0, QColor(40, 150, 140));
  p.fillRect(pixmap.rect(), sky);

  // Faint stars in a fixed scatter.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 255, 255, 90));
  const int stars[][2] = {{12, 14}, {31, 40}, {77, 9},  {95, 33}, {58, 22},
                          {20, 70}, {88, 61}, {47, 55}, {7, 102}, {101, 88}};
  for (const auto& s : stars) p.drawEllipse(QPointF(s[0], s[1]), 1.0, 1.0);

  // A directory tree: one root, three branches, leaves below.
  const QPointF root(55, 48);
  const QPointF branches[] = {{25, 92}, {55, 92}, {85, 92}};
  const QPointF leaves[] = {{15, 134}, {35, 134}, {55, 134}, {75, 134}, {95, 134}};
  p.setPen(QPen(QColor(220, 235, 255, 200), 1.5));
  for (const QPointF& b : branches) p.drawLine(root, b);
  p.drawLine(branches[0], leaves[0]);
  p.drawLine(branches[0], leaves[1]);
  p.drawLine(branches[1], leaves[2]);
  p.drawLine(branches[2], leaves[3]);
  p.drawLine(branches[2], leaves[4]);
  Node(p, root, 9, QColor(245, 180, 60));
  for (const QPointF& b : branches) Node(p, b, 7, QColor(90, 170, 230));
  for (const QPointF& l : leaves) Node(p, l, 5, QColor(150, 220, 200));

  // A magnifying glass over the lower right leaves.
  const QPointF lens(72, 168);
  QRadialGradient glass(lens, 20);
  glass.setColorAt(0.0, QColor(255, 255, 255, 70));
  glass.setColorAt(1.0, QColor(255, 255, 255, 20));
  p.setBrush(glass);
  p.setPen(QPen(QColor(235, 235, 240), 4));
  p.drawEllipse(lens, 18, 18);
  p.setPen(QPen(QColor(120, 72, 40), 7, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(lens + QPointF(13, 13), lens + QPointF(30, 32));

  // A band along the foot.
  QPainterPath band;
  band.moveTo(0, 214);
  band.cubicTo(30, 204, 70, 222, kWidth, 208);
  band.lineTo(kWidth, kHeight);
  band.lineTo(0, kHeight);
  band.closeSubpath();
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 255, 255, 60));
  p.drawPath(band);
  p.end();
  return pixmap;
}

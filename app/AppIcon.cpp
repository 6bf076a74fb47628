#include "AppIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QStringList>

namespace {

QPixmap IconPixmap(int size) {
  QPixmap pm(size, size);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal s = size;
  // Film strip body.
  QPainterPath body;
  body.addRoundedRect(QRectF(s * 0.06, s * 0.16, s * 0.88, s * 0.68), s * 0.1, s * 0.1);
  QLinearGradient g(0, 0, 0, s);
  g.setColorAt(0, QColor(28, 86, 110));
  g.setColorAt(1, QColor(12, 44, 62));
  p.fillPath(body, g);
  // Sprocket holes.
  p.setBrush(QColor(255, 253, 234));
  p.setPen(Qt::NoPen);
  for (int i = 0; i < 4; ++i) {
    const qreal x = s * (0.14 + i * 0.2);
    p.drawRect(QRectF(x, s * 0.2, s * 0.1, s * 0.07));
    p.drawRect(QRectF(x, s * 0.73, s * 0.1, s * 0.07));
  }
  // The "V" of the cut.
  QPen pen(QColor(246, 176, 64), s * 0.09, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  p.setPen(pen);
  p.drawPolyline(QPolygonF(
      {QPointF(s * 0.3, s * 0.36), QPointF(s * 0.5, s * 0.64), QPointF(s * 0.7, s * 0.36)}));
  return pm;
}

}  // namespace

QIcon MakeAppIcon() {
  QIcon icon;
  for (int size : {16, 32, 48}) icon.addPixmap(IconPixmap(size));
  return icon;
}

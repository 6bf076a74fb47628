#include "PlayerRules.h"

#include <QGuiApplication>
#include <QScreen>

QList<QRect> MonitorRects() {
  QList<QRect> rects;
  QScreen* primary = QGuiApplication::primaryScreen();
  if (primary != nullptr) rects << primary->geometry();
  for (QScreen* s : QGuiApplication::screens())
    if (s != primary) rects << s->geometry();
  return rects;
}

QPoint FullScreenOrigin(QPoint windowPos, const QList<QRect>& monitors) {
  for (const QRect& m : monitors)
    if (m.contains(windowPos)) return m.topLeft();
  for (const QRect& m : monitors)
    if (windowPos.x() >= m.left() && windowPos.x() <= m.right()) return m.topLeft();
  return monitors.isEmpty() ? QPoint(0, 0) : monitors.front().topLeft();
}

bool CoversMonitor(const QRect& window, const QList<QRect>& monitors) {
  for (const QRect& m : monitors)
    if (m == window) return true;
  return false;
}

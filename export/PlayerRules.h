// The player window's decisions that need no window: where the Max button goes full screen, and
// whether a window rectangle is one monitor's whole area.
#pragma once

#include <QList>
#include <QPoint>
#include <QRect>

// The monitors' desktop rectangles as the display server reports them, the primary one first.
QList<QRect> MonitorRects();

// The top-left corner of the monitor that holds a window whose top-left corner is `windowPos`:
// the monitor containing that point, else the first whose columns hold its x (the window hangs
// above or below it), else the first monitor's corner ((0, 0) without monitors).
QPoint FullScreenOrigin(QPoint windowPos, const QList<QRect>& monitors);

// True when `window` (desktop coordinates) is exactly the area of one of the monitors: the
// window is full screen there and the video takes all of it.
bool CoversMonitor(const QRect& window, const QList<QRect>& monitors);

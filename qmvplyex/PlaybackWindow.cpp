// The window side of playback: the program's windows are reached through Qt by their native ids
// (the library only ever runs inside the program), the monitors are Qt's screens.
#include <QApplication>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include "Media.h"
#include "PlaybackState.h"

namespace plyex {

namespace {

// The child window the X sinks draw in, and the clip window it belongs to.
QPointer<QWindow> g_videoWindow;
HWND g_videoParent = 0;
// The child window of the clip window before, until the sink draws in the new one.
QPointer<QWindow> g_retiredWindow;

bool HaveGui() {
  return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
}

RECT ToRect(const QRect& r) {
  return RECT{r.x(), r.y(), r.x() + r.width(), r.y() + r.height()};
}

// The window of this program with that native id (only windows that exist already: asking a
// window for its id would create it).
QWindow* FindWindow(HWND id) {
  if (!HaveGui() || id == 0) return nullptr;
  for (QWindow* w : QGuiApplication::allWindows())
    if (w->handle() != nullptr && w->winId() == id) return w;
  return nullptr;
}

QWidget* FindWidget(HWND id) {
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr || id == 0)
    return nullptr;
  return QWidget::find(static_cast<WId>(id));
}

// Window flags with the frame and caption gone.
Qt::WindowFlags Borderless(Qt::WindowFlags flags) {
  return flags | Qt::FramelessWindowHint;
}

void SetWidgetFlags(QWidget* widget, Qt::WindowFlags flags) {
  if (widget->windowFlags() == flags) return;
  const bool visible = widget->isVisible();
  widget->setWindowFlags(flags);
  if (visible) widget->show();
}

}  // namespace

int ReadMonitors(RECT* table, int max) {
  if (!HaveGui()) return 0;
  QScreen* primary = QGuiApplication::primaryScreen();
  if (primary == nullptr) return 0;
  int count = 0;
  table[count++] = ToRect(primary->geometry());
  for (QScreen* screen : QGuiApplication::screens()) {
    if (count >= max) break;
    if (screen != primary) table[count++] = ToRect(screen->geometry());
  }
  return count;
}

bool MonitorAt(int x, int y, RECT* out) {
  if (!HaveGui()) return false;
  QScreen* primary = QGuiApplication::primaryScreen();
  if (primary == nullptr) return false;
  QScreen* found = primary;
  if (!primary->geometry().contains(x, y)) {
    for (QScreen* screen : QGuiApplication::screens())
      if (screen->geometry().contains(x, y)) {
        found = screen;
        break;
      }
  }
  *out = ToRect(found->geometry());
  return true;
}

bool MonitorOfWindow(HWND window, RECT* out) {
  QPoint origin(0, 0);
  if (QWidget* widget = FindWidget(window))
    origin = widget->mapToGlobal(QPoint(0, 0));
  else if (QWindow* w = FindWindow(window))
    origin = w->mapToGlobal(QPoint(0, 0));
  return MonitorAt(origin.x(), origin.y(), out);
}

bool ClientSize(HWND window, int* width, int* height) {
  QSize size;
  if (QWidget* widget = FindWidget(window))
    size = widget->size();
  else if (QWindow* w = FindWindow(window))
    size = w->size();
  else
    return false;
  *width = size.width();
  *height = size.height();
  return true;
}

bool EnterFullScreen(HWND window, const RECT& rect, bool save) {
  PlaybackState& s = State();
  const QRect target(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
  if (QWidget* widget = FindWidget(window)) {
    if (save) {
      s.savedStyle = static_cast<LONG>(widget->windowFlags().toInt());
      s.savedWindow = ToRect(widget->frameGeometry());
      s.savedClient = ToRect(QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size()));
    }
    SetWidgetFlags(widget, Borderless(widget->windowFlags()));
    if (widget->isWindow())
      widget->setGeometry(target);
    else
      widget->setGeometry(
          QRect(widget->parentWidget()->mapFromGlobal(target.topLeft()), target.size()));
    widget->raise();
    return true;
  }
  QWindow* w = FindWindow(window);
  if (w == nullptr) return false;
  if (save) {
    s.savedStyle = static_cast<LONG>(w->flags().toInt());
    s.savedWindow = ToRect(w->frameGeometry());
    s.savedClient = ToRect(QRect(w->mapToGlobal(QPoint(0, 0)), w->size()));
  }
  w->setFlags(Borderless(w->flags()));
  w->setGeometry(target);
  w->raise();
  return true;
}

bool LeaveFullScreen(HWND window) {
  PlaybackState& s = State();
  const auto flags = Qt::WindowFlags::fromInt(static_cast<int>(s.savedStyle));
  const RECT& c = s.savedClient;
  const QRect inner(c.left, c.top, c.right - c.left, c.bottom - c.top);
  if (QWidget* widget = FindWidget(window)) {
    if (s.savedStyle != 0) SetWidgetFlags(widget, flags);
    if (!inner.isEmpty()) {
      if (widget->isWindow())
        widget->setGeometry(inner);
      else
        widget->setGeometry(
            QRect(widget->parentWidget()->mapFromGlobal(inner.topLeft()), inner.size()));
    }
    widget->update();
    return true;
  }
  QWindow* w = FindWindow(window);
  if (w == nullptr) return false;
  if (s.savedStyle != 0) w->setFlags(flags);
  if (!inner.isEmpty()) w->setGeometry(inner);
  w->requestUpdate();
  return true;
}

uintptr_t PlaceVideoWindow(HWND clip, const RECT* rect, bool* child) {
  *child = false;
  if (clip == 0) return 0;
  QWindow* parent = FindWindow(clip);
  if (parent == nullptr || !media::OnX11()) return clip;
  if (g_videoWindow != nullptr && g_videoParent != clip) {
    DropRetiredVideoWindow();
    g_retiredWindow = g_videoWindow;
    g_videoWindow = nullptr;
  }
  QRect geometry(QPoint(0, 0), parent->size());
  if (rect != nullptr)
    geometry = QRect(rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top);
  if (geometry.width() < 1 || geometry.height() < 1) geometry.setSize(QSize(1, 1));
  if (g_videoWindow == nullptr) {
    // Only drawn in: input and focus stay with the clip window.
    auto* w = new QWindow(parent);
    w->setFlags(Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus);
    g_videoWindow = w;
    g_videoParent = clip;
  }
  g_videoWindow->setGeometry(geometry);
  g_videoWindow->setVisible(true);
  // The sink reaches the window through a connection of its own: it must exist on the server.
  QGuiApplication::sync();
  *child = true;
  return static_cast<uintptr_t>(g_videoWindow->winId());
}

void DropVideoWindow() {
  DropRetiredVideoWindow();
  if (g_videoWindow != nullptr) {
    delete g_videoWindow.data();
    QGuiApplication::sync();
  }
  g_videoWindow = nullptr;
  g_videoParent = 0;
}

void DropRetiredVideoWindow() {
  if (g_retiredWindow != nullptr) {
    delete g_retiredWindow.data();
    QGuiApplication::sync();
  }
  g_retiredWindow = nullptr;
}

}  // namespace plyex

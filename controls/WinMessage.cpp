#include "WinMessage.h"

#include <QCoreApplication>
#include <QVariant>

WinMsgEvent::WinMsgEvent(uint32_t msg, WPARAM wp, LPARAM lp)
    : QEvent(Type()), message(msg), wParam(wp), lParam(lp) {}

QEvent::Type WinMsgEvent::Type() {
  // A fixed number rather than a registered one, so that every library that posts
  // messages (the preview player, the playback library) agrees with the program on it.
  return static_cast<QEvent::Type>(QEvent::User + 0x417);
}

LRESULT SendMsg(QObject* to, uint32_t msg, WPARAM wp, LPARAM lp) {
  if (!to) return 0;
  WinMsgEvent ev(msg, wp, lp);
  QCoreApplication::sendEvent(to, &ev);
  return ev.result;
}

void PostMsg(QObject* to, uint32_t msg, WPARAM wp, LPARAM lp) {
  if (!to) return;
  QCoreApplication::postEvent(to, new WinMsgEvent(msg, wp, lp));
}

int CtrlId(const QObject* widget) {
  if (!widget) return -1;
  const QVariant v = widget->property("vantrelCtrlId");
  return v.isValid() ? v.toInt() : -1;
}

void SetCtrlId(QObject* widget, int id) {
  if (widget) widget->setProperty("vantrelCtrlId", id);
}

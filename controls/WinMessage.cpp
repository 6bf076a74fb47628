#include "WinMessage.h"

#include <QCoreApplication>
#include <QVariant>

WinMsgEvent::WinMsgEvent(uint32_t msg, WPARAM wp, LPARAM lp)
    : QEvent(Type()), message(msg), wParam(wp), lParam(lp) {}

QEvent::Type WinMsgEvent::Type() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
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

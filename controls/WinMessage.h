// Window messages between the program's windows: one custom event type carries
// (message, wParam, lParam). "Send" delivers at once and returns the handler's result,
// "post" queues the message. A window's message map is its event() switch.
#pragma once

#include <QEvent>
#include <QObject>
#include <cstdint>

#include "Messages.h"

using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;

class WinMsgEvent : public QEvent {
 public:
  WinMsgEvent(uint32_t msg, WPARAM wp, LPARAM lp);

  // The one event type every message travels as.
  static QEvent::Type Type();

  uint32_t message;
  WPARAM wParam;
  LPARAM lParam;
  LRESULT result = 0;  // set by the receiver's handler
};

// Delivers the message now and returns what the receiver's handler stored in `result`
// (0 when the receiver is null or does not handle it).
LRESULT SendMsg(QObject* to, uint32_t msg, WPARAM wp = 0, LPARAM lp = 0);
// Queues the message for the receiver; nothing happens when it is null.
void PostMsg(QObject* to, uint32_t msg, WPARAM wp = 0, LPARAM lp = 0);

// Packs and unpacks the low and high 16-bit words of a message parameter.
constexpr LPARAM MakeLParam(int low, int high) {
  return static_cast<LPARAM>((static_cast<uint32_t>(high & 0xFFFF) << 16) |
                             static_cast<uint32_t>(low & 0xFFFF));
}
constexpr int LoWord(LPARAM v) {
  return static_cast<int>(static_cast<uint32_t>(v) & 0xFFFF);
}
constexpr int HiWord(LPARAM v) {
  return static_cast<int>((static_cast<uint32_t>(v) >> 16) & 0xFFFF);
}

// The control id a widget was given when its window was built (-1 when none).
int CtrlId(const QObject* widget);
void SetCtrlId(QObject* widget, int id);

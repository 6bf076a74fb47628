// The engines' message window for a Qt receiver: posts become WinMsgEvents, and "dispatch one
// pending message" processes one short batch of the thread's pending events, at most every
// interval so that a copy loop calling it per sample stays as fast as a plain remux.
#pragma once

#include <QObject>
#include <QPointer>
#include <chrono>

#include "HostWindow.h"

class QtMsgWindow : public CMsgWindow {
 public:
  explicit QtMsgWindow(QObject* receiver,
                       std::chrono::milliseconds interval = std::chrono::milliseconds(10));

  void PostMsg(uint32_t msg, uintptr_t wParam, intptr_t lParam) override;
  // Safe to call from a handler it dispatched: the nested call returns at once.
  void DispatchOnePending() override;

  QObject* Receiver() const { return m_receiver; }
  // How many times events were actually processed (for tests and diagnostics).
  int DispatchCount() const { return m_nDispatched; }

 private:
  QPointer<QObject> m_receiver;
  std::chrono::milliseconds m_interval;
  std::chrono::steady_clock::time_point m_last{};
  bool m_bDispatching = false;
  int m_nDispatched = 0;
};

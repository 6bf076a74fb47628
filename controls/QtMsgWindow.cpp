#include "QtMsgWindow.h"

#include <QCoreApplication>
#include <QEventLoop>

#include "WinMessage.h"

QtMsgWindow::QtMsgWindow(QObject* receiver, std::chrono::milliseconds interval)
    : m_receiver(receiver), m_interval(interval) {}

void QtMsgWindow::PostMsg(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  // A receiver already gone takes nothing, as a destroyed window does.
  ::PostMsg(m_receiver.data(), msg, wParam, lParam);
}

void QtMsgWindow::DispatchOnePending() {
  // A handler run from here may start work that dispatches again; the outer call already
  // keeps the window alive.
  if (m_bDispatching) return;
  const auto now = std::chrono::steady_clock::now();
  if (m_nDispatched > 0 && now - m_last < m_interval) return;
  m_last = now;
  m_bDispatching = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{m_bDispatching};
  ++m_nDispatched;
  // One pass over what is pending now, input included, so the window stays live during a job.
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

#include "CPlayerWnd.h"

#include "WinMessage.h"

CPlayerWnd::CPlayerWnd(QWidget* owner)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint), m_pOwner(owner) {
  setWindowTitle("Vantrel Player");
}

CPlayerWnd::~CPlayerWnd() = default;

void CPlayerWnd::ResetEngine() {}
void CPlayerWnd::UseMixingRenderer() {}
const RECT* CPlayerWnd::ChooseOutput(int) {
  return nullptr;
}
void CPlayerWnd::OpenClip(const QString&, const RECT*) {}
void CPlayerWnd::PlayOrStop(int) {}
void CPlayerWnd::FullScreenAt(bool, int, int) {}

bool CPlayerWnd::event(QEvent* e) {
  if (e->type() == WinMsgEvent::Type()) {
    auto* msg = static_cast<WinMsgEvent*>(e);
    if (msg->message == WM_PLAYER_COMMAND) {
      // 0 stop, 1 seek and play, 5 shut down.
      if (msg->wParam == 5) {
        m_bShutDown = true;
        hide();
      } else if (msg->wParam == 0) {
        hide();
      }
    }
    return true;
  }
  return QWidget::event(e);
}

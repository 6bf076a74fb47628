// The player window: a borderless window that plays the export clip full screen on the chosen
// output. Created hidden with the main window; commands arrive as WM_PLAYER_COMMAND.
#pragma once

#include <QWidget>

class CPlayerWnd : public QWidget {
  Q_OBJECT

 public:
  explicit CPlayerWnd(QWidget* owner);

  bool IsShutDown() const { return m_bShutDown; }

 protected:
  bool event(QEvent* e) override;

 private:
  QWidget* m_pOwner;
  bool m_bShutDown = false;
};

// The player window: a skinned popup in which Video Export plays a clip, full screen on the
// chosen output. It binds Skin and libqmvplyex.so for itself (the same engine state as the main
// window's binding), reports the play position to its owner every 500 ms (WM_PLAYER_NOTIFY) and
// takes WM_PLAYER_COMMAND 0 (stop), 1 (seek to lParam ms and play) and 5 (shut down). Created
// hidden with the main window; the close button hides it again.
#pragma once

#include <QString>
#include <QWidget>

#include "QmvPlyEx.h"

class CPlayerWnd : public QWidget {
  Q_OBJECT

 public:
  explicit CPlayerWnd(QWidget* owner);
  ~CPlayerWnd() override;

  // The operations the export pane calls.
  // If playing, plyStop; plyCleanUp; plyInit; SetClipWnd(this window).
  void ResetEngine();
  // plyUseVMR.
  void UseMixingRenderer();
  // SetOutput(index) for output 0, 1 or 2: the output's desktop rectangle, or null when the
  // engine (or the function) is missing.
  const RECT* ChooseOutput(int index);
  // title = path; plyPlyUrl(path); then the video rectangle (the given one, or the window's
  // inner area when null) goes to SetMv, and the window is redrawn.
  void OpenClip(const QString& path, const RECT* rect);
  // stop 0: plyStart; non-zero: plyStop.
  void PlayOrStop(int stop);
  // Only while playing: SetFullScr(on, &position).
  void FullScreenAt(bool on, int x, int y);

  bool IsShutDown() const { return m_bShutDown; }

 protected:
  bool event(QEvent* e) override;

 private:
  QWidget* m_pOwner;
  bool m_bShutDown = false;
};

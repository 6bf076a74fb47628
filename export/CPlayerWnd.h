// The player window: a skinned popup in which Video Export plays a clip, full screen on the
// chosen output. It binds Skin and libqmvplyex.so for itself (the same engine state as the main
// window's binding), reports the play position to its owner every 500 ms (WM_PLAYER_NOTIFY) and
// takes WM_PLAYER_COMMAND 0 (stop), 1 (seek to lParam ms and play) and 5 (shut down). Created
// hidden with the main window; the close button hides it again. Without the skin it plays and
// reports all the same, unskinned.
//
// A report's wParam holds its kind in the low word (1 playing at lParam ms, 0 not playing) and,
// in the high word, the report generation it was made in: the owner starts a new generation for
// each output, and a report of an older one (still queued when the output began) is stale.
//
// The engine draws the video straight into this window's native window (its winId) inside the
// video rectangle; while a clip plays the window paints only around it.
#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>
#include <memory>

#include "QmvPlyEx.h"
#include "WinMessage.h"

class CQmvButton;
class SkinModule;
class SkinnedFrame;

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

  // Reports from now on belong to a new output; the generation is never 0.
  void NewReportGeneration();
  unsigned Generation() const { return m_generation; }
  static constexpr WPARAM ReportParam(int kind, unsigned generation) {
    return static_cast<WPARAM>((generation & 0xFFFFu) << 16 |
                               (static_cast<unsigned>(kind) & 0xFFFFu));
  }
  static constexpr int ReportKind(WPARAM wp) { return static_cast<int>(wp & 0xFFFFu); }
  // 0 for a report that names no generation (one the owner sent itself).
  static constexpr unsigned ReportGeneration(WPARAM wp) {
    return static_cast<unsigned>(wp >> 16 & 0xFFFFu);
  }

  // State for the owner and the tests.
  const QString& Title() const { return m_strTitle; }
  const RECT& VideoRect() const { return m_rcVideo; }
  bool TimerRunning() const { return m_timer.isActive(); }
  bool EngineLoaded() const { return m_hPlyModule != nullptr; }
  bool SkinLoaded() const;
  CQmvButton* TitleButton(int id) const;
  // Hit test in window coordinates: HTCAPTION, HTBOTTOMRIGHT (a fixed 10-pixel corner) or
  // HTCLIENT.
  int HitTest(QPoint windowPos) const;

 protected:
  bool event(QEvent* e) override;
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void showEvent(QShowEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;

 private:
  // The engine export `name` as type Fn, looked up now; null when the library or name is missing.
  template <typename Fn>
  Fn Ply(const char* name) const;
  bool IsPlaying() const;
  void Report(int kind, LONG position);

  void SetUpSkin();
  void OnTimer();
  void OnCommand(WPARAM command, LPARAM position);
  void OnClose();
  void OnMax();
  void LeaveFullScreen();
  void ShutDown();
  // Where the video goes: the inner area, or the whole window while it fills a monitor.
  RECT VideoArea() const;
  void ApplyVideoRect();
  // The skin's outline, or none while the window fills a monitor.
  void ApplyShape();
  void PlaceTitleButtons();

  QWidget* m_pOwner;
  std::unique_ptr<SkinModule> m_skin;
  SkinnedFrame* m_frame = nullptr;
  void* m_hPlyModule = nullptr;
  QString m_strTitle;
  RECT m_rcVideo{0, 0, 0, 0};
  CQmvButton* m_btnClose = nullptr;
  CQmvButton* m_btnMax = nullptr;
  CQmvButton* m_btnSys = nullptr;
  QTimer m_timer;
  bool m_bShaped = false;  // set up with the skin's outline
  bool m_bShutDown = false;
  unsigned m_generation = 1;
};

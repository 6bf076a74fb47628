// The Video Export pane's behaviour in the main window: output choice, Start and Stop through the
// player window or the DV tape, and the position displays that follow the player window's
// reports. It binds the functions of the main window's libqmvplyex.so by name at each use.
#pragma once

#include <QString>
#include <functional>
#include <memory>

#include "WinMessage.h"

class PaneHost;
class QObject;
class QProgressBar;
class QSlider;

class ExportPane {
 public:
  explicit ExportPane(PaneHost& dlg);
  ~ExportPane();

  // Browse 1043, Start 1047, Stop 1048.
  bool OnCommand(int id);
  // WM_PLAYER_NOTIFY and WM_GRAPH_NOTIFY.
  LRESULT OnMessage(uint32_t msg, WPARAM wp, LPARAM lp);
  // The slider 1045 let go by the user (after a drag of its handle or a click on its groove),
  // or moved by its keys: seek there while something plays.
  void OnSliderReleased();
  // Stops a tape recording still running (tear-down: before the engine goes away).
  void ReleaseTapeIfRecording();
  bool IsRecording() const { return m_bTaping; }

  // The open-file dialog of this pane's Browse: a chosen path, or empty. Browse reaches it through
  // the main window's pickClipFile, which tests replace.
  QString BrowseDialog();
  // The tape question (true for Yes); tests replace it.
  std::function<bool(const QString& text)> askTapeQuestion;

 private:
  template <typename Fn>
  Fn Bind(const char* name) const;
  void Start();
  void StartTape(const QString& path);
  void StartPlayer(const QString& path, int index);
  void Stop();
  void ReleaseTape();
  void ResetDisplays();
  void OnPosition(int32_t ms);
  // The clip's length in ms as the slider's and the progress bar's range; 0 for unknown.
  void SetLength(int32_t ms);
  // The engine's length of the clip it plays or records, where the clip information had none.
  void LengthFromEngine();
  // Starts a new output of the player window's reports: those of the output before are stale.
  void BeginOutput();

  PaneHost& m_dlg;
  QSlider* m_slider;
  QProgressBar* m_bar;
  // Seeks on a release after a click on the slider's groove and on the slider's keys.
  std::unique_ptr<QObject> m_sliderWatch;
  // Set from a recording that started until the transport is stopped and the engine released.
  bool m_bTaping = false;
};

// The Video Montage pane's behaviour in the main window: source clip, timeline buttons, section
// list and the montage job. The models do the work; this class moves texts between them and the
// pane's controls.
#pragma once

#include <QString>
#include <atomic>
#include <memory>
#include <vector>

#include "KeyFrameMarks.h"
#include "Period.h"
#include "WinMessage.h"

class MontageKeys;
class MontagePlayback;
class PreviewTransport;
class QMenu;
class QTimer;
struct PlaybackView;
enum class MontageKey;
class PaneHost;
class CQmvSld;
class CReportList;
class CSectionList;
class CMontageSource;
class CMontageJob;
class KeyFrameLister;
struct SectionListAction;
class StaticDisplay;
class SectionKeeper;
namespace qmvedit {
class ScrubPreview;
}

class MontagePane {
 public:
  explicit MontagePane(PaneHost& dlg);
  ~MontagePane();

  // Commands of the pane's buttons; false when the id is not the pane's.
  bool OnCommand(int id);
  // WM_TIMELINE_POS, WM_TIMELINE_CHANGED, WM_KEYFRAMES_READY, WM_FRAME_READY, WM_EDIT_PROGRESS
  // and WM_PREVIEW_NOTIFY.
  LRESULT OnMessage(uint32_t msg, WPARAM wp, LPARAM lp);
  bool IsRunning() const;
  // Puts a path into the source edit and opens it (the program's command line).
  void OpenClip(const QString& path);
  // Video Montage became the current function again: its picture goes back on the preview
  // screen, which another function may have used meanwhile.
  void OnShown();
  // Another function became the current one: playing stops and the preview player is given back.
  void OnHidden();

  // Playing in the preview screen (Space, Shift+Space and the section list's menu).
  void TogglePlay();
  void PlayMontage();
  bool IsPlaying() const;
  // A key of the pane (see MontageKeys).
  void OnKey(MontageKey key);
  // The section list's context menu.
  QMenu* ListMenu() const;

  const CSectionList& List() const { return *m_list; }
  // Undo, redo, kept sections and the CSV of the section list.
  SectionKeeper& Keeper() { return *m_keeper; }
  // Key frame times of the source clip in ms, ascending; empty until the background listing
  // started by Open has finished (and for a clip without pictures).
  const std::vector<int32_t>& KeyFrames() const { return m_keys.Times(); }

 private:
  std::vector<PERIOD> Sections() const;
  void Browse();
  void Open();
  void AddMark();
  void Erase();
  void StepButton(bool forward);
  void Goto();
  void UpdateCell();
  void RunMontage();
  void OnListClick(int row, int col);
  void OnColumnClick(int col);
  void Apply(const SectionListAction& action);
  void RefreshRows();
  void ShowFrameAt(int pos);
  void DrawReadyFrame();
  void SetBusy(bool busy);
  void ApplyPlayback(const PlaybackView& view);
  // Playing stops with the cursor on the frame shown (before a key moves it).
  void PauseIfPlaying();
  void MoveCursor(int pos);
  void SelectSection(int index);
  void SetUpPlayback();
  // Marks and sections were put back: the list, the timeline and the preview follow.
  void OnRestored();

  PaneHost& m_dlg;
  CQmvSld* m_timeline;
  CReportList* m_listView;
  std::unique_ptr<CSectionList> m_list;
  std::unique_ptr<CMontageSource> m_source;
  std::unique_ptr<CMontageJob> m_job;
  // The preview screen's pictures come from a worker that follows the cursor; its notice is
  // posted once until the window has taken the picture.
  std::unique_ptr<StaticDisplay> m_display;
  std::atomic<bool> m_framePosted{false};
  std::unique_ptr<qmvedit::ScrubPreview> m_preview;
  KeyFrameMarks m_keys;
  double m_frameRate = 0;  // of the source clip, 0 when unknown
  std::unique_ptr<PreviewTransport> m_transport;
  std::unique_ptr<MontagePlayback> m_playback;
  std::unique_ptr<QTimer> m_playTimer;  // the cursor follows the player while it plays
  MontageKeys* m_shortcuts = nullptr;   // owned by the timeline control
  std::unique_ptr<SectionKeeper> m_keeper;
  std::unique_ptr<KeyFrameLister> m_keyLister;  // last member: joined first
  uint32_t m_keyGeneration = 0;
  int m_shownPos = -1;  // position of the picture last asked for, -1 before a clip is open // of
                        // the source clip's listing
};

// The Clip Merge pane's behaviour in the main window: clip list, preview and the merge job. The
// models do the work; this class moves texts between them and the pane's controls.
#pragma once

#include <QStringList>
#include <memory>

#include "WinMessage.h"

class PaneHost;
class CReportList;
class ClipList;
class MergeJob;
struct ClipPaneTexts;

class MergePane {
 public:
  explicit MergePane(PaneHost& dlg);
  ~MergePane();

  bool OnCommand(int id);
  // WM_PREVIEW_NOTIFY and WM_EDIT_PROGRESS.
  LRESULT OnMessage(uint32_t msg, WPARAM wp, LPARAM lp);
  // Dropped files while Clip Merge is shown, in the order of the drop.
  void AddDropped(const QStringList& files);
  bool IsRunning() const;
  // Stops the preview when it plays (another pane takes the preview player).
  void StopPlaying();
  const ClipList& List() const { return *m_list; }

 private:
  void AddClip(const QString& path);
  void Delete();
  void Play();
  void StopPreview(bool callPlayer);
  void ChangeSeq();
  void RunMerge();
  void OnRowClick(int row);
  void OnColumnClick(int col);
  void Show(const ClipPaneTexts& texts);
  void RefreshRows();
  void SetBusy(bool busy);

  PaneHost& m_dlg;
  CReportList* m_listView;
  std::unique_ptr<ClipList> m_list;
  std::unique_ptr<MergeJob> m_job;
  uint32_t m_nPreviewLength = 0;
};

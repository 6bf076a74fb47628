// Undo and redo, the kept sections and the CSV of the montage pane. The history, the store and
// the CSV codec are plain classes; this routes the pane's inputs to them: after every input that
// may have changed the timeline the pane calls Changed, which makes it a step of the history and
// keeps it for the clip. Ctrl+Z and Ctrl+Shift+Z work anywhere in the window while Video Montage
// is the current function, but in an edit being typed in, which keeps them for its own text.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <string>

#include "EditHistory.h"
#include "SectionStore.h"

class PaneHost;
class CQmvSld;
class CReportList;
class QMenu;
class QShortcut;

class SectionKeeper : public QObject {
 public:
  // restored: the timeline's marks and sections were put back (the list and the preview must
  // follow). busy: a job is writing, nothing may change.
  SectionKeeper(PaneHost& dlg, CQmvSld& timeline, CReportList& list, std::function<void()> restored,
                std::function<bool()> busy);
  ~SectionKeeper() override;

  // A clip was opened into the emptied timeline: what was kept for it is put back. Returns the
  // number of sections that came back.
  int Opened(const std::string& path, int32_t lengthMs);
  // After an input: a change becomes a step and is kept.
  void Changed();
  bool Undo();
  bool Redo();
  // Every section goes, as one step that can be undone.
  void ClearSections();
  // The section list as CSV; a message for the message line either way. An import of a file
  // with a bad row, or with sections the timeline cannot hold, changes nothing.
  QString ExportCsv(const QString& file);
  QString ImportCsv(const QString& file);

  const CEditHistory& History() const { return m_history; }
  // The section list's context menu.
  QMenu* Menu() const { return m_menu.get(); }
  // Picks the CSV file to write (save) or read; a file dialog unless replaced (tests).
  std::function<QString(bool save)> pickCsvFile;

  // "3 sections restored from the last session." for a clip opened again.
  static QString CameBackText(int count);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Put(const MarksState& state);
  void ChangedLater();

  PaneHost& m_dlg;
  CQmvSld& m_timeline;
  CReportList& m_list;
  std::function<void()> m_restored;
  std::function<bool()> m_busy;
  CEditHistory m_history;
  CSectionStore m_store;
  std::string m_path;  // the clip the marks are kept for, "" before one is open
  std::unique_ptr<QMenu> m_menu;
  QShortcut* m_undoKey = nullptr;  // children of the window, which outlives this
  QShortcut* m_redoKey = nullptr;
};

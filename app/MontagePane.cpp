#include "MontagePane.h"

#include <QGuiApplication>
#include <QLineEdit>
#include <QProgressBar>
#include <QTimer>

#include "CQmvSld.h"
#include "CQmvedit.h"
#include "CQmvply.h"
#include "CReportList.h"
#include "CXStatic.h"
#include "ClipFile.h"
#include "Gdi.h"
#include "KeyFrameLister.h"
#include "MontageJob.h"
#include "MontageKeys.h"
#include "MontagePlayback.h"
#include "MontageSource.h"
#include "PaneHost.h"
#include "PreviewTransport.h"
#include "ScrubPreview.h"
#include "SectionKeeper.h"
#include "SectionList.h"
#include "StaticDisplay.h"

namespace {

// How long Open waits for the first picture, so that a clip shows at once.
constexpr int kOpenPictureWaitMs = 500;

// Every control of the pane that starts work: disabled while a job writes.
constexpr int kPaneCommands[] = {1026, 1027, 1013, 1011, 1003, 1004, 1015, 1020, 1021, 1002, 1005};

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

}  // namespace

MontagePane::MontagePane(PaneHost& dlg)
    : m_dlg(dlg),
      m_timeline(qobject_cast<CQmvSld*>(dlg.GetDlgItem(1002))),
      m_listView(qobject_cast<CReportList*>(dlg.GetDlgItem(1005))),
      m_list(std::make_unique<CSectionList>()),
      m_source(std::make_unique<CMontageSource>()),
      m_job(std::make_unique<CMontageJob>()),
      m_display(std::make_unique<StaticDisplay>(dlg.Static(1007))),
      m_preview(std::make_unique<qmvedit::ScrubPreview>()),
      m_keeper(std::make_unique<SectionKeeper>(
          dlg, *m_timeline, *m_listView, [this] { OnRestored(); },
          [this] { return m_job->IsRunning(); })),
      m_keyLister(std::make_unique<KeyFrameLister>()) {
  // From the worker's thread: a posted message only.
  m_preview->SetNotify([this] {
    if (!m_framePosted.exchange(true)) PostMsg(&m_dlg, WM_FRAME_READY, 0, 0);
  });
  m_timeline->SetRange(0, 0);
  m_listView->cellFill = [this](int row, int col) -> std::optional<QColor> {
    if (m_list->HasEditedCell() && row == m_list->CellRow() && col == m_list->CellCol())
      return ToQColor(kEditedCellColour);
    return std::nullopt;
  };
  QObject::connect(m_listView, &CReportList::CellClicked, m_listView,
                   [this](int row, int col) { OnListClick(row, col); });
  QObject::connect(m_listView, &CReportList::ColumnClicked, m_listView,
                   [this](int col) { OnColumnClick(col); });
  SetUpPlayback();
}

MontagePane::~MontagePane() {
  delete m_shortcuts;  // they call into the pane
  m_playback.reset();
  m_preview.reset();  // the worker stops and is joined before anything it calls goes away
  m_keeper.reset();
  // The list outlives the pane by a little at tear-down: it must not call back into it.
  QObject::disconnect(m_listView, nullptr, m_listView, nullptr);
  m_listView->cellFill = nullptr;
}

bool MontagePane::IsRunning() const {
  return m_job->IsRunning();
}

std::vector<PERIOD> MontagePane::Sections() const {
  std::vector<PERIOD> out;
  const int n = m_timeline->GetCount();
  out.reserve(n);
  for (int i = 0; i < n; ++i) out.push_back(*m_timeline->GetPeriod(i));
  return out;
}

bool MontagePane::OnCommand(int id) {
  if (m_job->IsRunning()) {
    // The engine is writing: nothing of the pane may reach it until the job ends.
    for (int c : kPaneCommands)
      if (c == id) return true;
  }
  // The buttons that move the cursor stop playing first; marks may be set while it plays.
  if (IsPlaying() && (id == 1003 || id == 1004 || id == 1015)) ApplyPlayback(m_playback->Stop());
  switch (id) {
    case 1026:
      Browse();
      return true;
    case 1027:
      Open();
      return true;
    case 1013:
      AddMark();
      return true;
    case 1011:
      Erase();
      return true;
    case 1003:
      StepButton(false);
      return true;
    case 1004:
      StepButton(true);
      return true;
    case 1015:
      Goto();
      return true;
    case 1020:
      UpdateCell();
      return true;
    case 1021:
      RunMontage();
      return true;
    default:
      return false;
  }
}

LRESULT MontagePane::OnMessage(uint32_t msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_TIMELINE_CHANGED:
      m_list->Sync(Sections());
      RefreshRows();
      m_keeper->Changed();
      return 0;
    case WM_PREVIEW_NOTIFY:
      // An end posted by a play stopped since: the play started after it goes on.
      if (wp == 0 && IsPlaying() && !(m_dlg.PreviewPlayer() && m_dlg.PreviewPlayer()->IsPlaying()))
        ApplyPlayback(m_playback->Ended());
      return 0;
    case WM_TIMELINE_POS: {
      // A click on the timeline while playing stops it there.
      if (IsPlaying()) ApplyPlayback(m_playback->Stop());
      // The follow-up shows the position in 1014 and its frame (once: a frame costs a decode).
      Apply(m_list->Follow(static_cast<int32_t>(lp)));
      return 0;
    }
    case WM_KEYFRAMES_READY: {
      // A list of an earlier clip is dropped.
      const auto times = m_keyLister->Take(static_cast<uint32_t>(wp));
      if (static_cast<uint32_t>(wp) != m_keyGeneration || !times) return 0;
      m_keys.Set(*times);
      m_preview->SetKeyFrames(*times);
      m_timeline->SetKeyFrames(m_keys);
      m_list->SetKeyFrames(m_keys);
      RefreshRows();
      return 0;
    }
    case WM_FRAME_READY:
      m_framePosted = false;
      DrawReadyFrame();
      return 0;
    case WM_EDIT_PROGRESS: {
      const auto progress = m_job->OnProgress(lp);
      if (!progress) return 0;
      qobject_cast<QProgressBar*>(m_dlg.GetDlgItem(1022))->setValue(progress->barPos);
      if (progress->percent) {
        m_dlg.Static(1023)->SetText(Q(*progress->percent));
        m_dlg.Static(1023)->repaint();
      }
      return 0;
    }
    default:
      return 0;
  }
}

void MontagePane::Browse() {
  const QString path = m_dlg.pickClipFile ? m_dlg.pickClipFile() : QString();
  if (path.isEmpty() || !IsClipFile(path.toStdString())) return;
  if (m_dlg.CurrentFunction() != kFunctionMontage) return;
  m_dlg.Edit(1025)->setText(path);
  m_dlg.Edit(1025)->setToolTip(path);
}

void MontagePane::OpenClip(const QString& path) {
  m_dlg.Edit(1025)->setText(path);
  m_dlg.Edit(1025)->setToolTip(path);
  Open();
}

void MontagePane::Open() {
  const std::string path = m_dlg.Edit(1025)->text().toStdString();
  const SourceOpenResult r = m_source->Open(*m_dlg.MontageEngine(), path);
  if (r.status == SourceOpenResult::Status::Ignored) return;
  if (r.status == SourceOpenResult::Status::Failed) {
    m_dlg.SetMessage(Q(r.message));
    return;
  }
  if (IsPlaying()) ApplyPlayback(m_playback->Stop());
  m_transport->SetClip(path);
  m_frameRate = r.frameRate;
  // Nothing of the previous clip stays on the pane but a word on the sections kept for it.
  const int kept = m_timeline->GetCount();
  m_dlg.SetMessage(kept > 0 ? Q(CSectionList::KeptText(kept)) : QString());
  m_dlg.Static(1023)->SetText(QString());
  qobject_cast<QProgressBar*>(m_dlg.GetDlgItem(1022))->setValue(0);
  m_dlg.Edit(1014)->clear();
  m_dlg.Edit(1019)->clear();
  m_timeline->SetRange(0, static_cast<int>(r.lengthMs));
  m_dlg.Static(1028)->SetText(Q(r.lengthText));
  m_timeline->ClearAll();
  m_timeline->ClearMarks();
  m_list->Clear();
  const int cameBack = m_keeper->Opened(path, static_cast<int32_t>(r.lengthMs));
  m_list->Sync(Sections());
  if (cameBack > 0) m_dlg.SetMessage(SectionKeeper::CameBackText(cameBack));
  // The new clip's key frames are listed in the background; until then none are known.
  m_keys.Clear();
  m_timeline->SetKeyFrames(m_keys);
  m_list->SetKeyFrames(m_keys);
  m_keyGeneration = m_keyLister->Start(path, [window = static_cast<QObject*>(&m_dlg)](uint32_t g) {
    PostMsg(window, WM_KEYFRAMES_READY, g, 0);
  });
  RefreshRows();
  m_timeline->update();
  m_preview->Open(path);
  ShowFrameAt(0);
  // The first picture of a key frame is quick: shown before Open returns when it comes in time.
  m_preview->WaitIdle(kOpenPictureWaitMs);
  DrawReadyFrame();
}

void MontagePane::OnShown() {
  if (m_shownPos >= 0) ShowFrameAt(m_shownPos);
}

void MontagePane::ShowFrameAt(int pos) {
  m_shownPos = pos;
  int w = 0, h = 0;
  m_display->GetClientSize(&w, &h);
  m_preview->SetDisplaySize(w, h);
  m_preview->Request(pos);
}

void MontagePane::DrawReadyFrame() {
  const auto picture = m_preview->Take();
  // The preview screen is the merge pane's player's while another function is current, and the
  // preview player's while the pane plays.
  if (!picture || m_dlg.CurrentFunction() != kFunctionMontage || IsPlaying()) return;
  qmvedit::ScrubPreview::Draw(*picture, m_display.get());
}

void MontagePane::AddMark() {
  // With Shift held (the keyboard state of the click that pressed the button), a beginning
  // point goes to the nearest key frame: the cursor, edit 1014 and the frame go there first.
  if (QGuiApplication::keyboardModifiers() & Qt::ShiftModifier) {
    const int pos = m_timeline->GetPos();
    const int target = m_timeline->Bar().MarkSnapTarget(pos);
    if (target != pos) {
      m_timeline->SetPos(target);
      m_dlg.Edit(1014)->setText(QString::number(target));
      ShowFrameAt(target);
    }
  }
  m_timeline->AddMark();
  m_keeper->Changed();
}

void MontagePane::Erase() {
  m_timeline->EraseMark();
  m_list->ClearEditedCell();
  m_dlg.Edit(1019)->clear();
  RefreshRows();
  // The picture is the cursor's, whatever showed before.
  const int pos = m_timeline->GetPos();
  m_dlg.Edit(1014)->setText(QString::number(pos));
  ShowFrameAt(pos);
}

void MontagePane::StepButton(bool forward) {
  const int pos = m_timeline->StepButton(forward);
  m_dlg.Edit(1014)->setText(QString::number(pos));
  ShowFrameAt(pos);
}

void MontagePane::Goto() {
  const int v = CQmvSld::GotoValue(m_dlg.Edit(1014)->text());
  ShowFrameAt(v);
  m_timeline->SetPos(v);
}

void MontagePane::UpdateCell() {
  const int lo = m_timeline->Bar().GetMin();
  const int hi = m_timeline->Bar().GetMax();
  Apply(m_list->UpdateCell(m_dlg.Edit(1019)->text().toStdString(), Sections(), lo, hi));
  RefreshRows();
  m_keeper->Changed();
}

void MontagePane::OnListClick(int row, int col) {
  if (m_job->IsRunning()) return;
  if (IsPlaying()) ApplyPlayback(m_playback->Stop());
  Apply(m_list->Click(row, col, Sections()));
}

void MontagePane::OnColumnClick(int col) {
  if (m_job->IsRunning()) return;
  Apply(m_list->ColumnClick(col, Sections()));
  RefreshRows();
  m_keeper->Changed();
}

void MontagePane::Apply(const SectionListAction& a) {
  for (const SectionChange& c : a.store)
    if (PERIOD* p = m_timeline->GetPeriod(c.index)) *p = c.period;
  if (a.selectIndex >= 0) m_timeline->SelectPeriod(a.selectIndex);
  if (a.repaintTimeline || !a.store.empty()) m_timeline->update();
  if (a.framePos) ShowFrameAt(*a.framePos);
  if (a.positionText) m_dlg.Edit(1014)->setText(Q(*a.positionText));
  if (a.cellText) m_dlg.Edit(1019)->setText(Q(*a.cellText));
  if (a.repaintList) RefreshRows();
  if (!a.message.empty()) m_dlg.SetMessage(Q(a.message));
}

void MontagePane::OnRestored() {
  m_list->Reload(Sections());
  if (!m_list->HasEditedCell()) m_dlg.Edit(1019)->clear();
  RefreshRows();
  m_timeline->update();
  ShowFrameAt(m_timeline->GetPos());
}

void MontagePane::RefreshRows() {
  std::vector<std::vector<QString>> rows;
  rows.reserve(m_list->RowCount());
  for (const auto& r : m_list->Rows())
    rows.push_back({Q(r[0]), Q(r[1]), Q(r[2]), Q(r[3]), Q(r[4])});
  m_listView->SetRows(rows);
  // The highlight stays with the timeline's selected section wherever its row now stands.
  m_listView->SelectRow(m_list->RowOfSection(m_timeline->Bar().GetSelPeriod()));
}

void MontagePane::SetBusy(bool busy) {
  for (int id : kPaneCommands)
    if (QWidget* w = m_dlg.GetDlgItem(id)) w->setEnabled(!busy);
}

void MontagePane::RunMontage() {
  MontageJobView view;
  view.showMessage = [this](const std::string& m) {
    m_dlg.SetMessage(Q(m));
    m_dlg.Static(1041)->repaint();
  };
  view.setProgressRange = [this](int32_t total) {
    qobject_cast<QProgressBar*>(m_dlg.GetDlgItem(1022))->setRange(0, std::max(total, 1));
  };
  view.setProgressPos = [this](int32_t pos) {
    qobject_cast<QProgressBar*>(m_dlg.GetDlgItem(1022))->setValue(pos);
  };
  view.showPercent = [this](const std::string& p) {
    m_dlg.Static(1023)->SetText(Q(p));
    m_dlg.Static(1023)->repaint();
  };
  const std::string src = m_dlg.Edit(1025)->text().toStdString();
  PauseIfPlaying();
  SetBusy(true);
  const MontageResult r =
      m_job->Run(*m_dlg.MontageEngine(), m_dlg.MsgWindow(), src, Sections(), view);
  SetBusy(false);
  if (r.status == MontageResult::Status::NotRun || r.status == MontageResult::Status::Busy) return;
  if (r.status == MontageResult::Status::Done) {
    m_dlg.Edit(1042)->setText(Q(r.outputPath));
    m_dlg.Edit(1042)->setToolTip(Q(r.outputPath));
  }
  m_dlg.SetMessage(Q(r.message));
}

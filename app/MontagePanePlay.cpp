// The montage pane's playing and keys: the pane routes them to MontagePlayback and the cursor key
// rules, and shows what comes back.
#include <QLineEdit>
#include <QMenu>
#include <QTimer>

#include "CQmvSld.h"
#include "CReportList.h"
#include "CXStatic.h"
#include "CursorKeys.h"
#include "MontageJob.h"
#include "MontageKeys.h"
#include "MontagePane.h"
#include "MontagePlayback.h"
#include "MontageSource.h"
#include "PaneHost.h"
#include "PreviewTransport.h"
#include "SectionKeeper.h"
#include "SectionList.h"

namespace {

// The cursor follows the player at 25 updates a second.
constexpr int kFollowIntervalMs = 40;

}  // namespace

void MontagePane::SetUpPlayback() {
  m_transport = std::make_unique<PreviewTransport>(m_dlg);
  m_playback = std::make_unique<MontagePlayback>(*m_transport);
  m_playTimer = std::make_unique<QTimer>();
  m_playTimer->setInterval(kFollowIntervalMs);
  QObject::connect(m_playTimer.get(), &QTimer::timeout,
                   [this] { ApplyPlayback(m_playback->Tick()); });
  m_shortcuts = new MontageKeys(m_timeline, [this](MontageKey key) { OnKey(key); });

  // The section list's menu (the kept sections' menu) plays the montage first.
  QMenu* menu = m_keeper->Menu();
  QAction* first = menu->actions().isEmpty() ? nullptr : menu->actions().first();
  auto* play = new QAction("Play Montage", menu);
  play->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_Space));
  QObject::connect(play, &QAction::triggered, [this] { PlayMontage(); });
  menu->insertAction(first, play);
  menu->insertSeparator(first);
  QObject::connect(menu, &QMenu::aboutToShow, [this, play] {
    play->setEnabled(m_timeline->GetCount() > 0 && !m_job->IsRunning());
  });

  // Each button names its key.
  const struct {
    int id;
    const char* tip;
  } tips[] = {
      {1013, "Add Mark at the cursor (I: beginning point, O: end point; Shift: on a key frame)"},
      {1011, "Erase the selected section or the span between the split points (Delete)"},
      {1003, "Step back ([; Left: one frame, Shift+Left: key frame, Ctrl+Left: mark)"},
      {1004, "Step forward (]; Right: one frame, Shift+Right: key frame, Ctrl+Right: mark)"},
      {1015, "Go to the position typed (Home: the beginning, End: the end)"},
      {1021, "Write the montage (Shift+Space plays it first; Space plays the source)"},
  };
  for (const auto& t : tips)
    if (QWidget* w = m_dlg.GetDlgItem(t.id)) w->setToolTip(t.tip);
}

QMenu* MontagePane::ListMenu() const {
  return m_keeper->Menu();
}

bool MontagePane::IsPlaying() const {
  return m_playback && m_playback->Playing();
}

void MontagePane::OnHidden() {
  if (IsPlaying()) ApplyPlayback(m_playback->Stop());
  m_transport->Release();
}

void MontagePane::TogglePlay() {
  if (m_job->IsRunning() || m_source->Path().empty()) return;
  ApplyPlayback(m_playback->TogglePlay(m_timeline->GetPos(), m_timeline->Bar().GetMax()));
}

void MontagePane::PlayMontage() {
  if (m_job->IsRunning() || m_source->Path().empty()) return;
  ApplyPlayback(m_playback->ToggleMontage(Sections(), m_keys));
}

void MontagePane::PauseIfPlaying() {
  if (IsPlaying()) ApplyPlayback(m_playback->Pause());
}

void MontagePane::ApplyPlayback(const PlaybackView& v) {
  if (v.started) {
    // The player draws into the screen now; the still picture must not cover it.
    m_dlg.Static(1007)->ClearFrameImage();
    m_playTimer->start();
  }
  if (v.section) SelectSection(*v.section);
  if (v.cursor) {
    m_timeline->SetPos(*v.cursor);
    m_dlg.Edit(1014)->setText(QString::number(*v.cursor));
  }
  if (v.still) {
    m_playTimer->stop();
    ShowFrameAt(m_timeline->GetPos());
  }
  if (!v.message.empty()) m_dlg.SetMessage(QString::fromStdString(v.message));
}

void MontagePane::SelectSection(int index) {
  // Selecting puts the cursor in the section's middle; the caller puts it where it belongs.
  m_timeline->SelectPeriod(index);
  const std::vector<PERIOD> sections = Sections();
  for (int row = 0; row < m_list->RowCount(); ++row) {
    if (m_list->SectionOfRow(row, sections) != index) continue;
    m_listView->setCurrentItem(m_listView->topLevelItem(row));
    m_listView->scrollToItem(m_listView->topLevelItem(row));
    return;
  }
}

void MontagePane::MoveCursor(int pos) {
  m_timeline->SetPos(pos);
  m_dlg.Edit(1014)->setText(QString::number(pos));
  ShowFrameAt(pos);
}

void MontagePane::OnKey(MontageKey key) {
  if (m_job->IsRunning() || m_source->Path().empty()) return;
  switch (key) {
    case MontageKey::PlayPause:
      TogglePlay();
      return;
    case MontageKey::PlayMontage:
      PlayMontage();
      return;
    case MontageKey::Delete:
      PauseIfPlaying();
      OnCommand(1011);
      return;
    default:
      break;
  }
  PauseIfPlaying();
  const int pos = m_timeline->GetPos();
  const CPeriodBar& bar = m_timeline->Bar();
  const MarksState marks = bar.State();
  int target = pos;
  switch (key) {
    case MontageKey::FrameBack:
      target = cursorkeys::PreviousFrame(pos, m_frameRate);
      break;
    case MontageKey::FrameForward:
      target = cursorkeys::NextFrame(pos, m_frameRate, bar.GetMax());
      break;
    case MontageKey::KeyBack:
      target = cursorkeys::PreviousKeyFrame(m_keys, pos);
      break;
    case MontageKey::KeyForward:
      target = cursorkeys::NextKeyFrame(m_keys, pos);
      break;
    case MontageKey::MarkBack:
      target = cursorkeys::PreviousMark(marks, pos);
      break;
    case MontageKey::MarkForward:
      target = cursorkeys::NextMark(marks, pos);
      break;
    case MontageKey::Start:
      target = bar.GetMin();
      break;
    case MontageKey::End:
      target = bar.GetMax();
      break;
    case MontageKey::SetBegin:
    case MontageKey::SetEnd:
      // Add Mark sets the kind of point the cursor's place calls for; each key sets its own.
      if (cursorkeys::IsBeginKind(cursorkeys::PointAt(marks, pos)) == (key == MontageKey::SetBegin))
        OnCommand(1013);
      return;
    default:
      return;
  }
  if (target != pos) MoveCursor(target);
}

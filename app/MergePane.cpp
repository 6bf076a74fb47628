#include "MergePane.h"

#include <QLineEdit>
#include <QProgressBar>

#include "CQmvply.h"
#include "CReportList.h"
#include "CRoundButton.h"
#include "CXStatic.h"
#include "ClipFile.h"
#include "ClipList.h"
#include "Gdi.h"
#include "MergeJob.h"
#include "PaneHost.h"

namespace {

constexpr int kPaneCommands[] = {1029, 1030, 1031, 1033, 1034, 1035};
constexpr COLORREF kSelectedRowFill = 0xC0EED2;  // (210, 238, 192)
constexpr const char* kTextCannotPreview = "Cannot play the selected clip.";

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

}  // namespace

MergePane::MergePane(PaneHost& dlg)
    : m_dlg(dlg),
      m_listView(qobject_cast<CReportList*>(dlg.GetDlgItem(1035))),
      m_list(std::make_unique<ClipList>()),
      m_job(std::make_unique<MergeJob>(*dlg.MergeEngine(), dlg.MsgWindow())) {
  m_listView->cellFill = [this](int row, int) -> std::optional<QColor> {
    if (row == m_list->Selected()) return ToQColor(kSelectedRowFill);
    return std::nullopt;
  };
  QObject::connect(m_listView, &CReportList::CellClicked, m_listView,
                   [this](int row, int) { OnRowClick(row); });
  QObject::connect(m_listView, &CReportList::ColumnClicked, m_listView,
                   [this](int col) { OnColumnClick(col); });
  MergeJob::Hooks hooks;
  hooks.stopPreview = [this] {
    if (m_dlg.IsPreviewPlaying()) StopPreview(true);
  };
  hooks.setBusy = [this](bool running) { SetBusy(running); };
  hooks.started = [this](int range, const std::string& percent, const std::string& message) {
    auto* bar = qobject_cast<QProgressBar*>(m_dlg.GetDlgItem(1036));
    bar->setRange(0, std::max(range, 1));
    bar->setValue(0);
    m_dlg.Static(1037)->SetText(Q(percent));
    m_dlg.Static(1037)->repaint();
    m_dlg.SetMessage(Q(message));
    m_dlg.Static(1041)->repaint();
  };
  m_job->SetHooks(std::move(hooks));
}

MergePane::~MergePane() {
  // The list outlives the pane by a little at tear-down: it must not call back into it.
  QObject::disconnect(m_listView, nullptr, m_listView, nullptr);
  m_listView->cellFill = nullptr;
}

bool MergePane::IsRunning() const {
  return m_job->IsRunning();
}

bool MergePane::OnCommand(int id) {
  if (m_job->IsRunning()) {
    for (int c : kPaneCommands)
      if (c == id) return true;
  }
  switch (id) {
    case 1029: {
      const QString path = m_dlg.pickClipFile ? m_dlg.pickClipFile() : QString();
      if (!path.isEmpty()) AddClip(path);
      return true;
    }
    case 1030:
      Delete();
      return true;
    case 1031:
      Play();
      return true;
    case 1033:
      ChangeSeq();
      return true;
    case 1034:
      RunMerge();
      return true;
    default:
      return false;
  }
}

LRESULT MergePane::OnMessage(uint32_t msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_EDIT_PROGRESS) {
    if (const auto p = m_job->OnProgress(lp)) {
      qobject_cast<QProgressBar*>(m_dlg.GetDlgItem(1036))->setValue(p->barValue);
      m_dlg.Static(1037)->SetText(Q(p->percent));
      m_dlg.Static(1037)->repaint();
    }
    return 0;
  }
  if (msg == WM_PREVIEW_NOTIFY) {
    if (!m_dlg.IsPreviewPlaying()) return 0;  // reports still queued after a stop
    if (wp == 0) {
      // An end posted by a clip stopped since: the clip started after it plays on.
      if (m_dlg.PreviewPlayer() && m_dlg.PreviewPlayer()->IsPlaying()) return 0;
      StopPreview(false);
    } else if (wp == 1 && lp >= 0 && static_cast<uint32_t>(lp) < m_nPreviewLength) {
      qobject_cast<QProgressBar*>(m_dlg.GetDlgItem(1036))->setValue(static_cast<int>(lp));
      m_dlg.Static(1037)->SetText(Q(ClipList::PreviewTimeText(static_cast<uint32_t>(lp))));
    }
  }
  return 0;
}

void MergePane::AddClip(const QString& path) {
  if (m_list->Add(path.toStdString())) RefreshRows();
}

void MergePane::AddDropped(const QStringList& files) {
  if (m_job->IsRunning()) return;
  std::vector<std::string> paths;
  for (const QString& f : files) paths.push_back(f.toStdString());
  if (m_list->AddDropped(paths) > 0) RefreshRows();
}

void MergePane::Delete() {
  Show(m_list->Delete());
  RefreshRows();
}

void MergePane::OnRowClick(int row) {
  if (m_job->IsRunning()) return;
  Show(m_list->Click(row));
  m_listView->viewport()->update();
}

void MergePane::ChangeSeq() {
  Show(m_list->ChangeSeq(m_dlg.Edit(1032)->text().toStdString()));
  RefreshRows();
}

void MergePane::OnColumnClick(int col) {
  if (m_job->IsRunning()) return;
  if (m_list->SortByColumn(col)) RefreshRows();
}

void MergePane::Show(const ClipPaneTexts& texts) {
  if (texts.seqEdit) m_dlg.Edit(1032)->setText(Q(*texts.seqEdit));
  if (texts.message) m_dlg.SetMessage(Q(*texts.message));
}

void MergePane::RefreshRows() {
  std::vector<std::vector<QString>> rows;
  rows.reserve(m_list->Count());
  for (const auto& r : m_list->Rows()) {
    std::vector<QString> cells;
    for (const auto& c : r.cells) cells.push_back(Q(c));
    rows.push_back(std::move(cells));
  }
  m_listView->SetRows(rows);
  m_dlg.Static(1039)->SetText(Q(m_list->TotalLengthText()));
}

void MergePane::Play() {
  if (m_dlg.IsPreviewPlaying()) {
    StopPreview(true);
    return;
  }
  const auto path = m_list->SelectedPath();
  if (!path) {
    m_dlg.SetMessage(kTextNoClipSelected);
    return;
  }
  m_nPreviewLength = GetClipLength(*path);
  m_dlg.Static(1007)->ClearFrameImage();
  if (CQmvply* player = m_dlg.PreviewPlayer()) {
    // A clip the player cannot take would leave the pane saying "Stop" with nothing playing.
    const std::wstring wide = QString::fromStdString(*path).toStdWString();
    if (FAILED(player->Open(wide.c_str())) || FAILED(player->Start(0))) {
      player->Stop();
      m_dlg.SetMessage(kTextCannotPreview);
      return;
    }
  }
  m_dlg.Button(1031)->setText("Stop");
  m_dlg.SetPreviewPlaying(true);
  auto* bar = qobject_cast<QProgressBar*>(m_dlg.GetDlgItem(1036));
  bar->setRange(0, std::max<int>(static_cast<int>(m_nPreviewLength), 1));
  bar->setValue(0);
  m_dlg.Static(1037)->SetText("0:00:00");
}

void MergePane::StopPlaying() {
  if (m_dlg.IsPreviewPlaying()) StopPreview(true);
}

void MergePane::StopPreview(bool callPlayer) {
  if (callPlayer && m_dlg.PreviewPlayer()) m_dlg.PreviewPlayer()->Stop();
  m_dlg.Button(1031)->setText("Play");
  m_dlg.SetPreviewPlaying(false);
  qobject_cast<QProgressBar*>(m_dlg.GetDlgItem(1036))->setValue(0);
  m_dlg.Static(1037)->SetText("0:00:00");
}

void MergePane::SetBusy(bool busy) {
  for (int id : kPaneCommands)
    if (QWidget* w = m_dlg.GetDlgItem(id)) w->setEnabled(!busy);
}

void MergePane::RunMerge() {
  const MergeResult r = m_job->Run(*m_list);
  if (r.outcome == MergeResult::Outcome::Busy) return;
  if (!r.percent.empty()) m_dlg.Static(1037)->SetText(Q(r.percent));
  if (r.ok()) {
    m_dlg.Edit(1042)->setText(Q(r.outputPath));
    m_dlg.Edit(1042)->setToolTip(Q(r.outputPath));
  }
  if (!r.message.empty()) m_dlg.SetMessage(Q(r.message));
}

#include "ExportPane.h"

#include <dlfcn.h>

#include <QApplication>
#include <QCursor>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QSlider>
#include <algorithm>
#include <climits>

#include "CPlayerWnd.h"
#include "CXStatic.h"
#include "ClipFile.h"
#include "DbgLog.h"
#include "ExportModel.h"
#include "PaneHost.h"
#include "QmvPlyEx.h"
#include "ShellRules.h"

namespace {

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

// Paths cross to the libraries as 8-bit strings in the system's file name encoding.
std::string Local8(const QString& path) {
  return QFile::encodeName(path).toStdString();
}

// The slider's moves that seek besides the release of its handle (which QSlider signals): the
// release of a click on its groove, which pages the slider without pressing the handle, and the
// moves of its keys and wheel. Each seeks once the slider has taken the new value.
class SliderWatch : public QObject {
 public:
  SliderWatch(QSlider* slider, std::function<void()> seek) : m_seek(std::move(seek)) {
    slider->installEventFilter(this);
    connect(slider, &QAbstractSlider::actionTriggered, this, [this, slider](int action) {
      // Moves of a held mouse button wait for its release.
      if (m_pressed || slider->isSliderDown() || action == QAbstractSlider::SliderNoAction) return;
      SeekSoon();
    });
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override {
    auto* slider = static_cast<QSlider*>(watched);
    if (e->type() == QEvent::MouseButtonPress) m_pressed = true;
    if (e->type() == QEvent::MouseButtonRelease && m_pressed) {
      m_pressed = false;
      // A handle let go is sought through the slider's own release signal.
      if (!slider->isSliderDown()) SeekSoon();
    }
    return false;
  }

 private:
  void SeekSoon() {
    QMetaObject::invokeMethod(
        this, [this] { m_seek(); }, Qt::QueuedConnection);
  }
  std::function<void()> m_seek;
  bool m_pressed = false;
};

}  // namespace

ExportPane::ExportPane(PaneHost& dlg)
    : m_dlg(dlg),
      m_slider(qobject_cast<QSlider*>(dlg.GetDlgItem(1045))),
      m_bar(qobject_cast<QProgressBar*>(dlg.GetDlgItem(1049))) {
  askTapeQuestion = [this](const QString& text) {
    QMessageBox box(QMessageBox::Warning, "Vantrel", text, QMessageBox::Yes | QMessageBox::No,
                    &m_dlg);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
  };
  // The tooltip names the path a drop or a job put there; a path typed over it has none.
  QLineEdit* edit = m_dlg.Edit(1042);
  QObject::connect(edit, &QLineEdit::textEdited, edit, [edit] { edit->setToolTip(QString()); });
  if (m_slider != nullptr)
    m_sliderWatch = std::make_unique<SliderWatch>(m_slider, [this] { OnSliderReleased(); });
}

ExportPane::~ExportPane() {
  if (QLineEdit* edit = m_dlg.Edit(1042)) QObject::disconnect(edit, nullptr, edit, nullptr);
}

QString ExportPane::BrowseDialog() {
  QFileDialog dialog(&m_dlg);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setDefaultSuffix("wmv");
  dialog.setNameFilters({"Windows Media File(*.wmv)", "Kolvane video File(*.qmv)", "*.*"});
  dialog.selectFile("*.wmv;*.qmv");
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
  return dialog.selectedFiles().constFirst();
}

template <typename Fn>
Fn ExportPane::Bind(const char* name) const {
  void* module = m_dlg.PlayModule();
  return module ? reinterpret_cast<Fn>(dlsym(module, name)) : nullptr;
}

bool ExportPane::OnCommand(int id) {
  switch (id) {
    case 1043: {
      const QString path = m_dlg.pickClipFile ? m_dlg.pickClipFile() : QString();
      if (!path.isEmpty()) {
        m_dlg.Edit(1042)->setText(path);
        m_dlg.Edit(1042)->setToolTip(QString());
      }
      return true;
    }
    case 1047:
      Start();
      return true;
    case 1048:
      Stop();
      return true;
    default:
      return false;
  }
}

LRESULT ExportPane::OnMessage(uint32_t msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_GRAPH_NOTIFY) {
    if (auto handleEvent = Bind<plyHandleEventFn>("plyHandleEvent")) {
      DbgLog(0, -1, "OnGraphNoti\n");
      handleEvent();
    }
    return 0;
  }
  if (msg != WM_PLAYER_NOTIFY) return 0;
  // A report the player window made before the output that runs now began tells nothing of it.
  const unsigned generation = CPlayerWnd::ReportGeneration(wp);
  const CPlayerWnd* player = m_dlg.PlayerWindow();
  if (generation != 0 && player != nullptr && generation != player->Generation()) return 0;
  wp = CPlayerWnd::ReportKind(wp);
  if (wp == 1) {
    OnPosition(static_cast<int32_t>(std::clamp<LPARAM>(lp, 0, INT32_MAX)));
  } else if (wp == 0) {
    ResetDisplays();
    // A recording that came to its end: the transport stops and the engine is released. Only a
    // recording this pane started: the report comes every 500 ms while nothing plays, and a
    // camcorder the user works by hand must not be stopped twice a second.
    if (m_bTaping) {
      // A recording that died part way (a full disk, a camcorder that stopped) must not leave
      // the success text of its start on the message line.
      auto result = Bind<GetTapeResultFn>("GetTapeResult");
      if (result && result() < 0) m_dlg.SetMessage(exportpane::kTextTapeFailed);
      ReleaseTape();
    }
  }
  return 0;
}

void ExportPane::OnPosition(int32_t ms) {
  const exportpane::PositionShown shown = exportpane::ForPosition(ms, m_slider->maximum());
  // A slider under the cursor (or held) is left to the user.
  if (QApplication::widgetAt(QCursor::pos()) != m_slider && !m_slider->isSliderDown())
    m_slider->setValue(shown.position);
  m_dlg.Static(1046)->SetText(Q(shown.time));
  // Without a length the bar stays where it starts.
  m_bar->setValue(shown.scaled ? std::clamp(shown.position, m_bar->minimum(), m_bar->maximum())
                               : m_bar->minimum());
  m_dlg.Static(1050)->SetText(Q(shown.percent));
  if (shown.stop) Stop();
}

void ExportPane::SetLength(int32_t ms) {
  m_slider->setRange(0, std::max(ms, 0));
  // A click on the groove pages a fifth of the clip, as a track bar does.
  m_slider->setPageStep(std::max(ms / 5, 1));
  m_bar->setRange(0, std::max(ms, 1));  // an empty range would make the bar a busy bar
}

void ExportPane::LengthFromEngine() {
  // A clip whose header declares no length may have one the engine found once it prerolled.
  if (m_slider->maximum() > 0) return;
  auto duration = Bind<GetMvDurationFn>("GetMvDuration");
  if (duration == nullptr) return;
  LONG ms = 0;
  duration(&ms);
  if (ms > 0) SetLength(ms);
}

void ExportPane::BeginOutput() {
  if (CPlayerWnd* player = m_dlg.PlayerWindow()) player->NewReportGeneration();
}

void ExportPane::OnSliderReleased() {
  // A recording runs on at the tape's pace: it is not sought.
  if (m_bTaping) return;
  auto isPlaying = Bind<plyIsPlayingFn>("plyIsPlaying");
  if (!isPlaying || !isPlaying()) return;
  PostMsg(m_dlg.PlayerWindow(), WM_PLAYER_COMMAND, 1, m_slider->value());
}

void ExportPane::Start() {
  const int code = m_dlg.OutputCode();
  const QString path = m_dlg.Edit(1042)->text();
  if (const auto refusal = exportpane::StartRefusal(code, Local8(path))) {
    m_dlg.SetMessage(Q(*refusal));
    return;
  }
  SetLength(static_cast<int32_t>(std::min<uint32_t>(GetClipLength(Local8(path)), INT32_MAX)));
  m_slider->setValue(0);
  m_dlg.Static(1046)->SetText(exportpane::kTextZeroTime);
  m_bar->setValue(0);
  m_dlg.Static(1050)->SetText(exportpane::kTextZeroPercent);
  // One engine for both outputs: a recording still running ends cleanly first.
  if (m_bTaping) ReleaseTape();
  if (code == kOutputDvTape)
    StartTape(path);
  else
    StartPlayer(path, exportpane::OutputIndexFor(code));
}

void ExportPane::StartTape(const QString& path) {
  auto findVtr = Bind<FindVtrFn>("FindVtr");
  auto exportToTape = Bind<ExportToTapeFn>("ExportToTape");
  // Without the engine (or its tape functions) nothing can be recorded.
  if (!findVtr || !exportToTape) {
    m_dlg.SetMessage(exportpane::kTextTapeFailed);
    return;
  }
  if (!findVtr()) {
    m_dlg.SetMessage(exportpane::kTextNoCamcorder);
    return;
  }
  if (!askTapeQuestion || !askTapeQuestion(exportpane::kTextTapeQuestion)) return;
  // The recording takes the engine over from a clip playing in the player window: that window
  // leaves full screen, stops and goes away rather than showing a clip that no longer plays.
  if (CPlayerWnd* player = m_dlg.PlayerWindow()) {
    player->FullScreenAt(false, 0, 0);
    SendMsg(player, WM_PLAYER_COMMAND, 0, 0);
    player->hide();
  }
  BeginOutput();
  if (exportToTape(Local8(path).c_str())) {
    m_bTaping = true;
    m_dlg.SetMessage(exportpane::kTextTapeDone);
    LengthFromEngine();
  } else {
    m_dlg.SetMessage(exportpane::kTextTapeFailed);
  }
  m_dlg.update();
}

void ExportPane::StartPlayer(const QString& path, int index) {
  CPlayerWnd* player = m_dlg.PlayerWindow();
  // Without the engine there is nothing to play: no empty player window either.
  if (!player || !m_dlg.PlayModule()) return;
  BeginOutput();
  player->ResetEngine();
  player->UseMixingRenderer();
  // The output's rectangle lives in the library's table: keep a copy.
  const RECT* chosen = player->ChooseOutput(index);
  const bool hasRect = chosen != nullptr;
  const RECT rect = hasRect ? *chosen : RECT{0, 0, 0, 0};
  if (hasRect) player->move(rect.left, rect.top);
  // On screen before the clip opens: the pictures then start in a window whose size has settled
  // (a size change while the first pictures flow was seen to fail their negotiation).
  player->show();
  player->OpenClip(path, hasRect ? &rect : nullptr);
  player->PlayOrStop(0);
  // A clip the engine refused (missing, not a clip it can open) shows no empty player window.
  auto isPlaying = Bind<plyIsPlayingFn>("plyIsPlaying");
  if (isPlaying && !isPlaying()) {
    player->hide();
    return;
  }
  LengthFromEngine();
  if (hasRect) player->FullScreenAt(true, rect.left, rect.top);
  m_dlg.update();
}

void ExportPane::Stop() {
  const int code = m_dlg.OutputCode();
  if (code < 0) return;
  if (code == kOutputDvTape || m_bTaping) ReleaseTape();
  if (code != kOutputDvTape) PostMsg(m_dlg.PlayerWindow(), WM_PLAYER_COMMAND, 0, 0);
  // What the stopped output reported before it stopped moves nothing any more.
  BeginOutput();
  ResetDisplays();
}

void ExportPane::ReleaseTapeIfRecording() {
  if (m_bTaping) ReleaseTape();
}

void ExportPane::ReleaseTape() {
  m_bTaping = false;
  if (auto stop = Bind<plyStopFn>("plyStop")) stop();
  if (auto ctrlVtr = Bind<CtrlVtrFn>("CtrlVtr")) ctrlVtr(kVtrStop);
  if (auto cleanUp = Bind<plyCleanUpFn>("plyCleanUp")) cleanUp();
}

void ExportPane::ResetDisplays() {
  m_slider->setValue(0);
  m_dlg.Static(1046)->SetText(exportpane::kTextZeroTime);
  m_dlg.Static(1050)->SetText(exportpane::kTextZeroPercent);
  m_bar->setValue(0);
}

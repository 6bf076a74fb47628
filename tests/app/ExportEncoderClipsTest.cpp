// The export pane on clips as encoders make them, on the offscreen platform with sinks that keep
// the clock: two sound tracks, a header without a length, a click on the slider's groove, and
// reports of an output before the one running.
#include <dlfcn.h>

#include <QElapsedTimer>
#include <QKeyEvent>
#include <QProgressBar>
#include <QProxyStyle>
#include <QSlider>
#include <string>

#include "AsfPatch.h"
#include "DvCheck.h"
#include "ExportFixture.h"
#include "PaneDriver.h"
#include "QmvPlyEx.h"
#include "TestDir.h"

namespace {

class ExportClips : public ExportFixture {
 protected:
  void SetUp() override {
    ExportFixture::SetUp();
    Open();
    isPlaying = reinterpret_cast<plyIsPlayingFn>(dlsym(dlg->PlayModule(), "plyIsPlaying"));
    curPos = reinterpret_cast<GetMvCurPosFn>(dlsym(dlg->PlayModule(), "GetMvCurPos"));
    ASSERT_TRUE(isPlaying && curPos);
  }
  void TearDown() override {
    ExportFixture::TearDown();
    unsetenv("VANTREL_DV_TAPE_PACE");
  }
  std::string Clip(const std::string& name, int ms, int audioTracks = 1, bool broadcast = false) {
    clipgen::ClipSpec params = SmallClip(ms);
    params.audioTracks = audioTracks;
    params.broadcast = broadcast;
    return testutil::MakeClip(dir, name, params);
  }
  QSlider* Slider() { return qobject_cast<QSlider*>(dlg->GetDlgItem(1045)); }
  QProgressBar* Bar() { return qobject_cast<QProgressBar*>(dlg->GetDlgItem(1049)); }
  LONG Position() {
    LONG ms = 0;
    curPos(&ms);
    return ms;
  }
  void StartOn(OutputItem item, const std::string& clip) {
    PickOutput(item);
    Type(*dlg, 1042, QString::fromStdString(clip));
    Click(*dlg, 1047);
  }
  // What the pane showed while the output ran: the largest time text and whether the bar or
  // the percent ever left their start; returns how long it ran (ms), -1 when it never ended.
  struct Seen {
    std::string latestTime = "00:00:00";
    int sliderMax = 0;
    bool barMoved = false;
    bool percentMoved = false;
  };
  qint64 RunToTheEnd(Seen* seen, std::function<bool()> running, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (running() && t.elapsed() < timeoutMs) {
      QTest::qWait(50);
      seen->latestTime = std::max(seen->latestTime, Text(1046));
      seen->sliderMax = std::max(seen->sliderMax, Slider()->maximum());
      seen->barMoved = seen->barMoved || Bar()->value() != 0;
      seen->percentMoved = seen->percentMoved || Text(1050) != "%0";
    }
    return running() ? -1 : t.elapsed();
  }

  testutil::TempDir dir;
  plyIsPlayingFn isPlaying = nullptr;
  GetMvCurPosFn curPos = nullptr;
};

// A style whose sliders page on a click on the groove, as a track bar does, instead of jumping
// the handle to the click.
class PagingStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* data) const override {
    if (hint == SH_Slider_AbsoluteSetButtons) return Qt::NoButton;
    if (hint == SH_Slider_PageSetButtons) return Qt::LeftButton;
    return QProxyStyle::styleHint(hint, option, widget, data);
  }
};

}  // namespace

// A clip with two sound tracks plays to its end on a monitor (the displays following the
// clock), and records at the tape's pace to its end rather than stopping at the first report.
TEST_F(ExportClips, TwoSoundTracksPlayAndRecordToTheirEnd) {
  const std::string clip = Clip("two-tracks.wmv", 3000, 2);
  StartOn(kSecondary, clip);
  ASSERT_TRUE(isPlaying());
  Seen monitor;
  const qint64 played = RunToTheEnd(
      &monitor, [&] { return isPlaying() != 0; }, 8000);
  EXPECT_GE(played, 2500);
  EXPECT_GE(monitor.latestTime, "00:00:02");
  EXPECT_TRUE(monitor.barMoved);

  unsetenv("VANTREL_DV_TAPE_PACE");
  const std::string tape = dir.File("tape.dv");
  setenv("VANTREL_DV_TAPE", tape.c_str(), 1);
  StartOn(kDvTape, clip);
  ASSERT_TRUE(dlg->Export()->IsRecording()) << Msg();
  Seen recording;
  const qint64 recorded = RunToTheEnd(
      &recording, [&] { return dlg->Export()->IsRecording(); }, 10000);
  EXPECT_GE(recorded, 2500);
  EXPECT_EQ(Msg(), "The clip has already exported to the DV tape.");
  const dvcheck::Report r = dvcheck::Check(tape, clip);
  EXPECT_NEAR(r.videoSeconds, 3.0, 0.5) << r.Describe();
}

// Without a length in the header (a broadcast recording, or a length the bytes cannot hold) the
// clip plays and records to its own end: the time is shown, the bar and the percent stay at the
// start unless the engine found a length.
TEST_F(ExportClips, ClipsWithoutALengthPlayAndRecordToTheirEnd) {
  const std::string live = Clip("live.wmv", 2000, 1, true);
  const std::string damaged = Clip("damaged.wmv", 2000);
  ASSERT_TRUE(clipgen::PatchHeader(damaged, clipgen::HeaderObject::FileProperties,
                                   clipgen::kPlayDurationAt, 8, 25ull * 3600 * 10000000));
  for (const std::string& clip : {live, damaged}) {
    SCOPED_TRACE(clip);
    StartOn(kPrimary, clip);
    ASSERT_TRUE(isPlaying());
    Seen seen;
    const qint64 played = RunToTheEnd(
        &seen, [&] { return isPlaying() != 0; }, 8000);
    EXPECT_GE(played, 1500);
    EXPECT_GE(seen.latestTime, "00:00:01");
    if (seen.sliderMax == 0) {
      EXPECT_FALSE(seen.barMoved);
      EXPECT_FALSE(seen.percentMoved);
    } else {
      EXPECT_NEAR(seen.sliderMax, 2000, 200);
    }
  }
  const std::string tape = dir.File("tape.dv");
  setenv("VANTREL_DV_TAPE", tape.c_str(), 1);
  setenv("VANTREL_DV_TAPE_PACE", "0", 1);
  StartOn(kDvTape, live);
  Seen recording;
  EXPECT_GE(RunToTheEnd(
                &recording, [&] { return dlg->Export()->IsRecording(); }, 20000),
            0);
  const dvcheck::Report r = dvcheck::Check(tape, live);
  EXPECT_NEAR(r.videoSeconds, 2.0, 0.5) << r.Describe();
}

// A click on the slider's groove pages it and seeks there once the button is let go; so do its
// keys.
TEST_F(ExportClips, TheGrooveAndTheKeysSeekDuringPlayback) {
  const std::string clip = Clip("twenty.wmv", 20000);
  StartOn(kPrimary, clip);
  ASSERT_TRUE(isPlaying());
  QSlider* slider = Slider();
  PagingStyle paging;
  slider->setStyle(&paging);
  ASSERT_EQ(slider->maximum(), 20000);
  ASSERT_TRUE(WaitFor([&] { return Position() >= 300; }, 3000));
  const QPoint groove(slider->width() / 2, slider->height() / 2);
  QTest::mouseClick(slider, Qt::LeftButton, {}, groove);
  const int target = slider->value();
  // A page is a fifth of the clip: further than the clip plays while the test looks (a slow
  // machine may hold the button long enough for the page to repeat towards the click).
  EXPECT_GE(target, 4000);
  EXPECT_LE(target, 10500);
  EXPECT_TRUE(WaitFor([&] { return std::abs(Position() - target) < 600; }, 1500)) << Position();

  // The key straight to the slider, as it has the focus (an offscreen window may not take it).
  QKeyEvent pageUp(QEvent::KeyPress, Qt::Key_PageUp, Qt::NoModifier);
  QCoreApplication::sendEvent(slider, &pageUp);
  const int keyed = slider->value();
  EXPECT_GE(keyed, target + 3000);
  EXPECT_TRUE(WaitFor([&] { return std::abs(Position() - keyed) < 600; }, 1500)) << Position();
  EXPECT_TRUE(isPlaying());
  slider->setStyle(nullptr);
}

// Reports of the output before (queued when the next one starts: a tick before the tape
// question closed, or the last report of the clip before) neither stop nor move the new output.
TEST_F(ExportClips, AStaleReportNeverStopsANewOutput) {
  const std::string clip = Clip("ten.wmv", 10000);
  StartOn(kPrimary, clip);
  ASSERT_TRUE(isPlaying());
  CPlayerWnd* player = dlg->PlayerWindow();
  const unsigned before = player->Generation();
  PostMsg(dlg.get(), WM_PLAYER_NOTIFY, CPlayerWnd::ReportParam(1, before), 9950);
  dlg->Export()->OnCommand(1047);  // Start again: the clip from its beginning
  QTest::qWait(700);
  EXPECT_TRUE(isPlaying());
  EXPECT_LT(Slider()->value(), 3000);

  unsetenv("VANTREL_DV_TAPE_PACE");
  setenv("VANTREL_DV_TAPE", dir.File("tape.dv").c_str(), 1);
  PickOutput(kDvTape);
  dlg->Export()->askTapeQuestion = [&](const QString&) {
    PostMsg(dlg.get(), WM_PLAYER_NOTIFY, CPlayerWnd::ReportParam(0, player->Generation()), 0);
    return true;
  };
  const std::string short2 = Clip("two.wmv", 2000);
  Type(*dlg, 1042, QString::fromStdString(short2));
  Click(*dlg, 1047);
  ASSERT_TRUE(dlg->Export()->IsRecording());
  QTest::qWait(700);
  EXPECT_TRUE(dlg->Export()->IsRecording());
  EXPECT_TRUE(WaitFor([&] { return !dlg->Export()->IsRecording(); }, 10000));
}

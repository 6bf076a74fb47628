// The monitor outputs on a desktop of two monitors (the two-monitor runner; skipped elsewhere):
// Start plays the clip full screen on the chosen monitor through the player window, the
// displays follow its reports, the slider seeks, and the end of the clip stops it.
#include <dlfcn.h>

#include <QGuiApplication>
#include <QScreen>
#include <QSlider>

#include "ExportFixture.h"
#include "PaneDriver.h"
#include "QmvPlyEx.h"
#include "TestDir.h"

namespace {

class ExportMonitors : public ExportFixture {
 protected:
  void SetUp() override {
    ExportFixture::SetUp();
    if (QGuiApplication::screens().size() < 2) GTEST_SKIP() << "needs a desktop of two monitors";
    Open();
    isPlaying = Bind<plyIsPlayingFn>("plyIsPlaying");
    curPos = Bind<GetMvCurPosFn>("GetMvCurPos");
    isFullScr = Bind<IsFullScrFn>("IsFullScr");
    ASSERT_TRUE(isPlaying && curPos && isFullScr);
  }
  template <typename Fn>
  Fn Bind(const char* name) {
    return dlg->PlayModule() ? reinterpret_cast<Fn>(dlsym(dlg->PlayModule(), name)) : nullptr;
  }
  LONG Position() {
    LONG ms = -1;
    curPos(&ms);
    return ms;
  }
  QRect Secondary() {
    for (QScreen* s : QGuiApplication::screens())
      if (s != QGuiApplication::primaryScreen()) return s->geometry();
    return {};
  }
  void StartOn(OutputItem item, const std::string& clip) {
    PickOutput(item);
    Type(*dlg, 1042, QString::fromStdString(clip));
    Click(*dlg, 1047);
  }

  plyIsPlayingFn isPlaying = nullptr;
  GetMvCurPosFn curPos = nullptr;
  IsFullScrFn isFullScr = nullptr;
};

}  // namespace

TEST_F(ExportMonitors, StartPlaysFullScreenOnTheChosenMonitorAndStopEndsIt) {
  testutil::TempDir dir;
  const std::string clip = testutil::MakeClip(dir, "ten.wmv", SmallClip(10000));
  const std::pair<OutputItem, QRect> outputs[] = {
      {kSecondary, Secondary()}, {kPrimary, QGuiApplication::primaryScreen()->geometry()}};
  for (const auto& [item, monitor] : outputs) {
    SCOPED_TRACE(item);
    StartOn(item, clip);
    ASSERT_TRUE(WaitFor([&] { return isPlaying() != 0; }, 3000));
    CPlayerWnd* player = dlg->PlayerWindow();
    EXPECT_TRUE(player->isVisible());
    EXPECT_TRUE(WaitFor([&] { return player->geometry() == monitor; }, 2000))
        << player->geometry().x() << "," << player->geometry().y() << " "
        << player->geometry().width() << "x" << player->geometry().height();
    EXPECT_TRUE(isFullScr());
    // The player window's reports move the displays.
    EXPECT_TRUE(WaitFor([&] { return Text(1046) == "00:00:01"; }, 3000)) << Text(1046);
    EXPECT_GT(qobject_cast<QSlider*>(dlg->GetDlgItem(1045))->value(), 0);
    Click(*dlg, 1048);
    EXPECT_TRUE(WaitFor([&] { return isPlaying() == 0; }, 2000));
    EXPECT_EQ(Text(1050), "%0");
  }
}

TEST_F(ExportMonitors, TheSliderSeeksDuringPlaybackAndTheEndStopsIt) {
  testutil::TempDir dir;
  const std::string clip = testutil::MakeClip(dir, "ten.wmv", SmallClip(10000));
  StartOn(kSVideo, clip);
  ASSERT_TRUE(WaitFor([&] { return isPlaying() != 0; }, 3000));
  auto* slider = qobject_cast<QSlider*>(dlg->GetDlgItem(1045));
  slider->setSliderDown(true);
  slider->setValue(7000);
  slider->setSliderDown(false);
  EXPECT_TRUE(WaitFor([&] { return Position() >= 7000; }, 2000)) << Position();
  EXPECT_LT(Position(), 8500);
  EXPECT_TRUE(isPlaying());
  // A report this close to the end stops the output.
  Report(1, 9900);
  EXPECT_TRUE(WaitFor([&] { return isPlaying() == 0; }, 2000));
}

// The player window with the real engine on an X desktop of two monitors (1024 x 768 at (0, 0),
// 800 x 600 at (1024, 0)): a clip full screen on the second monitor, drawn for real, with its
// position reports, a seek, the end of the clip, Esc, the Max button and the close button.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <string>

#include "CPlayerWnd.h"
#include "CQmvButton.h"
#include "ClipFile.h"
#include "PlayerRules.h"
#include "PlayerTestSupport.h"
#include "TestDir.h"

namespace {

using playertest::Owner;
using playertest::RunFor;
using playertest::RunUntil;

const QRect kSecond(1024, 0, 800, 600);

// The window as it is on the screen.
QImage Grab(const CPlayerWnd& wnd) {
  return QGuiApplication::primaryScreen()
      ->grabWindow(wnd.winId())
      .toImage()
      .convertToFormat(QImage::Format_RGB32);
}

// The frame index of a generated clip's picture shown in `picture` (scaled back to the clip's
// size, where the code's cells lie), or -1.
int FrameShown(const QImage& picture, QSize clipSize) {
  const QImage image = picture.scaled(clipSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                           .convertToFormat(QImage::Format_RGB32);
  return clipgen::ReadFrameCode(image.constBits(), image.width(), image.height(),
                                static_cast<int>(image.bytesPerLine()));
}

void SaveShot(const CPlayerWnd& wnd, const char* name) {
  const char* dir = std::getenv("VANTREL_PLAYER_SHOTS");
  if (dir == nullptr) return;
  const QRect g = wnd.frameGeometry();
  QGuiApplication::primaryScreen()
      ->grabWindow(0, g.x(), g.y(), g.width(), g.height())
      .save(QString(dir) + "/" + name + ".png");
}

// The Export pane's sequence for a monitor output: reset, renderer, output, place, open, play,
// show, full screen at the output's corner.
void PlayOn(CPlayerWnd& wnd, int output, const std::string& clip) {
  wnd.ResetEngine();
  wnd.UseMixingRenderer();
  const RECT* r = wnd.ChooseOutput(output);
  ASSERT_NE(r, nullptr);
  const RECT rect = *r;
  wnd.move(rect.left, rect.top);
  wnd.OpenClip(QString::fromStdString(clip), &rect);
  wnd.PlayOrStop(0);
  wnd.show();
  wnd.FullScreenAt(true, rect.left, rect.top);
}

TEST(PlayerOnXTest, PlaysFullScreenOnTheSecondMonitorOnX) {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) GTEST_SKIP() << "needs X";
  if (std::getenv("VANTREL_VIDEO_SINK") != nullptr) GTEST_SKIP() << "video sink set by the caller";
  const QList<QRect> monitors = MonitorRects();
  if (monitors.size() != 2 || monitors[1] != kSecond)
    GTEST_SKIP() << "needs the two-monitor desktop (1024x768 and 800x600 beside it)";
  SetInstallFolder("");
  void* engine = dlopen((InstallFolder() + "/libqmvplyex.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(engine, nullptr) << dlerror();
  ASSERT_NE(dlsym(engine, "plyInit"), nullptr);

  testutil::TempDir dir;
  clipgen::ClipSpec params;
  params.durationMs = 7000;
  const std::string clip = testutil::MakeClip(dir, "play.wmv", params);

  Owner owner;
  CPlayerWnd wnd(&owner);
  wnd.move(200, 150);
  wnd.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&wnd));
  RunFor(300);
  SaveShot(wnd, "player-idle");
  const QRect windowed(kSecond.topLeft(), wnd.size());

  PlayOn(wnd, 1, clip);
  ASSERT_TRUE(RunUntil([&] { return wnd.frameGeometry() == kSecond; }, 3000))
      << "at " << wnd.frameGeometry().x() << "," << wnd.frameGeometry().y() << " " << wnd.width()
      << "x" << wnd.height();

  // Reports about every 500 ms, playing, the position growing.
  owner.reports.clear();
  ASSERT_TRUE(RunUntil([&] { return owner.Count() >= 4; }, 3500));
  for (int i = 0; i < owner.Count(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(owner.reports[i].playing, 1u);
    if (i == 0) continue;
    EXPECT_GT(owner.reports[i].position, owner.reports[i - 1].position);
    const qint64 gap = owner.reports[i].atMs - owner.reports[i - 1].atMs;
    EXPECT_GE(gap, 300);
    EXPECT_LE(gap, 900);
  }

  // The picture covers the monitor: the clip's own frame code is on the screen.
  const QImage shot = Grab(wnd);
  SaveShot(wnd, "player-fullscreen");
  ASSERT_EQ(shot.size(), kSecond.size());
  EXPECT_GT(FrameShown(shot, QSize(params.width, params.height)), 10);
  const QColor erase = wnd.palette().window().color();
  int other = 0;
  for (int y = 0; y < shot.height(); y += 8)
    for (int x = 0; x < shot.width(); x += 8) other += shot.pixelColor(x, y) != erase ? 1 : 0;
  EXPECT_GT(other, (shot.width() / 8) * (shot.height() / 8) * 9 / 10);

  // Seek and play on: the next report is just past the new position.
  PostMsg(&wnd, WM_PLAYER_COMMAND, 1, 5000);
  owner.reports.clear();
  ASSERT_TRUE(RunUntil([&] { return owner.Count() >= 1; }, 1500));
  EXPECT_EQ(owner.Last().playing, 1u);
  EXPECT_GE(owner.Last().position, 5000);
  EXPECT_LE(owner.Last().position, 5600);

  // The end of the clip: not-playing reports, and full screen is left on that tick.
  ASSERT_TRUE(RunUntil([&] { return owner.Count() > 0 && owner.Last().playing == 0; }, 4000));
  RunFor(100);
  EXPECT_EQ(wnd.frameGeometry(), windowed);
  const int ended = owner.Count();
  ASSERT_TRUE(RunUntil([&] { return owner.Count() >= ended + 1; }, 1000));
  EXPECT_EQ(owner.Last().playing, 0u);
  EXPECT_EQ(owner.Last().position, 0);

  // Esc leaves full screen while playing; the picture is then in the window.
  PlayOn(wnd, 1, clip);
  ASSERT_TRUE(RunUntil([&] { return wnd.frameGeometry() == kSecond; }, 3000));
  QTest::keyClick(&wnd, Qt::Key_Escape);
  ASSERT_TRUE(RunUntil([&] { return wnd.frameGeometry() == windowed; }, 3000));
  RunFor(600);
  SaveShot(wnd, "player-playing");
  {
    // The picture keeps its 4:3 shape inside the video rectangle.
    const QImage small = Grab(wnd);
    const RECT v = wnd.VideoRect();
    const int w = v.right - v.left, h = v.bottom - v.top;
    const int pw = std::min(w, h * 4 / 3), ph = pw * 3 / 4;
    const QImage video = small.copy(v.left + (w - pw) / 2, v.top + (h - ph) / 2, pw, ph);
    EXPECT_GT(FrameShown(video, QSize(params.width, params.height)), 0);
  }

  // The Max button of a window on the second monitor goes full screen there.
  QTest::mouseClick(wnd.TitleButton(1001), Qt::LeftButton);
  ASSERT_TRUE(RunUntil([&] { return wnd.frameGeometry() == kSecond; }, 3000));

  // The close button stops (reported at once) and hides; the next tick leaves full screen.
  owner.reports.clear();
  QTest::mouseClick(wnd.TitleButton(1000), Qt::LeftButton);
  EXPECT_FALSE(wnd.isVisible());
  QCoreApplication::sendPostedEvents(&owner);
  ASSERT_GE(owner.Count(), 1);
  EXPECT_EQ(owner.reports.front().playing, 0u);
  EXPECT_EQ(reinterpret_cast<plyIsPlayingFn>(dlsym(engine, "plyIsPlaying"))(), 0);
  ASSERT_TRUE(RunUntil([&] { return wnd.frameGeometry() == windowed; }, 1500));

  SendMsg(&wnd, WM_PLAYER_COMMAND, 5, 0);
  EXPECT_TRUE(wnd.IsShutDown());
  dlclose(engine);
}

}  // namespace

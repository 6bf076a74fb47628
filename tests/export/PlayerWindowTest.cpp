// The player window against a stand-in engine that records its calls: set-up from its own skin
// and engine, the timer's reports, commands, keys, buttons, resizing and painting, and what it
// does without a library or with an engine that lacks functions.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QPainter>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <string>

#include "CPlayerWnd.h"
#include "CQmvButton.h"
#include "ClipFile.h"
#include "DbgLog.h"
#include "PlayerRules.h"
#include "PlayerTestSupport.h"
#include "SkinModule.h"
#include "SkinnedFrame.h"
#include "TestDir.h"

namespace {

using playertest::Owner;
using playertest::RunFor;
using playertest::RunUntil;

class PlayerWndTest : public ::testing::Test {
 protected:
  // Makes a scratch install folder holding the given engine as libqmvplyex.so (none when empty)
  // and the real skin library (unless told not to), and points the program at it.
  void Install(const std::string& engine, bool withSkin = true) {
    namespace fs = std::filesystem;
    if (!engine.empty()) fs::create_symlink(engine, dir_.File("libqmvplyex.so"));
    if (withSkin) fs::create_symlink(SKIN_LIBRARY, dir_.File("libSkin.so"));
    SetInstallFolder(dir_.Path().string());
    if (engine.empty()) return;
    // The test's own load of the same library reaches the same state as the window's.
    fake_ = dlopen(dir_.File("libqmvplyex.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(fake_, nullptr) << dlerror();
    log_ = reinterpret_cast<const char* (*)()>(dlsym(fake_, "FakeLog"));
    clear_ = reinterpret_cast<void (*)()>(dlsym(fake_, "FakeClearLog"));
    set_ = reinterpret_cast<void (*)(const char*, int)>(dlsym(fake_, "FakeSet"));
    ASSERT_TRUE(log_ && clear_ && set_);
  }

  void TearDown() override {
    SetInstallFolder("");
    if (fake_ != nullptr) dlclose(fake_);
  }

  // The calls since the last look, without the timer's event polls.
  std::string Calls() {
    std::string all = log_(), out;
    clear_();
    size_t start = 0;
    while (start < all.size()) {
      const size_t end = all.find('\n', start);
      const std::string line = all.substr(start, end - start + 1);
      if (line != "plyHandleEvent\n") out += line;
      start = end + 1;
    }
    return out;
  }
  std::string RawCalls() {
    std::string all = log_();
    clear_();
    return all;
  }
  void Set(const char* key, int value) { set_(key, value); }

  static std::string ClipWndCall(const CPlayerWnd& wnd) {
    return "SetClipWnd " + std::to_string(static_cast<unsigned long long>(wnd.winId())) + "\n";
  }

  testutil::TempDir dir_;
  void* fake_ = nullptr;
  const char* (*log_)() = nullptr;
  void (*clear_)() = nullptr;
  void (*set_)(const char*, int) = nullptr;
};

SkinMetrics SkinMetricsOf(const SkinModule& skin) {
  SkinMetrics m;
  auto info = skin.Get<GetUiInfoFn>(kGetUiInfo);
  int reserved = 0;
  if (info != nullptr) info(&m.caption, &m.border, &m.grip, &reserved);
  return m;
}

TEST_F(PlayerWndTest, SetsItselfUpFromItsOwnSkinAndEngine) {
  Install(FAKE_ENGINE);
  Owner owner;
  CPlayerWnd wnd(&owner);
  // 235 x 163 dialog units in Tahoma 9.
  EXPECT_EQ(wnd.size(), QSize(353, 265));
  EXPECT_EQ(wnd.font().family(), "Tahoma");
  EXPECT_EQ(wnd.font().pointSize(), 9);
  EXPECT_EQ(Calls(), "plyInit\n" + ClipWndCall(wnd));
  EXPECT_TRUE(wnd.TimerRunning());
  EXPECT_TRUE(wnd.Title().isEmpty());
  EXPECT_EQ(wnd.VideoRect().right, 0);
  // The skin's outline: the top-left corner is cut off.
  EXPECT_FALSE(wnd.mask().isEmpty());
  EXPECT_FALSE(wnd.mask().contains(QPoint(0, 0)));

  SkinModule skin;
  ASSERT_TRUE(skin.Load(dir_.Path().string()));
  auto getBut = skin.Get<GetButIdFn>(kGetButId);
  ASSERT_NE(getBut, nullptr);
  struct Expect {
    int id;
    int kind;
  };
  for (const Expect e :
       {Expect{1000, kSkinButQuit}, Expect{1001, kSkinButMaximize}, Expect{1002, kSkinButSystem}}) {
    SCOPED_TRACE(e.id);
    CQmvButton* b = wnd.TitleButton(e.id);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(CtrlId(b), e.id);
    auto same = [&](CQmvButton::Slot slot, int state) {
      EXPECT_EQ(b->Bitmap(slot).toImage().convertToFormat(QImage::Format_ARGB32),
                skin.Bitmap(getBut(e.kind, state) & 0xFFFF).convertToFormat(QImage::Format_ARGB32))
          << "slot " << slot;
    };
    same(CQmvButton::Normal, kSkinStateNormal);
    same(CQmvButton::Pressed, kSkinStatePressed);
    same(CQmvButton::Hover, kSkinStateHover);
    same(CQmvButton::Disabled, kSkinStateDisabled);
    same(CQmvButton::Hot, kSkinStateHot);
  }
  CQmvButton* sys = wnd.TitleButton(1002);
  EXPECT_EQ(sys->size(), sys->Bitmap(CQmvButton::Normal).size());
  EXPECT_EQ(wnd.TitleButton(1000)->geometry(), QRect(333, 5, 16, 16));
  EXPECT_EQ(wnd.TitleButton(1001)->geometry(), QRect(313, 5, 16, 16));

  // Caption band, then client, with a fixed 10-pixel sizing corner (not the skin's own).
  const SkinMetrics m = SkinMetricsOf(skin);
  ASSERT_GT(m.caption, 0);
  ASSERT_NE(m.grip, 10);
  const int w = wnd.width(), h = wnd.height();
  EXPECT_EQ(wnd.HitTest({100, m.caption - 1}), HTCAPTION);
  EXPECT_EQ(wnd.HitTest({100, m.caption}), HTCLIENT);
  EXPECT_EQ(wnd.HitTest({w - 9, h - 9}), HTBOTTOMRIGHT);
  EXPECT_EQ(wnd.HitTest({w - 10, h - 9}), HTCLIENT);
  EXPECT_EQ(wnd.HitTest({w - 9, h - 10}), HTCLIENT);
}

TEST_F(PlayerWndTest, WithoutALibraryItLogsAndStaysBare) {
  setenv("VANTREL_DEBUG", "1", 1);
  const std::string logFile = dbglog::ExecutablePath() + ".log";
  auto fileSize = [&] {
    std::error_code ec;
    const auto n = std::filesystem::file_size(logFile, ec);
    return ec ? 0 : n;
  };
  const auto before = fileSize();
  {
    // No skin: the window is bare, but the engine starts and the window reports as it plays.
    Install(FAKE_ENGINE, /*withSkin=*/false);
    Owner owner;
    testing::internal::CaptureStderr();
    CPlayerWnd wnd(&owner);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Failed to load Skin.dll\n");
    EXPECT_TRUE(wnd.TimerRunning());
    EXPECT_EQ(Calls(), "plyInit\n" + ClipWndCall(wnd));
    EXPECT_TRUE(wnd.mask().isEmpty());
    EXPECT_TRUE(wnd.TitleButton(1000)->Bitmap(CQmvButton::Normal).isNull());
    Set("playing", 1);
    Set("position", 900);
    ASSERT_TRUE(RunUntil([&] { return owner.Count() >= 1; }, 2000));
    EXPECT_EQ(owner.Last().playing, 1u);
    EXPECT_EQ(owner.Last().position, 900);
    Set("playing", 0);
  }
  TearDown();
  fake_ = nullptr;
  {
    testutil::TempDir other;
    std::filesystem::create_symlink(SKIN_LIBRARY, other.File("libSkin.so"));
    SetInstallFolder(other.Path().string());
    Owner owner;
    testing::internal::CaptureStderr();
    CPlayerWnd wnd(&owner);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Failed to load qmvplyex.dll\n");
    EXPECT_TRUE(wnd.SkinLoaded());
    EXPECT_FALSE(wnd.EngineLoaded());
    EXPECT_FALSE(wnd.TimerRunning());
    EXPECT_TRUE(wnd.mask().isEmpty());
    EXPECT_TRUE(wnd.TitleButton(1001)->Bitmap(CQmvButton::Normal).isNull());
    // Every operation is skipped.
    wnd.ResetEngine();
    wnd.UseMixingRenderer();
    EXPECT_EQ(wnd.ChooseOutput(1), nullptr);
    wnd.OpenClip("/clips/a.wmv", nullptr);
    EXPECT_EQ(wnd.Title(), "/clips/a.wmv");
    wnd.PlayOrStop(0);
    wnd.FullScreenAt(true, 0, 0);
    SendMsg(&wnd, WM_PLAYER_COMMAND, 1, 5000);
    SendMsg(&wnd, WM_GRAPH_NOTIFY);
    SendMsg(&wnd, WM_PLAYER_COMMAND, 5, 0);
    EXPECT_TRUE(wnd.IsShutDown());
    EXPECT_FALSE(wnd.SkinLoaded());
  }
  unsetenv("VANTREL_DEBUG");
  // The debugger only, never the log file.
  EXPECT_EQ(fileSize(), before);
}

TEST_F(PlayerWndTest, TicksReportToTheOwnerAndLeaveFullScreenWhenNothingPlays) {
  Install(FAKE_ENGINE);
  Owner owner;
  CPlayerWnd wnd(&owner);
  Calls();
  Set("playing", 1);
  Set("position", 1200);
  ASSERT_TRUE(RunUntil([&] { return owner.Count() >= 3; }, 2500));
  for (const Owner::Report& r : owner.reports) {
    EXPECT_EQ(r.playing, 1u);
    EXPECT_EQ(r.position, 1200);
  }
  // Every 500 ms, whether or not anybody looks, each naming the output it belongs to.
  const qint64 gap = owner.reports[2].atMs - owner.reports[1].atMs;
  const unsigned generation = owner.Last().generation;
  EXPECT_NE(generation, 0u);
  EXPECT_EQ(generation, wnd.Generation());
  wnd.NewReportGeneration();
  EXPECT_NE(wnd.Generation(), generation);
  EXPECT_NE(wnd.Generation(), 0u);
  owner.reports.clear();
  ASSERT_TRUE(RunUntil([&] { return owner.Count() >= 1; }, 1000));
  EXPECT_EQ(owner.Last().generation, wnd.Generation());
  EXPECT_GE(gap, 300);
  EXPECT_LE(gap, 900);
  // Each tick polls the graph's events first.
  EXPECT_EQ(RawCalls().substr(0, 15), "plyHandleEvent\n");

  // Stopped in full screen: a not-playing report, then the window leaves full screen.
  Set("playing", 0);
  Set("full", 1);
  owner.reports.clear();
  ASSERT_TRUE(RunUntil([&] { return owner.Count() >= 1; }, 1000));
  EXPECT_EQ(owner.Last().playing, 0u);
  EXPECT_EQ(owner.Last().position, 0);
  EXPECT_EQ(Calls(), "SetFullScr 0 null\n");
  // Reports go on while nothing plays; no full screen to leave any more.
  ASSERT_TRUE(RunUntil([&] { return owner.Count() >= 2; }, 1000));
  EXPECT_EQ(owner.Last().playing, 0u);
  EXPECT_EQ(Calls(), "");

  // The end of the clip, found by the tick's poll, is reported by the same tick.
  Set("playing", 1);
  Set("ended", 1);
  owner.reports.clear();
  ASSERT_TRUE(RunUntil([&] { return owner.Count() >= 1; }, 1000));
  EXPECT_EQ(owner.Last().playing, 0u);
}

TEST_F(PlayerWndTest, OperationsCommandsKeysAndButtonsDriveTheEngine) {
  Install(FAKE_ENGINE);
  Owner owner;
  CPlayerWnd wnd(&owner);
  Calls();
  // Inner area of the skin: (F, T, W - F, H - F) with F = 4, T = 22.
  const std::string inner = "SetMv 4,22,345,239\n";

  Set("playing", 1);
  wnd.ResetEngine();
  EXPECT_EQ(Calls(), "plyStop\nplyCleanUp\nplyInit\n" + ClipWndCall(wnd));
  wnd.ResetEngine();
  EXPECT_EQ(Calls(), "plyCleanUp\nplyInit\n" + ClipWndCall(wnd));
  wnd.UseMixingRenderer();
  EXPECT_EQ(Calls(), "plyUseVMR\n");
  const RECT* out = wnd.ChooseOutput(1);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(out->left, 1024);
  EXPECT_EQ(out->bottom, 600);
  EXPECT_EQ(Calls(), "SetOutput 1\n");

  wnd.OpenClip("/clips/a b.wmv", nullptr);
  EXPECT_EQ(wnd.Title(), "/clips/a b.wmv");
  EXPECT_EQ(Calls(), "plyPlyUrl /clips/a b.wmv\n" + inner);
  EXPECT_EQ(wnd.VideoRect().left, 4);
  EXPECT_EQ(wnd.VideoRect().bottom, 261);
  const RECT given{0, 0, 800, 600};
  wnd.OpenClip("/clips/b.wmv", &given);
  EXPECT_EQ(Calls(), "plyPlyUrl /clips/b.wmv\nSetMv 0,0,800,600\n");

  wnd.PlayOrStop(0);
  EXPECT_EQ(Calls(), "plyStart\n");
  wnd.PlayOrStop(1);
  EXPECT_EQ(Calls(), "plyStop\n");
  // Full screen only while playing.
  wnd.FullScreenAt(true, 1024, 0);
  EXPECT_EQ(Calls(), "");
  Set("playing", 1);
  wnd.FullScreenAt(true, 1024, 0);
  EXPECT_EQ(Calls(), "SetFullScr 1 1024,0\n");
  wnd.FullScreenAt(false, 1024, 0);
  EXPECT_EQ(Calls(), "SetFullScr 0 1024,0\n" + inner);

  // Commands: 0 stops only what plays, 1 seeks and plays, others do nothing.
  SendMsg(&wnd, WM_PLAYER_COMMAND, 0, 0);
  EXPECT_EQ(Calls(), "plyStop\n");
  SendMsg(&wnd, WM_PLAYER_COMMAND, 0, 0);
  EXPECT_EQ(Calls(), "");
  SendMsg(&wnd, WM_PLAYER_COMMAND, 1, 5000);
  EXPECT_EQ(Calls(), "SetMvCurPos 5000\nplyStart\n");
  SendMsg(&wnd, WM_PLAYER_COMMAND, 7, 0);
  EXPECT_EQ(Calls(), "");
  SendMsg(&wnd, WM_GRAPH_NOTIFY, 0, 0);
  EXPECT_EQ(RawCalls(), "plyHandleEvent\n");

  // Esc leaves a full screen (the video back in the window); Enter does nothing.
  QTest::keyClick(&wnd, Qt::Key_Return);
  EXPECT_EQ(Calls(), "");
  QTest::keyClick(&wnd, Qt::Key_Escape);
  EXPECT_EQ(Calls(), "");
  Set("full", 1);
  QTest::keyClick(&wnd, Qt::Key_Escape);
  EXPECT_EQ(Calls(), "SetFullScr 0 null\n" + inner);

  // Sizes below 40 x 30 are ignored; from there the buttons follow and the video is set again.
  wnd.move(10, 10);
  wnd.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&wnd));
  Calls();
  const QRect closeAt = wnd.TitleButton(1000)->geometry();
  wnd.resize(39, 100);
  EXPECT_EQ(wnd.TitleButton(1000)->geometry(), closeAt);
  wnd.resize(100, 29);
  EXPECT_EQ(wnd.TitleButton(1000)->geometry(), closeAt);
  EXPECT_EQ(Calls(), "");
  wnd.resize(40, 30);
  EXPECT_EQ(wnd.TitleButton(1000)->geometry(), QRect(20, 5, 16, 16));
  EXPECT_EQ(wnd.TitleButton(1001)->geometry(), QRect(0, 5, 16, 16));
  EXPECT_EQ(Calls(), "SetMv 4,22,32,4\n");
  Set("playing", 0);
  wnd.resize(353, 265);
  EXPECT_EQ(Calls(), "");

  // The Max button goes full screen only while playing, at the corner of the window's monitor.
  QTest::mouseClick(wnd.TitleButton(1001), Qt::LeftButton);
  EXPECT_EQ(Calls(), "");
  Set("playing", 1);
  QTest::mouseClick(wnd.TitleButton(1001), Qt::LeftButton);
  EXPECT_EQ(Calls(), "SetFullScr 1 0,0\n");
  Set("full", 0);

  // The close button stops and reports at once, and hides in every case.
  owner.reports.clear();
  QTest::mouseClick(wnd.TitleButton(1000), Qt::LeftButton);
  EXPECT_FALSE(wnd.isVisible());
  EXPECT_EQ(Calls(), "plyStop\n");
  QCoreApplication::sendPostedEvents(&owner);
  ASSERT_GE(owner.Count(), 1);
  EXPECT_EQ(owner.reports.front().playing, 0u);
  wnd.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&wnd));
  QTest::mouseClick(wnd.TitleButton(1000), Qt::LeftButton);
  EXPECT_FALSE(wnd.isVisible());
  EXPECT_EQ(Calls(), "");

  // Shut down: stop, release the graph, let go of both libraries, no more ticks.
  Set("playing", 1);
  wnd.show();
  EXPECT_EQ(SendMsg(&wnd, WM_PLAYER_COMMAND, 5, 0), 0);
  EXPECT_EQ(Calls(), "plyStop\nplyCleanUp\n");
  EXPECT_TRUE(wnd.IsShutDown());
  EXPECT_FALSE(wnd.isVisible());
  EXPECT_FALSE(wnd.TimerRunning());
  EXPECT_FALSE(wnd.EngineLoaded());
  EXPECT_FALSE(wnd.SkinLoaded());
  wnd.PlayOrStop(0);
  SendMsg(&wnd, WM_PLAYER_COMMAND, 1, 100);
  EXPECT_EQ(RawCalls(), "");
}

TEST_F(PlayerWndTest, AnEngineWithoutSomeFunctionsIsSkippedThere) {
  Install(FAKE_PARTIAL_ENGINE);
  Owner owner;
  CPlayerWnd wnd(&owner);
  EXPECT_EQ(Calls(), ClipWndCall(wnd));
  EXPECT_TRUE(wnd.TimerRunning());
  wnd.UseMixingRenderer();
  EXPECT_EQ(wnd.ChooseOutput(0), nullptr);
  wnd.OpenClip("/clips/c.wmv", nullptr);
  EXPECT_EQ(Calls(), "plyPlyUrl /clips/c.wmv\n");
  EXPECT_EQ(wnd.VideoRect().right, 0);
  wnd.PlayOrStop(0);
  EXPECT_EQ(Calls(), "plyStart\n");
  wnd.FullScreenAt(true, 0, 0);
  QTest::keyClick(&wnd, Qt::Key_Escape);
  QTest::mouseClick(wnd.TitleButton(1001), Qt::LeftButton);
  SendMsg(&wnd, WM_GRAPH_NOTIFY);
  wnd.resize(200, 150);
  EXPECT_EQ(Calls(), "");
  Set("position", 700);
  owner.reports.clear();
  ASSERT_TRUE(RunUntil([&] { return owner.Count() >= 1; }, 1000));
  EXPECT_EQ(owner.Last().playing, 1u);
  EXPECT_EQ(owner.Last().position, 700);
  wnd.ResetEngine();
  EXPECT_EQ(Calls(), "plyStop\nplyCleanUp\n" + ClipWndCall(wnd));
}

TEST_F(PlayerWndTest, PaintLeavesTheVideoToTheEngineWhilePlaying) {
  Install(FAKE_ENGINE);
  Owner owner;
  CPlayerWnd wnd(&owner);
  SkinModule skin;
  ASSERT_TRUE(skin.Load(dir_.Path().string()));
  const QColor marker(255, 0, 255);
  // What the window paints by itself, over a marker colour.
  auto paint = [&] {
    QImage image(wnd.size(), QImage::Format_RGB32);
    image.fill(marker);
    wnd.render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
    return image;
  };
  const QImage cli = skin.Bitmap(skin.Get<LoadCliBkFn>(kLoadCliBk)());
  const QImage cap = skin.Bitmap(skin.Get<LoadCapBkFn>(kLoadCapBk)());
  ASSERT_FALSE(cli.isNull());
  wnd.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&wnd));

  // Nothing plays: the client pattern fills the inner area, under the frame.
  QImage idle = paint();
  EXPECT_EQ(idle.pixelColor(100, 100), cli.pixelColor(100 % cli.width(), 100 % cli.height()));
  EXPECT_EQ(idle.pixelColor(150, 3), cap.pixelColor(150 % cap.width(), 3 % cap.height()));
  EXPECT_EQ(wnd.VideoRect().top, 22);

  // Playing: the video rectangle is left alone, the frame is still drawn.
  Set("playing", 1);
  QImage playing = paint();
  EXPECT_EQ(playing.pixelColor(100, 100), marker);
  EXPECT_EQ(playing.pixelColor(5, 200), marker);
  EXPECT_EQ(playing.pixelColor(150, 3), idle.pixelColor(150, 3));
  EXPECT_EQ(playing.pixelColor(100, wnd.height() - 2), idle.pixelColor(100, wnd.height() - 2));

  // Filling a whole monitor, the video takes all of the window: no frame, no outline.
  const QRect monitor = MonitorRects().front();
  wnd.setGeometry(monitor);
  EXPECT_TRUE(wnd.mask().isEmpty());
  paint();
  EXPECT_EQ(wnd.VideoRect().top, 0);
  EXPECT_EQ(wnd.VideoRect().right, monitor.width());
  QImage full = paint();
  EXPECT_EQ(full.pixelColor(150, 3), marker);
  EXPECT_EQ(full.pixelColor(monitor.width() - 2, monitor.height() - 2), marker);
  Set("playing", 0);
  wnd.resize(353, 265);
  EXPECT_FALSE(wnd.mask().isEmpty());
}

TEST(PlayerRulesTest, FullScreenOriginIsTheCornerOfTheMonitorHoldingTheWindow) {
  // The layout the Max button was first written for: 1024 wide primary, a second one beside it.
  const QList<QRect> two = {QRect(0, 0, 1024, 768), QRect(1024, 0, 800, 600)};
  EXPECT_EQ(FullScreenOrigin({1100, 100}, two), QPoint(1024, 0));
  EXPECT_EQ(FullScreenOrigin({1023, 700}, two), QPoint(0, 0));
  // Below the smaller monitor's bottom, still in its columns.
  EXPECT_EQ(FullScreenOrigin({1100, 650}, two), QPoint(1024, 0));
  // A wide primary: x = 1500 is still on it.
  const QList<QRect> wide = {QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)};
  EXPECT_EQ(FullScreenOrigin({1500, 200}, wide), QPoint(0, 0));
  EXPECT_EQ(FullScreenOrigin({2000, 200}, wide), QPoint(1920, 0));
  // A monitor left of the primary, and a window off every monitor.
  const QList<QRect> left = {QRect(0, 0, 1024, 768), QRect(-1280, 0, 1280, 1024)};
  EXPECT_EQ(FullScreenOrigin({-100, 50}, left), QPoint(-1280, 0));
  EXPECT_EQ(FullScreenOrigin({5000, 50}, left), QPoint(0, 0));

  EXPECT_TRUE(CoversMonitor(QRect(1024, 0, 800, 600), two));
  EXPECT_FALSE(CoversMonitor(QRect(1024, 0, 800, 599), two));
}

}  // namespace

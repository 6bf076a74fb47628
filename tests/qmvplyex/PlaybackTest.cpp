// The playback engine through its exported functions, as the player window drives it: headless
// on sinks chosen by the environment (fakesink in real time), and on a two-monitor X desktop
// (the TwoMonitors tests, run under tests/support/two_monitor_run).
#include <dlfcn.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QThread>
#include <QWidget>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "AsfPatch.h"
#include "Engine.h"
#include "GstLiveObjects.h"
#include "QmvPlyEx.h"
#include "QtEventLoop.h"
#include "TestDir.h"
#include "WinTypes.h"

namespace {

using testutil::LiveGstObjects;
using testutil::RunFor;
using testutil::RunUntil;

std::set<std::string> GraphElementNames() {
  std::set<std::string> names;
  GstElement* graph = plyex::Graph();
  if (graph == nullptr) return names;
  GST_OBJECT_LOCK(graph);
  for (GList* c = GST_BIN_CHILDREN(GST_BIN(graph)); c != nullptr; c = c->next)
    names.insert(GST_OBJECT_NAME(c->data));
  GST_OBJECT_UNLOCK(graph);
  return names;
}

// A named element of the graph (a reference), or null.
GstElement* GraphElement(const char* name) {
  GstElement* graph = plyex::Graph();
  return graph != nullptr ? gst_bin_get_by_name(GST_BIN(graph), name) : nullptr;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string WriteFile(const testutil::TempDir& dir, const std::string& name,
                      const std::string& bytes) {
  std::ofstream(dir.File(name), std::ios::binary) << bytes;
  return dir.File(name);
}

bool Same(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

std::string Text(const RECT& r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) +
         "," + std::to_string(r.bottom);
}

class PlaybackTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    setenv("VANTREL_AUDIO_SINK", "fakesink", 0);
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
      setenv("VANTREL_VIDEO_SINK", "fakesink", 0);
    setenv("GST_TRACERS", "leaks(filters=\"GstElement,GstPad,GstBus\",stack-traces-flags=none)", 0);
  }

  void TearDown() override {
    if (plyIsPlaying()) plyStop();
    plyCleanUp();
  }

  std::string Clip(const std::string& name, int durationMs) {
    clipgen::ClipSpec params;
    params.durationMs = durationMs;
    return testutil::MakeClip(dir, name, params);
  }

  // The player window's sequence for one clip, up to the start.
  HRESULT Open(const std::string& path, HWND window = 0) {
    if (plyIsPlaying()) plyStop();
    plyCleanUp();
    EXPECT_EQ(plyInit(), S_OK);
    SetClipWnd(window);
    EXPECT_EQ(plyUseVMR(), S_OK);
    return plyPlyUrl(path.c_str());
  }

  testutil::TempDir dir;
};

// A clip plays in real time with a rising position, stops playing by itself at its end (before
// any event was handled), and the next plyHandleEvent releases the graph.
TEST_F(PlaybackTest, PlaysToTheEndAndTheEventReleasesTheGraph) {
  const std::string path = Clip("three.wmv", 2500);
  ASSERT_EQ(Open(path), S_OK);
  LONG duration = -1;
  EXPECT_NEAR(GetMvDuration(&duration), 2500, 100);
  EXPECT_EQ(duration, GetMvDuration(nullptr));
  EXPECT_FALSE(plyIsPlaying());
  ASSERT_EQ(plyStart(), S_OK);
  EXPECT_TRUE(plyIsPlaying());
  EXPECT_EQ(plyStart(), S_OK);  // running already

  QElapsedTimer clock;
  clock.start();
  std::vector<LONG> positions;
  ASSERT_TRUE(RunUntil(
      [&] {
        positions.push_back(GetMvCurPos(nullptr));
        RunFor(250);
        return !plyIsPlaying();
      },
      6000));
  EXPECT_GE(clock.elapsed(), 2200);
  EXPECT_LE(clock.elapsed(), 3800);
  ASSERT_GE(positions.size(), 6u);
  for (size_t i = 1; i < positions.size(); ++i) EXPECT_GE(positions[i], positions[i - 1]);
  EXPECT_GT(positions[positions.size() - 2], positions[1]);
  EXPECT_LE(positions.back(), 2600);

  EXPECT_NE(plyex::Graph(), nullptr);
  plyHandleEvent();
  EXPECT_FALSE(plyIsPlaying());
  EXPECT_EQ(plyex::Graph(), nullptr);
  EXPECT_EQ(plyStart(), E_FAIL);
  LONG kept = 1234;
  EXPECT_EQ(GetMvCurPos(&kept), 0);
  EXPECT_EQ(kept, 1234);
}

// The path decides the source: Windows Media names (any case) and URLs ("http:" anywhere) the
// ASF one, anything else the generic one, which plays an ASF clip under another name as well.
TEST_F(PlaybackTest, PathChoosesTheSource) {
  const std::string clip = Clip("CLIP.WMV", 1000);
  const std::string bytes = ReadAll(clip);
  struct Case {
    std::string path;
    const char* source;
  };
  for (const Case& c :
       {Case{clip, "ASF Reader"}, Case{WriteFile(dir, "b.Qmv", bytes), "ASF Reader"},
        Case{WriteFile(dir, "clip.avi", bytes), "Source1"}}) {
    SCOPED_TRACE(c.path);
    ASSERT_EQ(Open(c.path), S_OK);
    const std::set<std::string> names = GraphElementNames();
    EXPECT_EQ(names.count(c.source), 1u);
    EXPECT_EQ(names.count(c.source == std::string("Source1") ? "ASF Reader" : "Source1"), 0u);
    EXPECT_EQ(names.count("VMR9"), 1u);
    GstElement* source = GraphElement(c.source);
    GstPad* pin = plyex::GetOutPin(source, "video");
    EXPECT_NE(pin, nullptr);
    if (pin != nullptr) gst_object_unref(pin);
    if (source != nullptr) gst_object_unref(source);
    ASSERT_EQ(plyStart(), S_OK);
    ASSERT_TRUE(RunUntil([] { return !plyIsPlaying(); }, 4000));
    plyHandleEvent();
  }
  EXPECT_EQ(plyex::GetOutPin(nullptr, "video"), nullptr);
}

// Seeks land on the asked position (accurate, not the key frame before it), in 100-ns units.
TEST_F(PlaybackTest, SeeksToThePosition) {
  clipgen::ClipSpec params;
  params.durationMs = 8000;
  params.keyIntervalMs = 4000;
  const std::string path = testutil::MakeClip(dir, "seek.wmv", params);
  ASSERT_EQ(Open(path), S_OK);
  ASSERT_EQ(plyStart(), S_OK);
  RunFor(300);
  SetMvCurPos(5000);
  RunFor(200);
  const LONG at = GetMvCurPos(nullptr);
  EXPECT_GE(at, 5000);
  EXPECT_LE(at, 5600);
  RunFor(500);
  EXPECT_GT(GetMvCurPos(nullptr), at);

  // Five minutes are 3 000 000 000 units (the debug output says where it seeks).
  setenv("VANTREL_DEBUG", "1", 1);
  testing::internal::CaptureStderr();
  SetMvCurPos(300000);
  const std::string log = testing::internal::GetCapturedStderr();
  unsetenv("VANTREL_DEBUG");
  EXPECT_NE(log.find("Seek to 3000000000\n"), std::string::npos) << log;
  // Past the end: the clip ends.
  ASSERT_TRUE(RunUntil([] { return !plyIsPlaying(); }, 3000));
}

// A second sound track is swallowed by a sink of its own: the position is the one of the clip
// as shown, rising with the clock, also after a change of speed (which seeks from the position),
// and the clip plays to its end.
TEST_F(PlaybackTest, SecondSoundTrackLeavesThePositionToTheClock) {
  clipgen::ClipSpec params;
  params.durationMs = 3000;
  params.audioTracks = 2;
  const std::string path = testutil::MakeClip(dir, "two-tracks.wmv", params);
  ASSERT_EQ(Open(path), S_OK);
  QElapsedTimer clock;
  clock.start();
  ASSERT_EQ(plyStart(), S_OK);
  RunFor(500);
  const LONG first = GetMvCurPos(nullptr);
  EXPECT_LE(first, clock.elapsed() + 200);
  EXPECT_GE(first, 200);
  EXPECT_EQ(SetMvPlySpeed(1.0), S_OK);
  RunFor(500);
  const LONG second = GetMvCurPos(nullptr);
  EXPECT_GT(second, first);
  EXPECT_LE(second, clock.elapsed() + 200);
  ASSERT_TRUE(RunUntil([] { return !plyIsPlaying(); }, 8000));
  EXPECT_GE(clock.elapsed(), 2500);
}

// The length is the graph's while the clip's bytes can hold it: a header declaring 25 hours for
// a clip of seconds gives no length, and a broadcast header none either; both clips play.
TEST_F(PlaybackTest, LengthsTheClipCannotHoldAreUnknown) {
  clipgen::ClipSpec params;
  params.durationMs = 1500;
  const std::string damaged = testutil::MakeClip(dir, "long.wmv", params);
  ASSERT_TRUE(clipgen::PatchHeader(damaged, clipgen::HeaderObject::FileProperties,
                                   clipgen::kPlayDurationAt, 8, 25ull * 3600 * 10000000));
  params.broadcast = true;
  const std::string live = testutil::MakeClip(dir, "live.wmv", params);
  for (const std::string& path : {damaged, live}) {
    ASSERT_EQ(Open(path), S_OK) << path;
    EXPECT_EQ(GetMvDuration(nullptr), 0) << path;
    ASSERT_EQ(plyStart(), S_OK);
    ASSERT_TRUE(RunUntil([] { return GetMvCurPos(nullptr) > 300; }, 4000)) << path;
    ASSERT_TRUE(RunUntil([] { return !plyIsPlaying(); }, 6000)) << path;
  }
}

// Volume in hundredths of a decibel onto the linear volume element; out of range refused.
TEST_F(PlaybackTest, VolumeInHundredthsOfADecibel) {
  LONG volume = 5;
  EXPECT_EQ(plyInit(), S_OK);
  EXPECT_EQ(SetAudioVol(-100), 0);  // no sound yet: nothing to set
  EXPECT_EQ(GetAudioVol(&volume), 0);
  EXPECT_EQ(volume, 5);
  ASSERT_EQ(Open(Clip("vol.wmv", 1000)), S_OK);
  GstElement* element = GraphElement("Audio Volume");
  ASSERT_NE(element, nullptr);
  struct Case {
    LONG hundredths;
    double gain;
  };
  for (const Case& c : {Case{0, 1.0}, Case{-2000, 0.1}, Case{-600, 0.501}, Case{-10000, 0.0}}) {
    ASSERT_EQ(SetAudioVol(c.hundredths), S_OK);
    double gain = -1;
    g_object_get(element, "volume", &gain, nullptr);
    EXPECT_NEAR(gain, c.gain, 0.001) << c.hundredths;
    ASSERT_EQ(GetAudioVol(&volume), S_OK);
    EXPECT_EQ(volume, c.hundredths);
  }
  EXPECT_EQ(SetAudioVol(1), E_INVALIDARG);
  EXPECT_EQ(SetAudioVol(-10001), E_INVALIDARG);
  gst_object_unref(element);
}

// Files that cannot be played are refused at once, with nothing left playing, and the next good
// clip plays.
TEST_F(PlaybackTest, RefusesBadClipsQuicklyAndPlaysTheNext) {
  const std::string good = Clip("good.wmv", 1200);
  const std::string bytes = ReadAll(good);
  std::string noise(20000, '\0');
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 7919u) >> 3);
  const std::vector<std::string> bad = {
      dir.File("missing.wmv"),
      WriteFile(dir, "empty.wmv", ""),
      WriteFile(dir, "text.wmv", "not a clip at all\n"),
      WriteFile(dir, "noise.qmv", noise),
      WriteFile(dir, "header.wmv", bytes.substr(0, 1000)),
      WriteFile(dir, "noise.avi", noise),
      dir.Path().string() + "/",
  };
  for (const std::string& path : bad) {
    SCOPED_TRACE(path);
    QElapsedTimer clock;
    clock.start();
    EXPECT_LT(Open(path), 0);
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_FALSE(plyIsPlaying());
    EXPECT_EQ(plyStart(), E_FAIL);
    EXPECT_FALSE(plyIsPlaying());
    EXPECT_EQ(GetMvDuration(nullptr), 0);
  }
  ASSERT_EQ(Open(good), S_OK);
  ASSERT_EQ(plyStart(), S_OK);
  EXPECT_TRUE(plyIsPlaying());
  RunFor(600);
  EXPECT_GT(GetMvCurPos(nullptr), 200);
}

// Functions called out of order do nothing and fail softly.
TEST_F(PlaybackTest, CallsBeforeTheGraphExists) {
  plyCleanUp();
  EXPECT_EQ(plyStart(), E_FAIL);
  EXPECT_EQ(plyPause(), E_FAIL);
  EXPECT_EQ(plyStop(), E_FAIL);
  EXPECT_FALSE(plyIsPlaying());
  EXPECT_EQ(plyUseVMR(), E_FAIL);
  EXPECT_EQ(plyPlyUrl("/nowhere.wmv"), E_FAIL);
  EXPECT_EQ(SetMvPlySpeed(2.0), 0);
  EXPECT_EQ(SetUrl("x"), 1);
  EXPECT_FALSE(RepaintWnd(0, nullptr));
  EXPECT_EQ(SetFullScr(TRUE, nullptr), 0);  // no clip window
  EXPECT_FALSE(IsFullScr());
  plyHandleEvent();
  SetMvCurPos(100);
  SetMv(0, 0, 10, 10);
  ASSERT_NE(SetOutput(3), nullptr);
  plyCleanUp();
}

// The video rectangle: one the size of the monitor that holds the window is used but not
// remembered, so leaving full screen goes back to the last other one.
TEST_F(PlaybackTest, WholeScreenRectangleIsNotRemembered) {
  QWidget window;
  window.setGeometry(40, 30, 400, 300);
  window.show();
  ASSERT_TRUE(RunUntil([&] { return window.isVisible(); }, 2000));
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  ASSERT_EQ(Open(Clip("rect.wmv", 4000), window.winId()), S_OK);
  ASSERT_EQ(plyStart(), S_OK);
  setenv("VANTREL_DEBUG", "1", 1);
  testing::internal::CaptureStderr();
  SetMv(10, 20, 320, 240);
  SetMv(0, 0, screen.width(), screen.height());
  EXPECT_TRUE(SetFullScr(TRUE, nullptr));
  EXPECT_TRUE(IsFullScr());
  RunFor(200);
  EXPECT_EQ(window.geometry(), screen);
  EXPECT_TRUE(SwitchScr());  // back
  EXPECT_FALSE(IsFullScr());
  const std::string log = testing::internal::GetCapturedStderr();
  unsetenv("VANTREL_DEBUG");
  RunFor(200);
  EXPECT_EQ(window.geometry(), QRect(40, 30, 400, 300));
  // Full screen set the whole screen; leaving it restored the remembered rectangle.
  const std::string whole = "Video rectangle 0, 0, " + std::to_string(screen.width()) + ", " +
                            std::to_string(screen.height()) + "\n";
  EXPECT_NE(log.find(whole), std::string::npos) << log;
  EXPECT_EQ(log.substr(log.rfind("Video rectangle")), "Video rectangle 10, 20, 330, 260\n") << log;
}

// plyCleanUp and plyInit a thousand times, with a clip now and then, leave nothing alive.
TEST_F(PlaybackTest, CleanUpAndInitLeakNothing) {
  plyCleanUp();
  const std::string path = Clip("leak.wmv", 1000);
  // Whatever GStreamer keeps for the process (plugins, the X sink probe) is made once first.
  ASSERT_EQ(Open(path), S_OK);
  plyCleanUp();
  const int before = LiveGstObjects();
  if (before < 0) GTEST_SKIP() << "leaks tracer not active";
  for (int i = 0; i < 1000; ++i) {
    plyCleanUp();
    ASSERT_EQ(plyInit(), S_OK);
    if (i % 2 == 0) {
      ASSERT_EQ(plyUseVMR(), S_OK);
    }
    if (i % 250 == 0) {
      ASSERT_EQ(plyPlyUrl(path.c_str()), S_OK);
      ASSERT_EQ(plyStart(), S_OK);
      RunFor(100);
    }
    if (i % 250 == 1) {
      EXPECT_LT(plyPlyUrl(dir.File("none.wmv").c_str()), 0);
    }
  }
  plyCleanUp();
  EXPECT_EQ(LiveGstObjects(), before);
}

// Every function a caller binds by name is there in the built library, and nothing else of the
// engine is visible.
TEST(PlaybackLibrary, ExportsEveryFunctionByName) {
  void* lib = dlopen("./libqmvplyex.so", RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << dlerror();
  for (const char* name :
       {"plyInit",     "plyUseVMR",    "SetClipWnd",     "SetFatherWnd", "SetUrl",
        "plyPlyUrl",   "SetMv",        "SetMvRect",      "plyStart",     "plyPause",
        "plyStop",     "plyIsPlaying", "plyHandleEvent", "plyCleanUp",   "GetMvDuration",
        "GetMvCurPos", "SetMvCurPos",  "SetMvPlySpeed",  "SetAudioVol",  "GetAudioVol",
        "SetFullScr",  "IsFullScr",    "SwitchScr",      "RepaintWnd",   "SetOutput",
        "FindVtr",     "ExportToTape", "CtrlVtr",        "GetTapeResult"})
    EXPECT_NE(dlsym(lib, name), nullptr) << name;
  EXPECT_EQ(dlsym(lib, "_ZN5plyex5GraphEv"), nullptr);
  EXPECT_EQ(dlsym(lib, "DbgLog"), nullptr);
  dlclose(lib);
}

// --- On the two-monitor desktop: 1024 x 768 primary at (0, 0), 800 x 600 at (1024, 0). ---

class TwoMonitors : public PlaybackTest {
 protected:
  void SetUp() override {
    if (QGuiApplication::platformName() != QLatin1String("xcb") ||
        QGuiApplication::screens().size() < 2)
      GTEST_SKIP() << "needs the two-monitor X desktop (tests/support/two_monitor_run)";
  }
};

TEST_F(TwoMonitors, OutputsAreTheScreens) {
  ASSERT_EQ(plyInit(), S_OK);
  EXPECT_TRUE(Same(*SetOutput(1), RECT{0, 0, 0, 0}));  // no renderer asked the monitors yet
  ASSERT_EQ(plyUseVMR(), S_OK);
  const RECT second{1024, 0, 1824, 600};
  EXPECT_TRUE(Same(*SetOutput(0), RECT{0, 0, 1024, 768})) << Text(*SetOutput(0));
  EXPECT_TRUE(Same(*SetOutput(1), second)) << Text(*SetOutput(1));
  EXPECT_TRUE(Same(*SetOutput(5), second)) << Text(*SetOutput(5));
}

// Full screen on the second monitor covers exactly that monitor, and the clip is drawn there.
TEST_F(TwoMonitors, FullScreenOnTheSecondMonitorDrawsTheClip) {
  if (std::getenv("VANTREL_VIDEO_SINK") != nullptr) GTEST_SKIP() << "video sink set by the caller";
  QWidget window;
  window.setWindowTitle("clip window");
  window.setGeometry(100, 100, 400, 300);
  window.setAttribute(Qt::WA_StyledBackground);
  window.setStyleSheet("background: rgb(0, 0, 255)");
  window.show();
  ASSERT_TRUE(RunUntil([&] { return window.isVisible(); }, 2000));
  RunFor(200);

  // A wide picture: letter-boxed on the 4:3 monitor, 800 x 450 between bands of 75 pixels.
  clipgen::ClipSpec params;
  params.durationMs = 5000;
  params.width = 384;
  params.height = 216;
  const std::string path = testutil::MakeClip(dir, "full.wmv", params);
  ASSERT_EQ(Open(path, window.winId()), S_OK);
  SetMv(0, 0, 400, 300);
  ASSERT_EQ(plyStart(), S_OK);
  const POINT origin{1024, 0};
  EXPECT_TRUE(SetFullScr(TRUE, &origin));
  EXPECT_TRUE(RunUntil([&] { return window.geometry() == QRect(1024, 0, 800, 600); }, 2000))
      << window.geometry().x() << "," << window.geometry().y() << " " << window.geometry().width()
      << "x" << window.geometry().height();
  RunFor(800);

  // The picture of one moment (grabbed again while a new size may still be on its way).
  QScreen* screen = QGuiApplication::primaryScreen();
  QImage shot;
  int frame = -1;
  for (int attempt = 0; attempt < 10 && frame < 0; ++attempt) {
    if (attempt > 0) RunFor(150);
    shot = screen->grabWindow(window.winId()).toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shot.size(), QSize(800, 600));
    // The code's cells are sized for the clip's own picture.
    const QImage picture = shot.copy(0, 75, 800, 450)
                               .scaled(384, 216, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    frame = clipgen::ReadFrameCode(picture.constBits(), picture.width(), picture.height(),
                                   static_cast<int>(picture.bytesPerLine()));
  }
  if (const char* out = std::getenv("QMVPLYEX_SHOT")) shot.save(out);
  int blue = 0;
  int bandLit = 0;
  for (int y = 0; y < shot.height(); y += 10)
    for (int x = 0; x < shot.width(); x += 10) {
      blue += shot.pixel(x, y) == qRgb(0, 0, 255) ? 1 : 0;
      if (y < 70 || y > 530) bandLit += qGray(shot.pixel(x, y)) > 16 ? 1 : 0;
    }
  EXPECT_LT(blue, 10);
  EXPECT_EQ(bandLit, 0);
  EXPECT_GE(frame, 15);  // 25 pictures a second, a second or more in
  EXPECT_LE(frame, 100);

  EXPECT_TRUE(SetFullScr(FALSE, nullptr));
  EXPECT_TRUE(RunUntil([&] { return window.geometry() == QRect(100, 100, 400, 300); }, 2000));
}

// A clip that plays moves to a new clip window (the old window's drawing child goes only after),
// and keeps drawing there.
TEST_F(TwoMonitors, MovesToAnotherClipWindowWhilePlaying) {
  if (std::getenv("VANTREL_VIDEO_SINK") != nullptr) GTEST_SKIP() << "video sink set by the caller";
  QWidget first;
  QWidget second;
  first.setGeometry(50, 50, 320, 240);
  second.setGeometry(450, 50, 320, 240);
  first.show();
  second.show();
  ASSERT_TRUE(RunUntil([&] { return first.isVisible() && second.isVisible(); }, 2000));
  RunFor(200);
  ASSERT_EQ(Open(Clip("move.wmv", 4000), first.winId()), S_OK);
  SetMv(0, 0, 320, 240);
  ASSERT_EQ(plyStart(), S_OK);
  RunFor(500);
  SetClipWnd(second.winId());
  SetMv(0, 0, 320, 240);
  int frame = -1;
  for (int attempt = 0; attempt < 10 && frame < 0; ++attempt) {
    RunFor(200);
    const QImage shot = QGuiApplication::primaryScreen()
                            ->grabWindow(second.winId())
                            .toImage()
                            .convertToFormat(QImage::Format_RGB32);
    frame = clipgen::ReadFrameCode(shot.constBits(), shot.width(), shot.height(),
                                   static_cast<int>(shot.bytesPerLine()));
  }
  EXPECT_GE(frame, 15);
  EXPECT_TRUE(plyIsPlaying());
}

}  // namespace

// The video rectangle changes many times while pictures flow (the user sizing the window, full
// screen on and off): the picture follows each size and the clip plays on.
TEST_F(TwoMonitors, VideoRectangleChangesWhilePlaying) {
  if (std::getenv("VANTREL_VIDEO_SINK") != nullptr) GTEST_SKIP() << "video sink set by the caller";
  QWidget window;
  window.setGeometry(60, 60, 480, 360);
  window.show();
  ASSERT_TRUE(RunUntil([&] { return window.isVisible(); }, 2000));
  RunFor(200);
  ASSERT_EQ(Open(Clip("sizes.wmv", 4000), window.winId()), S_OK);
  SetMv(0, 0, 480, 360);
  ASSERT_EQ(plyStart(), S_OK);
  for (int i = 0; i < 60 && plyIsPlaying(); ++i) {
    SetMv(i % 7, i % 5, 120 + (i * 37) % 360, 90 + (i * 23) % 270);
    RunFor(i % 3 == 0 ? 1 : 15);
  }
  EXPECT_TRUE(plyIsPlaying());
  SetMv(0, 0, 320, 240);
  int frame = -1;
  for (int attempt = 0; attempt < 10 && frame < 0; ++attempt) {
    RunFor(150);
    const QImage shot = QGuiApplication::primaryScreen()
                            ->grabWindow(window.winId(), 0, 0, 320, 240)
                            .toImage()
                            .convertToFormat(QImage::Format_RGB32);
    frame = clipgen::ReadFrameCode(shot.constBits(), shot.width(), shot.height(),
                                   static_cast<int>(shot.bytesPerLine()));
  }
  EXPECT_GE(frame, 10);
  EXPECT_TRUE(plyIsPlaying());
}

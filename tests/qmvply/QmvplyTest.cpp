// The preview player plays generated clips in real time on sinks chosen by the environment
// (fakesink without a display) and reports to a recording notify window.
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
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "CQmvply.h"
#include "GstLiveObjects.h"
#include "Messages.h"
#include "QtEventLoop.h"
#include "TestDir.h"

namespace {

using testutil::LiveGstObjects;
using testutil::RunFor;
using testutil::RunUntil;
using Clock = std::chrono::steady_clock;

struct Report {
  Clock::time_point at;
  uint32_t msg;
  uintptr_t wParam;
  intptr_t lParam;
};

class RecordingWindow : public CMsgWindow {
 public:
  void PostMsg(uint32_t msg, uintptr_t wParam, intptr_t lParam) override {
    reports.push_back({Clock::now(), msg, wParam, lParam});
  }
  void DispatchOnePending() override {}

  int Count(uintptr_t wParam) const {
    int n = 0;
    for (const Report& r : reports) n += r.wParam == wParam ? 1 : 0;
    return n;
  }
  std::vector<Report> Positions() const {
    std::vector<Report> out;
    for (const Report& r : reports)
      if (r.wParam == 1) out.push_back(r);
    return out;
  }

  std::vector<Report> reports;
};

std::wstring Wide(const std::string& s) {
  return std::wstring(s.begin(), s.end());
}

int64_t MsBetween(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(b - a).count();
}

constexpr uint64_t kCnsPerMsU = 10000;

class QmvplyTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // No sound card and, off X, no display: decode into sinks that keep the clock.
    setenv("VANTREL_AUDIO_SINK", "fakesink", 0);
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
      setenv("VANTREL_VIDEO_SINK", "fakesink", 0);
    // Counts the elements, pads and buses alive, to see that the player frees its pipelines.
    setenv("GST_TRACERS", "leaks(filters=\"GstElement,GstPad,GstBus\",stack-traces-flags=none)", 0);
  }

  void SetUp() override {
    ASSERT_EQ(player.Init(), S_OK);
    player.SetNotifyWnd(&window);
  }

  std::string Clip(const std::string& name, int durationMs) {
    clipgen::ClipSpec params;
    params.durationMs = durationMs;
    return testutil::MakeClip(dir, name, params);
  }

  bool Ended() const { return window.Count(0) > 0; }

  testutil::TempDir dir;
  RecordingWindow window;
  CQmvply player;
};

// A whole clip: reports every half second with a rising position, the end once, then silence.
TEST_F(QmvplyTest, PlaysClipToTheEndWithHalfSecondReports) {
  const std::wstring path = Wide(Clip("three.wmv", 3000));
  ASSERT_EQ(player.Open(path.c_str()), S_OK);
  EXPECT_TRUE(player.IsOpen());
  EXPECT_FALSE(player.IsPlaying());
  const Clock::time_point started = Clock::now();
  ASSERT_EQ(player.Start(0), S_OK);
  EXPECT_TRUE(player.IsPlaying());
  ASSERT_TRUE(RunUntil([&] { return Ended(); }, 10000));
  const Clock::time_point ended = window.reports.back().at;

  // Played in real time, and the end reported within a report period of the clip's end.
  EXPECT_GE(MsBetween(started, ended), 2800);
  EXPECT_LE(MsBetween(started, ended), 4500);

  const std::vector<Report> positions = window.Positions();
  ASSERT_GE(positions.size(), 4u);
  EXPECT_LE(positions.size(), 7u);
  EXPECT_LT(positions.front().lParam, 800);
  int64_t sumGap = 0;
  for (size_t i = 0; i < positions.size(); ++i) {
    EXPECT_EQ(positions[i].msg, WM_PREVIEW_NOTIFY);
    EXPECT_LE(positions[i].lParam, 3000);
    if (i == 0) continue;
    EXPECT_GT(positions[i].lParam, positions[i - 1].lParam) << "report " << i;
    const int64_t gap = MsBetween(positions[i - 1].at, positions[i].at);
    EXPECT_GE(gap, 300) << "report " << i;
    EXPECT_LE(gap, 900) << "report " << i;
    sumGap += gap;
  }
  const int64_t meanGap = sumGap / static_cast<int64_t>(positions.size() - 1);
  EXPECT_GE(meanGap, 420);
  EXPECT_LE(meanGap, 620);

  // The end comes last and once; the player is idle afterwards.
  EXPECT_EQ(window.reports.back().msg, WM_PREVIEW_NOTIFY);
  EXPECT_EQ(window.reports.back().wParam, 0u);
  EXPECT_EQ(window.Count(0), 1);
  EXPECT_FALSE(player.IsPlaying());
  EXPECT_FALSE(player.IsOpen());
  const size_t count = window.reports.size();
  RunFor(1200);
  EXPECT_EQ(window.reports.size(), count);
  EXPECT_EQ(player.Start(0), E_FAIL);
}

// The start position is in 100-ns units: 1.5 s into a 2.5 s clip leaves one second to play.
TEST_F(QmvplyTest, StartsAtPositionIn100nsUnits) {
  const std::wstring path = Wide(Clip("start.wmv", 2500));
  ASSERT_EQ(player.Open(path.c_str()), S_OK);
  const Clock::time_point started = Clock::now();
  ASSERT_EQ(player.Start(1500 * kCnsPerMsU), S_OK);
  ASSERT_TRUE(RunUntil([&] { return Ended(); }, 8000));
  EXPECT_LE(MsBetween(started, window.reports.back().at), 2000);
  const std::vector<Report> positions = window.Positions();
  ASSERT_GE(positions.size(), 1u);
  EXPECT_GE(positions.front().lParam, 1500);
  EXPECT_LE(positions.front().lParam, 2500);
}

// Stop ends the reports at once, reports no end, and closes the clip; a new Open plays again.
TEST_F(QmvplyTest, StopEndsReportsAndClosesTheClip) {
  const std::wstring path = Wide(Clip("stop.wmv", 3000));
  ASSERT_EQ(player.Open(path.c_str()), S_OK);
  ASSERT_EQ(player.Start(0), S_OK);
  ASSERT_TRUE(RunUntil([&] { return window.Count(1) >= 2; }, 5000));
  EXPECT_EQ(player.Stop(), S_OK);
  EXPECT_EQ(player.Stop(), S_OK);
  EXPECT_FALSE(player.IsPlaying());
  EXPECT_FALSE(player.IsOpen());
  EXPECT_EQ(player.GetPosition(), 0);
  const size_t count = window.reports.size();
  RunFor(1200);
  EXPECT_EQ(window.reports.size(), count);
  EXPECT_EQ(window.Count(0), 0);
  EXPECT_EQ(player.Start(0), E_FAIL);

  ASSERT_EQ(player.Open(path.c_str()), S_OK);
  ASSERT_EQ(player.Start(0), S_OK);
  ASSERT_TRUE(RunUntil([&] { return window.reports.size() > count; }, 3000));
  EXPECT_EQ(window.reports.back().wParam, 1u);
  EXPECT_LT(window.reports.back().lParam, 1000);
}

// Opening another clip while one plays replaces it: one clip's reports, one end.
TEST_F(QmvplyTest, OpenWhilePlayingReplacesTheClip) {
  const std::wstring first = Wide(Clip("first.wmv", 3000));
  const std::wstring second = Wide(Clip("second.wmv", 1500));
  ASSERT_EQ(player.Open(first.c_str()), S_OK);
  ASSERT_EQ(player.Start(0), S_OK);
  ASSERT_TRUE(RunUntil([&] { return window.Count(1) >= 2; }, 5000));
  ASSERT_EQ(player.Open(second.c_str()), S_OK);
  EXPECT_FALSE(player.IsPlaying());
  const size_t before = window.reports.size();
  ASSERT_EQ(player.Start(0), S_OK);
  ASSERT_TRUE(RunUntil([&] { return Ended(); }, 6000));
  EXPECT_EQ(window.Count(0), 1);
  // Every report is of the second clip: at most its length, and the end of its last sound
  // frame (2048 samples at 44.1 kHz) may lie a little past that; the first clip ran to 3000.
  constexpr int kLastSoundFrameMs = 47;
  for (size_t i = before; i < window.reports.size(); ++i) {
    if (window.reports[i].wParam == 1) {
      EXPECT_LE(window.reports[i].lParam, 1500 + kLastSoundFrameMs);
    }
  }
}

// Clips with only one kind of stream, or with a second sound track, play to the end in real time,
// the reports following the clock (the sink that swallows a second track is not asked).
TEST_F(QmvplyTest, PlaysClipsOfEveryStreamLayout) {
  struct Case {
    const char* name;
    bool video;
    int audioTracks;
  };
  for (const Case& c :
       {Case{"silent.wmv", true, 0}, Case{"sound.qmv", false, 1}, Case{"twotracks.wmv", true, 2}}) {
    SCOPED_TRACE(c.name);
    clipgen::ClipSpec params;
    params.durationMs = 1200;
    params.video = c.video;
    params.audioTracks = c.audioTracks;
    const std::wstring path = Wide(testutil::MakeClip(dir, c.name, params));
    window.reports.clear();
    ASSERT_EQ(player.Open(path.c_str()), S_OK);
    const Clock::time_point started = Clock::now();
    ASSERT_EQ(player.Start(0), S_OK);
    ASSERT_TRUE(RunUntil([&] { return Ended(); }, 6000));
    EXPECT_GE(MsBetween(started, window.reports.back().at), 1000);
    const std::vector<Report> positions = window.Positions();
    ASSERT_GE(positions.size(), 1u);
    EXPECT_LT(positions.front().lParam, MsBetween(started, positions.front().at) + 300);
  }
}

// Files that are missing, empty, damaged or of another kind are refused, whatever their name,
// and leave the player ready for the next clip.
TEST_F(QmvplyTest, RefusesBadFilesAndStaysUsable) {
  const std::string good = Clip("good.wmv", 1500);
  std::string bytes;
  {
    std::ifstream in(good, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  ASSERT_GT(bytes.size(), 4000u);
  auto write = [&](const std::string& name, const std::string& content) {
    std::ofstream(dir.File(name), std::ios::binary) << content;
    return dir.File(name);
  };
  // A valid sound file of another container: plays elsewhere, but is no clip.
  std::string wav = "RIFF____WAVEfmt ";
  const char fmt[] = {16, 0, 0,          0,    1, 0, 1, 0, 0x40, 0x1F,
                      0,  0, (char)0x80, 0x3E, 0, 0, 2, 0, 16,   0};
  wav.append(fmt, sizeof fmt);
  wav += "data";
  const uint32_t dataSize = 16000;
  wav.append(reinterpret_cast<const char*>(&dataSize), 4);
  wav.append(dataSize, '\0');
  const uint32_t riffSize = static_cast<uint32_t>(wav.size() - 8);
  wav.replace(4, 4, reinterpret_cast<const char*>(&riffSize), 4);

  std::string noise(20000, '\0');
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 7919u) >> 3);

  const std::vector<std::string> bad = {
      dir.File("missing.wmv"),
      write("empty.wmv", ""),
      write("text.wmv", "not a clip at all\n"),
      write("noise.qmv", noise),
      write("header.wmv", bytes.substr(0, 1000)),
      write("tone.wmv", wav),
      dir.Path().string(),
  };
  for (const std::string& path : bad) {
    SCOPED_TRACE(path);
    const std::wstring wide = Wide(path);
    EXPECT_LT(player.Open(wide.c_str()), 0);
    EXPECT_FALSE(player.IsOpen());
    EXPECT_EQ(player.Start(0), E_FAIL);
    EXPECT_FALSE(player.IsPlaying());
  }
  EXPECT_EQ(player.Open(nullptr), E_INVALIDARG);
  EXPECT_EQ(player.Open(L""), E_INVALIDARG);
  RunFor(600);
  EXPECT_TRUE(window.reports.empty());

  const std::wstring wide = Wide(good);
  ASSERT_EQ(player.Open(wide.c_str()), S_OK);
  ASSERT_EQ(player.Start(0), S_OK);
  ASSERT_TRUE(RunUntil([&] { return Ended(); }, 6000));
}

// A clip cut short in its data plays what it holds and reports its end.
TEST_F(QmvplyTest, CutClipPlaysToTheCutAndEnds) {
  const std::string whole = Clip("whole.wmv", 3000);
  std::string bytes;
  {
    std::ifstream in(whole, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  const std::string cut = dir.File("cut.wmv");
  std::ofstream(cut, std::ios::binary) << bytes.substr(0, bytes.size() / 2);
  const std::wstring path = Wide(cut);
  ASSERT_EQ(player.Open(path.c_str()), S_OK);
  ASSERT_EQ(player.Start(0), S_OK);
  ASSERT_TRUE(RunUntil([&] { return Ended(); }, 8000));
  EXPECT_EQ(window.Count(0), 1);
  EXPECT_FALSE(player.IsOpen());
}

// Every way a clip ends (Stop, another Open, a refusal, its end, Exit, deletion) frees its
// elements, pads and buses.
TEST_F(QmvplyTest, FreesEveryPipelineItMakes) {
  const int before = LiveGstObjects();
  if (before < 0) GTEST_SKIP() << "leaks tracer not active (GST_TRACERS set by the caller?)";
  const std::wstring path = Wide(Clip("free.wmv", 1200));
  const std::wstring bad = Wide(dir.File("bad.wmv"));
  std::ofstream(dir.File("bad.wmv")) << "not a clip";

  ASSERT_EQ(player.Open(path.c_str()), S_OK);
  ASSERT_EQ(player.Start(0), S_OK);
  ASSERT_TRUE(RunUntil([&] { return window.Count(1) >= 1; }, 3000));
  ASSERT_EQ(player.Open(path.c_str()), S_OK);
  ASSERT_EQ(player.Stop(), S_OK);
  EXPECT_LT(player.Open(bad.c_str()), 0);
  EXPECT_EQ(LiveGstObjects(), before);

  ASSERT_EQ(player.Open(path.c_str()), S_OK);
  ASSERT_EQ(player.Start(0), S_OK);
  ASSERT_TRUE(RunUntil([&] { return Ended(); }, 5000));
  EXPECT_EQ(LiveGstObjects(), before);

  ASSERT_EQ(player.Open(path.c_str()), S_OK);
  ASSERT_EQ(player.Start(0), S_OK);
  ASSERT_EQ(player.Exit(), S_OK);
  EXPECT_EQ(LiveGstObjects(), before);

  auto* dropped = new CQmvply;
  ASSERT_EQ(dropped->Init(), S_OK);
  ASSERT_EQ(dropped->Open(path.c_str()), S_OK);
  ASSERT_EQ(dropped->Start(0), S_OK);
  delete dropped;
  EXPECT_EQ(LiveGstObjects(), before);
}

// Stop and Exit in every state, twice; Exit while playing silences the player; it starts again.
TEST_F(QmvplyTest, StopAndExitInAnyState) {
  const std::wstring path = Wide(Clip("life.wmv", 3000));
  {
    CQmvply fresh;
    EXPECT_EQ(fresh.Stop(), S_OK);
    EXPECT_EQ(fresh.Exit(), S_OK);
    EXPECT_EQ(fresh.Open(path.c_str()), E_UNEXPECTED);
    EXPECT_EQ(fresh.Start(0), E_FAIL);
    EXPECT_EQ(fresh.Exit(), S_OK);
  }
  EXPECT_EQ(player.Start(0), E_FAIL);
  EXPECT_EQ(player.Stop(), S_OK);

  ASSERT_EQ(player.Open(path.c_str()), S_OK);
  ASSERT_EQ(player.Start(0), S_OK);
  ASSERT_TRUE(RunUntil([&] { return window.Count(1) >= 1; }, 3000));
  EXPECT_EQ(player.Exit(), S_OK);
  EXPECT_EQ(player.Exit(), S_OK);
  EXPECT_EQ(player.Stop(), S_OK);
  EXPECT_FALSE(player.IsOpen());
  const size_t count = window.reports.size();
  RunFor(1200);
  EXPECT_EQ(window.reports.size(), count);
  EXPECT_EQ(player.Open(path.c_str()), E_UNEXPECTED);

  ASSERT_EQ(player.Init(), S_OK);
  player.SetNotifyWnd(&window);
  ASSERT_EQ(player.Open(path.c_str()), S_OK);
  ASSERT_EQ(player.Start(0), S_OK);
  ASSERT_TRUE(RunUntil([&] { return window.reports.size() > count; }, 3000));

  // An owner that deletes the player mid-clip without Exit.
  auto* dropped = new CQmvply;
  ASSERT_EQ(dropped->Init(), S_OK);
  dropped->SetNotifyWnd(&window);
  ASSERT_EQ(dropped->Open(path.c_str()), S_OK);
  ASSERT_EQ(dropped->Start(0), S_OK);
  delete dropped;
}

// On an X display the pictures land in the widget's window (run under xvfb-run).
TEST_F(QmvplyTest, DrawsIntoTheWidgetOnX11) {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) GTEST_SKIP() << "needs an X display";
  if (std::getenv("VANTREL_VIDEO_SINK") != nullptr) GTEST_SKIP() << "video sink set by the caller";
  // A preview screen inside a window, as the main window holds it.
  QWidget top;
  top.setFixedSize(480, 343);
  top.setStyleSheet("background: rgb(255, 253, 234)");
  QWidget screen(&top);
  screen.setGeometry(10, 60, 320, 240);
  screen.setAttribute(Qt::WA_StyledBackground);
  screen.setStyleSheet("background: rgb(2, 0, 0)");
  top.show();
  ASSERT_TRUE(RunUntil([&] { return screen.isVisible(); }, 2000));
  RunFor(200);

  CQmvply preview;
  preview.SetVideoWnd(&screen);
  ASSERT_EQ(preview.Init(), S_OK);
  preview.SetNotifyWnd(&window);
  const std::wstring path = Wide(Clip("x11.wmv", 3000));
  ASSERT_EQ(preview.Open(path.c_str()), S_OK);
  const std::string sink = preview.GetVideoSinkName();
  EXPECT_TRUE(sink == "ximagesink" || sink == "xvimagesink") << sink;
  ASSERT_EQ(preview.Start(0), S_OK);
  ASSERT_TRUE(RunUntil([&] { return window.Count(1) >= 3; }, 5000));

  const QImage shot = QGuiApplication::primaryScreen()
                          ->grabWindow(screen.winId())
                          .toImage()
                          .convertToFormat(QImage::Format_RGB32);
  if (const char* out = std::getenv("QMVPLY_SHOT")) {
    shot.save(out);
    QGuiApplication::primaryScreen()->grabWindow(top.winId()).save(QString(out) + ".top.png");
  }
  ASSERT_EQ(shot.width(), 320);
  const int frame = clipgen::ReadFrameCode(shot.constBits(), shot.width(), shot.height(),
                                           static_cast<int>(shot.bytesPerLine()));
  // 25 pictures a second: about a second and a half in.
  EXPECT_GE(frame, 20);
  EXPECT_LE(frame, 75);
  ASSERT_EQ(preview.Stop(), S_OK);

  // The preview screen's own size: the picture is scaled into the whole window.
  screen.setGeometry(10, 183, 121, 88);
  RunFor(200);
  ASSERT_EQ(preview.Open(path.c_str()), S_OK);
  ASSERT_EQ(preview.Start(0), S_OK);
  ASSERT_TRUE(RunUntil([&] { return window.Count(1) >= 6; }, 5000));
  const QImage small = QGuiApplication::primaryScreen()->grabWindow(screen.winId()).toImage();
  if (const char* out = std::getenv("QMVPLY_SHOT")) small.save(QString(out) + ".small.png");
  ASSERT_EQ(small.size(), QSize(121, 88));
  int drawn = 0;
  for (int y = 0; y < small.height(); ++y)
    for (int x = 0; x < small.width(); ++x) drawn += qGray(small.pixel(x, y)) > 40 ? 1 : 0;
  EXPECT_GT(drawn, small.width() * small.height() * 9 / 10);
  preview.Exit();
}

}  // namespace

// OpenAsync returns before the first picture; a Start given meanwhile plays from its position
// once the clip has prerolled. Pause holds the clip on a frame, which GetShownPosition names (a
// frame's time at 25 fps); Start plays on from there. A file that is no clip ends with a report.
TEST_F(QmvplyTest, OpensWithoutWaitingAndPausesOnAFrame) {
  const std::wstring path = Wide(Clip("async.wmv", 4000));
  QElapsedTimer call;
  call.start();
  ASSERT_EQ(player.OpenAsync(path.c_str()), S_OK);
  ASSERT_EQ(player.Start(1000 * kCnsPerMsU), S_OK);
  EXPECT_LT(call.elapsed(), 50);
  EXPECT_TRUE(player.IsPlaying());
  ASSERT_TRUE(RunUntil([&] { return player.GetPosition() >= 1500; }, 5000));
  EXPECT_LT(player.GetPosition(), 2500);
  ASSERT_EQ(player.Pause(), S_OK);
  EXPECT_TRUE(player.IsOpen());
  EXPECT_TRUE(player.IsPaused());
  EXPECT_FALSE(player.IsPlaying());
  RunFor(300);
  const int32_t shown = player.GetShownPosition();
  EXPECT_EQ(shown % 40, 0) << shown;
  EXPECT_GE(shown, 1400);
  EXPECT_LT(shown, 2600);
  const size_t reports = window.reports.size();
  RunFor(600);
  EXPECT_EQ(player.GetShownPosition(), shown);
  EXPECT_EQ(window.reports.size(), reports);

  ASSERT_EQ(player.Start(static_cast<uint64_t>(shown) * kCnsPerMsU), S_OK);
  ASSERT_TRUE(RunUntil([&] { return window.reports.size() > reports; }, 3000));
  EXPECT_EQ(window.reports[reports].wParam, 1u);
  EXPECT_GE(window.reports[reports].lParam, shown);
  EXPECT_LT(window.reports[reports].lParam, shown + 800);
  ASSERT_TRUE(RunUntil([&] { return Ended(); }, 6000));
  EXPECT_EQ(window.Count(0), 1);

  const std::wstring bad = Wide(dir.File("bad.wmv"));
  std::ofstream(dir.File("bad.wmv")) << "not a clip";
  ASSERT_EQ(player.OpenAsync(bad.c_str()), S_OK);
  ASSERT_EQ(player.Start(0), S_OK);
  ASSERT_TRUE(RunUntil([&] { return window.Count(0) == 2; }, 8000));
  EXPECT_FALSE(player.IsOpen());
  EXPECT_EQ(player.OpenAsync(Wide(dir.File("missing.wmv")).c_str()), NS_E_FILE_OPEN_FAILED);
}

// Ranges play in the order given, back to back, each from its start to its end: the range index
// and the positions follow them, each range's first picture is its start, one end comes last.
TEST_F(QmvplyTest, PlaysRangesBackToBack) {
  const std::wstring path = Wide(Clip("ranges.wmv", 6000));
  const QmvplyRange ranges[] = {{3000 * kCnsPerMsU, 3800 * kCnsPerMsU},
                                {1000 * kCnsPerMsU, 1800 * kCnsPerMsU},
                                {4000 * kCnsPerMsU, 4800 * kCnsPerMsU}};
  EXPECT_EQ(player.StartRanges(ranges, 3), E_FAIL);
  ASSERT_EQ(player.OpenAsync(path.c_str()), S_OK);
  EXPECT_EQ(player.StartRanges(ranges, 0), E_INVALIDARG);
  const Clock::time_point started = Clock::now();
  ASSERT_EQ(player.StartRanges(ranges, 3), S_OK);
  struct Sample {
    int range;
    int32_t pos;
    int32_t shown;
  };
  std::vector<Sample> samples;
  const bool ended = RunUntil(
      [&] {
        if (player.IsOpen() && player.IsPlaying()) {
          // The three reads are not one: a sample taken while the next range begins is dropped.
          const int range = player.GetRangeIndex();
          const Sample s{range, player.GetPosition(), player.GetShownPosition()};
          if (player.GetRangeIndex() == range) samples.push_back(s);
        }
        return Ended();
      },
      10000);
  ASSERT_TRUE(ended);
  const int64_t took = MsBetween(started, window.reports.back().at);
  EXPECT_GE(took, 2200);
  EXPECT_LE(took, 4500);
  EXPECT_EQ(window.Count(0), 1);
  ASSERT_FALSE(samples.empty());

  int range = samples.front().range;
  EXPECT_EQ(range, 0);
  std::vector<int32_t> firstShown(3, -1);
  for (const Sample& s : samples) {
    ASSERT_GE(s.range, range) << "ranges go forward only";
    ASSERT_LE(s.range, 2);
    range = s.range;
    const int32_t from = static_cast<int32_t>(ranges[range].from / kCnsPerMsU);
    const int32_t to = static_cast<int32_t>(ranges[range].to / kCnsPerMsU);
    if (s.pos > 0) {
      EXPECT_GE(s.pos, from - 40) << "range " << range;
      EXPECT_LE(s.pos, to + 40) << "range " << range;
    }
    if (firstShown[range] < 0 && s.shown >= from && s.shown <= to) firstShown[range] = s.shown;
  }
  EXPECT_EQ(range, 2);
  for (int i = 0; i < 3; ++i) {
    const int32_t from = static_cast<int32_t>(ranges[i].from / kCnsPerMsU);
    EXPECT_GE(firstShown[i], from) << "range " << i;
    EXPECT_LE(firstShown[i], from + 120) << "range " << i;
  }
}

// The merge job through the real edit engine: the check, the engine calls, the texts the pane
// shows, and the written clip reopened and decoded independently.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

#include "AsfPatch.h"
#include "CQmvedit.h"
#include "ClipFile.h"
#include "ClipList.h"
#include "MediaProbe.h"
#include "MergeJob.h"
#include "Messages.h"
#include "TestDir.h"

namespace {

using testutil::MakeClip;
using testutil::TempDir;

clipgen::ClipSpec ClipOf(int durationMs) {
  clipgen::ClipSpec s;
  s.durationMs = durationMs;
  s.width = 160;
  s.height = 120;
  return s;
}

std::tm May7() {
  std::tm t{};
  t.tm_year = 2004 - 1900;
  t.tm_mon = 4;
  t.tm_mday = 7;
  t.tm_hour = 9;
  t.tm_min = 3;
  t.tm_sec = 2;
  return t;
}

// The main window as the job sees it: progress posts become the percent label's texts, and
// every dispatch may run a callback (a click arriving during the run).
class PaneWindow : public CMsgWindow {
 public:
  void PostMsg(uint32_t msg, uintptr_t wParam, intptr_t lParam) override {
    if (msg != WM_EDIT_PROGRESS || wParam != 1 || job == nullptr) return;
    if (auto p = job->OnProgress(lParam)) {
      bars.push_back(p->barValue);
      percents.push_back(p->percent);
    }
  }
  void DispatchOnePending() override {
    ++dispatches;
    if (onDispatch) onDispatch();
  }
  MergeJob* job = nullptr;
  std::vector<int> bars;
  std::vector<std::string> percents;
  int dispatches = 0;
  std::function<void()> onDispatch;
};

// The window's merge engine and the job, with the hooks recording what the pane is told.
struct Pane {
  Pane() : job(engine, &window) {
    EXPECT_EQ(engine.Init(), S_OK);
    engine.SetNotifyWnd(&window);
    window.job = &job;
    MergeJob::Hooks hooks;
    hooks.stopPreview = [this] { events.push_back("stop preview"); };
    hooks.setBusy = [this](bool busy) { events.push_back(busy ? "busy" : "idle"); };
    hooks.started = [this](int range, const std::string& percent, const std::string& message) {
      events.push_back("started " + std::to_string(range) + " " + percent + " " + message);
    };
    hooks.now = [] { return May7(); };
    job.SetHooks(hooks);
  }
  ~Pane() { engine.Exit(); }
  CQmvedit engine;
  PaneWindow window;
  MergeJob job;
  std::vector<std::string> events;
};

int64_t EndTime(const probe::Clip& clip) {
  int64_t end = 0;
  for (const probe::Packet& p : clip.packets) end = std::max(end, p.ptsMs + p.durationMs);
  return end;
}

TEST(MergeJob, CheckRefusesClipsThatDiffer) {
  TempDir dir;
  ClipList empty;
  EXPECT_EQ(MergeJob::Check(empty), kTextAddClipsFirst);

  const std::string ref = MakeClip(dir, "ref.wmv", ClipOf(1000));
  std::map<std::string, clipgen::ClipSpec> others;
  others["size"] = ClipOf(1000);
  others["size"].width = 176;
  others["fps"] = ClipOf(1000);
  others["fps"].fpsNum = 30000;
  others["fps"].fpsDen = 1001;
  others["bitrate"] = ClipOf(1000);
  others["bitrate"].videoBitRate = 200000;
  others["sample rate"] = ClipOf(1000);
  others["sample rate"].sampleRate = 22050;
  others["channels"] = ClipOf(1000);
  others["channels"].channels = 1;
  others["audio codec"] = ClipOf(1000);
  others["audio codec"].audioCodec = "wmav1";
  others["audio bit rate"] = ClipOf(1000);
  others["audio bit rate"].audioBitRate = 32000;
  others["no audio"] = ClipOf(1000);
  others["no audio"].audioTracks = 0;
  others["two audio tracks"] = ClipOf(1000);
  others["two audio tracks"].audioTracks = 2;
  others["video codec"] = ClipOf(1000);
  others["video codec"].videoCodec = "wmv1";
  int n = 0;
  for (const auto& [what, params] : others) {
    SCOPED_TRACE(what);
    const std::string other = MakeClip(dir, "o" + std::to_string(n++) + ".wmv", params);
    ClipList list;
    ASSERT_TRUE(list.Add(ref));
    ASSERT_TRUE(list.Add(ref));
    ASSERT_TRUE(list.Add(other));
    EXPECT_EQ(MergeJob::Check(list), kTextDifferentAttribute);
    // Nothing is written for a refused list.
    Pane pane;
    const int files = testutil::CountFiles(dir.Path());
    const MergeResult r = pane.job.Run(list);
    EXPECT_EQ(r.outcome, MergeResult::Outcome::Refused);
    EXPECT_EQ(r.message, kTextDifferentAttribute);
    EXPECT_EQ(r.percent, "");
    EXPECT_EQ(testutil::CountFiles(dir.Path()), files);
    EXPECT_EQ(pane.events, (std::vector<std::string>{"stop preview", "busy", "idle"}));
  }

  // 29.970 and 29.971 frames a second both show as 29.97 and merge; so does one clip alone.
  clipgen::ClipSpec ntsc = ClipOf(5000);
  ntsc.fpsNum = 30000;
  ntsc.fpsDen = 1001;
  clipgen::ClipSpec near = ntsc;
  near.fpsNum = 29971;
  near.fpsDen = 1000;
  ClipList list;
  ASSERT_TRUE(list.Add(MakeClip(dir, "ntsc.wmv", ntsc)));
  ASSERT_TRUE(list.Add(MakeClip(dir, "near.wmv", near)));
  EXPECT_EQ(list.Text(0, kColResolution), "160X120@29.97");
  EXPECT_EQ(list.Text(1, kColResolution), "160X120@29.97");
  EXPECT_EQ(MergeJob::Check(list), std::nullopt);
  ClipList single;
  ASSERT_TRUE(single.Add(ref));
  EXPECT_EQ(MergeJob::Check(single), std::nullopt);
}

// Clips of another video codec show their figures in the list, and two of different sizes are
// refused by them.
TEST(MergeJob, CheckRefusesClipsOfOtherCodecsOfDifferentSizes) {
  TempDir dir;
  std::vector<std::string> paths;
  for (int width : {160, 176}) {
    clipgen::ClipSpec params = ClipOf(1000);
    params.width = width;
    const std::string path = MakeClip(dir, "vc1-" + std::to_string(width) + ".wmv", params);
    ASSERT_TRUE(clipgen::PatchHeader(path, clipgen::HeaderObject::VideoProperties,
                                     clipgen::kCodecAt, 4, clipgen::FourCc("WVC1")));
    paths.push_back(path);
  }
  ClipList list;
  ASSERT_TRUE(list.Add(paths[0]));
  ASSERT_TRUE(list.Add(paths[1]));
  EXPECT_EQ(list.Text(0, kColResolution), "160X120@25.00");
  EXPECT_EQ(list.Text(1, kColResolution), "176X120@25.00");
  EXPECT_EQ(MergeJob::Check(list), kTextDifferentAttribute);
}

TEST(MergeJob, MergesEveryClipOnceInSeqOrderEndToEnd) {
  TempDir dir;
  // Lengths tell the clips apart in the output.
  const std::string a = MakeClip(dir, "a.wmv", ClipOf(2000));
  const std::string b = MakeClip(dir, "b.wmv", ClipOf(3000));
  const std::string c = MakeClip(dir, "c.wmv", ClipOf(1600));
  ClipList list;
  ASSERT_TRUE(list.Add(a));
  ASSERT_TRUE(list.Add(b));
  ASSERT_TRUE(list.Add(c));
  // Seq# 3, 3, 1: no 2, and 3 twice. Merged: c, a, b; the top row stays a.
  list.Click(0);
  list.ChangeSeq("3");
  list.Click(1);
  list.ChangeSeq("3");
  list.Click(2);
  list.ChangeSeq("1");

  Pane pane;
  const MergeResult r = pane.job.Run(list);
  ASSERT_EQ(r.outcome, MergeResult::Outcome::Finished) << r.message;
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.outputPath, dir.File("aMerged2004_5_7_9_3_2.wmv"));
  EXPECT_EQ(r.message, kTextMergeFinished);
  EXPECT_EQ(r.percent, "%100");
  EXPECT_FALSE(pane.job.IsRunning());
  const int range = static_cast<int>(GetClipLength(a) + GetClipLength(b) + GetClipLength(c));
  EXPECT_EQ(pane.events, (std::vector<std::string>{
                             "stop preview", "busy",
                             "started " + std::to_string(range) + " %0 " + kTextMerging, "idle"}));
  EXPECT_GE(pane.window.dispatches, 3);

  // Progress: rising, within the bar, ending full.
  ASSERT_FALSE(pane.window.percents.empty());
  EXPECT_TRUE(std::is_sorted(pane.window.bars.begin(), pane.window.bars.end()));
  EXPECT_LE(pane.window.bars.back(), range);
  EXPECT_GE(pane.window.bars.back(), range - 100);
  EXPECT_EQ(pane.window.percents.back(), "%100");
  EXPECT_FALSE(pane.job.OnProgress(1000).has_value());  // late posts change nothing

  // The written clip: c, a, b end to end, each from its first frame, length the sum, seekable.
  const probe::Clip out = probe::ReadClip(r.outputPath);
  ASSERT_TRUE(out.ok);
  EXPECT_EQ(out.videoStreams, 1);
  EXPECT_EQ(out.audioStreams, 1);
  int64_t lengths[3];
  int i = 0;
  for (const std::string& clip : {c, a, b}) lengths[i++] = EndTime(probe::ReadClip(clip));
  const int64_t total = lengths[0] + lengths[1] + lengths[2];
  EXPECT_NEAR(EndTime(out), total, 3);
  EXPECT_NEAR(out.durationMs, total, 3);
  EXPECT_EQ(probe::DecodeAll(r.outputPath).errors, 0);
  EXPECT_TRUE(probe::HasSimpleIndex(r.outputPath));
  // Frame codes restart at 0 where each clip begins, at 25 frames a second.
  const std::vector<probe::Frame> frames = probe::DecodeVideo(r.outputPath);
  std::vector<int64_t> restarts;
  for (const probe::Frame& f : frames)
    if (f.code == 0) restarts.push_back(f.ptsMs);
  ASSERT_EQ(restarts.size(), 3u);
  EXPECT_EQ(restarts[0], 0);
  EXPECT_NEAR(restarts[1], lengths[0], 2);
  EXPECT_NEAR(restarts[2], lengths[0] + lengths[1], 2);
  EXPECT_EQ(std::count_if(frames.begin(), frames.end(), [](const auto& f) { return f.code >= 0; }),
            (1600 + 2000 + 3000) / 40);
  // Seeking lands in the right clip: 2 s into b is b's frame 50.
  const probe::Frame seek = probe::FrameAt(r.outputPath, restarts[2] + 2000);
  EXPECT_EQ(seek.code, 50);
}

TEST(MergeJob, TakenNamesGetANumberAndStayUntouched) {
  TempDir dir;
  const std::string a = MakeClip(dir, "a.qmv", ClipOf(1000));
  const std::string taken = dir.File("aMerged2004_5_7_9_3_2.qmv");
  std::ofstream(taken) << "earlier merge";
  ClipList list;
  ASSERT_TRUE(list.Add(a));
  Pane pane;
  MergeResult r = pane.job.Run(list);
  ASSERT_TRUE(r.ok()) << r.message;
  EXPECT_EQ(r.outputPath, dir.File("aMerged2004_5_7_9_3_2_2.qmv"));
  r = pane.job.Run(list);
  ASSERT_TRUE(r.ok()) << r.message;
  EXPECT_EQ(r.outputPath, dir.File("aMerged2004_5_7_9_3_2_3.qmv"));
  std::ifstream in(taken);
  std::string text;
  std::getline(in, text);
  EXPECT_EQ(text, "earlier merge");
  EXPECT_TRUE(probe::ReadClip(dir.File("aMerged2004_5_7_9_3_2_2.qmv")).ok);
}

TEST(MergeJob, FailureLeavesNoOutputAndSaysWhy) {
  for (const std::string how : {"gone", "not a clip", "top gone"}) {
    SCOPED_TRACE(how);
    TempDir dir;
    const std::string a = MakeClip(dir, "a.wmv", ClipOf(2000));
    const std::string b = MakeClip(dir, "b.wmv", ClipOf(2000));
    ClipList list;
    ASSERT_TRUE(list.Add(a));
    ASSERT_TRUE(list.Add(b));
    ASSERT_TRUE(list.Add(a));
    // The clips change on disk after they were listed.
    const std::string& victim = how == "top gone" ? a : b;
    std::filesystem::remove(victim);
    if (how == "not a clip") std::ofstream(b) << "not a clip any more";
    const int files = testutil::CountFiles(dir.Path());

    Pane pane;
    const MergeResult r = pane.job.Run(list);
    EXPECT_EQ(r.outcome, MergeResult::Outcome::Failed);
    EXPECT_TRUE(FAILED(r.hr));
    EXPECT_EQ(r.message.rfind(kTextMergeFailed, 0), 0u) << r.message;
    EXPECT_NE(r.message.find(std::filesystem::path(victim).filename().string()), std::string::npos)
        << r.message;
    EXPECT_EQ(r.outputPath, "");
    EXPECT_EQ(r.percent, "");
    EXPECT_EQ(testutil::CountFiles(dir.Path()), files);  // no output, no temporary file
    EXPECT_EQ(pane.events.back(), "idle");
    EXPECT_FALSE(pane.job.IsRunning());
  }
}

TEST(MergeJob, RunInsideARunDoesNothing) {
  TempDir dir;
  const std::string a = MakeClip(dir, "a.wmv", ClipOf(1000));
  ClipList list;
  ASSERT_TRUE(list.Add(a));
  ASSERT_TRUE(list.Add(a));
  Pane pane;
  std::vector<MergeResult::Outcome> inner;
  pane.window.onDispatch = [&] {
    EXPECT_TRUE(pane.job.IsRunning());
    inner.push_back(pane.job.Run(list).outcome);
  };
  const MergeResult r = pane.job.Run(list);
  ASSERT_TRUE(r.ok()) << r.message;
  ASSERT_FALSE(inner.empty());
  for (MergeResult::Outcome o : inner) EXPECT_EQ(o, MergeResult::Outcome::Busy);
  EXPECT_EQ(std::count(pane.events.begin(), pane.events.end(), "busy"), 1);
  EXPECT_NEAR(EndTime(probe::ReadClip(r.outputPath)), 2 * EndTime(probe::ReadClip(a)), 2);
}

TEST(MergeJob, PercentTexts) {
  EXPECT_EQ(MergeJob::PercentText(0, 9000), "%0");
  EXPECT_EQ(MergeJob::PercentText(9000, 9000), "%100");
  EXPECT_EQ(MergeJob::PercentText(9500, 9000), "%100");
  EXPECT_EQ(MergeJob::PercentText(-5, 9000), "%0");
  EXPECT_EQ(MergeJob::PercentText(6, 1000), "%1");
  EXPECT_EQ(MergeJob::PercentText(4994, 10000), "%50");
  EXPECT_EQ(MergeJob::PercentText(500, 0), "%0");
}

}  // namespace

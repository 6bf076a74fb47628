// The montage job: write order, output name, progress texts, a real montage reopened and
// checked, and the failures that must leave nothing behind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>

#include "CQmvedit.h"
#include "MediaProbe.h"
#include "Messages.h"
#include "MontageJob.h"
#include "MontageSource.h"
#include "TestDir.h"

namespace {

using testutil::MakeClip;
using testutil::TempDir;

PERIOD P(int32_t from, int32_t dur, int32_t seq) {
  PERIOD p;
  p.nFrom = from;
  p.nDur = dur;
  p.nSeq = seq;
  return p;
}

// 9:03:07 on 5 July 2004, local time.
std::time_t JobTime() {
  std::tm t{};
  t.tm_year = 104;
  t.tm_mon = 6;
  t.tm_mday = 5;
  t.tm_hour = 9;
  t.tm_min = 3;
  t.tm_sec = 7;
  t.tm_isdst = -1;
  return std::mktime(&t);
}

// The main window as the job sees it: a message queue whose progress posts go through the
// job's handler, and the controls the job writes to.
class PaneWindow : public CMsgWindow {
 public:
  explicit PaneWindow(CMontageJob& job) : job_(job) {}
  void PostMsg(uint32_t msg, uintptr_t wParam, intptr_t lParam) override {
    queue_.push_back({msg, wParam, lParam});
  }
  void DispatchOnePending() override {
    ++dispatches;
    if (onDispatch) onDispatch();
    if (queue_.empty()) return;
    const Msg m = queue_.front();
    queue_.pop_front();
    if (m.msg == WM_EDIT_PROGRESS && m.wParam == 1) OnProgress(m.lParam);
  }
  void DrainQueue() {
    while (!queue_.empty()) DispatchOnePending();
  }
  void OnProgress(intptr_t lParam) {
    progress.push_back(lParam);
    const std::optional<MontageProgress> p = job_.OnProgress(lParam);
    if (!p) return;
    barPos = p->barPos;
    if (p->percent) percents.push_back(*p->percent);
  }
  MontageJobView View() {
    MontageJobView v;
    v.showMessage = [this](const std::string& t) { messages.push_back(t); };
    v.setProgressRange = [this](int32_t total) { barMax = total; };
    v.setProgressPos = [this](int32_t pos) { barPos = pos; };
    v.showPercent = [this](const std::string& t) { percents.push_back(t); };
    return v;
  }

  std::vector<std::string> messages;
  std::vector<std::string> percents;
  std::vector<intptr_t> progress;
  int32_t barMax = -1;
  int32_t barPos = -1;
  int dispatches = 0;
  std::function<void()> onDispatch;

 private:
  struct Msg {
    uint32_t msg;
    uintptr_t wParam;
    intptr_t lParam;
  };
  CMontageJob& job_;
  std::deque<Msg> queue_;
};

// The montage engine opened on a source as the pane's Open does.
struct Pane {
  Pane() : window(job) {
    EXPECT_EQ(edit.Init(), S_OK);
    edit.SetNotifyWnd(&window);
  }
  ~Pane() { edit.Exit(); }
  void Open(const std::string& clip) {
    ASSERT_EQ(source.Open(edit, clip).status, SourceOpenResult::Status::Opened);
  }
  MontageResult Run(const std::string& srcText, const std::vector<PERIOD>& sections,
                    std::time_t when = JobTime()) {
    return job.Run(edit, &window, srcText, sections, window.View(), when);
  }
  CMontageJob job;
  PaneWindow window;
  CQmvedit edit;
  CMontageSource source;
};

clipgen::ClipSpec SmallClip(int durationMs) {
  clipgen::ClipSpec s;
  s.durationMs = durationMs;
  s.width = 160;
  s.height = 120;
  s.keyIntervalMs = 1000;
  return s;
}

TEST(MontageJobOrder, EverySectionOnceBySequenceThenPosition) {
  // Numbers with a gap (2 missing) and a repeat (3 twice), and a section of no length.
  const std::vector<PERIOD> sections = {P(9000, 500, 3), P(5000, 2000, 4), P(1000, 1000, 3),
                                        P(12000, 0, 1), P(3000, 700, 1)};
  const std::vector<PERIOD> order = CMontageJob::WriteOrder(sections);
  ASSERT_EQ(order.size(), 4u);
  EXPECT_EQ(order[0].nFrom, 3000);
  EXPECT_EQ(order[1].nFrom, 1000);  // of the two 3s, the earlier on the timeline first
  EXPECT_EQ(order[2].nFrom, 9000);
  EXPECT_EQ(order[3].nFrom, 5000);
  EXPECT_TRUE(CMontageJob::WriteOrder({P(0, 0, 1)}).empty());
}

TEST(MontageJobOrder, OutputNameAndPercentText) {
  std::tm t{};
  t.tm_year = 104;
  t.tm_mon = 6;
  t.tm_mday = 5;
  t.tm_hour = 9;
  t.tm_min = 3;
  t.tm_sec = 7;
  EXPECT_EQ(CMontageJob::OutputName("/clips/trip.wmv", t), "/clips/tripMoN2004_7_5_9_3_7.wmv");
  EXPECT_EQ(CMontageJob::OutputName("/a.b/clip.WMV", t), "/a.b/clipMoN2004_7_5_9_3_7.WMV");
  EXPECT_EQ(CMontageJob::PercentText(0), "%0");
  EXPECT_EQ(CMontageJob::PercentText(37.4), "%37");
  EXPECT_EQ(CMontageJob::PercentText(100), "%100");
  EXPECT_EQ(CMontageJob::ReasonText(static_cast<HRESULT>(0x80070000u | ENOSPC)),
            "No space left on device.");
  // No job: progress posts change nothing.
  CMontageJob job;
  EXPECT_FALSE(job.OnProgress(100).has_value());
  EXPECT_EQ(job.Total(), 0);
}

// Frame codes of a source range [from, from + len) at 25 fps.
std::vector<int> Codes(int from, int len) {
  std::vector<int> codes;
  for (int t = from; t < from + len; t += 40) codes.push_back(t / 40);
  return codes;
}

TEST(MontageJobRun, ThreeSectionsEndToEndInSequenceOrder) {
  TempDir dir;
  const std::string src = MakeClip(dir, "trip.wmv", SmallClip(12000));
  Pane pane;
  ASSERT_NO_FATAL_FAILURE(pane.Open(src));
  const std::vector<PERIOD> sections = {P(5000, 2000, 2), P(1000, 1000, 1), P(9000, 500, 3)};
  std::optional<MontageProgress> half, over;
  pane.window.onDispatch = [&] {
    if (!half) half = pane.job.OnProgress(1750);
    if (!over) over = pane.job.OnProgress(3600);
  };
  const MontageResult r = pane.Run(src, sections);

  ASSERT_EQ(r.status, MontageResult::Status::Done) << r.message;
  EXPECT_EQ(r.outputPath, dir.File("tripMoN2004_7_5_9_3_7.wmv"));
  EXPECT_TRUE(std::filesystem::exists(r.outputPath));
  EXPECT_EQ(r.message, kMsgMontageDone);
  EXPECT_EQ(pane.window.messages, (std::vector<std::string>{kMsgMontageRunning, kMsgMontageDone}));
  EXPECT_EQ(pane.job.Total(), 3500);
  EXPECT_EQ(pane.window.barMax, 3500);
  EXPECT_EQ(pane.window.barPos, 3500);
  EXPECT_FALSE(pane.job.IsRunning());
  // Progress: "%0" first, "%100" last, rising in between.
  ASSERT_GE(pane.window.percents.size(), 3u);
  EXPECT_EQ(pane.window.percents.front(), "%0");
  EXPECT_EQ(pane.window.percents.back(), "%100");
  for (size_t i = 1; i < pane.window.percents.size(); ++i)
    EXPECT_LE(std::stoi(pane.window.percents[i - 1].substr(1)),
              std::stoi(pane.window.percents[i].substr(1)));
  ASSERT_TRUE(half && half->percent);
  EXPECT_EQ(*half->percent, "%50");
  EXPECT_EQ(half->barPos, 1750);
  ASSERT_TRUE(over.has_value());
  EXPECT_FALSE(over->percent.has_value());  // beyond the total: the text stays
  EXPECT_EQ(over->barPos, 3500);
  // Posts still queued after the end move nothing back.
  const size_t shown = pane.window.percents.size();
  pane.window.DrainQueue();
  EXPECT_EQ(pane.window.percents.size(), shown);
  EXPECT_EQ(pane.window.barPos, 3500);

  // The new clip: 1000-2000, then 5000-7000, then 9000-9500 of the source, frame by frame.
  const std::vector<probe::Frame> frames = probe::DecodeVideo(r.outputPath);
  std::vector<int> want = Codes(1000, 1000), b = Codes(5000, 2000), c = Codes(9000, 500);
  want.insert(want.end(), b.begin(), b.end());
  want.insert(want.end(), c.begin(), c.end());
  std::vector<int> got;
  for (const probe::Frame& f : frames) got.push_back(f.code);
  EXPECT_EQ(got, want);
  // End to end: 40 ms between pictures, and at most one sound frame (46 ms) more at a join,
  // where a section ends with the sound that straddles its end.
  for (size_t i = 1; i < frames.size(); ++i) {
    EXPECT_GE(frames[i].ptsMs - frames[i - 1].ptsMs, 39) << "frame " << i;
    EXPECT_LE(frames[i].ptsMs - frames[i - 1].ptsMs, 40 + 47) << "frame " << i;
  }

  // Audio and video in step: each section's sound starts with its first picture, and the sound
  // runs through the whole clip without holes.
  const probe::Clip clip = probe::ReadClip(r.outputPath);
  ASSERT_TRUE(clip.ok);
  EXPECT_EQ(clip.videoStreams, 1);
  EXPECT_EQ(clip.audioStreams, 1);
  for (size_t start : {size_t{0}, size_t{25}, size_t{75}}) {
    const int64_t at = frames[start].ptsMs;
    int64_t firstAudio = -1;
    for (const probe::Packet& p : clip.packets)
      if (!p.video && p.ptsMs >= at - 47 && (firstAudio < 0 || p.ptsMs < firstAudio))
        firstAudio = p.ptsMs;
    EXPECT_LE(std::abs(firstAudio - at), 47) << "section starting at " << at;
  }
  int64_t audioEnd = 0, gap = 0;
  for (const probe::Packet& p : clip.packets) {
    if (p.video) continue;
    gap = std::max(gap, p.ptsMs - audioEnd);
    audioEnd = std::max(audioEnd, p.ptsMs + p.durationMs);
  }
  EXPECT_LE(gap, 47);
  EXPECT_NEAR(audioEnd, r.writtenMs, 47);
  EXPECT_NEAR(frames.back().ptsMs + 40, r.writtenMs, 47);
  EXPECT_EQ(probe::DecodeAll(r.outputPath).errors, 0);
}

TEST(MontageJobRun, RepeatedNumbersAndTakenNamesLoseNothing) {
  TempDir dir;
  const std::string src = MakeClip(dir, "clip.WMV", SmallClip(6000));
  Pane pane;
  ASSERT_NO_FATAL_FAILURE(pane.Open(src));
  // An earlier montage of the same second holds the name.
  const std::string first = dir.File("clipMoN2004_7_5_9_3_7.WMV");
  std::ofstream(first) << "earlier montage";
  // Both sections numbered 1: both are written, in timeline order.
  const std::vector<PERIOD> sections = {P(4000, 1000, 1), P(1000, 500, 1)};
  const MontageResult r = pane.Run(src, sections);
  ASSERT_EQ(r.status, MontageResult::Status::Done) << r.message;
  EXPECT_EQ(r.outputPath, dir.File("clipMoN2004_7_5_9_3_7_2.WMV"));
  std::vector<int> got;
  for (const probe::Frame& f : probe::DecodeVideo(r.outputPath)) got.push_back(f.code);
  std::vector<int> want = Codes(1000, 500), b = Codes(4000, 1000);
  want.insert(want.end(), b.begin(), b.end());
  EXPECT_EQ(got, want);
  std::ifstream in(first);
  std::string kept;
  std::getline(in, kept);
  EXPECT_EQ(kept, "earlier montage");
  // The next job in that second takes the third name.
  EXPECT_EQ(pane.Run(src, sections).outputPath, dir.File("clipMoN2004_7_5_9_3_7_3.WMV"));
}

TEST(MontageJobRun, NothingHappensWithoutClipPathOrSections) {
  TempDir dir;
  const std::string src = MakeClip(dir, "src.wmv", SmallClip(2000));
  Pane pane;
  ASSERT_NO_FATAL_FAILURE(pane.Open(src));
  for (const MontageResult& r : {pane.Run(dir.File("src.avi"), {P(0, 500, 1)}), pane.Run(src, {}),
                                 pane.Run(src, {P(100, 0, 1)})}) {
    EXPECT_EQ(r.status, MontageResult::Status::NotRun);
    EXPECT_TRUE(r.message.empty());
  }
  EXPECT_TRUE(pane.window.messages.empty());
  EXPECT_TRUE(pane.window.percents.empty());
  EXPECT_EQ(testutil::CountFiles(dir.Path()), 1);
}

TEST(MontageJobRun, SecondJobFromADispatchedMessageIsRefused) {
  TempDir dir;
  const std::string src = MakeClip(dir, "src.wmv", SmallClip(3000));
  Pane pane;
  ASSERT_NO_FATAL_FAILURE(pane.Open(src));
  std::vector<MontageResult::Status> nested;
  pane.window.onDispatch = [&] {
    if (nested.empty()) nested.push_back(pane.Run(src, {P(0, 1000, 1)}, JobTime() + 60).status);
  };
  const MontageResult r = pane.Run(src, {P(0, 2000, 1)});
  EXPECT_EQ(r.status, MontageResult::Status::Done) << r.message;
  ASSERT_EQ(nested.size(), 1u);
  EXPECT_EQ(nested[0], MontageResult::Status::Busy);
  EXPECT_EQ(testutil::CountFiles(dir.Path()), 2);
}

// Every failure: the failure text on the message line, no "%100", no clip left, no name.
void ExpectFailed(const Pane& pane, const MontageResult& r, const std::filesystem::path& folder,
                  int filesBefore) {
  EXPECT_EQ(r.status, MontageResult::Status::Failed);
  EXPECT_TRUE(r.outputPath.empty());
  EXPECT_EQ(r.message.rfind(kMsgMontageFailed, 0), 0u) << r.message;
  ASSERT_FALSE(pane.window.messages.empty());
  EXPECT_EQ(pane.window.messages.back(), r.message);
  for (const std::string& m : pane.window.messages) EXPECT_NE(m, kMsgMontageDone);
  for (const std::string& p : pane.window.percents) EXPECT_NE(p, "%100");
  EXPECT_EQ(testutil::CountFiles(folder), filesBefore);
  EXPECT_FALSE(pane.job.IsRunning());
}

TEST(MontageJobFailure, UnwritableFolder) {
  TempDir dir;
  const std::string src = MakeClip(dir, "src.wmv", SmallClip(3000));
  const std::filesystem::path locked = dir.Path() / "locked";
  std::filesystem::create_directory(locked);
  chmod(locked.c_str(), 0555);
  // Root writes into a read-only folder: a folder that does not exist stands in for it.
  const bool root = geteuid() == 0;
  const std::string srcText =
      root ? (locked / "gone" / "src.wmv").string() : (locked / "src.wmv").string();
  Pane pane;
  ASSERT_NO_FATAL_FAILURE(pane.Open(src));
  const MontageResult r = pane.Run(srcText, {P(0, 1000, 1)});
  ExpectFailed(pane, r, locked, 0);
  EXPECT_EQ(r.message, std::string(kMsgMontageFailed) + " " +
                           (root ? "No such file or directory." : "Permission denied."));
  // The engine stays usable: the next job beside the source works.
  EXPECT_EQ(pane.Run(src, {P(0, 1000, 1)}).status, MontageResult::Status::Done);
}

TEST(MontageJobFailure, DiskFullDuringTheCopy) {
  TempDir dir;
  clipgen::ClipSpec big = SmallClip(8000);
  big.videoBitRate = 2000000;
  const std::string src = MakeClip(dir, "src.wmv", big);
  testutil::SmallDisk disk(dir.Path() / "small");
  if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
  const std::filesystem::path& small = disk.Path();
  {
    Pane pane;
    ASSERT_NO_FATAL_FAILURE(pane.Open(src));
    const MontageResult r =
        pane.Run((small / "src.wmv").string(), {P(0, 3000, 1), P(4000, 3000, 2)});
    ExpectFailed(pane, r, small, 0);
    EXPECT_EQ(r.message, std::string(kMsgMontageFailed) + " No space left on device.");
  }
}

TEST(MontageJobFailure, NoSourceOpen) {
  TempDir dir;
  Pane pane;  // Open never succeeded
  const MontageResult r = pane.Run(dir.File("src.wmv"), {P(0, 1000, 1)});
  ExpectFailed(pane, r, dir.Path(), 0);
  EXPECT_EQ(r.message, std::string(kMsgMontageFailed) + " No clip is open.");
}

TEST(MontageJobFailure, SectionsPastTheClipWriteNothing) {
  TempDir dir;
  const std::string src = MakeClip(dir, "src.wmv", SmallClip(2000));
  Pane pane;
  ASSERT_NO_FATAL_FAILURE(pane.Open(src));
  const MontageResult r = pane.Run(src, {P(5000, 1000, 1)});
  ExpectFailed(pane, r, dir.Path(), 1);
}

}  // namespace

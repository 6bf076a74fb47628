// The edit engine against generated clips; every output is reopened and decoded independently.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

#include "CQmvedit.h"
#include "EditJob.h"
#include "MediaProbe.h"
#include "Messages.h"
#include "TestDir.h"

namespace {

using testutil::MakeClip;
using testutil::TempDir;

class RecordingWindow : public CMsgWindow {
 public:
  void PostMsg(uint32_t msg, uintptr_t wParam, intptr_t lParam) override {
    if (msg == WM_EDIT_PROGRESS && wParam == 1) progress.push_back(lParam);
  }
  void DispatchOnePending() override { ++dispatches; }
  std::vector<intptr_t> progress;
  int dispatches = 0;
};

// One session, set up as the program does.
struct Session {
  Session() {
    EXPECT_EQ(edit.Init(), S_OK);
    edit.SetNotifyWnd(&window);
  }
  ~Session() { edit.Exit(); }
  void Begin(const std::string& src, const std::string& out) { testutil::BeginJob(edit, src, out); }
  CQmvedit edit;
  RecordingWindow window;
};

clipgen::ClipSpec ClipOf(int durationMs, int keyMs = 1000) {
  clipgen::ClipSpec s;
  s.durationMs = durationMs;
  s.width = 160;
  s.height = 120;
  s.keyIntervalMs = keyMs;
  return s;
}

// First packet time per stream within [from, to) of the output.
std::map<int, int64_t> FirstTimes(const probe::Clip& clip, int64_t from, int64_t to) {
  std::map<int, int64_t> first;
  for (const probe::Packet& p : clip.packets)
    if (p.ptsMs >= from && p.ptsMs < to && !first.count(p.stream)) first[p.stream] = p.ptsMs;
  return first;
}

int64_t EndTime(const probe::Clip& clip) {
  int64_t end = 0;
  for (const probe::Packet& p : clip.packets) end = std::max(end, p.ptsMs + p.durationMs);
  return end;
}

void ExpectNondecreasing(const std::vector<intptr_t>& v) {
  for (size_t i = 1; i < v.size(); ++i) ASSERT_LE(v[i - 1], v[i]) << "at " << i;
}

TEST(EditEngine, MontageChainLaysRangesEndToEnd) {
  TempDir dir;
  // 25 fps (40 ms frames), key frame every 2 s: no range starts on a key frame.
  const std::string src = MakeClip(dir, "src.wmv", ClipOf(12000, 2000));
  const std::string out = dir.File("src_MoN.wmv");
  Session s;
  ASSERT_EQ(s.edit.SetSrcFile(src.c_str()), S_OK);
  ASSERT_EQ(s.edit.SetDesFile(out.c_str()), S_OK);
  ASSERT_EQ(s.edit.CopyProfile(), S_OK);
  s.edit.SetDur(6000);
  ASSERT_EQ(s.edit.SetStream(1), S_OK);
  ASSERT_EQ(s.edit.BeginWrite(), S_OK);

  struct Range {
    int32_t start, len;
  };
  // Out of source order, the way sections are renumbered.
  const Range ranges[] = {{7300, 1500}, {2500, 2000}, {9100, 1000}};
  std::vector<int32_t> starts, lengths;
  int32_t outStart = 0;
  for (const Range& r : ranges) {
    int32_t len = r.len;
    ASSERT_EQ(s.edit.CopyPart(outStart, r.start, &len, 0), S_OK);
    // The range grows back to the key frame before its start and ends at start + length.
    const int32_t key = r.start / 2000 * 2000;
    EXPECT_NEAR(len, r.start + r.len - key, 50) << "range at " << r.start;
    starts.push_back(outStart);
    lengths.push_back(len);
    outStart += len;
  }
  ASSERT_EQ(s.edit.EndWrite(), S_OK);

  const probe::Clip clip = probe::ReadClip(out);
  ASSERT_TRUE(clip.ok);
  EXPECT_EQ(clip.videoStreams, 1);
  EXPECT_EQ(clip.audioStreams, 1);
  const probe::DecodeResult decoded = probe::DecodeAll(out);
  ASSERT_TRUE(decoded.ok);
  EXPECT_EQ(decoded.errors, 0);

  // Total length is the sum of the reported lengths.
  EXPECT_NEAR(EndTime(clip), outStart, 1);

  // Each range: its first sample sits on its output start, audio and video together, and the
  // first frame is the key frame before the range start.
  const std::vector<probe::Frame> frames = probe::DecodeVideo(out);
  for (size_t i = 0; i < starts.size(); ++i) {
    std::map<int, int64_t> first = FirstTimes(clip, starts[i], starts[i] + lengths[i]);
    ASSERT_EQ(first.size(), 2u);
    const int64_t earliest = std::min(first[0], first[1]);
    EXPECT_EQ(earliest, starts[i]);
    EXPECT_LE(std::abs(first[0] - first[1]), 47) << "streams of range " << i << " start apart";
    auto frame = std::find_if(frames.begin(), frames.end(),
                              [&](const probe::Frame& f) { return f.ptsMs >= starts[i]; });
    ASSERT_NE(frame, frames.end());
    EXPECT_EQ(frame->code, ranges[i].start / 2000 * 2000 / 40) << "range " << i;
  }

  // Progress: never decreases and ends at the total written.
  ASSERT_FALSE(s.window.progress.empty());
  ExpectNondecreasing(s.window.progress);
  EXPECT_EQ(s.window.progress.back(), static_cast<intptr_t>(s.edit.GetWritten() / 10000));
  EXPECT_NEAR(s.window.progress.back(), outStart, 3);
  EXPECT_GT(s.window.dispatches, 0);  // the caller's messages kept flowing
}

// The index has one entry per second and may point one key frame early; every range still opens
// on the latest key frame at or before its start, with its audio beside it.
TEST(EditEngine, RangesOpenOnTheirKeyFrame) {
  TempDir dir;
  const std::string src = MakeClip(dir, "src.wmv", ClipOf(8000, 1000));
  for (int32_t start : {1000, 1020, 2999, 3000, 3040, 6960, 7000}) {
    SCOPED_TRACE(start);
    const std::string out = dir.File("out" + std::to_string(start) + ".wmv");
    Session s;
    ASSERT_NO_FATAL_FAILURE(s.Begin(src, out));
    int32_t len = 500;
    ASSERT_EQ(s.edit.CopyPart(0, start, &len, 0), S_OK);
    ASSERT_EQ(s.edit.EndWrite(), S_OK);
    const int32_t key = start / 1000 * 1000;
    EXPECT_NEAR(len, start + 500 - key, 47);
    const std::vector<probe::Frame> frames = probe::DecodeVideo(out, 1);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].code, key / 40);
    EXPECT_EQ(frames[0].ptsMs, 0);
    const std::map<int, int64_t> first = FirstTimes(probe::ReadClip(out), 0, 100000);
    ASSERT_EQ(first.size(), 2u);
    EXPECT_LE(first.at(1), 46);  // audio starts within one of its frames
  }
}

TEST(EditEngine, MergeChainKeepsTimesAndWritesAnIndex) {
  TempDir dir;
  const std::string a = MakeClip(dir, "a.wmv", ClipOf(3000));
  const std::string b = MakeClip(dir, "b.qmv", ClipOf(2000));
  const std::string c = MakeClip(dir, "c.wmv", ClipOf(4000));
  const std::string out = dir.File("merged.qmv");
  Session s;
  ASSERT_NO_FATAL_FAILURE(s.Begin(a, out));
  int32_t outStart = 0;
  int64_t expected = 0;
  std::vector<int32_t> starts;
  for (const std::string& clip : {a, b, c}) {
    expected += EndTime(probe::ReadClip(clip));
    ASSERT_EQ(s.edit.SetSrcFile(clip.c_str()), S_OK);
    ASSERT_EQ(s.edit.SetStream(0), S_OK);
    int32_t len = 0;
    ASSERT_EQ(s.edit.CopyPart(outStart, 0, &len, 1), S_OK);
    starts.push_back(outStart);
    outStart += len;
  }
  ASSERT_EQ(s.edit.EndWrite(), S_OK);
  // Each clip's length counts its last audio frame, which runs past its last picture.
  EXPECT_NEAR(outStart, expected, 2);
  EXPECT_NEAR(expected, 9000, 150);

  const probe::Clip clip = probe::ReadClip(out);
  ASSERT_TRUE(clip.ok);
  EXPECT_NEAR(EndTime(clip), outStart, 1);
  EXPECT_NEAR(clip.durationMs, outStart, 2);
  EXPECT_EQ(probe::DecodeAll(out).errors, 0);
  EXPECT_TRUE(probe::HasSimpleIndex(out));
  // Seeking into the third clip finds its frames: frame code restarts at each clip.
  const probe::Frame f = probe::FrameAt(out, starts[2] + 2000);
  EXPECT_EQ(f.code, 50);
  EXPECT_EQ(f.ptsMs, starts[2] + 2000);
  ExpectNondecreasing(s.window.progress);
  EXPECT_NEAR(s.window.progress.back(), outStart, 3);
}

TEST(EditEngine, KeepModeWithZeroStartKeepsSourceTimes) {
  TempDir dir;
  const std::string src = MakeClip(dir, "src.wmv", ClipOf(2000));
  const std::string out = dir.File("copy.wmv");
  Session s;
  ASSERT_NO_FATAL_FAILURE(s.Begin(src, out));
  int32_t len = 0;
  ASSERT_EQ(s.edit.CopyPart(0, 0, &len, 1), S_OK);
  ASSERT_EQ(s.edit.EndWrite(), S_OK);
  const probe::Clip in = probe::ReadClip(src), copy = probe::ReadClip(out);
  ASSERT_EQ(in.packets.size(), copy.packets.size());
  for (size_t i = 0; i < in.packets.size(); ++i) {
    EXPECT_EQ(in.packets[i].ptsMs, copy.packets[i].ptsMs);
    EXPECT_EQ(in.packets[i].size, copy.packets[i].size);
  }
  // The first progress value is the first sample's own length.
  ASSERT_FALSE(s.window.progress.empty());
  EXPECT_LE(s.window.progress.front(), 47);
  EXPECT_NEAR(len, 2000, 50);
}

// A source with one kind of stream copies that stream alone; two audio tracks both stay intact.
TEST(EditEngine, StreamLayouts) {
  TempDir dir;
  struct Case {
    const char* name;
    bool video;
    int audioTracks;
  };
  for (const Case& c : {Case{"audio_only.wmv", false, 1}, Case{"video_only.wmv", true, 0},
                        Case{"two_tracks.wmv", true, 2}}) {
    SCOPED_TRACE(c.name);
    clipgen::ClipSpec params = ClipOf(3000);
    params.video = c.video;
    params.audioTracks = c.audioTracks;
    const std::string src = MakeClip(dir, c.name, params);
    const std::string out = dir.File(std::string("out_") + c.name);
    Session s;
    ASSERT_EQ(s.edit.SetSrcFile(src.c_str()), S_OK);
    EXPECT_EQ(s.edit.FindStreamNum(1), c.video ? 1 : 0xFFFF);
    EXPECT_EQ(s.edit.FindStreamNum(0), c.audioTracks == 0 ? 0xFFFF : (c.video ? 2 : 1));
    EXPECT_EQ(s.edit.FindStreamNum(2), 0xFFFF);
    ASSERT_EQ(s.edit.SetDesFile(out.c_str()), S_OK);
    ASSERT_EQ(s.edit.CopyProfile(), S_OK);
    ASSERT_EQ(s.edit.SetStream(1), S_OK);
    ASSERT_EQ(s.edit.BeginWrite(), S_OK);
    int32_t len = 1000;
    ASSERT_EQ(s.edit.CopyPart(0, 1000, &len, 0), S_OK);
    // Time covered, counted once however many streams: from the sample at or before the start
    // to the one that straddles the end.
    EXPECT_GE(len, 1000);
    EXPECT_LE(len, 1000 + 2 * 47);
    ASSERT_EQ(s.edit.EndWrite(), S_OK);
    const probe::Clip clip = probe::ReadClip(out);
    EXPECT_EQ(clip.videoStreams, c.video ? 1 : 0);
    EXPECT_EQ(clip.audioStreams, c.audioTracks);
    const probe::DecodeResult d = probe::DecodeAll(out);
    EXPECT_EQ(d.errors, 0);
    if (c.audioTracks == 2) {
      // Both tracks carry the range's audio.
      std::map<int, int> perStream;
      for (const probe::Packet& p : clip.packets) perStream[p.stream]++;
      EXPECT_EQ(perStream.size(), 3u);
      EXPECT_NEAR(perStream[1], perStream[2], 1);
    }
    EXPECT_NEAR(EndTime(clip), len, 1);
  }
}

TEST(EditEngine, SessionEdgeCases) {
  TempDir dir;
  const std::string a = MakeClip(dir, "a.wmv", ClipOf(1000));
  clipgen::ClipSpec audioOnly = ClipOf(1000);
  audioOnly.video = false;
  const std::string b = MakeClip(dir, "b.wmv", audioOnly);
  Session s;
  // Opening a second source closes the first.
  ASSERT_EQ(s.edit.SetSrcFile(a.c_str()), S_OK);
  ASSERT_EQ(s.edit.SetSrcFile(b.c_str()), S_OK);
  EXPECT_EQ(s.edit.FindStreamNum(1), 0xFFFF);
  // A source that cannot be opened leaves the session without a source.
  EXPECT_LT(s.edit.SetSrcFile(dir.File("missing.wmv").c_str()), 0);
  EXPECT_FALSE(s.edit.IsSrcOpen());
  EXPECT_EQ(s.edit.FindStreamNum(0), 0xFFFF);
  EXPECT_LT(s.edit.SetStream(1), 0);
  EXPECT_EQ(s.edit.CopyProfile(), -1);
  // SetStream(0) keeps the progress sum.
  ASSERT_NO_FATAL_FAILURE(s.Begin(a, dir.File("o.wmv")));
  int32_t len = 500;
  ASSERT_EQ(s.edit.CopyPart(0, 0, &len, 0), S_OK);
  const uint64_t written = s.edit.GetWritten();
  EXPECT_GT(written, 0u);
  s.edit.SetStream(0);
  EXPECT_EQ(s.edit.GetWritten(), written);
  // A range past the end of the clip writes nothing.
  int32_t past = 1000;
  ASSERT_EQ(s.edit.CopyPart(len, 5000, &past, 0), S_OK);
  EXPECT_EQ(past, 0);
  EXPECT_EQ(s.edit.GetWritten(), written);
  s.edit.SetStream(1);
  EXPECT_EQ(s.edit.GetWritten(), 0u);
  ASSERT_EQ(s.edit.EndWrite(), S_OK);
  // Exit on a session that never had a display window releases what exists.
  CQmvedit bare;
  EXPECT_EQ(bare.Exit(), 0);
}

// Unreadable sources: the session refuses them and nothing is written.
TEST(EditEngineBadInput, SourcesThatAreNotClips) {
  TempDir dir;
  const std::string empty = dir.File("empty.wmv");
  std::ofstream(empty).close();
  const std::string text = dir.File("text.wmv");
  std::ofstream(text) << std::string(100000, 'x');
  const std::string mp4 = dir.File("movie.wmv");
  {
    // An ASF clip's bytes behind a foreign header.
    const std::string real = MakeClip(dir, "real.wmv", ClipOf(1000));
    std::ifstream in(real, std::ios::binary);
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    data.replace(0, 16,
                 "\0\0\0\x20"
                 "ftypisom\0\0\0\0",
                 16);
    std::ofstream(mp4, std::ios::binary) << data;
  }
  for (const std::string& path : {dir.File("missing.wmv"), empty, text, mp4, dir.Path().string()}) {
    SCOPED_TRACE(path);
    Session s;
    EXPECT_LT(s.edit.SetSrcFile(path.c_str()), 0);
    EXPECT_FALSE(s.edit.IsSrcOpen());
    EXPECT_EQ(s.edit.CopyProfile(), -1);
    int32_t len = 1000;
    EXPECT_LT(s.edit.CopyPart(0, 0, &len, 0), 0);
    EXPECT_EQ(len, 1000);
  }
}

TEST(EditEngineBadInput, TruncatedSourceCopiesWhatIsThere) {
  TempDir dir;
  const std::string full = MakeClip(dir, "full.wmv", ClipOf(4000));
  const std::string cut = dir.File("cut.wmv");
  std::filesystem::copy_file(full, cut);
  std::filesystem::resize_file(cut, std::filesystem::file_size(full) / 2 + 1234);
  const std::string out = dir.File("out.wmv");
  Session s;
  ASSERT_NO_FATAL_FAILURE(s.Begin(cut, out));
  int32_t len = 0;
  EXPECT_EQ(s.edit.CopyPart(0, 0, &len, 1), S_OK);
  EXPECT_GT(len, 500);
  EXPECT_LT(len, 3500);
  int32_t beyond = 1000;
  EXPECT_EQ(s.edit.CopyPart(len, 3500, &beyond, 0), S_OK);
  EXPECT_EQ(beyond, 0);
  ASSERT_EQ(s.edit.EndWrite(), S_OK);
  EXPECT_EQ(probe::DecodeAll(out).errors, 0);
}

// The destination is complete or absent, and an existing file is never replaced.
TEST(EditEngineBadInput, DestinationProblemsLeaveNothingBehind) {
  TempDir dir;
  const std::string src = MakeClip(dir, "src.wmv", ClipOf(1000));
  {
    // An existing destination.
    const std::string taken = dir.File("taken.wmv");
    std::ofstream(taken) << "keep me";
    Session s;
    ASSERT_EQ(s.edit.SetSrcFile(src.c_str()), S_OK);
    EXPECT_EQ(s.edit.SetDesFile(taken.c_str()), NS_E_FILE_EXISTS);
    std::ifstream in(taken);
    std::string kept;
    std::getline(in, kept);
    EXPECT_EQ(kept, "keep me");
  }
  {
    // A folder that cannot be written.
    std::filesystem::create_directory(dir.Path() / "locked");
    chmod((dir.Path() / "locked").c_str(), 0555);
    const bool root = geteuid() == 0;  // root writes anyway: the folder then does not exist
    const std::string out =
        root ? dir.File("gone/out.wmv") : (dir.Path() / "locked" / "out.wmv").string();
    Session s;
    ASSERT_EQ(s.edit.SetSrcFile(src.c_str()), S_OK);
    s.edit.SetDesFile(out.c_str());
    ASSERT_EQ(s.edit.CopyProfile(), S_OK);
    ASSERT_EQ(s.edit.SetStream(1), S_OK);
    EXPECT_LT(s.edit.BeginWrite(), 0);
    int32_t len = 0;
    EXPECT_LT(s.edit.CopyPart(0, 0, &len, 1), 0);
    EXPECT_LT(s.edit.EndWrite(), 0);
    EXPECT_EQ(testutil::CountFiles(dir.Path() / "locked"), 0);
  }
  {
    // Exit in the middle of writing removes the unfinished clip.
    const std::string out = dir.File("abandoned.wmv");
    const int before = testutil::CountFiles(dir.Path());
    Session s;
    ASSERT_NO_FATAL_FAILURE(s.Begin(src, out));
    int32_t len = 500;
    ASSERT_EQ(s.edit.CopyPart(0, 0, &len, 0), S_OK);
    EXPECT_EQ(testutil::CountFiles(dir.Path()), before + 1);  // the temporary clip
    EXPECT_FALSE(std::filesystem::exists(out));
    s.edit.Exit();
    EXPECT_EQ(testutil::CountFiles(dir.Path()), before);
  }
}

// A later source whose streams differ from the profile is refused, never mixed in.
TEST(EditEngineBadInput, ForeignStreamLayoutIsAWriteError) {
  TempDir dir;
  const std::string a = MakeClip(dir, "a.wmv", ClipOf(1000));
  clipgen::ClipSpec other = ClipOf(1000);
  other.videoCodec = "wmv1";
  const std::string b = MakeClip(dir, "b.wmv", other);
  const std::string out = dir.File("merged.wmv");
  Session s;
  ASSERT_NO_FATAL_FAILURE(s.Begin(a, out));
  int32_t len = 0;
  ASSERT_EQ(s.edit.CopyPart(0, 0, &len, 1), S_OK);
  ASSERT_EQ(s.edit.SetSrcFile(b.c_str()), S_OK);
  ASSERT_EQ(s.edit.SetStream(0), S_OK);
  int32_t len2 = 0;
  EXPECT_EQ(s.edit.CopyPart(len, 0, &len2, 1), NS_E_INVALID_STREAM);
  EXPECT_EQ(s.edit.GetWriteResult(), NS_E_INVALID_STREAM);
  EXPECT_LT(s.edit.EndWrite(), 0);
  EXPECT_FALSE(std::filesystem::exists(out));
  EXPECT_EQ(testutil::CountFiles(dir.Path()), 2);
}

// A disk that fills up during the copy: the job fails and leaves nothing.
TEST(EditEngineBadInput, FullDiskFailsTheJob) {
  TempDir dir;
  clipgen::ClipSpec big = ClipOf(8000);
  big.videoBitRate = 2000000;
  const std::string src = MakeClip(dir, "src.wmv", big);
  testutil::SmallDisk disk(dir.Path() / "small");
  if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
  const std::filesystem::path& small = disk.Path();
  {
    const std::string out = (small / "out.wmv").string();
    Session s;
    ASSERT_NO_FATAL_FAILURE(s.Begin(src, out));
    int32_t len = 0;
    HRESULT hr = s.edit.CopyPart(0, 0, &len, 1);
    HRESULT end = s.edit.EndWrite();
    EXPECT_TRUE(FAILED(hr) || FAILED(end));
    EXPECT_LT(end, 0);
    EXPECT_EQ(testutil::CountFiles(small), 0);
  }
}

}  // namespace

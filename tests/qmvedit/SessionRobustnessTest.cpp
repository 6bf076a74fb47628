// A session under conditions a job meets in use: previews between and during its ranges, other
// sessions beside it, sources that do not match, damaged sample times, odd output names.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "CQmvedit.h"
#include "ClipGen.h"
#include "EditJob.h"
#include "MediaProbe.h"
#include "RecordingDisplay.h"
#include "TestDir.h"

namespace {

using testutil::MakeClip;
using testutil::RecordingDisplay;
using testutil::TempDir;

clipgen::ClipSpec SmallClip(int durationMs) {
  clipgen::ClipSpec s;
  s.durationMs = durationMs;
  s.width = 160;
  s.height = 120;
  return s;
}

// A merge never produces a clip whose later part cannot be decoded with the header's parameters:
// a source whose streams differ in more than the codec is refused, as a foreign codec is.
TEST(MergeSources, SourcesWithOtherStreamParametersAreRefused) {
  TempDir dir;
  const std::string first = MakeClip(dir, "first.wmv", SmallClip(2000));
  clipgen::ClipSpec bigger = SmallClip(2000);
  bigger.width = 320;
  bigger.height = 240;
  clipgen::ClipSpec richer = SmallClip(2000);
  richer.audioBitRate = 128000;
  for (const auto& [name, params] :
       {std::pair{"bigger.wmv", bigger}, std::pair{"richer.wmv", richer}}) {
    SCOPED_TRACE(name);
    const std::string second = MakeClip(dir, name, params);
    const std::string out = dir.File(std::string("merged_") + name);
    CQmvedit e;
    ASSERT_EQ(e.Init(), S_OK);
    ASSERT_NO_FATAL_FAILURE(testutil::BeginJob(e, first, out));
    int32_t len = 0;
    ASSERT_EQ(e.CopyPart(0, 0, &len, 1), S_OK);
    ASSERT_EQ(e.SetSrcFile(second.c_str()), S_OK);
    ASSERT_EQ(e.SetStream(0), S_OK);
    int32_t len2 = 0;
    const HRESULT copied = e.CopyPart(len, 0, &len2, 1);
    const HRESULT ended = e.EndWrite();
    EXPECT_EQ(copied, NS_E_INVALID_STREAM);
    EXPECT_FALSE(std::filesystem::exists(out));
    if (SUCCEEDED(copied) && SUCCEEDED(ended)) {
      EXPECT_EQ(probe::DecodeAll(out).errors, 0) << "a merge reported as done does not decode";
      // The second clip's pictures, as the output's header has them decoded, are its own.
      int wrong = 0, seen = 0;
      for (const probe::Frame& f : probe::DecodeVideo(out)) {
        if (f.ptsMs < len) continue;
        ++seen;
        wrong += f.code == (f.ptsMs - len) / 40 ? 0 : 1;
      }
      EXPECT_GT(seen, 40);
      EXPECT_EQ(wrong, 0);
    }
    e.Exit();
  }
}

// The finished clip is an ordinary new file: the mode the umask gives, and any name the
// folder accepts.
TEST(OutputFile, FinishedClipIsAnOrdinaryFile) {
  TempDir dir;
  const std::string src = MakeClip(dir, "src.wmv", SmallClip(1000));
  const mode_t old = umask(022);
  const std::string longName = dir.File(std::string(250, 'n') + ".wmv");  // 254 characters
  for (const std::string& out : {dir.File("out.wmv"), longName}) {
    SCOPED_TRACE(out.size());
    CQmvedit e;
    ASSERT_EQ(e.Init(), S_OK);
    ASSERT_NO_FATAL_FAILURE(testutil::BeginJob(e, src, out));
    int32_t len = 0;
    ASSERT_EQ(e.CopyPart(0, 0, &len, 1), S_OK);
    ASSERT_EQ(e.EndWrite(), S_OK);
    struct stat st {};
    ASSERT_EQ(stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    e.Exit();
  }
  umask(old);
}

// Makes a clip with ffmpeg's own encoders (for layouts the generator does not make), then copies
// one range of it into out, rebased; returns the length the copy reports.
int32_t CopyRangeOf(const std::string& ffmpegInputs, const std::string& src, const std::string& out,
                    int32_t startMs, int32_t lenMs) {
  const std::string cmd = "ffmpeg -v error " + ffmpegInputs +
                          " -map 0 -map 1 -c:v wmv2 -g 25 -c:a wmav2 -f asf '" + src + "'";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  CQmvedit e;
  EXPECT_EQ(e.Init(), S_OK);
  testutil::BeginJob(e, src, out);
  EXPECT_EQ(e.CopyPart(0, startMs, &lenMs, 0), S_OK);
  EXPECT_EQ(e.EndWrite(), S_OK);
  e.Exit();
  return lenMs;
}

// A clip whose sound goes on after its last picture: a range in that stretch still carries it.
TEST(RangeEdges, SoundAfterTheLastPictureIsCopied) {
  TempDir dir;
  const std::string out = dir.File("out.wmv");
  const int32_t len = CopyRangeOf(
      "-f lavfi -i testsrc=size=160x120:rate=25:duration=4 -f lavfi -i "
      "sine=f=440:r=44100:duration=10",
      dir.File("tail.wmv"), out, 6000, 2000);
  EXPECT_GE(len, 1950);
  int audio = 0;
  for (const probe::Packet& p : probe::ReadClip(out).packets) audio += p.video ? 0 : 1;
  EXPECT_GE(audio, 40);  // 2 s of 46 ms frames
}

// A clip whose pictures begin a while after its sound: a range before the first picture holds
// the sound of that range, not everything from the start of the clip.
TEST(RangeEdges, SoundBeforeTheFirstPicture) {
  TempDir dir;
  const std::string out = dir.File("out.wmv");
  const int32_t len = CopyRangeOf(
      "-copyts -f lavfi -i 'testsrc=size=160x120:rate=25:duration=3,setpts=PTS+3/TB' -f lavfi "
      "-i sine=f=440:r=44100:duration=6",
      dir.File("late.wmv"), out, 1000, 1000);
  EXPECT_GE(len, 1000);
  EXPECT_LE(len, 1100);
  EXPECT_EQ(probe::DecodeAll(out).errors, 0);
}

// Calls between and during the ranges of one job leave the job intact.
class ReentrantWindow : public CMsgWindow {
 public:
  void PostMsg(uint32_t, uintptr_t, intptr_t) override {}
  void DispatchOnePending() override {
    if (edit != nullptr && ++dispatches == 1) edit->FindPosPic(previewAt);  // a timeline drag
  }
  CQmvedit* edit = nullptr;
  int previewAt = 0;
  int dispatches = 0;
};

TEST(SessionState, PreviewsAroundAndDuringACopyLeaveTheJobIntact) {
  TempDir dir;
  clipgen::ClipSpec big = SmallClip(30000);
  big.videoBitRate = 3000000;
  const std::string src = MakeClip(dir, "src.wmv", big);
  for (const bool during : {false, true}) {
    SCOPED_TRACE(during ? "preview from a message dispatched by the copy"
                        : "preview between copies");
    const std::string out = dir.File(during ? "during.wmv" : "between.wmv");
    CQmvedit e;
    RecordingDisplay display(320, 240);
    ReentrantWindow window;
    ASSERT_EQ(e.Init(), S_OK);
    e.SetDispWnd(&display);
    e.SetNotifyWnd(&window);
    ASSERT_NO_FATAL_FAILURE(testutil::BeginJob(e, src, out));
    ASSERT_EQ(e.GetVideoOut(), 0);
    int32_t len = 1000;
    ASSERT_EQ(e.CopyPart(0, 1000, &len, 0), S_OK);
    int32_t len2 = 0;
    if (during) {
      window.edit = &e;
      window.previewAt = 5000;
      std::this_thread::sleep_for(
          std::chrono::milliseconds(20));  // the copy's first sample dispatches
      EXPECT_EQ(e.CopyPart(len, 0, &len2, 0), S_OK);
      EXPECT_GT(window.dispatches, 0);
      EXPECT_NEAR(len2, 30000, 100);
    } else {
      e.FindPosPic(1500);
      EXPECT_EQ(display.Code(), 38);
      len2 = 1000;
      EXPECT_EQ(e.CopyPart(len, 3000, &len2, 0), S_OK);
    }
    EXPECT_EQ(e.EndWrite(), S_OK);
    EXPECT_EQ(probe::DecodeAll(out).errors, 0);
    window.edit = nullptr;
    e.Exit();
  }
}

// Exit from a message the copy dispatched (the window is closing) stops the copy; the clip it
// was writing is removed, and so is one whose session is deleted without Exit.
TEST(SessionState, ExitDuringACopyStopsItCleanly) {
  TempDir dir;
  clipgen::ClipSpec big = SmallClip(20000);
  big.videoBitRate = 3000000;
  const std::string src = MakeClip(dir, "src.wmv", big);
  struct ClosingWindow : CMsgWindow {
    void PostMsg(uint32_t, uintptr_t, intptr_t) override {}
    void DispatchOnePending() override {
      if (edit != nullptr) edit->Exit();
    }
    CQmvedit* edit = nullptr;
  } window;
  {
    CQmvedit e;
    ASSERT_EQ(e.Init(), S_OK);
    e.SetNotifyWnd(&window);
    ASSERT_NO_FATAL_FAILURE(testutil::BeginJob(e, src, dir.File("closing.wmv")));
    window.edit = &e;
    int32_t len = 0;
    EXPECT_EQ(e.CopyPart(0, 0, &len, 1), E_ABORT);
    window.edit = nullptr;
    EXPECT_FALSE(e.IsSrcOpen());
    EXPECT_LT(e.EndWrite(), 0);
  }
  {
    CQmvedit e;
    ASSERT_EQ(e.Init(), S_OK);
    ASSERT_NO_FATAL_FAILURE(testutil::BeginJob(e, src, dir.File("deleted.wmv")));
    int32_t len = 1000;
    ASSERT_EQ(e.CopyPart(0, 0, &len, 0), S_OK);
  }
  EXPECT_EQ(testutil::CountFiles(dir.Path()), 1);  // the source alone
}

// A session that never previews (an export job, a bare object) leaves the previewing one alone.
TEST(SessionState, AnotherSessionLeavesThePreviewAlone) {
  TempDir dir;
  const std::string src = MakeClip(dir, "src.wmv", SmallClip(3000));
  CQmvedit viewer;
  RecordingDisplay display(320, 240);
  ASSERT_EQ(viewer.Init(), S_OK);
  viewer.SetDispWnd(&display);
  ASSERT_EQ(viewer.SetSrcFile(src.c_str()), S_OK);
  ASSERT_EQ(viewer.GetVideoOut(), 0);
  viewer.FindPosPic(0);
  ASSERT_EQ(display.draws, 1);
  {
    CQmvedit other;
    ASSERT_EQ(other.Init(), S_OK);
    other.Exit();
  }
  viewer.FindPosPic(1000);
  EXPECT_EQ(display.draws, 2);
  EXPECT_EQ(display.Code(), 25);
  viewer.Exit();
}

// Offset of the presentation time of the first payload of data packet `index`, in an ASF file
// with fixed-size packets (as libavformat writes them); npos when the packet has none.
size_t PayloadTimeOffset(const std::string& data, size_t index) {
  static const unsigned char kDataGuid[16] = {0x36, 0x26, 0xb2, 0x75, 0x8e, 0x66, 0xcf, 0x11,
                                              0xa6, 0xd9, 0x00, 0xaa, 0x00, 0x62, 0xce, 0x6c};
  const size_t data0 = data.find(std::string(reinterpret_cast<const char*>(kDataGuid), 16));
  if (data0 == std::string::npos) return data0;
  static const unsigned char kFileGuid[16] = {0xa1, 0xdc, 0xab, 0x8c, 0x47, 0xa9, 0xcf, 0x11,
                                              0x8e, 0xe4, 0x00, 0xc0, 0x0c, 0x20, 0x53, 0x65};
  const size_t file = data.find(std::string(reinterpret_cast<const char*>(kFileGuid), 16));
  uint32_t packetSize = 0;
  std::memcpy(&packetSize, data.data() + file + 92, 4);  // minimum data packet size
  const auto width = [](int code) { return code == 3 ? 4 : code; };
  size_t p = data0 + 50 + index * packetSize;
  if (p + packetSize > data.size() || static_cast<uint8_t>(data[p]) != 0x82)
    return std::string::npos;
  p += 3;
  const uint8_t lengthFlags = static_cast<uint8_t>(data[p++]);
  const uint8_t props = static_cast<uint8_t>(data[p++]);
  p +=
      width((lengthFlags >> 5) & 3) + width((lengthFlags >> 1) & 3) + width((lengthFlags >> 3) & 3);
  p += 6;                        // send time, duration
  if (lengthFlags & 1) p += 1;   // payload flags
  p += 1;                        // stream number
  p += width((props >> 4) & 3);  // media object number
  p += width((props >> 2) & 3);  // offset into media object
  p += width(props & 3);         // replicated data length
  return p + 4;                  // media object size, then presentation time
}

// One damaged sample time in a clip: the copy neither reports an absurd length nor moves the
// rest of the stream to that time.
TEST(DamagedSource, OneDamagedSampleTimeStaysLocal) {
  TempDir dir;
  clipgen::ClipSpec params = SmallClip(3000);
  params.video = false;
  const std::string clean = MakeClip(dir, "clean.wmv", params);
  std::ifstream in(clean, std::ios::binary);
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t at = PayloadTimeOffset(data, 6);
  ASSERT_NE(at, std::string::npos);
  data[at + 3] = static_cast<char>(0xdd);  // the time's top byte: some 43 days later
  const std::string src = dir.File("damaged.wmv");
  std::ofstream(src, std::ios::binary) << data;

  const std::string out = dir.File("out.wmv");
  CQmvedit e;
  ASSERT_EQ(e.Init(), S_OK);
  ASSERT_NO_FATAL_FAILURE(testutil::BeginJob(e, src, out));
  int32_t len = 0;
  const HRESULT hr = e.CopyPart(0, 0, &len, 0);
  const HRESULT ended = e.EndWrite();
  if (SUCCEEDED(hr) && SUCCEEDED(ended)) {
    EXPECT_GE(len, 2500);
    EXPECT_LE(len, 4000);
    int64_t last = 0;
    for (const probe::Packet& p : probe::ReadClip(out).packets) last = std::max(last, p.ptsMs);
    EXPECT_LE(last, 4000);
  }
  e.Exit();
}

}  // namespace

// Whole recordings through the library's exports, as the export pane drives them, onto the file
// camcorder; the tapes are checked by decoding them.
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "DvCheck.h"
#include "QmvPlyEx.h"
#include "TestDir.h"

namespace {

using Clock = std::chrono::steady_clock;

int64_t MsSince(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
  const Clock::time_point start = Clock::now();
  while (!done()) {
    if (MsSince(start) > timeoutMs) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

class TapeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("VANTREL_DEBUG", "1", 1);
    setenv("VANTREL_DV_TAPE", tape.c_str(), 1);
    setenv("VANTREL_DV_TAPE_PACE", "0", 1);
    ASSERT_EQ(plyInit(), 0);
  }
  void TearDown() override {
    plyCleanUp();
    unsetenv("VANTREL_DV_TAPE");
    unsetenv("VANTREL_DV_TAPE_PACE");
  }

  std::string Clip(const std::string& name, int ms, int fpsNum = 25, int fpsDen = 1,
                   bool sound = true) {
    clipgen::ClipSpec params;
    params.durationMs = ms;
    params.width = 640;
    params.height = 360;
    params.fpsNum = fpsNum;
    params.fpsDen = fpsDen;
    params.audioTracks = sound ? 1 : 0;
    return testutil::MakeClip(dir, name, params);
  }

  // Records the clip to its end as the pane does: the recording runs until the graph reports
  // its end, then stop, transport stop, clean-up. Returns the debug output of the recording.
  std::string Record(const std::string& clip, int timeoutMs = 20000) {
    testing::internal::CaptureStderr();
    EXPECT_TRUE(FindVtr());
    const BOOL started = ExportToTape(clip.c_str());
    if (started) {
      EXPECT_TRUE(WaitFor([] { return !plyIsPlaying(); }, timeoutMs)) << "the recording hangs";
      plyHandleEvent();
    }
    plyStop();
    CtrlVtr(kVtrStop);
    plyCleanUp();
    const std::string log = testing::internal::GetCapturedStderr();
    if (!started) ADD_FAILURE() << "the recording did not start:\n" << log;
    return log;
  }

  // The transport commands the file camcorder received, in order.
  std::vector<std::string> Commands(const std::string& log) const {
    std::vector<std::string> out;
    const std::string prefix = "DV tape " + tape + ": ";
    size_t at = 0;
    while ((at = log.find(prefix, at)) != std::string::npos) {
      at += prefix.size();
      const std::string word = log.substr(at, log.find('\n', at) - at);
      if (word.find(':') == std::string::npos) out.push_back(word);
    }
    return out;
  }

  testutil::TempDir dir;
  std::string tape = dir.File("tape.dv");
};

// A 25 fps clip with sound: PAL DV of the clip's length, its pictures letter-boxed on the 4:3
// frame, its sound on the tape; the camcorder was told to record, then to stop.
TEST_F(TapeTest, RecordsPalDvOfA25FpsClip) {
  const std::string clip = Clip("pal.wmv", 3000);
  const std::string log = Record(clip);
  const dvcheck::Report r = dvcheck::Check(tape, clip);
  SCOPED_TRACE(r.Describe());
  EXPECT_TRUE(r.IsDv());
  EXPECT_TRUE(r.IsPal());
  EXPECT_TRUE(r.wholeFrames);
  EXPECT_EQ(r.decodeErrors, 0);
  EXPECT_NEAR(r.videoSeconds, 3.0, 0.6);
  EXPECT_NEAR(r.audioSeconds, 3.0, 0.6);
  EXPECT_GT(r.meanPsnr, 30.0);
  EXPECT_GT(r.minPsnr, 25.0);
  EXPECT_GT(r.soundDb, -40.0);
  EXPECT_EQ(Commands(log), (std::vector<std::string>{"record", "stop"})) << log;
  EXPECT_FALSE(plyIsPlaying());
}

// A 29.97 fps clip without sound: NTSC DV that still has a (silent) sound track of its length.
TEST_F(TapeTest, RecordsNtscWithASilentTrackForAClipWithoutSound) {
  const std::string clip = Clip("ntsc.wmv", 2500, 30000, 1001, false);
  Record(clip);
  const dvcheck::Report r = dvcheck::Check(tape, clip);
  SCOPED_TRACE(r.Describe());
  EXPECT_TRUE(r.IsDv());
  EXPECT_TRUE(r.IsNtsc());
  EXPECT_TRUE(r.wholeFrames);
  EXPECT_NEAR(r.videoSeconds, 2.5, 0.6);
  EXPECT_NEAR(r.audioSeconds, 2.5, 0.6);
  EXPECT_GT(r.meanPsnr, 30.0);
  EXPECT_LT(r.soundDb, -90.0);
}

// No camcorder (no tape file named, no IEEE 1394 here): FindVtr and ExportToTape answer FALSE at
// once with the search's texts. Transport codes outside the table do nothing; the others reach
// the camcorder, and only record writes to the tape.
TEST_F(TapeTest, WithoutCamcorderNothingIsFoundAndUnknownCommandsDoNothing) {
  unsetenv("VANTREL_DV_TAPE");
  testing::internal::CaptureStderr();
  const Clock::time_point start = Clock::now();
  EXPECT_FALSE(FindVtr());
  EXPECT_FALSE(ExportToTape(Clip("none.wmv", 1000).c_str()));
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_LT(MsSince(start), 2000);
  EXPECT_NE(log.find("Cannot find video Enum\n"), std::string::npos) << log;
  CtrlVtr(kVtrRecord);  // no camcorder: nothing to command, nothing crashes

  setenv("VANTREL_DV_TAPE", tape.c_str(), 1);
  testing::internal::CaptureStderr();
  ASSERT_TRUE(FindVtr());
  CtrlVtr(6);
  CtrlVtr(-1);
  CtrlVtr(kVtrPlay);
  CtrlVtr(kVtrFreeze);
  CtrlVtr(kVtrRewind);
  CtrlVtr(kVtrFastForward);
  EXPECT_FALSE(std::filesystem::exists(tape));
  CtrlVtr(kVtrRecord);
  CtrlVtr(kVtrStop);
  const std::string commands = testing::internal::GetCapturedStderr();
  EXPECT_EQ(Commands(commands),
            (std::vector<std::string>{"play", "pause", "rewind", "fast forward", "record", "stop"}))
      << commands;
  EXPECT_TRUE(std::filesystem::exists(tape));
  EXPECT_EQ(std::filesystem::file_size(tape), 0u);
}

// A recording that cannot start says so at once and leaves nothing running: a tape in a folder
// that cannot be written, a missing clip, a clip that is no clip.
TEST_F(TapeTest, RecordingThatCannotStartReturnsFalseAndLeavesNothingRunning) {
  const std::string clip = Clip("fine.wmv", 2000);
  const std::string corrupt = dir.File("corrupt.wmv");
  {
    std::ofstream out(corrupt, std::ios::binary);
    for (int i = 0; i < 50000; ++i) out.put(static_cast<char>((i * 7919) % 251));
  }
  struct Case {
    std::string what;
    std::string tapeFile;
    std::string clip;
  };
  const std::vector<Case> cases = {
      {"unwritable folder", dir.File("missing/folder/tape.dv"), clip},
      {"missing clip", tape, dir.File("nowhere.wmv")},
      {"corrupt clip", tape, corrupt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    setenv("VANTREL_DV_TAPE", c.tapeFile.c_str(), 1);
    testing::internal::CaptureStderr();
    const Clock::time_point start = Clock::now();
    EXPECT_TRUE(FindVtr());
    EXPECT_FALSE(ExportToTape(c.clip.c_str()));
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_LT(MsSince(start), 8000);  // the open is bounded by 5 s; a clip opens in far less
    // A clip that does not open fails the graph; a tape that cannot be written, the record.
    const bool graphFails = c.tapeFile == tape;
    EXPECT_EQ(log.find("Failed to render the tape Graph\n") != std::string::npos, graphFails)
        << log;
    EXPECT_FALSE(plyIsPlaying());
    EXPECT_FALSE(std::filesystem::exists(c.tapeFile));
    // The pane's stop afterwards finds nothing to stop.
    plyStop();
    CtrlVtr(kVtrStop);
    plyCleanUp();
    ASSERT_EQ(plyInit(), 0);
  }
}

// The tape's disk fills up during the recording: the recording stops by itself (whole frames on
// the tape, the transport stopped, the graph no longer playing) and nothing hangs.
TEST_F(TapeTest, FullDiskStopsTheRecording) {
  testutil::SmallDisk disk(dir.Path() / "small");
  if (!disk.Mounted()) GTEST_SKIP() << "no small disk (needs root)";
  tape = (disk.Path() / "tape.dv").string();
  setenv("VANTREL_DV_TAPE", tape.c_str(), 1);
  const std::string clip = Clip("long.wmv", 4000);
  testing::internal::CaptureStderr();
  ASSERT_TRUE(FindVtr());
  ASSERT_TRUE(ExportToTape(clip.c_str()));
  EXPECT_TRUE(WaitFor([] { return !plyIsPlaying(); }, 8000));
  plyHandleEvent();
  plyStop();
  CtrlVtr(kVtrStop);
  plyCleanUp();
  const std::string log = testing::internal::GetCapturedStderr();
  const auto size = std::filesystem::file_size(tape);
  EXPECT_GT(size, 0u);
  EXPECT_EQ(size % 144000, 0u);
  EXPECT_LE(size, 256u * 1024);
  const std::vector<std::string> commands = Commands(log);
  ASSERT_GE(commands.size(), 2u) << log;
  EXPECT_EQ(commands[0], "record");
  EXPECT_EQ(commands[1], "stop");
  EXPECT_NE(log.find("write failed"), std::string::npos) << log;
}

// Starting the tape while a clip plays stops that clip first: the tape holds the new clip.
TEST_F(TapeTest, ExportWhileAClipPlaysStopsItFirst) {
  const std::string playing = Clip("playing.wmv", 10000);
  const std::string recorded = Clip("recorded.wmv", 2000);
  ASSERT_EQ(plyPlyUrl(playing.c_str()), 0);
  ASSERT_EQ(plyStart(), 0);
  ASSERT_TRUE(WaitFor([] { return plyIsPlaying() != 0; }, 3000));
  Record(recorded);
  const dvcheck::Report r = dvcheck::Check(tape, recorded);
  SCOPED_TRACE(r.Describe());
  EXPECT_TRUE(r.IsDv());
  EXPECT_NEAR(r.videoSeconds, 2.0, 0.6);
  EXPECT_GT(r.meanPsnr, 30.0);
}

// At the pace of a real tape the recording takes the clip's time and the graph's position
// follows the tape, also for a clip with a second sound track (which the tape leaves out).
TEST_F(TapeTest, RealTimeRecordingPositionFollowsTheTape) {
  unsetenv("VANTREL_DV_TAPE_PACE");
  clipgen::ClipSpec params;
  params.durationMs = 2000;
  params.audioTracks = 2;
  const std::string clip = testutil::MakeClip(dir, "paced.wmv", params);
  ASSERT_TRUE(FindVtr());
  ASSERT_TRUE(ExportToTape(clip.c_str()));
  const Clock::time_point start = Clock::now();
  std::vector<std::pair<int64_t, LONG>> samples;
  while (plyIsPlaying() && MsSince(start) < 10000) {
    LONG pos = -1;
    GetMvCurPos(&pos);
    samples.emplace_back(MsSince(start), pos);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  const int64_t took = MsSince(start);
  plyHandleEvent();
  plyStop();
  CtrlVtr(kVtrStop);
  plyCleanUp();
  // Never ahead of the tape's time (a slow machine may fall behind it).
  EXPECT_GE(took, 1700);
  ASSERT_GE(samples.size(), 10u);
  for (size_t i = 1; i < samples.size(); ++i) EXPECT_GE(samples[i].second, samples[i - 1].second);
  for (const auto& [at, pos] : samples) EXPECT_LE(pos, at + 250) << "at " << at << " ms";
  EXPECT_GE(samples.back().second, 1500);
  EXPECT_GE(samples[samples.size() / 2].second, 300);
  const dvcheck::Report r = dvcheck::Check(tape, clip);
  EXPECT_NEAR(r.videoSeconds, 2.0, 0.6) << r.Describe();
}

}  // namespace

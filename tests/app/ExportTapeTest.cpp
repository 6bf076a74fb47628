// The tape output from the user's side on the offscreen platform with the file camcorder: the
// question, a whole recording checked by decoding the tape, and the inputs that cannot be
// recorded.
#include <dlfcn.h>

#include <QLineEdit>
#include <filesystem>
#include <fstream>

#include "DvCheck.h"
#include "ExportFixture.h"
#include "PaneDriver.h"
#include "QmvPlyEx.h"
#include "TestDir.h"

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The transport commands the file camcorder `tape` logged, in order.
std::vector<std::string> Commands(const std::string& log, const std::string& tape) {
  std::vector<std::string> out;
  const std::string prefix = "DV tape " + tape + ": ";
  for (size_t at = 0; (at = log.find(prefix, at)) != std::string::npos;) {
    at += prefix.size();
    const std::string word = log.substr(at, log.find('\n', at) - at);
    if (word.find(':') == std::string::npos) out.push_back(word);
  }
  return out;
}

class ExportTape : public ExportFixture {
 protected:
  void SetUp() override {
    ExportFixture::SetUp();
    setenv("VANTREL_DEBUG", "1", 1);
    setenv("VANTREL_DV_TAPE_PACE", "0", 1);
    setenv("VANTREL_DV_TAPE", tape.c_str(), 1);
    Open();
    PickOutput(kDvTape);
  }
  void TearDown() override {
    ExportFixture::TearDown();
    unsetenv("VANTREL_DV_TAPE_PACE");
    unsetenv("VANTREL_DEBUG");
  }
  std::string Clip(const std::string& name, int ms) {
    clipgen::ClipSpec params = SmallClip(ms);
    params.width = 320;
    params.height = 240;
    return testutil::MakeClip(dir, name, params);
  }
  // Start on the tape output with `clip`; true when the start's outcome was known within `ms`.
  bool StartWith(const std::string& clip, int ms = 8000) {
    Type(*dlg, 1042, QString::fromStdString(clip));
    Click(*dlg, 1047);
    return AwaitTapeStart(ms);
  }

  testutil::TempDir dir;
  std::string tape = dir.File("tape.dv");
};

}  // namespace

TEST_F(ExportTape, YesRecordsTheClipOntoTheTapeAndNoLeavesItAlone) {
  const std::string clip = Clip("pal.wmv", 3000);
  {
    std::ofstream old(tape, std::ios::binary);
    old << "an earlier recording";
  }
  answerYes = false;
  testing::internal::CaptureStderr();
  ASSERT_TRUE(StartWith(clip));
  std::string log = testing::internal::GetCapturedStderr();
  ASSERT_EQ(questions, QStringList{"Please check if the tape need to change, \nContinue?"});
  EXPECT_EQ(Msg(), "Export video to Digital DV Tape(Camcorder)");
  EXPECT_EQ(ReadAll(tape), "an earlier recording");
  EXPECT_TRUE(Commands(log, tape).empty()) << log;
  EXPECT_FALSE(dlg->Export()->IsRecording());

  std::filesystem::remove(tape);
  answerYes = true;
  testing::internal::CaptureStderr();
  ASSERT_TRUE(StartWith(clip));
  EXPECT_EQ(Msg(), "The clip has already exported to the DV tape.");
  // The player window's reports follow the recording; the not-playing one at its end stops the
  // transport and releases the engine.
  const bool ended = WaitFor([&] { return !dlg->Export()->IsRecording(); }, 20000);
  log = testing::internal::GetCapturedStderr();
  ASSERT_TRUE(ended) << "the recording never ended";
  EXPECT_EQ(Commands(log, tape), (std::vector<std::string>{"record", "stop"})) << log;
  EXPECT_EQ(Msg(), "The clip has already exported to the DV tape.");
  EXPECT_EQ(Text(1046), "00:00:00");
  const dvcheck::Report r = dvcheck::Check(tape, clip);
  SCOPED_TRACE(r.Describe());
  EXPECT_TRUE(r.IsDv());
  EXPECT_TRUE(r.IsPal());
  EXPECT_NEAR(r.videoSeconds, 3.0, 0.6);
  EXPECT_NEAR(r.audioSeconds, 3.0, 0.6);
  EXPECT_GT(r.meanPsnr, 30.0);
  EXPECT_GT(r.soundDb, -40.0);
}

TEST_F(ExportTape, WhatCannotBeRecordedSaysSoWithoutHanging) {
  const std::string clip = Clip("fine.wmv", 2000);
  const std::string corrupt = dir.File("corrupt.wmv");
  {
    std::ofstream out(corrupt, std::ios::binary);
    for (int i = 0; i < 50000; ++i) out.put(static_cast<char>((i * 7919) % 251));
  }
  for (const std::string& bad : {dir.File("nowhere.wmv"), corrupt}) {
    SCOPED_TRACE(bad);
    EXPECT_TRUE(StartWith(bad));
    EXPECT_EQ(Msg(), "Failed to export the video to DV tape.");
    EXPECT_FALSE(dlg->Export()->IsRecording());
  }
  // A tape in a folder that cannot be written: the recording does not start.
  const std::string unwritable = dir.File("fine.wmv") + "/tape.dv";
  setenv("VANTREL_DV_TAPE", unwritable.c_str(), 1);
  EXPECT_TRUE(StartWith(clip));
  EXPECT_EQ(Msg(), "Failed to export the video to DV tape.");
  EXPECT_FALSE(dlg->Export()->IsRecording());
  // The window goes on working.
  Type(*dlg, 1042, "");
  Click(*dlg, 1047);
  EXPECT_EQ(Msg(), "Please offer a valid media file.");
}

TEST_F(ExportTape, AFullDiskStopsTheRecordingAndTheTransport) {
  testutil::SmallDisk disk(dir.Path() / "small");
  if (!disk.Mounted()) GTEST_SKIP() << "no small disk (needs root)";
  const std::string small = (disk.Path() / "tape.dv").string();
  setenv("VANTREL_DV_TAPE", small.c_str(), 1);
  const std::string clip = Clip("long.wmv", 4000);
  testing::internal::CaptureStderr();
  ASSERT_TRUE(StartWith(clip));
  const bool ended = WaitFor([&] { return !dlg->Export()->IsRecording(); }, 10000);
  const std::string log = testing::internal::GetCapturedStderr();
  ASSERT_TRUE(ended) << log;
  const std::vector<std::string> commands = Commands(log, small);
  ASSERT_GE(commands.size(), 2u) << log;
  EXPECT_EQ(commands[0], "record");
  EXPECT_EQ(commands[1], "stop");
  // The message line no longer says the clip went to the tape.
  EXPECT_EQ(Msg(), "Failed to export the video to DV tape.");
  Type(*dlg, 1042, "");
  Click(*dlg, 1047);
  EXPECT_EQ(Msg(), "Please offer a valid media file.");
}

TEST_F(ExportTape, TheTapeStopsAClipPlayingInThePlayerWindowFirst) {
  const std::string playing = Clip("playing.wmv", 10000);
  const std::string recorded = Clip("recorded.wmv", 2000);
  auto isPlaying = reinterpret_cast<plyIsPlayingFn>(dlsym(dlg->PlayModule(), "plyIsPlaying"));
  ASSERT_NE(isPlaying, nullptr);
  PickOutput(kPrimary);
  Type(*dlg, 1042, QString::fromStdString(playing));
  Click(*dlg, 1047);
  ASSERT_TRUE(WaitFor([&] { return isPlaying() != 0; }, 3000));
  ASSERT_TRUE(dlg->PlayerWindow()->isVisible());

  PickOutput(kDvTape);
  ASSERT_TRUE(StartWith(recorded));
  EXPECT_EQ(Msg(), "The clip has already exported to the DV tape.");
  EXPECT_FALSE(dlg->PlayerWindow()->isVisible());
  ASSERT_TRUE(WaitFor([&] { return !dlg->Export()->IsRecording(); }, 20000));
  EXPECT_FALSE(isPlaying());
  const dvcheck::Report r = dvcheck::Check(tape, recorded);
  SCOPED_TRACE(r.Describe());
  EXPECT_NEAR(r.videoSeconds, 2.0, 0.6);
  EXPECT_GT(r.meanPsnr, 30.0);
}

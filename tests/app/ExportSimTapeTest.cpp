// The tape output through the real export pane, the real librom1394, libavc1394 and libiec61883,
// on the simulated IEEE 1394 bus (the test runs with build/bin/sim1394 ahead of the system's
// libraw1394): what reaches the simulated tape, the AV/C exchanges the camcorder logged, the
// devices that cannot record, the transport commands, and a camcorder unplugged part way.
#include <dlfcn.h>

#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "ExportFixture.h"
#include "GstLiveObjects.h"
#include "PaneDriver.h"
#include "QmvPlyEx.h"
#include "TestDir.h"

namespace {
using Frames = std::vector<std::string>;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

Frames SplitFrames(const std::string& tape, size_t frameBytes) {
  Frames out;
  for (size_t at = 0; at + frameBytes <= tape.size(); at += frameBytes)
    out.push_back(tape.substr(at, frameBytes));
  return out;
}

std::vector<std::string> Lines(const std::string& text, const std::string& prefix) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (line.rfind(prefix, 0) == 0) out.push_back(line);
  return out;
}

// The value of `key=` in a log line.
std::string Field(const std::string& line, const std::string& key) {
  const size_t at = line.find(" " + key + "=");
  if (at == std::string::npos) return "";
  const size_t from = at + key.size() + 2;
  return line.substr(from, line.find(' ', from) - from);
}

class SimTape : public ExportFixture {
 protected:
  void SetUp() override {
    ExportFixture::SetUp();
    // The libraw1394 the engine will load: the simulation's, when the test runs on it.
    raw1394 = dlopen("libraw1394.so.11", RTLD_NOW | RTLD_NODELETE);  // its bus outlives the tests
    if (raw1394 != nullptr)
      reset = reinterpret_cast<int (*)()>(dlsym(raw1394, "vantrel_sim1394_reset"));
    if (reset == nullptr) GTEST_SKIP() << "not on the simulated bus (build/bin/sim1394)";
    setenv("VANTREL_SIM1394_TAPE", simTape.c_str(), 1);
    setenv("VANTREL_SIM1394_LOG", simLog.c_str(), 1);
    unsetenv("VANTREL_SIM1394_PACE");
    // The leaks tracer counts the graph's bins and buses (set before GStreamer starts). Not its
    // elements: gst-libav's DV muxer (1.22) never lets go of itself once it ran, in any graph.
    setenv("GST_TRACERS", "leaks(filters=\"GstBin,GstBus\",stack-traces-flags=none)", 0);
    Bus("vtr");
    Open();
    PickOutput(kDvTape);
  }
  void TearDown() override {
    ExportFixture::TearDown();
    unsetenv("VANTREL_SIM1394_DEVICE");
    unsetenv("VANTREL_SIM1394_FAULT");
    if (raw1394 != nullptr) dlclose(raw1394);
  }

  // A fresh simulated bus with `device` and `fault` (no stream may run then).
  void Bus(const char* device, const char* fault = "") {
    setenv("VANTREL_SIM1394_DEVICE", device, 1);
    setenv("VANTREL_SIM1394_FAULT", fault, 1);
    std::filesystem::remove(simTape);
    std::filesystem::remove(simLog);
    ASSERT_EQ(reset(), 0) << "a stream still runs on the bus";
  }

  std::string Clip(const std::string& name, int ms, int fpsNum = 25, int fpsDen = 1,
                   bool sound = true) {
    clipgen::ClipSpec params = SmallClip(ms);
    params.width = 320;
    params.height = 240;
    params.fpsNum = fpsNum;
    params.fpsDen = fpsDen;
    params.audioTracks = sound ? 1 : 0;
    return testutil::MakeClip(dir, name, params);
  }

  // Start on the tape output; the outcome's text once the start is over. The longest the
  // window went without handling its events meanwhile goes to *stall.
  std::string StartRecording(const std::string& clip, qint64* stall = nullptr) {
    Type(*dlg, 1042, QString::fromStdString(clip));
    QElapsedTimer sinceTick;
    qint64 longest = 0;
    QTimer ticks;
    ticks.setInterval(10);
    QObject::connect(&ticks, &QTimer::timeout,
                     [&] { longest = std::max(longest, sinceTick.restart()); });
    ticks.start();
    sinceTick.start();
    Click(*dlg, 1047);
    longest = std::max(longest, sinceTick.restart());
    EXPECT_TRUE(AwaitTapeStart(15000)) << "the start hangs";
    if (stall != nullptr) *stall = longest;
    return Msg();
  }

  // Runs until the recording this pane started ended; false when it did not within `ms`.
  bool AwaitEnd(int ms) {
    return WaitFor([this] { return !dlg->Export()->IsRecording(); }, ms);
  }

  // The same clip through the file camcorder, as fast as it encodes.
  std::string FileTape(const std::string& clip) {
    const std::string path = dir.File("file-" + std::to_string(++fileTapes) + ".dv");
    setenv("VANTREL_DV_TAPE", path.c_str(), 1);
    setenv("VANTREL_DV_TAPE_PACE", "0", 1);
    EXPECT_EQ(StartRecording(clip), "The clip has already exported to the DV tape.");
    EXPECT_TRUE(AwaitEnd(20000));
    unsetenv("VANTREL_DV_TAPE");
    unsetenv("VANTREL_DV_TAPE_PACE");
    return ReadAll(path);
  }

  // What the camcorder logged, and its AV/C lines.
  std::string Log() { return ReadAll(simLog); }
  std::vector<std::string> Avc() { return Lines(Log(), "avc "); }
  // The transport's mode after the last command it took.
  std::string TransportState() {
    const std::vector<std::string> avc = Avc();
    return avc.empty() ? "" : Field(avc.back(), "state");
  }

  // A whole recording on the simulated camcorder checked against the file camcorder's tape of
  // the same clip: the lead-in's black frames, then every frame of the clip, nothing after.
  void CheckRecording(const std::string& clip, bool pal) {
    SCOPED_TRACE(clip);
    const size_t frameBytes = pal ? 144000 : 120000;
    const Frames reference = SplitFrames(FileTape(clip), frameBytes);
    ASSERT_GT(reference.size(), 10u);
    Bus("vtr");
    qint64 stall = 0;
    ASSERT_EQ(StartRecording(clip, &stall), "The clip has already exported to the DV tape.");
    // The search, the preroll and the commands run off the window's thread.
    EXPECT_LT(stall, 500) << "the window stood still for " << stall << " ms";
    RecordProperty(pal ? "window_stall_ms_pal" : "window_stall_ms_ntsc", static_cast<int>(stall));
    ASSERT_TRUE(AwaitEnd(30000)) << "the recording never ended";
    EXPECT_EQ(Msg(), "The clip has already exported to the DV tape.");

    const Frames tape = SplitFrames(ReadAll(simTape), frameBytes);
    size_t black = 0;
    while (black < tape.size() && tape[black] == tape[0]) ++black;
    EXPECT_GE(black, pal ? 75u : 90u) << "a lead-in of three seconds";
    ASSERT_EQ(tape.size() - black, reference.size()) << "frames after the lead-in";
    for (size_t i = 0; i < reference.size(); ++i)
      ASSERT_TRUE(tape[black + i] == reference[i]) << "frame " << i << " of the clip";

    const std::string log = Log();
    SCOPED_TRACE(log.substr(0, 6000));
    EXPECT_EQ(Lines(log, "cip-error").size(), 0u);
    const std::vector<std::string> receiver = Lines(log, "receiver ");
    ASSERT_EQ(receiver.size(), 1u);
    EXPECT_EQ(Field(receiver[0], "recorded"), std::to_string(tape.size()));
    EXPECT_EQ(Field(receiver[0], "partial"), "0");
    EXPECT_EQ(Field(receiver[0], "bad-frames"), "0");
    EXPECT_EQ(Field(receiver[0], "cip-errors"), "0");
    EXPECT_EQ(Field(receiver[0], "bad-packets"), "0");
    // RECORD accepted and seen in the transport state; the stream sent out in full; then STOP.
    const size_t record = log.find("op=RECORD operand=0x75 reply=ACCEPTED state=RECORD:RECORD");
    const size_t checked =
        log.find("op=TRANSPORT_STATE operand=0x7f reply=STABLE state=RECORD:RECORD", record);
    const size_t sent = log.find("iso-stop ", checked);
    const size_t stop = log.find("op=WIND operand=0x60 reply=ACCEPTED state=WIND:STOP", sent);
    EXPECT_NE(record, std::string::npos);
    EXPECT_NE(checked, std::string::npos);
    EXPECT_NE(sent, std::string::npos);
    EXPECT_NE(stop, std::string::npos);
    EXPECT_EQ(Field(Lines(log, "iso-stop")[0], "unsent"), "0");
    EXPECT_EQ(log.find("op=", stop + 1), std::string::npos) << "a command after STOP";
  }

  void* raw1394 = nullptr;
  int (*reset)() = nullptr;
  testutil::TempDir dir;
  std::string simTape = dir.File("sim.dv");
  std::string simLog = dir.File("sim.log");
  int fileTapes = 0;
};

}  // namespace

// A 25 fps clip with sound and then, in the same program, a 29.97 fps clip without.
TEST_F(SimTape, RecordsEveryFrameOfPalAndNtscClipsAsTheFileCamcorderDoes) {
  CheckRecording(Clip("pal.wmv", 2000), true);
  CheckRecording(Clip("ntsc.wmv", 2000, 30000, 1001, false), false);
}

// Camcorders that cannot record say why; the transport is left stopped, the window goes on,
// and a good camcorder then records.
TEST_F(SimTape, DevicesThatCannotRecordSayWhyAndTheNextRecordingWorks) {
  const std::string clip = Clip("short.wmv", 1000);
  auto result = reinterpret_cast<GetTapeResultFn>(dlsym(dlg->PlayModule(), "GetTapeResult"));
  ASSERT_NE(result, nullptr);
  struct Case {
    const char* device;
    const char* fault;
    const char* text;
  };
  const char* noVtr = "No VTR mode digital camcorder connected.";
  const char* failed = "Failed to export the video to DV tape.";
  for (const Case& c :
       {Case{"camera", "", noVtr}, Case{"no-tape-subunit", "", noVtr}, Case{"none", "", noVtr},
        Case{"no-cassette", "", failed}, Case{"write-protected", "", failed},
        Case{"vtr", "refuse-connection", failed}, Case{"vtr", "avc-timeout", noVtr}}) {
    SCOPED_TRACE(std::string(c.device) + " " + c.fault);
    Bus(c.device, c.fault);
    questions.clear();
    EXPECT_EQ(StartRecording(clip), c.text);
    EXPECT_EQ(questions.size(), c.text == noVtr ? 0 : 1);
    EXPECT_FALSE(dlg->Export()->IsRecording());
    EXPECT_NE(result(), 1);
    const std::string state = TransportState();
    EXPECT_TRUE(state == "" || state == "-" || state == "WIND:STOP") << state;
    EXPECT_EQ(Lines(Log(), "record ").size(), 0u) << "nothing reached the tape";
    // The window goes on working.
    Type(*dlg, 1042, "");
    Click(*dlg, 1047);
    EXPECT_EQ(Msg(), "Please offer a valid media file.");
  }
  Bus("vtr");
  EXPECT_EQ(StartRecording(clip), "The clip has already exported to the DV tape.");
  ASSERT_TRUE(AwaitEnd(20000));
  EXPECT_EQ(result(), 1);
  EXPECT_EQ(Msg(), "The clip has already exported to the DV tape.");
  EXPECT_EQ(TransportState(), "WIND:STOP");
}

// Each transport command leaves the transport in its one mode, whatever mode it was in; a
// second freeze stays frozen; unknown codes send nothing.
TEST_F(SimTape, EachTransportCommandSetsItsOneMode) {
  auto findVtr = reinterpret_cast<FindVtrFn>(dlsym(dlg->PlayModule(), "FindVtr"));
  auto ctrlVtr = reinterpret_cast<CtrlVtrFn>(dlsym(dlg->PlayModule(), "CtrlVtr"));
  ASSERT_NE(findVtr, nullptr);
  ASSERT_NE(ctrlVtr, nullptr);
  ASSERT_TRUE(findVtr());
  const char* modes[] = {"WIND:STOP",          "PLAY:FORWARD", "RECORD:RECORD",
                         "PLAY:FORWARD_PAUSE", "WIND:REWIND",  "WIND:FAST_FORWARD"};
  for (int from = 0; from <= 5; ++from) {
    for (int to = 0; to <= 5; ++to) {
      SCOPED_TRACE(std::to_string(from) + " then " + std::to_string(to));
      ctrlVtr(kVtrStop);
      ctrlVtr(from);
      ctrlVtr(to);
      // A freeze while recording pauses the recording.
      const std::string want = to == kVtrFreeze && from == kVtrRecord ? "RECORD:PAUSE" : modes[to];
      EXPECT_EQ(TransportState(), want);
      ctrlVtr(to);
      EXPECT_EQ(TransportState(), want) << "the same command again";
    }
  }
  ctrlVtr(kVtrRecord);
  ctrlVtr(kVtrFreeze);
  ctrlVtr(kVtrFreeze);
  EXPECT_EQ(TransportState(), "RECORD:PAUSE");
  const size_t sent = Avc().size();
  for (int unknown : {-1, 6, 99}) ctrlVtr(unknown);
  EXPECT_EQ(Avc().size(), sent);
  ctrlVtr(kVtrStop);
  EXPECT_EQ(TransportState(), "WIND:STOP");
}

// Stop while the lead-in runs acts at once; a camcorder unplugged part way through a recording,
// or a bus reset, stops it within a second with the failure text, and nothing is left behind.
TEST_F(SimTape, StopDuringTheLeadInAndAnUnplugEndTheRecordingAtOnce) {
  const std::string clip = Clip("long.wmv", 20000);
  ASSERT_EQ(StartRecording(clip), "The clip has already exported to the DV tape.");
  QTest::qWait(500);
  ASSERT_TRUE(dlg->Export()->IsRecording());
  QElapsedTimer t;
  t.start();
  Click(*dlg, 1048);
  RecordProperty("stop_ms", static_cast<int>(t.elapsed()));
  EXPECT_LT(t.elapsed(), 500) << "Stop waited for the tape";
  EXPECT_FALSE(dlg->Export()->IsRecording());
  EXPECT_EQ(TransportState(), "WIND:STOP");

  const int before = testutil::LiveGstObjects();
  Bus("vtr", "unplug-at=5000");
  ASSERT_EQ(StartRecording(clip), "The clip has already exported to the DV tape.");
  ASSERT_TRUE(WaitFor([this] { return Log().find("unplug node=0") != std::string::npos; }, 15000));
  t.restart();
  const bool ended = AwaitEnd(5000);
  const qint64 took = t.elapsed();
  RecordProperty("unplug_to_end_ms", static_cast<int>(took));
  ASSERT_TRUE(ended) << "the recording hangs after the unplug";
  EXPECT_LT(took, 1000);
  EXPECT_EQ(Msg(), "Failed to export the video to DV tape.");
  auto result = reinterpret_cast<GetTapeResultFn>(dlsym(dlg->PlayModule(), "GetTapeResult"));
  EXPECT_EQ(result(), -1);
  // A bus reset with the camcorder still there: the recording stops too, and the camcorder,
  // found again, is told to stop.
  Bus("vtr");
  ASSERT_EQ(StartRecording(clip), "The clip has already exported to the DV tape.");
  QTest::qWait(500);
  {
    using NewHandleFn = void* (*)(int);
    using HandleFn = int (*)(void*);
    auto newHandle = reinterpret_cast<NewHandleFn>(dlsym(raw1394, "raw1394_new_handle_on_port"));
    auto resetBus = reinterpret_cast<HandleFn>(dlsym(raw1394, "raw1394_reset_bus"));
    auto destroy = reinterpret_cast<void (*)(void*)>(dlsym(raw1394, "raw1394_destroy_handle"));
    ASSERT_TRUE(newHandle && resetBus && destroy);
    void* handle = newHandle(0);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(resetBus(handle), 0);
    destroy(handle);
  }
  t.restart();
  ASSERT_TRUE(AwaitEnd(5000)) << "the recording hangs after the bus reset";
  EXPECT_LT(t.elapsed(), 1000);
  EXPECT_EQ(Msg(), "Failed to export the video to DV tape.");
  const std::string log = Log();
  const size_t resetAt = log.find("bus-reset ");
  ASSERT_NE(resetAt, std::string::npos);
  EXPECT_NE(log.find("op=WIND operand=0x60 reply=ACCEPTED state=WIND:STOP", resetAt),
            std::string::npos)
      << log;
  // The connection is given back: no plug counts one after it.
  for (const char* plug : {"reg=oPCR0", "reg=iPCR0"}) {
    std::string last;
    for (const std::string& line : Lines(log, "lock "))
      if (line.find(plug) != std::string::npos) last = line;
    const unsigned long value = std::stoul(Field(last + " ", "new"), nullptr, 16);
    EXPECT_EQ((value >> 24) & 0x3f, 0u) << last;
  }

  // Nothing is left of the graph.
  EXPECT_GE(before, 0) << "the leaks tracer is not active";
  if (before >= 0) {
    EXPECT_EQ(testutil::LiveGstObjects(), before);
  }
}

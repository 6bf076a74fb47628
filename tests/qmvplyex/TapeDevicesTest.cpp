// The camcorder search over a bus of stand-in devices, the IEEE 1394 bus of this machine, and
// the DV frames cut out of the muxer's chunks.
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "Camcorder.h"
#include "DvFrames.h"
#include "QmvPlyEx.h"

namespace plyex {
namespace {

struct FakeDevice {
  bool binds = true;
  bool device = true;
  int32_t type = ED_DEVTYPE_VCR;
  bool transport = true;
};

class FakeCamcorder : public Camcorder {
 public:
  FakeCamcorder(FakeDevice device, int id, std::vector<int>* asked)
      : device_(device), id_(id), asked_(asked) {}
  bool Bind() override {
    asked_->push_back(id_);
    return device_.binds;
  }
  bool OpenDevice() override { return device_.device; }
  int32_t DeviceType() override { return device_.type; }
  bool OpenTransport() override { return device_.transport; }
  bool SetMode(int32_t mode) override {
    mode_ = mode;
    return true;
  }
  int32_t Mode() const override { return mode_; }
  bool BeginStream(const DvSystem&) override { return true; }
  bool WriteFrame(const uint8_t*, size_t) override { return true; }
  bool Drain() override { return true; }
  void Interrupt() override {}
  void EndStream() override {}
  bool WantsClockPace() const override { return false; }
  int Id() const { return id_; }

 private:
  FakeDevice device_;
  int id_;
  std::vector<int>* asked_;
  int32_t mode_ = ED_MODE_STOP;
};

class FakeBus : public CamcorderBus {
 public:
  explicit FakeBus(std::vector<FakeDevice> devices, bool opens = true)
      : devices_(std::move(devices)), opens_(opens) {}
  bool Open() override { return opens_; }
  std::vector<std::unique_ptr<Camcorder>> Devices() override {
    std::vector<std::unique_ptr<Camcorder>> out;
    for (size_t i = 0; i < devices_.size(); ++i)
      out.push_back(std::make_unique<FakeCamcorder>(devices_[i], static_cast<int>(i), &asked));
    return out;
  }
  std::vector<int> asked;

 private:
  std::vector<FakeDevice> devices_;
  bool opens_;
};

// Runs the search with the debug output on standard error and returns what it wrote.
std::string Search(CamcorderBus& bus, int* found) {
  setenv("VANTREL_DEBUG", "1", 1);
  testing::internal::CaptureStderr();
  std::unique_ptr<Camcorder> camera = FindCamcorder(bus);
  const std::string log = testing::internal::GetCapturedStderr();
  *found = camera != nullptr ? static_cast<FakeCamcorder*>(camera.get())->Id() : -1;
  return log;
}

// The first device that is a camcorder in VTR mode wins; the ones before it are passed over
// (quietly when they are of another type, with the step's text when a step fails), none after
// it is looked at; without one every text of the search appears.
TEST(TapeDevicesTest, SearchTakesTheFirstVcrAndLogsEachFailedStep) {
  int found = -1;
  FakeBus cameraThenVcr({{.type = ED_DEVTYPE_CAMERA}, {}, {}});
  EXPECT_EQ(Search(cameraThenVcr, &found), "");
  EXPECT_EQ(found, 1);
  EXPECT_EQ(cameraThenVcr.asked, (std::vector<int>{0, 1}));

  FakeBus onlyCamera(std::vector<FakeDevice>{{.type = ED_DEVTYPE_CAMERA}});
  EXPECT_EQ(Search(onlyCamera, &found), "Failed to find camcorder in VTR mode\n");
  EXPECT_EQ(found, -1);

  FakeBus failing({{.binds = false}, {.device = false}, {.transport = false}, {}});
  EXPECT_EQ(Search(failing, &found),
            "Failed to bind the Moniker to video filter\nFailed to retrieve Video device\n"
            "Failed to retrieve VTR control\n");
  EXPECT_EQ(found, 3);

  FakeBus empty(std::vector<FakeDevice>{});
  EXPECT_EQ(Search(empty, &found), "Cannot find video Enum\n");
  FakeBus closed(std::vector<FakeDevice>{{}}, false);
  EXPECT_EQ(Search(closed, &found), "Error Creating Device Enumerator\n");
  EXPECT_EQ(found, -1);
}

// This machine has no IEEE 1394 controller: the real bus answers at once that it has no device.
TEST(TapeDevicesTest, RealBusWithoutControllerFindsNothingQuickly) {
  std::unique_ptr<CamcorderBus> bus = Make1394Bus();
  int found = -1;
  const auto start = std::chrono::steady_clock::now();
  const std::string log = Search(*bus, &found);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_EQ(found, -1);
  EXPECT_EQ(log, "Cannot find video Enum\n");
}

// Chunks of any size become whole frames, each checked for its header; a stream that loses its
// frame alignment is refused. The camcorders' lead-in frame is a valid frame of each system.
TEST(TapeDevicesTest, FramerCutsWholeFramesAndRefusesAStreamWithoutHeaders) {
  gst_init(nullptr, nullptr);
  for (bool pal : {true, false}) {
    DvSystem system;
    system.pal = pal;
    const std::vector<uint8_t> black = MakeBlackDvFrame(system);
    ASSERT_EQ(black.size(), system.FrameBytes()) << (pal ? "PAL" : "NTSC");
    EXPECT_TRUE(IsDvFrameStart(black.data(), black.size(), system));
    DvSystem other;
    other.pal = !pal;
    EXPECT_FALSE(IsDvFrameStart(black.data(), black.size(), other));

    std::vector<uint8_t> stream;
    for (int i = 0; i < 3; ++i) stream.insert(stream.end(), black.begin(), black.end());
    DvFramer framer;
    framer.Reset(system);
    int frames = 0;
    auto count = [&](const uint8_t* frame, size_t size) {
      EXPECT_EQ(size, system.FrameBytes());
      EXPECT_EQ(std::vector<uint8_t>(frame, frame + size), black);
      ++frames;
      return true;
    };
    size_t at = 0;
    for (size_t chunk = 1000; at < stream.size(); chunk = chunk * 7 % 9001 + 1) {
      const size_t n = std::min(chunk, stream.size() - at);
      ASSERT_EQ(framer.Push(stream.data() + at, n, count), DvFramer::Result::kOk);
      at += n;
    }
    EXPECT_EQ(frames, 3);
    EXPECT_EQ(framer.Pending(), 0u);

    // A stream that lost the start of its first frame: every "frame" opens in the middle of one.
    DvFramer shifted;
    shifted.Reset(system);
    EXPECT_EQ(shifted.Push(stream.data() + 40000, stream.size() - 40000, count),
              DvFramer::Result::kBadFrame);
    EXPECT_EQ(frames, 3);
    // A camcorder that refuses a frame ends the stream.
    DvFramer refused;
    refused.Reset(system);
    EXPECT_EQ(
        refused.Push(stream.data(), stream.size(), [](const uint8_t*, size_t) { return false; }),
        DvFramer::Result::kRefused);
  }
  // The frame rate decides the system.
  EXPECT_TRUE(DvSystemForRate(25, 1).pal);
  EXPECT_TRUE(DvSystemForRate(24000, 1001).pal);
  EXPECT_FALSE(DvSystemForRate(30000, 1001).pal);
  EXPECT_FALSE(DvSystemForRate(30, 1).pal);
  EXPECT_TRUE(DvSystemForRate(0, 1).pal);
}

}  // namespace
}  // namespace plyex

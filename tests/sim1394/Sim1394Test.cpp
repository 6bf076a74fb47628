// The simulated bus under the system's real librom1394, libavc1394 and libiec61883: the test
// links them (and libraw1394) as the program does and runs with LD_LIBRARY_PATH on the
// simulation, which each test sets up anew through its environment variables.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <libavc1394/avc1394.h>
#include <libavc1394/avc1394_vcr.h>
#include <libavc1394/rom1394.h>
#include <libiec61883/iec61883.h>
#include <libraw1394/csr.h>
#include <libraw1394/raw1394.h>
#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "DifLayout.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr quadlet_t kControlTape =
    AVC1394_CTYPE_CONTROL | AVC1394_SUBUNIT_TYPE_VCR | AVC1394_SUBUNIT_ID_0;
constexpr quadlet_t kStatusTape =
    AVC1394_CTYPE_STATUS | AVC1394_SUBUNIT_TYPE_VCR | AVC1394_SUBUNIT_ID_0;
constexpr quadlet_t kNoReply = 0xffffffff;

std::string TempPath(const char* name) {
  return std::string(::testing::TempDir()) + "sim1394_" + std::to_string(getpid()) + "_" + name;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A fresh bus with the given settings; the log and tape files start empty.
class Sim : public ::testing::Test {
 protected:
  void Start(const char* device, const char* fault = "", const char* pace = "fast") {
    logPath_ = TempPath("log.txt");
    tapePath_ = TempPath("tape.dv");
    std::remove(logPath_.c_str());
    std::remove(tapePath_.c_str());
    setenv("VANTREL_SIM1394_DEVICE", device, 1);
    setenv("VANTREL_SIM1394_FAULT", fault, 1);
    setenv("VANTREL_SIM1394_PACE", pace, 1);
    setenv("VANTREL_SIM1394_LOG", logPath_.c_str(), 1);
    setenv("VANTREL_SIM1394_TAPE", tapePath_.c_str(), 1);
    auto reset = reinterpret_cast<int (*)()>(dlsym(RTLD_DEFAULT, "vantrel_sim1394_reset"));
    ASSERT_NE(reset, nullptr) << "not running on the simulated bus (LD_LIBRARY_PATH)";
    ASSERT_EQ(reset(), 0);
  }
  void TearDown() override {
    if (std::getenv("SIM1394_KEEP_LOG") != nullptr) return;
    std::remove(logPath_.c_str());
    std::remove(tapePath_.c_str());
  }
  std::string Log() const { return ReadFile(logPath_); }
  bool Logged(const std::string& text) const { return Log().find(text) != std::string::npos; }

  std::string logPath_, tapePath_;
};

struct Handle {
  Handle() : h(raw1394_new_handle_on_port(0)) {}
  ~Handle() {
    if (h != nullptr) raw1394_destroy_handle(h);
  }
  raw1394handle_t h;
};

quadlet_t ReadQuadlet(raw1394handle_t h, int node, nodeaddr_t offset) {
  quadlet_t q = 0;
  EXPECT_EQ(
      raw1394_read(h, static_cast<nodeid_t>(0xffc0 | node), CSR_REGISTER_BASE + offset, 4, &q), 0);
  return ntohl(q);
}

TEST_F(Sim, NodesAndConfigRoms) {
  Start("vtr,camera");
  {
    Handle bus;
    ASSERT_NE(bus.h, nullptr);
    raw1394_portinfo ports[4];
    ASSERT_EQ(raw1394_get_port_info(bus.h, ports, 4), 1);
    EXPECT_EQ(ports[0].nodes, 3);
    EXPECT_EQ(raw1394_get_nodecount(bus.h), 3);
    EXPECT_EQ(raw1394_get_local_id(bus.h), 0xffc2);
    for (int node = 0; node < 3; ++node) {
      rom1394_directory dir{};
      ASSERT_EQ(rom1394_get_directory(bus.h, static_cast<nodeid_t>(node), &dir), 0);
      EXPECT_EQ(rom1394_get_node_type(&dir),
                node < 2 ? ROM1394_NODE_TYPE_AVC : ROM1394_NODE_TYPE_UNKNOWN);
      EXPECT_EQ(rom1394_get_bus_id(bus.h, static_cast<nodeid_t>(node)), 0x31333934u);
      if (node < 2) {
        ASSERT_NE(dir.label, nullptr);
        EXPECT_STREQ(dir.label, "Simulated DV camcorder");
      }
      rom1394_free_directory(&dir);
    }
    // Registers take locks only; unknown addresses answer with an address error.
    quadlet_t q = 0;
    EXPECT_LT(raw1394_write(bus.h, 0xffc0, CSR_REGISTER_BASE + 0x984, 4, &q), 0);
    EXPECT_LT(raw1394_read(bus.h, 0xffc0, CSR_REGISTER_BASE + 0x3000, 4, &q), 0);
    EXPECT_LT(raw1394_read(bus.h, 0xffc5, CSR_REGISTER_BASE + CSR_CONFIG_ROM, 4, &q), 0);
  }

  Start("none");
  Handle alone;
  EXPECT_EQ(raw1394_get_nodecount(alone.h), 1);
  EXPECT_EQ(raw1394_get_local_id(alone.h), 0xffc0);
}

TEST_F(Sim, TransportKeepsOneModePerCommand) {
  Start("vtr");
  Handle avc;
  // Each command sets its mode and state, whatever came before: nothing toggles.
  const struct {
    quadlet_t command;
    quadlet_t mode;
    quadlet_t state;
  } steps[] = {
      {AVC1394_VCR_COMMAND_PLAY | AVC1394_VCR_OPERAND_PLAY_FORWARD, 0xc3, 0x75},
      {AVC1394_VCR_COMMAND_PLAY | AVC1394_VCR_OPERAND_PLAY_FORWARD, 0xc3, 0x75},
      {AVC1394_VCR_COMMAND_PLAY | AVC1394_VCR_OPERAND_PLAY_FORWARD_PAUSE, 0xc3, 0x7d},
      {AVC1394_VCR_COMMAND_PLAY | AVC1394_VCR_OPERAND_PLAY_FORWARD_PAUSE, 0xc3, 0x7d},
      {AVC1394_VCR_COMMAND_RECORD | AVC1394_VCR_OPERAND_RECORD_RECORD, 0xc2, 0x75},
      {AVC1394_VCR_COMMAND_RECORD | AVC1394_VCR_OPERAND_RECORD_PAUSE, 0xc2, 0x7d},
      {AVC1394_VCR_COMMAND_RECORD | AVC1394_VCR_OPERAND_RECORD_PAUSE, 0xc2, 0x7d},
      {AVC1394_VCR_COMMAND_WIND | AVC1394_VCR_OPERAND_WIND_REWIND, 0xc4, 0x65},
      {AVC1394_VCR_COMMAND_WIND | AVC1394_VCR_OPERAND_WIND_FAST_FORWARD, 0xc4, 0x75},
      {AVC1394_VCR_COMMAND_WIND | AVC1394_VCR_OPERAND_WIND_STOP, 0xc4, 0x60},
  };
  EXPECT_EQ(avc1394_vcr_status(avc.h, 0), 0x0c20c460u);  // STABLE, tape 0, WIND STOP
  for (const auto& step : steps) {
    const quadlet_t reply = avc1394_transaction(avc.h, 0, kControlTape | step.command, 1);
    EXPECT_EQ(AVC1394_MASK_RESPONSE(reply), AVC1394_RESPONSE_ACCEPTED) << std::hex << step.command;
    const quadlet_t state = avc1394_vcr_status(avc.h, 0);
    EXPECT_EQ(AVC1394_MASK_RESPONSE(state), AVC1394_RESPONSE_STABLE);
    EXPECT_EQ(AVC1394_GET_OPCODE(state), step.mode) << std::hex << step.command;
    EXPECT_EQ(AVC1394_GET_OPERAND0(state), step.state) << std::hex << step.command;
  }
  // An operand the tape subunit does not know changes nothing.
  EXPECT_EQ(AVC1394_MASK_RESPONSE(
                avc1394_transaction(avc.h, 0, kControlTape | AVC1394_VCR_COMMAND_WIND | 0x11, 1)),
            AVC1394_RESPONSE_NOT_IMPLEMENTED);
  EXPECT_EQ(AVC1394_GET_OPERAND0(avc1394_vcr_status(avc.h, 0)), 0x60u);
  EXPECT_TRUE(
      Logged("avc node=0 ctype=CONTROL target=tape op=RECORD operand=0x75 reply=ACCEPTED "
             "state=RECORD:RECORD tape=0 "));
  EXPECT_TRUE(Logged("op=TRANSPORT_STATE operand=0x7f reply=STABLE state=WIND:STOP tape=0 "));
}

TEST_F(Sim, DeviceSettingsDecideTheReplies) {
  const quadlet_t record =
      kControlTape | AVC1394_VCR_COMMAND_RECORD | AVC1394_VCR_OPERAND_RECORD_RECORD;
  const quadlet_t play = kControlTape | AVC1394_VCR_COMMAND_PLAY | AVC1394_VCR_OPERAND_PLAY_FORWARD;
  const quadlet_t stop = kControlTape | AVC1394_VCR_COMMAND_WIND | AVC1394_VCR_OPERAND_WIND_STOP;
  const struct {
    const char* device;
    bool vcr;
    quadlet_t state, record, play, stop;
  } cases[] = {
      {"vtr", true, AVC1394_RESPONSE_STABLE, AVC1394_RESPONSE_ACCEPTED, AVC1394_RESPONSE_ACCEPTED,
       AVC1394_RESPONSE_ACCEPTED},
      {"camera", true, AVC1394_RESPONSE_REJECTED, AVC1394_RESPONSE_REJECTED,
       AVC1394_RESPONSE_REJECTED, AVC1394_RESPONSE_REJECTED},
      {"no-cassette", true, AVC1394_RESPONSE_STABLE, AVC1394_RESPONSE_REJECTED,
       AVC1394_RESPONSE_REJECTED, AVC1394_RESPONSE_ACCEPTED},
      {"write-protected", true, AVC1394_RESPONSE_STABLE, AVC1394_RESPONSE_REJECTED,
       AVC1394_RESPONSE_ACCEPTED, AVC1394_RESPONSE_ACCEPTED},
      {"no-tape-subunit", false, AVC1394_RESPONSE_NOT_IMPLEMENTED, AVC1394_RESPONSE_NOT_IMPLEMENTED,
       AVC1394_RESPONSE_NOT_IMPLEMENTED, AVC1394_RESPONSE_NOT_IMPLEMENTED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.device);
    Start(c.device);
    Handle avc;
    EXPECT_EQ(avc1394_check_subunit_type(avc.h, 0, AVC1394_SUBUNIT_TYPE_VCR), c.vcr ? 1 : 0);
    // A camera subunit is listed in every mode: it says nothing of the mode.
    EXPECT_EQ(avc1394_check_subunit_type(avc.h, 0, AVC1394_SUBUNIT_TYPE_VIDEO_CAMERA), 1);
    EXPECT_EQ(AVC1394_MASK_RESPONSE(avc1394_vcr_status(avc.h, 0)), c.state);
    EXPECT_EQ(AVC1394_MASK_RESPONSE(avc1394_transaction(avc.h, 0, record, 1)), c.record);
    EXPECT_EQ(AVC1394_MASK_RESPONSE(avc1394_transaction(avc.h, 0, play, 1)), c.play);
    EXPECT_EQ(AVC1394_MASK_RESPONSE(avc1394_transaction(avc.h, 0, stop, 1)), c.stop);
    quadlet_t* unit = avc1394_unit_info(avc.h, 0);
    ASSERT_NE(unit, nullptr);
    EXPECT_EQ(AVC1394_MASK_RESPONSE(unit[0]), AVC1394_RESPONSE_STABLE);
    avc1394_transaction_block_close(avc.h);
  }

  // Another camcorder plugged in while a handle stays open: the handle takes the bus reset and
  // talks to the new one.
  Start("vtr");
  {
    Handle kept;
    EXPECT_EQ(AVC1394_MASK_RESPONSE(avc1394_transaction(kept.h, 0, record, 1)),
              AVC1394_RESPONSE_ACCEPTED);
    Start("write-protected");
    EXPECT_EQ(AVC1394_MASK_RESPONSE(avc1394_transaction(kept.h, 0, record, 1)),
              AVC1394_RESPONSE_REJECTED);
    EXPECT_EQ(raw1394_get_generation(kept.h), 2u);
    EXPECT_TRUE(Logged("reason=replug"));
  }

  // A camcorder that takes commands and never answers: the library gives up on its own.
  Start("vtr", "avc-timeout");
  Handle timeout;
  const Clock::time_point before = Clock::now();
  EXPECT_EQ(avc1394_transaction(timeout.h, 0, record, 1), kNoReply);
  EXPECT_GE(Clock::now() - before, std::chrono::milliseconds(150));
  EXPECT_EQ(avc1394_subunit_info(timeout.h, 0, std::vector<quadlet_t>(8).data()), -1);
  EXPECT_TRUE(Logged("op=RECORD operand=0x75 reply=none state=RECORD:RECORD tape=0 "));
}

TEST_F(Sim, ConnectionsTakeAndGiveBackPlugsAndIrmResources) {
  Start("vtr");
  int irm = 0;
  {
    Handle x;
    const nodeid_t local = raw1394_get_local_id(x.h);
    irm = raw1394_get_irm_id(x.h) & 0x3f;
    int oplug = -1, iplug = -1, bandwidth = 1;
    const int channel = iec61883_cmp_connect(x.h, local, &oplug, 0xffc0, &iplug, &bandwidth);
    ASSERT_EQ(channel, 0);
    EXPECT_EQ(oplug, 0);
    EXPECT_EQ(iplug, 0);
    EXPECT_EQ(bandwidth, 512 + (122 + 3) * 4 * 4);  // a DV packet at S100
    EXPECT_EQ(ReadQuadlet(x.h, irm, CSR_BANDWIDTH_AVAILABLE), 4915u - bandwidth);
    EXPECT_EQ(ReadQuadlet(x.h, irm, CSR_CHANNELS_AVAILABLE_HI), 0x7fffffffu);
    const quadlet_t ipcr = ReadQuadlet(x.h, 0, 0x984);
    EXPECT_EQ((ipcr >> 24) & 0x3f, 1u);  // one point-to-point connection
    EXPECT_EQ((ipcr >> 16) & 0x3f, 0u);  // on channel 0
    EXPECT_EQ((ReadQuadlet(x.h, local & 0x3f, 0x904) >> 24) & 0x3f, 1u);

    // A second connection to plugs in use overlays the first: same channel, one more count
    // (disconnected by channel: libiec61883 does not hand back the input plug it overlaid).
    Handle y;
    int oplug2 = -1, iplug2 = -1, bandwidth2 = 0;
    EXPECT_EQ(iec61883_cmp_connect(y.h, local, &oplug2, 0xffc0, &iplug2, &bandwidth2), 0);
    EXPECT_EQ((ReadQuadlet(x.h, 0, 0x984) >> 24) & 0x3f, 2u);
    EXPECT_EQ(iec61883_cmp_disconnect(y.h, local, -1, 0xffc0, -1, 0, 0), 0);

    EXPECT_EQ(iec61883_cmp_disconnect(x.h, local, oplug, 0xffc0, iplug, channel, bandwidth), 0);
    EXPECT_EQ(ReadQuadlet(x.h, irm, CSR_BANDWIDTH_AVAILABLE), 4915u);
    EXPECT_EQ(ReadQuadlet(x.h, irm, CSR_CHANNELS_AVAILABLE_HI), 0xffffffffu);
    EXPECT_EQ((ReadQuadlet(x.h, 0, 0x984) >> 24) & 0x3f, 0u);
    EXPECT_EQ((ReadQuadlet(x.h, local & 0x3f, 0x904) >> 24) & 0x3f, 0u);
  }

  Start("vtr", "refuse-connection");
  Handle z;
  int oplug = -1, iplug = -1, bandwidth = 1;
  EXPECT_EQ(
      iec61883_cmp_connect(z.h, raw1394_get_local_id(z.h), &oplug, 0xffc0, &iplug, &bandwidth), -1);
  EXPECT_EQ(ReadQuadlet(z.h, irm, CSR_BANDWIDTH_AVAILABLE), 4915u);
  EXPECT_EQ((ReadQuadlet(z.h, 0, 0x984) >> 24) & 0x3f, 0u);
  EXPECT_TRUE(Logged("refused\n"));
}

// DV frames with proper DIF block ids (what the receiver frames on) and a pattern of their own.
std::vector<uint8_t> MakeFrame(bool pal, int index) {
  const int blocks = (pal ? 12 : 10) * 150;
  std::vector<uint8_t> frame(static_cast<size_t>(blocks) * 80);
  for (int i = 0; i < blocks; ++i) {
    const sim1394::DifPlace place = sim1394::DifBlockPlace(i);
    uint8_t* block = frame.data() + static_cast<size_t>(i) * 80;
    block[0] = static_cast<uint8_t>(place.type << 5 | 0x1f);
    block[1] = static_cast<uint8_t>(place.sequence << 4 | 0x07);
    block[2] = static_cast<uint8_t>(place.number);
    for (int b = 3; b < 80; ++b) block[b] = static_cast<uint8_t>(index * 7 + i + b);
    if (place.type == 0) block[3] = static_cast<uint8_t>((pal ? 0x80 : 0x00) | 0x3f);
  }
  return frame;
}

// Hands the frames to libiec61883's transmitter one 480-byte packet at a time, then the last one
// again and again. The first frame starts on the first packet with a time stamp (the CIP header
// in front of the payload): libiec61883 keeps its count of them from the last stream.
struct Feeder {
  std::vector<std::vector<uint8_t>> frames;
  size_t frame = 0, offset = 0;
  size_t bytes = 480;  // of the frame in each packet; the rest is left as it was
  bool started = false;
  bool endAfterLast = false;  // the end of the stream once every frame went out: -1
  static int Feed(unsigned char* data, int blocks, unsigned int, void* self) {
    auto* f = static_cast<Feeder*>(self);
    if (f->endAfterLast && f->frame >= f->frames.size()) return -1;
    if (blocks <= 0) return 0;
    if (!f->started && (data[-2] << 8 | data[-1]) == 0xffff) {
      std::memcpy(data, f->frames[0].data() + 480, 480);  // no frame start
      return 0;
    }
    f->started = true;
    const std::vector<uint8_t>& current = f->frames[std::min(f->frame, f->frames.size() - 1)];
    std::memcpy(data, current.data() + f->offset, f->bytes);
    f->offset += f->bytes;
    if (f->offset == current.size()) {
      f->offset = 0;
      ++f->frame;
    }
    return 0;
  }
};

// Runs the transmitter's loop until done() or the deadline.
bool Pump(raw1394handle_t h, const std::function<bool()>& done, int seconds = 10) {
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (Clock::now() > deadline) return false;
    pollfd p{raw1394_get_fd(h), POLLIN, 0};
    if (poll(&p, 1, 100) > 0 && raw1394_loop_iterate(h) != 0) return false;
  }
  return true;
}

// Streams on channel 63 until `frames` frames have gone over the bus (the transmitter's buffer
// holds a little more than 3 PAL frames of 480-byte packets).
void StreamFrames(bool pal, Feeder& feeder, size_t frames) {
  Handle x;
  iec61883_dv_t dv = iec61883_dv_xmit_init(x.h, pal ? 1 : 0, &Feeder::Feed, &feeder);
  ASSERT_NE(dv, nullptr);
  ASSERT_EQ(iec61883_dv_xmit_start(dv, 63), 0);
  EXPECT_TRUE(Pump(x.h, [&] { return feeder.frame * feeder.bytes / 480 >= frames + 4; }));
  iec61883_dv_close(dv);
}

// DV frames from FFmpeg's encoder: grey pictures, each a little lighter than the one before.
std::vector<std::vector<uint8_t>> EncodeDv(bool pal, int count) {
  std::vector<std::vector<uint8_t>> frames;
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_DVVIDEO);
  AVCodecContext* context = codec != nullptr ? avcodec_alloc_context3(codec) : nullptr;
  if (context == nullptr) return frames;
  context->width = 720;
  context->height = pal ? 576 : 480;
  context->pix_fmt = pal ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_YUV411P;
  context->time_base = pal ? AVRational{1, 25} : AVRational{1001, 30000};
  context->sample_aspect_ratio = pal ? AVRational{16, 15} : AVRational{8, 9};
  AVFrame* picture = av_frame_alloc();
  AVPacket* packet = av_packet_alloc();
  picture->format = context->pix_fmt;
  picture->width = context->width;
  picture->height = context->height;
  if (avcodec_open2(context, codec, nullptr) == 0 && av_frame_get_buffer(picture, 0) == 0) {
    for (int i = 0; i <= count; ++i) {
      if (i < count) {
        av_frame_make_writable(picture);
        for (int plane = 0; plane < 3; ++plane) {
          const int rows = plane == 0 || !pal ? context->height : context->height / 2;
          std::memset(picture->data[plane], plane == 0 ? 40 + 30 * i : 128,
                      static_cast<size_t>(picture->linesize[plane]) * rows);
        }
        picture->pts = i;
      }
      avcodec_send_frame(context, i < count ? picture : nullptr);
      while (avcodec_receive_packet(context, packet) == 0) {
        frames.emplace_back(packet->data, packet->data + packet->size);
        av_packet_unref(packet);
      }
    }
  }
  av_packet_free(&packet);
  av_frame_free(&picture);
  avcodec_free_context(&context);
  return frames;
}

TEST_F(Sim, DvStreamReachesTheTapeWhileRecording) {
  for (const bool pal : {true, false}) {
    SCOPED_TRACE(pal ? "PAL" : "NTSC");
    Start("vtr");
    const size_t frameBytes = pal ? 144000 : 120000;
    Feeder feeder;
    feeder.frames = EncodeDv(pal, 4);
    ASSERT_EQ(feeder.frames.size(), 4u);
    for (const std::vector<uint8_t>& frame : feeder.frames) ASSERT_EQ(frame.size(), frameBytes);
    ASSERT_NE(feeder.frames[0], feeder.frames[1]);  // so that the order shows on the tape
    Handle avc, x;
    const quadlet_t record =
        kControlTape | AVC1394_VCR_COMMAND_RECORD | AVC1394_VCR_OPERAND_RECORD_RECORD;
    ASSERT_EQ(AVC1394_MASK_RESPONSE(avc1394_transaction(avc.h, 0, record, 1)),
              AVC1394_RESPONSE_ACCEPTED);
    int oplug = -1, iplug = -1, bandwidth = 1;
    const int channel =
        iec61883_cmp_connect(x.h, raw1394_get_local_id(x.h), &oplug, 0xffc0, &iplug, &bandwidth);
    ASSERT_GE(channel, 0);
    iec61883_dv_t dv = iec61883_dv_xmit_init(x.h, pal ? 1 : 0, &Feeder::Feed, &feeder);
    ASSERT_NE(dv, nullptr);
    ASSERT_EQ(iec61883_dv_xmit_start(dv, channel), 0);
    const auto tapeBytes = [&] { return ReadFile(tapePath_).size(); };
    EXPECT_TRUE(Pump(x.h, [&] { return tapeBytes() >= 4 * frameBytes; }));

    const quadlet_t stop = kControlTape | AVC1394_VCR_COMMAND_WIND | AVC1394_VCR_OPERAND_WIND_STOP;
    ASSERT_EQ(AVC1394_MASK_RESPONSE(avc1394_transaction(avc.h, 0, stop, 1)),
              AVC1394_RESPONSE_ACCEPTED);
    const size_t atStop = tapeBytes();
    const size_t sentAtStop = feeder.frame;
    EXPECT_TRUE(Pump(x.h, [&] { return feeder.frame >= sentAtStop + 5; }));
    iec61883_dv_close(dv);
    iec61883_cmp_disconnect(x.h, raw1394_get_local_id(x.h), oplug, 0xffc0, iplug, channel,
                            bandwidth);

    const std::string tape = ReadFile(tapePath_);
    ASSERT_EQ(tape.size() % frameBytes, 0u);
    EXPECT_LE(tape.size(), atStop + frameBytes) << "frames recorded after STOP";
    ASSERT_GE(tape.size(), 4 * frameBytes);
    for (size_t i = 0; i < 4; ++i)
      EXPECT_EQ(0, std::memcmp(tape.data() + i * frameBytes, feeder.frames[i].data(), frameBytes))
          << "frame " << i;
    const std::string log = Log();
    EXPECT_NE(log.find("record node=0 frames=0 "), std::string::npos);
    EXPECT_NE(log.find("partial=0 bad-frames=0 cip-errors=0 bad-packets=0\n"), std::string::npos)
        << log;
    EXPECT_NE(log.find("late-cycles=0"), std::string::npos) << log;
  }
}

TEST_F(Sim, SynchronisedStopSendsWhatIsQueued) {
  // At the bus's pace the transmitter's buffer holds an eighth of a second, more than 3 frames:
  // closing without synchronising would leave them unsent.
  Start("vtr", "", "bus");
  Feeder feeder;
  feeder.frames = EncodeDv(true, 5);
  ASSERT_EQ(feeder.frames.size(), 5u);
  feeder.endAfterLast = true;
  Handle avc, x;
  const quadlet_t record =
      kControlTape | AVC1394_VCR_COMMAND_RECORD | AVC1394_VCR_OPERAND_RECORD_RECORD;
  ASSERT_EQ(AVC1394_MASK_RESPONSE(avc1394_transaction(avc.h, 0, record, 1)),
            AVC1394_RESPONSE_ACCEPTED);
  iec61883_dv_t dv = iec61883_dv_xmit_init(x.h, 1, &Feeder::Feed, &feeder);
  iec61883_dv_set_synch(dv, 1);
  const Clock::time_point started = Clock::now();
  ASSERT_EQ(iec61883_dv_xmit_start(dv, 63), 0);
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
  while (feeder.frame < 5 && Clock::now() < deadline) {
    pollfd p{raw1394_get_fd(x.h), POLLIN, 0};
    if (poll(&p, 1, 100) > 0) raw1394_loop_iterate(x.h);  // -1 once the feeder has ended
  }
  iec61883_dv_close(dv);
  const auto elapsed = Clock::now() - started;
  const std::string tape = ReadFile(tapePath_);
  ASSERT_EQ(tape.size(), 5u * 144000);
  for (size_t i = 0; i < 5; ++i)
    EXPECT_EQ(0, std::memcmp(tape.data() + i * 144000, feeder.frames[i].data(), 144000));
  EXPECT_TRUE(Logged(" unsent=0\n"));
  EXPECT_FALSE(Logged("iso-sync timeout"));
  // One packet a cycle: the clock, waking only now and then, never runs ahead of the bus's time.
  const std::string log = Log();
  const size_t at = log.find(" packets=", log.find("iso-stop "));
  ASSERT_NE(at, std::string::npos) << log;
  const long packets = std::atol(log.c_str() + at + 9);
  EXPECT_GE(packets, 5 * 300);
  EXPECT_GE(elapsed, std::chrono::microseconds(125) * packets) << log;
}

TEST_F(Sim, ReceiverCountsLateCyclesAndBadPackets) {
  // At the bus's pace, a transmitter whose loop does not run leaves cycles without a packet.
  Start("vtr", "", "bus");
  Feeder feeder;
  feeder.frames.push_back(MakeFrame(true, 0));
  {
    Handle x;
    iec61883_dv_t dv = iec61883_dv_xmit_init(x.h, 1, &Feeder::Feed, &feeder);
    iec61883_dv_set_buffers(dv, 100);
    iec61883_dv_set_prebuffers(dv, 100);
    iec61883_dv_set_irq_interval(dv, 50);
    ASSERT_EQ(iec61883_dv_xmit_start(dv, 63), 0);
    usleep(100 * 1000);  // 800 cycles, 100 packets queued
    iec61883_dv_close(dv);
    const std::string log = Log();
    const size_t at = log.find("late-cycles=");
    ASSERT_NE(at, std::string::npos) << log;
    EXPECT_GT(std::atol(log.c_str() + at + 12), 0);
  }

  // Packets that are not DV in CIP: the wrong length and a broken DBC are counted and logged.
  Start("vtr");
  {
    Handle y;
    struct Broken {
      static raw1394_iso_disposition Send(raw1394handle_t, unsigned char* data, unsigned int* len,
                                          unsigned char* tag, unsigned char* sy, int,
                                          unsigned int) {
        static int n = 0;
        std::memset(data, 0, 488);
        data[1] = 120;
        data[3] = static_cast<unsigned char>(n * 2);  // the counter jumps
        data[4] = 0x80;
        data[5] = 0x80;
        data[6] = data[7] = 0xff;
        *len = (n++ % 10 == 9) ? 100 : 488;
        *tag = 1;
        *sy = 0;
        return RAW1394_ISO_OK;
      }
    };
    ASSERT_EQ(raw1394_iso_xmit_init(y.h, &Broken::Send, 50, 488, 63, RAW1394_ISO_SPEED_100, 10), 0);
    ASSERT_EQ(raw1394_iso_xmit_start(y.h, -1, -1), 0);
    int rounds = 0;
    EXPECT_TRUE(Pump(y.h, [&] { return ++rounds > 5; }));
    raw1394_iso_shutdown(y.h);
    EXPECT_TRUE(Logged("what=dbc"));
    EXPECT_TRUE(Logged("what=length"));
    EXPECT_FALSE(Logged("cip-errors=0 "));
    EXPECT_FALSE(Logged("bad-packets=0\n"));
  }

  // PAL frames in an NTSC stream: the FDF's 50/60 bit disagrees with the frames.
  Start("vtr");
  Feeder pal;
  pal.frames.push_back(MakeFrame(true, 0));
  StreamFrames(false, pal, 3);
  EXPECT_TRUE(Logged("what=fdf fdf=0x00 dsf=50"));

  // 80 bytes of the frame in each packet: the frames the camcorder puts together are garbage.
  Start("vtr");
  Feeder short80;
  short80.bytes = 80;
  short80.frames.push_back(MakeFrame(true, 0));
  StreamFrames(true, short80, 2);
  EXPECT_TRUE(Logged("frame-error node=0"));
  EXPECT_FALSE(Logged("bad-frames=0 "));
}

int resets = 0;
int CountReset(raw1394handle_t h, unsigned generation) {
  ++resets;
  raw1394_update_generation(h, generation);
  return 0;
}

TEST_F(Sim, BusResetIsTakenOnTheNextTransaction) {
  Start("vtr");
  Handle a, b;
  ASSERT_EQ(raw1394_reset_bus(b.h), 0);
  quadlet_t q;
  EXPECT_EQ(raw1394_read(a.h, 0xffc0, CSR_REGISTER_BASE + CSR_CONFIG_ROM, 4, &q), -1);
  EXPECT_EQ(errno, EAGAIN);
  EXPECT_EQ(raw1394_get_generation(a.h), 2u);
  // The libraries try again and go on: the same camcorder, and the IRM's resources are free.
  rom1394_directory dir{};
  ASSERT_EQ(rom1394_get_directory(b.h, 0, &dir), 0);
  EXPECT_EQ(rom1394_get_node_type(&dir), ROM1394_NODE_TYPE_AVC);
  rom1394_free_directory(&dir);
  EXPECT_EQ(AVC1394_MASK_RESPONSE(avc1394_vcr_status(a.h, 0)), AVC1394_RESPONSE_STABLE);
  EXPECT_TRUE(Logged("bus-reset generation=2 nodes=2 local=1 reason=request\n"));
}

TEST_F(Sim, UnplugDuringAStreamResetsTheBus) {
  Start("vtr", "unplug-at=200");
  Feeder feeder;
  feeder.frames.push_back(MakeFrame(true, 0));
  Handle avc, x;
  raw1394_set_bus_reset_handler(x.h, &CountReset);
  resets = 0;
  const unsigned generation = raw1394_get_generation(x.h);
  iec61883_dv_t dv = iec61883_dv_xmit_init(x.h, 1, &Feeder::Feed, &feeder);
  ASSERT_EQ(iec61883_dv_xmit_start(dv, 63), 0);
  const Clock::time_point start = Clock::now();
  EXPECT_TRUE(Pump(
      x.h, [&] { return resets > 0; }, 5));
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(190));
  EXPECT_EQ(raw1394_get_generation(x.h), generation + 1);
  EXPECT_EQ(raw1394_get_nodecount(x.h), 1);
  EXPECT_EQ(raw1394_get_local_id(x.h), 0xffc0);
  // The transmitter goes on. The other handle's first transaction fails and takes the reset;
  // the camcorder is gone: node 0 is the PC now.
  const size_t sent = feeder.frame;
  EXPECT_TRUE(Pump(x.h, [&] { return feeder.frame > sent + 1; }));
  EXPECT_EQ(raw1394_get_nodecount(avc.h), 2);
  rom1394_directory dir{};
  rom1394_get_directory(avc.h, 0, &dir);
  EXPECT_EQ(raw1394_get_nodecount(avc.h), 1);
  EXPECT_NE(rom1394_get_node_type(&dir), ROM1394_NODE_TYPE_AVC);  // node 0 is the PC now
  rom1394_free_directory(&dir);
  iec61883_dv_close(dv);
  EXPECT_TRUE(Logged("bus-reset generation=2 nodes=1 local=0 reason=unplug\n"));
}

}  // namespace

// DV camcorders on IEEE 1394: the nodes of every port (rom1394), the tape subunit and its
// transport (AV/C through libavc1394), and the DV stream (libiec61883's transmitter).
//
// Transport commands go out with their operands spelled out (PLAY FORWARD, RECORD, WIND STOP,
// ...), so that each mode is set, never toggled, and count only when the camcorder ACCEPTS
// them; RECORD counts once the transport state reads RECORD. libavc1394 keeps the reply of the
// exchange under way in one buffer of its own, so every exchange of the process holds one lock,
// and they are only made on the thread that commands the camcorder, never on a streaming thread.
//
// The transmitter's callback runs about 8000 times a second inside raw1394_loop_iterate on a
// thread of its own, asking for one packet's payload at a time: none, or one of libiec61883's
// 480-byte blocks (six 80-byte DIF blocks), so a PAL frame takes 300 packets and an NTSC frame
// 250. It never waits and never encodes: it reads from a ring of ready frames that the tape
// graph fills, and repeats the last frame when the ring runs dry. The stream runs black until
// the transport records; then come the lead-in's black frames, then the clip. At the clip's end
// the callback hands over nothing more, the transmitter's queue is sent out and only then does
// Drain return, so the transport is stopped after the last frame reached the tape.
//
// libiec61883 takes over its handle's user data, so the AV/C commands go through a second
// handle. avc1394_* take the physical node id; iec61883_cmp_connect wants the full one
// (0xffc0 | id). A bus reset renumbers the nodes: the camcorder is found again by its GUID
// before the next command, and a recording under way stops.
#include <libavc1394/avc1394.h>
#include <libavc1394/rom1394.h>
#include <libiec61883/iec61883.h>
#include <libraw1394/raw1394.h>
#include <poll.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "Camcorder.h"
#include "DbgLog.h"
#include "DvFrames.h"
#include "QmvPlyEx.h"

namespace plyex {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kRingFrames = 6;    // about a quarter of a second: the bus paces the graph
constexpr int kLeadInSeconds = 3;    // black frames after record, so the camcorder locks on
constexpr size_t kBlockBytes = 480;  // one packet's payload
constexpr int kRetries = 2;
// How long a transport may take to show the RECORD it accepted.
constexpr auto kRecordSettle = std::chrono::seconds(3);
constexpr quadlet_t kNoAnswer = 0xffffffff;

constexpr quadlet_t kControl =
    AVC1394_CTYPE_CONTROL | AVC1394_SUBUNIT_TYPE_TAPE_RECORDER | AVC1394_SUBUNIT_ID_0;
constexpr quadlet_t kStatus =
    AVC1394_CTYPE_STATUS | AVC1394_SUBUNIT_TYPE_TAPE_RECORDER | AVC1394_SUBUNIT_ID_0;
constexpr quadlet_t kTransportState =
    kStatus | AVC1394_VCR_COMMAND_TRANSPORT_STATE | AVC1394_VCR_OPERAND_TRANSPORT_STATE;

std::mutex& AvcLock() {
  static std::mutex lock;
  return lock;
}

// Bus resets seen by any of our handles.
std::atomic<unsigned> g_resets{0};

int OnBusReset(raw1394handle_t handle, unsigned int generation) {
  raw1394_update_generation(handle, generation);
  g_resets.fetch_add(1);
  return 0;
}

raw1394handle_t NewHandle(int port) {
  raw1394handle_t handle = raw1394_new_handle_on_port(port);
  if (handle != nullptr) raw1394_set_bus_reset_handler(handle, OnBusReset);
  return handle;
}

// Events already waiting on a handle (a bus reset among them) are handled.
void TakePendingEvents(raw1394handle_t handle) {
  pollfd p{raw1394_get_fd(handle), POLLIN, 0};
  for (int i = 0; i < 16 && poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0; ++i)
    if (raw1394_loop_iterate(handle) != 0) break;
}

bool Is(quadlet_t response, quadlet_t code) {
  return response != kNoAnswer && AVC1394_MASK_RESPONSE(response) == code;
}

// The transport mode (opcode) and state (operand) of a TRANSPORT STATE reply.
bool IsRecording(quadlet_t state) {
  return Is(state, AVC1394_RESPONSE_STABLE) &&
         AVC1394_MASK_OPCODE(state) == AVC1394_VCR_RESPONSE_TRANSPORT_STATE_RECORD &&
         AVC1394_GET_OPERAND0(state) == AVC1394_VCR_OPERAND_RECORD_RECORD;
}

class Camcorder1394 : public Camcorder {
 public:
  Camcorder1394(int port, int node) : port_(port), node_(node) {}
  ~Camcorder1394() override {
    EndStream();
    if (avc_ != nullptr) raw1394_destroy_handle(avc_);
  }

  bool Bind() override {
    avc_ = NewHandle(port_);
    if (avc_ == nullptr) return false;
    resets_ = g_resets.load();
    std::lock_guard<std::mutex> guard(AvcLock());
    guid_ = rom1394_get_guid(avc_, static_cast<nodeid_t>(node_));
    return true;
  }

  bool OpenDevice() override {
    if (!Present()) return false;
    std::lock_guard<std::mutex> guard(AvcLock());
    return avc1394_subunit_info(avc_, static_cast<nodeid_t>(node_), subunits_) >= 0;
  }

  // A tape subunit makes a VCR; a camera subunit beside it does not decide (many camcorders list
  // both in either mode): the transport's answers do, in OpenTransport.
  int32_t DeviceType() override {
    for (quadlet_t page : subunits_)
      for (int shift = 24; shift >= 0; shift -= 8) {
        const unsigned entry = (page >> shift) & 0xff;
        if (entry != 0xff && (entry >> 3) == AVC1394_SUBUNIT_TAPE_RECORDER) return ED_DEVTYPE_VCR;
      }
    return ED_DEVTYPE_CAMERA;
  }

  // A camcorder in camera mode rejects the transport state query (and the transport commands).
  bool OpenTransport() override {
    const quadlet_t state = Exchange(kTransportState);
    if (!Is(state, AVC1394_RESPONSE_STABLE)) {
      DbgLog(1, 4, "Camcorder %d:%d: the transport does not answer (0x%08x)\n", port_, node_,
             state);
      return false;
    }
    return true;
  }

  bool SetMode(int32_t mode) override {
    quadlet_t command = 0;
    switch (mode) {
      case ED_MODE_STOP:
        command = kControl | AVC1394_VCR_COMMAND_WIND | AVC1394_VCR_OPERAND_WIND_STOP;
        break;
      case ED_MODE_PLAY:
        command = kControl | AVC1394_VCR_COMMAND_PLAY | AVC1394_VCR_OPERAND_PLAY_FORWARD;
        break;
      case ED_MODE_RECORD:
        command = kControl | AVC1394_VCR_COMMAND_RECORD | AVC1394_VCR_OPERAND_RECORD_RECORD;
        break;
      case ED_MODE_FREEZE: {
        // Recording pauses as a recording, anything else as a paused play.
        const quadlet_t state = Exchange(kTransportState);
        const bool recording =
            Is(state, AVC1394_RESPONSE_STABLE) &&
            AVC1394_MASK_OPCODE(state) == AVC1394_VCR_RESPONSE_TRANSPORT_STATE_RECORD;
        command =
            recording
                ? kControl | AVC1394_VCR_COMMAND_RECORD | AVC1394_VCR_OPERAND_RECORD_PAUSE
                : kControl | AVC1394_VCR_COMMAND_PLAY | AVC1394_VCR_OPERAND_PLAY_FORWARD_PAUSE;
        break;
      }
      case ED_MODE_REW:
        command = kControl | AVC1394_VCR_COMMAND_WIND | AVC1394_VCR_OPERAND_WIND_REWIND;
        break;
      case ED_MODE_FF:
        command = kControl | AVC1394_VCR_COMMAND_WIND | AVC1394_VCR_OPERAND_WIND_FAST_FORWARD;
        break;
      default:
        return false;
    }
    const quadlet_t reply = Exchange(command);
    if (!Is(reply, AVC1394_RESPONSE_ACCEPTED)) {
      DbgLog(1, 4, "Camcorder %d:%d: %s refused (0x%08x)\n", port_, node_, ModeName(mode), reply);
      return false;
    }
    if (mode == ED_MODE_RECORD && !AwaitRecording()) {
      DbgLog(1, 4, "Camcorder %d:%d: the transport does not record\n", port_, node_);
      Exchange(kControl | AVC1394_VCR_COMMAND_WIND | AVC1394_VCR_OPERAND_WIND_STOP);
      SetKnownMode(ED_MODE_STOP);
      return false;
    }
    DbgLog(1, 4, "Camcorder %d:%d: %s\n", port_, node_, ModeName(mode));
    if (mode == ED_MODE_RECORD) {
      // The camcorder needs a moment of steady picture before the clip.
      leadIn_ = kLeadInSeconds * (system_.pal ? 25 : 30);
      recording_ = true;
    }
    SetKnownMode(mode);
    return true;
  }

  int32_t Mode() const override {
    std::lock_guard<std::mutex> guard(modeLock_);
    return mode_;
  }

  bool BeginStream(const DvSystem& system) override {
    EndStream();
    system_ = system;
    black_ = MakeBlackDvFrame(system);
    if (black_.empty()) {
      DbgLog(1, 4, "Camcorder %d:%d: no black frame for the lead-in\n", port_, node_);
      return false;
    }
    current_ = black_;
    for (std::vector<uint8_t>& slot : ring_) slot.assign(system.FrameBytes(), 0);
    written_ = read_ = 0;
    offset_ = current_.size();
    synced_ = false;
    unsynced_ = 0;
    leadIn_ = 0;
    recording_ = ending_ = finished_ = interrupted_ = quit_ = false;
    streamEnded_ = broken_ = false;
    if (!Present()) return false;

    xmit_ = NewHandle(port_);
    if (xmit_ == nullptr) return false;
    streamResets_ = g_resets.load();
    oplug_ = -1;
    iplug_ = -1;
    bandwidth_ = 1;
    const nodeid_t local = raw1394_get_local_id(xmit_);
    channel_ = iec61883_cmp_connect(xmit_, local, &oplug_, static_cast<nodeid_t>(0xffc0 | node_),
                                    &iplug_, &bandwidth_);
    connected_ = channel_ >= 0;
    if (!connected_) {
      DbgLog(1, 4, "Camcorder %d:%d: the connection to its input is refused\n", port_, node_);
      EndStream();
      return false;
    }
    dv_ = iec61883_dv_xmit_init(xmit_, system.pal ? 1 : 0, &Camcorder1394::Transmit, this);
    if (dv_ == nullptr || iec61883_dv_xmit_start(dv_, channel_) != 0) {
      DbgLog(1, 4, "Camcorder %d:%d: the DV transmitter does not start\n", port_, node_);
      EndStream();
      return false;
    }
    loop_ = std::thread([this] { Loop(); });
    return true;
  }

  bool WriteFrame(const uint8_t* frame, size_t size) override {
    if (size != system_.FrameBytes()) return false;
    const Clock::time_point limit =
        Clock::now() + FrameTime() * (leadIn_.load() + kRingFrames) + std::chrono::seconds(2);
    // A full ring waits for the bus, through the lead-in too, but not for a bus that stopped.
    // The bus wakes it at every frame it takes (without the lock, so a wake-up may be missed:
    // the next look comes a frame's time at most later, with five frames still in the ring).
    std::unique_lock<std::mutex> guard(waitLock_);
    while (written_.load() - read_.load(std::memory_order_acquire) >= kRingFrames) {
      if (interrupted_ || streamEnded_ || Clock::now() > limit) break;
      space_.wait_for(guard, FrameTime());
    }
    if (interrupted_ || streamEnded_ ||
        written_.load() - read_.load(std::memory_order_acquire) >= kRingFrames) {
      DbgLog(1, 4, "Camcorder %d:%d: the bus takes no more frames\n", port_, node_);
      return false;
    }
    guard.unlock();
    std::memcpy(ring_[written_.load() % kRingFrames].data(), frame, size);
    written_.fetch_add(1, std::memory_order_release);
    return true;
  }

  bool Drain() override {
    ending_ = true;
    const Clock::time_point limit =
        Clock::now() + FrameTime() * (leadIn_.load() + kRingFrames + 4) + std::chrono::seconds(2);
    std::unique_lock<std::mutex> guard(waitLock_);
    while (!streamEnded_ && !interrupted_ && Clock::now() < limit)
      space_.wait_for(guard, std::chrono::milliseconds(5));
    const bool done = streamEnded_ && finished_ && !broken_;
    if (!done)
      DbgLog(1, 4, "Camcorder %d:%d: the end of the clip did not reach the tape\n", port_, node_);
    return done;
  }

  void Interrupt() override {
    interrupted_ = true;
    space_.notify_all();
  }

  void EndStream() override {
    interrupted_ = true;
    quit_ = true;
    space_.notify_all();
    if (loop_.joinable()) loop_.join();
    // What is still queued is dropped: the recording ended, or was given up.
    if (dv_ != nullptr) iec61883_dv_close(dv_);
    dv_ = nullptr;
    if (xmit_ != nullptr) {
      // After a bus reset the stream has ended: the connection is not put back
      // (iec61883_cmp_reconnect would count it once more on plugs that kept their count) but
      // released on the camcorder's new node id, if it is still there; the IRM's channel and
      // bandwidth came back with the reset.
      if (connected_ && (g_resets.load() == streamResets_ || Present())) {
        iec61883_cmp_disconnect(xmit_, raw1394_get_local_id(xmit_), oplug_,
                                static_cast<nodeid_t>(0xffc0 | node_), iplug_,
                                static_cast<unsigned>(channel_), static_cast<unsigned>(bandwidth_));
      }
      raw1394_destroy_handle(xmit_);
    }
    xmit_ = nullptr;
    connected_ = false;
  }

  bool WantsClockPace() const override { return false; }

 private:
  std::chrono::milliseconds FrameTime() const {
    return std::chrono::milliseconds(system_.pal ? 40 : 34);
  }

  void SetKnownMode(int32_t mode) {
    std::lock_guard<std::mutex> guard(modeLock_);
    mode_ = mode;
  }

  // One AV/C exchange with the camcorder, after the bus was read again if it was reset.
  quadlet_t Exchange(quadlet_t command) {
    if (!Present()) return kNoAnswer;
    std::lock_guard<std::mutex> guard(AvcLock());
    return avc1394_transaction(avc_, static_cast<nodeid_t>(node_), command, kRetries);
  }

  // Polls the transport (bounded) until it shows the RECORD it accepted.
  bool AwaitRecording() {
    const Clock::time_point limit = Clock::now() + kRecordSettle;
    for (;;) {
      const quadlet_t state = Exchange(kTransportState);
      if (IsRecording(state)) return true;
      const bool settling =
          Is(state, AVC1394_RESPONSE_STABLE) || Is(state, AVC1394_RESPONSE_IN_TRANSITION);
      if (!settling || Clock::now() > limit) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  // Whether the camcorder is on the bus; after a bus reset it is looked for again by its GUID.
  bool Present() {
    if (avc_ == nullptr) return false;
    {
      std::lock_guard<std::mutex> guard(AvcLock());
      TakePendingEvents(avc_);
    }
    const unsigned resets = g_resets.load();
    if (resets == resets_) return !gone_;
    resets_ = resets;
    std::lock_guard<std::mutex> guard(AvcLock());
    gone_ = true;
    const int local = raw1394_get_local_id(avc_) & 0x3f;
    const int nodes = raw1394_get_nodecount(avc_);
    for (int node = 0; node < nodes && gone_; ++node) {
      if (node == local) continue;
      if (guid_ != 0 ? rom1394_get_guid(avc_, static_cast<nodeid_t>(node)) == guid_
                     : node == node_) {
        node_ = node;
        gone_ = false;
      }
    }
    DbgLog(1, 4, "Camcorder %d: bus reset, the camcorder is %s\n", port_,
           gone_ ? "gone" : "still there");
    return !gone_;
  }

  // The iso loop: raw1394_loop_iterate calls Transmit; the poll lets EndStream end it. A bus
  // reset, an error of the bus, or the end of the clip ends it; at the end of the clip the
  // packets still queued go out first.
  void Loop() {
    const int fd = raw1394_get_fd(xmit_);
    while (!quit_ && !finished_) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 50) > 0 && (p.revents & POLLIN) != 0 && raw1394_loop_iterate(xmit_) != 0 &&
          !finished_) {
        DbgLog(1, 4, "Camcorder %d:%d: the DV stream stopped\n", port_, node_);
        broken_ = true;
        break;
      }
      if (g_resets.load() != streamResets_) {
        DbgLog(1, 4, "Camcorder %d:%d: bus reset during the DV stream\n", port_, node_);
        broken_ = true;
        break;
      }
    }
    if (finished_ && !broken_ && !quit_) {
      raw1394_iso_xmit_sync(xmit_);
      if (g_resets.load() != streamResets_) broken_ = true;
    }
    // The stream ends with the clip, or with the bus that failed it: the bus is not left to run
    // on empty.
    raw1394_iso_stop(xmit_);
    std::lock_guard<std::mutex> guard(waitLock_);
    streamEnded_ = true;
    space_.notify_all();
  }

  static int Transmit(unsigned char* data, int blocks, unsigned int, void* self) {
    return static_cast<Camcorder1394*>(self)->Fill(data, blocks);
  }

  int Fill(unsigned char* data, int blocks) {
    if (finished_) return -1;
    if (blocks <= 0) return 0;
    // libiec61883 hands over the payload right behind the packet's CIP header, whose SYT it has
    // set: a SYT marks the packet that starts a frame. Its packet count outlives a stream, so
    // the first SYT of a later stream may fall inside the first frame, which then starts again.
    const bool frameStart = data[-2] != 0xff || data[-1] != 0xff;
    if (!synced_) {
      // Until then the packets carry a block that starts no frame (the camcorder waits for a
      // frame's start), unless no SYT comes within two frames.
      if (!frameStart && ++unsynced_ < 2 * current_.size() / kBlockBytes) {
        std::memcpy(data, black_.data() + kBlockBytes, kBlockBytes);
        return 0;
      }
      synced_ = true;
    }
    if (frameStart || offset_ >= current_.size()) {
      if (!NextFrame()) {
        finished_ = true;
        return -1;
      }
      offset_ = 0;
    }
    std::memcpy(data, current_.data() + offset_, kBlockBytes);
    offset_ += kBlockBytes;
    return 0;
  }

  // At a frame boundary: black until the transport records, the lead-in's black, the next ready
  // frame, or the last one again. False once the clip's last frame went out.
  bool NextFrame() {
    if (!recording_) return true;  // black
    if (leadIn_ > 0) {
      --leadIn_;
      return true;  // still black
    }
    const size_t read = read_.load();
    if (written_.load(std::memory_order_acquire) == read) return !ending_;
    std::swap(current_, ring_[read % kRingFrames]);
    read_.store(read + 1, std::memory_order_release);
    space_.notify_one();
    return true;
  }

  const int port_;
  int node_;
  octlet_t guid_ = 0;
  raw1394handle_t avc_ = nullptr;
  unsigned resets_ = 0;  // bus resets seen when the node was last looked for
  bool gone_ = false;
  quadlet_t subunits_[8] = {};
  raw1394handle_t xmit_ = nullptr;
  iec61883_dv_t dv_ = nullptr;
  int oplug_ = -1;
  int iplug_ = -1;
  int bandwidth_ = 0;
  int channel_ = -1;
  bool connected_ = false;
  unsigned streamResets_ = 0;  // bus resets seen when the stream started
  DvSystem system_;

  mutable std::mutex modeLock_;
  int32_t mode_ = ED_MODE_STOP;

  std::thread loop_;
  std::atomic<bool> quit_{false};
  std::atomic<bool> recording_{false};  // the transport records: the lead-in, then the clip
  std::atomic<int> leadIn_{0};
  std::atomic<bool> ending_{false};       // the clip's last frame is in the ring
  std::atomic<bool> finished_{false};     // ... and went out
  std::atomic<bool> interrupted_{false};  // the stream is given up
  std::atomic<bool> streamEnded_{false};  // the iso loop ended
  std::atomic<bool> broken_{false};       // ... by a bus reset or an error
  std::vector<uint8_t> black_;
  std::vector<uint8_t> current_;  // the frame on the bus (transmit thread only)
  size_t offset_ = 0;
  bool synced_ = false;  // the stream's first SYT came
  size_t unsynced_ = 0;  // packets before it
  // Frames from the graph to the bus: the graph writes slot written_, the bus reads slot read_.
  std::vector<uint8_t> ring_[kRingFrames];
  std::atomic<size_t> written_{0};
  std::atomic<size_t> read_{0};
  std::mutex waitLock_;
  std::condition_variable space_;
};

class Bus1394 : public CamcorderBus {
 public:
  ~Bus1394() override {
    if (handle_ != nullptr) raw1394_destroy_handle(handle_);
  }

  // A machine without the IEEE 1394 stack has a bus with nothing on it.
  bool Open() override {
    handle_ = raw1394_new_handle();
    return true;
  }

  std::vector<std::unique_ptr<Camcorder>> Devices() override {
    std::vector<std::unique_ptr<Camcorder>> out;
    if (handle_ == nullptr) return out;
    raw1394_portinfo ports[16];
    const int nPorts = raw1394_get_port_info(handle_, ports, 16);
    for (int port = 0; port < nPorts && port < 16; ++port) {
      raw1394handle_t h = raw1394_new_handle_on_port(port);
      if (h == nullptr) continue;
      const int local = raw1394_get_local_id(h) & 0x3f;
      const int nodes = raw1394_get_nodecount(h);
      for (int node = 0; node < nodes; ++node) {
        if (node == local) continue;
        rom1394_directory dir{};
        if (rom1394_get_directory(h, static_cast<nodeid_t>(node), &dir) < 0) continue;
        const bool avc = rom1394_get_node_type(&dir) == ROM1394_NODE_TYPE_AVC;
        rom1394_free_directory(&dir);
        if (avc) out.push_back(std::make_unique<Camcorder1394>(port, node));
      }
      raw1394_destroy_handle(h);
    }
    return out;
  }

 private:
  raw1394handle_t handle_ = nullptr;
};

}  // namespace

std::unique_ptr<CamcorderBus> Make1394Bus() {
  return std::make_unique<Bus1394>();
}

}  // namespace plyex

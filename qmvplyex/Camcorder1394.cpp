// DV camcorders on IEEE 1394: the nodes of every port (rom1394), the tape subunit and transport
// commands (AV/C through libavc1394), and the DV stream (libiec61883's transmitter).
//
// The transmitter's callback runs about 8000 times a second inside raw1394_loop_iterate on a
// thread of its own, asking for one packet's DIF blocks (or none) at a time. It never waits and
// never encodes: it reads from a ring of ready frames that the tape graph fills, and repeats the
// last frame when the ring runs dry. libiec61883 takes over its handle's user data, so the AV/C
// commands go through a second handle. avc1394_* take the physical node id;
// iec61883_cmp_connect wants the full one (0xffc0 | id).
#include <dirent.h>
#include <libavc1394/avc1394.h>
#include <libavc1394/avc1394_vcr.h>
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

constexpr int kBroadcastChannel = 63;
constexpr size_t kRingFrames = 6;  // about a quarter of a second: the bus paces the graph
constexpr int kLeadInSeconds = 3;  // black frames after record, so the camcorder locks on
constexpr int kDifBlockBytes = 80;

bool AnyFirewireDevice() {
  DIR* dir = opendir("/dev");
  if (dir == nullptr) return false;
  bool found = false;
  while (dirent* entry = readdir(dir)) {
    if (std::strncmp(entry->d_name, "fw", 2) == 0) {
      found = true;
      break;
    }
  }
  closedir(dir);
  return found;
}

bool Answered(quadlet_t response) {
  return response != 0 && response != static_cast<quadlet_t>(-1) &&
         AVC1394_MASK_RESPONSE(response) != AVC1394_RESPONSE_NOT_IMPLEMENTED &&
         AVC1394_MASK_RESPONSE(response) != AVC1394_RESPONSE_REJECTED;
}

class Camcorder1394 : public Camcorder {
 public:
  Camcorder1394(int port, int node) : port_(port), node_(node) {}
  ~Camcorder1394() override {
    EndStream();
    if (avc_ != nullptr) raw1394_destroy_handle(avc_);
  }

  bool Bind() override {
    avc_ = raw1394_new_handle_on_port(port_);
    return avc_ != nullptr;
  }

  bool OpenDevice() override {
    quadlet_t table[32] = {};
    return avc1394_subunit_info(avc_, static_cast<nodeid_t>(node_), table) >= 0;
  }

  int32_t DeviceType() override {
    return avc1394_check_subunit_type(avc_, static_cast<nodeid_t>(node_),
                                      AVC1394_SUBUNIT_TYPE_VCR) != 0
               ? ED_DEVTYPE_VCR
               : ED_DEVTYPE_CAMERA;
  }

  bool OpenTransport() override {
    return Answered(avc1394_vcr_status(avc_, static_cast<nodeid_t>(node_)));
  }

  bool SetMode(int32_t mode) override {
    const nodeid_t node = static_cast<nodeid_t>(node_);
    switch (mode) {
      case ED_MODE_STOP:
        avc1394_vcr_stop(avc_, node);
        break;
      case ED_MODE_PLAY:
        avc1394_vcr_play(avc_, node);
        break;
      case ED_MODE_RECORD:
        avc1394_vcr_record(avc_, node);
        // The camcorder needs a moment of steady picture before it records cleanly.
        leadIn_ = kLeadInSeconds * (system_.pal ? 25 : 30);
        break;
      case ED_MODE_FREEZE:
        avc1394_vcr_pause(avc_, node);
        break;
      case ED_MODE_REW:
        avc1394_vcr_rewind(avc_, node);
        break;
      case ED_MODE_FF:
        avc1394_vcr_forward(avc_, node);
        break;
      default:
        return false;
    }
    DbgLog(1, 4, "Camcorder %d:%d: %s\n", port_, node_, ModeName(mode));
    std::lock_guard<std::mutex> guard(modeLock_);
    mode_ = mode;
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
    spare_.assign(system.FrameBytes(), 0);
    head_ = count_ = 0;
    offset_ = 0;
    leadIn_ = 0;

    xmit_ = raw1394_new_handle_on_port(port_);
    if (xmit_ == nullptr) return false;
    oplug_ = -1;
    iplug_ = -1;
    bandwidth_ = 1;
    const nodeid_t local = raw1394_get_local_id(xmit_);
    channel_ = iec61883_cmp_connect(xmit_, local, &oplug_, static_cast<nodeid_t>(0xffc0 | node_),
                                    &iplug_, &bandwidth_);
    connected_ = channel_ >= 0;
    if (!connected_) channel_ = kBroadcastChannel;
    dv_ = iec61883_dv_xmit_init(xmit_, system.pal ? 1 : 0, &Camcorder1394::Transmit, this);
    if (dv_ == nullptr || iec61883_dv_xmit_start(dv_, channel_) != 0) {
      DbgLog(1, 4, "Camcorder %d:%d: the DV transmitter does not start\n", port_, node_);
      EndStream();
      return false;
    }
    running_ = true;
    loop_ = std::thread([this] { Loop(); });
    return true;
  }

  bool WriteFrame(const uint8_t* frame, size_t size) override {
    if (size != spare_.size()) return false;
    std::memcpy(spare_.data(), frame, size);
    std::unique_lock<std::mutex> guard(ringLock_);
    // A full ring waits for the bus, through the lead-in too, but not for a bus that stopped.
    const auto frameTime = std::chrono::milliseconds(system_.pal ? 40 : 34);
    const auto limit = frameTime * (leadIn_.load() + kRingFrames) + std::chrono::seconds(2);
    if (!space_.wait_for(guard, limit, [this] { return count_ < kRingFrames || !running_; }) ||
        !running_) {
      DbgLog(1, 4, "Camcorder %d:%d: the bus takes no more frames\n", port_, node_);
      return false;
    }
    std::swap(ring_[(head_ + count_) % kRingFrames], spare_);
    ++count_;
    return true;
  }

  void Drain() override {
    std::unique_lock<std::mutex> guard(ringLock_);
    space_.wait_for(guard, std::chrono::milliseconds(40 * (kRingFrames + 2) + 1000),
                    [this] { return count_ == 0 || !running_; });
  }

  void EndStream() override {
    if (running_.exchange(false)) {
      space_.notify_all();
      if (loop_.joinable()) loop_.join();
    }
    if (dv_ != nullptr) iec61883_dv_close(dv_);
    dv_ = nullptr;
    if (xmit_ != nullptr) {
      if (connected_)
        iec61883_cmp_disconnect(xmit_, raw1394_get_local_id(xmit_), oplug_,
                                static_cast<nodeid_t>(0xffc0 | node_), iplug_,
                                static_cast<unsigned>(channel_), static_cast<unsigned>(bandwidth_));
      raw1394_destroy_handle(xmit_);
    }
    xmit_ = nullptr;
    connected_ = false;
  }

  bool WantsClockPace() const override { return false; }

 private:
  // The iso loop: raw1394_loop_iterate calls Transmit; the poll lets EndStream end it.
  void Loop() {
    const int fd = raw1394_get_fd(xmit_);
    while (running_) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 100) > 0 && (p.revents & POLLIN) != 0 && raw1394_loop_iterate(xmit_) != 0)
        break;
    }
  }

  static int Transmit(unsigned char* data, int blocks, unsigned int, void* self) {
    return static_cast<Camcorder1394*>(self)->Fill(data, blocks);
  }

  int Fill(unsigned char* data, int blocks) {
    if (blocks <= 0) return 0;
    if (offset_ == 0) NextFrame();
    const size_t bytes = static_cast<size_t>(blocks) * kDifBlockBytes;
    const size_t take = std::min(bytes, current_.size() - offset_);
    std::memcpy(data, current_.data() + offset_, take);
    if (take < bytes) std::memset(data + take, 0, bytes - take);
    offset_ += take;
    if (offset_ >= current_.size()) offset_ = 0;
    return 0;
  }

  // At a frame boundary: the lead-in's black, the next ready frame, or the last one again.
  void NextFrame() {
    if (leadIn_ > 0) {
      --leadIn_;
      if (current_.size() == black_.size())
        std::memcpy(current_.data(), black_.data(), black_.size());
      return;
    }
    std::unique_lock<std::mutex> guard(ringLock_, std::try_to_lock);
    if (!guard.owns_lock() || count_ == 0) return;
    std::swap(current_, ring_[head_]);
    head_ = (head_ + 1) % kRingFrames;
    --count_;
    guard.unlock();
    space_.notify_one();
  }

  const int port_;
  const int node_;
  raw1394handle_t avc_ = nullptr;
  raw1394handle_t xmit_ = nullptr;
  iec61883_dv_t dv_ = nullptr;
  int oplug_ = -1;
  int iplug_ = -1;
  int bandwidth_ = 0;
  int channel_ = kBroadcastChannel;
  bool connected_ = false;
  DvSystem system_;

  mutable std::mutex modeLock_;
  int32_t mode_ = ED_MODE_STOP;

  std::atomic<bool> running_{false};
  std::thread loop_;
  std::atomic<int> leadIn_{0};
  std::vector<uint8_t> black_;
  std::vector<uint8_t> current_;  // the frame on the bus (transmit thread only)
  size_t offset_ = 0;
  std::vector<uint8_t> spare_;  // the producer's copy (graph thread only)
  std::mutex ringLock_;
  std::condition_variable space_;
  std::vector<uint8_t> ring_[kRingFrames];
  size_t head_ = 0;
  size_t count_ = 0;
};

class Bus1394 : public CamcorderBus {
 public:
  ~Bus1394() override {
    if (handle_ != nullptr) raw1394_destroy_handle(handle_);
  }

  bool Open() override {
    // No IEEE 1394 controller: nothing to look at, and nothing to wait for.
    if (!AnyFirewireDevice()) return true;
    handle_ = raw1394_new_handle();
    return handle_ != nullptr;
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

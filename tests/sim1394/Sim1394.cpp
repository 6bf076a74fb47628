// A simulated IEEE 1394 bus behind the functions of libraw1394.so.11.
//
// Loaded ahead of the system's library (LD_LIBRARY_PATH=build/bin/sim1394), it lets librom1394,
// libavc1394, libiec61883 and the program run unchanged on a bus with no hardware: one port,
// the local node (the PC: root, cycle master and isochronous resource manager) and the
// camcorders. Node ids: the camcorders first (0, 1, ...), the local node last.
//
// Each camcorder has a configuration ROM with an AV/C unit directory (1394 TA as its owner,
// 0x00A02D, sw version 0x010001), plug registers (oMPR/oPCR0, iMPR/iPCR0), an FCP command register
// that answers AV/C commands, and an isochronous receiver. The local node has oMPR/oPCR0 and
// iMPR/iPCR0 and the IRM's BANDWIDTH_AVAILABLE and CHANNELS_AVAILABLE_HI/LO. Plug and IRM
// registers take compare-swap locks only.
//
// AV/C: UNIT INFO and SUBUNIT INFO (unit), and the tape subunit's TRANSPORT STATE (status, 0x7F),
// PLAY, RECORD and WIND (control; inquiries answer IMPLEMENTED). Every transport command sets one
// mode (the opcode) and one state (the operand): nothing toggles. Unknown commands and operands
// are NOT IMPLEMENTED. The answer reaches every handle listening for FCP at once; it is handed to
// the FCP handler by raw1394_loop_iterate (the handle's fd becomes readable meanwhile).
//
// Isochronous transmit works as libraw1394's firewire backend: xmit_start fills the whole buffer
// through the handler (cycle -1), the bus takes one packet per cycle on a thread of its own, and
// every irq_interval packets (and when the buffer runs empty) an interrupt makes the handle's next
// raw1394_loop_iterate refill it. raw1394_iso_xmit_sync waits, refilling as the real one does,
// until the buffer is empty (at most 10 s here). A cycle that finds the buffer empty while the
// handler still gives packets is a late cycle. At the bus's pace the clock does not wake for
// every cycle: it sleeps until the next interrupt is due (or the buffer runs empty), then runs
// all the cycles due at once, each judged by its own time (a packet the handler gave after its
// cycle's time is a late cycle however late the clock ran it), and an AV/C command that changes a
// transport, an unplug and the stream's stop first run the cycles due before them. The camcorders
// listen on their iPCR's channel while it has a connection, else on 63. The receiver checks each
// packet (tag 1, 8 or 488 bytes, CIP: DBS 120, FMT 0, EOH bits, DBC continuity, a SYT on every
// 300th (PAL) / 250th (NTSC) data packet and on the data packets that start a frame only, the FDF
// 50/60 bit against the frame's DIF header), rebuilds the DV frames (144000 / 120000 bytes, every
// DIF block's id checked against its place) and, while the transport is in RECORD (operand RECORD),
// appends every whole frame to the tape file. (libiec61883 keeps its SYT count across streams: a
// second stream in a process must start its frames on the first packet with a time stamp, as the
// header before the payload tells.) The isochronous transmitter keeps sending through bus resets,
// as a real controller does.
//
// Settings, read when the first handle opens (and again by vantrel_sim1394_reset(), a function of
// this library only, for tests, found with dlsym):
//   VANTREL_SIM1394_DEVICE  camcorders, comma separated, each with a tape subunit and a camera
//                           subunit (as many camcorders list both in either mode): vtr (default),
//                           camera (camera mode: the tape subunit rejects TRANSPORT STATE and
//                           every transport command), no-cassette (PLAY, RECORD, REWIND, FAST
//                           FORWARD rejected; STOP accepted), write-protected (RECORD
//                           rejected), no-tape-subunit (a camera subunit only), none (no
//                           camcorder node).
//   VANTREL_SIM1394_FAULT   comma separated: unplug-at=MS (MS milliseconds after the first
//                           isochronous start, the first camcorder leaves the bus: a bus reset,
//                           the generation goes up, node ids are given anew, the IRM's registers
//                           return to their initial values, transactions to the node fail;
//                           a handle's first transaction after a reset it has not taken fails
//                           with EAGAIN and takes it, as with the real library),
//                           avc-timeout (FCP commands are taken but never answered),
//                           refuse-connection (every lock on a plug or IRM register fails with a
//                           type error, so iec61883_cmp_connect fails).
//   VANTREL_SIM1394_PACE    bus (default: 8000 cycles a second) or fast (each packet as soon as
//                           the transmitter has queued it; no late cycles).
//   VANTREL_SIM1394_TAPE    the tape file of the first camcorder (PATH.1, PATH.2 for the others);
//                           whole DV frames are appended while it records.
//   VANTREL_SIM1394_LOG     a text log, appended to and flushed line by line.
//
// Log lines (one event a line, fields separated by spaces; node=N is the camcorder's place in
// VANTREL_SIM1394_DEVICE, except in lock lines where it is the node id; the iso-stop line and one
// receiver line a camcorder come when the stream stops or shuts down):
//   bus nodes=N local=L generation=G devices=LIST faults=LIST pace=bus|fast
//   avc node=N ctype=CONTROL|STATUS|INQUIRY|NOTIFY|0xX target=unit|tape|camera|0xXX
//       op=NAME operand=0xXX reply=ACCEPTED|REJECTED|NOT_IMPLEMENTED|IMPLEMENTED|STABLE|none
//       state=MODE:STATE tape=K ms=T  (the transport after the command, e.g. RECORD:RECORD,
//                                  WIND:STOP, PLAY:FORWARD_PAUSE; "-" without a tape subunit;
//                                  K: the frames recorded in this stream so far; T: milliseconds
//                                  since the bus came up)
//   lock node=N reg=NAME old=0xX new=0xX     (a compare-swap that changed a register)
//   lock node=N reg=NAME refused
//   iso-start channel=C speed=S buffer=P irq=I
//   iso-start not started: N of P packets to start with  (the handler gave less than the prebuffer)
//   cip-error node=N packet=K what=dbs|fmt|eoh|dbc|syt|fdf|length|tag detail...  (first 20)
//   record node=N frames=K ms=T   (the first frame of a run of recorded frames; K before it)
//   iso-stop channel=C cycles=N packets=N data=N empty=N late-cycles=N idle=N unsent=N
//       (idle: cycles without a packet after the handler stopped giving packets: the end of a
//       stream, not a late one; unsent: packets still queued when the stream stopped)
//   frame-error node=N frame=K block=B     (a DIF block out of place in a whole frame; first 20)
//   receiver node=N packets=N frames=N recorded=N partial=N bad-frames=N cip-errors=N
//       bad-packets=N   (partial: frames cut short by the next frame's start; bad-frames: whole
//       frames with a DIF block out of place)
//   unplug node=N
//   bus-reset generation=G nodes=N local=L reason=unplug|request|replug
//   iso-sync timeout
#include <arpa/inet.h>
#include <libraw1394/csr.h>
#include <libraw1394/raw1394.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "DifLayout.h"

#define SIM_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kCyclesPerSecond = 8000;
constexpr quadlet_t kBandwidthInitial = 4915;
constexpr unsigned kBroadcastChannel = 63;
constexpr nodeaddr_t kRomStart = CSR_REGISTER_BASE + CSR_CONFIG_ROM;
constexpr nodeaddr_t kFcpCommand = CSR_REGISTER_BASE + CSR_FCP_COMMAND;
constexpr nodeaddr_t kFcpResponse = CSR_REGISTER_BASE + CSR_FCP_RESPONSE;
constexpr nodeaddr_t kFcpEnd = CSR_REGISTER_BASE + CSR_FCP_END;
constexpr nodeaddr_t kOMpr = CSR_REGISTER_BASE + 0x900;
constexpr nodeaddr_t kOPcr0 = CSR_REGISTER_BASE + 0x904;
constexpr nodeaddr_t kIMpr = CSR_REGISTER_BASE + 0x980;
constexpr nodeaddr_t kIPcr0 = CSR_REGISTER_BASE + 0x984;
constexpr int kCipErrorsLogged = 20;
// The longest the bus's clock sleeps at its pace when no interrupt or empty buffer comes sooner.
constexpr long kMaxSleepCycles = 250;

// AV/C codes (the tape subunit's opcodes and operands as libavc1394 names them).
constexpr uint8_t kNotImplemented = 0x08, kAccepted = 0x09, kRejected = 0x0A, kStable = 0x0C;
constexpr uint8_t kUnit = 0xFF, kTape = 0x20, kCamera = 0x38;
constexpr uint8_t kUnitInfo = 0x30, kSubunitInfo = 0x31, kRecord = 0xC2, kPlay = 0xC3, kWind = 0xC4,
                  kTransportState = 0xD0;
constexpr uint8_t kWindStop = 0x60;

enum class Device { Vtr, Camera, NoCassette, WriteProtected, NoTapeSubunit };

const char* DeviceName(Device d) {
  switch (d) {
    case Device::Vtr:
      return "vtr";
    case Device::Camera:
      return "camera";
    case Device::NoCassette:
      return "no-cassette";
    case Device::WriteProtected:
      return "write-protected";
    case Device::NoTapeSubunit:
      return "no-tape-subunit";
  }
  return "?";
}

// IEEE 1212 CRC-16 over quadlets.
uint16_t RomCrc(const std::vector<quadlet_t>& rom, size_t first, size_t count) {
  uint32_t crc = 0;
  for (size_t i = first; i < first + count; ++i) {
    for (int shift = 28; shift >= 0; shift -= 4) {
      const uint32_t sum = ((crc >> 12) ^ (rom[i] >> shift)) & 0xf;
      crc = (crc << 4) ^ (sum << 12) ^ (sum << 5) ^ sum;
    }
    crc &= 0xffff;
  }
  return static_cast<uint16_t>(crc);
}

// A configuration ROM: bus info block, root directory (vendor, a textual leaf, capabilities and,
// for an AV/C device, a unit directory), in host order.
std::vector<quadlet_t> BuildRom(bool avc, uint32_t guidLo, const char* text) {
  std::vector<quadlet_t> rom = {0, 0x31333934, avc ? 0x20ff5003u : 0xe0ff8003u, 0x0000a5a5u,
                                guidLo};
  const size_t root = rom.size();
  const size_t rootEntries = avc ? 4 : 3;
  const size_t unit = root + 1 + rootEntries;
  const size_t unitEntries = 3;
  const size_t leaf = avc ? unit + 1 + unitEntries : unit;
  rom.push_back(0);                                                        // root header
  rom.push_back(0x03000000u | 0x00a5a5u);                                  // vendor id
  rom.push_back(0x81000000u | static_cast<quadlet_t>(leaf - (root + 2)));  // textual leaf
  rom.push_back(0x0c0083c0u);                                              // capabilities
  if (avc) {
    rom.push_back(0xd1000000u | static_cast<quadlet_t>(unit - (root + 4)));  // unit directory
    rom.push_back(0);                                                        // unit header
    rom.push_back(0x1200a02du);  // the unit's owner: 1394 TA
    rom.push_back(0x13010001u);  // sw version
    rom.push_back(0x17000001u);  // model id
  }
  const size_t chars = std::strlen(text);
  const size_t textQuadlets = (chars + 3) / 4;
  rom.push_back(0);  // leaf header
  rom.push_back(0);  // minimal ASCII
  rom.push_back(0);
  for (size_t q = 0; q < textQuadlets; ++q) {
    quadlet_t v = 0;
    for (size_t b = 0; b < 4; ++b) {
      const size_t i = q * 4 + b;
      v = (v << 8) | (i < chars ? static_cast<uint8_t>(text[i]) : 0);
    }
    rom.push_back(v);
  }
  rom[root] = static_cast<quadlet_t>(rootEntries << 16) | RomCrc(rom, root + 1, rootEntries);
  if (avc)
    rom[unit] = static_cast<quadlet_t>(unitEntries << 16) | RomCrc(rom, unit + 1, unitEntries);
  const size_t leafLength = 2 + textQuadlets;
  rom[leaf] = static_cast<quadlet_t>(leafLength << 16) | RomCrc(rom, leaf + 1, leafLength);
  rom[0] = (4u << 24) | (4u << 16) | RomCrc(rom, 1, 4);
  return rom;
}

struct Event {
  enum Kind { kFcp, kReset, kIso };
  explicit Event(Kind k) : kind(k) {}
  Kind kind;
  nodeid_t from = 0;
  bool response = true;  // FCP: a response (else a command written to our own node)
  std::vector<uint8_t> data;
  unsigned generation = 0;
};

// The camcorder's side of the DV stream: checks and frames.
struct Receiver {
  std::mutex lock;
  // per stream
  bool haveDbc = false;
  uint8_t nextDbc = 0;
  long dataSinceSyt = -1;  // data packets since the last SYT, -1 before the first
  std::vector<uint8_t> frame;
  size_t frameBytes = 0;  // 0: waiting for a frame start
  bool pal = true;
  bool recording = false;  // the last frame went onto the tape
  // counters
  long packets = 0, frames = 0, recorded = 0, partial = 0, cipErrors = 0, badPackets = 0,
       badFrames = 0;
  FILE* tape = nullptr;
  std::string tapePath;

  ~Receiver() {
    if (tape != nullptr) std::fclose(tape);
  }
  void Restart() {
    haveDbc = false;
    dataSinceSyt = -1;
    frameBytes = 0;
    recording = false;
    packets = frames = recorded = partial = cipErrors = badPackets = badFrames = 0;
  }
};

struct Camcorder {
  Device device = Device::Vtr;
  bool present = true;
  std::vector<quadlet_t> rom;
  quadlet_t oMpr = 0x3f000001, oPcr = 0x803f007a, iMpr = 0x00000001, iPcr = 0x803f0000;
  uint8_t mode = kWind, state = kWindStop;  // the transport
  std::unique_ptr<Receiver> rx = std::make_unique<Receiver>();

  bool HasTape() const { return device != Device::NoTapeSubunit; }
  unsigned ListenChannel() const {
    const bool connected = ((iPcr >> 24) & 0x3f) != 0 || (iPcr & 0x40000000u) != 0;
    return connected ? (iPcr >> 16) & 0x3f : kBroadcastChannel;
  }
};

struct Iso {
  raw1394_iso_xmit_handler_t handler = nullptr;
  unsigned bufPackets = 0, slotSize = 0, irqInterval = 256;
  unsigned channel = 0;
  int speed = 0;
  std::vector<uint8_t> buffer;
  std::vector<unsigned> lengths;
  std::vector<uint8_t> tags;
  std::vector<Clock::time_point> queuedAt;  // when the handler gave each slot's packet
  unsigned head = 0, tail = 0, queued = 0, sinceIrq = 0;
  bool running = false, stop = false, wasEmpty = false;
  bool ended = false;         // the handler's last answer was not OK: the stream has ended for now
  Clock::time_point endedAt;  // ... since then
  Clock::time_point started;  // cycle n of the stream is due n / 8000 s after this
  std::thread pace;
  long cycles = 0, packets = 0, data = 0, empty = 0, late = 0, idle = 0;
};

}  // namespace

struct raw1394_handle {
  int fd = -1;
  int port = -1;
  void* userdata = nullptr;
  fcp_handler_t fcpHandler = nullptr;
  bool fcpListen = false;
  bus_reset_handler_t resetHandler = nullptr;
  bool notifyReset = true;
  unsigned generation = 0;  // for transactions (the bus reset handler updates it)
  int nodes = 0;            // what the handle last saw of the bus
  nodeid_t local = 0xffc0, irm = 0xffc0;
  raw1394_errcode_t err = 0;
  std::deque<Event> events;
  std::unique_ptr<Iso> iso;
  struct Arm {
    nodeaddr_t start;
    size_t length;
    byte_t* buffer;
  };
  std::vector<Arm> arm;
};

namespace {

int DefaultResetHandler(raw1394handle_t h, unsigned generation);

struct Bus {
  std::mutex lock;
  std::condition_variable changed;
  bool configured = false;
  std::vector<Camcorder> cams;
  quadlet_t hostOMpr = 0xbf000001, hostOPcr = 0x803f007a, hostIMpr = 0x80000001,
            hostIPcr = 0x803f0000;
  quadlet_t bandwidth = kBandwidthInitial, channelsHi = 0xffffffff, channelsLo = 0xffffffff;
  std::vector<quadlet_t> hostRom;
  unsigned generation = 1;
  std::set<raw1394handle_t> handles;
  FILE* log = nullptr;
  bool fast = false, avcTimeout = false, refuse = false;
  long unplugAtMs = -1;
  bool isoStarted = false;
  Clock::time_point firstIsoStart;
  Clock::time_point configuredAt;
  long Ms() const {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - configuredAt).count());
  }

  int NodeCount() const {
    int n = 1;
    for (const Camcorder& c : cams) n += c.present ? 1 : 0;
    return n;
  }
  int LocalId() const { return NodeCount() - 1; }
  // The camcorder with physical id phy, or null (the local node or nobody).
  Camcorder* CamAt(int phy) {
    int id = 0;
    for (Camcorder& c : cams) {
      if (!c.present) continue;
      if (id == phy) return &c;
      ++id;
    }
    return nullptr;
  }
  int IndexOf(const Camcorder& cam) const { return static_cast<int>(&cam - cams.data()); }

  void Log(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    if (log == nullptr) return;
    va_list args;
    va_start(args, format);
    flockfile(log);
    std::vfprintf(log, format, args);
    std::fputc('\n', log);
    std::fflush(log);
    funlockfile(log);
    va_end(args);
  }

  void Push(raw1394handle_t h, Event e) {
    h->events.push_back(std::move(e));
    const uint64_t one = 1;
    if (write(h->fd, &one, sizeof one) < 0) {
    }
  }

  void Configure();
  void Reset(const char* reason);
  void CheckClock();
};

Bus& TheBus() {
  static Bus* bus = new Bus;  // never destroyed: handles may outlive static destructors
  return *bus;
}

void CatchUp(Bus& bus, Clock::time_point until);

std::vector<std::string> Split(const char* text) {
  std::vector<std::string> out;
  if (text == nullptr) return out;
  std::string item;
  for (const char* p = text;; ++p) {
    if (*p == ',' || *p == '\0') {
      if (!item.empty()) out.push_back(item);
      item.clear();
      if (*p == '\0') break;
    } else if (*p != ' ') {
      item += *p;
    }
  }
  return out;
}

void Bus::Configure() {
  configured = true;
  configuredAt = Clock::now();
  cams.clear();
  hostOMpr = 0xbf000001;
  hostOPcr = 0x803f007a;
  hostIMpr = 0x80000001;
  hostIPcr = 0x803f0000;
  bandwidth = kBandwidthInitial;
  channelsHi = channelsLo = 0xffffffff;
  generation = 1;
  isoStarted = false;
  std::vector<std::string> devices = Split(std::getenv("VANTREL_SIM1394_DEVICE"));
  if (devices.empty()) devices.push_back("vtr");
  std::string names;
  for (const std::string& d : devices) {
    if (d == "none") continue;
    Camcorder c;
    if (d == "camera")
      c.device = Device::Camera;
    else if (d == "no-cassette")
      c.device = Device::NoCassette;
    else if (d == "write-protected")
      c.device = Device::WriteProtected;
    else if (d == "no-tape-subunit")
      c.device = Device::NoTapeSubunit;
    else
      c.device = Device::Vtr;
    c.rom =
        BuildRom(true, 0x00010000u + static_cast<quadlet_t>(cams.size()), "Simulated DV camcorder");
    cams.push_back(std::move(c));
    names += (names.empty() ? "" : ",") + std::string(DeviceName(cams.back().device));
  }
  hostRom = BuildRom(false, 0x00000001u, "Simulated host");
  const char* pace = std::getenv("VANTREL_SIM1394_PACE");
  fast = pace != nullptr && std::strcmp(pace, "fast") == 0;
  avcTimeout = refuse = false;
  unplugAtMs = -1;
  std::string faults;
  for (const std::string& f : Split(std::getenv("VANTREL_SIM1394_FAULT"))) {
    if (f == "avc-timeout")
      avcTimeout = true;
    else if (f == "refuse-connection")
      refuse = true;
    else if (f.rfind("unplug-at=", 0) == 0)
      unplugAtMs = std::atol(f.c_str() + 10);
    else
      continue;
    faults += (faults.empty() ? "" : ",") + f;
  }
  if (log != nullptr) std::fclose(log);
  log = nullptr;
  if (const char* path = std::getenv("VANTREL_SIM1394_LOG"); path != nullptr && *path != '\0')
    log = std::fopen(path, "a");
  const char* tape = std::getenv("VANTREL_SIM1394_TAPE");
  for (size_t i = 0; i < cams.size(); ++i) {
    if (tape == nullptr || *tape == '\0') continue;
    cams[i].rx->tapePath = i == 0 ? std::string(tape) : std::string(tape) + "." + std::to_string(i);
  }
  Log("bus nodes=%d local=%d generation=%u devices=%s faults=%s pace=%s", NodeCount(), LocalId(),
      generation, names.empty() ? "none" : names.c_str(), faults.empty() ? "none" : faults.c_str(),
      fast ? "fast" : "bus");
}

// A bus reset: a new generation, the IRM's registers as after power-up, every handle told.
void Bus::Reset(const char* reason) {
  ++generation;
  bandwidth = kBandwidthInitial;
  channelsHi = channelsLo = 0xffffffff;
  Log("bus-reset generation=%u nodes=%d local=%d reason=%s", generation, NodeCount(), LocalId(),
      reason);
  for (raw1394handle_t h : handles) {
    if (h->port < 0 || !h->notifyReset) continue;
    Event e(Event::kReset);
    e.generation = generation;
    Push(h, std::move(e));
  }
  changed.notify_all();
}

// The unplug fault's clock runs from the first isochronous start.
void Bus::CheckClock() {
  if (unplugAtMs < 0 || !isoStarted) return;
  const Clock::time_point at = firstIsoStart + std::chrono::milliseconds(unplugAtMs);
  if (Clock::now() < at) return;
  unplugAtMs = -1;
  CatchUp(*this, at);  // what the bus carried before the camcorder left
  for (Camcorder& c : cams) {
    if (!c.present) continue;
    c.present = false;
    Log("unplug node=%d", IndexOf(c));
    break;
  }
  Reset("unplug");
}

void Snapshot(Bus& bus, raw1394handle_t h) {
  h->nodes = bus.NodeCount();
  h->local = static_cast<nodeid_t>(0xffc0 | bus.LocalId());
  h->irm = h->local;
}

void Fail(raw1394handle_t h, int rcodeOrInternal, int err) {
  h->err = rcodeOrInternal;
  errno = err;
}

std::string Hex(unsigned v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%02x", v);
  return text;
}

std::string StateName(uint8_t mode, uint8_t state) {
  std::string m = mode == kRecord ? "RECORD"
                  : mode == kPlay ? "PLAY"
                  : mode == kWind ? "WIND"
                                  : Hex(mode);
  const char* s = nullptr;
  if (mode == kRecord) {
    s = state == 0x75 ? "RECORD" : state == 0x7d ? "PAUSE" : nullptr;
  } else if (mode == kPlay) {
    switch (state) {
      case 0x75:
        s = "FORWARD";
        break;
      case 0x7d:
        s = "FORWARD_PAUSE";
        break;
      case 0x65:
        s = "REVERSE";
        break;
      case 0x6d:
        s = "REVERSE_PAUSE";
        break;
      case 0x31:
        s = "SLOWEST_FORWARD";
        break;
      case 0x3f:
        s = "FASTEST_FORWARD";
        break;
      case 0x41:
        s = "SLOWEST_REVERSE";
        break;
      case 0x4f:
        s = "FASTEST_REVERSE";
        break;
      default:
        break;
    }
  } else if (mode == kWind) {
    s = state == 0x60   ? "STOP"
        : state == 0x65 ? "REWIND"
        : state == 0x75 ? "FAST_FORWARD"
        : state == 0x45 ? "HIGH_SPEED_REWIND"
                        : nullptr;
  }
  return m + ":" + (s != nullptr ? std::string(s) : Hex(state));
}

const char* ReplyName(uint8_t code) {
  switch (code) {
    case kNotImplemented:
      return "NOT_IMPLEMENTED";
    case kAccepted:
      return "ACCEPTED";
    case kRejected:
      return "REJECTED";
    case kStable:
      return "STABLE";  // also IMPLEMENTED: the same code
    default:
      return "?";
  }
}

bool ValidOperand(uint8_t opcode, uint8_t operand) {
  switch (opcode) {
    case kPlay:
      return (operand >= 0x30 && operand <= 0x4f) || operand == 0x65 || operand == 0x6d ||
             operand == 0x75 || operand == 0x7d;
    case kRecord:
      return (operand >= 0x30 && operand <= 0x33) || (operand >= 0x40 && operand <= 0x43) ||
             operand == 0x75 || operand == 0x7d;
    case kWind:
      return operand == 0x45 || operand == 0x60 || operand == 0x65 || operand == 0x75;
    default:
      return false;
  }
}

// The camcorder's AV/C unit: the response to one command frame.
std::vector<uint8_t> Avc(Bus& bus, Camcorder& cam, const uint8_t* cmd, size_t length) {
  std::vector<uint8_t> r(cmd, cmd + length);
  if (length < 4) {
    r.resize(4, 0xff);
    r[0] = kNotImplemented;
    return r;
  }
  const uint8_t ctype = cmd[0] & 0x0f, target = cmd[1], opcode = cmd[2], operand = cmd[3];
  const bool status = ctype == 0x01, control = ctype == 0x00,
             inquiry = ctype == 0x02 || ctype == 0x04;
  uint8_t code = kNotImplemented;
  if (target == kUnit) {
    if (status && opcode == kSubunitInfo && length >= 8) {
      code = kStable;
      std::fill(r.begin() + 4, r.begin() + 8, 0xff);
      if (((operand >> 4) & 7) == 0) {
        size_t at = 4;
        if (cam.HasTape()) r[at++] = kTape;  // type 4, max id 0
        r[at++] = kCamera;                   // listed in either mode, as many camcorders do
      }
    } else if (status && opcode == kUnitInfo && length >= 8) {
      code = kStable;
      r[3] = 0x07;
      r[4] = cam.HasTape() ? kTape : kCamera;
      r[5] = 0x00;
      r[6] = 0xa5;
      r[7] = 0xa5;
    }
  } else if (target == kTape && cam.HasTape()) {
    const bool camera = cam.device == Device::Camera;
    if (opcode == kTransportState && status && operand == 0x7f) {
      if (camera) {
        code = kRejected;
      } else {
        code = kStable;
        r[2] = cam.mode;
        r[3] = cam.state;
      }
    } else if ((opcode == kPlay || opcode == kRecord || opcode == kWind) &&
               ValidOperand(opcode, operand)) {
      if (inquiry) {
        code = kStable;
      } else if (!control) {
        code = kNotImplemented;
      } else if (camera) {
        code = kRejected;
      } else if (cam.device == Device::NoCassette && !(opcode == kWind && operand == kWindStop)) {
        code = kRejected;
      } else if (cam.device == Device::WriteProtected && opcode == kRecord) {
        code = kRejected;
      } else {
        code = kAccepted;
        CatchUp(bus, Clock::now());  // the stream's past cycles reach the transport as it was
        cam.mode = opcode;
        cam.state = operand;
        if (opcode == kPlay && operand == 0x30) cam.state = 0x7d;  // next frame: paused after it
        if (opcode == kPlay && operand == 0x40) cam.state = 0x6d;  // previous frame
      }
    }
  }
  r[0] = code;
  const char* ctypeName = control         ? "CONTROL"
                          : status        ? "STATUS"
                          : inquiry       ? "INQUIRY"
                          : ctype == 0x03 ? "NOTIFY"
                                          : nullptr;
  const char* targetName = target == kUnit     ? "unit"
                           : target == kTape   ? "tape"
                           : target == kCamera ? "camera"
                                               : nullptr;
  const char* opName = opcode == kUnitInfo         ? "UNIT_INFO"
                       : opcode == kSubunitInfo    ? "SUBUNIT_INFO"
                       : opcode == kRecord         ? "RECORD"
                       : opcode == kPlay           ? "PLAY"
                       : opcode == kWind           ? "WIND"
                       : opcode == kTransportState ? "TRANSPORT_STATE"
                       : opcode == 0xc1            ? "LOAD_MEDIUM"
                                                   : nullptr;
  long recorded;
  {
    std::lock_guard<std::mutex> guard(cam.rx->lock);
    recorded = cam.rx->recorded;
  }
  bus.Log("avc node=%d ctype=%s target=%s op=%s operand=0x%02x reply=%s state=%s tape=%ld ms=%ld",
          bus.IndexOf(cam), ctypeName ? ctypeName : Hex(ctype).c_str(),
          targetName ? targetName : Hex(target).c_str(), opName ? opName : Hex(opcode).c_str(),
          operand,
          bus.avcTimeout ? "none" : (code == kStable && inquiry ? "IMPLEMENTED" : ReplyName(code)),
          cam.HasTape() ? StateName(cam.mode, cam.state).c_str() : "-", recorded, bus.Ms());
  return r;
}

// A plug or IRM register of node phy at addr, with its log name; null where there is none.
quadlet_t* Register(Bus& bus, int phy, nodeaddr_t addr, const char** name) {
  Camcorder* cam = bus.CamAt(phy);
  const bool local = phy == bus.LocalId();
  if (cam == nullptr && !local) return nullptr;
  struct Entry {
    nodeaddr_t addr;
    const char* name;
    quadlet_t* reg;
  };
  const Entry entries[] = {
      {kOMpr, "oMPR", cam ? &cam->oMpr : &bus.hostOMpr},
      {kOPcr0, "oPCR0", cam ? &cam->oPcr : &bus.hostOPcr},
      {kIMpr, "iMPR", cam ? &cam->iMpr : &bus.hostIMpr},
      {kIPcr0, "iPCR0", cam ? &cam->iPcr : &bus.hostIPcr},
      {CSR_REGISTER_BASE + CSR_BANDWIDTH_AVAILABLE, "BANDWIDTH_AVAILABLE",
       local ? &bus.bandwidth : nullptr},
      {CSR_REGISTER_BASE + CSR_CHANNELS_AVAILABLE_HI, "CHANNELS_AVAILABLE_HI",
       local ? &bus.channelsHi : nullptr},
      {CSR_REGISTER_BASE + CSR_CHANNELS_AVAILABLE_LO, "CHANNELS_AVAILABLE_LO",
       local ? &bus.channelsLo : nullptr},
  };
  for (const Entry& e : entries) {
    if (e.addr == addr && e.reg != nullptr) {
      *name = e.name;
      return e.reg;
    }
  }
  return nullptr;
}

// Whether a transaction from h to node may go out: the handle's generation and the node.
bool Reachable(Bus& bus, raw1394handle_t h, nodeid_t node, int* phy) {
  bus.CheckClock();
  if (h->port < 0) {
    Fail(h, -1, EINVAL);
    return false;
  }
  if (h->generation != bus.generation) {
    Fail(h, -2, EAGAIN);  // a stale generation
    return false;
  }
  *phy = node & 0x3f;
  if (*phy >= bus.NodeCount()) {
    Fail(h, -3, EAGAIN);  // no ack
    return false;
  }
  return true;
}

raw1394_handle::Arm* ArmAt(Bus& bus, int phy, nodeaddr_t addr) {
  if (phy != bus.LocalId()) return nullptr;
  for (raw1394handle_t h : bus.handles)
    for (raw1394_handle::Arm& a : h->arm)
      if (addr >= a.start && addr + 4 <= a.start + a.length) return &a;
  return nullptr;
}

// ----- the isochronous side -----

// The first DIF block whose id (section type, sequence, block number) is not the one its place in
// the frame calls for, or -1.
long BadDifBlock(const std::vector<uint8_t>& frame) {
  const size_t blocks = frame.size() / 80;
  for (size_t i = 0; i < blocks; ++i) {
    const sim1394::DifPlace place = sim1394::DifBlockPlace(static_cast<int>(i));
    const uint8_t* id = frame.data() + i * 80;
    if ((id[0] >> 5) != place.type || (id[1] >> 4) != place.sequence || id[2] != place.number)
      return static_cast<long>(i);
  }
  return -1;
}

void ReceivePacket(Bus& bus, Camcorder& cam, const uint8_t* p, unsigned len, uint8_t tag,
                   long index, bool record) {
  Receiver& rx = *cam.rx;
  std::lock_guard<std::mutex> guard(rx.lock);
  ++rx.packets;
  const int node = bus.IndexOf(cam);
  auto error = [&](const char* what, const std::string& detail) {
    ++rx.cipErrors;
    if (rx.cipErrors <= kCipErrorsLogged)
      bus.Log("cip-error node=%d packet=%ld what=%s %s", node, index, what, detail.c_str());
  };
  if (tag != 1 || (len != 8 && len != 488)) {
    ++rx.badPackets;
    if (rx.badPackets <= kCipErrorsLogged)
      bus.Log("cip-error node=%d packet=%ld what=%s tag=%u length=%u", node, index,
              tag != 1 ? "tag" : "length", tag, len);
    rx.haveDbc = false;
    return;
  }
  const unsigned dbs = p[1], dbc = p[3], fmt = p[4] & 0x3f, fdf = p[5];
  const unsigned syt = (p[6] << 8) | p[7];
  if ((p[0] >> 6) != 0 || (p[4] >> 6) != 2) error("eoh", "q0=" + Hex(p[0]) + " q1=" + Hex(p[4]));
  if (dbs != 120) error("dbs", "dbs=" + std::to_string(dbs));
  if (fmt != 0) error("fmt", "fmt=" + Hex(fmt));
  const unsigned blocks = len == 488 ? 1 : 0;
  if (rx.haveDbc && dbc != rx.nextDbc)
    error("dbc", "expected=" + std::to_string(rx.nextDbc) + " got=" + std::to_string(dbc));
  rx.haveDbc = true;
  rx.nextDbc = static_cast<uint8_t>(dbc + blocks);
  if (blocks == 0) return;

  const uint8_t* dif = p + 8;
  const bool frameStart = (dif[0] >> 5) == 0 && (dif[1] >> 4) == 0 && dif[2] == 0;
  const unsigned interval = (fdf & 0x80) ? 300 : 250;
  if (syt != 0xffff) {
    if (rx.dataSinceSyt >= 0 && rx.dataSinceSyt != static_cast<long>(interval))
      error("syt", "after=" + std::to_string(rx.dataSinceSyt) + " data packets");
    rx.dataSinceSyt = 0;
  }
  if (rx.dataSinceSyt >= 0) ++rx.dataSinceSyt;
  // The time stamp goes with the packet that starts a frame (SYT on empty packets is ignored).
  if (frameStart && syt == 0xffff) error("syt", std::string("frame start without a time stamp"));
  if (!frameStart && syt != 0xffff) error("syt", std::string("time stamp off a frame start"));
  if (frameStart) {
    const bool pal = (dif[3] & 0x80) != 0;
    if (pal != ((fdf & 0x80) != 0)) error("fdf", "fdf=" + Hex(fdf) + " dsf=" + (pal ? "50" : "60"));
    if (rx.frameBytes != 0) ++rx.partial;
    rx.pal = pal;
    rx.frame.resize(pal ? 144000 : 120000);  // every byte is written before the frame counts
    std::memcpy(rx.frame.data(), dif, 480);
    rx.frameBytes = 480;
    return;
  }
  if (rx.frameBytes == 0) return;  // waiting for the start of a frame
  std::memcpy(rx.frame.data() + rx.frameBytes, dif, 480);
  rx.frameBytes += 480;
  if (rx.frameBytes < rx.frame.size()) return;
  rx.frameBytes = 0;
  ++rx.frames;
  if (const long bad = BadDifBlock(rx.frame); bad >= 0) {
    ++rx.badFrames;
    if (rx.badFrames <= kCipErrorsLogged)
      bus.Log("frame-error node=%d frame=%ld block=%ld", node, rx.frames - 1, bad);
  }
  if (!record) {
    rx.recording = false;
    return;
  }
  if (!rx.recording) bus.Log("record node=%d frames=%ld ms=%ld", node, rx.recorded, bus.Ms());
  rx.recording = true;
  ++rx.recorded;
  if (rx.tapePath.empty()) return;
  if (rx.tape == nullptr) rx.tape = std::fopen(rx.tapePath.c_str(), "ab");
  if (rx.tape == nullptr) return;
  std::fwrite(rx.frame.data(), 1, rx.frame.size(), rx.tape);
  std::fflush(rx.tape);
}

// Sends the packet at the buffer's tail to the camcorders listening (called with the bus locked).
void SendOne(Bus& bus, raw1394handle_t h) {
  Iso& iso = *h->iso;
  const unsigned slot = iso.tail;
  const uint8_t* p = iso.buffer.data() + static_cast<size_t>(slot) * iso.slotSize;
  const unsigned len = iso.lengths[slot];
  const uint8_t tag = iso.tags[slot];
  const long index = iso.packets++;
  if (len > 8)
    ++iso.data;
  else
    ++iso.empty;
  for (Camcorder& c : bus.cams)
    if (c.present && c.ListenChannel() == iso.channel)
      ReceivePacket(bus, c, p, len, tag, index, c.mode == kRecord && c.state == 0x75);
  iso.tail = (iso.tail + 1) % iso.bufPackets;
  --iso.queued;
  if (++iso.sinceIrq >= iso.irqInterval || iso.queued == 0) {
    iso.sinceIrq = 0;
    Event e(Event::kIso);
    bus.Push(h, std::move(e));
  }
}

Clock::time_point CycleTime(const Iso& iso, long cycle) {
  return iso.started + std::chrono::nanoseconds(cycle * (1000000000 / kCyclesPerSecond));
}

long CyclesDue(const Iso& iso, Clock::time_point at) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(at - iso.started).count() /
      (1000000000 / kCyclesPerSecond));
}

// Runs a stream's cycles at the bus's pace up to cycle due (the bus locked). Each cycle takes the
// packet at the buffer's tail if the handler had given it by the cycle's own time, however late
// the clock got round to it; else it is a late cycle (an idle one once the handler had ended).
void RunCycles(Bus& bus, raw1394handle_t h, long due) {
  Iso& iso = *h->iso;
  while (iso.cycles < due) {
    const Clock::time_point at = CycleTime(iso, ++iso.cycles);
    if (iso.queued == 0 || iso.queuedAt[iso.tail] > at) {
      ++(iso.ended && iso.endedAt <= at ? iso.idle : iso.late);
      if (!iso.wasEmpty) {
        Event e(Event::kIso);
        bus.Push(h, std::move(e));
      }
      iso.wasEmpty = true;
      continue;
    }
    iso.wasEmpty = false;
    SendOne(bus, h);
  }
}

// Every stream at the bus's pace brought up to the time until (the bus locked): what changes the
// bus or a transport runs the cycles before it first.
void CatchUp(Bus& bus, Clock::time_point until) {
  if (bus.fast) return;
  for (raw1394handle_t h : bus.handles)
    if (h->iso != nullptr && h->iso->running && !h->iso->stop)
      RunCycles(bus, h, CyclesDue(*h->iso, until));
}

// The bus's clock for one transmit context. At the bus's pace it sleeps until the next interrupt
// is due, or the buffer runs empty, or the camcorder is to be unplugged, and then runs every
// cycle due at once; a new packet in an empty buffer or the stop wakes it sooner.
void Pace(raw1394handle_t h) {
  Bus& bus = TheBus();
  std::unique_lock<std::mutex> guard(bus.lock);
  Iso& iso = *h->iso;
  for (;;) {
    bus.CheckClock();
    if (bus.fast) {
      if (iso.stop) break;
      if (iso.queued == 0) {
        bus.changed.wait_for(guard, std::chrono::milliseconds(50));
        continue;
      }
      ++iso.cycles;
      SendOne(bus, h);
      continue;
    }
    RunCycles(bus, h, CyclesDue(iso, Clock::now()));
    if (iso.stop) break;
    long ahead = static_cast<long>(iso.irqInterval - iso.sinceIrq);
    if (iso.queued > 0) ahead = std::min<long>(ahead, iso.queued);
    Clock::time_point wake = CycleTime(iso, iso.cycles + std::min(ahead, kMaxSleepCycles));
    if (bus.unplugAtMs >= 0 && bus.isoStarted)
      wake = std::min(wake, bus.firstIsoStart + std::chrono::milliseconds(bus.unplugAtMs));
    bus.changed.wait_until(guard, wake);
  }
}

// Asks the handler for packets until limit are queued (the bus not locked).
int Fill(raw1394handle_t h, unsigned limit) {
  Bus& bus = TheBus();
  Iso* iso = h->iso.get();
  if (iso == nullptr || iso->handler == nullptr) return 0;
  std::unique_lock<std::mutex> guard(bus.lock);
  for (;;) {
    if (iso->queued >= std::min(limit, iso->bufPackets)) return 0;
    const unsigned slot = (iso->tail + iso->queued) % iso->bufPackets;
    guard.unlock();
    unsigned len = 0;
    unsigned char tag = 0, sy = 0;
    uint8_t* data = iso->buffer.data() + static_cast<size_t>(slot) * iso->slotSize;
    const raw1394_iso_disposition d = iso->handler(h, data, &len, &tag, &sy, -1, 0);
    const Clock::time_point now = Clock::now();
    guard.lock();
    if (d != RAW1394_ISO_OK) {
      if (!iso->ended) iso->endedAt = now;
      iso->ended = true;
      guard.unlock();
      if (d == RAW1394_ISO_ERROR) return -1;
      if (d == RAW1394_ISO_STOP || d == RAW1394_ISO_STOP_NOSYNC) raw1394_iso_stop(h);
      return 0;
    }
    iso->ended = false;
    iso->lengths[slot] = std::min(len, iso->slotSize);
    iso->tags[slot] = tag;
    iso->queuedAt[slot] = now;
    // At the bus's pace the clock sleeps until the buffer would run empty: a packet in an empty
    // buffer wakes it, as every packet does when it runs fast.
    if (++iso->queued == 1 || bus.fast) bus.changed.notify_all();
  }
}

void LogSummary(Bus& bus, Iso& iso) {
  bus.Log(
      "iso-stop channel=%u cycles=%ld packets=%ld data=%ld empty=%ld late-cycles=%ld idle=%ld "
      "unsent=%u",
      iso.channel, iso.cycles, iso.packets, iso.data, iso.empty, iso.late, iso.idle, iso.queued);
  for (Camcorder& c : bus.cams) {
    Receiver& rx = *c.rx;
    std::lock_guard<std::mutex> guard(rx.lock);
    bus.Log(
        "receiver node=%d packets=%ld frames=%ld recorded=%ld partial=%ld bad-frames=%ld "
        "cip-errors=%ld "
        "bad-packets=%ld",
        bus.IndexOf(c), rx.packets, rx.frames, rx.recorded, rx.partial, rx.badFrames, rx.cipErrors,
        rx.badPackets);
    if (rx.tape != nullptr) std::fclose(rx.tape);
    rx.tape = nullptr;
  }
}

// Takes the pending events and hands them out; waits up to timeoutMs for one.
int Dispatch(raw1394handle_t h, int timeoutMs) {
  Bus& bus = TheBus();
  std::deque<Event> events;
  {
    std::unique_lock<std::mutex> guard(bus.lock);
    bus.CheckClock();
    if (h->events.empty() && timeoutMs > 0) {
      guard.unlock();
      pollfd p{h->fd, POLLIN, 0};
      poll(&p, 1, timeoutMs);
      guard.lock();
    }
    events.swap(h->events);
    uint64_t count;
    while (read(h->fd, &count, sizeof count) > 0) {
    }
  }
  int result = 0;
  bool refill = false;
  for (Event& e : events) {
    int r = 0;
    switch (e.kind) {
      case Event::kFcp:
        if (h->fcpHandler != nullptr && h->fcpListen)
          r = h->fcpHandler(h, e.from, e.response ? 1 : 0, e.data.size(), e.data.data());
        break;
      case Event::kReset: {
        {
          std::lock_guard<std::mutex> guard(bus.lock);
          Snapshot(bus, h);
        }
        r = h->resetHandler != nullptr ? h->resetHandler(h, e.generation) : 0;
        break;
      }
      case Event::kIso:
        refill = true;
        break;
    }
    if (r != 0 && result == 0) result = r;
  }
  if (refill && h->iso != nullptr && h->iso->running && Fill(h, h->iso->bufPackets) < 0 &&
      result == 0)
    result = -1;
  return result;
}

int DefaultResetHandler(raw1394handle_t h, unsigned generation) {
  h->generation = generation;
  return 0;
}

}  // namespace

// ----- handles and the bus -----

// For tests: the settings read again and the bus built anew. With handles open (no stream
// running) this is a new set of camcorders plugged in: a bus reset in the next generation.
SIM_EXPORT int vantrel_sim1394_reset(void) {
  Bus& bus = TheBus();
  std::lock_guard<std::mutex> guard(bus.lock);
  for (raw1394handle_t h : bus.handles)
    if (h->iso != nullptr && h->iso->running) return -1;
  const unsigned generation = bus.generation;
  bus.Configure();
  if (!bus.handles.empty()) {
    bus.generation = generation;
    bus.Reset("replug");
  }
  return 0;
}

SIM_EXPORT raw1394handle_t raw1394_new_handle(void) {
  Bus& bus = TheBus();
  auto* h = new raw1394_handle;
  h->fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (h->fd < 0) {
    delete h;
    return nullptr;
  }
  h->resetHandler = DefaultResetHandler;
  std::lock_guard<std::mutex> guard(bus.lock);
  if (!bus.configured) bus.Configure();
  bus.handles.insert(h);
  return h;
}

SIM_EXPORT int raw1394_set_port(raw1394handle_t h, int port) {
  Bus& bus = TheBus();
  if (port != 0) {
    errno = EINVAL;
    return -1;
  }
  std::lock_guard<std::mutex> guard(bus.lock);
  h->port = port;
  h->generation = bus.generation;
  Snapshot(bus, h);
  return 0;
}

SIM_EXPORT raw1394handle_t raw1394_new_handle_on_port(int port) {
  raw1394handle_t h = raw1394_new_handle();
  if (h != nullptr && raw1394_set_port(h, port) < 0) {
    raw1394_destroy_handle(h);
    return nullptr;
  }
  return h;
}

SIM_EXPORT void raw1394_destroy_handle(raw1394handle_t h) {
  if (h == nullptr) return;
  raw1394_iso_shutdown(h);
  Bus& bus = TheBus();
  {
    std::lock_guard<std::mutex> guard(bus.lock);
    bus.handles.erase(h);
  }
  close(h->fd);
  delete h;
}

SIM_EXPORT int raw1394_get_port_info(raw1394handle_t, struct raw1394_portinfo* pinf, int maxports) {
  Bus& bus = TheBus();
  std::lock_guard<std::mutex> guard(bus.lock);
  if (maxports >= 1 && pinf != nullptr) {
    pinf[0].nodes = bus.NodeCount();
    std::snprintf(pinf[0].name, sizeof pinf[0].name, "sim1394");
  }
  return 1;
}

SIM_EXPORT int raw1394_get_fd(raw1394handle_t h) {
  return h->fd;
}
SIM_EXPORT void raw1394_set_userdata(raw1394handle_t h, void* data) {
  h->userdata = data;
}
SIM_EXPORT void* raw1394_get_userdata(raw1394handle_t h) {
  return h->userdata;
}
SIM_EXPORT nodeid_t raw1394_get_local_id(raw1394handle_t h) {
  return h->local;
}
SIM_EXPORT nodeid_t raw1394_get_irm_id(raw1394handle_t h) {
  return h->irm;
}
SIM_EXPORT int raw1394_get_nodecount(raw1394handle_t h) {
  return h->nodes;
}
SIM_EXPORT unsigned int raw1394_get_generation(raw1394handle_t h) {
  return h->generation;
}
SIM_EXPORT void raw1394_update_generation(raw1394handle_t h, unsigned int generation) {
  h->generation = generation;
}
SIM_EXPORT int raw1394_get_speed(raw1394handle_t, nodeid_t) {
  return RAW1394_ISO_SPEED_100;
}
SIM_EXPORT const char* raw1394_get_libversion(void) {
  return "2.1.2-vantrel-sim1394";
}
SIM_EXPORT raw1394_errcode_t raw1394_get_errcode(raw1394handle_t h) {
  return h->err;
}
SIM_EXPORT int raw1394_errcode_to_errno(raw1394_errcode_t errcode) {
  if (errcode == 0) return 0;
  if (errcode < 0) return EAGAIN;
  switch (raw1394_get_rcode(errcode)) {
    case RAW1394_RCODE_CONFLICT_ERROR:
      return EAGAIN;
    case RAW1394_RCODE_DATA_ERROR:
      return EREMOTEIO;
    case RAW1394_RCODE_TYPE_ERROR:
      return EPERM;
    default:
      return EINVAL;
  }
}

SIM_EXPORT bus_reset_handler_t raw1394_set_bus_reset_handler(raw1394handle_t h,
                                                             bus_reset_handler_t handler) {
  bus_reset_handler_t old = h->resetHandler;
  h->resetHandler = handler;
  return old;
}

SIM_EXPORT int raw1394_busreset_notify(raw1394handle_t h, int on) {
  h->notifyReset = on == RAW1394_NOTIFY_ON;
  return 0;
}

SIM_EXPORT int raw1394_reset_bus_new(raw1394handle_t, int) {
  Bus& bus = TheBus();
  std::lock_guard<std::mutex> guard(bus.lock);
  bus.Reset("request");
  return 0;
}
SIM_EXPORT int raw1394_reset_bus(raw1394handle_t h) {
  return raw1394_reset_bus_new(h, RAW1394_LONG_RESET);
}

SIM_EXPORT int raw1394_loop_iterate(raw1394handle_t h) {
  return Dispatch(h, 100);
}

SIM_EXPORT int raw1394_wake_up(raw1394handle_t h) {
  const uint64_t one = 1;
  return write(h->fd, &one, sizeof one) < 0 ? -1 : 0;
}

// ----- asynchronous transactions -----

namespace {

// A transaction from a handle that has not taken the last bus reset fails (EAGAIN), and, as the
// real library's wait for the response does, hands out the handle's pending events on the way:
// the bus reset handler runs, and the next attempt goes out in the new generation.
bool Stale(raw1394handle_t h) {
  Bus& bus = TheBus();
  {
    std::lock_guard<std::mutex> guard(bus.lock);
    if (h->port < 0 || h->generation == bus.generation) return false;
  }
  Dispatch(h, 0);
  Fail(h, -2, EAGAIN);
  return true;
}

// The start of a transaction: the handle in the bus's generation, the bus locked, the node there.
struct Transaction {
  Transaction(raw1394handle_t h, nodeid_t node) {
    if (Stale(h)) return;
    guard = std::unique_lock<std::mutex>(bus.lock);
    ok = Reachable(bus, h, node, &phy);
    if (ok) cam = bus.CamAt(phy);
  }
  Bus& bus = TheBus();
  std::unique_lock<std::mutex> guard;
  bool ok = false;
  int phy = -1;
  Camcorder* cam = nullptr;  // null for the local node
};

}  // namespace

SIM_EXPORT int raw1394_read(raw1394handle_t h, nodeid_t node, nodeaddr_t addr, size_t length,
                            quadlet_t* buffer) {
  Transaction t(h, node);
  if (!t.ok) return -1;
  Bus& bus = t.bus;
  const int phy = t.phy;
  Camcorder* cam = t.cam;
  if (addr >= kRomStart && addr + length <= CSR_REGISTER_BASE + CSR_CONFIG_ROM_END &&
      length % 4 == 0) {
    const std::vector<quadlet_t>& rom = cam != nullptr ? cam->rom : bus.hostRom;
    for (size_t i = 0; i < length / 4; ++i) {
      const size_t q = (addr - kRomStart) / 4 + i;
      buffer[i] = htonl(q < rom.size() ? rom[q] : 0);
    }
    h->err = 0;
    return 0;
  }
  const char* name = nullptr;
  if (length == 4) {
    if (raw1394_handle::Arm* a = ArmAt(bus, phy, addr)) {
      quadlet_t v;
      std::memcpy(&v, a->buffer + (addr - a->start), 4);
      buffer[0] = htonl(v);
      h->err = 0;
      return 0;
    }
    if (quadlet_t* reg = Register(bus, phy, addr, &name)) {
      buffer[0] = htonl(*reg);
      h->err = 0;
      return 0;
    }
  }
  Fail(h, raw1394_make_errcode(1, RAW1394_RCODE_ADDRESS_ERROR), EINVAL);
  return -1;
}

SIM_EXPORT int raw1394_write(raw1394handle_t h, nodeid_t node, nodeaddr_t addr, size_t length,
                             quadlet_t* data) {
  Transaction t(h, node);
  if (!t.ok) return -1;
  Bus& bus = t.bus;
  const int phy = t.phy;
  Camcorder* cam = t.cam;
  if (cam != nullptr && addr == kFcpCommand && length >= 4 &&
      length <= kFcpResponse - kFcpCommand) {
    std::vector<uint8_t> response = Avc(bus, *cam, reinterpret_cast<const uint8_t*>(data), length);
    h->err = 0;
    if (bus.avcTimeout) return 0;
    for (raw1394handle_t l : bus.handles) {
      if (l->port < 0 || !l->fcpListen) continue;
      Event e(Event::kFcp);
      e.from = static_cast<nodeid_t>(0xffc0 | phy);
      e.data = response;
      bus.Push(l, std::move(e));
    }
    return 0;
  }
  if (cam == nullptr && addr >= kFcpCommand && addr < kFcpEnd) {
    // A write to our own FCP registers goes to the listening handles as a request.
    for (raw1394handle_t l : bus.handles) {
      if (l->port < 0 || !l->fcpListen) continue;
      Event e(Event::kFcp);
      e.response = addr >= kFcpResponse;
      e.from = static_cast<nodeid_t>(0xffc0 | phy);
      e.data.assign(reinterpret_cast<const uint8_t*>(data),
                    reinterpret_cast<const uint8_t*>(data) + length);
      bus.Push(l, std::move(e));
    }
    h->err = 0;
    return 0;
  }
  const char* name = nullptr;
  if (Register(bus, phy, addr, &name) != nullptr) {
    Fail(h, raw1394_make_errcode(1, RAW1394_RCODE_TYPE_ERROR), EPERM);  // lock only
    return -1;
  }
  Fail(h, raw1394_make_errcode(1, RAW1394_RCODE_ADDRESS_ERROR), EINVAL);
  return -1;
}

SIM_EXPORT int raw1394_lock(raw1394handle_t h, nodeid_t node, nodeaddr_t addr, unsigned int extcode,
                            quadlet_t data, quadlet_t arg, quadlet_t* result) {
  Transaction t(h, node);
  if (!t.ok) return -1;
  Bus& bus = t.bus;
  const int phy = t.phy;
  const char* name = "?";
  raw1394_handle::Arm* arm = ArmAt(bus, phy, addr);
  quadlet_t* reg = arm == nullptr ? Register(bus, phy, addr, &name) : nullptr;
  if (reg == nullptr && arm == nullptr) {
    Fail(h, raw1394_make_errcode(1, RAW1394_RCODE_ADDRESS_ERROR), EINVAL);
    return -1;
  }
  if (extcode != RAW1394_EXTCODE_COMPARE_SWAP || (bus.refuse && reg != nullptr)) {
    if (bus.refuse) bus.Log("lock node=%d reg=%s refused", phy, name);
    Fail(h, raw1394_make_errcode(1, RAW1394_RCODE_TYPE_ERROR), EPERM);
    return -1;
  }
  quadlet_t old;
  if (reg != nullptr)
    old = *reg;
  else
    std::memcpy(&old, arm->buffer + (addr - arm->start), 4);
  if (old == ntohl(arg)) {
    const quadlet_t value = ntohl(data);
    if (reg != nullptr)
      *reg = value;
    else
      std::memcpy(arm->buffer + (addr - arm->start), &value, 4);
    if (value != old) bus.Log("lock node=%d reg=%s old=0x%08x new=0x%08x", phy, name, old, value);
  }
  if (result != nullptr) *result = htonl(old);
  h->err = 0;
  return 0;
}

SIM_EXPORT int raw1394_lock64(raw1394handle_t h, nodeid_t, nodeaddr_t, unsigned int, octlet_t,
                              octlet_t, octlet_t*) {
  Fail(h, raw1394_make_errcode(1, RAW1394_RCODE_TYPE_ERROR), EPERM);
  return -1;
}

SIM_EXPORT fcp_handler_t raw1394_set_fcp_handler(raw1394handle_t h, fcp_handler_t handler) {
  fcp_handler_t old = h->fcpHandler;
  h->fcpHandler = handler;
  return old;
}

SIM_EXPORT int raw1394_start_fcp_listen(raw1394handle_t h) {
  std::lock_guard<std::mutex> guard(TheBus().lock);
  h->fcpListen = true;
  return 0;
}

SIM_EXPORT int raw1394_stop_fcp_listen(raw1394handle_t h) {
  std::lock_guard<std::mutex> guard(TheBus().lock);
  h->fcpListen = false;
  return 0;
}

// Address ranges of the local node served from the caller's buffer (host order quadlets), as
// libiec61883's local plugs expect from their read and lock callbacks.
SIM_EXPORT int raw1394_arm_register(raw1394handle_t h, nodeaddr_t start, size_t length,
                                    byte_t* initial, octlet_t, arm_options_t, arm_options_t,
                                    arm_options_t) {
  if (initial == nullptr) {
    errno = EINVAL;
    return -1;
  }
  std::lock_guard<std::mutex> guard(TheBus().lock);
  h->arm.push_back({start, length, initial});
  return 0;
}

SIM_EXPORT int raw1394_arm_unregister(raw1394handle_t h, nodeaddr_t start) {
  std::lock_guard<std::mutex> guard(TheBus().lock);
  for (auto it = h->arm.begin(); it != h->arm.end(); ++it) {
    if (it->start == start) {
      h->arm.erase(it);
      return 0;
    }
  }
  errno = EINVAL;
  return -1;
}

// Answers to address range requests: never needed here, the ranges answer by themselves.
SIM_EXPORT int raw1394_start_async_send(raw1394handle_t, size_t, size_t, unsigned int, quadlet_t*,
                                        unsigned long) {
  return 0;
}

SIM_EXPORT int raw1394_bandwidth_modify(raw1394handle_t h, unsigned int units,
                                        enum raw1394_modify_mode mode) {
  if (units == 0) return 0;
  const nodeaddr_t addr = CSR_REGISTER_BASE + CSR_BANDWIDTH_AVAILABLE;
  quadlet_t buffer;
  if (raw1394_read(h, raw1394_get_irm_id(h), addr, 4, &buffer) < 0) return -1;
  const quadlet_t compare = ntohl(buffer);
  quadlet_t swap;
  if (mode == RAW1394_MODIFY_ALLOC) {
    if (compare < units) return -1;
    swap = compare - units;
  } else {
    swap = std::min<quadlet_t>(compare + units, kBandwidthInitial);
  }
  if (raw1394_lock(h, raw1394_get_irm_id(h), addr, RAW1394_EXTCODE_COMPARE_SWAP, htonl(swap),
                   htonl(compare), &buffer) < 0)
    return -1;
  return ntohl(buffer) == compare ? 0 : -1;
}

SIM_EXPORT int raw1394_channel_modify(raw1394handle_t h, unsigned int channel,
                                      enum raw1394_modify_mode mode) {
  if (channel >= 64) return -1;
  const nodeaddr_t addr = CSR_REGISTER_BASE + CSR_CHANNELS_AVAILABLE_HI + 4 * (channel / 32);
  quadlet_t buffer;
  if (raw1394_read(h, raw1394_get_irm_id(h), addr, 4, &buffer) < 0) return -1;
  const quadlet_t bit = 1u << (31 - (channel & 31));  // channel 0 is the most significant bit
  const quadlet_t compare = ntohl(buffer);
  quadlet_t swap;
  if (mode == RAW1394_MODIFY_ALLOC) {
    if ((compare & bit) == 0) return -1;
    swap = compare & ~bit;
  } else {
    if ((compare & bit) != 0) return -1;
    swap = compare | bit;
  }
  if (raw1394_lock(h, raw1394_get_irm_id(h), addr, RAW1394_EXTCODE_COMPARE_SWAP, htonl(swap),
                   htonl(compare), &buffer) < 0)
    return -1;
  return ntohl(buffer) == compare ? 0 : -1;
}

// ----- isochronous transmit -----

SIM_EXPORT int raw1394_iso_xmit_init(raw1394handle_t h, raw1394_iso_xmit_handler_t handler,
                                     unsigned int bufPackets, unsigned int maxPacketSize,
                                     unsigned char channel, enum raw1394_iso_speed speed,
                                     int irqInterval) {
  if (h->iso != nullptr) {
    errno = EBUSY;
    return -1;
  }
  if (h->port < 0 || bufPackets == 0 || channel > 63 || handler == nullptr) {
    errno = EINVAL;
    return -1;
  }
  auto iso = std::make_unique<Iso>();
  iso->handler = handler;
  iso->bufPackets = bufPackets;
  iso->slotSize = 1;
  while (iso->slotSize < maxPacketSize) iso->slotSize <<= 1;
  iso->irqInterval = irqInterval < 0 ? 256 : std::max(1, irqInterval);
  iso->channel = channel;
  iso->speed = speed;
  iso->buffer.assign(static_cast<size_t>(bufPackets) * iso->slotSize, 0);
  iso->lengths.assign(bufPackets, 0);
  iso->tags.assign(bufPackets, 0);
  iso->queuedAt.assign(bufPackets, Clock::time_point());
  h->iso = std::move(iso);
  return 0;
}

// As the real one: the prebuffer filled, the stream started only if the handler gave that much,
// then the whole buffer filled; the answer is the last fill's.
SIM_EXPORT int raw1394_iso_xmit_start(raw1394handle_t h, int, int prebuffer) {
  Iso* iso = h->iso.get();
  if (iso == nullptr || iso->running) {
    errno = EINVAL;
    return -1;
  }
  Bus& bus = TheBus();
  {
    std::lock_guard<std::mutex> guard(bus.lock);
    iso->stop = false;
    iso->cycles = iso->packets = iso->data = iso->empty = iso->late = iso->idle = 0;
    iso->ended = false;
  }
  const unsigned first = prebuffer < 0 ? iso->irqInterval : static_cast<unsigned>(prebuffer);
  Fill(h, first);
  {
    std::lock_guard<std::mutex> guard(bus.lock);
    if (iso->queued < std::min(first, iso->bufPackets)) {
      bus.Log("iso-start not started: %u of %u packets to start with", iso->queued, first);
      return 0;
    }
    for (Camcorder& c : bus.cams) {
      std::lock_guard<std::mutex> rxGuard(c.rx->lock);
      c.rx->Restart();
    }
    if (!bus.isoStarted) bus.firstIsoStart = Clock::now();
    bus.isoStarted = true;
    iso->started = Clock::now();
    iso->running = true;
    bus.Log("iso-start channel=%u speed=%d buffer=%u irq=%u", iso->channel, iso->speed,
            iso->bufPackets, iso->irqInterval);
  }
  iso->pace = std::thread(Pace, h);
  return Fill(h, iso->bufPackets);
}

SIM_EXPORT int raw1394_iso_xmit_sync(raw1394handle_t h) {
  Iso* iso = h->iso.get();
  if (iso == nullptr || !iso->running) return 0;
  Bus& bus = TheBus();
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
  for (;;) {
    {
      std::lock_guard<std::mutex> guard(bus.lock);
      if (iso->queued == 0) return 0;
      if (Clock::now() > deadline) {
        bus.Log("iso-sync timeout");
        errno = ETIMEDOUT;
        return -1;
      }
    }
    Dispatch(h, 20);
  }
}

SIM_EXPORT void raw1394_iso_stop(raw1394handle_t h) {
  Iso* iso = h->iso.get();
  if (iso == nullptr || !iso->running) return;
  Bus& bus = TheBus();
  {
    std::lock_guard<std::mutex> guard(bus.lock);
    iso->stop = true;
    bus.changed.notify_all();
  }
  if (iso->pace.joinable()) iso->pace.join();
  std::lock_guard<std::mutex> guard(bus.lock);
  LogSummary(bus, *iso);
  iso->running = false;
  iso->head = iso->tail = iso->queued = iso->sinceIrq = 0;
}

SIM_EXPORT void raw1394_iso_shutdown(raw1394handle_t h) {
  if (h->iso == nullptr) return;
  raw1394_iso_stop(h);
  h->iso.reset();
}

// The simulated bus carries no stream towards the PC.
SIM_EXPORT int raw1394_iso_recv_init(raw1394handle_t, raw1394_iso_recv_handler_t, unsigned int,
                                     unsigned int, unsigned char, enum raw1394_iso_dma_recv_mode,
                                     int) {
  errno = ENOSYS;
  return -1;
}
SIM_EXPORT int raw1394_iso_recv_start(raw1394handle_t, int, int, int) {
  errno = ENOSYS;
  return -1;
}
SIM_EXPORT int raw1394_iso_recv_flush(raw1394handle_t) {
  return 0;
}

// ----- the rest of the library's functions: present, and refusing -----

#define SIM_UNSUPPORTED(name, params) \
  SIM_EXPORT int name params {        \
    errno = ENOSYS;                   \
    return -1;                        \
  }

SIM_UNSUPPORTED(raw1394_iso_multichannel_recv_init,
                (raw1394handle_t, raw1394_iso_recv_handler_t, unsigned int, unsigned int, int))
SIM_UNSUPPORTED(raw1394_iso_recv_listen_channel, (raw1394handle_t, unsigned char))
SIM_UNSUPPORTED(raw1394_iso_recv_unlisten_channel, (raw1394handle_t, unsigned char))
SIM_UNSUPPORTED(raw1394_iso_recv_set_channel_mask, (raw1394handle_t, u_int64_t))
SIM_UNSUPPORTED(raw1394_iso_xmit_write,
                (raw1394handle_t, unsigned char*, unsigned int, unsigned char, unsigned char))
SIM_UNSUPPORTED(raw1394_read_cycle_timer, (raw1394handle_t, u_int32_t*, u_int64_t*))
SIM_UNSUPPORTED(raw1394_read_cycle_timer_and_clock,
                (raw1394handle_t, u_int32_t*, u_int64_t*, clockid_t))
SIM_UNSUPPORTED(raw1394_arm_set_buf, (raw1394handle_t, nodeaddr_t, size_t, void*))
SIM_UNSUPPORTED(raw1394_arm_get_buf, (raw1394handle_t, nodeaddr_t, size_t, void*))
SIM_UNSUPPORTED(raw1394_echo_request, (raw1394handle_t, quadlet_t))
SIM_UNSUPPORTED(raw1394_phy_packet_write, (raw1394handle_t, quadlet_t))
SIM_UNSUPPORTED(raw1394_start_phy_packet_write, (raw1394handle_t, quadlet_t, unsigned long))
SIM_UNSUPPORTED(raw1394_start_read,
                (raw1394handle_t, nodeid_t, nodeaddr_t, size_t, quadlet_t*, unsigned long))
SIM_UNSUPPORTED(raw1394_start_write,
                (raw1394handle_t, nodeid_t, nodeaddr_t, size_t, quadlet_t*, unsigned long))
SIM_UNSUPPORTED(raw1394_start_lock, (raw1394handle_t, nodeid_t, nodeaddr_t, unsigned int, quadlet_t,
                                     quadlet_t, quadlet_t*, unsigned long))
SIM_UNSUPPORTED(raw1394_start_lock64, (raw1394handle_t, nodeid_t, nodeaddr_t, unsigned int,
                                       octlet_t, octlet_t, octlet_t*, unsigned long))
SIM_UNSUPPORTED(raw1394_start_async_stream,
                (raw1394handle_t, unsigned int, unsigned int, unsigned int, unsigned int, size_t,
                 quadlet_t*, unsigned long))
SIM_UNSUPPORTED(raw1394_async_stream, (raw1394handle_t, unsigned int, unsigned int, unsigned int,
                                       unsigned int, size_t, quadlet_t*))
SIM_UNSUPPORTED(raw1394_async_send, (raw1394handle_t, size_t, size_t, unsigned int, quadlet_t*))
SIM_UNSUPPORTED(raw1394_update_config_rom,
                (raw1394handle_t, const quadlet_t*, size_t, unsigned char))
SIM_UNSUPPORTED(raw1394_add_config_rom_descriptor,
                (raw1394handle_t, u_int32_t*, quadlet_t, quadlet_t, const quadlet_t*, size_t))
SIM_UNSUPPORTED(raw1394_remove_config_rom_descriptor, (raw1394handle_t, u_int32_t))
SIM_UNSUPPORTED(raw1394_get_config_rom,
                (raw1394handle_t, quadlet_t*, size_t, size_t*, unsigned char*))

SIM_EXPORT tag_handler_t raw1394_set_tag_handler(raw1394handle_t, tag_handler_t handler) {
  return handler;
}
SIM_EXPORT arm_tag_handler_t raw1394_set_arm_tag_handler(raw1394handle_t,
                                                         arm_tag_handler_t handler) {
  return handler;
}

// The DV camcorder at the end of the tape graph: found on its bus, commanded through its
// transport, fed whole DV frames. Two kinds: real camcorders on IEEE 1394, and a file that stands
// in for a tape (VANTREL_DV_TAPE=/path/tape.dv) for development and tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace plyex {

// The two DV systems a tape takes.
struct DvSystem {
  bool pal = true;
  size_t FrameBytes() const { return pal ? 144000 : 120000; }
  int FpsNum() const { return pal ? 25 : 30000; }
  int FpsDen() const { return pal ? 1 : 1001; }
  int Width() const { return 720; }
  int Height() const { return pal ? 576 : 480; }
};

// Device types a camcorder reports; only a VCR (a camcorder switched to VTR mode) takes a tape.
constexpr int32_t ED_DEVCAP_DEVICE_TYPE = 0x1007;
constexpr int32_t ED_DEVTYPE_VCR = 0x1008;
constexpr int32_t ED_DEVTYPE_CAMERA = 0x1010;

class Camcorder {
 public:
  virtual ~Camcorder() = default;

  // --- Finding the device, step by step; each false is logged by the search ---
  // Opens the device for use.
  virtual bool Bind() = 0;
  // Reaches its device control.
  virtual bool OpenDevice() = 0;
  // ED_DEVTYPE_VCR for a camcorder in VTR mode.
  virtual int32_t DeviceType() = 0;
  // Reaches its tape transport.
  virtual bool OpenTransport() = 0;

  // --- Transport ---
  // One ED_MODE_* value; false when the device did not take it.
  virtual bool SetMode(int32_t mode) = 0;
  virtual int32_t Mode() const = 0;

  // --- The DV stream ---
  // The recording's DV system, before the first frame.
  virtual bool BeginStream(const DvSystem& system) = 0;
  // One whole frame, on a streaming thread. False when the frame could not go to the tape: the
  // recording cannot go on (the transport is stopped by then).
  virtual bool WriteFrame(const uint8_t* frame, size_t size) = 0;
  // End of the stream: waits (bounded) until what was handed over has reached the tape; false
  // when it did not (the device went away, or the wait ran out).
  virtual bool Drain() = 0;
  // Ends the stream's waits at once, from any thread: from now on WriteFrame answers false and
  // Drain returns at once. For a stop while the stream waits for the device.
  virtual void Interrupt() = 0;
  // Stops feeding the device.
  virtual void EndStream() = 0;
  // True when the pipeline should run at the pace of a real tape by its own clock (the device
  // takes frames as fast as they come); false when the device paces the stream itself or asks
  // for no pacing.
  virtual bool WantsClockPace() const = 0;
};

// The devices of one kind, in enumeration order.
class CamcorderBus {
 public:
  virtual ~CamcorderBus() = default;
  // Whether the bus can be looked at at all.
  virtual bool Open() = 0;
  virtual std::vector<std::unique_ptr<Camcorder>> Devices() = 0;
};

// The first device that passes every step, with the search's log lines; null when none does.
std::unique_ptr<Camcorder> FindCamcorder(CamcorderBus& bus);

// The bus in use: the file camcorder when VANTREL_DV_TAPE names a tape file, else IEEE 1394.
std::unique_ptr<CamcorderBus> MakeCamcorderBus();

std::unique_ptr<CamcorderBus> MakeFileCamcorderBus(const std::string& path, bool paced);
std::unique_ptr<CamcorderBus> Make1394Bus();

// The human name of a transport mode, for the log.
const char* ModeName(int32_t mode);

}  // namespace plyex

// DV frames out of the muxer's stream: the muxer hands out chunks of a few KB, a camcorder takes
// whole frames (144000 bytes PAL, 120000 NTSC), each opening with the header block of its DIF
// sequence 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "Camcorder.h"

namespace plyex {

// PAL for clips below 27.5 frames a second (nearer 25 than 29.97), NTSC from there up; a clip
// that declares no rate goes to PAL.
DvSystem DvSystemForRate(int num, int den);

// True when `frame` opens with a DV header block of `system`.
bool IsDvFrameStart(const uint8_t* frame, size_t size, const DvSystem& system);

class DvFramer {
 public:
  // Called once per whole frame; false stops the stream.
  using FrameFn = std::function<bool(const uint8_t* frame, size_t size)>;

  void Reset(const DvSystem& system);
  enum class Result { kOk, kBadFrame, kRefused };
  // Takes one chunk and hands on every frame it completes.
  Result Push(const uint8_t* data, size_t size, const FrameFn& onFrame);
  // Bytes of an unfinished frame.
  size_t Pending() const { return fill_; }
  uint64_t Frames() const { return frames_; }
  uint64_t Bytes() const { return bytes_; }
  const DvSystem& System() const { return system_; }

 private:
  DvSystem system_;
  std::vector<uint8_t> frame_;
  size_t fill_ = 0;
  uint64_t frames_ = 0;
  uint64_t bytes_ = 0;
};

// One black, silent frame of the system (for the lead-in a camcorder needs to lock on); empty
// when it cannot be made.
std::vector<uint8_t> MakeBlackDvFrame(const DvSystem& system);

}  // namespace plyex

// Any bytes as a clip through the clip information exports: open, both infos, close. Besides
// what the sanitizers catch, the figures must be plausible or zero.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "AsfMutator.h"
#include "FuzzInput.h"
#include "HeaderSanity.h"
#include "QmvInfo.h"

VANTREL_CLIP_FUZZER

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzing::MemoryClip clip(data, size);
  if (OpenQmv(clip.Path()) != 1) fuzzing::Violated("OpenQmv");
  uint32_t aBitRate = 0, durationMs = 0, vBitRate = 0, reserved = 0;
  double frameRate = 0;
  int32_t width = 0, height = 0;
  GetAInfo(&aBitRate, &durationMs);
  GetVInfo(&vBitRate, &frameRate, &reserved, &width, &height);
  if (CloseQmv() != 1) fuzzing::Violated("CloseQmv");

  if (width < 0 || width > wm::kMaxPictureSide || height < 0 || height > wm::kMaxPictureSide)
    fuzzing::Violated("picture size beyond what the codecs allow");
  if (!std::isfinite(frameRate) || frameRate < 0) fuzzing::Violated("frame rate");
  // Whatever bit rate the header claims, the length cannot exceed what the bytes can hold at the
  // lowest bit rate a clip has.
  if (static_cast<int64_t>(durationMs) * 10000 >
      wm::MaxPlausibleLength(static_cast<int64_t>(size), 0))
    fuzzing::Violated("length beyond what the file can hold");
  return 0;
}

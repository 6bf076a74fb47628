// One montage section of the source clip.
#pragma once

#include <cstdint>

struct PERIOD {
  int32_t nFrom = 0;  // start, ms
  int32_t nDur = 0;   // length, ms; the section ends at nFrom + nDur
  int32_t nSeq = 0;   // 1-based place in the output clip
};

// Frame-preview state shared inside the edit engine library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "PreviewGeometry.h"
#include "WinTypes.h"

struct QmvBitmap {
  BITMAPINFOHEADER header;
  int32_t stride = 0;  // bytes per row
  std::vector<uint8_t> bits;
};

struct QmvMemDC {
  QmvBitmap* selected = nullptr;
};

namespace qmvedit {

// One back buffer and one output format per loaded library: only one session of a process
// can preview frames.
extern uint8_t* g_pBackBits;
extern BITMAPINFOHEADER* g_pOutputBih;

void DeleteMemDC(QmvMemDC* dc);
void DeleteBitmap(QmvBitmap* bitmap);

}  // namespace qmvedit

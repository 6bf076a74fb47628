// Frame-preview state shared inside the edit engine library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

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

// Bytes of a bitmap header copy: the header, three colour masks for BI_BITFIELDS, and the
// palette entries it declares.
size_t HeaderCopySize(const BITMAPINFOHEADER* header);

void DeleteMemDC(QmvMemDC* dc);
void DeleteBitmap(QmvBitmap* bitmap);

// Picture rectangle of a videoW x videoH picture fitted, aspect kept and centred, into a
// windowW x windowH client area.
struct FitRect {
  int x, y, width, height;
};
FitRect FitPicture(int32_t videoW, int32_t videoH, int windowW, int windowH);

}  // namespace qmvedit

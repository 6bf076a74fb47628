// Arithmetic of the frame preview, kept apart so that it can be checked on its own.
#pragma once

#include <cstddef>
#include <cstdint>

#include "WinTypes.h"

namespace qmvedit {

// Bytes of a bitmap header copy: the header, three colour masks for BI_BITFIELDS, and the
// palette entries it declares.
size_t HeaderCopySize(const BITMAPINFOHEADER* header);

// Picture rectangle of a videoW x videoH picture fitted, aspect kept and centred, into a
// windowW x windowH client area.
struct FitRect {
  int x, y, width, height;
};
FitRect FitPicture(int32_t videoW, int32_t videoH, int windowW, int windowH);

}  // namespace qmvedit

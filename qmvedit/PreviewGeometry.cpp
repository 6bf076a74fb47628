#include "PreviewGeometry.h"

namespace qmvedit {

size_t HeaderCopySize(const BITMAPINFOHEADER* header) {
  size_t size = sizeof(BITMAPINFOHEADER);
  if (header->biCompression == BI_BITFIELDS) size += 3 * sizeof(uint32_t);
  size += static_cast<size_t>(header->biClrUsed) * 4u;
  return size;
}

FitRect FitPicture(int32_t videoW, int32_t videoH, int windowW, int windowH) {
  const double vw = videoW < 0 ? -static_cast<double>(videoW) : videoW;
  const double vh = videoH < 0 ? -static_cast<double>(videoH) : videoH;
  int destW = static_cast<int>(vw / vh * windowH);
  int destH = windowH;
  if (destW > windowW) {
    destW = windowW;
    destH = static_cast<int>(vh / vw * windowW);
  }
  return FitRect{(windowW - destW) / 2, (windowH - destH) / 2, destW, destH};
}

}  // namespace qmvedit

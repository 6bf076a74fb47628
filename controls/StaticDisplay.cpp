#include "StaticDisplay.h"

#include <cstdlib>

StaticDisplay::StaticDisplay(CXStatic* target) : m_target(target) {}

void StaticDisplay::GetClientSize(int* width, int* height) {
  const QSize s = m_target ? m_target->size() : QSize(0, 0);
  if (width) *width = s.width();
  if (height) *height = s.height();
}

QImage StaticDisplay::CopyPixels(const uint8_t* pixels, int width, int height, int stride) {
  if (pixels == nullptr || width <= 0 || height <= 0) return QImage();
  if (static_cast<int64_t>(std::abs(static_cast<int64_t>(stride))) < int64_t{width} * 4)
    return QImage();
  QImage img(width, height, QImage::Format_RGB32);
  if (img.isNull()) return img;
  for (int y = 0; y < height; ++y) {
    const uint8_t* src = pixels + static_cast<ptrdiff_t>(y) * stride;
    auto* dst = reinterpret_cast<QRgb*>(img.scanLine(y));
    // B, G, R, X in memory; the X byte is not an alpha and is dropped.
    for (int x = 0; x < width; ++x, src += 4) dst[x] = qRgb(src[2], src[1], src[0]);
  }
  return img;
}

bool StaticDisplay::DrawImage(const uint8_t* pixels, int width, int height, int stride, int destX,
                              int destY, int destW, int destH) {
  if (!m_target || destW <= 0 || destH <= 0) return false;
  QImage img = CopyPixels(pixels, width, height, stride);
  if (img.isNull()) return false;
  if (img.width() != destW || img.height() != destH)
    img = img.scaled(destW, destH, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  m_target->SetFrameImage(img, QRect(destX, destY, destW, destH));
  return true;
}

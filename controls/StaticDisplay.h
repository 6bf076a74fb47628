// The edit engine's frame preview display on a CXStatic (the preview screen): the engine's
// 32-bit B, G, R, X pixels are copied, scaled smoothly into the destination rectangle and shown
// over the control's background.
#pragma once

#include <QPointer>

#include "CXStatic.h"
#include "HostWindow.h"

class StaticDisplay : public CDisplayWindow {
 public:
  explicit StaticDisplay(CXStatic* target);

  void GetClientSize(int* width, int* height) override;
  // `pixels` points at the top row; `stride` is the byte step to the next row down and is
  // negative for bottom-up buffers. Returns false for an unusable picture or a gone control.
  bool DrawImage(const uint8_t* pixels, int width, int height, int stride, int destX, int destY,
                 int destW, int destH) override;

  // Copies a B, G, R, X buffer into an opaque image (null when the arguments are unusable).
  static QImage CopyPixels(const uint8_t* pixels, int width, int height, int stride);

 private:
  QPointer<CXStatic> m_target;
};

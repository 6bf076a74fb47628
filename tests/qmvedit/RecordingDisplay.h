// A display window that keeps the last picture drawn into it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "ClipGen.h"
#include "HostWindow.h"
#include "PreviewGeometry.h"

namespace testutil {

class RecordingDisplay : public CDisplayWindow {
 public:
  RecordingDisplay(int w, int h) : w_(w), h_(h) {}
  void GetClientSize(int* width, int* height) override {
    *width = w_;
    *height = h_;
  }
  bool DrawImage(const uint8_t* pixels, int width, int height, int stride, int destX, int destY,
                 int destW, int destH) override {
    ++draws;
    image.assign(static_cast<size_t>(width) * height * 4, 0);
    for (int y = 0; y < height; ++y)
      std::memcpy(image.data() + static_cast<size_t>(y) * width * 4,
                  pixels + static_cast<ptrdiff_t>(y) * stride, static_cast<size_t>(width) * 4);
    imageW = width;
    imageH = height;
    dest = {destX, destY, destW, destH};
    return true;
  }
  // Frame index the clip generator drew into the last picture.
  int Code() const { return clipgen::ReadFrameCode(image.data(), imageW, imageH, imageW * 4); }

  int draws = 0;
  std::vector<uint8_t> image;  // top row first
  int imageW = 0, imageH = 0;
  qmvedit::FitRect dest{};

 private:
  int w_, h_;
};

}  // namespace testutil

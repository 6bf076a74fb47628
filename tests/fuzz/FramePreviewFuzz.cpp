// Any bytes as a clip through the frame preview: the video output, then pictures at a few
// positions drawn into a display that reads every pixel it is given.
#include <cstddef>
#include <cstdint>

#include "AsfMutator.h"
#include "CQmvedit.h"
#include "FuzzInput.h"
#include "HeaderSanity.h"

VANTREL_CLIP_FUZZER

namespace {

class ReadingDisplay : public CDisplayWindow {
 public:
  void GetClientSize(int* width, int* height) override {
    *width = 160;
    *height = 120;
  }
  bool DrawImage(const uint8_t* pixels, int width, int height, int stride, int, int, int,
                 int) override {
    // Every row, first and last byte: ASan sees a picture larger than its buffer.
    for (int y = 0; y < height; ++y) {
      const uint8_t* row = pixels + static_cast<ptrdiff_t>(y) * stride;
      sum_ += row[0] + row[static_cast<size_t>(width) * 4 - 1];
    }
    return true;
  }

 private:
  unsigned sum_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzing::MemoryClip clip(data, size);
  ReadingDisplay display;
  CQmvedit edit;
  if (edit.Init() != S_OK) fuzzing::Violated("Init");
  edit.SetDispWnd(&display);
  if (edit.SetSrcFile(clip.Path()) == S_OK) {
    edit.GetVideoOut();
    if (edit.GetVideoWidth() < 0 || edit.GetVideoWidth() > wm::kMaxPictureSide ||
        edit.GetVideoHeight() < 0 || edit.GetVideoHeight() > wm::kMaxPictureSide)
      fuzzing::Violated("picture size beyond what the codecs allow");
    for (int32_t ms : {0, 450, 1000, 200, 60000}) edit.FindPosPic(ms);
  }
  edit.Exit();
  return 0;
}

// A frame preview that keeps up with a moving cursor. A worker thread owns its own reader and
// decoder; the window's thread only asks for positions and draws what comes back.
//
// Requests coalesce: only the newest position is decoded, and a decode in progress gives up
// between two frames when a newer position arrives (the decoder stays where it is, so a later
// position of the same group of pictures goes on from there). Every decoded picture is kept,
// scaled to the display's fit size, for the last few groups of pictures, within a byte budget;
// a position inside what was decoded before is answered from memory. The picture given for a
// position is the frame the engine's own preview shows for it: the first frame at or after the
// position (within a second of it), and nothing past the clip's last frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "CQmvedit.h"  // QMVEDIT_API, CDisplayWindow

namespace qmvedit {

// A picture ready to be drawn: B, G, R, X pixels, top row first, already of its size on screen.
struct ScrubPicture {
  uint64_t clip = 0;      // which Open it belongs to
  int32_t requestMs = 0;  // the position it answers
  int64_t frameTime = 0;  // the frame's time, 100 ns
  int displayW = 0;       // display size it was fitted into
  int displayH = 0;
  int x = 0, y = 0;  // where it goes in the display
  int width = 0, height = 0;
  std::shared_ptr<const std::vector<uint8_t>> pixels;  // width * 4 bytes a row
};

struct ScrubStats {
  int64_t framesDecoded = 0;  // frames the decoder produced
  int64_t seeks = 0;          // decodes started again from a key frame
  int64_t fromMemory = 0;     // requests answered without decoding
  int64_t dropped = 0;        // requests replaced before their picture was ready
  int64_t published = 0;      // pictures handed out
  size_t cacheBytes = 0;      // pixel bytes held now
  size_t peakCacheBytes = 0;  // most pixel bytes ever held
  size_t groups = 0;          // groups of pictures held now
};

class QMVEDIT_API ScrubPreview {
 public:
  // The cache never holds more than budgetBytes of pixels (capped at 64 MiB).
  static constexpr size_t kDefaultBudget = size_t{48} << 20;
  static constexpr size_t kMaxBudget = size_t{64} << 20;

  explicit ScrubPreview(size_t budgetBytes = kDefaultBudget);
  ~ScrubPreview();  // stops the worker within a frame and joins it
  ScrubPreview(const ScrubPreview&) = delete;
  ScrubPreview& operator=(const ScrubPreview&) = delete;

  // Called from the worker thread each time a picture becomes ready. Set before the first Open.
  void SetNotify(std::function<void()> notify);

  // A new source clip (opened on the worker). Pictures of the previous clip are never handed
  // out after this returns. An empty path closes the clip.
  void Open(const std::string& path);
  // Key frame times (ms) of the pictures of the clip of the last Open (Open forgets them); helps
  // choose between decoding on and starting again from a key frame. Without a list the
  // previewer finds out by itself. A wrong list costs time, never a wrong picture.
  void SetKeyFrames(std::vector<int32_t> timesMs);
  // Size of the display the pictures are fitted into; a change drops what was kept.
  void SetDisplaySize(int width, int height);
  // Asks for the picture at a position; returns at once.
  void Request(int32_t posMs);

  // The newest picture of the current clip and display size not taken yet, or null.
  std::shared_ptr<const ScrubPicture> Take();
  // Waits until the newest request is answered (or has no picture) or the time is up; true when
  // nothing is left to do.
  bool WaitIdle(int timeoutMs);
  // False when the last Open could not read the clip (after WaitIdle).
  bool ClipOpen() const;

  ScrubStats Stats() const;

  // Draws a picture into a display window.
  static bool Draw(const ScrubPicture& picture, CDisplayWindow* display);

 private:
  struct State;
  std::unique_ptr<State> m_state;
};

}  // namespace qmvedit

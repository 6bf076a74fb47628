// Key frames of a clip's pictures: where a copied range really starts. A range copy begins at the
// latest key frame at or before its start, so these are the only points a cut can start on.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "CQmvedit.h"  // QMVEDIT_API, HRESULT

namespace qmvedit {

// Lists the key frames of the clip's first video stream, in steps, so that a worker thread can
// look for other work (or give up) between them. Times are ms on the engine's time line (the
// times a range copy and the frame preview use), ascending, without duplicates. Nothing is
// decoded: with a simple index, the headers of each indexed data packet are read; without one
// (a broadcast recording, a cut clip), or with key frames closer together than the index can
// tell apart, one pass over the data packets' headers with the other streams left out.
class QMVEDIT_API KeyFrameScan {
 public:
  KeyFrameScan();
  ~KeyFrameScan();
  KeyFrameScan(const KeyFrameScan&) = delete;
  KeyFrameScan& operator=(const KeyFrameScan&) = delete;

  // S_OK when the file is an ASF clip that can be read; a failure otherwise (nothing to list).
  HRESULT Open(const char* path);
  // Does about `budget` units of work (an indexed packet or a sample each). True once the
  // list is complete (also on a read error part way: what was found stays). Times() may be
  // looked at in between; it is sorted once the list is complete.
  bool Step(int budget);
  bool Done() const;
  const std::vector<int32_t>& Times() const;

 private:
  struct State;
  std::unique_ptr<State> m_state;
};

// The whole list at once. S_OK with an empty list for a clip without pictures.
QMVEDIT_API HRESULT ListKeyFrames(const char* path, std::vector<int32_t>* timesMs);

}  // namespace qmvedit

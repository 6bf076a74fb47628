// The source clip's key frames as the montage side uses them: where the copy of a section really
// starts (a copy begins at the latest key frame at or before its start), the key frame a
// beginning point snaps to, and the bar columns that get a tick.
#pragma once

#include <cstdint>
#include <vector>

class KeyFrameMarks {
 public:
  KeyFrameMarks() = default;
  explicit KeyFrameMarks(std::vector<int32_t> times) { Set(std::move(times)); }

  // Times in ms, in any order; duplicates and negative times are dropped. The list counts as
  // known from then on, also when it is empty (a clip without pictures).
  void Set(std::vector<int32_t> times);
  // Nothing known (a new clip whose listing has not finished).
  void Clear();
  bool Known() const { return m_known; }
  bool Empty() const { return m_times.empty(); }
  const std::vector<int32_t>& Times() const { return m_times; }

  // Where a copy from p really starts: the latest key frame at or before p; p itself without a
  // key frame list (sound only, or not known yet); the first key frame for a p before it, as a
  // copy from there opens the clip.
  int32_t RealStart(int32_t p) const;
  // The key frame in [lo, hi] nearest p, the earlier one of two equally near; false when none
  // lies in [lo, hi].
  bool Nearest(int32_t p, int32_t lo, int32_t hi, int32_t* key) const;

  // Columns, counted from the bar's left, of the key frames of the range [min, max] drawn on a
  // bar width pixels wide: ascending, each column once, so a long clip costs no more than the
  // bar's width. A position maps to the column trunc((t - min) / (max - min) * width), as the bar
  // maps every position; the range's last position is drawn in the last column.
  std::vector<int> TickColumns(int32_t min, int32_t max, int width) const;

 private:
  std::vector<int32_t> m_times;
  bool m_known = false;
};

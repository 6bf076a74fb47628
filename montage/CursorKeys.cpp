#include "CursorKeys.h"

#include <algorithm>
#include <cmath>

namespace cursorkeys {

namespace {

// Frame rates are rounded on the way into a clip; a hair keeps exact multiples exact.
constexpr double kEpsilon = 1e-6;

// A clip stores its rate as a picture's length in 100-ns units (333333 for 30 fps), so the rate
// read back is a hair off; over an hour that would move the computed frames by milliseconds.
// Rates this close to a whole number, or to one of the 1000/1001 rates, are taken as that rate.
double Rate(double fps) {
  if (fps <= 0) return 25.0;
  for (const double exact : {std::round(fps), std::round(fps * 1.001) / 1.001})
    if (std::abs(fps - exact) < fps * 1e-4) return exact;
  return fps;
}

int64_t FrameTime(int64_t n, double fps) {
  return static_cast<int64_t>(std::floor(static_cast<double>(n) * 1000.0 / fps + kEpsilon));
}

// Index of the first frame at or after pos.
int64_t FrameAtOrAfter(int32_t pos, double fps) {
  return static_cast<int64_t>(std::ceil(static_cast<double>(pos) * fps / 1000.0 - kEpsilon));
}

std::vector<int32_t> Positions(const Marks& m) {
  std::vector<int32_t> out;
  for (const PERIOD& s : m.sections) {
    out.push_back(s.nFrom);
    out.push_back(s.nFrom + s.nDur);
  }
  if (m.beginSet) out.push_back(m.begin);
  if (m.splitState >= 1) out.push_back(m.split1);
  if (m.splitState >= 2) out.push_back(m.split2);
  std::sort(out.begin(), out.end());
  return out;
}

int32_t After(const std::vector<int32_t>& sorted, int32_t pos) {
  const auto it = std::upper_bound(sorted.begin(), sorted.end(), pos);
  return it == sorted.end() ? pos : *it;
}

int32_t Before(const std::vector<int32_t>& sorted, int32_t pos) {
  const auto it = std::lower_bound(sorted.begin(), sorted.end(), pos);
  return it == sorted.begin() ? pos : *(it - 1);
}

}  // namespace

int32_t NextFrame(int32_t pos, double fps, int32_t max) {
  const double rate = Rate(fps);
  const int64_t t = FrameTime(FrameAtOrAfter(pos, rate) + 1, rate);
  return t >= max ? pos : static_cast<int32_t>(t);
}

int32_t PreviousFrame(int32_t pos, double fps) {
  const double rate = Rate(fps);
  const int64_t n = FrameAtOrAfter(pos, rate) - 1;
  return n < 0 ? pos : static_cast<int32_t>(FrameTime(n, rate));
}

int32_t NextKeyFrame(const KeyFrameMarks& keys, int32_t pos) {
  return After(keys.Times(), pos);
}

int32_t PreviousKeyFrame(const KeyFrameMarks& keys, int32_t pos) {
  return Before(keys.Times(), pos);
}

int32_t NextMark(const Marks& marks, int32_t pos) {
  return After(Positions(marks), pos);
}

int32_t PreviousMark(const Marks& marks, int32_t pos) {
  return Before(Positions(marks), pos);
}

Point PointAt(const Marks& m, int32_t pos) {
  // As the timeline holds a position: from the start to the end, both included.
  const bool inside = std::any_of(m.sections.begin(), m.sections.end(), [&](const PERIOD& s) {
    return s.nFrom <= pos && pos <= s.nFrom + s.nDur;
  });
  if (inside) return m.splitState == 1 ? Point::SecondSplit : Point::FirstSplit;
  return m.beginSet ? Point::End : Point::Begin;
}

bool IsBeginKind(Point p) {
  return p == Point::Begin || p == Point::FirstSplit;
}

}  // namespace cursorkeys

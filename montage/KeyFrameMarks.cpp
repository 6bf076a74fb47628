#include "KeyFrameMarks.h"

#include <algorithm>
#include <cmath>

void KeyFrameMarks::Set(std::vector<int32_t> times) {
  std::sort(times.begin(), times.end());
  times.erase(std::unique(times.begin(), times.end()), times.end());
  times.erase(times.begin(), std::lower_bound(times.begin(), times.end(), 0));
  m_times = std::move(times);
  m_known = true;
}

void KeyFrameMarks::Clear() {
  m_times.clear();
  m_known = false;
}

int32_t KeyFrameMarks::RealStart(int32_t p) const {
  if (m_times.empty()) return p;
  auto it = std::upper_bound(m_times.begin(), m_times.end(), p);
  return it == m_times.begin() ? m_times.front() : *(it - 1);
}

bool KeyFrameMarks::Nearest(int32_t p, int32_t lo, int32_t hi, int32_t* key) const {
  if (lo > hi) return false;
  const auto first = std::lower_bound(m_times.begin(), m_times.end(), lo);
  const auto last = std::upper_bound(first, m_times.end(), hi);
  if (first == last) return false;
  auto after = std::lower_bound(first, last, p);
  if (after == last) {
    *key = *(last - 1);
  } else if (after == first) {
    *key = *first;
  } else {
    const int64_t below = static_cast<int64_t>(p) - *(after - 1);
    const int64_t above = static_cast<int64_t>(*after) - p;
    *key = below <= above ? *(after - 1) : *after;
  }
  return true;
}

std::vector<int> KeyFrameMarks::TickColumns(int32_t min, int32_t max, int width) const {
  std::vector<int> cols;
  if (width <= 0 || max <= min) return cols;
  const double span = static_cast<double>(max) - min;
  const auto col = [&](int32_t t) {
    const int c = static_cast<int>(std::trunc((static_cast<double>(t) - min) / span * width));
    return std::clamp(c, 0, width - 1);
  };
  auto it = std::lower_bound(m_times.begin(), m_times.end(), min);
  const auto end = std::upper_bound(it, m_times.end(), max);
  // One binary search per column that has a tick: the first key frame past the last column.
  while (it != end) {
    const int c = col(*it);
    cols.push_back(c);
    if (c >= width - 1) break;
    it = std::partition_point(it, end, [&](int32_t t) { return col(t) <= c; });
  }
  return cols;
}

// Limits on what a clip's header and its samples can truly say, and arithmetic that does not
// overflow on the figures of a damaged clip. Times are 100-ns units.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>

namespace wm {

// No Windows Media video codec takes pictures larger than this on either side.
constexpr int32_t kMaxPictureSide = 8192;

// The lowest bit rate a clip's bytes are counted at, whatever the header declares: below what
// any Windows Media audio or video codec produces.
constexpr int64_t kMinClipBitRate = 4000;
// How far the declared rate may lie above the rate the file's bytes really carry (variable bit
// rate clips declare their peak), and a length any clip may have.
constexpr int64_t kBitRateSlack = 16;
constexpr int64_t kAnyLength = 10 * 10000000LL;

inline int64_t SaturatingAdd(int64_t a, int64_t b) {
  int64_t r;
  if (!__builtin_add_overflow(a, b, &r)) return r;
  return b > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
}

inline int64_t SaturatingSub(int64_t a, int64_t b) {
  int64_t r;
  if (!__builtin_sub_overflow(a, b, &r)) return r;
  return b < 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
}

// A figure computed in floating point from a damaged clip's values, as a 64-bit integer.
inline int64_t SaturatingFromDouble(double v) {
  if (!(v > -9.0e18)) return v != v ? 0 : std::numeric_limits<int64_t>::min();
  if (v >= 9.0e18) return std::numeric_limits<int64_t>::max();
  return static_cast<int64_t>(v);
}

// The longest length a clip of this many bytes can play at the declared bit rate (0: unknown).
inline int64_t MaxPlausibleLength(int64_t fileBytes, int64_t bitRate) {
  if (fileBytes <= 0) return kAnyLength;
  const int64_t rate = std::max(bitRate, kMinClipBitRate);
  // bytes * 8 bits / rate seconds, times the slack, in 100 ns; fileBytes < 2^63 / 8e7 for any
  // file that exists, but the product is saturated all the same.
  const double seconds = static_cast<double>(fileBytes) * 8.0 / static_cast<double>(rate);
  const double length = seconds * 1e7 * static_cast<double>(kBitRateSlack) + kAnyLength;
  if (length >= 9.0e18) return std::numeric_limits<int64_t>::max();
  return static_cast<int64_t>(length);
}

// A picture size a video stream can have: positive and within the codecs' limit. A negative
// height (top-down rows) counts by its magnitude.
inline bool PlausiblePicture(int64_t width, int64_t height) {
  const int64_t h = height < 0 ? -height : height;
  return width > 0 && width <= kMaxPictureSide && h > 0 && h <= kMaxPictureSide;
}

}  // namespace wm

// A mutator that knows the ASF header objects: it finds them by their GUIDs anywhere in the input
// and rewrites one of their fields (sizes, counts, durations, the bitmap and wave format fields)
// with a value that is likely to matter: 0, 1, the extremes of the field's width, a power of two
// near a limit, a nearby value or a random one. Half of the mutations are libFuzzer's own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

namespace fuzzing {

struct AsfField {
  uint16_t offset;  // from the start of the object
  uint8_t width;    // bytes, little endian
};

struct AsfObject {
  const char* guid;  // as written: 8-4-4-4-12 hex digits
  std::vector<AsfField> fields;
};

// Offsets count from the object's GUID; every object has its 64-bit size at 16.
inline const std::vector<AsfObject>& AsfObjects() {
  static const std::vector<AsfObject> objects = {
      // Header: object count, two reserved bytes.
      {"75B22630-668E-11CF-A6D9-00AA0062CE6C", {{16, 8}, {24, 4}, {28, 1}, {29, 1}}},
      // File properties: file size, creation date, data packets, play and send duration,
      // preroll, flags, minimum and maximum packet size, maximum bit rate.
      {"8CABDCA1-A947-11CF-8EE4-00C00C205365",
       {{16, 8},
        {40, 8},
        {48, 8},
        {56, 8},
        {64, 8},
        {72, 8},
        {80, 8},
        {88, 4},
        {92, 4},
        {96, 4},
        {100, 4}}},
      // Stream properties: time offset, type-specific and error correction lengths, flags
      // (stream number), then the type-specific data: a video stream's encoded size, format data
      // size and bitmap header, an audio stream's wave format (the same bytes, other meaning).
      {"B7DC0791-A9B7-11CF-8EE6-00C00C205365",
       {{16, 8},  {56, 8},  {64, 4}, {68, 4},  {72, 2},  {78, 4},  {82, 4},  {86, 1},  {87, 2},
        {89, 4},  {93, 4},  {97, 4}, {101, 2}, {103, 2}, {105, 4}, {109, 4}, {113, 4}, {117, 4},
        {121, 4}, {125, 4}, {78, 2}, {80, 2},  {90, 2},  {92, 2},  {94, 2},  {96, 2},  {98, 2}}},
      // Header extension: data size.
      {"5FBF03B5-A92E-11CF-8EE3-00C00C205365", {{16, 8}, {40, 2}, {42, 4}}},
      // Extended stream properties: start and end time, bit rates, buffer sizes, maximum object
      // size, flags, stream number, language, average time per frame, name and payload counts.
      {"14E6A5CB-C672-4332-8399-A96952065B5A",
       {{16, 8},
        {24, 8},
        {32, 8},
        {40, 4},
        {44, 4},
        {48, 4},
        {52, 4},
        {56, 4},
        {60, 4},
        {64, 4},
        {68, 4},
        {72, 2},
        {74, 2},
        {76, 8},
        {84, 2},
        {86, 2}}},
      // Stream bit rate properties: record count, then flags and bit rate of the first records.
      {"7BF875CE-468D-11D1-8D82-006097C9A2B2",
       {{16, 8}, {24, 2}, {26, 2}, {28, 4}, {32, 2}, {34, 4}}},
      // Codec list: count, first entry's type and name length.
      {"86D15240-311D-11D0-A3A4-00A0C90348F6", {{16, 8}, {40, 4}, {44, 2}, {46, 2}}},
      // Content description: the five string lengths.
      {"75B22633-668E-11CF-A6D9-00AA0062CE6C", {{16, 8}, {24, 2}, {26, 2}, {28, 2}, {30, 2}}},
      // Extended content description: count, first name length.
      {"D2D0A440-E307-11D2-97F0-00A0C95EA850", {{16, 8}, {24, 2}, {26, 2}}},
      // Data: total data packets, reserved.
      {"75B22636-668E-11CF-A6D9-00AA0062CE6C", {{16, 8}, {40, 8}, {48, 2}}},
      // Simple index: time interval, maximum packet count, entry count, first entries.
      {"33000890-E5B1-11CF-89F4-00A0C90349CB",
       {{16, 8}, {40, 8}, {48, 4}, {52, 4}, {56, 4}, {60, 2}, {62, 4}, {66, 2}}},
      // Index: entry time interval, specifier count, block count.
      {"D6E229D3-35DA-11D1-9034-00A0C90349BE", {{16, 8}, {24, 4}, {28, 2}, {30, 4}}},
      // Padding and the stream type GUIDs themselves (so that a type can be swapped).
      {"1806D474-CADF-4509-A4BA-9AABCB96AAE8", {{16, 8}}},
  };
  return objects;
}

// The 16 bytes of a GUID as a file stores it.
inline std::vector<uint8_t> GuidBytes(const char* text) {
  auto hex = [](char c) -> int { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
  std::vector<uint8_t> v;
  for (const char* p = text; *p;) {
    if (*p == '-') {
      ++p;
      continue;
    }
    v.push_back(static_cast<uint8_t>(hex(p[0]) << 4 | hex(p[1])));
    p += 2;
  }
  // The first three groups are little endian.
  std::swap(v[0], v[3]);
  std::swap(v[1], v[2]);
  std::swap(v[4], v[5]);
  std::swap(v[6], v[7]);
  return v;
}

inline size_t MutateAsf(uint8_t* data, size_t size, size_t maxSize, unsigned seed) {
  std::minstd_rand rng(seed);
  if (rng() % 2 == 0 || size < 24) return LLVMFuzzerMutate(data, size, maxSize);

  struct Hit {
    size_t at;
    const AsfObject* object;
  };
  static const std::vector<std::vector<uint8_t>> guids = [] {
    std::vector<std::vector<uint8_t>> g;
    for (const AsfObject& o : AsfObjects()) g.push_back(GuidBytes(o.guid));
    return g;
  }();
  std::vector<Hit> hits;
  for (size_t k = 0; k < guids.size(); ++k) {
    const std::vector<uint8_t>& g = guids[k];
    for (size_t at = 0; at + g.size() <= size; ++at) {
      const void* found = std::memchr(data + at, g[0], size - at);
      if (found == nullptr) break;
      at = static_cast<size_t>(static_cast<const uint8_t*>(found) - data);
      if (at + g.size() <= size && std::memcmp(data + at, g.data(), g.size()) == 0)
        hits.push_back({at, &AsfObjects()[k]});
    }
  }
  if (hits.empty()) return LLVMFuzzerMutate(data, size, maxSize);
  const Hit& hit = hits[rng() % hits.size()];
  const AsfField& field = hit.object->fields[rng() % hit.object->fields.size()];
  const size_t at = hit.at + field.offset;
  if (at + field.width > size) return LLVMFuzzerMutate(data, size, maxSize);

  uint64_t old = 0;
  for (int b = 0; b < field.width; ++b) old |= static_cast<uint64_t>(data[at + b]) << (8 * b);
  const int bits = field.width * 8;
  const uint64_t mask = bits == 64 ? ~0ull : (1ull << bits) - 1;
  uint64_t value = 0;
  switch (rng() % 12) {
    case 0:
      value = 0;
      break;
    case 1:
      value = 1;
      break;
    case 2:
      value = mask;
      break;  // -1
    case 3:
      value = mask >> 1;
      break;  // largest signed
    case 4:
      value = (mask >> 1) + 1;
      break;  // smallest signed
    case 5:
      value = (mask >> 1) - (rng() % 100000);
      break;  // just below the largest
    case 6:
      value = 1ull << (rng() % bits);
      break;
    case 7:
      value = uint64_t{8192} + (rng() % 3) - 1;
      break;  // the picture size limit
    case 8:
      value = old + (rng() % 33) - 16;
      break;
    case 9:
      value = old * (2 + rng() % 1000);
      break;
    case 10:
      value = old / (2 + rng() % 1000);
      break;
    default:
      value = (static_cast<uint64_t>(rng()) << 33) ^ (static_cast<uint64_t>(rng()) << 2) ^ rng();
  }
  value &= mask;
  for (int b = 0; b < field.width; ++b) data[at + b] = static_cast<uint8_t>(value >> (8 * b));
  return size;
}

}  // namespace fuzzing

// Every clip fuzzer mutates through the ASF-aware mutator and keeps FFmpeg's log quiet (it
// would spend more time writing about damaged packets than reading them).
#define VANTREL_CLIP_FUZZER                                                             \
  extern "C" int LLVMFuzzerInitialize(int*, char***) {                                  \
    av_log_set_level(AV_LOG_QUIET);                                                     \
    return 0;                                                                           \
  }                                                                                     \
  extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize, \
                                            unsigned int seed) {                        \
    return fuzzing::MutateAsf(data, size, maxSize, seed);                               \
  }

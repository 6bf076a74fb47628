// Damages the header of a clip in place, as an old disk or a faulty encoder does: rewrites one
// field of one ASF header object of a generated clip. For the tests of damaged clips.
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace clipgen {

enum class HeaderObject {
  FileProperties,   // offsets: 40 file size, 56 data packets, 64 play duration, 80 preroll
  VideoProperties,  // the video stream's properties: 93 picture width, 97 picture height
  AudioProperties,  // the first audio stream's properties: 80 channels, 82 sample rate
};

// Offsets from the start of the object (its GUID).
constexpr size_t kPlayDurationAt = 64;
constexpr size_t kPictureWidthAt = 93;
constexpr size_t kPictureHeightAt = 97;

// Writes value (little endian, width bytes) at offset into the object; false when the clip
// has no such object or the field lies outside it.
inline bool PatchHeader(const std::string& path, HeaderObject object, size_t offset, int width,
                        uint64_t value) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  in.close();
  auto guid = [](uint32_t a, uint16_t b, uint16_t c, uint64_t d) {
    std::vector<uint8_t> g;
    for (int i = 0; i < 4; ++i) g.push_back(static_cast<uint8_t>(a >> (8 * i)));
    for (int i = 0; i < 2; ++i) g.push_back(static_cast<uint8_t>(b >> (8 * i)));
    for (int i = 0; i < 2; ++i) g.push_back(static_cast<uint8_t>(c >> (8 * i)));
    for (int i = 7; i >= 0; --i) g.push_back(static_cast<uint8_t>(d >> (8 * i)));
    return g;
  };
  const auto fileProps = guid(0x8CABDCA1, 0xA947, 0x11CF, 0x8EE400C00C205365ull);
  const auto streamProps = guid(0xB7DC0791, 0xA9B7, 0x11CF, 0x8EE600C00C205365ull);
  const auto video = guid(0xBC19EFC0, 0x5B4D, 0x11CF, 0xA8FD00805F5C442Bull);
  const auto audio = guid(0xF8699E40, 0x5B4D, 0x11CF, 0xA8FD00805F5C442Bull);
  auto read64 = [&](size_t at) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v |= static_cast<uint64_t>(bytes[at + i]) << (8 * i);
    return v;
  };
  auto is = [&](size_t at, const std::vector<uint8_t>& g) {
    return at + 16 <= bytes.size() && std::memcmp(bytes.data() + at, g.data(), 16) == 0;
  };
  // The header object: GUID, size, object count, two reserved bytes, then its objects.
  if (bytes.size() < 30) return false;
  const uint64_t headerEnd = std::min<uint64_t>(read64(16), bytes.size());
  for (size_t at = 30; at + 24 <= headerEnd;) {
    const uint64_t size = read64(at + 16);
    if (size < 24 || size > headerEnd - at) return false;
    bool match = false;
    if (object == HeaderObject::FileProperties) match = is(at, fileProps);
    if (object == HeaderObject::VideoProperties) match = is(at, streamProps) && is(at + 24, video);
    if (object == HeaderObject::AudioProperties) match = is(at, streamProps) && is(at + 24, audio);
    if (match) {
      if (offset + static_cast<size_t>(width) > size) return false;
      for (int i = 0; i < width; ++i)
        bytes[at + offset + i] = static_cast<uint8_t>(value >> (8 * i));
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char*>(bytes.data()),
                static_cast<std::streamsize>(bytes.size()));
      return static_cast<bool>(out);
    }
    at += size;
  }
  return false;
}

}  // namespace clipgen

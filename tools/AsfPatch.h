// Damages the header of a clip in place, as an old disk or a faulty encoder does: rewrites one
// field of one ASF header object of a generated clip. For the tests of damaged clips.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "AsfObjects.h"

namespace clipgen {

enum class HeaderObject {
  FileProperties,   // offsets: 40 file size, 56 data packets, 64 play duration, 80 preroll
  VideoProperties,  // the video stream's properties: 93 picture width, 97 picture height,
                    // 105 codec (four characters)
  AudioProperties,  // the first audio stream's properties: 80 channels, 82 sample rate
};

// Offsets from the start of the object (its GUID).
constexpr size_t kFileSizeAt = 40;
constexpr size_t kDataPacketsAt = 56;
constexpr size_t kPlayDurationAt = 64;
constexpr size_t kSendDurationAt = 72;
constexpr size_t kFileFlagsAt = 88;  // bit 0 broadcast, bit 1 seekable
constexpr size_t kPictureWidthAt = 93;
constexpr size_t kPictureHeightAt = 97;
constexpr size_t kCodecAt = 105;

// A codec's four characters ("WVC1") as the little-endian value PatchHeader writes.
inline uint64_t FourCc(const char (&code)[5]) {
  uint64_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<uint64_t>(static_cast<uint8_t>(code[i])) << (8 * i);
  return v;
}

// Writes value (little endian, width bytes) at offset into the object; false when the clip
// has no such object or the field lies outside it.
inline bool PatchHeader(const std::string& path, HeaderObject object, size_t offset, int width,
                        uint64_t value) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  in.close();
  // The stream type GUIDs a stream properties object starts its fields with.
  constexpr asf::Guid video = asf::MakeGuid(0xBC19EFC0, 0x5B4D, 0x11CF, 0xA8FD00805F5C442Bull);
  constexpr asf::Guid audio = asf::MakeGuid(0xF8699E40, 0x5B4D, 0x11CF, 0xA8FD00805F5C442Bull);
  auto read64 = [&](size_t at) { return asf::Get(bytes.data() + at, 8); };
  auto is = [&](size_t at, const asf::Guid& g) {
    return at + g.size() <= bytes.size() && asf::Is(bytes.data() + at, g);
  };
  // The header object: GUID, size, object count, two reserved bytes, then its objects.
  if (bytes.size() < 30) return false;
  const uint64_t headerEnd = std::min<uint64_t>(read64(16), bytes.size());
  for (size_t at = 30; at + 24 <= headerEnd;) {
    const uint64_t size = read64(at + 16);
    if (size < 24 || size > headerEnd - at) return false;
    bool match = false;
    if (object == HeaderObject::FileProperties) match = is(at, asf::kFileProperties);
    if (object == HeaderObject::VideoProperties)
      match = is(at, asf::kStreamProperties) && is(at + 24, video);
    if (object == HeaderObject::AudioProperties)
      match = is(at, asf::kStreamProperties) && is(at + 24, audio);
    if (match) {
      if (offset + static_cast<size_t>(width) > size) return false;
      asf::Set(bytes.data() + at + offset, value, width);
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char*>(bytes.data()),
                static_cast<std::streamsize>(bytes.size()));
      return static_cast<bool>(out);
    }
    at += size;
  }
  return false;
}

// Takes every object after the data object (the simple index and any other index) off the end of
// the clip, and makes its header say so: the file size drops to what is left and the clip is no
// longer seekable. What remains is a clip as a recording of a broadcast or a cut leaves it.
inline bool DropIndex(const std::string& path) {
  std::error_code ec;
  const uint64_t fileSize = std::filesystem::file_size(path, ec);
  if (ec) return false;
  uint8_t head[24];
  auto read64At = [&](uint64_t at, uint64_t* v) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(at));
    in.read(reinterpret_cast<char*>(head), sizeof(head));
    if (!in) return false;
    *v = asf::Get(head + 16, 8);
    return true;
  };
  // The header object's size, then the data object's size just behind it.
  uint64_t headerSize = 0, dataSize = 0;
  if (!read64At(0, &headerSize) || headerSize < 30 || headerSize >= fileSize) return false;
  if (!read64At(headerSize, &dataSize) || dataSize < 50 || dataSize > fileSize - headerSize)
    return false;
  const uint64_t end = headerSize + dataSize;
  if (end < fileSize) {
    std::filesystem::resize_file(path, end, ec);
    if (ec) return false;
  }
  if (!PatchHeader(path, HeaderObject::FileProperties, kFileSizeAt, 8, end)) return false;
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes(static_cast<size_t>(headerSize));
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!in) return false;
  for (size_t at = 0; at + kFileFlagsAt + 4 <= bytes.size(); ++at) {
    if (!asf::Is(bytes.data() + at, asf::kFileProperties)) continue;
    const uint64_t flags = asf::Get(bytes.data() + at + kFileFlagsAt, 4);
    return PatchHeader(path, HeaderObject::FileProperties, kFileFlagsAt, 4, flags & ~uint64_t{2});
  }
  return false;
}

// Makes the header of a clip without an index read as a live encoder writes it: the play and send
// durations and the data packet counts (of the file properties and of the data object) are 0 and
// the broadcast flag is set, so nothing in the header tells the clip's length.
inline bool MakeBroadcastHeader(const std::string& path) {
  for (size_t at : {kDataPacketsAt, kPlayDurationAt, kSendDurationAt})
    if (!PatchHeader(path, HeaderObject::FileProperties, at, 8, 0)) return false;
  std::fstream io(path, std::ios::binary | std::ios::in | std::ios::out);
  uint8_t head[24];
  io.read(reinterpret_cast<char*>(head), sizeof(head));
  if (!io) return false;
  const uint64_t headerSize = asf::Get(head + 16, 8);
  std::vector<uint8_t> header(static_cast<size_t>(headerSize));
  io.seekg(0);
  io.read(reinterpret_cast<char*>(header.data()), static_cast<std::streamsize>(header.size()));
  if (!io) return false;
  size_t fileProps = 0;
  while (fileProps + kFileFlagsAt + 4 <= header.size() &&
         !asf::Is(header.data() + fileProps, asf::kFileProperties))
    ++fileProps;
  if (fileProps + kFileFlagsAt + 4 > header.size()) return false;
  header[fileProps + kFileFlagsAt] |= 1;  // broadcast
  // The data object's packet count: behind its GUID, size and file id.
  constexpr size_t kDataObjectPacketsAt = 40;
  const uint8_t zero[8] = {};
  io.seekp(static_cast<std::streamoff>(fileProps + kFileFlagsAt));
  io.write(reinterpret_cast<const char*>(header.data() + fileProps + kFileFlagsAt), 1);
  io.seekp(static_cast<std::streamoff>(headerSize + kDataObjectPacketsAt));
  io.write(reinterpret_cast<const char*>(zero), sizeof(zero));
  return static_cast<bool>(io);
}

}  // namespace clipgen

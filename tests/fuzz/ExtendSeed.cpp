// Writes a copy of a clip whose header carries the objects Windows Media encoders add and the
// FFmpeg muxer does not: an extended stream properties object per stream in the header extension
// (bit rates, buffer sizes, average time per frame) and a stream bit rate properties object, so
// that the fuzzers start from clips that have them.
//   extend_seed <clip> <output>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "AsfMutator.h"

namespace {

using Bytes = std::vector<uint8_t>;

uint64_t Read(const Bytes& b, size_t at, int width) {
  uint64_t v = 0;
  for (int i = 0; i < width; ++i) v |= static_cast<uint64_t>(b[at + i]) << (8 * i);
  return v;
}
void Write(Bytes& b, size_t at, int width, uint64_t v) {
  for (int i = 0; i < width; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void Append(Bytes& b, int width, uint64_t v) {
  b.resize(b.size() + width);
  Write(b, b.size() - width, width, v);
}
void AppendGuid(Bytes& b, const char* guid) {
  const Bytes g = fuzzing::GuidBytes(guid);
  b.insert(b.end(), g.begin(), g.end());
}
bool Is(const Bytes& b, size_t at, const char* guid) {
  const Bytes g = fuzzing::GuidBytes(guid);
  return at + 16 <= b.size() && std::memcmp(b.data() + at, g.data(), 16) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <clip> <output>\n", argv[0]);
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  Bytes clip((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (clip.size() < 30 || !Is(clip, 0, "75B22630-668E-11CF-A6D9-00AA0062CE6C")) return 1;
  const size_t headerEnd = static_cast<size_t>(Read(clip, 16, 8));
  if (headerEnd > clip.size()) return 1;

  struct Stream {
    int number;
    bool video;
  };
  std::vector<Stream> streams;
  size_t extension = 0;
  for (size_t at = 30; at + 24 <= headerEnd;) {
    const size_t size = static_cast<size_t>(Read(clip, at + 16, 8));
    if (size < 24 || size > headerEnd - at) return 1;
    if (Is(clip, at, "B7DC0791-A9B7-11CF-8EE6-00C00C205365"))
      streams.push_back({static_cast<int>(Read(clip, at + 72, 2) & 0x7F),
                         Is(clip, at + 24, "BC19EFC0-5B4D-11CF-A8FD-00805F5C442B")});
    if (Is(clip, at, "5FBF03B5-A92E-11CF-8EE3-00C00C205365")) extension = at;
    at += size;
  }
  if (extension == 0 || streams.empty()) return 1;

  Bytes extended;  // extended stream properties, one per stream
  for (const Stream& s : streams) {
    AppendGuid(extended, "14E6A5CB-C672-4332-8399-A96952065B5A");
    Append(extended, 8, 88);
    Append(extended, 8, 0);                        // start time
    Append(extended, 8, 0);                        // end time
    Append(extended, 4, s.video ? 40000 : 32000);  // data bit rate
    Append(extended, 4, 3000);                     // buffer size, ms
    Append(extended, 4, 3000);                     // initial buffer fullness
    Append(extended, 4, s.video ? 40000 : 32000);  // alternate data bit rate
    Append(extended, 4, 3000);                     // alternate buffer size
    Append(extended, 4, 3000);                     // alternate initial fullness
    Append(extended, 4, s.video ? 4000 : 1500);    // maximum object size
    Append(extended, 4, 0x2);                      // flags: seekable
    Append(extended, 2, static_cast<uint64_t>(s.number));
    Append(extended, 2, 0);                      // language index
    Append(extended, 8, s.video ? 1000000 : 0);  // average time per frame
    Append(extended, 2, 0);                      // stream names
    Append(extended, 2, 0);                      // payload extension systems
  }
  Bytes bitrates;
  AppendGuid(bitrates, "7BF875CE-468D-11D1-8D82-006097C9A2B2");
  Append(bitrates, 8, 24 + 2 + 6 * streams.size());
  Append(bitrates, 2, streams.size());
  for (const Stream& s : streams) {
    Append(bitrates, 2, static_cast<uint64_t>(s.number));
    Append(bitrates, 4, s.video ? 40000 : 32000);
  }

  // The extension's objects end with it; the bit rates go last in the header.
  const size_t extensionEnd = extension + static_cast<size_t>(Read(clip, extension + 16, 8));
  clip.insert(clip.begin() + static_cast<std::ptrdiff_t>(headerEnd), bitrates.begin(),
              bitrates.end());
  clip.insert(clip.begin() + static_cast<std::ptrdiff_t>(extensionEnd), extended.begin(),
              extended.end());
  Write(clip, extension + 16, 8, Read(clip, extension + 16, 8) + extended.size());
  Write(clip, extension + 42, 4, Read(clip, extension + 42, 4) + extended.size());
  Write(clip, 16, 8, headerEnd + extended.size() + bitrates.size());
  Write(clip, 24, 4, Read(clip, 24, 4) + 1);
  // The file properties' file size follows, or the demuxer takes no duration from it.
  for (size_t at = 30; at + 24 <= clip.size(); at += static_cast<size_t>(Read(clip, at + 16, 8))) {
    if (Read(clip, at + 16, 8) < 24) break;
    if (Is(clip, at, "8CABDCA1-A947-11CF-8EE4-00C00C205365")) {
      Write(clip, at + 40, 8, clip.size());
      break;
    }
  }
  std::ofstream out(argv[2], std::ios::binary);
  out.write(reinterpret_cast<const char*>(clip.data()), static_cast<std::streamsize>(clip.size()));
  return out ? 0 : 1;
}

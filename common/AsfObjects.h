// The byte layout of ASF header objects: object GUIDs as a file stores them, little-endian
// fields, and the list of objects that lie one after another in a stretch of a header. Shared by
// the writer, which carries a source's stream declarations into a new clip, by the clip
// generator, which declares its streams as encoders do, and by its header patches for the tests.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace asf {

using Guid = std::array<uint8_t, 16>;

// A GUID in its written form {a-b-c-d}: a, b and c little endian, d's eight bytes as written.
constexpr Guid MakeGuid(uint32_t a, uint16_t b, uint16_t c, uint64_t d) {
  Guid g{};
  for (int i = 0; i < 4; ++i) g[i] = static_cast<uint8_t>(a >> (8 * i));
  for (int i = 0; i < 2; ++i) g[4 + i] = static_cast<uint8_t>(b >> (8 * i));
  for (int i = 0; i < 2; ++i) g[6 + i] = static_cast<uint8_t>(c >> (8 * i));
  for (int i = 0; i < 8; ++i) g[8 + i] = static_cast<uint8_t>(d >> (8 * (7 - i)));
  return g;
}

inline constexpr Guid kHeader = MakeGuid(0x75B22630, 0x668E, 0x11CF, 0xA6D900AA0062CE6Cull);
inline constexpr Guid kFileProperties = MakeGuid(0x8CABDCA1, 0xA947, 0x11CF, 0x8EE400C00C205365ull);
inline constexpr Guid kStreamProperties =
    MakeGuid(0xB7DC0791, 0xA9B7, 0x11CF, 0x8EE600C00C205365ull);
inline constexpr Guid kHeaderExtension =
    MakeGuid(0x5FBF03B5, 0xA92E, 0x11CF, 0x8EE300C00C205365ull);
inline constexpr Guid kContentDescription =
    MakeGuid(0x75B22633, 0x668E, 0x11CF, 0xA6D900AA0062CE6Cull);
inline constexpr Guid kStreamBitrateProperties =
    MakeGuid(0x7BF875CE, 0x468D, 0x11D1, 0x8D82006097C9A2B2ull);
inline constexpr Guid kExtendedStreamProperties =
    MakeGuid(0x14E6A5CB, 0xC672, 0x4332, 0x8399A96952065B5Aull);
inline constexpr Guid kLanguageList = MakeGuid(0x7C4346A9, 0xEFE0, 0x4BFC, 0xB229393EDE415C85ull);
inline constexpr Guid kPadding = MakeGuid(0x1806D474, 0xCADF, 0x4509, 0xA4BA9AABCB96AAE8ull);

// Every object: GUID, 64-bit size (the whole object), then its fields.
constexpr size_t kObjectHead = 24;
// The header object: object head, object count (32 bits), two reserved bytes.
constexpr size_t kHeaderHead = 30;
constexpr size_t kHeaderCountAt = 24;
// The header extension: object head, reserved GUID, reserved 16 bits, 32-bit size of the
// objects inside, then those objects.
constexpr size_t kExtensionHead = 46;
constexpr size_t kExtensionSizeAt = 42;
// Fields of the file properties object.
constexpr size_t kFileSizeAt = 40;
constexpr size_t kMaxBitrateAt = 100;
constexpr size_t kFilePropertiesSize = 104;
// Fields of the extended stream properties object.
constexpr size_t kExtStreamFixed = 88;  // object head and fixed fields
constexpr size_t kExtStartTimeAt = 24;
constexpr size_t kExtEndTimeAt = 32;
constexpr size_t kExtDataBitrateAt = 40;
constexpr size_t kExtBufferSizeAt = 44;
constexpr size_t kExtFlagsAt = 68;
constexpr size_t kExtStreamNumberAt = 72;
constexpr size_t kExtLanguageAt = 74;
constexpr size_t kExtAvgTimePerFrameAt = 76;
constexpr size_t kExtNameCountAt = 84;
constexpr size_t kExtPayloadCountAt = 86;
constexpr uint32_t kExtFlagSeekable = 2;

inline uint64_t Get(const uint8_t* p, int width) {
  uint64_t v = 0;
  for (int i = 0; i < width; ++i) v |= static_cast<uint64_t>(p[i]) << (8 * i);
  return v;
}

inline void Set(uint8_t* p, uint64_t v, int width) {
  for (int i = 0; i < width; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

inline void Put(std::vector<uint8_t>& out, uint64_t v, int width) {
  for (int i = 0; i < width; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

inline void PutGuid(std::vector<uint8_t>& out, const Guid& g) {
  out.insert(out.end(), g.begin(), g.end());
}

// Little-endian UTF-16 of an ASCII or UTF-8 text's code points below U+10000, ending in a 0.
inline std::vector<uint8_t> Utf16(const std::string& text) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i < text.size();) {
    uint32_t c = static_cast<uint8_t>(text[i]);
    int more = c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    c &= more == 2 ? 0x0F : more == 1 ? 0x1F : 0x7F;
    ++i;
    for (; more > 0 && i < text.size(); --more, ++i) c = (c << 6) | (text[i] & 0x3F);
    Put(out, c, 2);
  }
  Put(out, 0, 2);
  return out;
}

inline bool Is(const uint8_t* p, const Guid& g) {
  return std::memcmp(p, g.data(), g.size()) == 0;
}

struct Object {
  size_t at = 0;  // offset of its GUID
  size_t size = 0;
};

// The objects that fill [begin, end) of data one after another; none when their sizes do not
// add up to exactly that stretch.
inline std::optional<std::vector<Object>> Objects(const uint8_t* data, size_t begin, size_t end) {
  std::vector<Object> objects;
  size_t at = begin;
  while (at < end) {
    if (end - at < kObjectHead) return std::nullopt;
    const uint64_t size = Get(data + at + 16, 8);
    if (size < kObjectHead || size > end - at) return std::nullopt;
    objects.push_back(Object{at, static_cast<size_t>(size)});
    at += static_cast<size_t>(size);
  }
  return objects;
}

// The objects of a header object that starts data, and where its header extension's objects
// lie (extension is {0, 0} without one).
struct HeaderLayout {
  std::vector<Object> objects;
  Object extension;
  std::vector<Object> extensionObjects;
};

inline std::optional<HeaderLayout> ReadLayout(const std::vector<uint8_t>& header) {
  if (header.size() < kHeaderHead || !Is(header.data(), kHeader) ||
      Get(header.data() + 16, 8) != header.size())
    return std::nullopt;
  auto objects = Objects(header.data(), kHeaderHead, header.size());
  if (!objects) return std::nullopt;
  HeaderLayout layout;
  layout.objects = std::move(*objects);
  for (const Object& o : layout.objects) {
    if (!Is(header.data() + o.at, kHeaderExtension)) continue;
    if (o.size < kExtensionHead) return std::nullopt;
    const uint64_t inner = Get(header.data() + o.at + kExtensionSizeAt, 4);
    if (inner != o.size - kExtensionHead) return std::nullopt;
    auto inside = Objects(header.data(), o.at + kExtensionHead, o.at + o.size);
    if (!inside) return std::nullopt;
    layout.extension = o;
    layout.extensionObjects = std::move(*inside);
    break;
  }
  return layout;
}

}  // namespace asf

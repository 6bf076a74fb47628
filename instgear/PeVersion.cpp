#include "PeVersion.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace instgear {

namespace {

constexpr uint16_t kDosMagic = 0x5A4D;     // "MZ"
constexpr uint32_t kPeSignature = 0x4550;  // "PE\0\0"
constexpr uint16_t kMagicPe32 = 0x10B;
constexpr uint16_t kMagicPe32Plus = 0x20B;
constexpr uint32_t kResourceDirectory = 2;  // index among the optional header's data directories
constexpr uint32_t kRtVersion = 16;
constexpr uint32_t kVsVersionInfo = 1;
constexpr uint32_t kSubdirectoryFlag = 0x80000000u;
constexpr uint32_t kFixedInfoSignature = 0xFEEF04BDu;
constexpr size_t kFixedInfoSize = 52;  // sizeof(VS_FIXEDFILEINFO)
constexpr size_t kSectionHeaderSize = 40;
constexpr size_t kCoffHeaderSize = 20;
constexpr size_t kMaxKeyChars = 64;  // "VS_VERSION_INFO" and a little room

// Little-endian reads that fail instead of reading past the image.
bool U16(const ByteSource& src, uint64_t off, uint16_t& out) {
  uint8_t b[2];
  if (!src.Read(off, b, sizeof(b))) return false;
  out = static_cast<uint16_t>(b[0] | (b[1] << 8));
  return true;
}

bool U32(const ByteSource& src, uint64_t off, uint32_t& out) {
  uint8_t b[4];
  if (!src.Read(off, b, sizeof(b))) return false;
  out = uint32_t{b[0]} | (uint32_t{b[1]} << 8) | (uint32_t{b[2]} << 16) | (uint32_t{b[3]} << 24);
  return true;
}

struct Section {
  uint32_t virtualAddress;
  uint32_t rawSize;
  uint32_t rawOffset;
};

// The loaded image's addresses (RVAs) mapped back onto the file through the section table.
class Image {
 public:
  explicit Image(const ByteSource& src) : src_(src) {}

  bool ParseHeaders(uint32_t& resourceRva) {
    uint16_t magic = 0;
    uint32_t peOffset = 0, signature = 0;
    if (!U16(src_, 0, magic) || magic != kDosMagic) return false;
    if (!U32(src_, 0x3C, peOffset)) return false;
    if (!U32(src_, peOffset, signature) || signature != kPeSignature) return false;

    const uint64_t coff = uint64_t{peOffset} + 4;
    uint16_t sectionCount = 0, optionalSize = 0;
    if (!U16(src_, coff + 2, sectionCount) || !U16(src_, coff + 16, optionalSize)) return false;

    const uint64_t optional = coff + kCoffHeaderSize;
    uint16_t optMagic = 0;
    if (!U16(src_, optional, optMagic)) return false;
    uint64_t countField = 0;
    if (optMagic == kMagicPe32)
      countField = 92;
    else if (optMagic == kMagicPe32Plus)
      countField = 108;
    else
      return false;
    uint32_t directoryCount = 0;
    if (!U32(src_, optional + countField, directoryCount)) return false;
    const uint64_t resourceEntry = countField + 4 + uint64_t{kResourceDirectory} * 8;
    // The directory must be both counted and inside the optional header the file declares.
    if (directoryCount <= kResourceDirectory || resourceEntry + 8 > optionalSize) return false;
    uint32_t resourceSize = 0;
    if (!U32(src_, optional + resourceEntry, resourceRva) ||
        !U32(src_, optional + resourceEntry + 4, resourceSize))
      return false;
    if (resourceRva == 0 || resourceSize == 0) return false;

    // Each section header costs 40 bytes of file, so the count is bounded by the image itself.
    const uint64_t table = optional + optionalSize;
    if (sectionCount == 0 || table > src_.Size() ||
        uint64_t{sectionCount} * kSectionHeaderSize > src_.Size() - table)
      return false;
    sections_.reserve(sectionCount);
    for (uint64_t i = 0; i < sectionCount; ++i) {
      const uint64_t h = table + i * kSectionHeaderSize;
      Section s{};
      if (!U32(src_, h + 12, s.virtualAddress) || !U32(src_, h + 16, s.rawSize) ||
          !U32(src_, h + 20, s.rawOffset))
        return false;
      sections_.push_back(s);
    }
    return true;
  }

  // File offset of `length` bytes at `rva`, all inside one section's data in the file.
  bool Locate(uint32_t rva, uint64_t length, uint64_t& offset) const {
    for (const Section& s : sections_) {
      if (rva < s.virtualAddress) continue;
      const uint64_t into = uint64_t{rva} - s.virtualAddress;
      if (into >= s.rawSize || length > s.rawSize - into) continue;
      offset = uint64_t{s.rawOffset} + into;
      if (offset > src_.Size() || length > src_.Size() - offset) return false;
      return true;
    }
    return false;
  }

  // Bytes of the section holding `rva` that follow it in the file: the extent of the resource
  // tree, whose internal offsets are relative to its root.
  bool Extent(uint32_t rva, uint64_t& offset, uint64_t& length) const {
    for (const Section& s : sections_) {
      if (rva < s.virtualAddress) continue;
      const uint64_t into = uint64_t{rva} - s.virtualAddress;
      if (into >= s.rawSize) continue;
      offset = uint64_t{s.rawOffset} + into;
      if (offset >= src_.Size()) return false;
      length = std::min<uint64_t>(s.rawSize - into, src_.Size() - offset);
      return true;
    }
    return false;
  }

  const ByteSource& Source() const { return src_; }

 private:
  const ByteSource& src_;
  std::vector<Section> sections_;
};

// One level of the resource tree: the entry with `id` (any entry when id is 0, preferring
// `preferred`); returns its OffsetToData word.
bool FindEntry(const ByteSource& src, uint64_t base, uint64_t extent, uint64_t dir, uint32_t id,
               uint32_t preferred, uint32_t& data) {
  uint16_t named = 0, numbered = 0;
  if (dir + 16 > extent) return false;
  if (!U16(src, base + dir + 12, named) || !U16(src, base + dir + 14, numbered)) return false;
  const uint64_t count = uint64_t{named} + numbered;
  if (count == 0 || count * 8 > extent - dir - 16) return false;
  bool found = false;
  for (uint64_t i = 0; i < count; ++i) {
    const uint64_t e = base + dir + 16 + i * 8;
    uint32_t name = 0, target = 0;
    if (!U32(src, e, name) || !U32(src, e + 4, target)) return false;
    const bool isId = (name & kSubdirectoryFlag) == 0;
    if (id != 0) {
      if (isId && name == id) {
        data = target;
        return true;
      }
      continue;
    }
    if (isId && name == preferred) {
      data = target;
      return true;
    }
    if (!found) {
      data = target;
      found = true;
    }
  }
  return found;
}

std::optional<uint64_t> FixedInfo(const ByteSource& src, uint64_t block, uint32_t blockSize) {
  uint16_t length = 0, valueLength = 0;
  if (!U16(src, block, length) || !U16(src, block + 2, valueLength)) return std::nullopt;
  const uint64_t total = std::min<uint64_t>(length, blockSize);
  if (valueLength < kFixedInfoSize) return std::nullopt;
  // The key, a terminated UTF-16 text, then padding to a 32-bit boundary, then the value.
  uint64_t at = 6;
  for (size_t i = 0;; ++i) {
    uint16_t ch = 0;
    if (i > kMaxKeyChars || at + 2 > total || !U16(src, block + at, ch)) return std::nullopt;
    at += 2;
    if (ch == 0) break;
  }
  at = (at + 3) & ~uint64_t{3};
  if (at + kFixedInfoSize > total) return std::nullopt;
  uint8_t info[kFixedInfoSize];
  if (!src.Read(block + at, info, sizeof(info))) return std::nullopt;
  const MemorySource fixed(info);
  uint32_t signature = 0, ms = 0, ls = 0;
  U32(fixed, 0, signature);
  U32(fixed, 8, ms);
  U32(fixed, 12, ls);
  if (signature != kFixedInfoSignature) return std::nullopt;
  return (uint64_t{ms} << 32) | ls;
}

}  // namespace

bool MemorySource::Read(uint64_t offset, void* out, size_t length) const {
  if (offset > bytes_.size() || length > bytes_.size() - offset) return false;
  if (length != 0) std::memcpy(out, bytes_.data() + offset, length);
  return true;
}

std::optional<uint64_t> FixedFileVersion(const ByteSource& src) {
  Image image(src);
  uint32_t resourceRva = 0;
  if (!image.ParseHeaders(resourceRva)) return std::nullopt;
  uint64_t base = 0, extent = 0;
  if (!image.Extent(resourceRva, base, extent)) return std::nullopt;

  // Type RT_VERSION, then the name VS_VERSION_INFO (or the first one), then the first language.
  // The tree has exactly three levels, so a directory that points back at itself ends here.
  uint32_t typeDir = 0, nameDir = 0, dataEntry = 0;
  if (!FindEntry(src, base, extent, 0, kRtVersion, 0, typeDir) ||
      (typeDir & kSubdirectoryFlag) == 0)
    return std::nullopt;
  if (!FindEntry(src, base, extent, typeDir & ~kSubdirectoryFlag, 0, kVsVersionInfo, nameDir) ||
      (nameDir & kSubdirectoryFlag) == 0)
    return std::nullopt;
  if (!FindEntry(src, base, extent, nameDir & ~kSubdirectoryFlag, 0, 0, dataEntry) ||
      (dataEntry & kSubdirectoryFlag) != 0)
    return std::nullopt;
  if (uint64_t{dataEntry} + 16 > extent) return std::nullopt;
  uint32_t dataRva = 0, dataSize = 0;
  if (!U32(src, base + dataEntry, dataRva) || !U32(src, base + dataEntry + 4, dataSize))
    return std::nullopt;
  uint64_t block = 0;
  if (dataSize < 6 || !image.Locate(dataRva, dataSize, block)) return std::nullopt;
  return FixedInfo(src, block, dataSize);
}

std::optional<uint64_t> FixedFileVersion(std::span<const uint8_t> bytes) {
  return FixedFileVersion(MemorySource(bytes));
}

namespace {

class FileSource final : public ByteSource {
 public:
  FileSource(int fd, uint64_t size) : fd_(fd), size_(size) {}
  uint64_t Size() const override { return size_; }
  bool Read(uint64_t offset, void* out, size_t length) const override {
    if (offset > size_ || length > size_ - offset) return false;
    auto* p = static_cast<uint8_t*>(out);
    while (length > 0) {
      const ssize_t got = pread(fd_, p, length, static_cast<off_t>(offset));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;  // shorter than it said: changed under us
      p += got;
      offset += static_cast<uint64_t>(got);
      length -= static_cast<size_t>(got);
    }
    return true;
  }

 private:
  int fd_;
  uint64_t size_;
};

}  // namespace

std::optional<uint64_t> ReadFileVersion(const std::filesystem::path& file) {
  const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  std::optional<uint64_t> version;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
    version = FixedFileVersion(FileSource(fd, static_cast<uint64_t>(st.st_size)));
  close(fd);
  return version;
}

}  // namespace instgear

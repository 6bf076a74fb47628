// File versions from the version resource of PE32 and PE32+ images (VS_FIXEDFILEINFO inside the
// RT_VERSION resource), read with every offset and length checked against the file, so that a
// truncated or hostile file gives no version instead of a read outside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>

namespace instgear {

// a.b.c.d as (a << 48) | (b << 32) | (c << 16) | d: dwFileVersionMS in the upper half,
// dwFileVersionLS in the lower.
constexpr uint64_t FileVersion(uint16_t a, uint16_t b, uint16_t c, uint16_t d) {
  return (uint64_t{a} << 48) | (uint64_t{b} << 32) | (uint64_t{c} << 16) | d;
}
constexpr uint16_t MajorPart(uint64_t version) {
  return static_cast<uint16_t>(version >> 48);
}

// Random access to the bytes of an image; Read fails for any range not wholly inside it.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual uint64_t Size() const = 0;
  virtual bool Read(uint64_t offset, void* out, size_t length) const = 0;
};

class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  uint64_t Size() const override { return bytes_.size(); }
  bool Read(uint64_t offset, void* out, size_t length) const override;

 private:
  std::span<const uint8_t> bytes_;
};

// The fixed file version of the image, or nothing when it has no readable version resource.
std::optional<uint64_t> FixedFileVersion(const ByteSource& image);
std::optional<uint64_t> FixedFileVersion(std::span<const uint8_t> image);

// The same for a file (nothing when it cannot be opened or is not a regular file). Only the
// headers and the resource are read, not the whole file.
std::optional<uint64_t> ReadFileVersion(const std::filesystem::path& file);

}  // namespace instgear

#include "HeaderCarry.h"

#include "AsfObjects.h"

namespace wm {

namespace {

using Bytes = std::vector<uint8_t>;

// The new number of the stream a source header calls fileNumber (0 when the clip drops it).
uint16_t NewNumber(const std::vector<uint16_t>& fileNumbers, uint64_t fileNumber) {
  for (size_t k = 0; k < fileNumbers.size(); ++k)
    if (fileNumbers[k] == fileNumber) return static_cast<uint16_t>(k + 1);
  return 0;
}

// One extended stream properties object for the new clip: the source's fixed fields and stream
// names under the new number. Payload extensions are dropped, since the new clip's samples carry
// none, and so is a stream properties object held inside, since the new clip has its own; the
// stream is seekable through the new clip's index, and start and end times are left open.
std::optional<Bytes> CarryExtendedStream(const uint8_t* o, size_t size, uint16_t number) {
  if (size < asf::kExtStreamFixed) return std::nullopt;
  size_t end = asf::kExtStreamFixed;
  const uint64_t names = asf::Get(o + asf::kExtNameCountAt, 2);
  for (uint64_t i = 0; i < names; ++i) {
    if (size - end < 4) return std::nullopt;
    const uint64_t length = asf::Get(o + end + 2, 2);
    if (size - end - 4 < length) return std::nullopt;
    end += 4 + static_cast<size_t>(length);
  }
  Bytes out(o, o + end);
  asf::Set(out.data() + 16, end, 8);
  asf::Set(out.data() + asf::kExtStartTimeAt, 0, 8);
  asf::Set(out.data() + asf::kExtEndTimeAt, 0, 8);
  const uint64_t flags = asf::Get(o + asf::kExtFlagsAt, 4);
  asf::Set(out.data() + asf::kExtFlagsAt, flags | asf::kExtFlagSeekable, 4);
  asf::Set(out.data() + asf::kExtStreamNumberAt, number, 2);
  asf::Set(out.data() + asf::kExtPayloadCountAt, 0, 2);
  return out;
}

// The source's stream bit rate properties for the streams the new clip keeps, renumbered.
Bytes CarryBitrates(const uint8_t* o, size_t size, const std::vector<uint16_t>& fileNumbers) {
  if (size < asf::kObjectHead + 2) return {};
  const uint64_t count = asf::Get(o + asf::kObjectHead, 2);
  if ((size - asf::kObjectHead - 2) / 6 < count) return {};
  Bytes records;
  int kept = 0;
  for (uint64_t i = 0; i < count; ++i) {
    const uint8_t* r = o + asf::kObjectHead + 2 + 6 * i;
    const uint64_t flags = asf::Get(r, 2);
    const uint16_t number = NewNumber(fileNumbers, flags & 0x7F);
    if (number == 0) continue;
    asf::Put(records, (flags & ~uint64_t{0x7F}) | number, 2);
    asf::Put(records, asf::Get(r + 2, 4), 4);
    ++kept;
  }
  if (kept == 0) return {};
  Bytes out;
  asf::PutGuid(out, asf::kStreamBitrateProperties);
  asf::Put(out, asf::kObjectHead + 2 + records.size(), 8);
  asf::Put(out, static_cast<uint64_t>(kept), 2);
  out.insert(out.end(), records.begin(), records.end());
  return out;
}

}  // namespace

int64_t DeclaredFrameTime(const Bytes& header, uint16_t fileNumber) {
  // Longer than ten seconds a picture is no frame rate but a damaged figure.
  constexpr uint64_t kLongest = 10 * 10000000ULL;
  const auto layout = asf::ReadLayout(header);
  if (!layout) return 0;
  for (const asf::Object& o : layout->extensionObjects) {
    const uint8_t* p = header.data() + o.at;
    if (!asf::Is(p, asf::kExtendedStreamProperties) || o.size < asf::kExtStreamFixed ||
        asf::Get(p + asf::kExtStreamNumberAt, 2) != fileNumber)
      continue;
    const uint64_t t = asf::Get(p + asf::kExtAvgTimePerFrameAt, 8);
    return t <= kLongest ? static_cast<int64_t>(t) : 0;
  }
  return 0;
}

bool DeclaresNoLength(const Bytes& header) {
  constexpr size_t kPlayDurationAt = 64;
  constexpr size_t kFlagsAt = 88;
  const auto layout = asf::ReadLayout(header);
  if (!layout) return false;
  for (const asf::Object& o : layout->objects) {
    const uint8_t* p = header.data() + o.at;
    if (asf::Is(p, asf::kFileProperties) && o.size >= asf::kFilePropertiesSize)
      return (asf::Get(p + kFlagsAt, 4) & 1) != 0 || asf::Get(p + kPlayDurationAt, 8) == 0;
  }
  return false;
}

void HeaderCarry::Collect(const Bytes& source, const std::vector<uint16_t>& fileNumbers) {
  Clear();
  const auto layout = asf::ReadLayout(source);
  if (!layout) return;
  const uint8_t* data = source.data();
  for (const asf::Object& o : layout->objects) {
    const uint8_t* p = data + o.at;
    if (asf::Is(p, asf::kFileProperties) && o.size >= asf::kFilePropertiesSize) {
      maxBitrate_ = static_cast<uint32_t>(asf::Get(p + asf::kMaxBitrateAt, 4));
    } else if (asf::Is(p, asf::kStreamBitrateProperties)) {
      bitrates_ = CarryBitrates(p, o.size, fileNumbers);
    }
  }
  // The language list goes first, as the streams' language indexes point into it.
  for (const asf::Object& o : layout->extensionObjects)
    if (asf::Is(data + o.at, asf::kLanguageList))
      extension_.insert(extension_.end(), data + o.at, data + o.at + o.size);
  for (const asf::Object& o : layout->extensionObjects) {
    const uint8_t* p = data + o.at;
    if (!asf::Is(p, asf::kExtendedStreamProperties) || o.size < asf::kExtStreamFixed) continue;
    const uint16_t number = NewNumber(fileNumbers, asf::Get(p + asf::kExtStreamNumberAt, 2));
    if (number == 0) continue;
    if (auto carried = CarryExtendedStream(p, o.size, number))
      extension_.insert(extension_.end(), carried->begin(), carried->end());
  }
}

std::optional<Bytes> HeaderCarry::Merge(const Bytes& muxed) const {
  const auto layout = asf::ReadLayout(muxed);
  if (!layout || (!extension_.empty() && layout->extension.size == 0)) return std::nullopt;
  Bytes out(muxed.begin(), muxed.begin() + asf::kHeaderHead);
  int added = 0;
  bool sawFile = false;
  for (const asf::Object& o : layout->objects) {
    const size_t start = out.size();
    out.insert(out.end(), muxed.begin() + static_cast<ptrdiff_t>(o.at),
               muxed.begin() + static_cast<ptrdiff_t>(o.at + o.size));
    uint8_t* p = out.data() + start;
    if (layout->extension.size != 0 && o.at == layout->extension.at) {
      asf::Set(p + 16, o.size + extension_.size(), 8);
      asf::Set(p + asf::kExtensionSizeAt, o.size + extension_.size() - asf::kExtensionHead, 4);
      out.insert(out.end(), extension_.begin(), extension_.end());
    } else if (asf::Is(p, asf::kFileProperties)) {
      if (o.size < asf::kFilePropertiesSize) return std::nullopt;
      sawFile = true;
      asf::Set(p + asf::kFileSizeAt, asf::Get(p + asf::kFileSizeAt, 8) + Growth(), 8);
      if (maxBitrate_) asf::Set(p + asf::kMaxBitrateAt, *maxBitrate_, 4);
      if (!bitrates_.empty()) {
        out.insert(out.end(), bitrates_.begin(), bitrates_.end());
        ++added;
      }
    }
  }
  if (!sawFile) return std::nullopt;
  asf::Set(out.data() + 16, out.size(), 8);
  asf::Set(out.data() + asf::kHeaderCountAt,
           asf::Get(out.data() + asf::kHeaderCountAt, 4) + static_cast<uint64_t>(added), 4);
  if (out.size() != muxed.size() + Growth()) return std::nullopt;
  return out;
}

Bytes HeaderCarry::Apply(const Bytes& muxed) const {
  if (auto merged = Merge(muxed)) return std::move(*merged);
  Bytes out = muxed;
  const size_t growth = Growth();
  if (growth == 0 || muxed.size() < asf::kHeaderHead) return out;
  asf::PutGuid(out, asf::kPadding);
  asf::Put(out, growth, 8);
  out.resize(muxed.size() + growth, 0);
  asf::Set(out.data() + 16, out.size(), 8);
  asf::Set(out.data() + asf::kHeaderCountAt, asf::Get(out.data() + asf::kHeaderCountAt, 4) + 1, 4);
  // The file size counts the padding too, wherever the file properties lie.
  for (size_t at = asf::kHeaderHead; at + asf::kFilePropertiesSize <= muxed.size(); ++at)
    if (asf::Is(out.data() + at, asf::kFileProperties)) {
      uint8_t* size = out.data() + at + asf::kFileSizeAt;
      asf::Set(size, asf::Get(size, 8) + growth, 8);
      break;
    }
  return out;
}

}  // namespace wm

// What a source clip's header declares of the streams that a new clip copies from it (the stream
// profile) and that libavformat's ASF muxer cannot be told: the stream bit rate properties, each
// stream's extended stream properties (bit rates, buffer figures, frame rate, stream names), the
// language list and the file's declared bit rate. Attributes that describe the content (title,
// author and the like) are not part of the profile and stay behind. The writer reserves room
// for the declarations ahead of what the muxer writes and puts the completed header there once
// the clip is written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace wm {

// The time per picture (100 ns) that a header's extended stream properties declare for the stream
// it numbers fileNumber; 0 when they declare none.
int64_t DeclaredFrameTime(const std::vector<uint8_t>& header, uint16_t fileNumber);

// True when a header's file properties declare no length: a broadcast header, or a play
// duration of 0.
bool DeclaresNoLength(const std::vector<uint8_t>& header);

class HeaderCarry {
 public:
  // source: the source's whole header object; fileNumbers[k]: the number the source's header
  // gives the stream that becomes stream k + 1 of the new clip. Whatever cannot be read is left
  // out.
  void Collect(const std::vector<uint8_t>& source, const std::vector<uint16_t>& fileNumbers);
  void Clear() { *this = HeaderCarry(); }

  // Bytes by which the new clip's header is longer than the muxer's (0: nothing to carry).
  size_t Growth() const { return bitrates_.size() + extension_.size(); }

  // The new clip's header, Growth() bytes longer than the muxer's header muxed, whose file
  // size field does not count the growth yet. A muxer's header this cannot read keeps its
  // objects, followed by a padding object of the growth.
  std::vector<uint8_t> Apply(const std::vector<uint8_t>& muxed) const;

 private:
  std::optional<std::vector<uint8_t>> Merge(const std::vector<uint8_t>& muxed) const;

  std::vector<uint8_t> bitrates_;       // a stream bit rate properties object
  std::vector<uint8_t> extension_;      // objects for inside the header extension
  std::optional<uint32_t> maxBitrate_;  // of the file properties
};

}  // namespace wm

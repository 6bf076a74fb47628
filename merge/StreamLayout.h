// The stream layout of a clip as the edit engine reads it, for the merge job's check: samples of
// a clip whose layout differs from the destination's would land in a stream of another format.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct StreamShape {
  int kind = 0;  // 0 audio, 1 video, 2 other
  int codecId = 0;
  uint32_t codecTag = 0;
  std::vector<uint8_t> extradata;  // codec set-up: the writer takes it from the first clip only
  int32_t width = 0;
  int32_t height = 0;
  int32_t sampleRate = 0;
  int32_t channels = 0;
  int32_t blockAlign = 0;
  bool operator==(const StreamShape&) const = default;
};

// The streams of the clip in the file's order; none when it cannot be opened as a clip.
std::optional<std::vector<StreamShape>> ReadStreamLayout(const std::string& path);

// Independent checks of written clips, straight on libavformat/libavcodec: packet times,
// decoding errors, durations and frame content.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace probe {

struct Packet {
  int stream = 0;
  bool video = false;
  int64_t ptsMs = 0;
  int64_t durationMs = 0;
  bool key = false;
  int size = 0;
  int64_t pos = -1;  // file position of the data packet where the sample begins
};

struct Clip {
  bool ok = false;
  int videoStreams = 0;
  int audioStreams = 0;
  int64_t durationMs = -1;  // as the container declares it
  // What the demuxer reads of the streams' declarations, as ffprobe shows it: bit rates (0 when
  // none is declared) and languages per stream, and the clip's title.
  std::vector<int64_t> bitRates;
  std::vector<std::string> languages;
  std::string title;
  std::vector<Packet> packets;
};

// Reads every packet of the file (forced ASF demuxer).
Clip ReadClip(const std::string& path);

struct DecodeResult {
  bool ok = false;
  int errors = 0;  // decoder and demuxer errors logged or returned
  int videoFrames = 0;
  int audioFrames = 0;
};
// Decodes every stream to the end, counting every error.
DecodeResult DecodeAll(const std::string& path);

struct Frame {
  int64_t ptsMs = -1;
  int code = -1;  // frame index the clip generator drew into the picture
  int width = 0;
  int height = 0;
  std::vector<uint8_t> bgra;  // top row first
};
// Decodes the video frames of a file in order (all of them, or up to maxFrames).
std::vector<Frame> DecodeVideo(const std::string& path, int maxFrames = -1);
// Seeks (through the index when there is one) and returns the first decoded frame at or after ms.
Frame FrameAt(const std::string& path, int64_t ms);

// True when the file holds an ASF simple index object.
bool HasSimpleIndex(const std::string& path);

}  // namespace probe

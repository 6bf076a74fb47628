// The source side of the engines: a thin layer over libavformat's ASF demuxer that gives what a
// Windows Media synchronous reader gives. Streams are numbered 1, 2, ... in the file's order (the
// profile order); output i is stream i + 1. Times are 100-ns units.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "WinTypes.h"

struct AVCodecParameters;
struct AVFormatContext;
struct AVPacket;

namespace wm {

enum class Kind { Audio = 0, Video = 1, Other = 2 };

// Sample flags, as the writer expects them.
constexpr uint32_t kSampleCleanPoint = 0x1;     // key frame
constexpr uint32_t kSampleDiscontinuity = 0x2;  // first sample after a gap

constexpr uint16_t kNoStream = 0xFFFF;

// What the profile and the output media type tell of one stream.
struct StreamInfo {
  uint16_t number = 0;
  uint16_t fileNumber = 0;  // the number the file's header gives the stream
  Kind kind = Kind::Other;
  std::string subtype;          // "WMV1", "WMV2", "WMV3", "WMA1", "WMA2", ... or the codec name
  uint32_t bitRate = 0;         // bits per second, as the file declares it
  int64_t avgTimePerFrame = 0;  // video: 100 ns per frame, 0 when unknown
  int32_t width = 0;            // video
  int32_t height = 0;           // video
  int32_t sampleRate = 0;       // audio
  int32_t channels = 0;         // audio
  const AVCodecParameters* codec = nullptr;  // for copying the profile to a writer
};

// Header of the decoded video output: 32-bit RGB, bottom-up rows.
using BitmapHeader = BITMAPINFOHEADER;

// One delivered sample: a compressed payload as the file holds it, or a decoded picture.
class Sample {
 public:
  Sample();
  ~Sample();
  Sample(const Sample&) = delete;
  Sample& operator=(const Sample&) = delete;

  const uint8_t* Data() const;
  size_t Size() const;
  AVPacket* Packet() const { return packet_; }  // compressed samples only
  // Codec of the stream the sample belongs to, so that a writer can refuse a foreign one.
  const AVCodecParameters* Codec() const { return codec_; }
  bool IsDecoded() const { return decoded_; }

  int64_t time = 0;
  int64_t duration = 0;
  uint32_t flags = 0;
  uint16_t streamNumber = 0;

 private:
  friend class Reader;
  AVPacket* packet_;
  std::vector<uint8_t> pixels_;
  bool decoded_ = false;
  const AVCodecParameters* codec_ = nullptr;
};

class Reader {
 public:
  Reader();
  ~Reader();
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  // S_OK only when the file is an ASF clip that could be read; any earlier source is closed.
  HRESULT Open(const char* path);
  HRESULT Close();
  bool IsOpen() const { return ctx_ != nullptr; }

  const std::vector<StreamInfo>& Streams() const { return streams_; }
  // The clip's whole header object as the file holds it (empty when it cannot be read whole).
  const std::vector<uint8_t>& Header() const { return header_; }
  const StreamInfo* FindStream(uint16_t number) const;
  HRESULT GetOutputCount(uint32_t* count) const;

  // Header attributes: file duration and total bit rate; ASF_E_NOTFOUND when the file has none.
  HRESULT GetDuration(int64_t* duration) const;
  HRESULT GetBitrate(uint32_t* bitRate) const;
  // Where the clip's last sample ends, read from the end of its data: the length of a clip whose
  // header declares none (a broadcast header). ASF_E_NOTFOUND when the header declares a length
  // (a clip whose bytes do not hold it is damaged, not measured) or no sample can be read. The
  // current range is dropped.
  HRESULT MeasureEnd(int64_t* end);

  // Delivery mode and selection per stream. A stream starts selected and decoded.
  HRESULT SetReadStreamSamples(uint16_t number, bool compressed);
  HRESULT SetStreamSelected(uint16_t number, bool selected);

  // The decoded video output of a stream (32-bit RGB of the stream's size).
  HRESULT GetVideoOutputHeader(uint16_t number, BitmapHeader* header) const;

  // Positions the reader: the following reads deliver the range [start, start + duration), a
  // duration of 0 meaning up to the end. Compressed delivery begins at the latest key frame at or
  // before start, with no sample of any stream from before that key frame, so every range decodes
  // cleanly and its streams begin together; every other stream delivers all its samples from that
  // key frame's time on, also those stored ahead of the key frame in the file. Decoded video
  // begins at the first frame at or after start.
  HRESULT SetRange(int64_t start, int64_t duration);
  // Time at which the current range begins: the first sample of the range in time.
  int64_t RangeOrigin() const { return origin_; }

  // Next sample of any selected stream (number 0) or of one stream, in file order.
  // NS_E_NO_MORE_SAMPLES at the end of the range; another failure on a read error.
  HRESULT GetNextSample(uint16_t number, Sample* sample);

 private:
  struct StreamState;
  int IndexOf(uint16_t number) const;
  int AnchorIndex() const;
  int64_t SampleDuration(int index, const AVPacket* pkt) const;
  void MeasureFrameTimes();
  HRESULT SeekTo(int anchor, int64_t time);
  void ResetDecoders();
  HRESULT FindRangeKey(int anchor, int64_t start, int64_t seekTime, int64_t* key, int64_t* keyPos,
                       bool* found, bool* pastEnd);
  HRESULT SeekToPosition(int64_t pos);
  int64_t LeadStart(int anchor, int64_t key, int64_t keyPos);
  int64_t FirstSampleTime(int anchor);
  // Where a range opens for one anchor stream.
  struct RangeStart {
    int64_t seekTime = 0;
    int64_t key = 0;
    int64_t keyPos = -1;  // file position of the data packet where the key sample begins
    bool found = false;
    bool pastEnd = false;
  };
  HRESULT LocateRange(int anchor, int64_t start, RangeStart* where);
  HRESULT ReadPacket(AVPacket* pkt);
  HRESULT Decode(int index, AVPacket* pkt, Sample* sample, bool* produced);
  void ApplyDiscard();

  AVFormatContext* ctx_ = nullptr;
  std::vector<StreamInfo> streams_;
  std::vector<uint8_t> header_;
  std::vector<std::unique_ptr<StreamState>> state_;
  AVPacket* pkt_ = nullptr;

  // Current range.
  bool ranged_ = false;
  bool exhausted_ = false;
  int anchor_ = -1;
  int64_t start_ = 0;
  int64_t end_ = 0;                  // INT64_MAX without an end
  int64_t origin_ = 0;               // time of the key frame that opens the range
  int64_t declaredEnd_ = INT64_MAX;  // the clip's length as its header gives it
  int64_t dataStart_ = -1;           // file position of the first data packet
  double bytesPerCns_ = 0;           // mean size of the data per 100 ns of the clip
  int64_t maxLead_ = 0;              // how far ahead of the others a stream may be stored
};

}  // namespace wm

// The destination side of the edit engine: a thin layer over libavformat's ASF muxer that takes
// a stream layout copied from a reader and compressed samples at given times, as a Windows Media
// writer does. The clip is written into a temporary file beside the destination and takes the
// destination name only when writing ends without error; a failed or abandoned clip leaves
// nothing behind, and an existing file is never replaced. The new clip declares what the
// source's header declares of its streams (see HeaderCarry): the muxer writes behind a room of
// that size, which the completed header fills before the clip takes its name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "HeaderCarry.h"
#include "WinTypes.h"
#include "WmReader.h"

struct AVCodecParameters;
struct AVFormatContext;
struct AVPacket;

namespace wm {

struct CodecInfo {
  std::u16string name;
  std::u16string description;
  uint16_t type = 0;  // 1 video, 2 audio, 0xFFFF unknown
  std::vector<uint8_t> info;
};

class Writer {
 public:
  Writer();
  ~Writer();
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  // The stream layout of the reader's open clip; one input per stream, same numbers.
  HRESULT SetProfile(const Reader& reader);
  HRESULT GetInputCount(uint32_t* count) const;
  // Inputs take stream samples as they are; only the null property object is accepted.
  HRESULT SetInputProps(uint32_t input, const void* props);
  HRESULT AddCodecInfo(const CodecInfo& info);
  const std::vector<CodecInfo>& CodecInfos() const { return codecInfos_; }

  HRESULT SetOutputFilename(const char* path);
  HRESULT BeginWriting();
  // Writes one compressed sample to the stream of that number at the given output time.
  HRESULT WriteStreamSample(uint16_t streamNumber, int64_t time, int64_t sendTime, int64_t duration,
                            uint32_t flags, const Sample& sample);
  HRESULT EndWriting();
  HRESULT Flush();
  // Stops writing, if it runs, and removes the unfinished clip.
  void Abort();

  bool IsWriting() const { return ctx_ != nullptr; }
  // First failure since BeginWriting (S_OK while there is none).
  HRESULT WriteResult() const { return error_; }
  const std::string& TempPath() const { return tempPath_; }

 private:
  struct Input {
    uint16_t number;
    AVCodecParameters* codec;
    int64_t lastDts;
  };
  void ClearProfile();
  HRESULT Fail(HRESULT hr);
  HRESULT OpenOutput();
  void CloseOutput();
  HRESULT CompleteHeader();

  std::vector<Input> inputs_;
  std::vector<CodecInfo> codecInfos_;
  HeaderCarry carry_;
  // The temporary file: the muxer's offset 0 lies room_ bytes into it.
  int fd_ = -1;
  int64_t room_ = 0;
  std::string path_;
  std::string tempPath_;
  AVFormatContext* ctx_ = nullptr;
  AVPacket* pkt_ = nullptr;
  HRESULT error_ = S_OK;
};

}  // namespace wm

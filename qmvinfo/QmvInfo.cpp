#include "QmvInfo.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

#include "DbgLog.h"
#include "WmReader.h"

namespace {

// One reader for as long as the library is loaded; the header view of the open clip.
wm::Reader* g_pInfoReader = nullptr;
wm::Reader* g_pInfoHeader = nullptr;

struct LibraryLifetime {
  LibraryLifetime() {
    delete g_pInfoReader;
    g_pInfoReader = new (std::nothrow) wm::Reader();
    if (g_pInfoReader == nullptr) DbgLog(0, 4, "Could not create Reader\n");
  }
  ~LibraryLifetime() {
    g_pInfoHeader = nullptr;
    delete g_pInfoReader;
    g_pInfoReader = nullptr;
  }
} g_library;

enum class Attr { Bitrate, Duration };

// Reads an attribute of the header under a stream number; stream number 0 addresses the file.
// S_OK with *present false when the header has no such attribute.
HRESULT ReadAttribute(uint16_t streamNumber, Attr attr, uint64_t* value, bool* present) {
  if (g_pInfoHeader == nullptr) return E_UNEXPECTED;
  if (value == nullptr || present == nullptr) return E_INVALIDARG;
  *present = false;
  if (streamNumber != 0) return S_OK;  // streams carry no attributes of their own here
  HRESULT hr;
  if (attr == Attr::Bitrate) {
    uint32_t v = 0;
    hr = g_pInfoHeader->GetBitrate(&v);
    *value = v;
  } else {
    int64_t v = 0;
    hr = g_pInfoHeader->GetDuration(&v);
    *value = static_cast<uint64_t>(v);
  }
  if (hr == ASF_E_NOTFOUND) return S_OK;
  if (FAILED(hr)) return hr;
  *present = true;
  return S_OK;
}

bool IsWindowsMediaVideo(const wm::StreamInfo& s) {
  return s.kind == wm::Kind::Video &&
         (s.subtype == "WMV3" || s.subtype == "WMV2" || s.subtype == "WMV1");
}

// The stream whose figures describe the clip's pictures: the last Windows Media Video 7/8/9
// stream where there is one, else the first video stream of any codec (VC-1, MPEG-4, screen);
// -1 for a clip without pictures.
int FiguredVideo(const std::vector<wm::StreamInfo>& streams, uint32_t outputs) {
  int first = -1;
  int windowsMedia = -1;
  for (uint32_t i = 0; i < outputs && i < streams.size(); ++i) {
    if (streams[i].kind != wm::Kind::Video) continue;
    if (first < 0) first = static_cast<int>(i);
    if (IsWindowsMediaVideo(streams[i])) windowsMedia = static_cast<int>(i);
  }
  return windowsMedia >= 0 ? windowsMedia : first;
}

}  // namespace

int OpenQmv(const char* path) {
  if (g_pInfoReader == nullptr) return 1;
  if (FAILED(g_pInfoReader->Open(path))) DbgLog(0, 4, "Could not open the specified file\n");
  g_pInfoHeader = nullptr;
  if (g_pInfoReader->IsOpen())
    g_pInfoHeader = g_pInfoReader;
  else
    DbgLog(0, 4, "Could not QI for IWMHeaderInfo3\n");
  return 1;
}

int GetVInfo(uint32_t* bitRate, double* frameRate, uint32_t* reserved, int32_t* width,
             int32_t* height) {
  if (g_pInfoReader == nullptr) return 0;
  if (bitRate == nullptr || frameRate == nullptr || reserved == nullptr || width == nullptr ||
      height == nullptr)
    return 0;
  *bitRate = 0;
  *frameRate = 0.0;
  *reserved = 0;
  *width = 0;
  *height = 0;
  uint32_t outputs = 0;
  if (g_pInfoReader->GetOutputCount(&outputs) != S_OK) {
    DbgLog(0, 4, "Failed to Get Stream counts\n");
    return 0;
  }
  const auto& streams = g_pInfoReader->Streams();
  const int figured = FiguredVideo(streams, outputs);
  if (figured < 0) return 1;  // sound only: no picture figures
  const wm::StreamInfo& s = streams[static_cast<size_t>(figured)];
  *bitRate = s.bitRate;
  *frameRate = s.avgTimePerFrame != 0 ? 10000000.0 * (1.0 / s.avgTimePerFrame) : 0.0;
  *width = s.width;
  // Top-down rows give a negative height; its magnitude is the picture's.
  *height = static_cast<int32_t>(std::min<int64_t>(std::abs(int64_t{s.height}), INT32_MAX));
  return 1;
}

int GetAInfo(uint32_t* bitRate, uint32_t* durationMs) {
  if (g_pInfoReader == nullptr) return 0;
  if (bitRate == nullptr || durationMs == nullptr) return 0;
  uint32_t outputs = 0;
  if (FAILED(g_pInfoReader->GetOutputCount(&outputs))) {
    DbgLog(0, 4, "Failed to get the stream count\n");
    return 0;
  }
  // The clip's length is the one its header declares, whatever streams it has: a clip without
  // audio has a length too.
  uint64_t declared = 0;
  bool hasDuration = false;
  if (SUCCEEDED(ReadAttribute(0, Attr::Duration, &declared, &hasDuration)) && hasDuration)
    *durationMs = static_cast<uint32_t>(std::min<uint64_t>(declared / 10000, UINT32_MAX));

  const auto& streams = g_pInfoReader->Streams();
  for (uint32_t i = 0; i < outputs && i < streams.size(); ++i) {
    if (streams[i].kind != wm::Kind::Audio) continue;
    // The output index is used as the stream number: output 0 reads the file's attributes.
    const uint16_t number = static_cast<uint16_t>(i);
    uint64_t value = 0;
    bool present = false;
    if (FAILED(ReadAttribute(number, Attr::Bitrate, &value, &present))) {
      DbgLog(0, 4, "Could not get the Bitarate\n");
      return 1;
    }
    *bitRate = present ? static_cast<uint32_t>(value) : 0;
    if (FAILED(ReadAttribute(number, Attr::Duration, &value, &present))) {
      DbgLog(0, 4, "Could not get the Duration\n");
      return 1;
    }
    if (!hasDuration)
      *durationMs =
          present ? static_cast<uint32_t>(std::min<uint64_t>(value / 10000, UINT32_MAX)) : 0;
  }
  return 1;
}

int CloseQmv() {
  if (g_pInfoReader != nullptr && FAILED(g_pInfoReader->Close())) return 0;
  return 1;
}

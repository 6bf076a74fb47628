// Result codes and small Windows-style types shared by the engines and the program.
#pragma once

#include <cstdint>

using HRESULT = int32_t;

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_ABORT = static_cast<HRESULT>(0x80004004u);
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_ACCESSDENIED = static_cast<HRESULT>(0x80070005u);
// Windows Media codes kept for the same situations.
constexpr HRESULT NS_E_NO_MORE_SAMPLES = static_cast<HRESULT>(0xC00D0BCFu);
constexpr HRESULT NS_E_INVALID_REQUEST = static_cast<HRESULT>(0xC00D002Bu);
constexpr HRESULT NS_E_FILE_OPEN_FAILED = static_cast<HRESULT>(0xC00D001Du);
constexpr HRESULT NS_E_FILE_WRITE = static_cast<HRESULT>(0xC00D0019u);
constexpr HRESULT NS_E_FILE_EXISTS = static_cast<HRESULT>(0xC00D001Bu);
constexpr HRESULT NS_E_INVALID_STREAM = static_cast<HRESULT>(0xC00D0FD4u);
constexpr HRESULT ASF_E_NOTFOUND = static_cast<HRESULT>(0xC00D07F0u);

inline bool SUCCEEDED(HRESULT hr) {
  return hr >= 0;
}
inline bool FAILED(HRESULT hr) {
  return hr < 0;
}

// An errno value as a result code, the way HRESULT_FROM_WIN32 wraps a system error.
inline HRESULT HResultFromErrno(int err) {
  return err <= 0 ? E_FAIL
                  : static_cast<HRESULT>(0x80070000u | (static_cast<uint32_t>(err) & 0xFFFFu));
}

// 100-ns units per millisecond.
constexpr int64_t kCnsPerMs = 10000;

// Bitmap header of a device-independent bitmap (40 bytes, as stored in files and media types);
// colour masks or a palette may follow it.
struct BITMAPINFOHEADER {
  uint32_t biSize = 40;
  int32_t biWidth = 0;
  int32_t biHeight = 0;  // positive: bottom-up rows
  uint16_t biPlanes = 1;
  uint16_t biBitCount = 32;
  uint32_t biCompression = 0;
  uint32_t biSizeImage = 0;
  int32_t biXPelsPerMeter = 0;
  int32_t biYPelsPerMeter = 0;
  uint32_t biClrUsed = 0;
  uint32_t biClrImportant = 0;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);
constexpr uint32_t BI_RGB = 0;
constexpr uint32_t BI_BITFIELDS = 3;

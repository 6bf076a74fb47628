// What the clip list shows of a clip, read through the clip information library, which is loaded
// from the install folder for each query and freed afterwards.
#pragma once

#include <cstdint>
#include <string>

struct ClipInfo {
  // Video bit rate as the information library leaves it: GetAInfo and GetVInfo write into the
  // same variable, so a missing GetVInfo leaves the audio bit rate here.
  uint32_t bitRate = 0;
  double frameRate = 0.0;
  int32_t width = 0;
  int32_t height = 0;
  uint32_t durationMs = 0;  // 0 for a clip without a length, or without the library
  bool libraryLoaded = false;
};

// Loads install folder + "/libqmvinfo.so", OpenQmv, GetAInfo, GetVInfo, CloseQmv (each only when
// the library has it), frees the library. The path is not checked for its kind here.
ClipInfo QueryClipInfo(const std::string& path);

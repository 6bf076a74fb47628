// Clip information: a clip's video frame size, frame rate and bit rate, its audio bit rate and
// its length. Bound by name at run time: load the library, OpenQmv, GetAInfo, GetVInfo,
// CloseQmv, unload.
#pragma once

#include <cstdint>

#define QMVINFO_API extern "C" __attribute__((visibility("default")))

QMVINFO_API int OpenQmv(const char* path);
QMVINFO_API int GetVInfo(uint32_t* bitRate, double* frameRate, uint32_t* reserved, int32_t* width,
                         int32_t* height);
QMVINFO_API int GetAInfo(uint32_t* bitRate, uint32_t* durationMs);
QMVINFO_API int CloseQmv();

// Signatures for binding by name.
using PFN_OpenQmv = int (*)(const char*);
using PFN_GetVInfo = int (*)(uint32_t*, double*, uint32_t*, int32_t*, int32_t*);
using PFN_GetAInfo = int (*)(uint32_t*, uint32_t*);
using PFN_CloseQmv = int (*)();

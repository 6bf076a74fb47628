#include "ClipInfo.h"

#include <dlfcn.h>

#include "ClipFile.h"
#include "DbgLog.h"
#include "QmvInfo.h"

ClipInfo QueryClipInfo(const std::string& path) {
  ClipInfo info;
  const std::string library = InstallFolder() + "/libqmvinfo.so";
  void* lib = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) {
    DbgLog(0, -1, "Could not load %s\n", library.c_str());
    return info;
  }
  info.libraryLoaded = true;
  // Bound one by one just before each call; a missing function is skipped.
  if (auto open = reinterpret_cast<PFN_OpenQmv>(dlsym(lib, "OpenQmv"))) open(path.c_str());
  if (auto aInfo = reinterpret_cast<PFN_GetAInfo>(dlsym(lib, "GetAInfo")))
    aInfo(&info.bitRate, &info.durationMs);
  if (auto vInfo = reinterpret_cast<PFN_GetVInfo>(dlsym(lib, "GetVInfo"))) {
    uint32_t extra = 0;
    vInfo(&info.bitRate, &info.frameRate, &extra, &info.width, &info.height);
  }
  if (auto close = reinterpret_cast<PFN_CloseQmv>(dlsym(lib, "CloseQmv"))) close();
  dlclose(lib);
  return info;
}

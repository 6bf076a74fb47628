#include "ClipFile.h"

#include <dlfcn.h>

#include <algorithm>
#include <cctype>

#include "DbgLog.h"

namespace {

std::string& InstallFolderSetting() {
  static std::string folder;
  return folder;
}

}  // namespace

bool IsClipFile(const std::string& path) {
  const size_t dot = path.rfind('.');
  std::string ext = dot == std::string::npos ? path : path.substr(dot + 1);
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext == "qmv" || ext == "wmv";
}

void SetInstallFolder(const std::string& folder) {
  InstallFolderSetting() = folder;
}

std::string InstallFolder() {
  if (!InstallFolderSetting().empty()) return InstallFolderSetting();
  const std::string exe = dbglog::ExecutablePath();
  const size_t slash = exe.rfind('/');
  return slash == std::string::npos ? std::string(".") : exe.substr(0, slash);
}

namespace {

// The length, and the frame rate when asked for, read in one opening of the clip by the clip
// information library.
ClipFigures ReadFigures(const std::string& path, bool frameRate) {
  ClipFigures figures;
  if (!IsClipFile(path)) return figures;
  void* lib = dlopen((InstallFolder() + "/libqmvinfo.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) return figures;
  using OpenFn = int (*)(const char*);
  using AInfoFn = int (*)(uint32_t*, uint32_t*);
  using VInfoFn = int (*)(uint32_t*, double*, uint32_t*, int32_t*, int32_t*);
  using CloseFn = int (*)();
  auto open = reinterpret_cast<OpenFn>(dlsym(lib, "OpenQmv"));
  auto aInfo = reinterpret_cast<AInfoFn>(dlsym(lib, "GetAInfo"));
  auto vInfo = reinterpret_cast<VInfoFn>(dlsym(lib, "GetVInfo"));
  auto close = reinterpret_cast<CloseFn>(dlsym(lib, "CloseQmv"));
  if (open != nullptr) open(path.c_str());
  if (aInfo != nullptr) {
    uint32_t bitRate = 0;
    aInfo(&bitRate, &figures.lengthMs);
  }
  if (frameRate && vInfo != nullptr) {
    uint32_t bitRate = 0, reserved = 0;
    double rate = 0;
    int32_t width = 0, height = 0;
    vInfo(&bitRate, &rate, &reserved, &width, &height);
    figures.frameRate = rate > 0 ? rate : 0;
  }
  if (close != nullptr) close();
  dlclose(lib);
  return figures;
}

}  // namespace

uint32_t GetClipLength(const std::string& path) {
  return ReadFigures(path, false).lengthMs;
}

ClipFigures GetClipFigures(const std::string& path) {
  return ReadFigures(path, true);
}

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

uint32_t GetClipLength(const std::string& path) {
  if (!IsClipFile(path)) return 0;
  void* lib = dlopen((InstallFolder() + "/libqmvinfo.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) return 0;
  using OpenFn = int (*)(const char*);
  using AInfoFn = int (*)(uint32_t*, uint32_t*);
  using CloseFn = int (*)();
  auto open = reinterpret_cast<OpenFn>(dlsym(lib, "OpenQmv"));
  auto aInfo = reinterpret_cast<AInfoFn>(dlsym(lib, "GetAInfo"));
  auto close = reinterpret_cast<CloseFn>(dlsym(lib, "CloseQmv"));
  uint32_t bitRate = 0, length = 0;
  if (open != nullptr) open(path.c_str());
  if (aInfo != nullptr) aInfo(&bitRate, &length);
  if (close != nullptr) close();
  dlclose(lib);
  return length;
}

double GetClipFrameRate(const std::string& path) {
  if (!IsClipFile(path)) return 0;
  void* lib = dlopen((InstallFolder() + "/libqmvinfo.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) return 0;
  using OpenFn = int (*)(const char*);
  using VInfoFn = int (*)(uint32_t*, double*, uint32_t*, int32_t*, int32_t*);
  using CloseFn = int (*)();
  auto open = reinterpret_cast<OpenFn>(dlsym(lib, "OpenQmv"));
  auto vInfo = reinterpret_cast<VInfoFn>(dlsym(lib, "GetVInfo"));
  auto close = reinterpret_cast<CloseFn>(dlsym(lib, "CloseQmv"));
  uint32_t bitRate = 0, reserved = 0;
  double rate = 0;
  int32_t width = 0, height = 0;
  if (open != nullptr) open(path.c_str());
  if (vInfo != nullptr) vInfo(&bitRate, &rate, &reserved, &width, &height);
  if (close != nullptr) close();
  dlclose(lib);
  return rate > 0 ? rate : 0;
}

// Measures the clip information query and the frame preview, the way the program uses them.
//   preview_bench info CLIP [REPEATS]     full queries: load, open, both infos, close, unload
//   preview_bench frame CLIP POS_MS...    one FindPosPic per position on an open source
// Prints one line per measurement: "<what> <milliseconds>".
#include <dlfcn.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "CQmvedit.h"
#include "ClipFile.h"
#include "QmvInfo.h"

namespace {

double Ms(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// Draws nothing; counts the pictures it is given.
class NullDisplay : public CDisplayWindow {
 public:
  void GetClientSize(int* w, int* h) override {
    *w = 480;
    *h = 360;
  }
  bool DrawImage(const uint8_t*, int, int, int, int, int, int, int) override {
    ++draws;
    return true;
  }
  int draws = 0;
};

int Info(const char* clip, int repeats) {
  for (int i = 0; i < repeats; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    void* lib = dlopen((InstallFolder() + "/libqmvinfo.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) {
      std::fprintf(stderr, "%s\n", dlerror());
      return 1;
    }
    auto open = reinterpret_cast<PFN_OpenQmv>(dlsym(lib, "OpenQmv"));
    auto vinfo = reinterpret_cast<PFN_GetVInfo>(dlsym(lib, "GetVInfo"));
    auto ainfo = reinterpret_cast<PFN_GetAInfo>(dlsym(lib, "GetAInfo"));
    auto close = reinterpret_cast<PFN_CloseQmv>(dlsym(lib, "CloseQmv"));
    uint32_t vbr = 0, reserved = 0, abr = 0, length = 0;
    double fps = 0;
    int32_t w = 0, h = 0;
    open(clip);
    ainfo(&abr, &length);
    vinfo(&vbr, &fps, &reserved, &w, &h);
    close();
    dlclose(lib);
    const auto t1 = std::chrono::steady_clock::now();
    std::printf("info %.3f %dx%d@%.02f %ums\n", Ms(t1 - t0), w, h, fps, length);
  }
  return 0;
}

int Frames(const char* clip, int count, char** positions) {
  NullDisplay display;
  CQmvedit edit;
  edit.Init();
  edit.SetDispWnd(&display);
  if (edit.SetSrcFile(clip) != S_OK || edit.GetVideoOut() != 0) {
    std::fprintf(stderr, "cannot open %s\n", clip);
    return 1;
  }
  for (int i = 0; i < count; ++i) {
    const int pos = std::atoi(positions[i]);
    const int before = display.draws;
    const auto t0 = std::chrono::steady_clock::now();
    edit.FindPosPic(pos);
    const auto t1 = std::chrono::steady_clock::now();
    std::printf("frame %.3f %d %s\n", Ms(t1 - t0), pos, display.draws > before ? "drawn" : "none");
  }
  edit.Exit();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::string(argv[1]) == "info")
    return Info(argv[2], argc >= 4 ? std::atoi(argv[3]) : 21);
  if (argc >= 4 && std::string(argv[1]) == "frame") return Frames(argv[2], argc - 3, argv + 3);
  std::fprintf(stderr, "usage: preview_bench info CLIP [REPEATS] | frame CLIP POS_MS...\n");
  return 2;
}

// Clip figures through the library as the program binds it, checked against ffprobe.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "AsfPatch.h"
#include "ClipFile.h"
#include "QmvInfo.h"
#include "TestDir.h"

namespace {

using testutil::MakeClip;
using testutil::TempDir;

struct Figures {
  int vResult = -1, aResult = -1;
  uint32_t vBitRate = 77, reserved = 77, aBitRate = 77, durationMs = 77;
  double frameRate = 77;
  int32_t width = 77, height = 77;
};

// Load, open, both infos, close, unload: the full query the program makes.
Figures Query(const std::string& path) {
  Figures f;
  void* lib = dlopen((InstallFolder() + "/libqmvinfo.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  EXPECT_NE(lib, nullptr) << dlerror();
  if (lib == nullptr) return f;
  auto open = reinterpret_cast<PFN_OpenQmv>(dlsym(lib, "OpenQmv"));
  auto vinfo = reinterpret_cast<PFN_GetVInfo>(dlsym(lib, "GetVInfo"));
  auto ainfo = reinterpret_cast<PFN_GetAInfo>(dlsym(lib, "GetAInfo"));
  auto close = reinterpret_cast<PFN_CloseQmv>(dlsym(lib, "CloseQmv"));
  EXPECT_TRUE(open && vinfo && ainfo && close);
  EXPECT_EQ(open(path.c_str()), 1);
  f.aResult = ainfo(&f.aBitRate, &f.durationMs);
  f.vResult = vinfo(&f.vBitRate, &f.frameRate, &f.reserved, &f.width, &f.height);
  EXPECT_EQ(close(), 1);
  dlclose(lib);
  return f;
}

// What ffprobe says of the same file.
std::map<std::string, std::string> Ffprobe(const std::string& path) {
  std::map<std::string, std::string> out;
  const std::string cmd =
      "ffprobe -v error -select_streams v:0 -show_entries "
      "stream=width,height,avg_frame_rate,bit_rate:format=duration -of default=nw=1 '" +
      path + "'";
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return out;
  char line[256];
  while (std::fgets(line, sizeof(line), p)) {
    std::string s(line);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    size_t eq = s.find('=');
    if (eq != std::string::npos) out[s.substr(0, eq)] = s.substr(eq + 1);
  }
  pclose(p);
  return out;
}

double Rate(const std::string& fraction) {
  size_t slash = fraction.find('/');
  if (slash == std::string::npos) return std::stod(fraction);
  double den = std::stod(fraction.substr(slash + 1));
  return den == 0 ? 0 : std::stod(fraction.substr(0, slash)) / den;
}

TEST(ClipInfo, FiguresAgreeWithFfprobe) {
  TempDir dir;
  struct Case {
    const char* name;
    const char* codec;
    int w, h, fpsNum, fpsDen, audioTracks;
  };
  const Case cases[] = {
      {"a.wmv", "wmv2", 320, 240, 25, 1, 1},       {"b.qmv", "wmv1", 176, 144, 15, 1, 1},
      {"c.wmv", "wmv2", 640, 360, 30000, 1001, 0}, {"d.wmv", "wmv1", 352, 288, 30, 1, 2},
      {"e.qmv", "wmv2", 160, 120, 24000, 1001, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    clipgen::ClipSpec params;
    params.durationMs = 5000;
    params.videoCodec = c.codec;
    params.width = c.w;
    params.height = c.h;
    params.fpsNum = c.fpsNum;
    params.fpsDen = c.fpsDen;
    params.audioTracks = c.audioTracks;
    params.videoBitRate = 300000;
    const std::string path = MakeClip(dir, c.name, params);
    const Figures f = Query(path);
    const auto probe = Ffprobe(path);
    ASSERT_EQ(f.vResult, 1);
    ASSERT_EQ(f.aResult, 1);
    EXPECT_EQ(f.width, std::stoi(probe.at("width")));
    EXPECT_EQ(f.height, std::stoi(probe.at("height")));
    EXPECT_NEAR(f.frameRate, Rate(probe.at("avg_frame_rate")), 0.005);
    EXPECT_NEAR(f.frameRate, static_cast<double>(c.fpsNum) / c.fpsDen, 0.005);
    // Video-only clips have a length too.
    EXPECT_EQ(f.durationMs,
              static_cast<uint32_t>(std::llround(std::stod(probe.at("duration")) * 1000)));
    EXPECT_EQ(f.reserved, 0u);
    // The bit rate the file declares for its video stream (none, for these clips).
    const std::string declared = probe.at("bit_rate");
    EXPECT_EQ(f.vBitRate, declared == "N/A" ? 0u : static_cast<uint32_t>(std::stoul(declared)));
  }
}

TEST(ClipInfo, AudioOnlyClip) {
  TempDir dir;
  clipgen::ClipSpec params;
  params.video = false;
  params.durationMs = 2000;
  const Figures f = Query(MakeClip(dir, "audio.wmv", params));
  EXPECT_EQ(f.vResult, 1);
  EXPECT_EQ(f.vBitRate, 0u);
  EXPECT_EQ(f.frameRate, 0.0);
  EXPECT_EQ(f.width, 0);
  EXPECT_EQ(f.height, 0);
  EXPECT_EQ(f.aResult, 1);
  EXPECT_GT(f.aBitRate, 0u);  // audio is output 0: the file's bit rate
  EXPECT_NEAR(f.durationMs, 2000, 60);
}

// Pictures of any codec the reader opens have their figures: MPEG-4 v3 ("MP43", by the
// generator and by FFmpeg's own muxer) and VC-1 ("WVC1", a generated clip given that codec), as
// ffprobe reads them.
TEST(ClipInfo, EveryVideoCodecGivesItsFigures) {
  TempDir dir;
  clipgen::ClipSpec params;
  params.durationMs = 2000;
  params.width = 176;
  params.height = 144;
  params.fpsNum = 15;
  params.videoCodec = "msmpeg4";
  const std::string mp43 = MakeClip(dir, "mp43.wmv", params);
  params.videoCodec = "wmv2";
  params.width = 320;
  params.height = 240;
  params.fpsNum = 30;
  const std::string vc1 = MakeClip(dir, "vc1.wmv", params);
  ASSERT_TRUE(clipgen::PatchHeader(vc1, clipgen::HeaderObject::VideoProperties, clipgen::kCodecAt,
                                   4, clipgen::FourCc("WVC1")));
  const std::string muxed = dir.File("ffmpeg.wmv");
  const std::string cmd =
      "ffmpeg -v error -f lavfi -i testsrc=size=352x288:rate=25 -t 2 -c:v msmpeg4 -b:v 250k "
      "-f asf '" +
      muxed + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  struct Case {
    std::string path;
    int width, height;
    double fps;
  };
  for (const Case& c :
       {Case{mp43, 176, 144, 15.0}, Case{vc1, 320, 240, 30.0}, Case{muxed, 352, 288, 25.0}}) {
    SCOPED_TRACE(c.path);
    const Figures f = Query(c.path);
    ASSERT_EQ(f.vResult, 1);
    EXPECT_EQ(f.width, c.width);
    EXPECT_EQ(f.height, c.height);
    EXPECT_NEAR(f.frameRate, c.fps, 0.05);
    // The bit rate the file declares for its video stream, where it declares one.
    const auto probe = Ffprobe(c.path);
    const auto declared = probe.find("bit_rate");
    if (declared != probe.end() && declared->second != "N/A") {
      EXPECT_EQ(f.vBitRate, static_cast<uint32_t>(std::stoul(declared->second)));
    }
    EXPECT_NEAR(f.durationMs, 2000, 100);
  }
}

// Clips that cannot be read give zero figures and leave the caller's audio figures alone.
TEST(ClipInfo, UnreadableClips) {
  TempDir dir;
  const std::string text = dir.File("text.wmv");
  std::ofstream(text) << std::string(5000, 'x');
  clipgen::ClipSpec params;
  params.durationMs = 3000;
  const std::string full = MakeClip(dir, "full.wmv", params);
  const std::string cut = dir.File("cut.wmv");
  std::filesystem::copy_file(full, cut);
  std::filesystem::resize_file(cut, std::filesystem::file_size(full) / 3);
  for (const std::string& path : {dir.File("missing.wmv"), text, dir.Path().string()}) {
    SCOPED_TRACE(path);
    const Figures f = Query(path);
    EXPECT_EQ(f.vResult, 1);
    EXPECT_EQ(f.width, 0);
    EXPECT_EQ(f.vBitRate, 0u);
    EXPECT_EQ(f.aResult, 1);
    EXPECT_EQ(f.durationMs, 77u);
    EXPECT_EQ(GetClipLength(path), 0u);
  }
  // A cut clip still shows its picture size, but the length its header declares no longer
  // holds: it has none.
  const Figures f = Query(cut);
  EXPECT_EQ(f.width, 320);
  EXPECT_EQ(f.durationMs, 0u);
}

TEST(ClipLength, NamesAndLibrary) {
  EXPECT_TRUE(IsClipFile("/a/b.WMV"));
  EXPECT_TRUE(IsClipFile("clip.qmv"));
  EXPECT_TRUE(IsClipFile("wmv"));  // no dot: the whole path counts
  EXPECT_FALSE(IsClipFile("/a.wmv/clip.mp4"));
  EXPECT_FALSE(IsClipFile("clip.wmv.txt"));

  TempDir dir;
  clipgen::ClipSpec params;
  params.durationMs = 2500;
  params.audioTracks = 0;
  const std::string clip = MakeClip(dir, "v.wmv", params);
  EXPECT_NEAR(GetClipLength(clip), 2500, 50);
  const std::string renamed = dir.File("v.avi");
  std::filesystem::copy_file(clip, renamed);
  EXPECT_EQ(GetClipLength(renamed), 0u);
  // Without the library beside it the program measures nothing.
  SetInstallFolder(dir.Path().string());
  EXPECT_EQ(GetClipLength(clip), 0u);
  SetInstallFolder("");
}

}  // namespace

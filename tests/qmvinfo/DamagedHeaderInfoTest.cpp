// Clips whose headers were damaged: the information library shows plausible figures or none,
// never the header's impossible ones.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "AsfPatch.h"
#include "ClipFile.h"
#include "QmvInfo.h"
#include "TestDir.h"

namespace {

using clipgen::HeaderObject;
using testutil::MakeClip;
using testutil::TempDir;

struct Figures {
  uint32_t vBitRate = 77, reserved = 77, aBitRate = 77, durationMs = 77;
  double frameRate = 77;
  int32_t width = 77, height = 77;
};

Figures Query(const std::string& path) {
  Figures f;
  void* lib = dlopen((InstallFolder() + "/libqmvinfo.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  EXPECT_NE(lib, nullptr) << dlerror();
  if (lib == nullptr) return f;
  auto open = reinterpret_cast<PFN_OpenQmv>(dlsym(lib, "OpenQmv"));
  auto vinfo = reinterpret_cast<PFN_GetVInfo>(dlsym(lib, "GetVInfo"));
  auto ainfo = reinterpret_cast<PFN_GetAInfo>(dlsym(lib, "GetAInfo"));
  auto close = reinterpret_cast<PFN_CloseQmv>(dlsym(lib, "CloseQmv"));
  EXPECT_EQ(open(path.c_str()), 1);
  EXPECT_EQ(ainfo(&f.aBitRate, &f.durationMs), 1);
  EXPECT_EQ(vinfo(&f.vBitRate, &f.frameRate, &f.reserved, &f.width, &f.height), 1);
  EXPECT_EQ(close(), 1);
  dlclose(lib);
  return f;
}

clipgen::ClipSpec TwoSeconds() {
  clipgen::ClipSpec s;
  s.durationMs = 2000;
  s.width = 160;
  s.height = 120;
  return s;
}

// A play duration the bytes cannot hold, from just past the sum the reader can add to it up to
// 18 days for a 2-second clip: the length is unknown, not garbage.
TEST(DamagedHeaderInfo, ImpossibleLengthsAreShownAsUnknown) {
  TempDir dir;
  for (uint64_t duration : {uint64_t{INT64_MAX} - 1000, uint64_t{15668004370000} + 20000000}) {
    const std::string path =
        MakeClip(dir, "long-" + std::to_string(duration) + ".wmv", TwoSeconds());
    ASSERT_TRUE(clipgen::PatchHeader(path, HeaderObject::FileProperties, clipgen::kPlayDurationAt,
                                     8, duration));
    const Figures f = Query(path);
    EXPECT_EQ(f.durationMs, 0u) << duration;
    EXPECT_EQ(f.width, 160);  // the rest of the clip is sound
    EXPECT_EQ(f.height, 120);
  }
}

// Picture sizes no codec takes make a damaged clip: no figures at all, as for a file that is no
// clip. A negative height is a
// picture with top-down rows and shows its magnitude.
TEST(DamagedHeaderInfo, ImpossiblePictureSizesGiveNoFigures) {
  TempDir dir;
  struct Case {
    size_t at;
    int64_t value;
  };
  for (Case c : {Case{clipgen::kPictureHeightAt, INT32_MIN}, Case{clipgen::kPictureHeightAt, 16384},
                 Case{clipgen::kPictureWidthAt, INT32_MAX}, Case{clipgen::kPictureWidthAt, 0},
                 Case{clipgen::kPictureHeightAt, -8193}}) {
    const std::string path = MakeClip(dir, "size.wmv", TwoSeconds());
    ASSERT_TRUE(clipgen::PatchHeader(path, HeaderObject::VideoProperties, c.at, 4,
                                     static_cast<uint64_t>(c.value)));
    const Figures f = Query(path);
    EXPECT_EQ(f.width, 0) << c.at << " " << c.value;
    EXPECT_EQ(f.height, 0) << c.at << " " << c.value;
    EXPECT_EQ(f.durationMs, 77u) << c.at << " " << c.value;  // as any clip that cannot be read
    EXPECT_EQ(GetClipLength(path), 0u);
    std::filesystem::remove(path);
  }
  const std::string topDown = MakeClip(dir, "topdown.wmv", TwoSeconds());
  ASSERT_TRUE(clipgen::PatchHeader(topDown, HeaderObject::VideoProperties,
                                   clipgen::kPictureHeightAt, 4,
                                   static_cast<uint64_t>(int64_t{-120})));
  const Figures f = Query(topDown);
  EXPECT_EQ(f.width, 160);
  EXPECT_EQ(f.height, 120);
  EXPECT_NEAR(f.durationMs, 2000u, 200u);
}

}  // namespace

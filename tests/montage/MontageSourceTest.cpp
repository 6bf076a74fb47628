// The montage source: length text, opening clips in the engine, refusing unreadable ones while
// keeping the previous source, and the frame at a position.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "CQmvedit.h"
#include "ClipGen.h"
#include "MontageSource.h"
#include "TestDir.h"

namespace {

using testutil::MakeClip;
using testutil::TempDir;

// The preview screen: keeps the frame code of the last picture drawn.
class Screen : public CDisplayWindow {
 public:
  void GetClientSize(int* width, int* height) override {
    *width = 320;
    *height = 240;
  }
  bool DrawImage(const uint8_t* pixels, int width, int height, int stride, int, int, int,
                 int) override {
    ++draws;
    // Rows may run bottom-up (negative stride): copy them top row first.
    std::vector<uint8_t> image(static_cast<size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y)
      std::memcpy(image.data() + static_cast<size_t>(y) * width * 4,
                  pixels + static_cast<ptrdiff_t>(y) * stride, static_cast<size_t>(width) * 4);
    code = clipgen::ReadFrameCode(image.data(), width, height, width * 4);
    return true;
  }
  int draws = 0;
  int code = -1;
};

struct Engine {
  Engine() {
    EXPECT_EQ(edit.Init(), S_OK);
    edit.SetDispWnd(&screen);
  }
  ~Engine() { edit.Exit(); }
  Screen screen;
  CQmvedit edit;
};

clipgen::ClipSpec ClipOf(int durationMs, int width) {
  clipgen::ClipSpec s;
  s.durationMs = durationMs;
  s.width = width;
  s.height = 120;
  s.keyIntervalMs = 500;
  return s;
}

TEST(MontageSourceText, LengthText) {
  EXPECT_EQ(CMontageSource::LengthText(2367788), "00:39:27(2367788 mili-Sec)");
  EXPECT_EQ(CMontageSource::LengthText(59999), "00:00:59(59999 mili-Sec)");
  EXPECT_EQ(CMontageSource::LengthText(0), "00:00:00(0 mili-Sec)");
  EXPECT_EQ(CMontageSource::LengthText(363600000), "101:00:00(363600000 mili-Sec)");
}

TEST(MontageSourceOpen, OpensClipsAndShowsTheirFrames) {
  TempDir dir;
  const std::string a = MakeClip(dir, "Trip.WMV", ClipOf(4000, 160));
  const std::string b = MakeClip(dir, "second.qmv", ClipOf(2500, 192));
  Engine e;
  CMontageSource source;
  SourceOpenResult r = source.Open(e.edit, a);
  ASSERT_EQ(r.status, SourceOpenResult::Status::Opened);
  EXPECT_NEAR(r.lengthMs, 4000, 50);
  EXPECT_EQ(r.lengthText, CMontageSource::LengthText(r.lengthMs));
  EXPECT_TRUE(r.message.empty());
  EXPECT_EQ(source.Path(), a);
  EXPECT_EQ(source.Length(), r.lengthMs);
  CMontageSource::ShowFrameAt(e.edit, 0);
  EXPECT_EQ(e.screen.code, 0);
  CMontageSource::ShowFrameAt(e.edit, 2000);
  EXPECT_EQ(e.screen.code, 50);

  // A second clip replaces the first.
  r = source.Open(e.edit, b);
  ASSERT_EQ(r.status, SourceOpenResult::Status::Opened);
  EXPECT_NEAR(r.lengthMs, 2500, 50);
  EXPECT_EQ(e.edit.GetVideoWidth(), 192);
  CMontageSource::ShowFrameAt(e.edit, 0);
  EXPECT_EQ(e.screen.code, 0);
}

TEST(MontageSourceOpen, PathsWithoutClipExtensionAreIgnored) {
  TempDir dir;
  const std::string a = MakeClip(dir, "a.wmv", ClipOf(2000, 160));
  std::filesystem::create_directory(dir.Path() / "my.clips");
  std::filesystem::copy_file(a, dir.Path() / "my.clips" / "trip");
  Engine e;
  CMontageSource source;
  ASSERT_EQ(source.Open(e.edit, a).status, SourceOpenResult::Status::Opened);
  for (const std::string& path : {(dir.Path() / "my.clips" / "trip").string(), dir.File("a.avi")}) {
    const SourceOpenResult r = source.Open(e.edit, path);
    EXPECT_EQ(r.status, SourceOpenResult::Status::Ignored);
    EXPECT_TRUE(r.message.empty());
  }
  EXPECT_EQ(source.Path(), a);
}

// Corrupt, truncated, empty and foreign files: the message, and the previous clip stays in the
// engine with its frames.
TEST(MontageSourceOpen, UnreadableClipKeepsThePreviousSource) {
  TempDir dir;
  const std::string good = MakeClip(dir, "good.wmv", ClipOf(4000, 160));
  std::string data;
  {
    std::ifstream in(good, std::ios::binary);
    data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  const std::string truncated = dir.File("truncated.wmv");
  std::ofstream(truncated, std::ios::binary) << data.substr(0, data.size() / 2);
  const std::string foreign = dir.File("movie.wmv");
  {
    std::string mp4 = data;
    mp4.replace(0, 16,
                "\0\0\0\x20"
                "ftypisom\0\0\0\0",
                16);
    std::ofstream(foreign, std::ios::binary) << mp4;
  }
  const std::string text = dir.File("text.qmv");
  std::ofstream(text) << std::string(100000, 'x');
  const std::string empty = dir.File("empty.wmv");
  std::ofstream(empty).close();
  const std::string folder = dir.File("folder.wmv");
  std::filesystem::create_directory(folder);

  Engine e;
  CMontageSource source;
  const SourceOpenResult opened = source.Open(e.edit, good);
  ASSERT_EQ(opened.status, SourceOpenResult::Status::Opened);
  for (const std::string& bad :
       {truncated, foreign, text, empty, dir.File("missing.wmv"), folder}) {
    SCOPED_TRACE(bad);
    const SourceOpenResult r = source.Open(e.edit, bad);
    EXPECT_EQ(r.status, SourceOpenResult::Status::Failed);
    EXPECT_EQ(r.message, kMsgCannotOpenClip);
    EXPECT_EQ(source.Path(), good);
    EXPECT_EQ(source.Length(), opened.lengthMs);
    EXPECT_TRUE(e.edit.IsSrcOpen());
    e.screen.code = -1;
    CMontageSource::ShowFrameAt(e.edit, 1000);
    EXPECT_EQ(e.screen.code, 25);
  }
  // Before any clip: refused, and the engine stays without a source.
  Engine fresh;
  CMontageSource none;
  EXPECT_EQ(none.Open(fresh.edit, text).status, SourceOpenResult::Status::Failed);
  EXPECT_FALSE(fresh.edit.IsSrcOpen());
  EXPECT_TRUE(none.Path().empty());
  CMontageSource::ShowFrameAt(fresh.edit, 0);
  EXPECT_EQ(fresh.screen.draws, 0);
}

}  // namespace

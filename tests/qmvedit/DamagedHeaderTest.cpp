// Range copy and frame preview of damaged clips: headers with impossible figures, and a source
// that cannot be read part way. A copy either works or fails, and a failed one leaves no clip.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <filesystem>
#include <string>

#include "AsfPatch.h"
#include "CQmvedit.h"
#include "EditJob.h"
#include "MediaProbe.h"
#include "RecordingDisplay.h"
#include "TestDir.h"

namespace {

// Reads of one file fail from a given offset on, as on a disk with a bad sector. The executable
// exports read() so that the media libraries' reads come through here.
std::string g_failPath;
std::atomic<off_t> g_failFrom{-1};

bool FailsHere(int fd) {
  if (g_failFrom.load() < 0) return false;
  char link[PATH_MAX];
  const ssize_t n = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), link, sizeof(link));
  if (n <= 0 || std::string(link, static_cast<size_t>(n)) != g_failPath) return false;
  return lseek(fd, 0, SEEK_CUR) >= g_failFrom.load();
}

class BadSector {
 public:
  BadSector(const std::string& path, off_t from) {
    g_failPath = std::filesystem::canonical(path).string();
    g_failFrom = from;
  }
  ~BadSector() { g_failFrom = -1; }
};

}  // namespace

extern "C" __attribute__((visibility("default"))) ssize_t read(int fd, void* buf, size_t count) {
  using ReadFn = ssize_t (*)(int, void*, size_t);
  static const ReadFn real = reinterpret_cast<ReadFn>(dlsym(RTLD_NEXT, "read"));
  if (FailsHere(fd)) {
    errno = EIO;
    return -1;
  }
  return real(fd, buf, count);
}

namespace {

using clipgen::HeaderObject;
using testutil::MakeClip;
using testutil::TempDir;

clipgen::ClipSpec ClipOf(int durationMs) {
  clipgen::ClipSpec s;
  s.durationMs = durationMs;
  s.width = 160;
  s.height = 120;
  s.keyIntervalMs = 500;
  return s;
}

struct Session {
  Session() { EXPECT_EQ(edit.Init(), S_OK); }
  ~Session() { edit.Exit(); }
  CQmvedit edit;
};

// A play duration next to the largest 64-bit value: the ranges copy as from a sound clip, and
// the whole clip reports the length that was read.
TEST(DamagedHeader, EndlessPlayDurationCopiesRangesAndRealLength) {
  TempDir dir;
  const std::string src = MakeClip(dir, "src.wmv", ClipOf(3000));
  ASSERT_TRUE(clipgen::PatchHeader(src, HeaderObject::FileProperties, clipgen::kPlayDurationAt, 8,
                                   uint64_t{INT64_MAX} - 1000));
  const std::string out = dir.File("out.wmv");
  {
    Session s;
    ASSERT_NO_FATAL_FAILURE(testutil::BeginJob(s.edit, src, out));
    int32_t first = 1000, second = 1000;
    EXPECT_EQ(s.edit.CopyPart(0, 500, &first, 0), S_OK);
    EXPECT_EQ(s.edit.CopyPart(first, 1500, &second, 0), S_OK);
    EXPECT_GE(first, 900);
    EXPECT_LE(first, 1600);
    EXPECT_GE(second, 900);
    EXPECT_LE(second, 1600);
    int32_t whole = 0;
    EXPECT_EQ(s.edit.CopyPart(first + second, 0, &whole, 1), S_OK);
    EXPECT_GE(whole, 2800);
    EXPECT_LE(whole, 3300);
    ASSERT_EQ(s.edit.EndWrite(), S_OK);
  }
  const probe::DecodeResult decoded = probe::DecodeAll(out);
  EXPECT_EQ(decoded.errors, 0);
  EXPECT_GT(decoded.videoFrames, 100);
}

// Picture sizes no codec takes: no clip to copy or preview, and nothing written.
TEST(DamagedHeader, ImpossiblePictureSizeIsADamagedClip) {
  TempDir dir;
  const std::string src = MakeClip(dir, "src.wmv", ClipOf(1000));
  ASSERT_TRUE(
      clipgen::PatchHeader(src, HeaderObject::VideoProperties, clipgen::kPictureWidthAt, 4, 16384));
  ASSERT_TRUE(clipgen::PatchHeader(src, HeaderObject::VideoProperties, clipgen::kPictureHeightAt, 4,
                                   16384));
  Session s;
  testutil::RecordingDisplay display(320, 240);
  s.edit.SetDispWnd(&display);
  EXPECT_NE(s.edit.SetSrcFile(src.c_str()), S_OK);
  EXPECT_FALSE(s.edit.IsSrcOpen());
  s.edit.GetVideoOut();
  s.edit.FindPosPic(500);
  EXPECT_EQ(display.draws, 0);
  EXPECT_EQ(s.edit.GetVideoWidth(), 0);
  EXPECT_EQ(s.edit.SetDesFile(dir.File("out.wmv").c_str()), S_OK);
  EXPECT_LT(s.edit.CopyProfile(), 0);
  EXPECT_EQ(testutil::CountFiles(dir.Path()), 1);
}

// A source that cannot be read part way: its copy fails, and EndWrite then fails too and takes
// the unfinished clip away, whether or not the caller looked at the copy's result.
TEST(DamagedHeader, ReadErrorFailsTheCopyAndLeavesNoClip) {
  TempDir dir;
  const std::string src = MakeClip(dir, "src.wmv", ClipOf(4000));
  std::filesystem::create_directory(dir.Path() / "out");
  const std::string out = (dir.Path() / "out" / "merged.wmv").string();
  Session s;
  ASSERT_NO_FATAL_FAILURE(testutil::BeginJob(s.edit, src, out));
  {
    BadSector bad(src, static_cast<off_t>(std::filesystem::file_size(src) / 2));
    int32_t copied = 0;
    EXPECT_LT(s.edit.CopyPart(0, 0, &copied, 1), 0);
    EXPECT_LT(copied, 3000);
  }
  EXPECT_LT(s.edit.EndWrite(), 0);
  EXPECT_EQ(testutil::CountFiles(dir.Path() / "out"), 0);
  // The next clip of the same session is whole again.
  const std::string next = (dir.Path() / "out" / "next.wmv").string();
  ASSERT_NO_FATAL_FAILURE(testutil::BeginJob(s.edit, src, next));
  int32_t copied = 0;
  EXPECT_EQ(s.edit.CopyPart(0, 0, &copied, 1), S_OK);
  EXPECT_GE(copied, 3800);
  EXPECT_EQ(s.edit.EndWrite(), S_OK);
  EXPECT_TRUE(std::filesystem::exists(next));
}

}  // namespace

// The cursor-following preview: the picture for a position is the one the engine's own frame
// preview shows, whether it comes from memory, from a decode that goes on or from a fresh one;
// requests coalesce, memory stays within its budget, and a new clip replaces the old one at once.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <random>
#include <thread>

#include "CQmvedit.h"
#include "ClipGen.h"
#include "RecordingDisplay.h"
#include "ScrubPreview.h"
#include "TestDir.h"

namespace {

using qmvedit::ScrubPicture;
using qmvedit::ScrubPreview;
using testutil::MakeClip;
using testutil::RecordingDisplay;
using testutil::TempDir;

constexpr int kWait = 20000;  // ms; generous for the sanitizer build

int CodeOf(const ScrubPicture& p) {
  return clipgen::ReadFrameCode(p.pixels->data(), p.width, p.height, p.width * 4);
}

// Asks for one position and waits for its answer (null: nothing at this position).
std::shared_ptr<const ScrubPicture> Ask(ScrubPreview& preview, int pos) {
  preview.Request(pos);
  EXPECT_TRUE(preview.WaitIdle(kWait)) << pos;
  return preview.Take();
}

clipgen::ClipSpec Params(int ms, int w, int h, int keyMs) {
  clipgen::ClipSpec s;
  s.durationMs = ms;
  s.width = w;
  s.height = h;
  s.keyIntervalMs = keyMs;
  s.audioTracks = 1;
  return s;
}

// Every position, in an order that goes through memory, decodes that go on, fresh decodes from a
// key frame and the clip's end, gets the engine's picture; with and without a key frame list.
TEST(ScrubPreview, SamePictureAsTheEngine) {
  TempDir dir;
  const std::string clip = MakeClip(dir, "clip.wmv", Params(10000, 320, 240, 4000));
  RecordingDisplay display(320, 240);
  CQmvedit edit;
  ASSERT_EQ(edit.Init(), S_OK);
  edit.SetDispWnd(&display);
  ASSERT_EQ(edit.SetSrcFile(clip.c_str()), S_OK);
  ASSERT_EQ(edit.GetVideoOut(), 0);

  std::vector<int> positions = {0,    1,    39,    40,   41,   2000, 1000, 3000, 3999,
                                4000, 4001, 7960,  5000, 100,  9960, 9950, 9961, 9999,
                                8000, 6500, 20000, -5,   3990, 9000, 7999};
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> any(0, 10500);
  for (int i = 0; i < 10; ++i) positions.push_back(any(rng));

  for (bool withKeys : {false, true}) {
    SCOPED_TRACE(withKeys ? "key frame list" : "no key frame list");
    ScrubPreview preview;
    preview.SetDisplaySize(320, 240);
    preview.Open(clip);
    if (withKeys) preview.SetKeyFrames({0, 4000, 8000});
    ASSERT_TRUE(preview.WaitIdle(kWait));
    ASSERT_TRUE(preview.ClipOpen());
    for (int p : positions) {
      SCOPED_TRACE(p);
      const int before = display.draws;
      edit.FindPosPic(p);
      const bool engineDrew = display.draws > before;
      const auto pic = Ask(preview, p);
      ASSERT_EQ(pic != nullptr, engineDrew);
      if (!pic) continue;
      EXPECT_EQ(pic->requestMs, p);
      EXPECT_EQ(pic->width, 320);
      EXPECT_EQ(pic->height, 240);
      EXPECT_EQ(CodeOf(*pic), display.Code());
      EXPECT_EQ(pic->frameTime, static_cast<int64_t>(display.Code()) * 400000);
    }
    const qmvedit::ScrubStats s = preview.Stats();
    EXPECT_GT(s.fromMemory, 5);
    EXPECT_LT(s.seeks, static_cast<int64_t>(positions.size()) / 2);
    // Fitted into a smaller display: a new size, the same frame.
    preview.SetDisplaySize(100, 100);
    const auto small = Ask(preview, 5000);
    ASSERT_TRUE(small);
    EXPECT_EQ(small->width, 100);
    EXPECT_EQ(small->height, 75);
    EXPECT_EQ(small->y, 12);
    EXPECT_EQ(small->frameTime, 5000 * 10000);
    RecordingDisplay shown(100, 100);
    EXPECT_TRUE(ScrubPreview::Draw(*small, &shown));
    EXPECT_EQ(shown.dest.width, 100);
    EXPECT_EQ(shown.dest.height, 75);
  }
  edit.Exit();
}

// A burst of requests ends with the last one's picture after far fewer decodes than asking for
// each position would take.
TEST(ScrubPreview, RequestsCoalesce) {
  TempDir dir;
  const std::string clip = MakeClip(dir, "long.wmv", Params(20000, 320, 240, 10000));
  ScrubPreview preview;
  int notified = 0;
  std::mutex mu;
  preview.SetNotify([&] {
    std::lock_guard<std::mutex> lk(mu);
    ++notified;
  });
  preview.SetDisplaySize(160, 120);
  preview.Open(clip);
  // Back and forth over both groups of pictures, each position far from its key frame.
  std::mt19937 rng(5);
  std::uniform_int_distribution<int> any(5000, 19900);
  int last = 0;
  for (int i = 0; i < 300; ++i) {
    last = any(rng);
    preview.Request(last);
  }
  last = 17321;
  preview.Request(last);
  ASSERT_TRUE(preview.WaitIdle(kWait));
  const auto pic = preview.Take();
  ASSERT_TRUE(pic);
  EXPECT_EQ(pic->requestMs, last);
  EXPECT_EQ(pic->frameTime, (last + 39) / 40 * 400000);
  EXPECT_FALSE(preview.Take());  // taken once
  const qmvedit::ScrubStats s = preview.Stats();
  // Asked one by one, the positions would cost about 300 * 190 decoded frames.
  EXPECT_LT(s.framesDecoded, 3000);
  EXPECT_LT(s.published, 100);
  std::lock_guard<std::mutex> lk(mu);
  EXPECT_EQ(notified, s.published);
}

// The cache stays within its budget, and pictures dropped for room are decoded again exactly.
// A budget above the cap is held to 64 MiB.
TEST(ScrubPreview, MemoryStaysWithinBudget) {
  TempDir dir;
  const std::string clip = MakeClip(dir, "clip.wmv", Params(8000, 320, 240, 1000));
  const size_t budget = 2u << 20;  // about 6 pictures of 320 x 240
  ScrubPreview preview(budget);
  preview.SetDisplaySize(320, 240);
  preview.Open(clip);
  for (int p = 900; p < 8000; p += 1000) ASSERT_TRUE(Ask(preview, p)) << p;
  for (int p : {960, 100, 4500, 7960, 20}) {
    const auto pic = Ask(preview, p);
    ASSERT_TRUE(pic) << p;
    EXPECT_EQ(CodeOf(*pic), (p + 39) / 40) << p;
  }
  const qmvedit::ScrubStats s = preview.Stats();
  EXPECT_LE(s.peakCacheBytes, budget);
  EXPECT_GT(s.peakCacheBytes, budget / 2);

  const std::string big = MakeClip(dir, "big.wmv", Params(4000, 640, 480, 4000));
  ScrubPreview capped(size_t{1} << 30);
  capped.SetDisplaySize(640, 480);  // 1.2 MB a picture, 100 of them in the group
  capped.Open(big);
  const auto pic = Ask(capped, 3960);
  ASSERT_TRUE(pic);
  EXPECT_EQ(CodeOf(*pic), 99);
  EXPECT_LE(capped.Stats().peakCacheBytes, ScrubPreview::kMaxBudget);
  EXPECT_GE(capped.Stats().framesDecoded, 100);
}

// A new clip while the old one decodes: no picture of the old clip comes out after the Open, the
// new one's picture does; an unreadable clip gives none; destruction mid-decode joins promptly.
TEST(ScrubPreview, NewClipWhileDecoding) {
  TempDir dir;
  const std::string a = MakeClip(dir, "a.wmv", Params(10000, 640, 480, 10000));
  const std::string b = MakeClip(dir, "b.wmv", Params(3000, 320, 180, 1000));
  ScrubPreview preview;
  preview.SetDisplaySize(320, 240);
  preview.Open(a);
  ASSERT_TRUE(Ask(preview, 100));
  preview.Request(9900);  // a long decode
  preview.Open(b);
  EXPECT_FALSE(preview.Take());
  const auto pic = Ask(preview, 1500);
  ASSERT_TRUE(pic);
  EXPECT_EQ(pic->height, 180);  // b is 16:9, a 4:3
  EXPECT_EQ(CodeOf(*pic), (1500 + 39) / 40);
  EXPECT_FALSE(preview.Take());

  preview.Open(dir.File("missing.wmv"));
  EXPECT_FALSE(Ask(preview, 0));
  EXPECT_FALSE(preview.ClipOpen());
  preview.Open(b);
  EXPECT_TRUE(Ask(preview, 0));

  const auto t0 = std::chrono::steady_clock::now();
  {
    ScrubPreview doomed;
    doomed.SetDisplaySize(320, 240);
    doomed.Open(a);
    doomed.Request(9900);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
}

}  // namespace

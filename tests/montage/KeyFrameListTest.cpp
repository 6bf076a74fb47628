// The section list's real-start column, and the background listing that fills it.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "KeyFrameLister.h"
#include "SectionList.h"
#include "TestDir.h"

TEST(SectionListRealStart, FilledWhenKnownFollowsTheStartAndIsNotEditable) {
  CSectionList list;
  const std::vector<PERIOD> sections{{12000, 3000, 1}};
  list.Sync(sections);
  EXPECT_EQ(list.Text(0, kSecColRealStart), "") << "not known yet";
  // The key frames arrive after the row exists.
  list.SetKeyFrames(KeyFrameMarks({0, 10000, 13000}));
  EXPECT_EQ(list.Text(0, kSecColRealStart), "10000");
  // Update Cell on the column changes nothing; a new start moves it.
  list.Click(0, kSecColRealStart, sections);
  SectionListAction a = list.UpdateCell("13000", sections, 0, 60000);
  EXPECT_TRUE(a.store.empty());
  EXPECT_TRUE(a.message.empty());
  list.Click(0, kSecColFrom, sections);
  a = list.UpdateCell("13500", sections, 0, 60000);
  ASSERT_EQ(a.store.size(), 1u);
  EXPECT_EQ(list.Text(0, kSecColRealStart), "13000");
  // Five columns in the list's 316 pixels, with room for its frame and a scroll bar.
  int width = 0;
  for (const SectionListColumn& c : kSectionListColumns) width += c.width;
  EXPECT_LE(width, 316 - 4 - 18);
}

TEST(KeyFrameLister, HandsOutOnlyTheLatestClipsList) {
  testutil::TempDir dir;
  clipgen::ClipSpec a;
  a.durationMs = 6000;
  a.keyFramesMs = {3000};
  clipgen::ClipSpec b = a;
  b.keyFramesMs = {2000, 4000};
  b.noIndex = true;
  const std::string clipA = testutil::MakeClip(dir, "a.wmv", a);
  const std::string clipB = testutil::MakeClip(dir, "b.wmv", b);

  std::mutex m;
  std::condition_variable cv;
  std::vector<uint32_t> ready;
  const auto onReady = [&](uint32_t g) {
    std::lock_guard<std::mutex> lock(m);
    ready.push_back(g);
    cv.notify_all();
  };
  const auto waitFor = [&](uint32_t g) {
    std::unique_lock<std::mutex> lock(m);
    return cv.wait_for(lock, std::chrono::seconds(20),
                       [&] { return std::find(ready.begin(), ready.end(), g) != ready.end(); });
  };
  KeyFrameLister lister;
  const uint32_t first = lister.Start(clipA, onReady);
  const uint32_t second = lister.Start(clipB, onReady);
  ASSERT_TRUE(waitFor(second));
  EXPECT_FALSE(lister.Take(first)) << "a list of the clip before is dropped";
  EXPECT_EQ(lister.Take(second), (std::vector<int32_t>{0, 2000, 4000}));
  // An unreadable file gives an empty list.
  const uint32_t bad = lister.Start(dir.File("missing.wmv"), onReady);
  ASSERT_TRUE(waitFor(bad));
  EXPECT_EQ(lister.Take(bad), std::vector<int32_t>{});
}

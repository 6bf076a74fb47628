// The section list's real-start column, and the background listing that fills it.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "KeyFrameLister.h"
#include "KeyFrames.h"
#include "SectionList.h"
#include "TestDir.h"

namespace {
// Row of the list whose start column reads from.
int RowOf(const CSectionList& list, int from) {
  for (int r = 0; r < list.RowCount(); ++r)
    if (list.Text(r, kSecColFrom) == std::to_string(from)) return r;
  return -1;
}
}  // namespace

TEST(SectionListRealStart, FilledWhenKnownFollowsTheStartAndIsNotEditable) {
  CSectionList list;
  std::vector<PERIOD> sections{{2000, 1000, 2}};
  list.Sync(sections);
  sections.insert(sections.begin(), PERIOD{12000, 3000, 1});
  list.Sync(sections);
  ASSERT_EQ(list.RowCount(), 2);
  const int row = RowOf(list, 12000);
  ASSERT_GE(row, 0);
  EXPECT_EQ(list.Text(row, kSecColRealStart), "") << "not known yet";

  // The key frames arrive after the rows exist.
  list.SetKeyFrames(KeyFrameMarks({0, 10000, 13000}));
  EXPECT_EQ(list.Text(row, kSecColRealStart), "10000");
  EXPECT_EQ(list.Text(RowOf(list, 2000), kSecColRealStart), "0");
  EXPECT_EQ(list.SectionOfRow(row, sections), 0) << "rows still tied by start and length";

  // Update Cell on the column changes nothing.
  list.Click(row, kSecColRealStart, sections);
  SectionListAction a = list.UpdateCell("13000", sections, 0, 60000);
  EXPECT_TRUE(a.store.empty());
  EXPECT_TRUE(a.message.empty());
  EXPECT_EQ(list.Text(row, kSecColRealStart), "10000");

  // A new start moves the real start with it; new rows get theirs at once.
  list.Click(row, kSecColFrom, sections);
  a = list.UpdateCell("13500", sections, 0, 60000);
  ASSERT_EQ(a.store.size(), 1u);
  EXPECT_EQ(list.Text(row, kSecColRealStart), "13000");
  list.Sync({a.store[0].period, sections[1], {20000, 500, 3}});
  ASSERT_GE(RowOf(list, 20000), 0);
  EXPECT_EQ(list.Text(RowOf(list, 20000), kSecColRealStart), "13000");

  // Five columns in the list's 316 pixels with room for a frame and a scroll bar.
  int width = 0;
  for (const SectionListColumn& c : kSectionListColumns) width += c.width;
  EXPECT_LE(width, 316 - 4 - 18);
  EXPECT_STREQ(kSectionListColumns[1].title, "From(Sort)");
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
  KeyFrameLister lister;
  const uint32_t first = lister.Start(clipA, onReady);
  const uint32_t second = lister.Start(clipB, onReady);
  EXPECT_NE(first, second);
  {
    std::unique_lock<std::mutex> lock(m);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(20), [&] {
      return std::find(ready.begin(), ready.end(), second) != ready.end();
    }));
  }
  EXPECT_FALSE(lister.Take(first));
  const auto times = lister.Take(second);
  ASSERT_TRUE(times);
  EXPECT_EQ(*times, (std::vector<int32_t>{0, 2000, 4000}));

  // An unreadable file gives an empty list; a listing cut short by the destructor reports
  // nothing afterwards.
  const uint32_t bad = lister.Start(dir.File("missing.wmv"), onReady);
  {
    std::unique_lock<std::mutex> lock(m);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(20), [&] {
      return std::find(ready.begin(), ready.end(), bad) != ready.end();
    }));
  }
  ASSERT_TRUE(lister.Take(bad));
  EXPECT_TRUE(lister.Take(bad)->empty());
  {
    KeyFrameLister shortLived;
    shortLived.Start(clipA, [&](uint32_t) {});
  }
}

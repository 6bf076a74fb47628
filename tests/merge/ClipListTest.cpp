// The clip list model against generated clips: cell texts, selection, Seq# edits, sorting and the
// order in which the merge takes the rows.
#include <gtest/gtest.h>
#include <sys/time.h>

#include <ctime>
#include <filesystem>
#include <fstream>

#include "ClipFile.h"
#include "ClipList.h"
#include "TestDir.h"

namespace {

using testutil::TempDir;

clipgen::ClipSpec SmallClip(int durationMs = 1000) {
  clipgen::ClipSpec s;
  s.durationMs = durationMs;
  s.width = 160;
  s.height = 120;
  return s;
}

// Local time as seconds since the epoch.
time_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_isdst = -1;
  return std::mktime(&t);
}

void SetFileTime(const std::string& path, time_t when) {
  const timeval times[2] = {{when, 0}, {when, 0}};
  ASSERT_EQ(utimes(path.c_str(), times), 0);
}

// Copies of one generated clip under other names, each with its own file time.
struct ClipCopies {
  explicit ClipCopies(const TempDir& dir, int durationMs = 1000)
      : dir(dir), source(testutil::MakeClip(dir, "source.wmv", SmallClip(durationMs))) {}
  std::string Copy(const std::string& name, time_t when = 0) {
    const std::string path = dir.File(name);
    std::filesystem::copy_file(source, path, std::filesystem::copy_options::overwrite_existing);
    if (when != 0) SetFileTime(path, when);
    return path;
  }
  const TempDir& dir;
  std::string source;
};

std::vector<std::string> Column(const ClipList& list, int column) {
  std::vector<std::string> texts;
  for (int r = 0; r < list.Count(); ++r) texts.push_back(list.Text(r, column));
  return texts;
}

std::vector<std::string> Names(const ClipList& list) {
  std::vector<std::string> names;
  for (int r = 0; r < list.Count(); ++r)
    names.push_back(std::filesystem::path(list.Text(r, kColPath)).filename().string());
  return names;
}

using Texts = std::vector<std::string>;

TEST(ClipList, RowCellsOfGeneratedClips) {
  TempDir dir;
  clipgen::ClipSpec a = SmallClip(3500);
  a.width = 320;
  a.height = 240;
  a.videoBitRate = 300000;
  clipgen::ClipSpec b = SmallClip(5000);
  b.videoBitRate = 200000;
  b.fpsNum = 30000;
  b.fpsDen = 1001;
  const std::string pathA = testutil::MakeClip(dir, "a.wmv", a);
  const std::string pathB = testutil::MakeClip(dir, "b.QMV", b);
  SetFileTime(pathA, LocalTime(2004, 5, 7, 9, 3, 2));

  ClipList list;
  ASSERT_TRUE(list.Add(pathA));
  ASSERT_TRUE(list.Add(pathB));
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Text(0, kColSeq), "1");
  // The video bit rate the file declares: none in the generator's clips.
  EXPECT_EQ(list.Text(0, kColBaudrate), "0bps");
  EXPECT_EQ(list.Text(0, kColResolution), "320X240@25.00");
  EXPECT_EQ(list.Text(0, kColDuration), "00:00:03");
  EXPECT_EQ(list.Text(0, kColCreateTime), "2004-05-07 09:03:02");
  EXPECT_EQ(list.Text(0, kColPath), pathA);
  EXPECT_EQ(list.Text(1, kColSeq), "2");
  EXPECT_EQ(list.Text(1, kColResolution), "160X120@29.97");
  EXPECT_EQ(list.Text(1, kColDuration), "00:00:05");
  EXPECT_EQ(list.Text(2, kColSeq), "");  // outside the list
  // The total is the sum of the exact lengths, not of the truncated texts.
  EXPECT_EQ(list.TotalLengthMs(), GetClipLength(pathA) + GetClipLength(pathB));
  EXPECT_EQ(list.TotalLengthText(), "00:00:08");
}

TEST(ClipList, OnlyClipFilesAreAddedAndDropsGoLastFirst) {
  TempDir dir;
  ClipCopies clips(dir);
  ClipList list;
  EXPECT_FALSE(list.Add(clips.Copy("clip.wmv.bak")));
  EXPECT_FALSE(list.Add(clips.Copy("clip.avi")));
  EXPECT_EQ(list.Count(), 0);
  EXPECT_TRUE(list.Add(clips.Copy("mixed.WmV")));
  EXPECT_TRUE(list.Add(clips.Copy("mixed.wmv")));
  EXPECT_TRUE(list.Add(dir.File("mixed.wmv")));  // the same file again is a row of its own
  EXPECT_EQ(list.Count(), 3);

  ClipList dropped;
  const std::vector<std::string> drop = {clips.Copy("d1.wmv"), clips.Copy("d2.qmv"),
                                         dir.File("notes.txt"), clips.Copy("d3.Qmv"),
                                         clips.Copy("d4.wmv")};
  EXPECT_EQ(dropped.AddDropped(drop), 4);
  EXPECT_EQ(Names(dropped), (Texts{"d4.wmv", "d3.Qmv", "d2.qmv", "d1.wmv"}));
  EXPECT_EQ(Column(dropped, kColSeq), (Texts{"1", "2", "3", "4"}));
}

TEST(ClipList, UnreadableClipsAreListedWithoutLengthOrTime) {
  TempDir dir;
  ClipList list;
  // Not a clip inside, and a name for which no file exists.
  std::ofstream(dir.File("text.wmv")) << "not a clip";
  EXPECT_TRUE(list.Add(dir.File("text.wmv")));
  EXPECT_TRUE(list.Add(dir.File("gone.wmv")));
  EXPECT_EQ(Column(list, kColDuration), (Texts{"00:00:00", "00:00:00"}));
  EXPECT_EQ(list.Text(1, kColCreateTime), "");
  EXPECT_NE(list.Text(0, kColCreateTime), "");
  EXPECT_EQ(list.TotalLengthMs(), 0u);

  // Without the information library a row is still added, with no length.
  ClipCopies clips(dir);
  SetInstallFolder(dir.File("empty"));
  EXPECT_TRUE(list.Add(clips.Copy("c.wmv")));
  SetInstallFolder("");
  EXPECT_EQ(list.Text(2, kColDuration), "00:00:00");
  EXPECT_EQ(list.Text(2, kColSeq), "3");
  EXPECT_EQ(list.TotalLengthMs(), 0u);
}

TEST(ClipList, DeleteKeepsNumbersAndSelectsTheRowAbove) {
  TempDir dir;
  ClipCopies clips(dir, 2500);
  const uint32_t one = GetClipLength(clips.source);
  ClipList list;
  for (const char* name : {"a.wmv", "b.wmv", "c.wmv"}) ASSERT_TRUE(list.Add(clips.Copy(name)));
  EXPECT_EQ(list.TotalLengthMs(), 3 * one);

  // Delete without a selection removes nothing and clears the edit.
  ClipPaneTexts t = list.Delete();
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(t.seqEdit, "");

  t = list.Click(1);
  EXPECT_EQ(t.seqEdit, "2");
  EXPECT_EQ(t.message, "    " + dir.File("b.wmv"));
  // The clip changes on disk after it was added: the total still drops by what the row added.
  std::filesystem::remove(dir.File("b.wmv"));
  t = list.Delete();
  EXPECT_EQ(list.Selected(), 0);
  EXPECT_EQ(t.seqEdit, "1");
  EXPECT_EQ(list.TotalLengthMs(), 2 * one);
  EXPECT_TRUE(list.Add(clips.Copy("d.wmv")));
  EXPECT_EQ(Column(list, kColSeq), (Texts{"1", "3", "3"}));

  // The top row: no selection afterwards.
  list.Click(0);
  t = list.Delete();
  EXPECT_EQ(list.Selected(), -1);
  EXPECT_EQ(t.seqEdit, "");
  EXPECT_EQ(Names(list), (Texts{"c.wmv", "d.wmv"}));
  EXPECT_EQ(list.TotalLengthMs(), 2 * one);

  // A click on no row leaves the edit and message as they are.
  t = list.Click(5);
  EXPECT_EQ(list.Selected(), -1);
  EXPECT_FALSE(t.seqEdit.has_value());
  EXPECT_FALSE(t.message.has_value());
  EXPECT_FALSE(list.SelectedPath().has_value());
  list.Click(1);
  EXPECT_EQ(list.SelectedPath(), dir.File("d.wmv"));
  list.Delete();
  list.Delete();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.TotalLengthMs(), 0u);
  EXPECT_EQ(list.TotalLengthText(), "00:00:00");
}

TEST(ClipList, ChangeSeqTexts) {
  TempDir dir;
  ClipCopies clips(dir);
  ClipList list;
  for (const char* name : {"a.wmv", "b.wmv", "c.wmv"}) ASSERT_TRUE(list.Add(clips.Copy(name)));

  EXPECT_EQ(list.ChangeSeq("2").message, kTextNoClipSelected);  // nothing selected
  list.Click(2);
  EXPECT_EQ(list.ChangeSeq("4").message, kTextInvalidSeq);
  EXPECT_EQ(list.ChangeSeq("99999999999999999999").message, kTextInvalidSeq);
  EXPECT_FALSE(list.ChangeSeq("").message.has_value());
  EXPECT_EQ(Column(list, kColSeq), (Texts{"1", "2", "3"}));

  EXPECT_EQ(list.ChangeSeq("01").message, kTextSeqUpdated);  // kept as typed
  EXPECT_EQ(list.Text(2, kColSeq), "01");
  list.Click(0);
  EXPECT_EQ(list.ChangeSeq("0").message, kTextSeqUpdated);
  EXPECT_EQ(Column(list, kColSeq), (Texts{"0", "2", "01"}));
}

TEST(ClipList, SortsBySeqNumberAndByCreateTime) {
  TempDir dir;
  ClipCopies clips(dir);
  ClipList list;
  const time_t base = LocalTime(2021, 3, 1, 12, 0, 0);
  // Ten clips j0 ... j9, their file times one day apart backwards, except that j4 and j5 share
  // j3's time.
  for (int i = 0; i < 10; ++i) {
    const time_t when = base - 86400 * (i == 4 || i == 5 ? 3 : i);
    ASSERT_TRUE(list.Add(clips.Copy("j" + std::to_string(i) + ".wmv", when)));
  }
  // Seq# texts 10, 9, 5, 5, 1, 2, 3, 4, 6, 7.
  const char* seqs[] = {"10", "9", "5", "5", "1", "2", "3", "4", "6", "7"};
  for (int row = 0; row < 10; ++row) {
    list.Click(row);
    ASSERT_EQ(list.ChangeSeq(seqs[row]).message, kTextSeqUpdated);
  }

  // Other columns keep the order.
  for (int column : {1, 2, 3, 5}) EXPECT_FALSE(list.SortByColumn(column));
  EXPECT_EQ(list.Text(0, kColSeq), "10");

  // Numbers, not texts: 10 after 9; equal numbers keep their order.
  EXPECT_TRUE(list.SortByColumn(kColSeq));
  EXPECT_EQ(Names(list), (Texts{"j4.wmv", "j5.wmv", "j6.wmv", "j7.wmv", "j2.wmv", "j3.wmv",
                                "j8.wmv", "j9.wmv", "j1.wmv", "j0.wmv"}));
  EXPECT_EQ(Column(list, kColSeq), (Texts{"1", "2", "3", "4", "5", "5", "6", "7", "9", "10"}));
  EXPECT_FALSE(list.SortByColumn(kColSeq));

  // File time, oldest first, renumbered; j4, j5 and j3 share a time and keep their order.
  EXPECT_TRUE(list.SortByColumn(kColCreateTime));
  EXPECT_EQ(Names(list), (Texts{"j9.wmv", "j8.wmv", "j7.wmv", "j6.wmv", "j4.wmv", "j5.wmv",
                                "j3.wmv", "j2.wmv", "j1.wmv", "j0.wmv"}));
  EXPECT_EQ(Column(list, kColSeq), (Texts{"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}));
  EXPECT_EQ(list.Text(9, kColCreateTime), "2021-03-01 12:00:00");
}

TEST(ClipList, MergeTakesEveryRowOnceByNumberThenRow) {
  TempDir dir;
  ClipCopies clips(dir);
  ClipList list;
  for (const char* name : {"a.wmv", "b.wmv", "c.wmv", "d.wmv"})
    ASSERT_TRUE(list.Add(clips.Copy(name)));
  EXPECT_EQ(list.MergeOrder(), (std::vector<int>{0, 1, 2, 3}));
  // Repeats and a gap: 3, 1, 3, 1 (no 2, no 4).
  list.Click(0);
  list.ChangeSeq("3");
  list.Click(1);
  list.ChangeSeq("1");
  list.Click(3);
  list.ChangeSeq("1");
  EXPECT_EQ(list.MergeOrder(), (std::vector<int>{1, 3, 0, 2}));
  // Delete leaves gaps: 3, 1, 1.
  list.Click(2);
  list.Delete();
  EXPECT_EQ(list.MergeOrder(), (std::vector<int>{1, 2, 0}));
  list.Click(0);
  list.ChangeSeq("0");
  EXPECT_EQ(list.MergeOrder(), (std::vector<int>{0, 1, 2}));
}

TEST(ClipList, DurationTexts) {
  EXPECT_EQ(ClipList::DurationText(0), "00:00:00");
  EXPECT_EQ(ClipList::DurationText(3723456), "01:02:03");
  EXPECT_EQ(ClipList::DurationText(360000000), "100:00:00");
  EXPECT_EQ(ClipList::DurationText(59999), "00:00:59");
  EXPECT_EQ(ClipList::PreviewTimeText(3723456), "1:02:03");
  EXPECT_EQ(ClipList::PreviewTimeText(999), "0:00:00");
  EXPECT_EQ(ClipList::SeqNumber("12ab"), 12);
  EXPECT_EQ(ClipList::SeqNumber("x1"), 0);
}

}  // namespace

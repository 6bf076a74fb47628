// Output names beside the source clip and their numbered variants.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "OutputName.h"
#include "TestDir.h"

namespace {

std::tm At(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return t;
}

TEST(OutputName, TimedNameSitsBesideTheSourceWithoutLeadingZeros) {
  const std::tm t = At(2004, 5, 7, 9, 3, 2);
  EXPECT_EQ(TimedOutputName("/v/a.wmv", "Merged", t), "/v/aMerged2004_5_7_9_3_2.wmv");
  EXPECT_EQ(TimedOutputName("/v/clip.part.QMV", "MoN", At(2023, 12, 31, 23, 59, 58)),
            "/v/clip.partMoN2023_12_31_23_59_58.QMV");
  // The whole path is the base when it has no ".".
  EXPECT_EQ(TimedOutputName("wmv", "Merged", t), "wmvMerged2004_5_7_9_3_2.");
}

TEST(OutputName, NumberGoesBeforeTheExtensionOfTheFileName) {
  EXPECT_EQ(NumberedOutputName("/v/aMerged2004_5_7_9_3_2.wmv", 1), "/v/aMerged2004_5_7_9_3_2.wmv");
  EXPECT_EQ(NumberedOutputName("/v/aMerged2004_5_7_9_3_2.wmv", 2),
            "/v/aMerged2004_5_7_9_3_2_2.wmv");
  EXPECT_EQ(NumberedOutputName("/v/a.b/clip", 3), "/v/a.b/clip_3");  // a folder's dot
}

TEST(OutputName, FreeNameSkipsFilesFoldersAndDanglingLinks) {
  testutil::TempDir dir;
  const std::string name = dir.File("aMerged.wmv");
  EXPECT_EQ(FreeOutputName(name), name);
  std::ofstream(name) << "x";
  EXPECT_EQ(FreeOutputName(name), dir.File("aMerged_2.wmv"));
  ASSERT_EQ(symlink("/nonexistent/target", dir.File("aMerged_2.wmv").c_str()), 0);
  std::filesystem::create_directory(dir.File("aMerged_3.wmv"));
  EXPECT_EQ(FreeOutputName(name), dir.File("aMerged_4.wmv"));
  EXPECT_EQ(FreeOutputName(name, 3), "");
}

}  // namespace

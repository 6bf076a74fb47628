// The section list as CSV: what is written reads back as the same sections, rows as lossless
// cutters write them are read, and a file with a bad row is refused whole.
#include <gtest/gtest.h>

#include "SectionCsv.h"

static bool operator==(const PERIOD& a, const PERIOD& b) {
  return a.nFrom == b.nFrom && a.nDur == b.nDur && a.nSeq == b.nSeq;
}
static std::ostream& operator<<(std::ostream& os, const PERIOD& p) {
  return os << "{" << p.nFrom << ", " << p.nDur << ", " << p.nSeq << "}";
}

TEST(SectionCsv, WrittenInNumberOrderAndReadBackTheSame) {
  const std::vector<PERIOD> sections = {{12480, 2520, 2}, {1000, 5, 3}, {30001, 9999, 1}};
  const std::string csv = SectionsToCsv(sections);
  EXPECT_EQ(csv, "30.001,40.000,1\n12.480,15.000,2\n1.000,1.005,3\n");
  const CsvSections back = SectionsFromCsv(csv, 40000);
  ASSERT_TRUE(back.Ok()) << back.error;
  EXPECT_EQ(back.sections, (std::vector<PERIOD>{{30001, 9999, 1}, {12480, 2520, 2}, {1000, 5, 3}}));
}

TEST(SectionCsv, RowsAsLosslessCuttersWriteThem) {
  // Labels take the smallest numbers no row names, in row order; quotes, CRLF, a byte order
  // mark, blank lines, short and long fractions, an open end.
  const std::string csv =
      "\xEF\xBB\xBF"
      "0,1.5,\"Intro, part one\"\r\n"
      "\r\n"
      "2.25,3.1239,1\r\n"
      " 4 , 5.0005 ,\r\n"
      "6,,\"say \"\"hi\"\"\"\n"
      "7.5,8";
  const CsvSections r = SectionsFromCsv(csv, 10000);
  ASSERT_TRUE(r.Ok()) << r.error;
  EXPECT_EQ(r.sections,
            (std::vector<PERIOD>{
                {0, 1500, 2}, {2250, 874, 1}, {4000, 1001, 3}, {6000, 4000, 4}, {7500, 500, 5}}));
  std::vector<PERIOD> numbered = {{0, 1, 0}, {0, 1, 2}, {0, 1, 0}, {0, 1, 1}, {0, 1, 0}};
  NumberUnnamed(&numbered);
  EXPECT_EQ(numbered[0].nSeq, 3);
  EXPECT_EQ(numbered[2].nSeq, 4);
  EXPECT_EQ(numbered[4].nSeq, 5);
}

TEST(SectionCsv, ABadRowRefusesTheFileAndNamesTheRow) {
  const std::pair<const char*, const char*> bad[] = {
      {"1,2,1\nabc,3,2\n", "row 2: the start 'abc' is not a time in seconds"},
      {"1,2x,1\n", "row 1: the end '2x' is not a time in seconds"},
      {"-1,2\n", "row 1: the start '-1' is not a time in seconds"},
      {"3,2\n", "row 1: the end is not after the start"},
      {"3,3\n", "row 1: the end is not after the start"},
      {"1,11\n", "row 1: the end lies after the clip's end (10.000 s)"},
      {"1,2,1,x\n", "row 1: more than three columns"},
      {"1\n", "row 1: a start and an end are needed"},
      {"1,2,0\n", "row 1: numbers start at 1"},
      {"1,2,\"open\n", "row 1: a quote is not closed"},
      {"99999999999,2\n", "row 1: the start '99999999999' is not a time in seconds"},
      {"\n\n", "no sections in it"},
  };
  for (const auto& [csv, why] : bad) {
    const CsvSections r = SectionsFromCsv(csv, 10000);
    EXPECT_EQ(r.error, why) << csv;
    EXPECT_TRUE(r.sections.empty()) << csv;
  }
}

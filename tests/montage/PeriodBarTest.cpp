// The timeline model without a window: points, numbers, cuts, edge drags, neighbours, pixels.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "PeriodBar.h"

// Found by argument lookup, so they live beside PERIOD in the global namespace.
static bool operator==(const PERIOD& a, const PERIOD& b) {
  return a.nFrom == b.nFrom && a.nDur == b.nDur && a.nSeq == b.nSeq;
}

static std::ostream& operator<<(std::ostream& os, const PERIOD& p) {
  return os << "{" << p.nFrom << ", " << p.nDur << ", " << p.nSeq << "}";
}

namespace {

// A 600-pixel bar of height 24 (band rows 0 to 19) over the given range.
CPeriodBar MakeBar(int max = 60000) {
  CPeriodBar bar;
  bar.SetBarRect(0, 0, 600, 24);
  bar.SetRange(0, max);
  return bar;
}

void AddSection(CPeriodBar& bar, int from, int to) {
  bar.SetPos(from);
  bar.SetBeginPoint();
  bar.SetPos(to);
  bar.SetEndPoint();
}

std::vector<PERIOD> Sections(const CPeriodBar& bar) {
  std::vector<PERIOD> out;
  for (int i = 0; i < bar.GetCount(); ++i) out.push_back(*bar.GetPeriod(i));
  return out;
}

// What the model wrote to the debugger output (standard error while VANTREL_DEBUG is set),
// without the one-time note that the log file was created.
class LogCapture {
 public:
  LogCapture() {
    setenv("VANTREL_DEBUG", "1", 1);
    testing::internal::CaptureStderr();
  }
  std::string Text() {
    unsetenv("VANTREL_DEBUG");
    std::string s = testing::internal::GetCapturedStderr();
    const std::string note = "***Debug log file is created\n";
    if (auto at = s.find(note); at != std::string::npos) s.erase(at, note.size());
    return s;
  }
};

}  // namespace

TEST(PeriodBarCursor, StepIsAHundredthOfTheRangeAndStaysInside) {
  CPeriodBar bar = MakeBar(10000);
  EXPECT_EQ(bar.GetStep(), 100);
  bar.SetPos(9950);
  bar.StepForward(2);
  EXPECT_EQ(bar.GetPos(), 10000);
  bar.SetPos(150);
  bar.StepBack(2);
  EXPECT_EQ(bar.GetPos(), 0);
  bar.SetPos(70000);  // beyond the end: held at the end
  EXPECT_EQ(bar.GetPos(), 10000);
  bar.SetRange(500, 800);  // a new range puts the cursor at its start
  EXPECT_EQ(bar.GetPos(), 500);
  EXPECT_EQ(bar.GetStep(), 3);
}

TEST(PeriodBarPoints, SectionFromBeginningAndEndInEitherOrder) {
  CPeriodBar bar = MakeBar();
  AddSection(bar, 5000, 2000);
  ASSERT_EQ(bar.GetCount(), 1);
  EXPECT_EQ(*bar.GetPeriod(0), (PERIOD{2000, 3000, 1}));
  EXPECT_FALSE(bar.IsBeginSet());
}

TEST(PeriodBarPoints, RefusalsAreLoggedAndChangeNothing) {
  CPeriodBar bar = MakeBar();
  {
    LogCapture log;
    bar.SetPos(3000);
    bar.SetEndPoint();
    EXPECT_EQ(log.Text(), "Please set beginning point first\n");
  }
  bar.SetBeginPoint();
  {
    LogCapture log;
    bar.SetEndPoint();  // cursor still on the beginning point
    EXPECT_EQ(log.Text(), "Not duration between beginning and end\n");
  }
  EXPECT_TRUE(bar.IsBeginSet());
  EXPECT_EQ(bar.GetCount(), 0);

  CPeriodBar other = MakeBar();
  AddSection(other, 1000, 2000);
  LogCapture log;
  other.SetPos(2000);  // on the section's end: the closed interval holds it
  other.SetBeginPoint();
  EXPECT_EQ(log.Text(), "Cannot set beginning point\n");
  EXPECT_FALSE(other.IsBeginSet());
}

TEST(PeriodBarPoints, EndPointMayNotHoldOrEncloseAnotherSection) {
  CPeriodBar bar = MakeBar();
  AddSection(bar, 1000, 2000);
  AddSection(bar, 4000, 5000);
  bar.SetPos(2500);
  bar.SetBeginPoint();
  {
    LogCapture log;
    bar.SetPos(4500);  // inside the second section
    bar.SetEndPoint();
    bar.SetPos(6000);  // the span would hold 4000
    bar.SetEndPoint();
    EXPECT_EQ(log.Text(), "Cannot set beginning point\nCannot set beginning point\n");
  }
  EXPECT_EQ(bar.GetCount(), 2);
  EXPECT_TRUE(bar.IsBeginSet());
  bar.SetPos(3999);
  bar.SetEndPoint();
  ASSERT_EQ(bar.GetCount(), 3);
  EXPECT_EQ(*bar.GetPeriod(2), (PERIOD{2500, 1499, 3}));
}

TEST(PeriodBarPoints, SectionStretchedOverAPendingBeginningPointBlocksTheEnd) {
  CPeriodBar bar = MakeBar();
  AddSection(bar, 1000, 2000);
  bar.SetPos(5000);
  bar.SetBeginPoint();
  // The section's end is typed in beyond the pending beginning point.
  bar.GetPeriod(0)->nDur = 5000;
  bar.SetPos(7000);
  bar.SetEndPoint();
  EXPECT_EQ(bar.GetCount(), 1) << "the new section would overlap {1000, 5000}";
}

TEST(PeriodBarSequence, SmallestFreeNumberIsReusedFirst) {
  CPeriodBar bar = MakeBar();
  AddSection(bar, 1000, 2000);
  AddSection(bar, 3000, 4000);
  AddSection(bar, 5000, 6000);
  PERIOD second = *bar.GetPeriod(1);
  bar.RemovePeriod(&second);  // numbers 1 and 3 remain
  EXPECT_EQ(bar.NextSeq(), 2);
  AddSection(bar, 7000, 8000);
  EXPECT_EQ(bar.GetPeriod(2)->nSeq, 2);
  EXPECT_EQ(bar.NextSeq(), 4);
  // Hand-typed duplicates and numbers far beyond the count do not confuse it.
  bar.GetPeriod(0)->nSeq = 3;
  bar.GetPeriod(2)->nSeq = 99;
  EXPECT_EQ(bar.NextSeq(), 1);
}

TEST(PeriodBarSequence, RemovingFromAnEmptyArrayIsLogged) {
  CPeriodBar bar = MakeBar();
  PERIOD p{1, 2, 3};
  LogCapture log;
  bar.RemovePeriod(&p);
  EXPECT_EQ(log.Text(), "No periodmark\n");
}

TEST(PeriodBarCut, SpanBetweenSplitPointsIsCutOut) {
  CPeriodBar bar = MakeBar();
  AddSection(bar, 1000, 6000);
  bar.SetPos(3000);
  ASSERT_NE(bar.SetFirstSplit(), nullptr);
  bar.SetPos(2000);  // below the first: the two are swapped
  bar.SetSecondSplit();
  EXPECT_EQ(bar.GetSplitState(), 2);
  EXPECT_EQ(bar.GetSplit1(), 2000);
  EXPECT_EQ(bar.GetSplit2(), 3000);
  bar.SetPos(3000);
  bar.CutRange(true);
  EXPECT_EQ(Sections(bar), (std::vector<PERIOD>{{3000, 3000, 2}, {1000, 1000, 1}}));
  EXPECT_EQ(bar.GetEditPeriod(), (PERIOD{3000, 3000, 2}));  // the cursor's part is selected
  EXPECT_EQ(bar.GetSelPeriod(), (PERIOD{3000, 3000, 2}));
  EXPECT_EQ(bar.GetSplitState(), 0);
}

TEST(PeriodBarCut, SecondSplitInAnotherSectionIsIgnored) {
  CPeriodBar bar = MakeBar();
  AddSection(bar, 1000, 2000);
  AddSection(bar, 4000, 5000);
  bar.SetPos(1500);
  bar.SetFirstSplit();
  bar.SetPos(4500);
  bar.SetSecondSplit();
  EXPECT_EQ(bar.GetSplitState(), 1);
  bar.SetPos(3000);  // outside every section: nothing changes
  EXPECT_EQ(bar.SetFirstSplit(), nullptr);
  EXPECT_EQ(bar.GetSplit1(), 1500);
}

TEST(PeriodBarCut, SplitOnAnEdgeLeavesNoEmptyPart) {
  CPeriodBar bar = MakeBar();
  AddSection(bar, 1000, 6000);  // number 1
  AddSection(bar, 8000, 9000);  // number 2
  bar.SetPos(1000);             // on the start
  bar.SetFirstSplit();
  bar.SetPos(2500);
  bar.SetSecondSplit();
  bar.SetPos(1000);
  bar.CutRange(true);
  // The remaining part keeps the section's number: numbers stay 1 to n.
  EXPECT_EQ(Sections(bar), (std::vector<PERIOD>{{8000, 1000, 2}, {2500, 3500, 1}}));
  EXPECT_EQ(bar.GetEditPeriod().nDur, 0) << "the dropped part cannot be selected";

  bar.SetPos(4000);
  bar.SetFirstSplit();
  bar.SetPos(6000);  // on the end
  bar.SetSecondSplit();
  bar.SetPos(3000);
  bar.CutRange(true);
  EXPECT_EQ(Sections(bar), (std::vector<PERIOD>{{8000, 1000, 2}, {2500, 1500, 1}}));
  EXPECT_EQ(bar.GetSelPeriod(), (PERIOD{2500, 1500, 1}));
}

TEST(PeriodBarCut, SplitPointsOutsideATrimmedSectionCutNothing) {
  CPeriodBar bar = MakeBar();
  AddSection(bar, 1000, 6000);
  bar.SetPos(2000);
  bar.SetFirstSplit();
  bar.SetPos(5000);
  bar.SetSecondSplit();
  bar.GetPeriod(0)->nDur = 2000;  // trimmed to end at 3000, before the second split point
  bar.CutRange(true);
  EXPECT_EQ(Sections(bar), (std::vector<PERIOD>{{1000, 2000, 1}}));
  EXPECT_EQ(bar.GetSplitState(), 0);

  bar.SetPos(1500);
  bar.SetFirstSplit();
  bar.SetPos(2500);
  bar.SetSecondSplit();
  bar.CutRange(false);  // dropped, not applied
  EXPECT_EQ(bar.GetCount(), 1);
  EXPECT_EQ(bar.GetSplitState(), 0);
}

TEST(PeriodBarSelection, ClickSelectsIndexCentresDeleteRemoves) {
  CPeriodBar bar = MakeBar();
  AddSection(bar, 10000, 15000);  // pixels 100 to 150
  AddSection(bar, 30000, 31000);
  bar.SelectAt(149, 10);
  EXPECT_EQ(bar.GetSelIndex(), 0);
  bar.SelectAt(150, 10);  // right edge excluded
  EXPECT_EQ(bar.GetSelIndex(), -1);
  EXPECT_EQ(bar.GetEditPeriod().nDur, 0);
  bar.SelectAt(120, 22);  // below the band
  EXPECT_EQ(bar.GetSelIndex(), -1);

  bar.SelectIndex(1);
  EXPECT_EQ(bar.GetPos(), 30500);
  EXPECT_EQ(bar.GetSelPeriod(), (PERIOD{30000, 1000, 2}));
  bar.DeleteSelected();
  EXPECT_EQ(Sections(bar), (std::vector<PERIOD>{{10000, 5000, 1}}));
  EXPECT_EQ(bar.GetSelIndex(), -1);
  bar.DeleteSelected();  // nothing selected any more
  EXPECT_EQ(bar.GetCount(), 1);
  bar.SelectIndex(7);  // not a section: ignored
  EXPECT_EQ(bar.GetEditPeriod().nDur, 0);
}

TEST(PeriodBarEdgeDrag, GripZonesAreSixPixelsInsideEachEnd) {
  CPeriodBar bar = MakeBar();
  AddSection(bar, 10000, 15000);  // pixels 100 to 150, 100 ms a pixel
  int edge = 0;
  bool hit = true;
  bar.EdgeHit(101, 10, &edge, &hit);
  EXPECT_FALSE(hit) << "nothing selected yet";
  bar.SelectAt(120, 10);
  bar.EdgeHit(105, 10, &edge, &hit);  // 10500 < 10000 + 600
  EXPECT_TRUE(hit);
  EXPECT_EQ(edge, 2);
  bar.EdgeHit(106, 10, &edge, &hit);
  EXPECT_FALSE(hit);
  bar.EdgeHit(145, 10, &edge, &hit);  // 14500 > 15000 - 600
  EXPECT_TRUE(hit);
  EXPECT_EQ(edge, 1);
  bar.EdgeHit(145, 22, &edge, &hit);  // below the band
  EXPECT_FALSE(hit);
}

TEST(PeriodBarEdgeDrag, EdgesStopAtNeighboursAndCannotJumpThem) {
  CPeriodBar bar = MakeBar();
  AddSection(bar, 500, 1500);
  AddSection(bar, 2000, 3000);
  AddSection(bar, 5000, 6000);
  bar.SelectAt(25, 10);  // {2000, 1000}
  ASSERT_EQ(bar.GetSelIndex(), 1);
  int span[2] = {1600, 3000};
  bar.ResizeEdited(span, 2);
  EXPECT_EQ(bar.GetEditPeriod(), (PERIOD{1600, 1400, 2}));
  span[0] = 1500;  // reaches the neighbour's end
  span[1] = 3000;
  bar.ResizeEdited(span, 2);
  EXPECT_EQ(bar.GetEditPeriod().nFrom, 1600);
  span[0] = 100;  // over the neighbour altogether
  bar.ResizeEdited(span, 2);
  EXPECT_EQ(bar.GetEditPeriod().nFrom, 1600);
  span[0] = 1600;
  span[1] = 7000;  // the end over the section at 5000
  bar.ResizeEdited(span, 1);
  EXPECT_EQ(bar.GetEditPeriod().nDur, 1400);
  span[1] = 4999;
  bar.ResizeEdited(span, 1);
  EXPECT_EQ(bar.GetEditPeriod(), (PERIOD{1600, 3399, 2}));

  // Stored only on commit; the stored section is what the model then holds.
  EXPECT_EQ(*bar.GetPeriod(1), (PERIOD{2000, 1000, 2}));
  bar.CommitEdit(true);
  EXPECT_EQ(*bar.GetPeriod(1), (PERIOD{1600, 3399, 2}));
  EXPECT_EQ(bar.GetSelPeriod(), (PERIOD{1600, 3399, 2}));
  span[0] = 1600;
  span[1] = 4000;
  bar.ResizeEdited(span, 1);
  bar.CommitEdit(false);
  EXPECT_EQ(bar.GetEditPeriod(), (PERIOD{1600, 3399, 2}));
  EXPECT_EQ(*bar.GetPeriod(1), (PERIOD{1600, 3399, 2}));
}

TEST(PeriodBarEdgeDrag, EdgesStayInsideTheRange) {
  CPeriodBar bar = MakeBar(10000);
  AddSection(bar, 4000, 6000);
  bar.SelectAt(300, 10);
  int span[2] = {-500, 6000};
  bar.ResizeEdited(span, 2);
  EXPECT_EQ(bar.GetEditPeriod(), (PERIOD{0, 6000, 1}));
  span[0] = 0;
  span[1] = 12000;
  bar.ResizeEdited(span, 1);
  EXPECT_EQ(bar.GetEditPeriod(), (PERIOD{0, 10000, 1}));
}

TEST(PeriodBarNeighbours, BoundsAreExactEvenForVeryShortSections) {
  CPeriodBar bar = MakeBar();
  AddSection(bar, 1000, 2000);
  AddSection(bar, 2003, 2008);  // shorter than 10 ms
  AddSection(bar, 9000, 9500);
  int lo = 0;
  int hi = 0;
  ASSERT_TRUE(bar.GetNeighbourBounds(0, true, &lo, &hi));
  EXPECT_EQ(lo, 1000);
  EXPECT_EQ(hi, 2003);
  ASSERT_TRUE(bar.GetNeighbourBounds(2, false, &lo, &hi));
  EXPECT_EQ(lo, 2008);
  EXPECT_EQ(hi, 9500);
  EXPECT_FALSE(bar.IsInsideNeighbourBounds(2005, 0, true));
  EXPECT_TRUE(bar.IsInsideNeighbourBounds(2002, 0, true));
  EXPECT_FALSE(bar.IsInsideNeighbourBounds(2003, 0, true));  // strict

  ASSERT_TRUE(bar.GetNeighbourBounds(0, false, &lo, &hi));
  EXPECT_EQ(lo, 0);  // first section: the range start
  EXPECT_EQ(hi, 2000);
  ASSERT_TRUE(bar.GetNeighbourBounds(2, true, &lo, &hi));
  EXPECT_EQ(hi, 60000);  // last section: the range end
  EXPECT_FALSE(bar.GetNeighbourBounds(3, true, &lo, &hi));
  EXPECT_EQ(bar.FindNeighbour(-1, true), nullptr);

  bar.SetRange(0, 0);
  EXPECT_FALSE(bar.GetNeighbourBounds(0, true, &lo, &hi));
  EXPECT_FALSE(bar.IsInsideNeighbourBounds(1500, 0, true));
}

TEST(PeriodBarPixels, PointsMapToPositionsAndBack) {
  CPeriodBar bar = MakeBar();
  bar.SetBarRect(10, 0, 600, 24);
  EXPECT_EQ(bar.PosFromPoint(160, 10), 15000);
  EXPECT_EQ(bar.XFromPos(15000), 160);
  EXPECT_EQ(bar.PosFromPoint(5, 100), 0);        // left of the bar, whatever y
  EXPECT_EQ(bar.PosFromPoint(610, -40), 60000);  // right of it
  EXPECT_EQ(bar.PosFromPoint(160, 20), -1);      // inside the bar, below the band
  EXPECT_EQ(bar.PixelSpan(6), 600);
  const CPeriodBar::RECT band = bar.BandRect();
  EXPECT_EQ(band.top, 0);
  EXPECT_EQ(band.bottom, 20);

  bar.SetBarRect(0, 12, 600, 120);  // band 100 high, 1 pixel below the bar's top
  EXPECT_EQ(bar.BandRect().top, 13);
  EXPECT_EQ(bar.BandRect().bottom, 113);
  EXPECT_EQ(bar.PosFromPoint(300, 12), -1);
  EXPECT_EQ(bar.PosFromPoint(300, 13), 30000);
}

TEST(PeriodBarPixels, EmptyRangeNeverDividesByZero) {
  CPeriodBar bar;
  bar.SetBarRect(0, 0, 600, 24);
  EXPECT_EQ(bar.XFromPos(5000), 0);
  EXPECT_EQ(bar.PosFromPoint(300, 10), 0);  // the range start inside the band
  EXPECT_EQ(bar.PixelSpan(6), 0);
  bar.SetBarRect(0, 0, 0, 24);  // no width either
  EXPECT_EQ(bar.PixelSpan(6), 0);
  EXPECT_EQ(bar.PosFromPoint(0, 10), 0);
  // A tiny range on a wide bar maps far-off positions without overflow.
  CPeriodBar tiny = MakeBar(1);
  EXPECT_GT(tiny.XFromPos(2000000000), 600);
}

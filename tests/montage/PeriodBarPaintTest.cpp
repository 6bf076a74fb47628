// The painted bar, checked at a few pixels of a rendered image.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include "PeriodBar.h"

namespace {

// The bar stands at (10, 5) in a larger image, so that offsets are exercised too.
constexpr int kL = 10;
constexpr int kT = 5;
const QColor kFrame(7, 7, 7);

QImage Render(const CPeriodBar& bar) {
  QImage img(620, 34, QImage::Format_RGB32);
  img.fill(kFrame);
  QPainter p(&img);
  bar.Paint(&p);
  return img;
}

QColor At(const QImage& img, int x, int y) {
  return img.pixelColor(kL + x, kT + y);
}

// Gradient rows may differ from the ideal value by rounding.
void ExpectNear(const QColor& got, const QColor& want, int tol = 2) {
  EXPECT_NEAR(got.red(), want.red(), tol) << got.name().toStdString();
  EXPECT_NEAR(got.green(), want.green(), tol) << got.name().toStdString();
  EXPECT_NEAR(got.blue(), want.blue(), tol) << got.name().toStdString();
}

CPeriodBar MakeBar() {
  CPeriodBar bar;
  bar.SetBarRect(kL, kT, 600, 24);
  bar.SetRange(0, 60000);
  return bar;
}

void AddSection(CPeriodBar& bar, int from, int to) {
  bar.SetPos(from);
  bar.SetBeginPoint();
  bar.SetPos(to);
  bar.SetEndPoint();
}

const QColor kBackA(211, 221, 254);
const QColor kBackB(201, 201, 250);
const QColor kSectionA(181, 151, 151);
const QColor kSectionB(242, 142, 142);
const QColor kGreen(0, 255, 0);

}  // namespace

TEST(PeriodBarPaint, BackgroundAndSectionsAreMirroredGradients) {
  CPeriodBar bar = MakeBar();
  AddSection(bar, 10000, 15000);  // columns 100 to 149
  bar.SetPos(59000);
  const QImage img = Render(bar);
  ExpectNear(At(img, 40, 0), kBackA);
  ExpectNear(At(img, 40, 12), kBackB);  // middle row (5 + 29) / 2 = 17, bar row 12
  ExpectNear(At(img, 40, 23), kBackA, 4);
  EXPECT_LT(At(img, 40, 6).green(), kBackA.green());
  EXPECT_GT(At(img, 40, 6).green(), kBackB.green());
  ExpectNear(At(img, 120, 0), kSectionA);
  ExpectNear(At(img, 120, 12), kSectionB);
  ExpectNear(At(img, 100, 12), kSectionB);
  ExpectNear(At(img, 149, 12), kSectionB);
  ExpectNear(At(img, 150, 12), kBackB);  // the end column is outside
  ExpectNear(At(img, 99, 12), kBackB);
  EXPECT_EQ(img.pixelColor(kL - 1, kT + 12), kFrame) << "nothing drawn outside the bar";
  EXPECT_EQ(img.pixelColor(kL + 10, kT + 24), kFrame);
}

TEST(PeriodBarPaint, NeighbouringSectionsShareColumnsWithoutGaps) {
  CPeriodBar bar = MakeBar();
  AddSection(bar, 1000, 1500);  // columns 10 to 14
  AddSection(bar, 1600, 2000);  // columns 16 to 19
  AddSection(bar, 3010, 3050);  // narrower than a column: nothing drawn
  bar.SetPos(59000);
  const QImage img = Render(bar);
  for (int x = 10; x < 20; ++x) {
    if (x == 15) continue;
    ExpectNear(At(img, x, 12), kSectionB);
  }
  ExpectNear(At(img, 15, 12), kBackB);
  ExpectNear(At(img, 20, 12), kBackB);
  ExpectNear(At(img, 30, 12), kBackB);
}

TEST(PeriodBarPaint, SelectionOutlineIsGreenDashDot) {
  CPeriodBar bar = MakeBar();
  AddSection(bar, 30000, 35000);  // columns 300 to 350
  bar.SetPos(59000);
  bar.SelectAt(kL + 320, kT + 10);
  const QImage img = Render(bar);
  EXPECT_EQ(At(img, 300, 1), kGreen);
  EXPECT_EQ(At(img, 301, 0), kGreen);
  EXPECT_EQ(At(img, 350, 22), kGreen);
  int green = 0;
  int other = 0;
  for (int y = 0; y < 24; ++y) (At(img, 300, y) == kGreen ? green : other)++;
  EXPECT_GT(green, 8);
  EXPECT_GT(other, 2) << "dashed, not solid";
  // Top and bottom sides run across the section.
  int top = 0;
  int bottom = 0;
  for (int x = 300; x <= 350; ++x) {
    top += At(img, x, 0) == kGreen;
    bottom += At(img, x, 23) == kGreen;
  }
  EXPECT_GT(top, 25);
  EXPECT_GT(bottom, 25);
}

TEST(PeriodBarPaint, CursorInvertsAndMarksMergeRed) {
  CPeriodBar bar = MakeBar();
  AddSection(bar, 10000, 15000);
  bar.SetPos(50000);
  bar.SetBeginPoint();  // pending at column 500
  bar.SetPos(12000);
  bar.SetFirstSplit();  // split point at column 120, inside the section
  bar.SetPos(45000);    // cursor at column 450
  const QImage img = Render(bar);
  for (int y : {0, 6, 12, 23}) {
    const QColor bg = At(img, 440, y);
    const QColor c = At(img, 450, y);
    EXPECT_EQ(c.red(), 255 - bg.red());
    EXPECT_EQ(c.green(), 255 - bg.green());
    EXPECT_EQ(c.blue(), 255 - bg.blue());
  }
  // The mark's pen colour is or-ed into the bar: red goes to full, the rest stays.
  const QColor bg = At(img, 490, 1);
  const QColor mark = At(img, 500, 1).red() == 255 ? At(img, 500, 1) : At(img, 499, 1);
  EXPECT_EQ(mark.red(), 255);
  EXPECT_EQ(mark.green(), bg.green());
  EXPECT_EQ(mark.blue(), bg.blue());
  const QColor split = At(img, 120, 1).red() == 255 ? At(img, 120, 1) : At(img, 119, 1);
  EXPECT_EQ(split.red(), 255);
  EXPECT_EQ(split.green(), At(img, 110, 1).green());
}

TEST(PeriodBarPaint, EmptyRangeShowsOnlyTheBackground) {
  CPeriodBar bar;
  bar.SetBarRect(kL, kT, 600, 24);
  bar.SetBeginPoint();  // pending at 0
  const QImage img = Render(bar);
  for (int x : {0, 1, 300, 599}) {
    ExpectNear(At(img, x, 0), kBackA);
    ExpectNear(At(img, x, 12), kBackB);
  }
}

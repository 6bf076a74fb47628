#include <gtest/gtest.h>

#include <QTest>

#include "CXStatic.h"
#include "CellFont.h"
#include "MsgRecorder.h"

namespace {

// Every pixel of the image has colour c.
bool AllOf(const QImage& img, QColor c) {
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x)
      if (img.pixelColor(x, y) != c) return false;
  return true;
}

}  // namespace

TEST(StaticText, ClickReportsScreenPointXHighYLow) {
  MsgRecorder owner;
  CXStatic st;
  st.setWindowFlags(Qt::FramelessWindowHint);
  st.setGeometry(200, 300, 60, 20);
  st.SetNotifyWnd(&owner);
  st.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&st));
  ASSERT_EQ(st.mapToGlobal(QPoint(0, 0)), QPoint(200, 300));
  QTest::mouseClick(&st, Qt::LeftButton, {}, QPoint(5, 7));
  ASSERT_EQ(owner.msgs.size(), 1u);
  EXPECT_EQ(owner.msgs[0].message, WM_LBUTTONUP);
  EXPECT_EQ(owner.msgs[0].wParam, 100u);
  EXPECT_EQ(owner.msgs[0].lParam, 0x00CD0133);
  // The right button reports nothing; without a notify window nothing is sent.
  QTest::mouseClick(&st, Qt::RightButton, {}, QPoint(5, 7));
  st.SetNotifyWnd(nullptr);
  QTest::mouseClick(&st, Qt::LeftButton, {}, QPoint(5, 7));
  EXPECT_EQ(owner.msgs.size(), 1u);
}

TEST(StaticText, PackedPointKeepsEachCoordinateInItsWord) {
  EXPECT_EQ(CXStatic::PackScreenPoint(205, 307), 0x00CD0133);
  // A screen left of or above the primary one: each word holds its own coordinate.
  const LPARAM p = CXStatic::PackScreenPoint(300, -2);
  EXPECT_EQ(HiWord(p), 300);
  EXPECT_EQ(static_cast<int16_t>(LoWord(p)), -2);
}

TEST(StaticText, EmptyTextShowsOnlyTheBackground) {
  CXStatic st;
  st.resize(80, 20);
  st.SetBkColor(0xEAFDFF);
  st.SetTextColor(0x0300FF);
  st.SetTextFont("Tohoma", 14, false, false, false);
  st.SetTextMode(true);
  st.SetFormat(DT_SINGLELINE | DT_VCENTER);
  st.SetDrawRect(QRect(0, 0, 80, 20));
  EXPECT_TRUE(AllOf(st.grab().toImage(), ToQColor(0xEAFDFF)));
  st.SetText("00:00:00");
  const QImage img = st.grab().toImage();
  EXPECT_FALSE(AllOf(img, ToQColor(0xEAFDFF)));
  EXPECT_EQ(st.GetText(), "00:00:00");
}

TEST(StaticText, PictureStretchesIntoTheDrawingRectangle) {
  // 100 x 20: red left half, blue right half.
  QImage pic(100, 20, QImage::Format_RGB32);
  pic.fill(Qt::red);
  for (int y = 0; y < 20; ++y)
    for (int x = 50; x < 100; ++x) pic.setPixelColor(x, y, Qt::blue);
  CXStatic st;
  st.resize(80, 50);
  st.SetBkColor(RGB(2, 0, 0));
  EXPECT_TRUE(st.LoadPicture(pic, false));
  st.SetDrawRect(QRect(0, 0, 50, 40));
  const QImage img = st.grab().toImage();
  EXPECT_EQ(img.pixelColor(5, 35), QColor(Qt::red));
  EXPECT_EQ(img.pixelColor(45, 35), QColor(Qt::blue));
  EXPECT_EQ(img.pixelColor(60, 20), ToQColor(RGB(2, 0, 0)));
  EXPECT_EQ(img.pixelColor(20, 45), ToQColor(RGB(2, 0, 0)));
  // A missing picture leaves only the background.
  EXPECT_FALSE(st.LoadPicture(QImage(), false));
  EXPECT_TRUE(AllOf(st.grab().toImage(), ToQColor(RGB(2, 0, 0))));
}

TEST(StaticText, PatternTilesTheBackground) {
  QImage tile(2, 1, QImage::Format_RGB32);
  tile.setPixelColor(0, 0, Qt::white);
  tile.setPixelColor(1, 0, Qt::black);
  CXStatic st;
  st.resize(10, 4);
  st.SetBkColor(RGB(0, 255, 0));
  st.SetPatternMode(true);
  QImage img = st.grab().toImage();
  EXPECT_EQ(img.pixelColor(3, 2), QColor(0, 255, 0));  // no tile yet: the colour stays
  st.LoadPicture(tile, true);
  img = st.grab().toImage();
  EXPECT_EQ(img.pixelColor(2, 2), QColor(Qt::white));
  EXPECT_EQ(img.pixelColor(3, 2), QColor(Qt::black));
}

TEST(CellFont, HeightIsTheCharacterCell) {
  for (int h : {13, 14, 16, 22}) {
    const QFont f = MakeCellFont("Tohoma", h, true, false, true);
    EXPECT_NEAR(QFontMetrics(f).height(), h, 1) << h;
    EXPECT_EQ(f.family(), "Tohoma");  // the name stays as written; the matcher substitutes
    EXPECT_TRUE(f.bold());
    EXPECT_TRUE(f.underline());
  }
  EXPECT_EQ(MakeCellFont("Arial", -12).pixelSize(), 12);
}

#include <gtest/gtest.h>

#include <QTest>

#include "CQmvButton.h"

namespace {

QPixmap Solid(QColor c, QSize s = QSize(12, 10)) {
  QPixmap p(s);
  p.fill(c);
  return p;
}

const QColor kNormal(10, 10, 10), kPressed(200, 0, 0), kHover(0, 200, 0), kDisabled(90, 90, 90),
    kHot(0, 0, 200);

}  // namespace

TEST(BitmapButton, SlotChoiceFirstMatchWins) {
  using S = CQmvButton::DrawState;
  const std::array<bool, CQmvButton::SlotCount> all{true, true, true, true, true};
  EXPECT_EQ(CQmvButton::ChooseSlot(S{true, true, false, false}, all), CQmvButton::Pressed);
  EXPECT_EQ(CQmvButton::ChooseSlot(S{false, true, true, true}, all), CQmvButton::Hover);
  EXPECT_EQ(CQmvButton::ChooseSlot(S{false, false, true, true}, all), CQmvButton::Disabled);
  EXPECT_EQ(CQmvButton::ChooseSlot(S{false, false, false, true}, all), CQmvButton::Hot);
  EXPECT_EQ(CQmvButton::ChooseSlot(S{}, all), CQmvButton::Normal);
  // Missing state pictures fall through to the next state, down to the normal one.
  const std::array<bool, CQmvButton::SlotCount> normalOnly{true, false, false, false, false};
  EXPECT_EQ(CQmvButton::ChooseSlot(S{true, true, true, true}, normalOnly), CQmvButton::Normal);
  const std::array<bool, CQmvButton::SlotCount> none{};
  EXPECT_EQ(CQmvButton::ChooseSlot(S{}, none), -1);
}

TEST(BitmapButton, LoadBitmapsKeepsWhatLoaded) {
  CQmvButton b;
  EXPECT_FALSE(
      b.LoadBitmaps(Solid(kNormal), Solid(kPressed), Solid(kHover), QPixmap(), Solid(kHot)));
  EXPECT_FALSE(b.Bitmap(CQmvButton::Normal).isNull());
  EXPECT_FALSE(b.Bitmap(CQmvButton::Pressed).isNull());
  EXPECT_FALSE(b.Bitmap(CQmvButton::Hover).isNull());
  EXPECT_TRUE(b.Bitmap(CQmvButton::Disabled).isNull());
  EXPECT_FALSE(b.Bitmap(CQmvButton::Hot).isNull());
  // States not asked for do not fail the load.
  EXPECT_TRUE(b.LoadBitmaps(Solid(kNormal), Solid(kPressed)));
  EXPECT_TRUE(b.Bitmap(CQmvButton::Hover).isNull());
  // Without a normal picture nothing is taken, and the old pictures are gone.
  EXPECT_FALSE(b.LoadBitmaps(QPixmap(), Solid(kPressed)));
  EXPECT_TRUE(b.Bitmap(CQmvButton::Pressed).isNull());
  EXPECT_TRUE(b.Bitmap(CQmvButton::Normal).isNull());
}

TEST(BitmapButton, HoverAndPressPickTheirPictures) {
  QWidget window;
  window.resize(100, 40);
  auto* b = new CQmvButton(&window);
  b->move(10, 10);
  b->LoadBitmaps(Solid(kNormal), Solid(kPressed), Solid(kHover), Solid(kDisabled), Solid(kHot));
  b->SizeToContent();
  EXPECT_EQ(b->size(), QSize(12, 10));
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

  EXPECT_EQ(b->grab().toImage().pixelColor(5, 5), kNormal);
  QTest::mouseMove(&window, QPoint(15, 15));
  EXPECT_TRUE(b->IsHovering());
  EXPECT_EQ(b->grab().toImage().pixelColor(5, 5), kHover);
  // Pushed wins over hovering.
  b->setDown(true);
  EXPECT_EQ(b->grab().toImage().pixelColor(5, 5), kPressed);
  b->setDown(false);
  QTest::mouseMove(&window, QPoint(60, 30));
  EXPECT_FALSE(b->IsHovering());
  b->setEnabled(false);
  EXPECT_EQ(b->CurrentSlot(), CQmvButton::Disabled);
}

TEST(BitmapButton, KeepsItsBitmapSize) {
  QWidget window;
  auto* b = new CQmvButton(&window);
  b->LoadBitmaps(Solid(kNormal, QSize(18, 16)));
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  b->setGeometry(40, 5, 16, 16);  // the owner's resize rule
  b->repaint();
  QApplication::processEvents();
  EXPECT_EQ(b->geometry(), QRect(40, 5, 18, 16));
}

TEST(BitmapButton, TwoQuickClicksAreTwoClicks) {
  CQmvButton b;
  b.LoadBitmaps(Solid(kNormal));
  b.SizeToContent();
  b.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&b));
  int clicks = 0;
  QObject::connect(&b, &QAbstractButton::clicked, [&] { ++clicks; });
  // Through the window, as the system delivers it: press, release, press (double), release.
  QTest::mouseDClick(b.windowHandle(), Qt::LeftButton, {}, QPoint(3, 3));
  EXPECT_EQ(clicks, 2);
}

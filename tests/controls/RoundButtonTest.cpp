#include <gtest/gtest.h>

#include <QTest>
#include <vector>

#include "CRoundButton.h"
#include "RoundButtonFace.h"

using namespace roundbutton;

TEST(RoundButtonFace, FourteenPixelFaceSpreadsAllBrushes) {
  std::vector<int> got;
  for (int row = 0; row <= 14; ++row) got.push_back(BrushIndex(row, 14));
  const std::vector<int> want = {0, 4, 9, 13, 18, 22, 27, 31, 36, 40, 45, 49, 54, 58, 63};
  EXPECT_EQ(got, want);
  EXPECT_EQ(BrushIndex(0, 0), 0);  // a face with no height takes the top brush
}

TEST(RoundButtonFace, ColoursFollowHoverAndEmphasis) {
  EXPECT_EQ(FaceColor(0, false, false), RGB(255, 255, 255));
  EXPECT_EQ(FaceColor(63, false, false), RGB(234, 234, 243));
  EXPECT_EQ(FaceColor(63, false, true), RGB(234, 234, 240));
  EXPECT_EQ(FaceColor(63, true, false), RGB(240, 240, 243));
  EXPECT_EQ(FaceColor(63, true, true), RGB(240, 240, 234));
}

namespace {

// A window with two buttons, so the mouse can move from one onto the other.
struct Pane {
  QWidget window;
  CRoundButton* button;
  CRoundButton* other;
  Pane() {
    window.resize(200, 60);
    button = new CRoundButton("Browse", &window);
    button->setGeometry(10, 10, 60, 20);
    other = new CRoundButton("Open", &window);
    other->setGeometry(100, 10, 60, 20);
    window.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
  }
  QImage Grab() { return button->grab().toImage(); }
};

// Bounding box of the dark text pixels.
QRect TextBox(const QImage& img) {
  QRect box;
  // Inside the focus rectangle, which runs one pixel inside the face.
  for (int y = 4; y < img.height() - 4; ++y)
    for (int x = 4; x < img.width() - 4; ++x)
      if (qGray(img.pixel(x, y)) < 110) box |= QRect(x, y, 1, 1);
  return box;
}

}  // namespace

TEST(RoundButton, FocusShowsBlueFrameUntilTheMouseComes) {
  Pane pane;
  pane.button->setFocus();
  QApplication::processEvents();
  ASSERT_TRUE(pane.button->hasFocus());
  QImage img = pane.Grab();
  EXPECT_TRUE(pane.button->IsFocused());
  // Top pen row of the face (face starts at 2, 2).
  EXPECT_EQ(img.pixelColor(30, 2), ToQColor(kFocusPens[2].colour));

  QTest::mouseMove(&pane.window, QPoint(40, 20));
  EXPECT_TRUE(pane.button->IsHovered());
  img = pane.Grab();
  EXPECT_EQ(img.pixelColor(30, 2), ToQColor(kHoverPens[2].colour));

  QTest::mouseMove(&pane.window, QPoint(130, 20));
  EXPECT_FALSE(pane.button->IsHovered());
  EXPECT_TRUE(pane.other->IsHovered());
}

TEST(RoundButton, PushedTextMovesOnePixelDownAndRight) {
  Pane pane;
  const QRect up = TextBox(pane.Grab());
  ASSERT_TRUE(up.isValid());
  pane.button->setDown(true);
  const QRect down = TextBox(pane.Grab());
  EXPECT_EQ(down.topLeft(), up.topLeft() + QPoint(1, 1));
  EXPECT_TRUE(pane.button->IsEmphasis());
}

TEST(RoundButton, DisabledButtonNeverHovers) {
  Pane pane;
  pane.button->setEnabled(false);
  QTest::mouseMove(&pane.window, QPoint(40, 20));
  const QImage img = pane.Grab();
  EXPECT_FALSE(pane.button->IsHovered());
  EXPECT_NE(img.pixelColor(30, 2), ToQColor(kHoverPens[2].colour));
  // Embossed text: no black, only grey and white.
  EXPECT_FALSE(TextBox(img).isValid());
}

TEST(RoundButton, ClickEmitsClicked) {
  Pane pane;
  int clicks = 0;
  QObject::connect(pane.button, &QAbstractButton::clicked, [&] { ++clicks; });
  QTest::mouseClick(pane.button, Qt::LeftButton, {}, QPoint(30, 10));
  EXPECT_EQ(clicks, 1);
}

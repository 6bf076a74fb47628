// The skinned frame: hit test, outline, painting, moving and sizing, with the real skin and with
// stand-in skins that lack functions.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QWidget>
#include <cstring>
#include <map>
#include <string>

#include "Gdi.h"
#include "SkinModule.h"
#include "SkinnedFrame.h"

namespace {

// A stand-in skin: T 20, F 4, K 10, solid one-colour patterns, and only the functions listed.
namespace fake {
int points = 0;
int ellipse[2] = {0, 0};
const QColor kCaption(200, 0, 0), kRing(0, 160, 0), kClient(0, 0, 220);

void LoadWinShape(SkinPoint* pts, int* count) {
  if (pts == nullptr) {
    *count = points;
    return;
  }
  for (int i = 0; i < std::min(*count, points); ++i) pts[i] = {i * 100, i * 100};
}
void RoundRectShape(SkinRect* r, int* ew, int* eh) {
  *r = {0, 0, 480, 320};
  *ew = ellipse[0];
  *eh = ellipse[1];
}
void GetUiInfo(int* t, int* f, int* k, int*) {
  *t = 20;
  *f = 4;
  *k = 10;
}
int LoadCapBk() {
  return 1;
}
int LoadNonCliBk() {
  return 2;
}
int LoadCliBk() {
  return 3;
}
int LoadSkinBitmap(int id, QImage* img) {
  const QColor c = id == 1 ? kCaption : id == 2 ? kRing : kClient;
  *img = QImage(4, 4, QImage::Format_ARGB32);
  img->fill(c);
  return 1;
}
}  // namespace fake

void UseFake(SkinModule& skin, std::initializer_list<const char*> names) {
  const std::map<std::string, void*> all = {
      {kLoadWinShape, reinterpret_cast<void*>(&fake::LoadWinShape)},
      {kRoundRectShape, reinterpret_cast<void*>(&fake::RoundRectShape)},
      {kGetUiInfo, reinterpret_cast<void*>(&fake::GetUiInfo)},
      {kLoadCapBk, reinterpret_cast<void*>(&fake::LoadCapBk)},
      {kLoadNonCliBk, reinterpret_cast<void*>(&fake::LoadNonCliBk)},
      {kLoadCliBk, reinterpret_cast<void*>(&fake::LoadCliBk)},
      {kLoadSkinBitmap, reinterpret_cast<void*>(&fake::LoadSkinBitmap)}};
  std::map<std::string, void*> offered;
  for (const char* n : names) offered[n] = all.at(n);
  skin.SetResolver([offered](const char* name) -> void* {
    auto it = offered.find(name);
    return it == offered.end() ? nullptr : it->second;
  });
}

const std::initializer_list<const char*> kFullFake = {kLoadWinShape,  kRoundRectShape, kGetUiInfo,
                                                      kLoadCapBk,     kLoadNonCliBk,   kLoadCliBk,
                                                      kLoadSkinBitmap};

// Paints the frame of a w x h window onto a sentinel-filled picture.
QImage Painted(SkinnedFrame& frame, QWidget& window) {
  QImage img(window.size(), QImage::Format_ARGB32);
  img.fill(Qt::magenta);
  QPainter p(&img);
  frame.Paint(p);
  return img;
}

QColor At(const QImage& img, int x, int y) {
  return QColor(img.pixel(x, y));
}

TEST(FrameHitTest, CaptionCornerAndClientOnA480x320Window) {
  const QSize size(480, 320);
  EXPECT_EQ(FrameHitTest({100, 19}, size, 20, 10), HTCAPTION);
  EXPECT_EQ(FrameHitTest({100, 20}, size, 20, 10), HTCLIENT);
  EXPECT_EQ(FrameHitTest({0, 0}, size, 20, 10), HTCAPTION);
  EXPECT_EQ(FrameHitTest({471, 311}, size, 20, 10), HTBOTTOMRIGHT);
  EXPECT_EQ(FrameHitTest({470, 311}, size, 20, 10), HTCLIENT);
  EXPECT_EQ(FrameHitTest({471, 310}, size, 20, 10), HTCLIENT);
  EXPECT_EQ(FrameHitTest({479, 319}, size, 20, 10), HTBOTTOMRIGHT);
  // No corner: the About box only moves.
  EXPECT_EQ(FrameHitTest({479, 319}, size, 20, 0), HTCLIENT);
  // The caption wins over the corner on a window shorter than both.
  EXPECT_EQ(FrameHitTest({479, 15}, QSize(480, 16), 20, 10), HTCAPTION);
}

class Frame : public ::testing::Test {
 protected:
  void SetUp() override {
    window.setWindowFlag(Qt::FramelessWindowHint);
    window.resize(480, 320);
  }
  QWidget window;
  SkinModule skin;
};

TEST_F(Frame, HitTestTakesTheCornerFromTheSkinOrAsTold) {
  UseFake(skin, kFullFake);
  SkinnedFrame frame(&window, &skin);
  EXPECT_EQ(frame.HitTest({471, 311}), HTBOTTOMRIGHT);
  EXPECT_EQ(frame.HitTest({470, 311}), HTCLIENT);
  EXPECT_EQ(frame.HitTest({10, 19}), HTCAPTION);
  frame.SetCorner(SkinnedFrame::Corner::Fixed, 30);
  EXPECT_EQ(frame.HitTest({451, 291}), HTBOTTOMRIGHT);
  frame.SetCorner(SkinnedFrame::Corner::None);
  EXPECT_EQ(frame.HitTest({479, 319}), HTCLIENT);
  EXPECT_EQ(frame.HitTest({10, 19}), HTCAPTION);
  EXPECT_EQ(frame.InnerArea(), QRect(QPoint(4, 20), QPoint(475, 315)));
}

TEST_F(Frame, DefaultBevelsWithoutBorderPixAndBorderClr) {
  UseFake(skin, kFullFake);
  SkinnedFrame frame(&window, &skin);
  const QImage img = Painted(frame, window);
  const int w = 480, h = 320;
  // Caption band and the pattern corner pixel the outer lines leave.
  EXPECT_EQ(At(img, 0, 0), fake::kCaption);
  EXPECT_EQ(At(img, 100, 10), fake::kCaption);
  EXPECT_EQ(At(img, 100, 19), fake::kCaption);
  // Outer edge: 1-pixel white top and left, 1-pixel black bottom and right.
  EXPECT_EQ(At(img, 100, 1), QColor(Qt::white));
  EXPECT_EQ(At(img, 1, 100), QColor(Qt::white));
  EXPECT_EQ(At(img, 100, 0), fake::kCaption);
  EXPECT_EQ(At(img, 0, 100), fake::kRing);
  EXPECT_EQ(At(img, 100, h - 1), QColor(Qt::black));
  EXPECT_EQ(At(img, w - 1, 100), QColor(Qt::black));
  EXPECT_EQ(At(img, 100, h - 2), fake::kRing);
  // Inner area: 2-pixel black top and left, 1-pixel 0xC0C0C0 bottom and right.
  EXPECT_EQ(At(img, 100, 20), QColor(Qt::black));
  EXPECT_EQ(At(img, 100, 21), QColor(Qt::black));
  EXPECT_EQ(At(img, 100, 22), fake::kClient);
  EXPECT_EQ(At(img, 4, 100), QColor(Qt::black));
  EXPECT_EQ(At(img, 5, 100), QColor(Qt::black));
  EXPECT_EQ(At(img, 6, 100), fake::kClient);
  EXPECT_EQ(At(img, 3, 100), fake::kRing);
  EXPECT_EQ(At(img, 100, h - 4), ToQColor(0xC0C0C0));
  EXPECT_EQ(At(img, w - 4, 100), ToQColor(0xC0C0C0));
  EXPECT_EQ(At(img, 100, h - 5), fake::kClient);
  EXPECT_EQ(At(img, 100, h - 3), fake::kRing);
  EXPECT_EQ(At(img, w - 3, 100), fake::kRing);
}

TEST_F(Frame, MissingFunctionsLeaveTheirFeatureOut) {
  {  // No frame pattern: caption and client, no ring.
    UseFake(skin, {kGetUiInfo, kLoadCapBk, kLoadCliBk, kLoadSkinBitmap});
    SkinnedFrame frame(&window, &skin);
    const QImage img = Painted(frame, window);
    EXPECT_EQ(At(img, 100, 10), fake::kCaption);
    EXPECT_EQ(At(img, 100, 200), fake::kClient);
    EXPECT_EQ(At(img, 2, 200), QColor(Qt::magenta));
  }
  {  // No caption pattern: no frame painting at all, the client is still filled.
    UseFake(skin, {kGetUiInfo, kLoadNonCliBk, kLoadCliBk, kLoadSkinBitmap});
    SkinnedFrame frame(&window, &skin);
    const QImage img = Painted(frame, window);
    EXPECT_EQ(At(img, 100, 10), QColor(Qt::magenta));
    EXPECT_EQ(At(img, 100, 1), QColor(Qt::magenta));
    EXPECT_EQ(At(img, 2, 200), QColor(Qt::magenta));
    EXPECT_EQ(At(img, 100, 200), fake::kClient);
  }
  {  // No client pattern, or the player window while a clip plays: the inner area stays.
    UseFake(skin, kFullFake);
    SkinnedFrame frame(&window, &skin);
    frame.SetFillClient(false);
    const QImage img = Painted(frame, window);
    EXPECT_EQ(At(img, 100, 200), QColor(Qt::magenta));
    EXPECT_EQ(At(img, 2, 200), fake::kRing);
  }
}

TEST_F(Frame, FewPointsAndAFlatEllipseLeaveTheWindowRectangular) {
  fake::points = 2;
  fake::ellipse[0] = 0;
  fake::ellipse[1] = 8;
  UseFake(skin, kFullFake);
  SkinnedFrame frame(&window, &skin);
  EXPECT_TRUE(frame.Shape(window.size()).isEmpty());
  frame.ApplyShape();
  EXPECT_TRUE(window.mask().isEmpty());

  // Both ellipse sizes above 0: a rounded rectangle over the whole window.
  fake::ellipse[0] = 8;
  const QRegion round = frame.Shape(window.size());
  EXPECT_FALSE(round.contains(QPoint(0, 0)));
  EXPECT_TRUE(round.contains(QPoint(4, 4)));
  EXPECT_TRUE(round.contains(QPoint(240, 0)));
  EXPECT_FALSE(round.contains(QPoint(479, 319)));
  EXPECT_TRUE(round.contains(QPoint(475, 315)));
  fake::ellipse[0] = 0;
  fake::ellipse[1] = 0;
  // A polygon wins over the rounded rectangle.
  fake::points = 3;
  EXPECT_FALSE(frame.Shape(window.size()).isEmpty());
  fake::points = 0;
}

TEST_F(Frame, SkinOutlineFollowsTheWindowCorners) {
  ASSERT_TRUE(skin.LoadFromInstallFolder());
  SkinnedFrame frame(&window, &skin);
  for (const QSize size : {QSize(480, 343), QSize(217, 167), QSize(640, 480)}) {
    const QRegion shape = frame.Shape(size);
    const int w = size.width(), h = size.height();
    EXPECT_EQ(shape.boundingRect(), QRect(0, 0, w, h)) << w;
    for (const QPoint corner :
         {QPoint(0, 0), QPoint(w - 1, 0), QPoint(0, h - 1), QPoint(w - 1, h - 1)})
      EXPECT_FALSE(shape.contains(corner)) << w << ": " << corner.x() << "," << corner.y();
    EXPECT_TRUE(shape.contains(QPoint(w / 2, h / 2)));
    EXPECT_TRUE(shape.contains(QPoint(w - 12, 12)));
    EXPECT_TRUE(shape.contains(QPoint(w - 8, h - 8)));
  }
  // Showing and resizing shape the window anew.
  window.show();
  EXPECT_EQ(window.mask().boundingRect(), QRect(0, 0, 480, 320));
  window.resize(600, 400);
  EXPECT_EQ(window.mask().boundingRect(), QRect(0, 0, 600, 400));
}

TEST_F(Frame, RealSkinPaintsCaptionRingAndCreamClient) {
  ASSERT_TRUE(skin.LoadFromInstallFolder());
  window.resize(480, 343);
  SkinnedFrame frame(&window, &skin);
  const QImage img = Painted(frame, window);
  const SkinMetrics m = frame.Metrics();
  ASSERT_TRUE(m.valid);
  const QImage caption = skin.Bitmap(skin.Get<LoadCapBkFn>(kLoadCapBk)());
  const QImage ring = skin.Bitmap(skin.Get<LoadNonCliBkFn>(kLoadNonCliBk)());
  EXPECT_EQ(img.pixel(300, 10), caption.pixel(300 % caption.width(), 10));
  EXPECT_EQ(img.pixel(2, 200), ring.pixel(2 % ring.width(), 200 % ring.height()));
  EXPECT_EQ(At(img, 240, 170), QColor(255, 253, 234));
  EXPECT_EQ(At(img, m.border + 1, m.caption + 1), QColor(255, 253, 234));
  // The caption text sits from (24, 4): some pixel there differs from the band.
  bool text = false;
  frame.SetCaption(SkinnedFrame::Caption::AtPoint, "Vantrel");
  const QImage titled = Painted(frame, window);
  for (int x = 24; x < 80 && !text; ++x)
    for (int y = 4; y < m.caption && !text; ++y) text = titled.pixel(x, y) != img.pixel(x, y);
  EXPECT_TRUE(text);
  for (int x = 0; x < 480; ++x) ASSERT_EQ(titled.pixel(x, 0), img.pixel(x, 0));
}

TEST_F(Frame, WithoutTheLibraryTheWindowIsPlainAndUntouched) {
  EXPECT_FALSE(skin.Load("/nonexistent/folder"));
  SkinnedFrame frame(&window, &skin);
  frame.SetCaption(SkinnedFrame::Caption::AtPoint, "Vantrel");
  EXPECT_FALSE(frame.Skinned());
  EXPECT_FALSE(frame.Metrics().valid);
  const QImage img = Painted(frame, window);
  for (int y = 0; y < img.height(); y += 7)
    for (int x = 0; x < img.width(); x += 7) ASSERT_EQ(At(img, x, y), QColor(Qt::magenta));
  frame.ApplyShape();
  EXPECT_TRUE(window.mask().isEmpty());
  EXPECT_EQ(frame.HitTest({10, 5}), HTCLIENT);
  // Shown and grabbed through its own paint event: nothing breaks.
  window.show();
  EXPECT_FALSE(window.grab().isNull());
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(10, 5), QPointF(10, 5), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  EXPECT_FALSE(frame.MousePress(&press));
}

TEST_F(Frame, SkinFreedWhileTheWindowLivesPaintsNothing) {
  ASSERT_TRUE(skin.LoadFromInstallFolder());
  SkinnedFrame frame(&window, &skin);
  window.show();
  EXPECT_FALSE(window.grab().isNull());
  skin.Free();
  const QImage img = Painted(frame, window);
  EXPECT_EQ(At(img, 100, 10), QColor(Qt::magenta));
  EXPECT_FALSE(window.grab().isNull());
}

// Mouse events as the window receives them (through the frame's event filter).
void Mouse(QWidget& w, QEvent::Type type, QPoint local, Qt::MouseButton button,
           Qt::MouseButtons buttons) {
  QMouseEvent ev(type, QPointF(local), QPointF(w.mapToGlobal(local)), button, buttons,
                 Qt::NoModifier);
  QApplication::sendEvent(&w, &ev);
}

TEST_F(Frame, CaptionDragsAndCornerSizesTheWindow) {
  UseFake(skin, kFullFake);
  SkinnedFrame frame(&window, &skin);
  window.move(100, 100);
  window.show();
  const QPoint start = window.pos();

  // The offscreen platform moves nothing itself: the frame follows the mouse.
  Mouse(window, QEvent::MouseButtonPress, {50, 10}, Qt::LeftButton, Qt::LeftButton);
  const QPoint grabbed = window.mapToGlobal(QPoint(50, 10));
  QMouseEvent move(QEvent::MouseMove, QPointF(80, 30), QPointF(grabbed + QPoint(30, 20)),
                   Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&window, &move);
  Mouse(window, QEvent::MouseButtonRelease, {80, 30}, Qt::LeftButton, Qt::NoButton);
  EXPECT_EQ(window.pos(), start + QPoint(30, 20));
  EXPECT_EQ(window.size(), QSize(480, 320));

  // After the release, moving does nothing.
  QMouseEvent idle(QEvent::MouseMove, QPointF(200, 200),
                   QPointF(window.mapToGlobal(QPoint(200, 200))), Qt::NoButton, Qt::NoButton,
                   Qt::NoModifier);
  QApplication::sendEvent(&window, &idle);
  EXPECT_EQ(window.pos(), start + QPoint(30, 20));

  // The corner sizes it.
  const QPoint corner(475, 315);
  const QPoint cornerGlobal = window.mapToGlobal(corner);
  Mouse(window, QEvent::MouseButtonPress, corner, Qt::LeftButton, Qt::LeftButton);
  QMouseEvent grow(QEvent::MouseMove, QPointF(corner + QPoint(40, 25)),
                   QPointF(cornerGlobal + QPoint(40, 25)), Qt::NoButton, Qt::LeftButton,
                   Qt::NoModifier);
  QApplication::sendEvent(&window, &grow);
  Mouse(window, QEvent::MouseButtonRelease, corner, Qt::LeftButton, Qt::NoButton);
  EXPECT_EQ(window.size(), QSize(520, 345));

  // Client presses and other buttons are left to the window.
  QMouseEvent client(QEvent::MouseButtonPress, QPointF(200, 200), QPointF(200, 200), Qt::LeftButton,
                     Qt::LeftButton, Qt::NoModifier);
  EXPECT_FALSE(frame.MousePress(&client));
  QMouseEvent right(QEvent::MouseButtonPress, QPointF(50, 10), QPointF(50, 10), Qt::RightButton,
                    Qt::RightButton, Qt::NoModifier);
  EXPECT_FALSE(frame.MousePress(&right));
}

}  // namespace

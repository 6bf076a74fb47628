// Key frames on the timeline: where copies really start, the ticks the bar paints, and Shift
// snapping of beginning points and start edges.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>

#include "CQmvSld.h"
#include "KeyFrameMarks.h"
#include "PeriodBar.h"

namespace {

const QColor kTick(24, 40, 104);

void AddSection(CPeriodBar& bar, int from, int to) {
  bar.SetPos(from);
  bar.SetBeginPoint();
  bar.SetPos(to);
  bar.SetEndPoint();
}

}  // namespace

TEST(KeyFrameMarks, RealStartNearestAndThinnedTicks) {
  EXPECT_EQ(KeyFrameMarks().RealStart(12000), 12000) << "no list: the point itself";
  const KeyFrameMarks keys({13000, 0, 10000, 10000, -5});
  EXPECT_EQ(keys.Times(), (std::vector<int32_t>{0, 10000, 13000}));
  EXPECT_EQ(keys.RealStart(12000), 10000);
  EXPECT_EQ(keys.RealStart(13000), 13000);
  int32_t k = -1;
  ASSERT_TRUE(keys.Nearest(11500, 0, 60000, &k));
  EXPECT_EQ(k, 10000) << "a tie goes to the earlier key frame";
  ASSERT_TRUE(keys.Nearest(12000, 0, 12500, &k));
  EXPECT_EQ(k, 10000) << "bounds are kept";
  EXPECT_FALSE(keys.Nearest(12000, 10001, 12999, &k));

  // Two hours with a key frame every second on a 315-pixel bar: every column once.
  std::vector<int32_t> perSecond;
  for (int32_t t = 0; t <= 7200000; t += 1000) perSecond.push_back(t);
  const std::vector<int> cols = KeyFrameMarks(perSecond).TickColumns(0, 7200000, 315);
  ASSERT_EQ(cols.size(), 315u);
  for (int c = 0; c < 315; ++c) EXPECT_EQ(cols[static_cast<size_t>(c)], c);
}

TEST(KeyFrameMarks, BarPaintsATickAtEveryKeyFrameOverSectionsToo) {
  CPeriodBar bar;
  bar.SetBarRect(10, 5, 600, 24);
  bar.SetRange(0, 60000);
  AddSection(bar, 20000, 30000);
  bar.SetPos(45000);
  const std::vector<int32_t> times{0, 10000, 13000, 25000, 59000};
  bar.SetKeyFrames(KeyFrameMarks(times));
  QImage img(620, 34, QImage::Format_RGB32);
  img.fill(Qt::white);
  {
    QPainter p(&img);
    bar.Paint(&p);
  }
  for (int32_t t : times) {
    const int x = bar.XFromPos(t);
    EXPECT_EQ(img.pixelColor(x, 5 + 21), kTick) << t;
    EXPECT_EQ(img.pixelColor(x, 5 + 23), kTick) << t;
    EXPECT_NE(img.pixelColor(x, 5 + 8), kTick) << "short marks, not lines across: " << t;
    EXPECT_NE(img.pixelColor(x + 2, 5 + 21), kTick) << t;
  }
  int ticks = 0;
  for (int x = 10; x < 610; ++x) ticks += img.pixelColor(x, 5 + 21) == kTick;
  EXPECT_EQ(ticks, 5);
}

namespace {

class SnapTimeline : public ::testing::Test {
 protected:
  void SetUp() override {
    sld.PlaceBar(0, 0, 600, 24);  // 100 ms a pixel over 0..60000
    sld.SetRange(0, 60000);
    sld.SetKeyFrames(KeyFrameMarks({0, 5000, 9000, 12000, 18000, 26000}));
  }
  void Mouse(QEvent::Type type, Qt::MouseButton button, int x, Qt::MouseButtons held,
             Qt::KeyboardModifiers mods) {
    const QPointF pt(x, 10);
    QMouseEvent ev(type, pt, sld.mapToGlobal(pt), button, held, mods);
    QApplication::sendEvent(&sld, &ev);
  }
  void Press(int x) {
    Mouse(QEvent::MouseButtonPress, Qt::LeftButton, x, Qt::LeftButton, Qt::NoModifier);
  }
  void Release(int x, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    Mouse(QEvent::MouseButtonRelease, Qt::LeftButton, x, Qt::NoButton, mods);
  }
  void Drag(int x, Qt::KeyboardModifiers mods) {
    Mouse(QEvent::MouseMove, Qt::NoButton, x, Qt::LeftButton, mods);
  }
  void Section(int from, int to) {
    sld.SetPos(from);
    sld.AddMark();
    sld.SetPos(to);
    sld.AddMark();
  }
  CQmvSld sld;
};

}  // namespace

TEST_F(SnapTimeline, ShiftDragSnapsTheStartEdgeWithinItsNeighbours) {
  Section(2000, 6000);
  Section(10000, 15000);
  Press(120);
  Release(120);
  Press(101);  // the start edge of the selected section
  Drag(80, Qt::ShiftModifier);
  EXPECT_EQ(sld.Bar().GetEditPeriod().nFrom, 9000);
  Drag(55, Qt::ShiftModifier);  // 5000 is nearer, but lies in the section before
  EXPECT_EQ(sld.Bar().GetEditPeriod().nFrom, 9000);
  Drag(118, Qt::ShiftModifier);  // far from the edge now: still the dragged edge
  EXPECT_EQ(sld.Bar().GetEditPeriod().nFrom, 12000);
  EXPECT_EQ(sld.Bar().GetEditPeriod().nDur, 3000);
  Release(118, Qt::ShiftModifier);
  EXPECT_EQ(sld.GetPeriod(1)->nFrom, 12000);
  EXPECT_EQ(sld.GetPeriod(1)->nDur, 3000);

  // Without Shift, and on the end edge, the pointer's position as before.
  Press(130);
  Release(130);
  Press(121);
  Drag(110, Qt::NoModifier);
  Release(110);
  EXPECT_EQ(sld.GetPeriod(1)->nFrom, 11000);
  Press(130);
  Release(130);
  Press(149);
  Drag(163, Qt::ShiftModifier);
  Release(163, Qt::ShiftModifier);
  EXPECT_EQ(sld.GetPeriod(1)->nFrom, 11000);
  EXPECT_EQ(sld.GetPeriod(1)->nDur, 5300);
}

TEST_F(SnapTimeline, AddMarkSnapTargets) {
  const CPeriodBar& bar = sld.Bar();
  EXPECT_EQ(bar.MarkSnapTarget(11000), 12000) << "a beginning point";
  Section(10000, 15000);
  EXPECT_EQ(bar.MarkSnapTarget(16000), 18000);
  EXPECT_EQ(bar.MarkSnapTarget(14800), 14800) << "the first split point is left alone";
  sld.SetPos(16000);
  sld.AddMark();  // a beginning point at 16000 is pending
  EXPECT_EQ(bar.MarkSnapTarget(17000), 17000) << "an end point is left alone";
  sld.SetPos(17000);
  sld.AddMark();
  sld.SetPos(10500);
  sld.AddMark();  // first split point
  EXPECT_EQ(bar.MarkSnapTarget(11000), 12000) << "the second split point, start of the right part";
  EXPECT_EQ(bar.MarkSnapTarget(10200), 10200)
      << "before the first split point it ends the left part";
  // A beginning point between sections keeps to its gap: 15000..16000 holds no key frame.
  EXPECT_EQ(bar.MarkSnapTarget(15500), 15500);
}

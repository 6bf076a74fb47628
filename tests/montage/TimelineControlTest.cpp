// The timeline control: mouse, keys and buttons turned into model operations and messages.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QTest>
#include <vector>

#include "CQmvSld.h"
#include "WinMessage.h"

namespace {

struct Msg {
  uint32_t id;
  LPARAM lp;
  bool operator==(const Msg&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Msg& m) {
  return os << "{0x" << std::hex << m.id << std::dec << ", " << m.lp << "}";
}

// Stands in for the main window and records what reaches it.
class Owner : public QObject {
 public:
  std::vector<Msg> msgs;
  std::vector<Msg> Take() {
    std::vector<Msg> out;
    out.swap(msgs);
    return out;
  }

 protected:
  bool event(QEvent* e) override {
    if (e->type() != WinMsgEvent::Type()) return QObject::event(e);
    auto* m = static_cast<WinMsgEvent*>(e);
    EXPECT_EQ(m->wParam, 0u);
    msgs.push_back({m->message, m->lParam});
    return true;
  }
};

constexpr int kBandY = 10;  // a 24-pixel bar has its band on rows 0 to 19

class TimelineControl : public ::testing::Test {
 protected:
  void SetUp() override {
    sld.SetOwnerWnd(&owner);
    sld.PlaceBar(40, 100, 640, 124);  // 600 x 24: 100 ms a pixel over 0..60000
    sld.SetRange(0, 60000);
  }

  void Mouse(QEvent::Type type, Qt::MouseButton button, int x, int y = kBandY,
             Qt::MouseButtons held = Qt::NoButton) {
    const QPointF pt(x, y);
    QMouseEvent ev(type, pt, sld.mapToGlobal(pt), button, held, Qt::NoModifier);
    QApplication::sendEvent(&sld, &ev);
  }
  void Press(int x, int y = kBandY) {
    Mouse(QEvent::MouseButtonPress, Qt::LeftButton, x, y, Qt::LeftButton);
  }
  void Release(int x, int y = kBandY) { Mouse(QEvent::MouseButtonRelease, Qt::LeftButton, x, y); }
  void Drag(int x, int y = kBandY) { Mouse(QEvent::MouseMove, Qt::NoButton, x, y, Qt::LeftButton); }
  void Section(int from, int to) {
    sld.SetPos(from);
    sld.AddMark();
    sld.SetPos(to);
    sld.AddMark();
  }
  // Posted messages arrive only once the event loop runs.
  std::vector<Msg> Delivered() {
    QCoreApplication::sendPostedEvents(&owner);
    return owner.Take();
  }

  Owner owner;
  CQmvSld sld;
};

}  // namespace

TEST_F(TimelineControl, PlacesItsBarOverTheWholeControl) {
  EXPECT_EQ(sld.size(), QSize(600, 24));
  EXPECT_EQ(sld.Bar().GetBarRect().right, 600);
  EXPECT_STREQ(sld.metaObject()->className(), "CQmvSld");
}

TEST_F(TimelineControl, PressAndReleaseSendTheCursorAtOnce) {
  Press(150);
  EXPECT_EQ(owner.Take(), (std::vector<Msg>{{WM_TIMELINE_POS, 15000}}));  // sent, not posted
  EXPECT_EQ(sld.GetPos(), 15000);
  Release(160);
  EXPECT_EQ(owner.Take(),
            (std::vector<Msg>{{WM_TIMELINE_POS, 16000}, {WM_TIMELINE_RELEASE, 16000}}));

  // Position 0 moves neither the cursor nor the owner.
  Press(0);
  Release(0);
  EXPECT_TRUE(Delivered().empty());
  EXPECT_EQ(sld.GetPos(), 16000);
  // Outside the band: nothing either.
  Press(300, 22);
  EXPECT_TRUE(Delivered().empty());
}

TEST_F(TimelineControl, ScrubbingPostsTheCursorAndSelectsUnderThePointer) {
  Section(10000, 15000);
  owner.Take();
  Press(50);
  owner.Take();
  Drag(120);
  EXPECT_TRUE(owner.msgs.empty()) << "moves post their messages";
  EXPECT_EQ(Delivered(), (std::vector<Msg>{{WM_TIMELINE_POS, 12000}}));
  EXPECT_EQ(sld.GetPos(), 12000);
  EXPECT_EQ(sld.Bar().GetSelIndex(), 0);
  Mouse(QEvent::MouseMove, Qt::NoButton, 200);  // no button: the cursor stays
  EXPECT_TRUE(Delivered().empty());
  EXPECT_EQ(sld.GetPos(), 12000);
}

TEST_F(TimelineControl, EdgeDragNeedsASelectionAndStopsAtTheNeighbour) {
  Section(10000, 15000);  // columns 100 to 150
  Section(20000, 25000);
  owner.Take();
  Press(149);  // on the end edge of a section not yet selected: selects only
  Drag(170);
  Release(170);
  EXPECT_EQ(sld.GetPeriod(0)->nDur, 5000);
  Delivered();

  Press(140);  // selects it again (the release above cleared the selection)
  Release(140);
  Press(149);  // on the selected section's grip zone: the drag starts
  Drag(190);
  EXPECT_EQ(sld.Bar().GetEditPeriod().nDur, 9000);
  EXPECT_EQ(sld.GetPeriod(0)->nDur, 5000) << "the stored section moves only on release";
  Drag(200);      // would reach the next section at 20000: refused
  Drag(199);      // off the grip zone after the refusal: nothing
  Drag(185, 22);  // below the band: nothing
  EXPECT_EQ(sld.Bar().GetEditPeriod().nDur, 9000);
  Delivered();
  Release(199);
  EXPECT_EQ(owner.Take(),
            (std::vector<Msg>{
                {WM_TIMELINE_CHANGED, 0}, {WM_TIMELINE_POS, 19900}, {WM_TIMELINE_RELEASE, 19900}}));
  EXPECT_EQ(sld.GetPeriod(0)->nFrom, 10000);
  EXPECT_EQ(sld.GetPeriod(0)->nDur, 9000);
}

TEST_F(TimelineControl, StartEdgeDragPostsThePointerPosition) {
  Section(10000, 15000);
  Press(120);
  Release(120);
  Press(101);
  Delivered();
  Drag(80);
  EXPECT_EQ(Delivered(), (std::vector<Msg>{{WM_TIMELINE_POS, 8000}}));
  Release(80);
  EXPECT_EQ(sld.GetPeriod(0)->nFrom, 8000);
  EXPECT_EQ(sld.GetPeriod(0)->nDur, 7000);
}

TEST_F(TimelineControl, AddMarkPicksTheKindOfMarkByTheCursor) {
  sld.SetPos(10000);
  sld.AddMark();  // beginning point
  EXPECT_TRUE(owner.Take().empty());
  sld.SetPos(20000);
  sld.AddMark();  // end point
  EXPECT_EQ(owner.Take(), (std::vector<Msg>{{WM_TIMELINE_CHANGED, 0}}));
  ASSERT_EQ(sld.GetCount(), 1);

  sld.SetPos(30000);
  sld.AddMark();  // a new beginning point
  sld.SetPos(12000);
  sld.AddMark();  // inside a section: first split point, not the end point
  EXPECT_EQ(sld.Bar().GetSplitState(), 1);
  EXPECT_TRUE(sld.Bar().IsBeginSet());
  EXPECT_EQ(sld.GetCount(), 1);
  sld.SetPos(14000);
  sld.AddMark();
  EXPECT_EQ(sld.Bar().GetSplitState(), 2);
  EXPECT_EQ(owner.Take(), (std::vector<Msg>{{WM_TIMELINE_CHANGED, 0}}));
}

TEST_F(TimelineControl, EraseCutsWithTwoSplitPointsAndDeletesOtherwise) {
  Section(10000, 20000);
  sld.SetPos(12000);
  sld.AddMark();
  sld.SetPos(14000);
  sld.AddMark();
  owner.Take();
  sld.EraseMark();
  EXPECT_EQ(owner.Take(), (std::vector<Msg>{{WM_TIMELINE_CHANGED, 0}}));
  ASSERT_EQ(sld.GetCount(), 2);
  EXPECT_EQ(sld.GetPeriod(0)->nFrom, 14000);
  EXPECT_EQ(sld.GetPeriod(1)->nFrom, 10000);
  EXPECT_EQ(sld.GetPeriod(2), nullptr);

  // One split point only: Erase deletes the selected section instead.
  sld.SetPos(11000);
  sld.AddMark();
  sld.SelectPeriod(0);
  sld.EraseMark();
  ASSERT_EQ(sld.GetCount(), 1);
  EXPECT_EQ(sld.GetPeriod(0)->nFrom, 10000);
  sld.EraseMark();  // nothing selected: refused, but the owner still hears of it
  EXPECT_EQ(sld.GetCount(), 1);
  EXPECT_EQ(owner.Take(), (std::vector<Msg>{{WM_TIMELINE_CHANGED, 0}, {WM_TIMELINE_CHANGED, 0}}));
}

TEST_F(TimelineControl, DoubleClicksSetPointsAndSplits) {
  // Left: the press moves the cursor, the double-click sets the point.
  Press(100);
  Release(100);
  Mouse(QEvent::MouseButtonDblClick, Qt::LeftButton, 100, kBandY, Qt::LeftButton);
  Release(100);
  EXPECT_TRUE(sld.Bar().IsBeginSet());
  Press(200);
  Release(200);
  owner.Take();
  Mouse(QEvent::MouseButtonDblClick, Qt::LeftButton, 200, kBandY, Qt::LeftButton);
  EXPECT_EQ(owner.Take(), (std::vector<Msg>{{WM_TIMELINE_CHANGED, 0}}));
  ASSERT_EQ(sld.GetCount(), 1);
  EXPECT_EQ(sld.GetPeriod(0)->nFrom, 10000);
  EXPECT_EQ(sld.GetPeriod(0)->nDur, 10000);

  // Right: the release moves the cursor silently, the double-click sets split points.
  Mouse(QEvent::MouseButtonRelease, Qt::RightButton, 120);
  EXPECT_EQ(sld.GetPos(), 12000);
  EXPECT_TRUE(owner.Take().empty());
  Mouse(QEvent::MouseButtonDblClick, Qt::RightButton, 120, kBandY, Qt::RightButton);
  EXPECT_EQ(sld.Bar().GetSplitState(), 1);
  Mouse(QEvent::MouseButtonRelease, Qt::RightButton, 150);
  Mouse(QEvent::MouseButtonDblClick, Qt::RightButton, 150, kBandY, Qt::RightButton);
  EXPECT_EQ(sld.Bar().GetSplitState(), 2);
  EXPECT_EQ(owner.Take(), (std::vector<Msg>{{WM_TIMELINE_CHANGED, 0}}));
}

TEST_F(TimelineControl, ArrowKeysStepAndOtherKeysGoToTheWindow) {
  sld.SetPos(30000);
  QTest::keyClick(&sld, Qt::Key_Right);
  EXPECT_EQ(sld.GetPos(), 31200);  // two steps of 600
  QTest::keyClick(&sld, Qt::Key_Left);
  QTest::keyClick(&sld, Qt::Key_Left);
  EXPECT_EQ(sld.GetPos(), 28800);
  QKeyEvent bracket(QEvent::KeyPress, Qt::Key_BracketLeft, Qt::NoModifier, "[");
  QApplication::sendEvent(&sld, &bracket);
  EXPECT_FALSE(bracket.isAccepted()) << "'[' must reach the main window";
  EXPECT_TRUE(Delivered().empty());
}

TEST_F(TimelineControl, ClickGivesTheKeyboardFocus) {
  QWidget window;
  QWidget other(&window);
  other.setFocusPolicy(Qt::StrongFocus);
  sld.setParent(&window);
  sld.show();
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  other.setFocus();
  ASSERT_FALSE(sld.hasFocus());
  Press(300);
  EXPECT_TRUE(sld.hasFocus());
  sld.setParent(nullptr);
}

TEST_F(TimelineControl, ButtonsStepAndGoto) {
  sld.SetPos(30000);
  EXPECT_EQ(sld.StepButton(true), 31200);
  EXPECT_EQ(sld.StepButton(false), 30000);
  EXPECT_EQ(CQmvSld::GotoValue("4500"), 4500);
  EXPECT_EQ(CQmvSld::GotoValue("12ab3"), 12);
  EXPECT_EQ(CQmvSld::GotoValue(""), 0);
  EXPECT_EQ(CQmvSld::GotoValue("x1"), 0);
  EXPECT_EQ(CQmvSld::GotoValue("99999999999999"), 2147483647);
  sld.SetPos(CQmvSld::GotoValue("70000"));  // beyond the clip: the cursor stops at its end
  EXPECT_EQ(sld.GetPos(), 60000);
  EXPECT_TRUE(Delivered().empty()) << "buttons send no cursor report";
}

TEST_F(TimelineControl, PaintsTheBarThroughItsBackBuffer) {
  Section(10000, 15000);
  sld.SelectPeriod(0);
  sld.SetPos(45000);
  const QImage img = sld.grab().toImage();
  ASSERT_EQ(img.size(), QSize(600, 24));
  EXPECT_EQ(img.pixelColor(100, 1), QColor(0, 255, 0));  // the selection's outline
  const QColor bg = img.pixelColor(440, 5);
  EXPECT_EQ(img.pixelColor(450, 5), QColor(255 - bg.red(), 255 - bg.green(), 255 - bg.blue()));
}

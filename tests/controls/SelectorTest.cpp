#include <gtest/gtest.h>

#include <QTest>

#include "CQmvSel.h"
#include "MsgRecorder.h"

namespace {

// The function selector as the main window sets it up.
void SetUpFunctionSelector(CQmvSel& sel, QObject* owner) {
  sel.SetNotifyWnd(owner);
  sel.SetBkColor(0xEAFDFF);
  sel.SetTextColor(0x0A0C0C, 0x0000FF);
  sel.CreateFont("Sylfaen", 16);
  for (const char* t : {"Clip Merge", "Video Montage", "Video Export"}) sel.AddItem(t);
  sel.SetItemGap(14);
  sel.SetMargins(8, 8);
  sel.resize(121, 99);
}

CQmvSelModel FunctionModel() {
  CQmvSelModel m;
  for (const char* t : {"Clip Merge", "Video Montage", "Video Export"}) m.AddItem(t);
  m.SetFontHeight(16);
  m.SetItemGap(14);
  m.SetMargins(8, 8);
  return m;
}

QPoint Centre(const CQmvSelModel& m, int i, int w) {
  return m.ItemRect(i, w).center();
}

}  // namespace

TEST(SelectorModel, ItemAndTextBandsFollowPitchAndGap) {
  const CQmvSelModel m = FunctionModel();
  const QRect item = m.ItemRect(1, 121);
  EXPECT_EQ(item.top(), 38);
  EXPECT_EQ(item.y() + item.height(), 68);
  const QRect text = m.TextRect(1, 121);
  EXPECT_EQ(text.top(), 43);
  EXPECT_EQ(text.y() + text.height(), 63);
  EXPECT_EQ(text.left(), 8);
  EXPECT_EQ(text.x() + text.width(), 113);
  // A negative top offset never puts a text band above the control.
  CQmvSelModel up = FunctionModel();
  up.SetMargins(8, -10);
  EXPECT_EQ(up.TextRect(0, 121).top(), 0);
}

TEST(SelectorModel, HitTestKeepsFifteenPixelsFreeOnBothSides) {
  const CQmvSelModel m = FunctionModel();
  const int w = 121;
  EXPECT_EQ(m.HitTest(14, 50, w), -1);
  EXPECT_EQ(m.HitTest(15, 50, w), 1);
  EXPECT_EQ(m.HitTest(w - 16, 50, w), 1);
  EXPECT_EQ(m.HitTest(w - 15, 50, w), -1);
  // Item edges: top inclusive, bottom exclusive; above the first and below the last nothing.
  EXPECT_EQ(m.HitTest(60, 38, w), 1);
  EXPECT_EQ(m.HitTest(60, 37, w), 0);
  EXPECT_EQ(m.HitTest(60, 7, w), -1);
  EXPECT_EQ(m.HitTest(60, 98, w), -1);
  // A control narrower than both margins hits nothing.
  EXPECT_EQ(m.HitTest(15, 50, 29), -1);
}

TEST(SelectorModel, ReleasePicksOnlyANewItem) {
  CQmvSelModel m = FunctionModel();
  // Nothing picked: a release off every item reports nothing.
  m.MouseMove(2, 50, 121, false);
  m.MouseDown();
  EXPECT_EQ(m.MouseUp(), -1);
  EXPECT_EQ(m.Selected(), -1);

  m.MouseMove(60, 80, 121, false);
  m.MouseDown();
  EXPECT_EQ(m.MouseUp(), 2);
  // The picked item again: nothing.
  m.MouseDown();
  EXPECT_EQ(m.MouseUp(), -1);
  // Off every item with an item picked: that item is reported again.
  m.MouseMove(2, 80, 121, false);
  m.MouseDown();
  EXPECT_EQ(m.MouseUp(), 2);
  EXPECT_EQ(m.Selected(), 2);
}

TEST(SelectorModel, HeldButtonSuppressesTheHighlight) {
  CQmvSelModel m = FunctionModel();
  m.MouseMove(60, 50, 121, true);
  EXPECT_EQ(m.Hot(), 1);
  EXPECT_FALSE(m.IsHighlighted(1));
  m.MouseMove(60, 50, 121, false);
  EXPECT_TRUE(m.IsHighlighted(1));
}

TEST(Selector, ClicksSendPicksWithIndexAndText) {
  MsgRecorder owner;
  CQmvSel sel;
  SetUpFunctionSelector(sel, &owner);
  sel.show();
  const QPoint exportItem = Centre(sel.Model(), 2, sel.width());
  QTest::mouseMove(&sel, exportItem);
  QTest::mouseClick(&sel, Qt::LeftButton, {}, exportItem);
  ASSERT_EQ(owner.msgs.size(), 1u);
  EXPECT_EQ(owner.msgs[0].message, WM_SELECTOR_PICK);
  EXPECT_EQ(owner.msgs[0].wParam, 2u);
  EXPECT_EQ(owner.msgs[0].text, "Video Export");
  QTest::mouseClick(&sel, Qt::LeftButton, {}, exportItem);
  EXPECT_EQ(owner.msgs.size(), 1u);
  EXPECT_EQ(sel.GetSelected(), 2);

  // A click near the edge of another item does not pick it.
  QTest::mouseClick(&sel, Qt::LeftButton, {}, QPoint(5, Centre(sel.Model(), 0, 121).y()));
  ASSERT_EQ(owner.msgs.size(), 2u);
  EXPECT_EQ(owner.msgs[1].wParam, 2u);
}

TEST(Selector, DragWithButtonHeldPicksWhereReleased) {
  MsgRecorder owner;
  CQmvSel sel;
  SetUpFunctionSelector(sel, &owner);
  sel.show();
  const QPoint first = Centre(sel.Model(), 0, 121), second = Centre(sel.Model(), 1, 121);
  QTest::mousePress(&sel, Qt::LeftButton, {}, first);
  QMouseEvent drag(QEvent::MouseMove, QPointF(second), sel.mapToGlobal(QPointF(second)),
                   Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&sel, &drag);
  EXPECT_EQ(sel.GetHot(), 1);
  EXPECT_FALSE(sel.Model().IsHighlighted(1));
  QTest::mouseRelease(&sel, Qt::LeftButton, {}, second);
  ASSERT_EQ(owner.msgs.size(), 1u);
  EXPECT_EQ(owner.msgs[0].text, "Video Montage");
}

TEST(Selector, FillsMarkHotAndPickedBands) {
  MsgRecorder owner;
  CQmvSel sel;
  sel.SetNotifyWnd(&owner);
  sel.SetBkColor(0xEAFDFF);
  sel.SetTextColor(0x0A0C0C, 0x0CFF15);
  sel.CreateFont("Tohoma", 14);
  for (const char* t : {"Primary Mornitor", "S-Video", "Composite Video"}) sel.AddItem(t);
  sel.SetItemGap(6);
  sel.SetMargins(10, 2);
  sel.SetTextFormat(0x24);
  sel.SetBorder(true, 0xC0C0C0);
  sel.SetFill(true, 0xEBF7DC, 0xFFCFC4);
  sel.resize(318, 131);
  sel.show();
  const QPoint s1 = Centre(sel.Model(), 1, 318);
  QTest::mouseMove(&sel, s1);
  QTest::mouseClick(&sel, Qt::LeftButton, {}, s1);
  QTest::mouseMove(&sel, Centre(sel.Model(), 2, 318));
  const QImage img = sel.grab().toImage();
  const QRect band1 = sel.Model().TextRect(1, 318), band2 = sel.Model().TextRect(2, 318);
  // Right end of the band, clear of any text.
  EXPECT_EQ(img.pixelColor(310, band1.center().y()), ToQColor(0xFFCFC4));
  EXPECT_EQ(img.pixelColor(310, band2.center().y()), ToQColor(0xEBF7DC));
  EXPECT_EQ(img.pixelColor(0, 60), ToQColor(0xC0C0C0));
  EXPECT_EQ(img.pixelColor(310, 1), ToQColor(0xEAFDFF));
}

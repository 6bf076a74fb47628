#include <gtest/gtest.h>

#include <QTest>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "MsgRecorder.h"
#include "QtMsgWindow.h"
#include "StaticDisplay.h"

using namespace std::chrono_literals;

TEST(StaticDisplay, BottomUpRowsArriveTopFirst) {
  CXStatic screen;
  screen.resize(40, 20);
  screen.SetBkColor(RGB(2, 0, 0));
  StaticDisplay disp(&screen);
  int w = 0, h = 0;
  disp.GetClientSize(&w, &h);
  EXPECT_EQ(QSize(w, h), QSize(40, 20));

  // 2 x 2 picture stored bottom-up with padded rows: the bottom row (blue) first in memory.
  const int stride = 12;
  std::vector<uint8_t> bits(stride * 2, 0x55);
  const uint8_t blue[4] = {255, 0, 0, 0}, red[4] = {0, 0, 255, 0};
  for (int x = 0; x < 2; ++x) {
    std::memcpy(&bits[x * 4], blue, 4);
    std::memcpy(&bits[stride + x * 4], red, 4);
  }
  ASSERT_TRUE(disp.DrawImage(bits.data() + stride, 2, 2, -stride, 10, 0, 20, 20));
  ASSERT_TRUE(screen.HasFrameImage());
  EXPECT_EQ(screen.FrameRect(), QRect(10, 0, 20, 20));
  const QImage img = screen.grab().toImage();
  EXPECT_EQ(img.pixelColor(20, 1), QColor(255, 0, 0));
  EXPECT_EQ(img.pixelColor(20, 18), QColor(0, 0, 255));
  EXPECT_EQ(img.pixelColor(5, 10), QColor(2, 0, 0));  // outside the picture: the background
  screen.ClearFrameImage();
  EXPECT_EQ(screen.grab().toImage().pixelColor(20, 1), QColor(2, 0, 0));
}

TEST(StaticDisplay, RefusesUnusablePictures) {
  auto screen = std::make_unique<CXStatic>();
  screen->resize(40, 20);
  StaticDisplay disp(screen.get());
  std::vector<uint8_t> bits(64, 0);
  EXPECT_FALSE(disp.DrawImage(nullptr, 2, 2, 8, 0, 0, 10, 10));
  EXPECT_FALSE(disp.DrawImage(bits.data(), 4, 2, 8, 0, 0, 10, 10));  // stride shorter than a row
  EXPECT_FALSE(disp.DrawImage(bits.data(), 2, 0, 8, 0, 0, 10, 10));
  EXPECT_FALSE(disp.DrawImage(bits.data(), 2, 2, 8, 0, 0, 0, 10));
  EXPECT_FALSE(screen->HasFrameImage());
  // The control gone: no size and no drawing.
  screen.reset();
  int w = -1, h = -1;
  disp.GetClientSize(&w, &h);
  EXPECT_EQ(w, 0);
  EXPECT_EQ(h, 0);
  EXPECT_FALSE(disp.DrawImage(bits.data(), 2, 2, 8, 0, 0, 10, 10));
}

TEST(QtMsgWindow, PostsReachTheReceiverThroughDispatch) {
  MsgRecorder rec;
  QtMsgWindow wnd(&rec, 10ms);
  wnd.PostMsg(WM_EDIT_PROGRESS, 1, 4000);
  EXPECT_TRUE(rec.msgs.empty());  // posted, not sent
  wnd.DispatchOnePending();
  ASSERT_EQ(rec.msgs.size(), 1u);
  EXPECT_EQ(rec.msgs[0].message, WM_EDIT_PROGRESS);
  EXPECT_EQ(rec.msgs[0].lParam, 4000);
}

TEST(QtMsgWindow, DispatchIsThrottled) {
  MsgRecorder rec;
  QtMsgWindow wnd(&rec, 10ms);
  wnd.DispatchOnePending();
  EXPECT_EQ(wnd.DispatchCount(), 1);
  wnd.PostMsg(WM_EDIT_PROGRESS, 1, 1);
  wnd.DispatchOnePending();  // too soon after the last one
  EXPECT_EQ(wnd.DispatchCount(), 1);
  EXPECT_TRUE(rec.msgs.empty());
  std::this_thread::sleep_for(12ms);
  wnd.DispatchOnePending();
  EXPECT_EQ(wnd.DispatchCount(), 2);
  EXPECT_EQ(rec.msgs.size(), 1u);
  QCoreApplication::processEvents();
}

TEST(QtMsgWindow, NestedDispatchReturnsAtOnce) {
  MsgRecorder rec;
  QtMsgWindow wnd(&rec, 0ms);
  int nested = 0;
  rec.onMessage = [&](const WinMsgEvent&) {
    // A handler that dispatches again (a job started from a message) must not recurse.
    wnd.PostMsg(WM_EDIT_PROGRESS, 1, 2);
    wnd.DispatchOnePending();
    ++nested;
  };
  wnd.PostMsg(WM_EDIT_PROGRESS, 1, 1);
  wnd.DispatchOnePending();
  EXPECT_EQ(wnd.DispatchCount(), 1);
  EXPECT_GE(nested, 1);
  rec.onMessage = nullptr;
  QCoreApplication::processEvents();
}

TEST(QtMsgWindow, GoneReceiverTakesNothing) {
  auto rec = std::make_unique<MsgRecorder>();
  QtMsgWindow wnd(rec.get(), 0ms);
  rec.reset();
  EXPECT_EQ(wnd.Receiver(), nullptr);
  wnd.PostMsg(WM_EDIT_PROGRESS, 1, 1);
  wnd.DispatchOnePending();
}

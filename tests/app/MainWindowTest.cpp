#include <QCloseEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>

#include "CQmvSld.h"
#include "CXStatic.h"
#include "ClipFile.h"
#include "MainWindowFixture.h"
#include "TestDir.h"

namespace {

QString MessageOf(CVantrelDlg& dlg) {
  return dlg.Message();
}

}  // namespace

TEST_F(MainWindowTest, StartsWithNoFunctionAndTheSkinnedWindow) {
  EXPECT_EQ(dlg->size(), QSize(480, 343));
  EXPECT_EQ(dlg->windowTitle(), "Vantrel");
  EXPECT_TRUE(dlg->windowFlags() & Qt::FramelessWindowHint);
  EXPECT_EQ(dlg->CurrentFunction(), kFunctionNone);
  EXPECT_EQ(dlg->OutputCode(), kOutputNone);
  EXPECT_EQ(MessageOf(*dlg), "Select function from left pane to start your work.");
  for (int id : {1025, 1002, 1005, 1035, 1034, 1042, 1044, 1047}) EXPECT_FALSE(Visible(id)) << id;
  for (int id : {1000, 1001, 1008, 1016, 1007, 1041, 1017}) EXPECT_TRUE(Visible(id)) << id;
  // The skin's outline shapes the window; its title buttons got their bitmaps.
  EXPECT_FALSE(dlg->mask().isEmpty());
  EXPECT_EQ(dlg->Static(1024)->GetText(), "Clip Length:");
  EXPECT_EQ(dlg->Static(1028)->GetText(), "0:00:00(00000000 mili-sec)");
  EXPECT_EQ(dlg->Static(1023)->GetText(), "100%");
}

TEST_F(MainWindowTest, FunctionSwitchShowsOnePaneWithItsTitleAndMessage) {
  PickFunction(kFunctionMerge);
  EXPECT_EQ(dlg->CurrentFunction(), kFunctionMerge);
  EXPECT_EQ(dlg->Static(1006)->GetText(), "Clip Merge");
  EXPECT_EQ(MessageOf(*dlg), "Merge several video clips into one clip.");
  EXPECT_TRUE(Visible(1035));
  EXPECT_FALSE(Visible(1002));
  EXPECT_FALSE(Visible(1044));

  PickFunction(kFunctionMontage);
  EXPECT_EQ(dlg->Static(1006)->GetText(), "Video Montage");
  EXPECT_EQ(MessageOf(*dlg), "Easy cut and reassemble one video clip.");
  EXPECT_TRUE(Visible(1002));
  EXPECT_FALSE(Visible(1035));

  // A click on the item already picked sends nothing: the message line stays as it is.
  dlg->SetMessage("unchanged");
  PickFunction(kFunctionMontage);
  EXPECT_EQ(MessageOf(*dlg), "unchanged");

  PickFunction(kFunctionExport);
  EXPECT_EQ(dlg->CurrentFunction(), kFunctionExport);
  EXPECT_EQ(MessageOf(*dlg), "Output clip to mornitors, DV tape or other format files.");
  EXPECT_TRUE(Visible(1044));
  EXPECT_TRUE(Visible(1042));
  EXPECT_FALSE(Visible(1002));
}

TEST_F(MainWindowTest, OutputPicksInExportModeSetTheCodeAndTheMessage) {
  PickFunction(kFunctionExport);
  const std::pair<int, int> picks[] = {{3, kOutputSecondary},
                                       {1, kOutputSVideo},
                                       {2, kOutputComposite},
                                       {4, kOutputDvTape},
                                       {0, kOutputPrimary}};
  const char* texts[] = {"Primary Mornitor", "S-Video", "Composite Video", "Secondary Mornitor",
                         "Digital DV Tape(Camcorder)"};
  for (const auto& [item, code] : picks) {
    PickItem(1044, item);
    EXPECT_EQ(dlg->OutputCode(), code) << item;
    EXPECT_EQ(MessageOf(*dlg), QString("Export video to ") + texts[item]);
  }
  // A text that names no function changes no pane, but in export mode it still names itself.
  const QString odd("Nothing Known");
  SendMsg(dlg.get(), WM_SELECTOR_PICK, 9, reinterpret_cast<LPARAM>(&odd));
  EXPECT_EQ(MessageOf(*dlg), "Export video to Nothing Known");
  EXPECT_EQ(dlg->CurrentFunction(), kFunctionExport);
  EXPECT_EQ(dlg->OutputCode(), kOutputPrimary);
  EXPECT_TRUE(Visible(1044));
}

TEST_F(MainWindowTest, DropsFillTheSourceOfTheCurrentFunction) {
  // No function: nothing.
  dlg->OnDropFiles({"/clips/a.wmv"});
  EXPECT_TRUE(dlg->Edit(1025)->text().isEmpty());
  EXPECT_TRUE(dlg->Edit(1042)->text().isEmpty());

  PickFunction(kFunctionMontage);
  dlg->OnDropFiles({"/clips/first.wmv", "/clips/Trip.WMV"});
  EXPECT_EQ(dlg->Edit(1025)->text(), "/clips/Trip.WMV");
  EXPECT_EQ(dlg->Edit(1025)->toolTip(), "/clips/Trip.WMV");
  dlg->OnDropFiles({"/clips/movie.avi"});
  EXPECT_EQ(dlg->Edit(1025)->text(), "/clips/Trip.WMV");

  PickFunction(kFunctionExport);
  dlg->OnDropFiles({"/clips/out.qmv"});
  EXPECT_EQ(dlg->Edit(1042)->text(), "/clips/out.qmv");
  EXPECT_EQ(dlg->Edit(1025)->text(), "/clips/Trip.WMV");
}

TEST_F(MainWindowTest, EnterEscapeAndCloseLeaveItOpenQuitEndsWithTearDownInOrder) {
  QTest::keyClick(dlg.get(), Qt::Key_Return);
  QTest::keyClick(dlg.get(), Qt::Key_Escape);
  EXPECT_FALSE(dlg->close());
  EXPECT_TRUE(dlg->isVisible());

  QTimer::singleShot(50, dlg.get(),
                     [this] { QTest::mouseClick(dlg->GetDlgItem(1000), Qt::LeftButton); });
  dlg->DoModal();
  const QStringList expected = {"player window shut down", "skin freed",
                                "playback library freed",  "preview player exited",
                                "montage engine exited",   "merge engine exited",
                                "player window deleted"};
  EXPECT_EQ(dlg->teardownTrace, expected);
  EXPECT_EQ(dlg->MontageEngine(), nullptr);
  EXPECT_EQ(dlg->PlayerWindow(), nullptr);
}

TEST_F(MainWindowTest, ResizeMovesTheTitleButtonsUnlessTooSmall) {
  QWidget* quit = dlg->GetDlgItem(1000);
  QWidget* mini = dlg->GetDlgItem(1001);
  dlg->resize(300, 200);
  QApplication::processEvents();
  EXPECT_EQ(quit->geometry(), QRect(280, 5, 16, 16));
  EXPECT_EQ(mini->geometry(), QRect(260, 5, 16, 16));
  dlg->resize(39, 200);
  QApplication::processEvents();
  EXPECT_EQ(quit->pos(), QPoint(280, 5));
  dlg->resize(300, 29);
  QApplication::processEvents();
  EXPECT_EQ(quit->pos(), QPoint(280, 5));
}

TEST_F(MainWindowTest, BottomStripClickAreas) {
  auto click = [this](int x, int y) {
    const QPoint screen = dlg->mapToGlobal(QPoint(x, y));
    SendMsg(dlg.get(), WM_LBUTTONUP, 100, (static_cast<LPARAM>(screen.x()) << 16) | screen.y());
  };
  click(321, 200);
  EXPECT_EQ(aboutShown, 0);
  EXPECT_TRUE(openedUrls.isEmpty());
  click(322, 200);
  EXPECT_EQ(aboutShown, 1);
  click(199, 195);
  EXPECT_TRUE(openedUrls.isEmpty());
  click(199, 200);
  ASSERT_EQ(openedUrls.size(), 1);
  EXPECT_EQ(openedUrls[0], CVantrelDlg::kMakerUrl);
  // A real click on the strip reaches the window through the static's report.
  CXStatic* strip = dlg->Static(1017);
  const QPoint inStrip = strip->mapFrom(dlg.get(), QPoint(400, 210));
  QTest::mouseClick(strip, Qt::LeftButton, {}, inStrip);
  EXPECT_EQ(aboutShown, 2);
  // The Sys button opens the same box.
  QTest::mouseClick(dlg->GetDlgItem(1008), Qt::LeftButton);
  EXPECT_EQ(aboutShown, 3);
}

TEST_F(MainWindowTest, BracketKeysStepTheTimelineAsTheArrowButtons) {
  auto* timeline = qobject_cast<CQmvSld*>(dlg->GetDlgItem(1002));
  timeline->SetRange(0, 60000);
  timeline->SetPos(30000);
  QTest::keyClick(dlg.get(), Qt::Key_BracketLeft);
  EXPECT_EQ(timeline->GetPos(), 30000 - 2 * 600);
  EXPECT_EQ(dlg->Edit(1014)->text(), "28800");
  QTest::keyClick(dlg.get(), Qt::Key_BracketRight);
  QTest::keyClick(dlg.get(), Qt::Key_BracketRight);
  EXPECT_EQ(timeline->GetPos(), 31200);
}

// Without the skin library the window is a plain rectangle that still works.
TEST(MainWindowWithoutSkin, PlainRectangleStillWorks) {
  testutil::TempDir empty;
  const std::string saved = InstallFolder();
  SetInstallFolder(empty.Path().string());
  {
    CVantrelDlg dlg;
    dlg.showSkinnedAbout = [] {};
    dlg.OnInitDialog();
    dlg.show();
    QApplication::processEvents();
    EXPECT_TRUE(dlg.mask().isEmpty());
    const QString merge("Clip Merge");
    SendMsg(&dlg, WM_SELECTOR_PICK, 0, reinterpret_cast<LPARAM>(&merge));
    EXPECT_EQ(dlg.CurrentFunction(), kFunctionMerge);
    const QImage shot = dlg.grab().toImage();
    EXPECT_FALSE(shot.isNull());
    dlg.DestroyWindow();
  }
  SetInstallFolder(saved);
}

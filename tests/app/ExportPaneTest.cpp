// The export pane from the user's side on the offscreen platform: the refusals of Start, the path
// and output that survive function switches, the displays that follow the player window's
// reports, and what Start does when the engine or the camcorder is missing.
#include <dlfcn.h>

#include <QLineEdit>
#include <QProgressBar>
#include <QSlider>
#include <filesystem>
#include <fstream>

#include "ExportFixture.h"
#include "ExportModel.h"
#include "PaneDriver.h"
#include "QmvPlyEx.h"
#include "TestDir.h"

namespace {

QSlider* Slider(CVantrelDlg& dlg) {
  return qobject_cast<QSlider*>(dlg.GetDlgItem(1045));
}
QProgressBar* Bar(CVantrelDlg& dlg) {
  return qobject_cast<QProgressBar*>(dlg.GetDlgItem(1049));
}

}  // namespace

TEST_F(ExportFixture, StartRefusesUntilAnOutputAndAClipAreGivenAndBothSurviveSwitches) {
  Open();
  EXPECT_EQ(startTime, "00:00:00");
  EXPECT_EQ(startPercent, "100%");
  Click(*dlg, 1047);
  EXPECT_EQ(Msg(), "Please select the media/device to be exported.");
  Click(*dlg, 1048);  // Stop without an output does nothing
  EXPECT_EQ(Msg(), "Please select the media/device to be exported.");

  PickOutput(kComposite);
  EXPECT_EQ(dlg->OutputCode(), 16);
  EXPECT_EQ(Msg(), "Export video to Composite Video");
  for (const char* path : {"", "/tmp/clip.avi", "/tmp/clip.wmv.txt"}) {
    Type(*dlg, 1042, path);
    Click(*dlg, 1047);
    EXPECT_EQ(Msg(), "Please offer a valid media file.") << path;
  }
  EXPECT_TRUE(questions.isEmpty());

  // Browse writes the chosen path unchanged; only Start tests its kind.
  dlg->pickClipFile = [] { return QString("/videos/holiday.AVI"); };
  Click(*dlg, 1043);
  EXPECT_EQ(dlg->Edit(1042)->text(), "/videos/holiday.AVI");
  dlg->pickClipFile = [] { return QString(); };  // cancelled
  Click(*dlg, 1043);
  EXPECT_EQ(dlg->Edit(1042)->text(), "/videos/holiday.AVI");

  PickOutput(kSecondary);
  PickItem(1016, 1);  // Video Montage
  EXPECT_FALSE(dlg->GetDlgItem(1042)->isVisibleTo(dlg.get()));
  PickFunctionExport();
  EXPECT_EQ(dlg->Edit(1042)->text(), "/videos/holiday.AVI");
  EXPECT_EQ(dlg->OutputCode(), 11);
}

TEST_F(ExportFixture, PositionReportsMoveTheDisplaysAndTheEndStopsTheOutput) {
  testutil::TempDir dir;
  const std::string clip = testutil::MakeClip(dir, "ten.wmv", SmallClip(10000));
  Open();
  MuteThePlayerWindowsReports();
  PickOutput(kPrimary);
  Type(*dlg, 1042, QString::fromStdString(clip));
  Click(*dlg, 1047);
  ASSERT_EQ(Slider(*dlg)->maximum(), 10000);
  EXPECT_EQ(Bar(*dlg)->maximum(), 10000);
  EXPECT_EQ(Text(1050), "%0");
  EXPECT_EQ(Text(1046), "00:00:00");
  log.commands.clear();

  Report(1, 5000);
  EXPECT_EQ(Text(1050), "%50");
  EXPECT_EQ(Text(1046), "00:00:05");
  EXPECT_EQ(Slider(*dlg)->value(), 5000);
  EXPECT_EQ(Bar(*dlg)->value(), 5000);
  Report(1, 9899);
  EXPECT_EQ(Text(1050), "%99");
  EXPECT_TRUE(log.commands.empty());
  // Within 100 ms of the end the pane stops the player window itself.
  Report(1, 9900);
  ASSERT_EQ(log.commands.size(), 1u);
  EXPECT_EQ(log.commands[0], std::make_pair(WPARAM{0}, LPARAM{0}));
  EXPECT_EQ(Text(1050), "%0");
  EXPECT_EQ(Text(1046), "00:00:00");
  EXPECT_EQ(Slider(*dlg)->value(), 0);
  EXPECT_EQ(Bar(*dlg)->value(), 0);

  // Hours are not bounded; a not-playing report puts everything back to zero.
  EXPECT_EQ(exportpane::PositionText(103 * 3600000 + 25 * 60000 + 7999), "103:25:07");
  Report(1, 4000);
  Report(0, 0);
  EXPECT_EQ(Text(1046), "00:00:00");
  EXPECT_EQ(Text(1050), "%0");
  EXPECT_EQ(Slider(*dlg)->value(), 0);

  // A slider let go while nothing plays sends nothing.
  log.commands.clear();
  Slider(*dlg)->setSliderDown(true);
  Slider(*dlg)->setValue(7000);
  Slider(*dlg)->setSliderDown(false);
  QApplication::processEvents();
  EXPECT_TRUE(log.commands.empty());
}

TEST_F(ExportFixture, WithoutTheEngineTheTapeFailsAndTheMonitorsDoNothing) {
  testutil::TempDir dir;
  const std::string clip = testutil::MakeClip(dir, "a.wmv", SmallClip(2000));
  testutil::TempDir empty;
  Open(empty.Path().string());
  ASSERT_EQ(dlg->PlayModule(), nullptr);
  setenv("VANTREL_DV_TAPE", dir.File("tape.dv").c_str(), 1);
  Type(*dlg, 1042, QString::fromStdString(clip));

  PickOutput(kDvTape);
  Click(*dlg, 1047);
  EXPECT_EQ(Msg(), "Failed to export the video to DV tape.");
  EXPECT_TRUE(questions.isEmpty());
  EXPECT_FALSE(std::filesystem::exists(dir.File("tape.dv")));
  Click(*dlg, 1048);
  Report(0, 0);

  PickOutput(kPrimary);
  Click(*dlg, 1047);
  EXPECT_EQ(Msg(), "Export video to Primary Mornitor");
  EXPECT_FALSE(dlg->PlayerWindow()->isVisible());
  Slider(*dlg)->setSliderDown(true);
  Slider(*dlg)->setSliderDown(false);
  SendMsg(dlg.get(), WM_GRAPH_NOTIFY, 0, 0);
  QApplication::processEvents();
  EXPECT_TRUE(log.commands.empty());
}

TEST_F(ExportFixture, TapeWithoutACamcorderSaysSoAndAsksNothing) {
  testutil::TempDir dir;
  const std::string clip = testutil::MakeClip(dir, "a.wmv", SmallClip(2000));
  Open();
  ASSERT_NE(dlg->PlayModule(), nullptr);
  PickOutput(kDvTape);
  EXPECT_EQ(dlg->OutputCode(), 13);
  Type(*dlg, 1042, QString::fromStdString(clip));
  Click(*dlg, 1047);
  ASSERT_TRUE(AwaitTapeStart());
  EXPECT_EQ(Msg(), "No VTR mode digital camcorder connected.");
  EXPECT_TRUE(questions.isEmpty());
}

TEST_F(ExportFixture, AClipThatCannotPlayOnAMonitorNeitherHangsNorLeavesAnythingPlaying) {
  testutil::TempDir dir;
  const std::string corrupt = dir.File("corrupt.wmv");
  {
    std::ofstream out(corrupt, std::ios::binary);
    for (int i = 0; i < 50000; ++i) out.put(static_cast<char>((i * 7919) % 251));
  }
  Open();
  auto isPlaying = reinterpret_cast<plyIsPlayingFn>(dlsym(dlg->PlayModule(), "plyIsPlaying"));
  ASSERT_NE(isPlaying, nullptr);
  PickOutput(kPrimary);
  for (const std::string& bad : {dir.File("nowhere.wmv"), corrupt}) {
    SCOPED_TRACE(bad);
    Type(*dlg, 1042, QString::fromStdString(bad));
    QElapsedTimer t;
    t.start();
    Click(*dlg, 1047);
    EXPECT_LT(t.elapsed(), 5000);
    // A few of the player window's ticks: whatever the engine found out is reported by then.
    QTest::qWait(1200);
    EXPECT_FALSE(isPlaying());
    EXPECT_EQ(Text(1046), "00:00:00");
    EXPECT_EQ(Msg(), "Export video to Primary Mornitor");
  }
  Type(*dlg, 1042, "");
  Click(*dlg, 1047);
  EXPECT_EQ(Msg(), "Please offer a valid media file.");
}

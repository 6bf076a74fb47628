// Key frames in Video Montage from the user's side: the real-start column tells where each
// section of the written clip begins, and Add Mark with Shift starts a section on a key frame.
#include <QApplication>
#include <QKeyEvent>
#include <QTest>
#include <filesystem>

#include "CQmvSld.h"
#include "MainWindowFixture.h"
#include "MediaProbe.h"
#include "MontagePane.h"
#include "PaneDriver.h"
#include "QtEventLoop.h"
#include "TestDir.h"

namespace {

constexpr int kFrameMs = 40;  // 25 fps

int RowWithStart(CVantrelDlg& dlg, int from) {
  auto* list = qobject_cast<CReportList*>(dlg.GetDlgItem(1005));
  for (int r = 0; r < list->GetItemCount(); ++r)
    if (CellText(dlg, 1005, r, 1) == QString::number(from)) return r;
  return -1;
}

// Add Mark with Shift held down on the keyboard.
void ShiftAddMark(CVantrelDlg& dlg) {
  QWidget* button = dlg.GetDlgItem(1013);
  QTest::keyPress(button, Qt::Key_Shift, Qt::ShiftModifier);
  QTest::mouseClick(button, Qt::LeftButton, Qt::ShiftModifier);
  QTest::keyRelease(button, Qt::Key_Shift, Qt::NoModifier);
}

}  // namespace

TEST_F(MainWindowTest, RealStartColumnAndShiftMarkMatchTheWrittenClip) {
  testutil::TempDir dir;
  clipgen::ClipSpec params = SmallClip(20000);
  params.keyFramesMs = {4000, 8000, 10000, 13000, 16000};
  const std::string src = testutil::MakeClip(dir, "keys.wmv", params);
  PickFunction(kFunctionMontage);
  Type(*dlg, 1025, QString::fromStdString(src));
  Click(*dlg, 1027);
  ASSERT_TRUE(testutil::RunUntil([&] { return !dlg->Montage()->KeyFrames().empty(); }, 20000));
  EXPECT_EQ(dlg->Montage()->KeyFrames(),
            (std::vector<int32_t>{0, 4000, 8000, 10000, 13000, 16000}));
  auto* timeline = qobject_cast<CQmvSld*>(dlg->GetDlgItem(1002));
  EXPECT_EQ(timeline->Bar().KeyFrames().Times(), dlg->Montage()->KeyFrames());

  // Sections marked off the key frames.
  MarkSection(*dlg, 5000, 7000);
  MarkSection(*dlg, 8500, 9500);
  // Shift + Add Mark at 12000, between key frames at 10000 and 13000: the nearer one.
  Type(*dlg, 1014, "12000");
  Click(*dlg, 1015);
  ShiftAddMark(*dlg);
  EXPECT_EQ(timeline->GetPos(), 13000);
  EXPECT_EQ(dlg->Edit(1014)->text(), "13000");
  ASSERT_TRUE(timeline->Bar().IsBeginSet());
  EXPECT_EQ(timeline->Bar().GetBegin(), 13000);
  Type(*dlg, 1014, "15000");
  Click(*dlg, 1015);
  Click(*dlg, 1013);
  // Without Shift the beginning point stays where the cursor is.
  Type(*dlg, 1014, "12000");
  Click(*dlg, 1015);
  Click(*dlg, 1013);
  EXPECT_EQ(timeline->Bar().GetBegin(), 12000);
  Type(*dlg, 1014, "12800");
  Click(*dlg, 1015);
  Click(*dlg, 1013);
  ASSERT_EQ(timeline->GetCount(), 4);

  const std::pair<int, int> expected[] = {
      {5000, 4000}, {8500, 8000}, {13000, 13000}, {12000, 10000}};
  std::vector<int> realStarts;
  for (const auto& [from, real] : expected) {
    const int row = RowWithStart(*dlg, from);
    ASSERT_GE(row, 0) << from;
    EXPECT_EQ(CellText(*dlg, 1005, row, 4), QString::number(real)) << from;
    realStarts.push_back(CellText(*dlg, 1005, row, 4).toInt());
  }

  Click(*dlg, 1021);
  ASSERT_EQ(dlg->Message(), "Finished copying selected parts");
  const std::string out = dlg->Edit(1042)->text().toStdString();
  ASSERT_TRUE(std::filesystem::exists(out));
  // The written clip, in sequence order (the order of marking): each part is a run of
  // consecutive source pictures, and it starts with the picture at the row's real start.
  const std::vector<probe::Frame> frames = probe::DecodeVideo(out);
  ASSERT_FALSE(frames.empty());
  std::vector<int> runStarts;
  for (size_t i = 0; i < frames.size(); ++i)
    if (i == 0 || frames[i].code != frames[i - 1].code + 1) runStarts.push_back(frames[i].code);
  std::vector<int> expectedCodes;
  for (int real : realStarts) expectedCodes.push_back(real / kFrameMs);
  EXPECT_EQ(runStarts, expectedCodes);
}

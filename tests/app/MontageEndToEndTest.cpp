// Video Montage from the user's side: open a clip, mark three sections, renumber them in the
// list, write the montage and check the new clip by decoding it.
#include <QApplication>
#include <QMouseEvent>
#include <QProgressBar>
#include <filesystem>
#include <fstream>

#include "CQmvSld.h"
#include "CXStatic.h"
#include "MainWindowFixture.h"
#include "MediaProbe.h"
#include "MontagePane.h"
#include "PaneDriver.h"
#include "QtEventLoop.h"
#include "TestDir.h"

namespace {

// Row of the list whose start column reads `from`.
int RowOf(CVantrelDlg& dlg, int from) {
  for (int r = 0; r < 8; ++r)
    if (CellText(dlg, 1005, r, 1) == QString::number(from)) return r;
  return -1;
}

}  // namespace

TEST_F(MainWindowTest, MontageOfThreeRenumberedSectionsEndToEnd) {
  testutil::TempDir dir;
  const std::string src = testutil::MakeClip(dir, "trip.wmv", SmallClip(20000));
  PickFunction(kFunctionMontage);
  Type(*dlg, 1025, QString::fromStdString(src));
  Click(*dlg, 1027);
  EXPECT_EQ(dlg->Static(1028)->GetText(), "00:00:20(20000 mili-Sec)");
  // The frame at 0 is on the preview screen.
  EXPECT_TRUE(dlg->Static(1007)->HasFrameImage());

  MarkSection(*dlg, 2000, 4000);
  MarkSection(*dlg, 8000, 9000);
  MarkSection(*dlg, 12000, 15000);
  auto* timeline = qobject_cast<CQmvSld*>(dlg->GetDlgItem(1002));
  ASSERT_EQ(timeline->GetCount(), 3);
  ASSERT_EQ(qobject_cast<CReportList*>(dlg->GetDlgItem(1005))->GetItemCount(), 3);

  // Renumber in the list: the last section first, then the first, then the middle one.
  const std::pair<int, const char*> renumber[] = {{12000, "1"}, {2000, "2"}, {8000, "3"}};
  for (const auto& [from, seq] : renumber) {
    const int row = RowOf(*dlg, from);
    ASSERT_GE(row, 0) << from;
    ClickCell(*dlg, 1005, row, 0);
    Type(*dlg, 1019, seq);
    Click(*dlg, 1020);
    EXPECT_EQ(dlg->Message(), "Sequence number updated.") << from;
    EXPECT_EQ(CellText(*dlg, 1005, row, 0), seq);
  }

  Click(*dlg, 1021);
  EXPECT_EQ(dlg->Message(), "Finished copying selected parts");
  EXPECT_EQ(dlg->Static(1023)->GetText(), "%100");
  const std::string out = dlg->Edit(1042)->text().toStdString();
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(dlg->Edit(1042)->toolTip().toStdString(), out);
  ASSERT_TRUE(std::filesystem::exists(out));
  EXPECT_NE(out.find("tripMoN"), std::string::npos);
  // The pane's commands are back after the job.
  EXPECT_TRUE(dlg->GetDlgItem(1021)->isEnabled());
  EXPECT_TRUE(dlg->GetDlgItem(1027)->isEnabled());

  // The new clip: 12000-15000, then 2000-4000, then 8000-9000, end to end.
  const probe::DecodeResult decoded = probe::DecodeAll(out);
  EXPECT_TRUE(decoded.ok);
  EXPECT_EQ(decoded.errors, 0);
  const std::vector<probe::Frame> frames = probe::DecodeVideo(out);
  ASSERT_FALSE(frames.empty());
  const int fps = 25;
  EXPECT_EQ(frames.front().code, 12000 * fps / 1000);
  const probe::Frame second = probe::FrameAt(out, 3000 + 500);
  // Each section starts where the engine reports the previous one ended: within a frame.
  EXPECT_NEAR(second.code, (2000 + 500) * fps / 1000, 1);
  const probe::Frame third = probe::FrameAt(out, 5000 + 500);
  EXPECT_NEAR(third.code, (8000 + 500) * fps / 1000, 1);
  // Sound and pictures in step: both streams end within one audio frame of 6 s.
  const probe::Clip clip = probe::ReadClip(out);
  int64_t videoEnd = 0, audioEnd = 0;
  for (const probe::Packet& p : clip.packets) {
    int64_t& end = p.video ? videoEnd : audioEnd;
    end = std::max(end, p.ptsMs + p.durationMs);
  }
  EXPECT_NEAR(videoEnd, 6000, 100);
  EXPECT_NEAR(audioEnd, 6000, 100);
}

TEST_F(MainWindowTest, MontageFailureLeavesNoClipAndNoName) {
  testutil::TempDir dir;
  const std::string src = testutil::MakeClip(dir, "a.wmv", SmallClip(20000));
  PickFunction(kFunctionMontage);
  Type(*dlg, 1025, QString::fromStdString(src));
  Click(*dlg, 1027);
  MarkSection(*dlg, 1000, 3000);
  // The output goes beside the path in the source edit: a folder that does not exist.
  Type(*dlg, 1025, QString::fromStdString(dir.File("gone/a.wmv")));
  Click(*dlg, 1021);
  EXPECT_TRUE(dlg->Message().startsWith("Failed to copy selected parts."));
  EXPECT_TRUE(dlg->Edit(1042)->text().isEmpty());
  EXPECT_EQ(testutil::CountFiles(dir.Path()), 1);
}

TEST_F(MainWindowTest, OpenOfAnUnreadableClipKeepsThePreviousSource) {
  testutil::TempDir dir;
  const std::string good = testutil::MakeClip(dir, "good.wmv", SmallClip(20000));
  const std::string bad = dir.File("bad.wmv");
  FILE* f = std::fopen(bad.c_str(), "w");
  std::fputs("not a clip at all", f);
  std::fclose(f);
  PickFunction(kFunctionMontage);
  Type(*dlg, 1025, QString::fromStdString(good));
  Click(*dlg, 1027);
  MarkSection(*dlg, 1000, 2000);
  Type(*dlg, 1025, QString::fromStdString(bad));
  Click(*dlg, 1027);
  EXPECT_EQ(dlg->Message(), "Cannot open the clip.");
  EXPECT_EQ(dlg->Static(1028)->GetText(), "00:00:20(20000 mili-Sec)");
  EXPECT_EQ(qobject_cast<CQmvSld*>(dlg->GetDlgItem(1002))->GetCount(), 1);
}

// A live encoder's clip declares no length: the montage measures it to its last sample, and
// cuts of it, or a merge of it with itself, keep every picture.
TEST_F(MainWindowTest, BroadcastClipsAreCutAndMergedWholly) {
  testutil::TempDir dir;
  clipgen::ClipSpec params = SmallClip(2000);
  params.broadcast = true;
  const std::string src = testutil::MakeClip(dir, "live.wmv", params);
  PickFunction(kFunctionMontage);
  Type(*dlg, 1025, QString::fromStdString(src));
  Click(*dlg, 1027);
  EXPECT_NE(dlg->Message(), "Cannot open the clip.");
  EXPECT_EQ(dlg->Static(1028)->GetText().left(8), "00:00:02");
  MarkSection(*dlg, 1000, 1800);
  MarkSection(*dlg, 0, 400);
  Click(*dlg, 1021);
  ASSERT_EQ(dlg->Message(), "Finished copying selected parts");
  const std::string cut = dlg->Edit(1042)->text().toStdString();
  std::vector<int> codes;
  for (const probe::Frame& f : probe::DecodeVideo(cut)) codes.push_back(f.code);
  std::vector<int> want;
  for (int i = 25; i < 45; ++i) want.push_back(i);
  for (int i = 0; i < 10; ++i) want.push_back(i);
  EXPECT_EQ(codes, want);

  PickFunction(kFunctionMerge);
  dlg->OnDropFiles({QString::fromStdString(src), QString::fromStdString(src)});
  Click(*dlg, 1034);
  ASSERT_EQ(dlg->Message(), "File merging finished.");
  codes.clear();
  for (const probe::Frame& f : probe::DecodeVideo(dlg->Edit(1042)->text().toStdString()))
    codes.push_back(f.code);
  want.clear();
  for (int copy = 0; copy < 2; ++copy)
    for (int i = 0; i < 50; ++i) want.push_back(i);
  EXPECT_EQ(codes, want);
}

namespace {

// The row the list highlights, -1 for none.
int HighlightedRow(CVantrelDlg& dlg) {
  auto* list = qobject_cast<CReportList*>(dlg.GetDlgItem(1005));
  const auto items = list->selectedItems();
  return items.size() == 1 ? list->indexOfTopLevelItem(items.front()) : -1;
}

// A mouse event on the timeline with the left button and Shift held.
void ShiftMouse(QWidget* w, QEvent::Type type, int x, int y) {
  const QPointF pt(x, y);
  const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
  const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
  QMouseEvent ev(type, pt, w->mapToGlobal(pt), button, held, Qt::ShiftModifier);
  QApplication::sendEvent(w, &ev);
}

}  // namespace

// The preview shows the picture of every cursor move, the highlight and Update Cell stay with
// the section the user dragged, and a new clip leaves nothing of the last one on the pane.
TEST_F(MainWindowTest, MontagePaneFollowsTheCursorAndItsSections) {
  testutil::TempDir dir;
  const std::string src = testutil::MakeClip(dir, "a.wmv", SmallClip(20000));
  const std::string bad = dir.File("bad.wmv");
  std::ofstream(bad) << "not a clip";
  PickFunction(kFunctionMontage);
  CXStatic* screen = dlg->Static(1007);
  screen->resize(320, 240);
  Type(*dlg, 1025, QString::fromStdString(bad));
  Click(*dlg, 1027);
  ASSERT_EQ(dlg->Message(), "Cannot open the clip.");
  Type(*dlg, 1025, QString::fromStdString(src));
  Click(*dlg, 1027);
  EXPECT_EQ(dlg->Message(), "");
  ASSERT_TRUE(testutil::RunUntil([&] { return !dlg->Montage()->KeyFrames().empty(); }, 20000));
  MarkSection(*dlg, 2000, 4000);
  MarkSection(*dlg, 8000, 10000);
  MarkSection(*dlg, 12000, 15000);
  auto* timeline = qobject_cast<CQmvSld*>(dlg->GetDlgItem(1002));
  ASSERT_EQ(RowOf(*dlg, 8000), 1);

  // A click on a number cell: the cursor and the picture at the section's middle.
  ClickCell(*dlg, 1005, 1, 0);
  EXPECT_EQ(dlg->Edit(1014)->text(), "9000");
  EXPECT_TRUE(testutil::RunUntil([&] { return ShownCode(screen) == 225; }, 10000))
      << ShownCode(screen);
  // A start cell shows its frame; Erase then drops the section and shows the cursor's picture.
  ClickCell(*dlg, 1005, 0, 2);
  EXPECT_TRUE(testutil::RunUntil([&] { return ShownCode(screen) == 100; }, 10000));
  Click(*dlg, 1011);
  ASSERT_EQ(timeline->GetCount(), 2);
  EXPECT_EQ(dlg->Edit(1014)->text(), "3000");
  EXPECT_TRUE(testutil::RunUntil([&] { return ShownCode(screen) == 75; }, 10000))
      << ShownCode(screen);

  // Shift drag of the first row's start edge to the key frame at 7000; the other section's row
  // stands below it.
  ASSERT_EQ(RowOf(*dlg, 8000), 0);
  ClickCell(*dlg, 1005, 0, 1);
  ASSERT_EQ(HighlightedRow(*dlg), 0);
  timeline->PlaceBar(0, 0, 1000, timeline->height());  // 20 ms a pixel
  const int y = timeline->height() / 2;
  const int x = timeline->Bar().XFromPos(8000) + 1;
  ShiftMouse(timeline, QEvent::MouseButtonPress, x, y);
  ShiftMouse(timeline, QEvent::MouseMove, x - 20, y);
  ShiftMouse(timeline, QEvent::MouseMove, x - 45, y);
  ShiftMouse(timeline, QEvent::MouseButtonRelease, x - 45, y);
  QCoreApplication::processEvents();
  const int dragged = RowOf(*dlg, 7000);
  ASSERT_GE(dragged, 0);
  EXPECT_EQ(HighlightedRow(*dlg), dragged);
  EXPECT_EQ(CellText(*dlg, 1005, dragged, 0), "2");
  Type(*dlg, 1019, "7500");
  Click(*dlg, 1020);
  EXPECT_EQ(dlg->Message(), "Block's parameter updated.");
  EXPECT_EQ(CellText(*dlg, 1005, dragged, 1), "7500");
  EXPECT_EQ(HighlightedRow(*dlg), dragged);
  bool found = false;
  for (int i = 0; i < timeline->GetCount(); ++i)
    if (timeline->GetPeriod(i)->nSeq == 2) {
      found = true;
      EXPECT_EQ(timeline->GetPeriod(i)->nFrom, 7500);
      EXPECT_EQ(timeline->GetPeriod(i)->nDur, 2500);
    } else {
      EXPECT_EQ(timeline->GetPeriod(i)->nFrom, 12000);
    }
  EXPECT_TRUE(found);

  // A montage leaves its percent; another clip clears it, the Goto value and the message line,
  // and says that the two sections are kept for their clip.
  Click(*dlg, 1021);
  ASSERT_EQ(dlg->Static(1023)->GetText(), "%100");
  Type(*dlg, 1025, QString::fromStdString(testutil::MakeClip(dir, "b.wmv", SmallClip(3000))));
  Click(*dlg, 1027);
  EXPECT_EQ(dlg->Message(), "2 sections of the previous clip kept.");
  EXPECT_EQ(dlg->Static(1023)->GetText(), "");
  EXPECT_EQ(dlg->Edit(1014)->text(), "");
  EXPECT_EQ(timeline->GetCount(), 0);
  // Back to the first clip: its sections come back.
  Type(*dlg, 1025, QString::fromStdString(src));
  Click(*dlg, 1027);
  EXPECT_EQ(timeline->GetCount(), 2);
}

// The panes' wiring in the main window where a user's sequence of actions once went wrong: marks
// of an earlier clip, a preview report that arrives late, a second job started from inside the
// first one's message dispatch.
#include <QCoreApplication>
#include <filesystem>

#include "CQmvSld.h"
#include "CQmvply.h"
#include "CRoundButton.h"
#include "CXStatic.h"
#include "MainWindowFixture.h"
#include "PaneDriver.h"
#include "TestDir.h"

namespace {

int FilesNamed(const std::filesystem::path& dir, const std::string& part) {
  int n = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    if (e.path().filename().string().find(part) != std::string::npos) ++n;
  return n;
}

}  // namespace

TEST_F(MainWindowTest, OpeningAnotherClipDropsTheMarksOfTheFirst) {
  testutil::TempDir dir;
  const std::string longer = testutil::MakeClip(dir, "long.wmv", SmallClip(5000));
  const std::string shorter = testutil::MakeClip(dir, "short.wmv", SmallClip(3000));
  auto* timeline = qobject_cast<CQmvSld*>(dlg->GetDlgItem(1002));
  dlg->OpenMontageClip(QString::fromStdString(longer));
  MarkSection(*dlg, 500, 1000);
  // A beginning point near the end of the long clip, then the short clip.
  Type(*dlg, 1014, "4500");
  Click(*dlg, 1015);
  Click(*dlg, 1013);
  ClickCell(*dlg, 1005, 0, 1);  // the section selected
  ASSERT_TRUE(timeline->Bar().IsBeginSet());
  Type(*dlg, 1025, QString::fromStdString(shorter));
  Click(*dlg, 1027);
  EXPECT_EQ(timeline->Bar().GetMax(), 3000);
  EXPECT_FALSE(timeline->Bar().IsBeginSet());
  EXPECT_EQ(timeline->Bar().GetSelPeriod().nDur, 0);

  // An end point at 0 starts a new section instead of closing one that ends at 4500.
  Type(*dlg, 1014, "0");
  Click(*dlg, 1015);
  Click(*dlg, 1013);
  EXPECT_EQ(timeline->GetCount(), 0);
  // The same span as the old selection is not erased without being selected.
  MarkSection(*dlg, 500, 1000);
  ASSERT_EQ(timeline->GetCount(), 1);
  Click(*dlg, 1011);
  EXPECT_EQ(timeline->GetCount(), 1);
}

TEST_F(MainWindowTest, AnEndReportedBeforeStopDoesNotStopTheNextPreview) {
  testutil::TempDir dir;
  const std::string clip = testutil::MakeClip(dir, "a.wmv", SmallClip(4000));
  PickFunction(kFunctionMerge);
  dlg->OnDropFiles({QString::fromStdString(clip)});
  ClickCell(*dlg, 1035, 0, 0);
  Click(*dlg, 1031);
  ASSERT_TRUE(dlg->PreviewPlayer()->IsPlaying());
  // The clip's end is still queued when the user stops and plays again.
  dlg->MsgWindow()->PostMsg(WM_PREVIEW_NOTIFY, 0, 0);
  Click(*dlg, 1031);
  Click(*dlg, 1031);
  QCoreApplication::processEvents();
  EXPECT_TRUE(dlg->IsPreviewPlaying());
  EXPECT_TRUE(dlg->PreviewPlayer()->IsPlaying());
  EXPECT_EQ(dlg->Button(1031)->text().toStdString(), "Stop");
  Click(*dlg, 1031);
  EXPECT_FALSE(dlg->IsPreviewPlaying());
}

TEST_F(MainWindowTest, AMergeClickedDuringAMontageWaitsForIt) {
  testutil::TempDir dir;
  const std::string a = testutil::MakeClip(dir, "a.wmv", SmallClip(3000));
  const std::string b = testutil::MakeClip(dir, "b.wmv", SmallClip(3000));
  PickFunction(kFunctionMerge);
  dlg->OnDropFiles({QString::fromStdString(a), QString::fromStdString(b)});
  dlg->OpenMontageClip(QString::fromStdString(a));
  MarkSection(*dlg, 500, 2500);
  // The user switches to Clip Merge and clicks Merge while the montage runs.
  auto queueClick = [](QWidget* w, QPoint at) {
    const QPoint g = w->mapToGlobal(at);
    QCoreApplication::postEvent(
        w, new QMouseEvent(QEvent::MouseButtonPress, at, g, Qt::LeftButton, Qt::LeftButton, {}));
    QCoreApplication::postEvent(
        w, new QMouseEvent(QEvent::MouseButtonRelease, at, g, Qt::LeftButton, Qt::NoButton, {}));
  };
  auto* selector = qobject_cast<CQmvSel*>(dlg->GetDlgItem(1016));
  queueClick(selector, selector->Model().ItemRect(0, selector->width()).center());
  queueClick(dlg->GetDlgItem(1034), dlg->GetDlgItem(1034)->rect().center());
  Click(*dlg, 1021);
  QCoreApplication::processEvents();
  EXPECT_EQ(dlg->CurrentFunction(), kFunctionMerge);
  EXPECT_EQ(FilesNamed(dir.Path(), "MoN"), 1);
  EXPECT_EQ(FilesNamed(dir.Path(), "Merged"), 0);
  EXPECT_EQ(dlg->Static(1023)->GetText().toStdString(), "%100");
  // Afterwards Merge works as ever.
  Click(*dlg, 1034);
  EXPECT_EQ(dlg->Message().toStdString(), "File merging finished.");
  EXPECT_EQ(FilesNamed(dir.Path(), "Merged"), 1);
}

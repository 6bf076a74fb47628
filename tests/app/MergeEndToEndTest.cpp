// Clip Merge from the user's side: add three clips (one dropped), reorder them, merge and check
// the new clip by decoding it.
#include <QProgressBar>
#include <filesystem>

#include "CQmvply.h"
#include "CRoundButton.h"
#include "CXStatic.h"
#include "MainWindowFixture.h"
#include "MediaProbe.h"
#include "PaneDriver.h"
#include "TestDir.h"

TEST_F(MainWindowTest, MergeOfThreeReorderedClipsEndToEnd) {
  testutil::TempDir dir;
  const std::string a = testutil::MakeClip(dir, "a.wmv", SmallClip(2000));
  const std::string b = testutil::MakeClip(dir, "b.wmv", SmallClip(3000));
  const std::string c = testutil::MakeClip(dir, "c.wmv", SmallClip(1600));
  PickFunction(kFunctionMerge);
  int picks = 0;
  dlg->pickClipFile = [&] { return QString::fromStdString(picks++ == 0 ? a : b); };
  Click(*dlg, 1029);
  Click(*dlg, 1029);
  dlg->OnDropFiles({QString::fromStdString(c)});
  ASSERT_EQ(qobject_cast<CReportList*>(dlg->GetDlgItem(1035))->GetItemCount(), 3);
  EXPECT_EQ(dlg->Static(1039)->GetText(), "00:00:06");
  EXPECT_EQ(CellText(*dlg, 1035, 2, 5), QString::fromStdString(c));

  // c first: Seq# 1 for c, then 2 for a, 3 for b; sorted on Seq#.
  const std::pair<int, const char*> seqs[] = {{2, "1"}, {0, "2"}, {1, "3"}};
  for (const auto& [row, seq] : seqs) {
    ClickCell(*dlg, 1035, row, 1);
    EXPECT_EQ(dlg->Message(), "    " + CellText(*dlg, 1035, row, 5));
    Type(*dlg, 1032, seq);
    Click(*dlg, 1033);
    EXPECT_EQ(dlg->Message(), "The sequence number updated.");
  }
  ClickColumnTitle(*dlg, 1035, 0);
  EXPECT_EQ(CellText(*dlg, 1035, 0, 5), QString::fromStdString(c));
  EXPECT_EQ(CellText(*dlg, 1035, 2, 5), QString::fromStdString(b));

  Click(*dlg, 1034);
  EXPECT_EQ(dlg->Message(), "File merging finished.");
  EXPECT_EQ(dlg->Static(1037)->GetText(), "%100");
  const std::string out = dlg->Edit(1042)->text().toStdString();
  ASSERT_TRUE(std::filesystem::exists(out)) << out;
  EXPECT_NE(out.find("cMerged"), std::string::npos);
  EXPECT_TRUE(dlg->GetDlgItem(1034)->isEnabled());

  const probe::DecodeResult decoded = probe::DecodeAll(out);
  EXPECT_EQ(decoded.errors, 0);
  const std::vector<probe::Frame> frames = probe::DecodeVideo(out);
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(frames.front().code, 0);
  // c is 1.6 s, a 2 s, b 3 s: frame codes restart at each clip's start (within a frame).
  EXPECT_NEAR(probe::FrameAt(out, 1600 + 1000).code, 25, 1);
  EXPECT_NEAR(probe::FrameAt(out, 3600 + 2000).code, 50, 1);
  EXPECT_TRUE(probe::HasSimpleIndex(out));
  const probe::Clip clip = probe::ReadClip(out);
  EXPECT_NEAR(clip.durationMs, 6600, 150);
}

TEST_F(MainWindowTest, MergeRefusesClipsThatDiffer) {
  testutil::TempDir dir;
  clipgen::ClipSpec pal = SmallClip(1000);
  clipgen::ClipSpec ntsc = SmallClip(1000);
  ntsc.fpsNum = 30000;
  ntsc.fpsDen = 1001;
  PickFunction(kFunctionMerge);
  dlg->OnDropFiles({QString::fromStdString(testutil::MakeClip(dir, "n.wmv", ntsc)),
                    QString::fromStdString(testutil::MakeClip(dir, "p.wmv", pal))});
  Click(*dlg, 1034);
  EXPECT_EQ(dlg->Message(), "Video clips cannot be merged because of different attribute.");
  EXPECT_TRUE(dlg->Edit(1042)->text().isEmpty());
  EXPECT_EQ(testutil::CountFiles(dir.Path()), 2);
}

TEST_F(MainWindowTest, PreviewPlaysWithPositionReportsAndMergeStopsIt) {
  testutil::TempDir dir;
  const std::string a = testutil::MakeClip(dir, "a.wmv", SmallClip(3000));
  PickFunction(kFunctionMerge);
  dlg->OnDropFiles({QString::fromStdString(a), QString::fromStdString(a)});
  Click(*dlg, 1031);
  EXPECT_EQ(dlg->Message(), "No video clip selected.");
  ClickCell(*dlg, 1035, 0, 0);
  Click(*dlg, 1031);
  EXPECT_TRUE(dlg->IsPreviewPlaying());
  EXPECT_EQ(dlg->Button(1031)->text(), "Stop");
  EXPECT_TRUE(dlg->PreviewPlayer()->IsPlaying());
  // Position reports move the bar.
  auto* bar = qobject_cast<QProgressBar*>(dlg->GetDlgItem(1036));
  QElapsedTimer t;
  t.start();
  while (bar->value() == 0 && t.elapsed() < 5000) QTest::qWait(50);
  EXPECT_GT(bar->value(), 0);
  // Merge stops the preview first.
  Click(*dlg, 1034);
  EXPECT_FALSE(dlg->IsPreviewPlaying());
  EXPECT_EQ(dlg->Button(1031)->text(), "Play");
  EXPECT_FALSE(dlg->PreviewPlayer()->IsPlaying());
  EXPECT_EQ(dlg->Message(), "File merging finished.");
}

TEST_F(MainWindowTest, PlayOfAClipThePlayerCannotTakeSaysSoAndStaysStopped) {
  testutil::TempDir dir;
  const std::string fake = dir.File("note.wmv");
  FILE* f = std::fopen(fake.c_str(), "w");
  std::fputs("just text", f);
  std::fclose(f);
  PickFunction(kFunctionMerge);
  dlg->OnDropFiles({QString::fromStdString(fake)});
  ClickCell(*dlg, 1035, 0, 0);
  Click(*dlg, 1031);
  EXPECT_EQ(dlg->Message(), "Cannot play the selected clip.");
  EXPECT_FALSE(dlg->IsPreviewPlaying());
  EXPECT_EQ(dlg->Button(1031)->text(), "Play");
}

TEST_F(MainWindowTest, ListClicksAfterTearDownReachNothing) {
  testutil::TempDir dir;
  PickFunction(kFunctionMerge);
  dlg->OnDropFiles({QString::fromStdString(testutil::MakeClip(dir, "a.wmv", SmallClip(1000)))});
  dlg->DestroyWindow();
  // The panes are gone; their lists are still on screen until the window object goes.
  ClickCell(*dlg, 1035, 0, 0);
  ClickColumnTitle(*dlg, 1035, 0);
  ClickCell(*dlg, 1005, 0, 0);
  dlg->GetDlgItem(1035)->grab();
  SUCCEED();
}

// A clip as Windows Media encoders write it declares its streams' bit rates; its montage must
// declare the same, or the clip list shows another bit rate and the merge refuses the pair.
TEST_F(MainWindowTest, MontageOfAnEncoderClipMergesWithItsSource) {
  testutil::TempDir dir;
  clipgen::ClipSpec params = SmallClip(4000);
  params.encoderHeader = true;
  params.videoBitRate = 100000;
  const std::string src = testutil::MakeClip(dir, "enc.wmv", params);
  PickFunction(kFunctionMontage);
  Type(*dlg, 1025, QString::fromStdString(src));
  Click(*dlg, 1027);
  MarkSection(*dlg, 1000, 2000);
  Click(*dlg, 1021);
  ASSERT_EQ(dlg->Message(), "Finished copying selected parts");
  const std::string cut = dlg->Edit(1042)->text().toStdString();
  ASSERT_TRUE(std::filesystem::exists(cut));

  PickFunction(kFunctionMerge);
  dlg->OnDropFiles({QString::fromStdString(cut), QString::fromStdString(src)});
  ASSERT_EQ(qobject_cast<CReportList*>(dlg->GetDlgItem(1035))->GetItemCount(), 2);
  // The clip list shows the same figures for both.
  EXPECT_EQ(CellText(*dlg, 1035, 0, 1), "100000bps");
  EXPECT_EQ(CellText(*dlg, 1035, 1, 1), "100000bps");
  EXPECT_EQ(CellText(*dlg, 1035, 0, 2), CellText(*dlg, 1035, 1, 2));
  Click(*dlg, 1034);
  ASSERT_EQ(dlg->Message(), "File merging finished.");
  const std::string out = dlg->Edit(1042)->text().toStdString();

  // The source's 100 frames, then the section's 25, one after another.
  const std::vector<probe::Frame> frames = probe::DecodeVideo(out);
  ASSERT_EQ(frames.size(), 125u);
  for (size_t i = 0; i < frames.size(); ++i)
    ASSERT_EQ(frames[i].code, i < 100 ? static_cast<int>(i) : static_cast<int>(i) - 100 + 25) << i;
  const probe::Clip source = probe::ReadClip(src);
  const probe::Clip merged = probe::ReadClip(out);
  EXPECT_EQ(merged.bitRates, source.bitRates);
  EXPECT_EQ(merged.bitRates.front(), 100000);
  EXPECT_EQ(merged.languages, source.languages);
  // The source's title is no part of its stream profile.
  EXPECT_EQ(source.title, params.title);
  EXPECT_EQ(merged.title, "");
}

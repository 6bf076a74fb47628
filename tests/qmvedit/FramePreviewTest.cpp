// Frame preview: the picture drawn for a position is the frame at that position, fitted into
// the display window.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>

#include "CQmvedit.h"
#include "ClipGen.h"
#include "EditPreviewState.h"
#include "MediaProbe.h"
#include "RecordingDisplay.h"
#include "TestDir.h"

namespace {

using testutil::MakeClip;
using testutil::RecordingDisplay;
using testutil::TempDir;

TEST(FramePreview, PictureFitsTheWindow) {
  auto check = [](int vw, int vh, int ww, int wh, qmvedit::FitRect want) {
    const qmvedit::FitRect r = qmvedit::FitPicture(vw, vh, ww, wh);
    EXPECT_EQ(r.x, want.x);
    EXPECT_EQ(r.y, want.y);
    EXPECT_EQ(r.width, want.width);
    EXPECT_EQ(r.height, want.height);
  };
  check(400, 200, 300, 300, {0, 75, 300, 150});
  check(400, 200, 800, 300, {100, 0, 600, 300});
  check(320, 240, 333, 100, {100, 0, 133, 100});  // truncated toward zero
}

TEST(FramePreview, HeaderCopySizes) {
  BITMAPINFOHEADER masks;
  masks.biCompression = BI_BITFIELDS;
  masks.biClrUsed = 0;
  EXPECT_EQ(qmvedit::HeaderCopySize(&masks), 52u);
  BITMAPINFOHEADER palette;
  palette.biBitCount = 8;
  palette.biClrUsed = 256;
  EXPECT_EQ(qmvedit::HeaderCopySize(&palette), 40u + 1024u);

  // The copy takes the palette along.
  std::vector<uint8_t> withPalette(40 + 1024);
  std::memcpy(withPalette.data(), &palette, 40);
  for (size_t i = 40; i < withPalette.size(); ++i) withPalette[i] = static_cast<uint8_t>(i);
  CQmvedit edit;
  BITMAPINFOHEADER* copy = nullptr;
  ASSERT_EQ(edit.CopyBIH(&copy, reinterpret_cast<BITMAPINFOHEADER*>(withPalette.data())), 0);
  EXPECT_EQ(std::memcmp(copy, withPalette.data(), withPalette.size()), 0);
  std::free(copy);
}

TEST(FramePreview, ShowsTheFrameAtThePosition) {
  TempDir dir;
  clipgen::ClipSpec params;
  params.durationMs = 10000;
  params.width = 320;
  params.height = 240;
  params.keyIntervalMs = 4000;  // positions far from key frames
  const std::string clip = MakeClip(dir, "clip.wmv", params);
  RecordingDisplay display(400, 400);
  CQmvedit edit;
  ASSERT_EQ(edit.Init(), S_OK);
  edit.SetDispWnd(&display);
  // Nothing to show before a source is open.
  EXPECT_EQ(edit.GetVideoOut(), 0);
  edit.FindPosPic(0);
  EXPECT_EQ(display.draws, 0);

  ASSERT_EQ(edit.SetSrcFile(clip.c_str()), S_OK);
  ASSERT_EQ(edit.GetVideoOut(), 0);
  EXPECT_EQ(edit.GetVideoWidth(), 320);
  EXPECT_EQ(edit.GetVideoHeight(), 240);
  edit.FindPosPic(0);
  ASSERT_EQ(display.draws, 1);
  EXPECT_EQ(display.dest.x, 0);
  EXPECT_EQ(display.dest.y, 50);
  EXPECT_EQ(display.dest.width, 400);
  EXPECT_EQ(display.dest.height, 300);
  EXPECT_EQ(clipgen::ReadFrameCode(display.image.data(), 320, 240, 320 * 4), 0);

  std::mt19937 rng(7);
  std::uniform_int_distribution<int> pos(0, 9950);
  std::vector<int> positions = {1, 39, 40, 41, 3999, 4000, 4001, 9960};
  for (int i = 0; i < 6; ++i) positions.push_back(pos(rng));
  for (int p : positions) {
    SCOPED_TRACE(p);
    const int before = display.draws;
    edit.FindPosPic(p);
    ASSERT_EQ(display.draws, before + 1);
    const int expected = (p + 39) / 40;  // first frame at or after p (40 ms frames)
    EXPECT_EQ(clipgen::ReadFrameCode(display.image.data(), 320, 240, 320 * 4), expected);
    // The same frame decoded independently, pixel for pixel.
    const probe::Frame ref = probe::FrameAt(clip, p);
    ASSERT_EQ(ref.code, expected);
    ASSERT_EQ(ref.bgra.size(), display.image.size());
    long diff = 0;
    for (size_t k = 0; k < ref.bgra.size(); k += 4)
      for (int c = 0; c < 3; ++c) diff += std::abs(ref.bgra[k + c] - display.image[k + c]);
    EXPECT_LE(static_cast<double>(diff) / (ref.bgra.size() / 4 * 3), 1.0);
  }

  // Past the end nothing is drawn and the previous picture stays.
  const int before = display.draws;
  edit.FindPosPic(20000);
  EXPECT_EQ(display.draws, before);

  // After a copy job the video is switched back to pictures.
  ASSERT_EQ(edit.SetDesFile(dir.File("out.wmv").c_str()), S_OK);
  ASSERT_EQ(edit.CopyProfile(), S_OK);
  ASSERT_EQ(edit.SetStream(1), S_OK);
  ASSERT_EQ(edit.BeginWrite(), S_OK);
  int32_t len = 1000;
  ASSERT_EQ(edit.CopyPart(0, 2000, &len, 0), S_OK);
  ASSERT_EQ(edit.EndWrite(), S_OK);
  edit.FindPosPic(5000);
  ASSERT_EQ(display.draws, before + 1);
  EXPECT_EQ(clipgen::ReadFrameCode(display.image.data(), 320, 240, 320 * 4), 125);
  EXPECT_EQ(edit.Exit(), 0);
}

// Clips that are cut, unreadable or without pictures draw nothing and never crash.
TEST(FramePreview, NothingToShow) {
  TempDir dir;
  clipgen::ClipSpec audio;
  audio.video = false;
  const std::string audioOnly = MakeClip(dir, "audio.wmv", audio);
  clipgen::ClipSpec params;
  params.durationMs = 3000;
  const std::string full = MakeClip(dir, "full.wmv", params);
  const std::string cut = dir.File("cut.wmv");
  std::filesystem::copy_file(full, cut);
  std::filesystem::resize_file(cut, std::filesystem::file_size(full) / 2);

  RecordingDisplay display(100, 100);
  CQmvedit edit;
  ASSERT_EQ(edit.Init(), S_OK);
  edit.SetDispWnd(&display);
  ASSERT_EQ(edit.SetSrcFile(audioOnly.c_str()), S_OK);
  EXPECT_EQ(edit.GetVideoOut(), E_FAIL);
  edit.FindPosPic(500);
  EXPECT_EQ(display.draws, 0);

  EXPECT_LT(edit.SetSrcFile(dir.File("missing.wmv").c_str()), 0);
  EXPECT_EQ(edit.GetVideoOut(), 0);
  edit.FindPosPic(0);
  EXPECT_EQ(display.draws, 0);

  ASSERT_EQ(edit.SetSrcFile(cut.c_str()), S_OK);
  ASSERT_EQ(edit.GetVideoOut(), 0);
  edit.FindPosPic(500);
  EXPECT_EQ(display.draws, 1);
  edit.FindPosPic(2900);  // beyond what is left of the clip
  EXPECT_EQ(display.draws, 1);
  edit.FindPosPic(-5);
  EXPECT_EQ(display.draws, 1);
  edit.Exit();
}

}  // namespace

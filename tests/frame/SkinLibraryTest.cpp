// The skin library as the program binds it: from the install folder, by name.
#include <gtest/gtest.h>

#include <QImage>
#include <set>
#include <vector>

#include "ClipFile.h"
#include "SkinModule.h"

namespace {

class SkinLibrary : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(skin.LoadFromInstallFolder()) << InstallFolder(); }
  SkinModule skin;
};

TEST_F(SkinLibrary, ExportsEveryFunctionByName) {
  for (const char* name :
       {kLoadWinShape, kRoundRectShape, kGetUiInfo, kLoadCapBk, kLoadNonCliBk, kLoadCliBk,
        kBorderPix, kBorderClr, kGetBmpId, kGetButId, kLoadSkinBitmap})
    EXPECT_NE(skin.Get<void*>(name), nullptr) << name;
  EXPECT_EQ(skin.Get<void*>("NoSuchFunction"), nullptr);
}

TEST_F(SkinLibrary, MetricsLeaveRoomForTheTitleButtons) {
  int t = -1, f = -1, k = -1, reserved = -1;
  skin.Get<GetUiInfoFn>(kGetUiInfo)(&t, &f, &k, &reserved);
  // Title buttons are 16 pixels high at window row 5; the right pane starts at row 22.
  EXPECT_GE(t, 21);
  EXPECT_LE(t, 22);
  EXPECT_GT(f, 0);
  EXPECT_LE(f, 5);  // the logo picture starts at window x 6
  EXPECT_GT(k, 0);
  // Presets survive for a caller that passes null.
  skin.Get<GetUiInfoFn>(kGetUiInfo)(nullptr, nullptr, nullptr, nullptr);
}

TEST_F(SkinLibrary, PatternsMatchTheMetricsAndTheClientColour) {
  int t = 0, f = 0, k = 0, reserved = 0;
  skin.Get<GetUiInfoFn>(kGetUiInfo)(&t, &f, &k, &reserved);
  const QImage caption = skin.Bitmap(skin.Get<LoadCapBkFn>(kLoadCapBk)());
  ASSERT_FALSE(caption.isNull());
  EXPECT_EQ(caption.height(), t);  // one tile fills the band without a seam
  EXPECT_FALSE(skin.Bitmap(skin.Get<LoadNonCliBkFn>(kLoadNonCliBk)()).isNull());
  const QImage client = skin.Bitmap(skin.Get<LoadCliBkFn>(kLoadCliBk)());
  ASSERT_FALSE(client.isNull());
  for (int y = 0; y < client.height(); ++y)
    for (int x = 0; x < client.width(); ++x)
      ASSERT_EQ(QColor(client.pixel(x, y)), QColor(255, 253, 234)) << x << "," << y;
}

TEST_F(SkinLibrary, PicturesHaveTheirControlsSizes) {
  auto bmp = skin.Get<GetBmpIdFn>(kGetBmpId);
  EXPECT_EQ(skin.Bitmap(bmp(1)).size(), QSize(124, 50));
  EXPECT_EQ(skin.Bitmap(bmp(2)).size(), QSize(468, 40));
  EXPECT_EQ(bmp(0), 0);
  EXPECT_EQ(bmp(3), 0);
  EXPECT_TRUE(skin.Bitmap(0).isNull());
  EXPECT_TRUE(skin.Bitmap(99999).isNull());
}

TEST_F(SkinLibrary, TitleButtonsHaveFiveDistinctStates) {
  auto but = skin.Get<GetButIdFn>(kGetButId);
  std::set<int> ids;
  for (int kind = 0; kind < 4; ++kind) {
    std::vector<QImage> states;
    for (int state = 0; state < 5; ++state) {
      const int id = but(kind, state) & 0xFFFF;
      ids.insert(id);
      const QImage img = skin.Bitmap(id);
      ASSERT_EQ(img.size(), QSize(16, 16)) << kind << "/" << state;
      states.push_back(img);
    }
    // Pressed, hover and disabled each look different from normal.
    for (int state : {0, 3, 4}) EXPECT_NE(states[state], states[1]) << kind << "/" << state;
  }
  EXPECT_EQ(ids.size(), 20u);
  EXPECT_EQ(but(4, 1), 0);
  EXPECT_EQ(but(0, 5), 0);
  EXPECT_EQ(but(-1, 0), 0);
}

TEST_F(SkinLibrary, OutlineFillsOnlyTheRoomGiven) {
  auto shape = skin.Get<LoadWinShapeFn>(kLoadWinShape);
  int n = 0;
  shape(nullptr, &n);
  ASSERT_GE(n, 3);
  std::vector<SkinPoint> pts(n + 1, SkinPoint{-7, -7});
  int got = n;
  shape(pts.data(), &got);
  EXPECT_EQ(got, n);
  EXPECT_EQ(pts[n].x, -7);  // the extra slot stays untouched
  int maxX = 0, maxY = 0;
  for (int i = 0; i < n; ++i) {
    maxX = std::max(maxX, pts[i].x);
    maxY = std::max(maxY, pts[i].y);
  }
  EXPECT_EQ(maxX, 480);  // drawn for the main window
  EXPECT_EQ(maxY, 343);

  // A caller with less room gets no more than it asked for.
  std::vector<SkinPoint> few(3, SkinPoint{-7, -7});
  got = 2;
  shape(few.data(), &got);
  EXPECT_EQ(got, 2);
  EXPECT_EQ(few[2].x, -7);
}

TEST_F(SkinLibrary, BitmapCopiesOutliveTheLibrary) {
  QImage logo = skin.Bitmap(skin.Get<GetBmpIdFn>(kGetBmpId)(1));
  const QRgb before = logo.pixel(60, 25);
  skin.Free();
  EXPECT_FALSE(skin.Loaded());
  EXPECT_EQ(skin.Get<void*>(kGetUiInfo), nullptr);
  EXPECT_EQ(logo.pixel(60, 25), before);
  // Loading again gives the same pictures.
  ASSERT_TRUE(skin.LoadFromInstallFolder());
  EXPECT_EQ(skin.Bitmap(skin.Get<GetBmpIdFn>(kGetBmpId)(1)), logo);
}

TEST(SkinModuleLoad, MissingLibraryBindsNothing) {
  SkinModule skin;
  EXPECT_FALSE(skin.Load("/nonexistent/folder"));
  EXPECT_FALSE(skin.Loaded());
  EXPECT_EQ(skin.Get<GetUiInfoFn>(kGetUiInfo), nullptr);
  EXPECT_TRUE(skin.Bitmap(101).isNull());
}

}  // namespace

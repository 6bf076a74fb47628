// The skin library: window outline, frame metrics and colours, and the bitmaps of the skinned
// windows, all under plain C names that the program binds at run time.
#include <QGuiApplication>
#include <QImage>
#include <cmath>
#include <map>
#include <mutex>
#include <numbers>
#include <type_traits>
#include <vector>

#include "SkinApi.h"
#include "SkinArt.h"

#define SKIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr SkinColor Rgb(int r, int g, int b) {
  return static_cast<SkinColor>(r | (g << 8) | (b << 16));
}

// Outline of the main window: rounded top corners, softer bottom ones.
std::vector<SkinPoint> Outline() {
  constexpr int kTop = 9, kBottom = 5, kSteps = 6;
  const int w = skinart::kMainWidth, h = skinart::kMainHeight;
  std::vector<SkinPoint> pts;
  // One quarter arc from angle a0 to a0 + 90 degrees around (cx, cy).
  auto arc = [&pts](double cx, double cy, double r, double a0) {
    for (int i = 0; i <= kSteps; ++i) {
      const double a = (a0 + 90.0 * i / kSteps) * std::numbers::pi / 180.0;
      pts.push_back({static_cast<int32_t>(std::lround(cx + r * std::cos(a))),
                     static_cast<int32_t>(std::lround(cy + r * std::sin(a)))});
    }
  };
  // Clockwise in window coordinates (y down), corners on the window's outer pixel edges.
  arc(kTop, kTop, kTop, 180);
  arc(w - kTop, kTop, kTop, 270);
  arc(w - kBottom, h - kBottom, kBottom, 0);
  arc(kBottom, h - kBottom, kBottom, 90);
  return pts;
}

// Pictures are painted once, on first use, and copies handed out (they share the pixels).
QImage Make(int id) {
  using namespace skinart;
  switch (id) {
    case kIdCaption:
      return CaptionPattern();
    case kIdFrame:
      return FramePattern();
    case kIdClient:
      return ClientPattern();
    case kIdLogo:
      return Logo();
    case kIdStrip:
      return BottomStrip();
    default:
      break;
  }
  const int rel = id - kIdButtonBase;
  if (rel >= 0 && rel < 40 && rel % 10 < 5) return TitleButton(rel / 10, rel % 10);
  return {};
}

}  // namespace

SKIN_EXPORT void LoadWinShape(SkinPoint* points, int* count) {
  if (count == nullptr) return;
  static const std::vector<SkinPoint> outline = Outline();
  const int n = static_cast<int>(outline.size());
  if (points == nullptr) {
    *count = n;
    return;
  }
  const int fill = std::clamp(*count, 0, n);
  for (int i = 0; i < fill; ++i) points[i] = outline[i];
  *count = fill;
}

SKIN_EXPORT void RoundRectShape(SkinRect* rect, int* ellipseWidth, int* ellipseHeight) {
  if (rect != nullptr) *rect = {0, 0, skinart::kMainWidth, skinart::kMainHeight};
  if (ellipseWidth != nullptr) *ellipseWidth = 14;
  if (ellipseHeight != nullptr) *ellipseHeight = 14;
}

SKIN_EXPORT void GetUiInfo(int* captionHeight, int* borderWidth, int* gripSize, int* reserved) {
  if (captionHeight != nullptr) *captionHeight = skinart::kCaptionHeight;
  if (borderWidth != nullptr) *borderWidth = skinart::kBorderWidth;
  if (gripSize != nullptr) *gripSize = skinart::kGripSize;
  if (reserved != nullptr) *reserved = 0;
}

SKIN_EXPORT int LoadCapBk() {
  return skinart::kIdCaption;
}

SKIN_EXPORT int LoadNonCliBk() {
  return skinart::kIdFrame;
}

SKIN_EXPORT int LoadCliBk() {
  return skinart::kIdClient;
}

SKIN_EXPORT void BorderPix(int* w1, int* w2, int* w3, int* w4) {
  if (w1 != nullptr) *w1 = 1;
  if (w2 != nullptr) *w2 = 1;
  if (w3 != nullptr) *w3 = 1;
  if (w4 != nullptr) *w4 = 1;
}

SKIN_EXPORT void BorderClr(SkinColor* c1, SkinColor* c2, SkinColor* c3, SkinColor* c4) {
  // Outer edge: light teal top/left, near black bottom/right; the client sits sunken in the
  // frame: dark along its top and left, a light lip along its bottom and right.
  if (c1 != nullptr) *c1 = Rgb(0x03, 0x17, 0x1C);
  if (c2 != nullptr) *c2 = Rgb(0x5F, 0x9F, 0xAE);
  if (c3 != nullptr) *c3 = Rgb(0x08, 0x27, 0x30);
  if (c4 != nullptr) *c4 = Rgb(0x3C, 0x7A, 0x88);
}

SKIN_EXPORT int GetBmpId(int index) {
  switch (index) {
    case 1:
      return skinart::kIdLogo;
    case 2:
      return skinart::kIdStrip;
    default:
      return 0;
  }
}

SKIN_EXPORT int GetButId(int button, int state) {
  if (button < 0 || button > 3 || state < 0 || state > 4) return 0;
  return skinart::kIdButtonBase + button * 10 + state;
}

SKIN_EXPORT int LoadSkinBitmap(int id, QImage* image) {
  // Painting text needs the application's font database.
  if (image == nullptr || qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr)
    return 0;
  static std::mutex lock;
  static std::map<int, QImage> made;
  std::lock_guard guard(lock);
  auto it = made.find(id);
  if (it == made.end()) {
    QImage img = Make(id);
    if (img.isNull()) return 0;
    it = made.emplace(id, std::move(img)).first;
  }
  *image = it->second;
  return 1;
}

// The exports keep the types the program binds them as.
static_assert(std::is_same_v<decltype(&LoadWinShape), LoadWinShapeFn>);
static_assert(std::is_same_v<decltype(&RoundRectShape), RoundRectShapeFn>);
static_assert(std::is_same_v<decltype(&GetUiInfo), GetUiInfoFn>);
static_assert(std::is_same_v<decltype(&LoadCapBk), LoadCapBkFn>);
static_assert(std::is_same_v<decltype(&LoadNonCliBk), LoadNonCliBkFn>);
static_assert(std::is_same_v<decltype(&LoadCliBk), LoadCliBkFn>);
static_assert(std::is_same_v<decltype(&BorderPix), BorderPixFn>);
static_assert(std::is_same_v<decltype(&BorderClr), BorderClrFn>);
static_assert(std::is_same_v<decltype(&GetBmpId), GetBmpIdFn>);
static_assert(std::is_same_v<decltype(&GetButId), GetButIdFn>);
static_assert(std::is_same_v<decltype(&LoadSkinBitmap), LoadSkinBitmapFn>);

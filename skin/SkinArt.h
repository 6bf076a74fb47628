// The pictures of the skin, painted in code on first use.
#pragma once

#include <QImage>

namespace skinart {

// Look and metrics shared by the exports and the pictures.
constexpr int kCaptionHeight = 22;
constexpr int kBorderWidth = 4;
constexpr int kGripSize = 12;
constexpr int kButtonSize = 16;
// The main window the outline is drawn for (480 x 343 pixels).
constexpr int kMainWidth = 480;
constexpr int kMainHeight = 343;

// Bitmap ids.
constexpr int kIdCaption = 101;
constexpr int kIdFrame = 102;
constexpr int kIdClient = 103;
constexpr int kIdLogo = 110;
constexpr int kIdStrip = 111;
constexpr int kIdButtonBase = 200;  // + button * 10 + state
constexpr int kLogoWidth = 124;
constexpr int kLogoHeight = 50;
constexpr int kStripWidth = 468;
constexpr int kStripHeight = 40;

QImage CaptionPattern();
QImage FramePattern();
QImage ClientPattern();
QImage Logo();
QImage BottomStrip();
// kind 0 quit, 1 maximize, 2 minimize, 3 system; state 0 pressed, 1 normal, 2 hot, 3 hover,
// 4 disabled.
QImage TitleButton(int kind, int state);

}  // namespace skinart

// The exported functions of libSkin.so. The program never links the library: each window loads
// it from its install folder with dlopen and binds these names with dlsym when it needs them, so
// this header gives only the plain types, the names and the function pointer types.
//
// Bitmap ids name pictures the library keeps inside itself; LoadSkinBitmap hands out a copy of one
// (the stand-in for loading a bitmap resource of the module). Id 0 means "no bitmap".
#pragma once

#include <cstdint>

class QImage;

// Window coordinates, as POINT and RECT (right and bottom exclusive).
struct SkinPoint {
  int32_t x;
  int32_t y;
};
struct SkinRect {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
};

using SkinColor = uint32_t;  // COLORREF, 0x00BBGGRR

// Button kinds and states of GetButId.
constexpr int kSkinButQuit = 0;
constexpr int kSkinButMaximize = 1;
constexpr int kSkinButMinimize = 2;
constexpr int kSkinButSystem = 3;
constexpr int kSkinStatePressed = 0;
constexpr int kSkinStateNormal = 1;
constexpr int kSkinStateHot = 2;
constexpr int kSkinStateHover = 3;
constexpr int kSkinStateDisabled = 4;

// Window outline polygon. With points null: *count = number of points. Otherwise fills at most
// *count points (the caller gives room for the count it learnt, plus one) and sets *count to the
// number written. The polygon is drawn for the main window's size; its right and bottom halves
// follow the window's right and bottom edges on other sizes.
using LoadWinShapeFn = void (*)(SkinPoint* points, int* count);
// Rounded-rectangle outline, used when LoadWinShape gives fewer than 3 points; applied only when
// both ellipse sizes are above 0.
using RoundRectShapeFn = void (*)(SkinRect* rect, int* ellipseWidth, int* ellipseHeight);
// Caption band height, frame width (left, right, bottom) and sizing corner size; the fourth value
// is not used.
using GetUiInfoFn = void (*)(int* captionHeight, int* borderWidth, int* gripSize, int* reserved);
// Pattern bitmaps of the caption band, the frame ring and the client background.
using LoadCapBkFn = int (*)();
using LoadNonCliBkFn = int (*)();
using LoadCliBkFn = int (*)();
// Pen widths and colours of the four bevel lines: 1 outer bottom/right, 2 outer top/left,
// 3 inner top/left, 4 inner bottom/right. The caller presets 1, 1, 2, 1 and black, white, black,
// 0xC0C0C0; only what the skin writes changes.
using BorderPixFn = void (*)(int* w1, int* w2, int* w3, int* w4);
using BorderClrFn = void (*)(SkinColor* c1, SkinColor* c2, SkinColor* c3, SkinColor* c4);
// Pictures of the main window: 1 the logo area (top of the left pane), 2 the bottom strip.
using GetBmpIdFn = int (*)(int index);
// Title button bitmaps: button kSkinBut*, state kSkinState*; the low 16 bits are the id.
using GetButIdFn = int (*)(int button, int state);
// Copies bitmap `id` into *image (32-bit ARGB). Returns 1, or 0 (image untouched) for an unknown
// id, a null image or no running Qt GUI application.
using LoadSkinBitmapFn = int (*)(int id, QImage* image);

// Names to bind.
constexpr const char* kLoadWinShape = "LoadWinShape";
constexpr const char* kRoundRectShape = "RoundRectShape";
constexpr const char* kGetUiInfo = "GetUiInfo";
constexpr const char* kLoadCapBk = "LoadCapBk";
constexpr const char* kLoadNonCliBk = "LoadNonCliBk";
constexpr const char* kLoadCliBk = "LoadCliBk";
constexpr const char* kBorderPix = "BorderPix";
constexpr const char* kBorderClr = "BorderClr";
constexpr const char* kGetBmpId = "GetBmpId";
constexpr const char* kGetButId = "GetButId";
constexpr const char* kLoadSkinBitmap = "LoadSkinBitmap";

// The library's file name inside the install folder.
constexpr const char* kSkinLibraryName = "/libSkin.so";

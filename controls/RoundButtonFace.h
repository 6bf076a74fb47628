// The round button's face gradient and frame pens, apart from the widget.
#pragma once

#include "Gdi.h"

namespace roundbutton {

// Number of face brushes; row colours run from brush 0 at the top to 63 at the bottom.
constexpr int kBrushCount = 64;
// Inset of the face inside the outline (the system edge width and height).
constexpr int kEdge = 2;

// Brush number of face row `row` (0 = top row) on a face `height` rows high; the face has
// height + 1 rows, the last takes brush 63.
int BrushIndex(int row, int height);
// Colour of brush i: RGB(X, X, Y) by hover and emphasis (focus, pushed or default).
COLORREF FaceColor(int i, bool hovered, bool emphasis);
// The orange hover pens are used when hovered or not focused, else the blue focus pens.
inline bool UseHoverPens(bool hovered, bool focused) {
  return hovered || !focused;
}
// The frame is drawn while hovered or focused; the focus rectangle only when focused alone.
inline bool DrawsFrame(bool hovered, bool focused) {
  return hovered || focused;
}
inline bool DrawsFocusRect(bool hovered, bool focused) {
  return focused && !hovered;
}

struct Pen {
  COLORREF colour;
  int width;
};
// Left, right, top, bottom pens of the two frames.
constexpr Pen kHoverPens[4] = {{0x58C4FA, 1}, {0x6ACAFB, 2}, {0x79D2FC, 1}, {0x57C0E5, 2}};
constexpr Pen kFocusPens[4] = {{0xFCC699, 1}, {0xFCBDA2, 1}, {0xFFC9A2, 1}, {0xFFC9A2, 2}};

}  // namespace roundbutton

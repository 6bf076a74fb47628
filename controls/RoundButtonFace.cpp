#include "RoundButtonFace.h"

namespace roundbutton {

int BrushIndex(int row, int height) {
  if (height <= 0) return 0;
  const int i = row * (kBrushCount - 1) / height;
  return i < 0 ? 0 : (i > kBrushCount - 1 ? kBrushCount - 1 : i);
}

COLORREF FaceColor(int i, bool hovered, bool emphasis) {
  const int x = 255 - (hovered ? i / 4 : i / 3);
  int y;
  if (!hovered)
    y = 255 - (emphasis ? i / 4 : i / 5);
  else
    y = 255 - (emphasis ? i / 3 : i / 5);
  return RGB(x, x, y);
}

}  // namespace roundbutton

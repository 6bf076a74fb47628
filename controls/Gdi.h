// The drawing vocabulary of the design (COLORREF colours, DT_* text formats, dialog units)
// and its one mapping onto Qt.
#pragma once

#include <QColor>
#include <QRect>
#include <cstdint>

using COLORREF = uint32_t;  // 0x00BBGGRR

constexpr COLORREF RGB(int r, int g, int b) {
  return static_cast<COLORREF>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
constexpr int GetRValue(COLORREF c) {
  return c & 0xFF;
}
constexpr int GetGValue(COLORREF c) {
  return (c >> 8) & 0xFF;
}
constexpr int GetBValue(COLORREF c) {
  return (c >> 16) & 0xFF;
}
inline QColor ToQColor(COLORREF c) {
  return QColor(GetRValue(c), GetGValue(c), GetBValue(c));
}
inline COLORREF FromQColor(const QColor& c) {
  return RGB(c.red(), c.green(), c.blue());
}

// Text drawing formats.
constexpr uint32_t DT_LEFT = 0x0000;
constexpr uint32_t DT_CENTER = 0x0001;
constexpr uint32_t DT_RIGHT = 0x0002;
constexpr uint32_t DT_VCENTER = 0x0004;
constexpr uint32_t DT_BOTTOM = 0x0008;
constexpr uint32_t DT_WORDBREAK = 0x0010;
constexpr uint32_t DT_SINGLELINE = 0x0020;
constexpr uint32_t DT_NOCLIP = 0x0100;
constexpr uint32_t DT_NOPREFIX = 0x0800;
constexpr uint32_t DT_END_ELLIPSIS = 0x8000;

// Qt alignment and text flags for a DT_* format.
int DtToQtFlags(uint32_t format);

// Dialog units to pixels (base units 6 x 13), rounded as the dialog manager rounds; a
// rectangle maps its edges, so neighbours stay adjacent.
constexpr int DluX(int x) {
  return (x * 6 + 2) / 4;
}
constexpr int DluY(int y) {
  return (y * 13 + 4) / 8;
}
inline QRect DluRect(int x, int y, int w, int h) {
  return QRect(DluX(x), DluY(y), DluX(x + w) - DluX(x), DluY(y + h) - DluY(y));
}

// The program's static control: coloured text with its own font, or a picture stretched into a
// rectangle, over a colour or a tiled pattern, double-buffered; it can report a click to a
// chosen window as WM_LBUTTONUP with wParam 100 and lParam (screen x << 16) | screen y.
// It also carries an optional video frame drawn over everything (the preview screen).
#pragma once

#include <QFont>
#include <QImage>
#include <QPixmap>
#include <QString>
#include <QWidget>

#include "Gdi.h"
#include "WinMessage.h"

class CXStatic : public QWidget {
  Q_OBJECT

 public:
  // The wParam of the click report.
  static constexpr WPARAM kClickReport = 100;
  // lParam of the click report: x in the high, y in the low 16 bits.
  static constexpr LPARAM PackScreenPoint(int x, int y) { return MakeLParam(y, x); }

  explicit CXStatic(QWidget* parent = nullptr);

  void SetBkColor(COLORREF c) { m_crBk = c; }
  void SetTextColor(COLORREF c) { m_crText = c; }
  // Character cell height in pixels, weight bold or normal (MakeCellFont); the face is asked
  // for as given and the font matcher substitutes when it is not installed.
  void SetTextFont(const QString& face, int height, bool bold, bool italic, bool underline);
  void SetTextMode(bool text) { m_bTextMode = text; }
  void SetPatternMode(bool pattern) { m_bPatternMode = pattern; }
  void SetNotifyWnd(QObject* wnd) { m_pNotifyWnd = wnd; }
  void SetFormat(uint32_t format) { m_uFormat = format; }
  void SetDrawRect(const QRect& r) { m_rcDraw = r; }
  // Keeps the image as the pattern tile (asPattern) or as the picture; a null image empties
  // that slot. Returns whether an image was taken.
  bool LoadPicture(const QImage& image, bool asPattern);
  bool LoadPicture(const QPixmap& pixmap, bool asPattern);
  // Stores the text and repaints; the other setters leave repainting to the caller.
  void SetText(const QString& text);
  const QString& GetText() const { return m_strText; }
  bool IsCreated() const { return true; }
  // Gives the control the rectangle's width and height without moving it.
  void Resize(const QRect& r);

  // A picture drawn over the control's own drawing, scaled by the caller into `dest`
  // (client coordinates). The preview screen shows video frames this way.
  void SetFrameImage(const QImage& image, const QRect& dest);
  void ClearFrameImage();
  bool HasFrameImage() const { return !m_frame.isNull(); }
  QRect FrameRect() const { return m_rcFrame; }

  COLORREF GetBkColor() const { return m_crBk; }
  COLORREF GetTextColor() const { return m_crText; }
  bool GetTextMode() const { return m_bTextMode; }
  uint32_t GetFormat() const { return m_uFormat; }
  QRect GetDrawRect() const { return m_rcDraw; }
  int GetFontHeight() const { return m_nFontHeight; }
  const QFont& Font() const { return m_font; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  COLORREF m_crBk = 0xFFFFFF;
  COLORREF m_crText = 0;
  int m_nFontHeight = 0;
  bool m_bTextMode = false;
  bool m_bPatternMode = false;
  QObject* m_pNotifyWnd = nullptr;
  QFont m_font;
  bool m_bHasFont = false;
  QString m_strText;
  QPixmap m_pattern;
  QPixmap m_picture;
  uint32_t m_uFormat = 0;
  QRect m_rcDraw;
  QImage m_frame;
  QRect m_rcFrame;
};

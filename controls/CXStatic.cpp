#include "CXStatic.h"

#include <QMouseEvent>
#include <QPainter>

#include "CellFont.h"

CXStatic::CXStatic(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void CXStatic::SetTextFont(const QString& face, int height, bool bold, bool italic,
                           bool underline) {
  m_nFontHeight = height;
  m_font = MakeCellFont(face, height, bold, italic, underline);
  m_bHasFont = true;
}

bool CXStatic::LoadPicture(const QImage& image, bool asPattern) {
  return LoadPicture(image.isNull() ? QPixmap() : QPixmap::fromImage(image), asPattern);
}

bool CXStatic::LoadPicture(const QPixmap& pixmap, bool asPattern) {
  (asPattern ? m_pattern : m_picture) = pixmap;
  return !pixmap.isNull();
}

void CXStatic::SetText(const QString& text) {
  m_strText = text;
  update();
}

void CXStatic::Resize(const QRect& r) {
  resize(r.width(), r.height());
}

void CXStatic::SetFrameImage(const QImage& image, const QRect& dest) {
  m_frame = image;
  m_rcFrame = dest;
  update();
}

void CXStatic::ClearFrameImage() {
  if (m_frame.isNull()) return;
  m_frame = QImage();
  m_rcFrame = QRect();
  update();
}

void CXStatic::paintEvent(QPaintEvent*) {
  // The widget's backing store is the off-screen buffer: the screen sees one finished picture.
  QPainter p(this);
  const QRect all = rect();
  p.fillRect(all, ToQColor(m_crBk));
  // A pattern background without its tile leaves the colour fill.
  if (m_bPatternMode && !m_pattern.isNull()) p.fillRect(all, QBrush(m_pattern));
  if (m_bTextMode) {
    if (m_bHasFont) p.setFont(m_font);
    p.setPen(ToQColor(m_crText));
    if (!m_strText.isEmpty()) p.drawText(m_rcDraw, DtToQtFlags(m_uFormat), m_strText);
  } else if (!m_picture.isNull() && m_rcDraw.width() > 0 && m_rcDraw.height() > 0) {
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawPixmap(m_rcDraw, m_picture);
  }
  if (!m_frame.isNull() && m_rcFrame.width() > 0 && m_rcFrame.height() > 0) {
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(m_rcFrame, m_frame);
  }
}

// Without a notify window the control is transparent to the mouse, as a plain static is:
// the parent gets the events.
void CXStatic::mousePressEvent(QMouseEvent* e) {
  if (m_pNotifyWnd)
    e->accept();
  else
    e->ignore();
}

void CXStatic::mouseMoveEvent(QMouseEvent* e) {
  if (m_pNotifyWnd)
    e->accept();
  else
    e->ignore();
}

void CXStatic::mouseReleaseEvent(QMouseEvent* e) {
  if (!m_pNotifyWnd) {
    e->ignore();
    return;
  }
  e->accept();
  if (e->button() != Qt::LeftButton) return;
  const QPoint g = mapToGlobal(e->position().toPoint());
  SendMsg(m_pNotifyWnd, WM_LBUTTONUP, kClickReport, PackScreenPoint(g.x(), g.y()));
}

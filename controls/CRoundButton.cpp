#include "CRoundButton.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>

#include "RoundButtonFace.h"

using namespace roundbutton;

namespace {

// A line from `from` up to, not including, `to` (horizontal or vertical), `width` pixels thick
// towards the inside of the face.
void FillLine(QPainter* dc, const Pen& pen, QPoint from, QPoint to, bool horizontal) {
  const QColor c = ToQColor(pen.colour);
  if (horizontal) {
    const int x0 = std::min(from.x(), to.x() + 1), x1 = std::max(from.x(), to.x() - 1);
    dc->fillRect(QRect(x0, from.y() - (pen.width - 1), x1 - x0 + 1, pen.width), c);
  } else {
    const int y0 = std::min(from.y(), to.y() + 1), y1 = std::max(from.y(), to.y() - 1);
    dc->fillRect(QRect(from.x() - (pen.width - 1), y0, pen.width, y1 - y0 + 1), c);
  }
}

}  // namespace

CRoundButton::CRoundButton(QWidget* parent) : QAbstractButton(parent) {
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
}

CRoundButton::CRoundButton(const QString& text, QWidget* parent) : CRoundButton(parent) {
  setText(text);
}

void CRoundButton::SetDefault(bool on) {
  m_bDefault = on;
  update();
}

QSize CRoundButton::sizeHint() const {
  const QFontMetrics fm(font());
  return QSize(fm.horizontalAdvance(text()) + 16, fm.height() + 8);
}

void CRoundButton::DrawFace(QPainter* dc, const QRect& face) {
  // Design geometry: right and bottom are one past the face's last pixel.
  const int left = face.x(), top = face.y();
  const int right = face.x() + face.width(), bottom = face.y() + face.height();
  const int h = bottom - top;
  QColor brushes[kBrushCount];
  for (int i = 0; i < kBrushCount; ++i) brushes[i] = ToQColor(FaceColor(i, m_bHover, m_bEmphasis));
  for (int y = top; y <= bottom; ++y)
    dc->fillRect(QRect(left, y, right - left, 1), brushes[BrushIndex(y - top, h)]);
}

void CRoundButton::DrawFrame(QPainter* dc, const QRect& face) {
  const int l = face.x(), t = face.y();
  const int r = face.x() + face.width(), b = face.y() + face.height();
  const Pen* pens = UseHoverPens(m_bHover, m_bFocus) ? kHoverPens : kFocusPens;
  dc->save();
  dc->setRenderHint(QPainter::Antialiasing, false);
  FillLine(dc, pens[0], QPoint(l, b - 1), QPoint(l, t + 1), false);
  FillLine(dc, pens[1], QPoint(r - 1, b - 1), QPoint(r - 1, t), false);
  FillLine(dc, pens[2], QPoint(l - 1, t), QPoint(r, t), true);
  FillLine(dc, pens[3], QPoint(l, b), QPoint(r, b), true);
  if (DrawsFocusRect(m_bHover, m_bFocus)) {
    // One pixel inside the face, clear of the frame lines it would otherwise break up.
    dc->setPen(QPen(QColor(40, 40, 40), 1, Qt::DotLine));
    dc->setBrush(Qt::NoBrush);
    dc->drawRect(l + 1, t + 1, r - l - 3, b - t - 3);
  }
  dc->restore();
}

void CRoundButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  // A disabled button gets no mouse input, so it never shows the hover frame.
  if (!isEnabled()) m_bHover = false;
  const QRect r = rect();

  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(0, 0, 0), 1));
  p.setBrush(QColor(255, 255, 255));
  p.drawRoundedRect(QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5), 2.5, 2.0);
  p.restore();

  m_bFocus = hasFocus();
  m_bEmphasis = m_bFocus || isDown() || m_bDefault;
  const QRect face = r.adjusted(kEdge, kEdge, -kEdge, -kEdge);
  DrawFace(&p, face);
  if (DrawsFrame(m_bHover, m_bFocus)) DrawFrame(&p, face);

  // The text goes in as drawn, without mnemonic processing.
  const QString label = text().left(259);
  const QFontMetrics fm(font());
  const int tw = fm.horizontalAdvance(label), th = fm.height();
  const int right = face.x() + face.width(), bottom = face.y() + face.height();
  int x = (face.x() + right) / 2 - tw / 2;
  int y = (face.y() + bottom) / 2 - th / 2;
  if (isDown()) {
    ++x;
    ++y;
  }
  p.setFont(font());
  const QRect textRect(x, y, tw + 1, th);
  if (isEnabled()) {
    p.setPen(QColor(0, 0, 0));
    p.drawText(textRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, label);
  } else {
    // Embossed: a light copy one pixel down and right under the grey text.
    p.setPen(QColor(255, 255, 255));
    p.drawText(textRect.translated(1, 1), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, label);
    p.setPen(QColor(128, 128, 128));
    p.drawText(textRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, label);
  }
}

void CRoundButton::enterEvent(QEnterEvent* e) {
  QAbstractButton::enterEvent(e);
  if (isEnabled() && !m_bHover) {
    m_bHover = true;
    update();
  }
}

void CRoundButton::leaveEvent(QEvent* e) {
  QAbstractButton::leaveEvent(e);
  if (m_bHover) {
    m_bHover = false;
    update();
  }
}

void CRoundButton::mouseMoveEvent(QMouseEvent* e) {
  // A move without an enter before it (the pointer was already there) still starts hovering.
  if (isEnabled() && !m_bHover && rect().contains(e->position().toPoint())) {
    m_bHover = true;
    update();
  }
  QAbstractButton::mouseMoveEvent(e);
}

#include "CQmvSel.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>

#include "CellFont.h"
#include "WinMessage.h"

CQmvSel::CQmvSel(QWidget* parent) : QWidget(parent) {
  setMouseTracking(true);
  setFocusPolicy(Qt::NoFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void CQmvSel::CreateFont(const QString& face, int height) {
  m_font = MakeCellFont(face, height);
  m_model.SetFontHeight(height);
}

void CQmvSel::paintEvent(QPaintEvent*) {
  const int w = width();
  QPainter p(this);
  p.fillRect(rect(), ToQColor(m_crBk));
  if (m_bBorder) {
    p.setPen(QPen(ToQColor(m_crBorder), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(0, 0, w - 1, height() - 1);
  }
  p.setFont(m_font);
  const int flags = DtToQtFlags(m_uFormat);
  for (int i = 0; i < m_model.Count(); ++i) {
    const QRect text = m_model.TextRect(i, w);
    const bool lit = m_model.IsHighlighted(i);
    if (m_bFill) {
      const QRect band(1, text.y(), w - 2, text.height());
      if (lit) p.fillRect(band, ToQColor(m_crHotFill));
      if (i == m_model.Selected()) p.fillRect(band, ToQColor(m_crSelFill));
    }
    p.setPen(ToQColor(lit ? m_crHighlight : m_crText));
    p.drawText(text.adjusted(0, 0, -5, 0), flags, m_model.Item(i));
  }
  // Without fills the picked item gets a dotted box and a small arrow pointing at it.
  const int sel = m_model.Selected();
  if (!m_bFill && sel >= 0 && sel < m_model.Count()) {
    const QRect text = m_model.TextRect(sel, w);
    if (text.width() > 0) {
      const int x1 = text.x(), x2 = text.x() + text.width() - 5;
      const int y1 = text.y(), y2 = text.y() + text.height();
      p.setPen(QPen(ToQColor(m_crHighlight), 1, Qt::DashDotDotLine));
      p.drawLine(x1, y1, x2, y1);
      p.drawLine(x2, y1, x2, y2);
      p.drawLine(x2, y2, x1, y2);
      p.drawLine(x1, y2, x1, y1);
      const int m = (y1 + y2) / 2, h = m_model.FontHeight();
      p.setRenderHint(QPainter::Antialiasing);
      p.setPen(Qt::NoPen);
      p.setBrush(ToQColor(m_crHighlight));
      p.drawPolygon(
          QPolygon({QPoint(x2 + 5, m), QPoint(x2 + 11, m - h / 2), QPoint(x2 + 11, m + h / 2)}));
    }
  }
}

void CQmvSel::mouseMoveEvent(QMouseEvent* e) {
  const QPoint pt = e->position().toPoint();
  m_model.MouseMove(pt.x(), pt.y(), width(), e->buttons() & Qt::LeftButton);
  update();
}

void CQmvSel::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  // A press where no move went before (touch, synthetic input) still knows its item.
  const QPoint pt = e->position().toPoint();
  m_model.MouseMove(pt.x(), pt.y(), width(), true);
  m_model.MouseDown();
  update();
}

void CQmvSel::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  const QPoint pt = e->position().toPoint();
  m_model.MouseMove(pt.x(), pt.y(), width(), false);
  const int picked = m_model.MouseUp();
  update();
  if (picked < 0) return;
  // The text lives in the item list, so the pointer stays valid for the whole call.
  const QString& text = m_model.Item(picked);
  SendMsg(m_pNotifyWnd, WM_SELECTOR_PICK, static_cast<WPARAM>(picked),
          reinterpret_cast<LPARAM>(&text));
}

#include "CQmvButton.h"

#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

int CQmvButton::ChooseSlot(const DrawState& s, const std::array<bool, SlotCount>& held) {
  if (s.pushed && held[Pressed]) return Pressed;
  // A hovered button without a hover picture goes on through the other states.
  if (s.hovering && held[Hover]) return Hover;
  if (s.disabled && held[Disabled]) return Disabled;
  if (s.hot && held[Hot]) return Hot;
  return held[Normal] ? Normal : -1;
}

CQmvButton::CQmvButton(QWidget* parent) : QAbstractButton(parent) {
  setMouseTracking(true);
  setFocusPolicy(Qt::NoFocus);
}

bool CQmvButton::LoadBitmaps(const QPixmap& normal, const std::optional<QPixmap>& pressed,
                             const std::optional<QPixmap>& hover,
                             const std::optional<QPixmap>& disabled,
                             const std::optional<QPixmap>& hot) {
  for (QPixmap& b : m_bitmaps) b = QPixmap();
  if (normal.isNull()) {
    update();
    return false;
  }
  m_bitmaps[Normal] = normal;
  bool all = true;
  const std::optional<QPixmap>* more[] = {&pressed, &hover, &disabled, &hot};
  for (int i = 0; i < 4; ++i) {
    if (!more[i]->has_value()) continue;
    m_bitmaps[Pressed + i] = **more[i];
    if ((*more[i])->isNull()) all = false;
  }
  update();
  return all;
}

void CQmvButton::SetBitmap(Slot slot, const QPixmap& pixmap) {
  if (slot < 0 || slot >= SlotCount) return;
  m_bitmaps[slot] = pixmap;
  update();
}

void CQmvButton::SizeToContent() {
  const QPixmap& n = m_bitmaps[Normal];
  if (n.isNull()) return;
  const QSize s = n.deviceIndependentSize().toSize();
  if (size() != s) resize(s);
}

QSize CQmvButton::sizeHint() const {
  const QPixmap& n = m_bitmaps[Normal];
  return n.isNull() ? QSize(16, 16) : n.deviceIndependentSize().toSize();
}

void CQmvButton::SetHot(bool hot) {
  m_bHot = hot;
  update();
}

int CQmvButton::CurrentSlot() const {
  std::array<bool, SlotCount> held{};
  for (int i = 0; i < SlotCount; ++i) held[i] = !m_bitmaps[i].isNull();
  return ChooseSlot({isDown(), m_bHovering, !isEnabled(), m_bHot}, held);
}

void CQmvButton::paintEvent(QPaintEvent*) {
  // The button always takes its bitmap's size; an owner that moved it with another size gets
  // it back once this paint is done.
  const QPixmap& n = m_bitmaps[Normal];
  if (!n.isNull() && size() != n.deviceIndependentSize().toSize())
    QTimer::singleShot(0, this, &CQmvButton::SizeToContent);
  const int slot = CurrentSlot();
  if (slot < 0) return;
  QPainter p(this);
  // Copied 1:1 from the bitmap's origin, cropped to the button.
  p.drawPixmap(QPoint(0, 0), m_bitmaps[slot], QRect(QPoint(0, 0), size()));
}

void CQmvButton::StartHover() {
  if (m_bHovering) return;
  m_bHovering = true;
  update();
}

void CQmvButton::mouseMoveEvent(QMouseEvent* e) {
  if (rect().contains(e->position().toPoint())) StartHover();
  QAbstractButton::mouseMoveEvent(e);
}

void CQmvButton::enterEvent(QEnterEvent* e) {
  QAbstractButton::enterEvent(e);
  if (isEnabled()) StartHover();
}

void CQmvButton::leaveEvent(QEvent* e) {
  QAbstractButton::leaveEvent(e);
  m_bHovering = false;
  update();
}

void CQmvButton::mouseDoubleClickEvent(QMouseEvent* e) {
  mousePressEvent(e);
}

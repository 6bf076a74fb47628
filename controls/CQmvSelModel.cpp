#include "CQmvSelModel.h"

#include <algorithm>

namespace {

// Point in rectangle with the right and bottom edges excluded; an empty rectangle holds nothing.
bool Holds(const QRect& r, int x, int y) {
  return r.width() > 0 && r.height() > 0 && x >= r.x() && x < r.x() + r.width() && y >= r.y() &&
         y < r.y() + r.height();
}

}  // namespace

QRect CQmvSelModel::ItemRect(int i, int w) const {
  return QRect(0, m_nTopOffset + i * Pitch(), w, Pitch());
}

QRect CQmvSelModel::TextRect(int i, int w) const {
  const QRect item = ItemRect(i, w);
  const int g = (2 * m_nItemGap) / 5;
  const int top = std::max(0, item.y() + g);
  const int bottom = item.y() + item.height() - g;
  const int left = m_nLeftMargin;
  const int right = w - m_nLeftMargin;
  return QRect(left, top, right - left, bottom - top);
}

QRect CQmvSelModel::HitRect(int i, int w) const {
  const QRect item = ItemRect(i, w);
  return QRect(15, item.y(), w - 30, item.height());
}

int CQmvSelModel::HitTest(int x, int y, int w) const {
  for (int i = 0; i < Count(); ++i)
    if (Holds(HitRect(i, w), x, y)) return i;
  return -1;
}

void CQmvSelModel::MouseMove(int x, int y, int w, bool leftDown) {
  m_bButtonDown = leftDown;
  m_nHot = HitTest(x, y, w);
}

int CQmvSelModel::MouseUp() {
  m_bButtonDown = false;
  if (m_nHot == m_nSelected) return -1;
  if (m_nHot >= 0) m_nSelected = m_nHot;
  // A release off every item reports the item picked before, if any.
  return m_nSelected;
}

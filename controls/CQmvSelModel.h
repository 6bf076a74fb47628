// The selector's items, geometry and mouse state, apart from any widget: which item a point
// hits, which item is hot, and when a release picks an item.
#pragma once

#include <QRect>
#include <QString>
#include <QStringList>

class CQmvSelModel {
 public:
  void AddItem(const QString& text) { m_items.append(text); }
  int Count() const { return static_cast<int>(m_items.size()); }
  const QString& Item(int i) const { return m_items.at(i); }

  void SetFontHeight(int px) { m_nFontHeight = px; }
  int FontHeight() const { return m_nFontHeight; }
  void SetItemGap(int px) { m_nItemGap = px; }
  int ItemGap() const { return m_nItemGap; }
  void SetMargins(int left, int top) {
    m_nLeftMargin = left;
    m_nTopOffset = top;
  }
  int LeftMargin() const { return m_nLeftMargin; }
  int TopOffset() const { return m_nTopOffset; }

  int Pitch() const { return m_nFontHeight + m_nItemGap; }
  // Rectangles of item i in a control of width w (right and bottom exclusive).
  QRect ItemRect(int i, int w) const;
  QRect TextRect(int i, int w) const;
  QRect HitRect(int i, int w) const;
  // The first item from the top whose hit rectangle holds (x, y), or -1.
  int HitTest(int x, int y, int w) const;

  // Mouse input. MouseUp returns the index to report with WM_SELECTOR_PICK, or -1 for none.
  void MouseMove(int x, int y, int w, bool leftDown);
  void MouseDown() { m_bButtonDown = true; }
  int MouseUp();

  int Selected() const { return m_nSelected; }
  int Hot() const { return m_nHot; }
  bool ButtonDown() const { return m_bButtonDown; }
  // Whether item i is drawn highlighted: hot while the button is up.
  bool IsHighlighted(int i) const { return i == m_nHot && !m_bButtonDown; }

 private:
  int m_nSelected = -1;
  int m_nHot = -1;
  int m_nFontHeight = 0;
  int m_nLeftMargin = 0;
  int m_nTopOffset = 0;
  int m_nItemGap = 0;
  bool m_bButtonDown = false;
  QStringList m_items;
};

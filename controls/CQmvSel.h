// Custom-drawn vertical list of text items; a pick is sent to the owner as WM_SELECTOR_PICK
// with wParam the item index and lParam a `const QString*` to the item text, valid only
// during the call.
#pragma once

#include <QFont>
#include <QWidget>

#include "CQmvSelModel.h"
#include "Gdi.h"

class CQmvSel : public QWidget {
  Q_OBJECT

 public:
  explicit CQmvSel(QWidget* parent = nullptr);

  // Set-up, once before the control is shown.
  void SetNotifyWnd(QObject* wnd) { m_pNotifyWnd = wnd; }
  void SetBkColor(COLORREF c) { m_crBk = c; }
  void SetTextColor(COLORREF text, COLORREF highlight) {
    m_crText = text;
    m_crHighlight = highlight;
  }
  // A font whose character cell is that many pixels high, normal weight (MakeCellFont); the
  // face is asked for as given and the font matcher substitutes when it is not installed.
  void CreateFont(const QString& face, int height);
  void AddItem(const QString& text) { m_model.AddItem(text); }
  void SetItemGap(int px) { m_model.SetItemGap(px); }
  void SetMargins(int left, int top) { m_model.SetMargins(left, top); }
  void SetTextFormat(uint32_t format) { m_uFormat = format; }
  void SetBorder(bool on, COLORREF c) {
    m_bBorder = on;
    m_crBorder = c;
  }
  void SetFill(bool on, COLORREF hot, COLORREF selected) {
    m_bFill = on;
    m_crHotFill = hot;
    m_crSelFill = selected;
  }

  int GetSelected() const { return m_model.Selected(); }
  int GetHot() const { return m_model.Hot(); }
  const CQmvSelModel& Model() const { return m_model; }
  const QFont& Font() const { return m_font; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  CQmvSelModel m_model;
  QObject* m_pNotifyWnd = nullptr;
  COLORREF m_crBk = RGB(255, 255, 255);
  COLORREF m_crText = 0;
  COLORREF m_crHighlight = RGB(255, 0, 0);
  QFont m_font;
  uint32_t m_uFormat = DT_RIGHT | DT_VCENTER | DT_SINGLELINE;
  bool m_bBorder = false;
  COLORREF m_crBorder = RGB(192, 192, 192);
  COLORREF m_crHotFill = RGB(255, 0, 0);
  COLORREF m_crSelFill = RGB(0, 255, 0);
  bool m_bFill = false;
};

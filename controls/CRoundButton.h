// Owner-drawn text push button: rounded black outline, vertical gradient face, an orange frame
// while the mouse is over it, a blue frame and focus rectangle while it has the focus, and its
// text centred (one pixel lower and further right while pushed, embossed when disabled).
#pragma once

#include <QAbstractButton>

class QPainter;

class CRoundButton : public QAbstractButton {
  Q_OBJECT

 public:
  explicit CRoundButton(QWidget* parent = nullptr);
  explicit CRoundButton(const QString& text, QWidget* parent = nullptr);

  bool IsHovered() const { return m_bHover; }
  // What the last drawing saw.
  bool IsFocused() const { return m_bFocus; }
  bool IsEmphasis() const { return m_bEmphasis; }
  // The dialog's default button draws emphasised.
  void SetDefault(bool on);
  bool IsDefault() const { return m_bDefault; }

  QSize sizeHint() const override;

 protected:
  // Face rectangle F is the widget inset by the edge; as in the design, its right and bottom
  // edges are exclusive for lines and the face fill covers rows F.top to F.bottom.
  virtual void DrawFace(QPainter* dc, const QRect& face);
  virtual void DrawFrame(QPainter* dc, const QRect& face);

  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  bool m_bHover = false;
  bool m_bFocus = false;
  bool m_bEmphasis = false;
  bool m_bDefault = false;
};

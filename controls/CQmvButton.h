// Owner-drawn push button that shows one of up to five bitmaps by its state and by whether
// the mouse is over it (the title-bar buttons of the skinned windows).
#pragma once

#include <QAbstractButton>
#include <QPixmap>
#include <array>
#include <optional>

class CQmvButton : public QAbstractButton {
  Q_OBJECT

 public:
  // The bitmap slots, in the order LoadBitmaps takes them.
  enum Slot { Normal = 0, Pressed, Hover, Disabled, Hot, SlotCount };

  // What the button's state asks for, first match wins; -1 when nothing is to be drawn.
  struct DrawState {
    bool pushed = false;
    bool hovering = false;
    bool disabled = false;
    bool hot = false;
  };
  static int ChooseSlot(const DrawState& state, const std::array<bool, SlotCount>& held);

  explicit CQmvButton(QWidget* parent = nullptr);

  // Drops the five bitmaps held and takes the new ones. A null `normal` takes nothing more and
  // returns false. An absent optional is a state not asked for; a null pixmap is one asked for
  // that could not be loaded. Returns true only when every bitmap asked for is there; the ones
  // that are there are kept either way.
  bool LoadBitmaps(const QPixmap& normal, const std::optional<QPixmap>& pressed = std::nullopt,
                   const std::optional<QPixmap>& hover = std::nullopt,
                   const std::optional<QPixmap>& disabled = std::nullopt,
                   const std::optional<QPixmap>& hot = std::nullopt);
  // Plain setter for one slot (a null pixmap empties it).
  void SetBitmap(Slot slot, const QPixmap& pixmap);
  const QPixmap& Bitmap(Slot slot) const { return m_bitmaps[slot]; }

  // Gives the button the normal bitmap's size without moving it.
  void SizeToContent();

  bool IsHovering() const { return m_bHovering; }
  // Whether the system marks the button hot (the fifth bitmap); off unless the owner sets it.
  void SetHot(bool hot);
  // The slot the next paint draws, or -1.
  int CurrentSlot() const;

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  // Two quick clicks are two clicks: the second press of a double click is a plain press.
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  void StartHover();

  bool m_bHovering = false;
  bool m_bHot = false;
  std::array<QPixmap, SlotCount> m_bitmaps;
};

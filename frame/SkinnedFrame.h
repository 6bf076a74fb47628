// The skinned frame of a borderless window: outline, caption band, frame ring, bevel lines and
// caption text, all from the window's skin module, asked afresh on every use; the caption band
// moves the window and the bottom-right corner sizes it. Each feature the skin lacks is left
// out; with no skin nothing is painted and the window stays a plain rectangle.
//
// The frame installs itself as an event filter on its window: it paints before the window's own
// paintEvent, re-applies the outline on resize, and takes left presses on the caption or corner.
// A window needs nothing more than to own one SkinnedFrame beside its SkinModule.
#pragma once

#include <QColor>
#include <QFont>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QRegion>
#include <QSize>
#include <QString>

class QMouseEvent;
class QPainter;
class QWidget;
class SkinModule;

// Hit-test codes.
constexpr int HTCLIENT = 1;
constexpr int HTCAPTION = 2;
constexpr int HTBOTTOMRIGHT = 17;

// Caption band y < captionHeight moves; otherwise x > W - cornerSize and y > H - cornerSize
// sizes (a corner size of 0 or less: never); everything else is client.
int FrameHitTest(QPoint windowPos, QSize windowSize, int captionHeight, int cornerSize);

// Frame metrics of GetUiInfo; all zero when the skin lacks it.
struct SkinMetrics {
  bool valid = false;
  int caption = 0;  // T
  int border = 0;   // F
  int grip = 0;     // K
};

class SkinnedFrame : public QObject {
 public:
  // Where the caption text goes: none (About box), at (24, 4) (main window), or single line and
  // vertically centred in (23, 0, W - 60, T) (player window).
  enum class Caption { None, AtPoint, Band };
  // Which sizing corner the hit test knows: the skin's K, a fixed size, or none.
  enum class Corner { Skin, Fixed, None };

  // `skin` must outlive the frame; it may be unloaded at any time.
  SkinnedFrame(QWidget* window, const SkinModule* skin);

  void SetCaption(Caption mode, const QString& text = {});
  void SetCaptionText(const QString& text);
  // Caption text look; the default is the window's font in bold, in cream.
  void SetCaptionStyle(const QFont& font, const QColor& color);
  void SetCorner(Corner mode, int fixedSize = 10);
  // The player window leaves the inner area to the video while a clip plays.
  void SetFillClient(bool fill) { fillClient_ = fill; }

  SkinMetrics Metrics() const;
  // (F, T, W - F, H - F) of the window's current size, as a QRect.
  QRect InnerArea() const;
  bool Skinned() const;

  // The outline for a window of `size`: the polygon of LoadWinShape, else the rounded rectangle
  // of RoundRectShape; an empty region means rectangular. The outline is drawn for one window
  // size; its right and bottom halves follow the window's right and bottom edges.
  QRegion Shape(QSize size) const;
  // Sets the window mask from Shape, or clears it.
  void ApplyShape();

  // Inner area with the client pattern (unless told not to), then the frame over it.
  void Paint(QPainter& painter) const;
  void PaintClient(QPainter& painter) const;
  void PaintFrame(QPainter& painter) const;

  int HitTest(QPoint windowPos) const;
  // Left press on caption or corner: asks the window system to move or size the window (or
  // follows the mouse itself where it cannot). True when the press was taken.
  bool MousePress(QMouseEvent* event);
  bool MouseMove(QMouseEvent* event);
  bool MouseRelease(QMouseEvent* event);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  enum class Drag { None, Move, Size };

  QWidget* window_;
  const SkinModule* skin_;
  Caption caption_ = Caption::None;
  QString text_;
  QFont font_;
  bool customFont_ = false;
  QColor textColor_{255, 253, 234};
  Corner corner_ = Corner::Skin;
  int fixedCorner_ = 10;
  bool fillClient_ = true;
  // Manual drag where the window system does not move or size for us.
  Drag drag_ = Drag::None;
  QPoint dragStart_;
  QRect dragGeometry_;
};

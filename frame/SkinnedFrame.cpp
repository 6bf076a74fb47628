#include "SkinnedFrame.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <vector>

#include "Gdi.h"
#include "SkinModule.h"

namespace {

// Outlines with more points than this come from a broken skin and are ignored.
constexpr int kMaxOutlinePoints = 4096;

// One solid line from (x1, y1) up to, not including, (x2, y2), horizontal or vertical, of pen
// width w centred on it (the extra pixel of an even width going right or down).
void BevelLine(QPainter& p, int x1, int y1, int x2, int y2, int w, COLORREF c) {
  if (w <= 0) return;
  const int off = (w - 1) / 2;
  QRect r;
  if (y1 == y2) {
    if (x1 == x2) return;
    const int left = x1 < x2 ? x1 : x2 + 1;
    r = QRect(left, y1 - off, std::abs(x2 - x1), w);
  } else {
    const int top = y1 < y2 ? y1 : y2 + 1;
    r = QRect(x1 - off, top, w, std::abs(y2 - y1));
  }
  p.fillRect(r, ToQColor(c));
}

// A pattern brush of the skin's bitmap `id`; no brush when there is no bitmap.
bool PatternBrush(const SkinModule& skin, int id, QBrush* brush) {
  const QImage image = skin.Bitmap(id);
  if (image.isNull()) return false;
  *brush = QBrush(QPixmap::fromImage(image));
  return true;
}

}  // namespace

int FrameHitTest(QPoint pos, QSize size, int captionHeight, int cornerSize) {
  if (pos.y() < captionHeight) return HTCAPTION;
  if (cornerSize > 0 && pos.x() > size.width() - cornerSize && pos.y() > size.height() - cornerSize)
    return HTBOTTOMRIGHT;
  return HTCLIENT;
}

SkinnedFrame::SkinnedFrame(QWidget* window, const SkinModule* skin)
    : QObject(window), window_(window), skin_(skin) {
  window_->installEventFilter(this);
}

void SkinnedFrame::SetCaption(Caption mode, const QString& text) {
  caption_ = mode;
  text_ = text;
  window_->update();
}

void SkinnedFrame::SetCaptionText(const QString& text) {
  text_ = text;
  window_->update(0, 0, window_->width(), std::max(Metrics().caption, 1));
}

void SkinnedFrame::SetCaptionStyle(const QFont& font, const QColor& color) {
  font_ = font;
  customFont_ = true;
  textColor_ = color;
  window_->update();
}

void SkinnedFrame::SetCorner(Corner mode, int fixedSize) {
  corner_ = mode;
  fixedCorner_ = fixedSize;
}

SkinMetrics SkinnedFrame::Metrics() const {
  SkinMetrics m;
  auto info = skin_ != nullptr ? skin_->Get<GetUiInfoFn>(kGetUiInfo) : nullptr;
  if (info == nullptr) return m;
  int reserved = 0;
  info(&m.caption, &m.border, &m.grip, &reserved);
  m.valid = true;
  return m;
}

QRect SkinnedFrame::InnerArea() const {
  const SkinMetrics m = Metrics();
  const int w = window_->width(), h = window_->height();
  return QRect(QPoint(m.border, m.caption), QPoint(w - m.border - 1, h - m.border - 1));
}

bool SkinnedFrame::Skinned() const {
  return skin_ != nullptr && skin_->Loaded();
}

QRegion SkinnedFrame::Shape(QSize size) const {
  if (skin_ == nullptr) return {};
  const int w = size.width(), h = size.height();
  if (auto load = skin_->Get<LoadWinShapeFn>(kLoadWinShape)) {
    int n = 0;
    load(nullptr, &n);
    if (n >= 3 && n <= kMaxOutlinePoints) {
      std::vector<SkinPoint> pts(n + 1);
      int got = n;
      load(pts.data(), &got);
      got = std::clamp(got, 0, n);
      if (got >= 3) {
        int maxX = 0, maxY = 0;
        for (int i = 0; i < got; ++i) {
          maxX = std::max(maxX, pts[i].x);
          maxY = std::max(maxY, pts[i].y);
        }
        // The far half of the outline keeps its distance to the window's far edges.
        QPolygon poly;
        for (int i = 0; i < got; ++i) {
          const int x = pts[i].x * 2 > maxX ? pts[i].x + (w - maxX) : pts[i].x;
          const int y = pts[i].y * 2 > maxY ? pts[i].y + (h - maxY) : pts[i].y;
          poly << QPoint(x, y);
        }
        return QRegion(poly, Qt::OddEvenFill);
      }
    }
  }
  if (auto round = skin_->Get<RoundRectShapeFn>(kRoundRectShape)) {
    SkinRect r{0, 0, 0, 0};
    int ew = 0, eh = 0;
    round(&r, &ew, &eh);
    if (ew > 0 && eh > 0) {
      // Insets kept on all sides; the corners' ellipses at the window's corners.
      const QRect rect(QPoint(r.left, r.top), QPoint(w - r.left - 1, h - r.top - 1));
      if (rect.isEmpty()) return {};
      ew = std::min(ew, rect.width());
      eh = std::min(eh, rect.height());
      QRegion region(rect.adjusted(ew / 2, 0, -(ew / 2), 0));
      region += rect.adjusted(0, eh / 2, 0, -(eh / 2));
      region += QRegion(QRect(rect.left(), rect.top(), ew, eh), QRegion::Ellipse);
      region += QRegion(QRect(rect.right() - ew + 1, rect.top(), ew, eh), QRegion::Ellipse);
      region += QRegion(QRect(rect.left(), rect.bottom() - eh + 1, ew, eh), QRegion::Ellipse);
      region +=
          QRegion(QRect(rect.right() - ew + 1, rect.bottom() - eh + 1, ew, eh), QRegion::Ellipse);
      return region;
    }
  }
  return {};
}

void SkinnedFrame::ApplyShape() {
  const QRegion shape = Shape(window_->size());
  if (shape.isEmpty())
    window_->clearMask();
  else
    window_->setMask(shape);
}

void SkinnedFrame::Paint(QPainter& painter) const {
  PaintClient(painter);
  PaintFrame(painter);
}

void SkinnedFrame::PaintClient(QPainter& painter) const {
  if (!fillClient_ || skin_ == nullptr) return;
  auto cli = skin_->Get<LoadCliBkFn>(kLoadCliBk);
  QBrush brush;
  if (cli == nullptr || !PatternBrush(*skin_, cli(), &brush)) return;
  const QRect inner = InnerArea();
  if (inner.isValid()) painter.fillRect(inner, brush);
}

void SkinnedFrame::PaintFrame(QPainter& painter) const {
  if (skin_ == nullptr) return;
  auto cap = skin_->Get<LoadCapBkFn>(kLoadCapBk);
  const SkinMetrics m = Metrics();
  if (cap == nullptr || !m.valid) return;
  const int w = window_->width(), h = window_->height();
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setBrushOrigin(0, 0);

  QBrush brush;
  if (PatternBrush(*skin_, cap(), &brush)) painter.fillRect(QRect(0, 0, w, m.caption), brush);

  if (caption_ != Caption::None && !text_.isEmpty()) {
    QFont font = window_->font();
    font.setBold(true);
    painter.setFont(customFont_ ? font_ : font);
    painter.setPen(textColor_);
    if (caption_ == Caption::AtPoint) {
      painter.drawText(QRect(24, 4, std::max(w - 24, 0), std::max(m.caption - 4, 0)),
                       Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text_);
    } else {
      painter.drawText(QRect(QPoint(23, 0), QPoint(w - 60 - 1, m.caption - 1)),
                       DtToQtFlags(DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX), text_);
    }
  }

  const QRect inner(QPoint(m.border, m.caption), QPoint(w - m.border - 1, h - m.border - 1));
  if (auto ring = skin_->Get<LoadNonCliBkFn>(kLoadNonCliBk)) {
    if (PatternBrush(*skin_, ring(), &brush)) {
      const QRegion band = QRegion(0, m.caption, w, h - m.caption).xored(QRegion(inner));
      for (const QRect& r : band) painter.fillRect(r, brush);
    }
  }

  int w1 = 1, w2 = 1, w3 = 2, w4 = 1;
  COLORREF c1 = RGB(0, 0, 0), c2 = RGB(255, 255, 255), c3 = RGB(0, 0, 0), c4 = 0xC0C0C0;
  if (auto pix = skin_->Get<BorderPixFn>(kBorderPix)) pix(&w1, &w2, &w3, &w4);
  if (auto clr = skin_->Get<BorderClrFn>(kBorderClr)) clr(&c1, &c2, &c3, &c4);
  // Outer rectangle: the window shrunk by one pixel; right and bottom as GDI gives them.
  const int ol = 1, ot = 1, orr = w - 1, ob = h - 1;
  BevelLine(painter, ol, ot, orr, ot, w2, c2);
  BevelLine(painter, ol, ot, ol, ob, w2, c2);
  BevelLine(painter, orr, ob, ol, ob, w1, c1);
  BevelLine(painter, orr, ob, orr, ot, w1, c1);
  const int il = m.border, it = m.caption, ir = w - m.border, ib = h - m.border;
  BevelLine(painter, il, it, ir, it, w3, c3);
  BevelLine(painter, il, it, il, ib, w3, c3);
  BevelLine(painter, ir, ib, il, ib, w4, c4);
  BevelLine(painter, ir, ib, ir, it, w4, c4);
  painter.restore();
}

int SkinnedFrame::HitTest(QPoint pos) const {
  const SkinMetrics m = Metrics();
  int corner = 0;
  if (corner_ == Corner::Skin)
    corner = m.grip;
  else if (corner_ == Corner::Fixed)
    corner = fixedCorner_;
  return FrameHitTest(pos, window_->size(), m.caption, corner);
}

bool SkinnedFrame::MousePress(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return false;
  const int hit = HitTest(event->position().toPoint());
  if (hit == HTCLIENT) return false;
  QWindow* handle = window_->windowHandle();
  const bool byServer =
      handle != nullptr &&
      (hit == HTCAPTION ? handle->startSystemMove()
                        : handle->startSystemResize(Qt::BottomEdge | Qt::RightEdge));
  if (!byServer) {
    drag_ = hit == HTCAPTION ? Drag::Move : Drag::Size;
    dragStart_ = event->globalPosition().toPoint();
    dragGeometry_ = window_->geometry();
  }
  event->accept();
  return true;
}

bool SkinnedFrame::MouseMove(QMouseEvent* event) {
  if (drag_ == Drag::None) return false;
  const QPoint delta = event->globalPosition().toPoint() - dragStart_;
  if (drag_ == Drag::Move) {
    window_->move(dragGeometry_.topLeft() + delta);
  } else {
    const QSize size = dragGeometry_.size() + QSize(delta.x(), delta.y());
    window_->resize(size.expandedTo(window_->minimumSize()).expandedTo(QSize(1, 1)));
  }
  return true;
}

bool SkinnedFrame::MouseRelease(QMouseEvent* event) {
  if (drag_ == Drag::None || event->button() != Qt::LeftButton) return false;
  drag_ = Drag::None;
  return true;
}

bool SkinnedFrame::eventFilter(QObject* watched, QEvent* event) {
  if (watched != window_) return false;
  switch (event->type()) {
    case QEvent::Paint: {
      // Painted under whatever the window paints itself.
      QPainter painter(window_);
      Paint(painter);
      return false;
    }
    case QEvent::Resize:
    case QEvent::Show:
      ApplyShape();
      return false;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
      return MousePress(static_cast<QMouseEvent*>(event));
    case QEvent::MouseMove:
      return MouseMove(static_cast<QMouseEvent*>(event));
    case QEvent::MouseButtonRelease:
      return MouseRelease(static_cast<QMouseEvent*>(event));
    default:
      return false;
  }
}

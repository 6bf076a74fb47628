#include "SkinArt.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <algorithm>

namespace skinart {
namespace {

// Palette: a deep teal caption and frame around the program's cream client colour, with amber
// and the message line's cyan as accents.
const QColor kCream(255, 253, 234);
const QColor kCaptionTop(0x2B, 0x70, 0x82);
const QColor kCaptionBottom(0x0E, 0x3A, 0x47);
const QColor kFrame(0x0F, 0x3D, 0x4A);
const QColor kFrameHatch(0x14, 0x47, 0x55);
const QColor kAmber(0xF2, 0xB1, 0x47);
const QColor kAmberDark(0xD0, 0x84, 0x1C);
const QColor kCyan(24, 214, 210);
const QColor kInk(0x0B, 0x2F, 0x3A);
const QColor kGlyph(0xFF, 0xF6, 0xDA);

QColor Mix(const QColor& a, const QColor& b, double t) {
  t = std::clamp(t, 0.0, 1.0);
  return QColor::fromRgbF(static_cast<float>(a.redF() + (b.redF() - a.redF()) * t),
                          static_cast<float>(a.greenF() + (b.greenF() - a.greenF()) * t),
                          static_cast<float>(a.blueF() + (b.blueF() - a.blueF()) * t));
}

// Caption colour of window row y; the title buttons bake the same rows behind their face.
QColor CaptionAt(int y) {
  return Mix(kCaptionTop, kCaptionBottom, y / double(kCaptionHeight - 1));
}

QImage NewImage(int w, int h, const QColor& fill) {
  QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
  img.fill(fill);
  return img;
}

QFont Font(int pixelSize, int weight, double spacing = 0) {
  QFont f(QStringLiteral("DejaVu Sans"));
  f.setStyleHint(QFont::SansSerif);
  f.setPixelSize(pixelSize);
  f.setWeight(static_cast<QFont::Weight>(weight));
  if (spacing != 0) f.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
  f.setHintingPreference(QFont::PreferFullHinting);
  return f;
}

// A dark teal panel with rounded corners on the cream client colour, as the pictures sit on the
// client background.
void Panel(QPainter& p, const QRectF& r, double radius) {
  QLinearGradient g(r.topLeft(), r.bottomLeft());
  g.setColorAt(0, QColor(0x1D, 0x5D, 0x6E));
  g.setColorAt(0.55, QColor(0x12, 0x46, 0x55));
  g.setColorAt(1, QColor(0x0B, 0x33, 0x3F));
  p.setPen(QPen(QColor(0x08, 0x2A, 0x33), 1));
  p.setBrush(g);
  p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
  // Soft top highlight.
  p.setPen(QPen(QColor(255, 255, 255, 50), 1));
  p.drawLine(QPointF(r.left() + radius, r.top() + 1.5), QPointF(r.right() - radius, r.top() + 1.5));
}

// The program's emblem: an amber tile with a film strip folded into a V.
void Emblem(QPainter& p, const QRectF& r) {
  QLinearGradient g(r.topLeft(), r.bottomLeft());
  g.setColorAt(0, kAmber);
  g.setColorAt(1, kAmberDark);
  p.setPen(QPen(QColor(0x8A, 0x52, 0x0C), 1));
  p.setBrush(g);
  const double rad = r.width() * 0.22;
  p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), rad, rad);
  // The V: two strips meeting at the bottom, each with sprocket holes.
  const double w = r.width(), h = r.height();
  const QPointF top1(r.left() + w * 0.20, r.top() + h * 0.20);
  const QPointF top2(r.left() + w * 0.80, r.top() + h * 0.20);
  const QPointF tip(r.left() + w * 0.50, r.top() + h * 0.82);
  QPen strip(kInk, w * 0.20, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  p.setPen(strip);
  p.setBrush(Qt::NoBrush);
  QPainterPath v;
  v.moveTo(top1);
  v.lineTo(tip);
  v.lineTo(top2);
  p.drawPath(v);
  p.setPen(Qt::NoPen);
  p.setBrush(kAmber);
  for (const auto& [a, b] : {std::pair{top1, tip}, std::pair{top2, tip}}) {
    for (double t : {0.18, 0.48, 0.78}) {
      const QPointF c = a + (b - a) * t;
      p.drawRect(QRectF(c.x() - w * 0.035, c.y() - w * 0.035, w * 0.07, w * 0.07));
    }
  }
}

}  // namespace

QImage CaptionPattern() {
  QImage img = NewImage(8, kCaptionHeight, Qt::black);
  for (int y = 0; y < kCaptionHeight; ++y) {
    const QRgb c = CaptionAt(y).rgb();
    for (int x = 0; x < img.width(); ++x) img.setPixel(x, y, c);
  }
  return img;
}

QImage FramePattern() {
  QImage img = NewImage(8, 8, kFrame);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x)
      if ((x + y) % 4 == 0) img.setPixel(x, y, kFrameHatch.rgb());
  return img;
}

QImage ClientPattern() {
  return NewImage(8, 8, kCream);
}

QImage Logo() {
  QImage img = NewImage(kLogoWidth, kLogoHeight, kCream);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  Panel(p, QRectF(0, 0, kLogoWidth, kLogoHeight), 6);
  Emblem(p, QRectF(7, 10, 30, 30));
  // Word mark: drawn as a path so that it keeps its shape at any hinting.
  QPainterPath word;
  const QFont wf = Font(19, QFont::Bold, -0.5);
  word.addText(0, 0, wf, QStringLiteral("Vantrel"));
  const QRectF wb = word.boundingRect();
  const double wx = 43 - wb.left(), wy = 27;
  p.translate(wx, wy);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0, 0, 0, 90));
  p.drawPath(word.translated(0.8, 1.0));
  QLinearGradient wg(0, wb.top(), 0, wb.bottom());
  wg.setColorAt(0, QColor(255, 253, 234));
  wg.setColorAt(1, QColor(0xF3, 0xE3, 0xB0));
  p.setBrush(wg);
  p.drawPath(word);
  p.resetTransform();
  // Tag line under the word, in amber.
  p.setFont(Font(7, QFont::DemiBold, 1.3));
  p.setPen(kAmber);
  p.drawText(QRectF(44, 31, 76, 10), Qt::AlignLeft | Qt::AlignVCenter,
             QStringLiteral("CLIP STUDIO"));
  return img;
}

QImage BottomStrip() {
  QImage img = NewImage(kStripWidth, kStripHeight, kCream);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  Panel(p, QRectF(0, 0, kStripWidth, kStripHeight), 6);

  // Left: the maker's web site (a click on the first 194 pixels opens it).
  const QPointF globe(20, 20);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(kCyan, 1.4));
  p.drawEllipse(globe, 9, 9);
  p.drawEllipse(globe, 4, 9);
  p.drawLine(QPointF(globe.x() - 9, globe.y()), QPointF(globe.x() + 9, globe.y()));
  p.drawLine(QPointF(globe.x(), globe.y() - 9), QPointF(globe.x(), globe.y() + 9));
  p.setFont(Font(12, QFont::Bold));
  p.setPen(kCyan);
  p.drawText(QRectF(36, 5, 156, 16), Qt::AlignLeft | Qt::AlignVCenter,
             QStringLiteral("www.vantrel.com"));
  p.setFont(Font(9, QFont::Normal));
  p.setPen(QColor(0xB9, 0xD3, 0xD6));
  p.drawText(QRectF(36, 21, 156, 13), Qt::AlignLeft | Qt::AlignVCenter,
             QStringLiteral("Updates, tips and support"));

  // Dividers around the quiet middle part.
  for (int x : {196, 314}) {
    p.setPen(QPen(QColor(0, 0, 0, 90), 1));
    p.drawLine(QPointF(x + 0.5, 8), QPointF(x + 0.5, 32));
    p.setPen(QPen(QColor(255, 255, 255, 40), 1));
    p.drawLine(QPointF(x + 1.5, 8), QPointF(x + 1.5, 32));
  }
  // Middle: a strip of film with what the program does.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x0A, 0x2C, 0x36));
  p.drawRoundedRect(QRectF(206, 9, 98, 22), 3, 3);
  p.setBrush(QColor(0x2B, 0x63, 0x70));
  for (int x = 209; x < 302; x += 7) {
    p.drawRect(QRectF(x, 10.5, 3.5, 2.5));
    p.drawRect(QRectF(x, 27, 3.5, 2.5));
  }
  p.setFont(Font(8, QFont::DemiBold, 0.6));
  p.setPen(QColor(0xE9, 0xDF, 0xBC));
  p.drawText(QRectF(206, 13, 98, 14), Qt::AlignCenter, QStringLiteral("CUT · JOIN · PLAY"));

  // Right: the About area (a click from window x 322 on opens the About box).
  const QPointF info(336, 20);
  QRadialGradient ig(info - QPointF(3, 3), 12);
  ig.setColorAt(0, kAmber.lighter(115));
  ig.setColorAt(1, kAmberDark);
  p.setBrush(ig);
  p.setPen(QPen(QColor(0x8A, 0x52, 0x0C), 1));
  p.drawEllipse(info, 9, 9);
  p.setPen(Qt::NoPen);
  p.setBrush(kInk);
  p.drawEllipse(QPointF(info.x(), info.y() - 4.5), 1.6, 1.6);
  p.drawRoundedRect(QRectF(info.x() - 1.4, info.y() - 1.5, 2.8, 7.5), 1, 1);
  p.setFont(Font(12, QFont::Bold));
  p.setPen(kCream);
  p.drawText(QRectF(352, 5, 112, 16), Qt::AlignLeft | Qt::AlignVCenter,
             QStringLiteral("About Vantrel"));
  p.setFont(Font(9, QFont::Normal));
  p.setPen(QColor(0xB9, 0xD3, 0xD6));
  p.drawText(QRectF(352, 21, 112, 13), Qt::AlignLeft | Qt::AlignVCenter,
             QStringLiteral("Version 1.0"));
  return img;
}

QImage TitleButton(int kind, int state) {
  // Title buttons sit at window row 5 (the system button at row 4, where the dialog places it);
  // the caption rows behind them are baked in, and the face always covers window rows 5 to 18.
  const int y0 = kind == 3 ? 4 : 5;
  QImage img = NewImage(kButtonSize, kButtonSize, Qt::black);
  for (int y = 0; y < kButtonSize; ++y) {
    const QRgb c = CaptionAt(y0 + y).rgb();
    for (int x = 0; x < kButtonSize; ++x) img.setPixel(x, y, c);
  }
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  const bool pressed = state == 0, hot = state == 2, hover = state == 3, disabled = state == 4;
  const QRectF face(1.5, 5 - y0 + 0.5, 13, 13);

  // Face: quiet on the caption until the mouse comes; the quit button turns red, the system
  // button is always the amber emblem.
  QColor top, bottom, edge;
  if (kind == 3) {
    top = hover || hot ? kAmber.lighter(112) : kAmber;
    bottom = pressed ? QColor(0xB0, 0x6C, 0x12) : kAmberDark;
    if (pressed) top = kAmberDark;
    edge = QColor(0x6E, 0x40, 0x08);
    if (disabled) {
      top = QColor(0x7A, 0x8C, 0x8E);
      bottom = QColor(0x5E, 0x70, 0x72);
      edge = QColor(0x3C, 0x4E, 0x52);
    }
  } else if (hover || hot || pressed) {
    const bool quit = kind == 0;
    if (pressed) {
      top = quit ? QColor(0xA3, 0x2C, 0x26) : QColor(0x0A, 0x2E, 0x38);
      bottom = quit ? QColor(0xC2, 0x3E, 0x36) : QColor(0x16, 0x48, 0x56);
    } else {
      top = quit ? QColor(0xEE, 0x6A, 0x5E) : QColor(0x4F, 0x9E, 0xB0);
      bottom = quit ? QColor(0xC8, 0x3A, 0x31) : QColor(0x2A, 0x74, 0x86);
      if (hot) {
        top = top.darker(112);
        bottom = bottom.darker(112);
      }
    }
    edge = QColor(0x06, 0x22, 0x2A);
  } else {
    top = QColor(255, 255, 255, disabled ? 14 : 34);
    bottom = QColor(255, 255, 255, disabled ? 6 : 12);
    edge = QColor(0, 0, 0, disabled ? 50 : 90);
  }
  QLinearGradient g(face.topLeft(), face.bottomLeft());
  g.setColorAt(0, top);
  g.setColorAt(1, bottom);
  p.setPen(QPen(edge, 1));
  p.setBrush(g);
  p.drawRoundedRect(face, 3, 3);
  if (!pressed && !disabled) {
    p.setPen(QPen(QColor(255, 255, 255, 60), 1));
    p.drawLine(QPointF(face.left() + 2.5, face.top() + 1.2),
               QPointF(face.right() - 2.5, face.top() + 1.2));
  }

  // Glyph, one pixel down and right while pressed.
  const QPointF c = face.center() + (pressed ? QPointF(0.6, 0.6) : QPointF(0, 0));
  QColor ink = disabled ? QColor(255, 255, 255, 80) : kGlyph;
  if (kind == 3) ink = disabled ? QColor(0x2E, 0x3E, 0x42) : kInk;
  QPen pen(ink, 1.7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  p.setPen(pen);
  p.setBrush(Qt::NoBrush);
  switch (kind) {
    case 0:  // quit: a cross
      p.drawLine(c + QPointF(-3, -3), c + QPointF(3, 3));
      p.drawLine(c + QPointF(-3, 3), c + QPointF(3, -3));
      break;
    case 1:  // maximize: a window with a heavy top
      p.setPen(QPen(ink, 1.3));
      p.drawRect(QRectF(c.x() - 3.5, c.y() - 3.5, 7, 7));
      p.setPen(QPen(ink, 1.6));
      p.drawLine(c + QPointF(-3.5, -2.8), c + QPointF(3.5, -2.8));
      break;
    case 2:  // minimize: a bar along the bottom
      p.setPen(QPen(ink, 2.0, Qt::SolidLine, Qt::FlatCap));
      p.drawLine(c + QPointF(-3.5, 3), c + QPointF(3.5, 3));
      break;
    default: {  // system: the V of the emblem
      QPen v(ink, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
      p.setPen(v);
      QPainterPath path;
      path.moveTo(c + QPointF(-3.3, -2.8));
      path.lineTo(c + QPointF(0, 3.2));
      path.lineTo(c + QPointF(3.3, -2.8));
      p.drawPath(path);
      break;
    }
  }
  return img;
}

}  // namespace skinart

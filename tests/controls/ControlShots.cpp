// Renders the custom controls in their normal, hovered and pressed states into PNG files:
// controls_shots <folder>.
#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QTest>

#include "CQmvButton.h"
#include "CQmvSel.h"
#include "CRoundButton.h"
#include "CXStatic.h"
#include "StaticDisplay.h"

namespace {

// A small title-button picture in the manner of a skin: rounded tile with a glyph.
QPixmap TitleButton(QColor face, QColor glyph) {
  QPixmap pm(18, 16);
  pm.fill(QColor(58, 74, 110));
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient g(0, 0, 0, 16);
  g.setColorAt(0, face.lighter(130));
  g.setColorAt(1, face);
  p.setBrush(g);
  p.setPen(face.darker(160));
  p.drawRoundedRect(QRectF(1.5, 1.5, 15, 13), 3, 3);
  p.setPen(QPen(glyph, 2));
  p.drawLine(6, 5, 12, 11);
  p.drawLine(12, 5, 6, 11);
  return pm;
}

void Save(QWidget* w, const QString& dir, const QString& name, int zoom = 3) {
  QImage img = w->grab().toImage();
  img.save(dir + "/" + name + ".png");
  img.scaled(img.size() * zoom, Qt::IgnoreAspectRatio, Qt::FastTransformation)
      .save(dir + "/" + name + "_x" + QString::number(zoom) + ".png");
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const QString dir = argc > 1 ? argv[1] : "/tmp/controls_shots";
  QDir().mkpath(dir);

  QWidget win;
  win.resize(480, 300);
  win.setAutoFillBackground(true);
  QPalette pal = win.palette();
  pal.setColor(QPalette::Window, ToQColor(0xEAFDFF));
  win.setPalette(pal);
  QFont dlg("Tahoma");
  dlg.setPixelSize(11);
  win.setFont(dlg);

  auto* fn = new CQmvSel(&win);
  fn->setGeometry(DluRect(7, 48, 81, 61));
  fn->SetNotifyWnd(&win);
  fn->SetBkColor(0xEAFDFF);
  fn->SetTextColor(0x0A0C0C, 0x0000FF);
  fn->CreateFont("Sylfaen", 16);
  for (const char* t : {"Clip Merge", "Video Montage", "Video Export"}) fn->AddItem(t);
  fn->SetItemGap(14);
  fn->SetMargins(8, 8);

  auto* out = new CQmvSel(&win);
  out->setGeometry(DluRect(95, 54, 212, 81));
  out->SetNotifyWnd(&win);
  out->SetBkColor(0xEAFDFF);
  out->SetTextColor(0x0A0C0C, 0x0CFF15);
  out->CreateFont("Tohoma", 14);
  for (const char* t : {"Primary Mornitor", "S-Video", "Composite Video", "Secondary Mornitor",
                        "Digital DV Tape(Camcorder)"})
    out->AddItem(t);
  out->SetItemGap(6);
  out->SetMargins(10, 2);
  out->SetTextFormat(0x24);
  out->SetBorder(true, 0xC0C0C0);
  out->SetFill(true, 0xEBF7DC, 0xFFCFC4);

  auto* title = new CXStatic(&win);
  title->setGeometry(DluRect(94, 21, 91, 14));
  title->SetBkColor(0xEAFDFF);
  title->SetTextColor(0xD5797D);
  title->SetTextFont("Tohoma", 22, true, false, true);
  title->SetTextMode(true);
  title->SetFormat(0x24);
  title->SetDrawRect(QRect(QPoint(0, 0), title->size()));
  title->SetText("Video Export");

  auto* label = new CXStatic(&win);
  label->setGeometry(DluRect(7, 170, 42, 11));
  label->SetBkColor(0);
  label->SetTextColor(0x1780D6);
  label->SetTextFont("Arial", 16, true, false, false);
  label->SetTextMode(true);
  label->SetFormat(0x24);
  label->SetDrawRect(QRect(QPoint(0, 0), label->size()));
  label->SetText("Message:");
  auto* msg = new CXStatic(&win);
  msg->setGeometry(DluRect(48, 170, 265, 11));
  msg->SetBkColor(0);
  msg->SetTextColor(0xD2D618);
  msg->SetTextFont("Tohoma", 16, false, false, false);
  msg->SetTextMode(true);
  msg->SetFormat(0x24);
  msg->SetDrawRect(QRect(QPoint(0, 0), msg->size()));
  msg->SetText("Export video to Composite Video");

  auto* screen = new CXStatic(&win);
  screen->setGeometry(DluRect(7, 113, 81, 54));
  screen->SetBkColor(0x000002);
  StaticDisplay disp(screen);
  {
    // A test card: colour bars, as the engine would hand them (B, G, R, X; bottom-up).
    const int w = 160, h = 90, stride = w * 4;
    std::vector<uint8_t> bits(stride * h);
    const QColor bars[] = {Qt::white,   Qt::yellow, Qt::cyan, Qt::green,
                           Qt::magenta, Qt::red,    Qt::blue};
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const QColor c = bars[x * 7 / w];
        uint8_t* px = &bits[(h - 1 - y) * stride + x * 4];
        px[0] = c.blue(), px[1] = c.green(), px[2] = c.red(), px[3] = 0;
      }
    int cw = 0, ch = 0;
    disp.GetClientSize(&cw, &ch);
    const int dh = cw * h / w;
    disp.DrawImage(bits.data() + (h - 1) * stride, w, h, -stride, 0, (ch - dh) / 2, cw, dh);
  }

  const char* names[] = {"Start", "Stop", "Browse", "Merge", "Play"};
  CRoundButton* rb[5];
  for (int i = 0; i < 5; ++i) {
    rb[i] = new CRoundButton(names[i], &win);
    rb[i]->setGeometry(DluRect(96 + i * 44, 152, 40, 12));
  }
  rb[4]->setEnabled(false);

  auto* quit = new CQmvButton(&win);
  quit->move(win.width() - 22, 4);
  quit->LoadBitmaps(TitleButton(QColor(70, 110, 190), Qt::white),
                    TitleButton(QColor(150, 40, 30), Qt::white),
                    TitleButton(QColor(220, 80, 60), Qt::white),
                    TitleButton(QColor(140, 140, 140), QColor(200, 200, 200)),
                    TitleButton(QColor(90, 140, 220), Qt::white));
  quit->SizeToContent();

  win.show();
  if (!QTest::qWaitForWindowExposed(&win)) return 1;
  Save(&win, dir, "panel_normal", 2);

  // Picks and hover.
  QTest::mouseClick(fn, Qt::LeftButton, {}, fn->Model().ItemRect(2, fn->width()).center());
  QTest::mouseMove(fn, fn->Model().ItemRect(0, fn->width()).center());
  QTest::mouseClick(out, Qt::LeftButton, {}, out->Model().ItemRect(2, out->width()).center());
  QTest::mouseMove(out, out->Model().ItemRect(0, out->width()).center());
  Save(fn, dir, "selector_function_hot_picked");
  Save(out, dir, "selector_output_hot_picked", 2);

  Save(rb[0], dir, "round_normal", 4);
  QTest::mouseMove(&win, rb[0]->geometry().center());
  Save(rb[0], dir, "round_hovered", 4);
  rb[0]->setDown(true);
  Save(rb[0], dir, "round_pressed", 4);
  rb[0]->setDown(false);
  rb[1]->setFocus();
  QApplication::processEvents();
  Save(rb[1], dir, "round_focused", 4);
  Save(rb[4], dir, "round_disabled", 4);

  Save(quit, dir, "bitmap_normal", 4);
  QTest::mouseMove(&win, quit->geometry().center());
  Save(quit, dir, "bitmap_hovered", 4);
  quit->setDown(true);
  Save(quit, dir, "bitmap_pressed", 4);
  quit->setDown(false);

  Save(&win, dir, "panel_states", 2);
  return 0;
}

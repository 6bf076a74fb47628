// Screenshots of the player window for review, on an X server: player_shots <folder> [clip]
// writes idle.png (nothing playing) and, with a clip and a working engine, playing.png (the clip
// playing in the window).
#include <QApplication>
#include <QScreen>
#include <QTest>

#include "CPlayerWnd.h"

namespace {

void Shot(const QWidget& wnd, const QString& file) {
  const QRect g = wnd.frameGeometry();
  QGuiApplication::primaryScreen()->grabWindow(0, g.x(), g.y(), g.width(), g.height()).save(file);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 2) return 2;
  const QString dir = argv[1];
  QWidget owner;
  CPlayerWnd wnd(&owner);
  wnd.move(60, 60);
  wnd.show();
  if (!QTest::qWaitForWindowExposed(&wnd)) return 1;
  QTest::qWait(300);
  Shot(wnd, dir + "/idle.png");
  if (argc >= 3 && wnd.EngineLoaded()) {
    wnd.ResetEngine();
    wnd.UseMixingRenderer();
    wnd.OpenClip(argv[2], nullptr);
    wnd.PlayOrStop(0);
    QTest::qWait(1500);
    Shot(wnd, dir + "/playing.png");
  }
  SendMsg(&wnd, WM_PLAYER_COMMAND, 5, 0);
  return 0;
}

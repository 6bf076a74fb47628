// Writes the program's icon, as the program draws it, to a PNG file: vantrel-icon SIZE FILE.
#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>
#include <cstdio>
#include <cstdlib>

#include "AppIcon.h"

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "Usage: vantrel-icon SIZE FILE.png\n");
    return 2;
  }
  const int size = std::atoi(argv[1]);
  const QPixmap pm = MakeAppIcon().pixmap(size, size);
  if (pm.isNull() || pm.width() != size || !pm.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
    std::fprintf(stderr, "vantrel-icon: cannot write a %dx%d icon to %s\n", size, size, argv[2]);
    return 1;
  }
  return 0;
}

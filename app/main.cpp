// Vantrel: cuts and joins Windows Media clips without re-encoding.
#include <QApplication>

#include "CVantrelApp.h"

int main(int argc, char** argv) {
  QApplication qapp(argc, argv);
  QApplication::setOrganizationName("Vantrel");
  QApplication::setApplicationName("Vantrel");
  const QStringList args = QApplication::arguments();
  CVantrelApp app;
  app.InitInstance(args.size() > 1 ? args.at(1).toStdString() : std::string());
  return app.ExitInstance();
}

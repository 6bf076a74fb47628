// Renders the main window in each pane, with a clip open and sections marked, into PNG files:
// app_shots <folder> <clip>.
#include <QApplication>
#include <QTest>

#include "AboutBoxes.h"
#include "CQmvSld.h"
#include "CVantrelDlg.h"
#include "MontagePane.h"
#include "PaneDriver.h"

namespace {

void Pick(CVantrelDlg& dlg, const char* item) {
  const QString text(item);
  SendMsg(&dlg, WM_SELECTOR_PICK, 0, reinterpret_cast<LPARAM>(&text));
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (argc < 3) return 2;
  const QString dir = argv[1];
  CVantrelDlg dlg;
  dlg.showSkinnedAbout = [] {};
  dlg.OnInitDialog();
  dlg.show();
  QApplication::processEvents();
  dlg.grab().save(dir + "/start.png");
  {
    CSkinnedAbout about(&dlg);
    about.show();
    QApplication::processEvents();
    about.grab().save(dir + "/about.png");
  }

  dlg.OpenMontageClip(argv[2]);
  // The key frame ticks appear once the background listing is done.
  for (int i = 0; i < 200 && dlg.Montage()->KeyFrames().empty(); ++i) {
    QApplication::processEvents();
    QTest::qWait(10);
  }
  for (auto [from, to] : {std::pair{2000, 5000}, {9000, 11000}, {15000, 21000}})
    MarkSection(dlg, from, to);
  ClickCell(dlg, 1005, 1, 2);
  QApplication::processEvents();
  dlg.grab().save(dir + "/montage.png");

  Pick(dlg, "Clip Merge");
  dlg.OnDropFiles({argv[2], argv[2]});
  ClickCell(dlg, 1035, 1, 0);
  QApplication::processEvents();
  dlg.grab().save(dir + "/merge.png");

  Pick(dlg, "Video Export");
  Pick(dlg, "S-Video");
  QApplication::processEvents();
  dlg.grab().save(dir + "/export.png");
  dlg.DestroyWindow();
  return 0;
}

#include "CVantrelApp.h"

#include <QSettings>

#include "CVantrelDlg.h"
#include "ClipFile.h"
#include "DbgLog.h"

std::string CVantrelApp::ResolveInstallFolder() {
  QSettings settings("Vantrel", "Vantrel");
  std::string folder = settings.value("Settings/InstallFolder", QString()).toString().toStdString();
  if (folder.empty()) {
    const std::string exe = dbglog::ExecutablePath();
    const auto slash = exe.rfind('/');
    folder = slash == std::string::npos ? std::string(".") : exe.substr(0, slash);
  }
  return folder;
}

int CVantrelApp::InitInstance(const std::string& clip) {
  SetInstallFolder(ResolveInstallFolder());
  CVantrelDlg dlg;
  dlg.OnInitDialog();
  if (!clip.empty()) dlg.OpenMontageClip(QString::fromStdString(clip));
  dlg.DoModal();
  return 0;
}

int CVantrelApp::ExitInstance() {
  return 0;
}

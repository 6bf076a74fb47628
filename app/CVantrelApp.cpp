#include "CVantrelApp.h"

#include "CVantrelDlg.h"
#include "ClipFile.h"
#include "InstallSettings.h"

std::string CVantrelApp::ResolveInstallFolder() {
  return ::ResolveInstallFolder();
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

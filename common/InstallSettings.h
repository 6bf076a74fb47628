// Where the program and the command line load their companion libraries from. Header only: it
// needs Qt's settings, which only those two link.
#pragma once

#include <QSettings>
#include <QString>
#include <string>

#include "DbgLog.h"

// "Settings"/"InstallFolder" of the per-user profile; when empty, the folder of the running
// executable.
inline std::string ResolveInstallFolder() {
  QSettings settings("Vantrel", "Vantrel");
  std::string folder = settings.value("Settings/InstallFolder", QString()).toString().toStdString();
  if (folder.empty()) {
    const std::string exe = dbglog::ExecutablePath();
    const auto slash = exe.rfind('/');
    folder = slash == std::string::npos ? std::string(".") : exe.substr(0, slash);
  }
  return folder;
}

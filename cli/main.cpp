// vantrel-cli: clip figures, montage and merge from a terminal.
#include <unistd.h>

#include <QSettings>
#include <QString>
#include <string>
#include <vector>

#include "Cli.h"
#include "ClipFile.h"
#include "DbgLog.h"

namespace {

// Where the program loads its libraries from, found as the program finds it: the per-user
// profile's "Settings"/"InstallFolder", else the folder of the running executable.
std::string ResolveInstallFolder() {
  QSettings settings("Vantrel", "Vantrel");
  std::string folder = settings.value("Settings/InstallFolder", QString()).toString().toStdString();
  if (folder.empty()) {
    const std::string exe = dbglog::ExecutablePath();
    const auto slash = exe.rfind('/');
    folder = slash == std::string::npos ? std::string(".") : exe.substr(0, slash);
  }
  return folder;
}

}  // namespace

int main(int argc, char** argv) {
  SetInstallFolder(ResolveInstallFolder());
  CliIo io;
  io.progressBar = isatty(STDERR_FILENO) == 1;
  return RunCli(std::vector<std::string>(argv + 1, argv + argc), io);
}

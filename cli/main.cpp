// vantrel-cli: clip figures, montage and merge from a terminal.
#include <unistd.h>

#include <string>
#include <vector>

#include "Cli.h"
#include "ClipFile.h"
#include "InstallSettings.h"

int main(int argc, char** argv) {
  SetInstallFolder(ResolveInstallFolder());
  CliIo io;
  io.progressBar = isatty(STDERR_FILENO) == 1;
  return RunCli(std::vector<std::string>(argv + 1, argv + argc), io);
}

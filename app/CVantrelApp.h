// The application object: settles the install folder and runs the main window.
#pragma once

#include <string>

class CVantrelApp {
 public:
  // Reads "Settings"/"InstallFolder" from the per-user profile; when empty, the folder of the
  // running executable. The result is where the companion libraries are loaded from.
  static std::string ResolveInstallFolder();

  // Runs the main window until its quit button ends it; `clip` (may be empty) is opened in
  // Video Montage at start. Returns the process exit code.
  int InitInstance(const std::string& clip);
  int ExitInstance();
};

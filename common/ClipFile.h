// Helpers every pane uses before working on a path.
#pragma once

#include <cstdint>
#include <string>

// True when the text after the last "." of the path (the whole path without one), in lower case,
// is "qmv" or "wmv".
bool IsClipFile(const std::string& path);

// Folder the program loads its libraries from: set at start-up, else the executable's folder.
void SetInstallFolder(const std::string& folder);
std::string InstallFolder();

// The clip's length in ms as the clip information library reads it; 0 when the path is not a
// clip, or the library or one of its functions is missing.
uint32_t GetClipLength(const std::string& path);

// The clip's frame rate as the clip information library reads it; 0 when it has no pictures, the
// path is not a clip, or the library or one of its functions is missing.
double GetClipFrameRate(const std::string& path);

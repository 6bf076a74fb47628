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

// The clip's length and its frame rate from one opening of the clip; the frame rate is 0 when the
// clip has no pictures, and either is 0 when the path is not a clip, or the library or one of its
// functions is missing.
struct ClipFigures {
  uint32_t lengthMs = 0;
  double frameRate = 0;
};
ClipFigures GetClipFigures(const std::string& path);

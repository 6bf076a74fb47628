// A scratch folder per test, removed afterwards, and clips generated into it.
#pragma once

#include <filesystem>
#include <string>

#include "ClipGen.h"

namespace testutil {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::filesystem::path& Path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Generates a clip (or fails the calling test) and returns its path.
std::string MakeClip(const TempDir& dir, const std::string& name, const clipgen::ClipSpec& params);

// Files in a folder, hidden ones included.
int CountFiles(const std::filesystem::path& dir);

}  // namespace testutil

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

// A 256 KiB tmpfs mounted on a fresh folder for as long as the object lives, so a copy runs out
// of space part way; Mounted() is false where mounting is not allowed (not root).
class SmallDisk {
 public:
  explicit SmallDisk(const std::filesystem::path& where);
  ~SmallDisk();
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;
  bool Mounted() const { return mounted_; }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
  bool mounted_ = false;
};

// Files in a folder, hidden ones included.
int CountFiles(const std::filesystem::path& dir);

}  // namespace testutil

#include "TestDir.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/mount.h>

namespace testutil {

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "vantrel-test-XXXXXX").string();
  char* made = mkdtemp(tmpl.data());
  if (made == nullptr) throw std::runtime_error("cannot make a scratch folder");
  path_ = made;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

std::string MakeClip(const TempDir& dir, const std::string& name, const clipgen::ClipSpec& params) {
  std::string path = dir.File(name);
  std::string error;
  EXPECT_TRUE(clipgen::Generate(params, path, &error)) << error;
  return path;
}

int CountFiles(const std::filesystem::path& dir) {
  int n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir)) ++n;
  return n;
}

SmallDisk::SmallDisk(const std::filesystem::path& where) : path_(where) {
  std::filesystem::create_directories(path_);
  mounted_ = mount("tmpfs", path_.c_str(), "tmpfs", 0, "size=256k") == 0;
}

SmallDisk::~SmallDisk() {
  if (mounted_) umount(path_.c_str());
}

}  // namespace testutil

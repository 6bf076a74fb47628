// What the clip fuzzers share: the input as a file that lives only in memory, and a scratch
// folder for outputs that is gone with the object.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fuzzing {

// The bytes as an anonymous memory file, opened by path like any clip.
class MemoryClip {
 public:
  MemoryClip(const uint8_t* data, size_t size) {
    fd_ = memfd_create("clip", 0);
    if (fd_ < 0) std::abort();
    size_t done = 0;
    while (done < size) {
      ssize_t n = write(fd_, data + done, size - done);
      if (n <= 0) std::abort();
      done += static_cast<size_t>(n);
    }
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  ~MemoryClip() { close(fd_); }
  MemoryClip(const MemoryClip&) = delete;
  MemoryClip& operator=(const MemoryClip&) = delete;
  const char* Path() const { return path_.c_str(); }

 private:
  int fd_ = -1;
  std::string path_;
};

// A fresh folder under the temporary folder, removed with all it holds.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vantrel-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  std::string File(const char* name) const { return (path_ / name).string(); }
  // Files left in the folder.
  int Count() const {
    int n = 0;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(path_, ec);
         !ec && it != std::filesystem::directory_iterator(); ++it)
      ++n;
    return n;
  }

 private:
  std::filesystem::path path_;
};

// A broken promise of the code under test: reported like a crash, with the reason.
[[noreturn]] inline void Violated(const char* what) {
  std::fprintf(stderr, "fuzz invariant violated: %s\n", what);
  std::abort();
}

}  // namespace fuzzing

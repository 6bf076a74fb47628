// A file that stands in for a camcorder's tape: one camcorder in VTR mode that takes every
// transport command (each one is logged) and appends the DV stream to its file while it records.
// Only whole frames reach the file: a write that fails part way (disk full) is cut back to the
// last whole frame and stops the tape.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "Camcorder.h"
#include "DbgLog.h"
#include "QmvPlyEx.h"

namespace plyex {

namespace {

class FileCamcorder : public Camcorder {
 public:
  FileCamcorder(std::string path, bool paced) : path_(std::move(path)), paced_(paced) {}
  ~FileCamcorder() override { CloseFile(); }

  bool Bind() override { return !path_.empty(); }
  bool OpenDevice() override { return true; }
  int32_t DeviceType() override { return ED_DEVTYPE_VCR; }
  bool OpenTransport() override { return true; }

  bool SetMode(int32_t mode) override {
    std::lock_guard<std::mutex> guard(lock_);
    DbgLog(1, 4, "DV tape %s: %s\n", path_.c_str(), ModeName(mode));
    if (mode == ED_MODE_RECORD && fd_ < 0) {
      fd_ = open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
      if (fd_ < 0) {
        DbgLog(1, 4, "DV tape %s: cannot record: %s\n", path_.c_str(), std::strerror(errno));
        return false;
      }
      struct stat st {};
      size_ = fstat(fd_, &st) == 0 ? st.st_size : 0;
    }
    if (mode != ED_MODE_RECORD) CloseFile();
    mode_ = mode;
    return true;
  }

  int32_t Mode() const override {
    std::lock_guard<std::mutex> guard(lock_);
    return mode_;
  }

  bool BeginStream(const DvSystem&) override { return true; }

  bool WriteFrame(const uint8_t* frame, size_t size) override {
    std::lock_guard<std::mutex> guard(lock_);
    if (mode_ != ED_MODE_RECORD || fd_ < 0) return true;  // the tape is not moving: not recorded
    size_t done = 0;
    while (done < size) {
      const ssize_t n = write(fd_, frame + done, size - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      const int err = n < 0 ? errno : ENOSPC;
      DbgLog(1, 4, "DV tape %s: write failed: %s\n", path_.c_str(), std::strerror(err));
      // Whole frames only: the part of this one goes again.
      if (done > 0 && ftruncate(fd_, size_) != 0)
        DbgLog(1, 4, "DV tape %s: cannot cut the last frame: %s\n", path_.c_str(),
               std::strerror(errno));
      CloseFile();
      mode_ = ED_MODE_STOP;
      DbgLog(1, 4, "DV tape %s: %s\n", path_.c_str(), ModeName(mode_));
      return false;
    }
    size_ += static_cast<off_t>(size);
    return true;
  }

  bool Drain() override { return true; }
  void Interrupt() override {}
  void EndStream() override {}
  bool WantsClockPace() const override { return paced_; }

 private:
  void CloseFile() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

  const std::string path_;
  const bool paced_;
  mutable std::mutex lock_;
  int32_t mode_ = ED_MODE_STOP;
  int fd_ = -1;
  off_t size_ = 0;
};

class FileCamcorderBus : public CamcorderBus {
 public:
  FileCamcorderBus(std::string path, bool paced) : path_(std::move(path)), paced_(paced) {}
  bool Open() override { return true; }
  std::vector<std::unique_ptr<Camcorder>> Devices() override {
    std::vector<std::unique_ptr<Camcorder>> out;
    out.push_back(std::make_unique<FileCamcorder>(path_, paced_));
    return out;
  }

 private:
  std::string path_;
  bool paced_;
};

}  // namespace

std::unique_ptr<CamcorderBus> MakeFileCamcorderBus(const std::string& path, bool paced) {
  return std::make_unique<FileCamcorderBus>(path, paced);
}

}  // namespace plyex

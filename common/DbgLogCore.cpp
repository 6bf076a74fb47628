#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "DbgLog.h"

namespace dbglog {

bool Passes(const Filter& filter, int level) {
  return level < 0 || (filter.passHigh && level >= 4);
}

std::string ExecutablePath() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
  if (n <= 0) return {};
  return std::string(buf, static_cast<size_t>(n));
}

void DebuggerOutput(const char* text) {
  if (std::getenv("VANTREL_DEBUG") == nullptr) return;
  std::fputs(text, stderr);
}

int Write(const Filter& filter, const std::string& exePath, int toFile, int level,
          const char* format, va_list args) {
  char text[kTextLimit + 1];
  std::vsnprintf(text, sizeof(text), format, args);
  if (!Passes(filter, level)) return 0;
  DebuggerOutput(text);
  if (toFile == 0) return 0;

  if (exePath.empty()) return 0;
  const std::string path = exePath + filter.suffix;
  if (path.size() + 1 > static_cast<size_t>(kPathLimit)) return 0;

  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    FILE* created = std::fopen(path.c_str(), "wb");
    if (created == nullptr) return 0;
    std::fclose(created);
    DebuggerOutput("***Debug log file is created\n");
  }
  FILE* f = std::fopen(path.c_str(), "ab");
  if (f == nullptr) return 0;
  std::fwrite(text, 1, std::strlen(text), f);
  std::fclose(f);
  return 0;
}

}  // namespace dbglog

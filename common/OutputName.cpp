#include "OutputName.h"

#include <sys/stat.h>

#include <cstdio>

std::string TimedOutputName(const std::string& sourcePath, const std::string& tag,
                            const std::tm& localTime) {
  const size_t dot = sourcePath.rfind('.');
  const std::string base = dot == std::string::npos ? sourcePath : sourcePath.substr(0, dot);
  const std::string ext = dot == std::string::npos ? std::string() : sourcePath.substr(dot + 1);
  char stamp[96];
  std::snprintf(stamp, sizeof(stamp), "%d_%d_%d_%d_%d_%d", localTime.tm_year + 1900,
                localTime.tm_mon + 1, localTime.tm_mday, localTime.tm_hour, localTime.tm_min,
                localTime.tm_sec);
  return base + tag + stamp + "." + ext;
}

std::string NumberedOutputName(const std::string& name, int n) {
  if (n < 2) return name;
  const size_t slash = name.rfind('/');
  const size_t dot = name.rfind('.');
  // A "." in a folder name is no extension.
  const bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  const size_t at = hasExt ? dot : name.size();
  return name.substr(0, at) + "_" + std::to_string(n) + name.substr(at);
}

bool OutputNameTaken(const std::string& name) {
  struct stat st;
  return lstat(name.c_str(), &st) == 0;
}

std::string FreeOutputName(const std::string& name, int maxTries) {
  for (int n = 1; n <= maxTries; ++n) {
    const std::string candidate = NumberedOutputName(name, n);
    if (!OutputNameTaken(candidate)) return candidate;
  }
  return std::string();
}

std::string PercentOfJobText(double percent) {
  char text[32];
  std::snprintf(text, sizeof(text), "%%%0.0f", percent);
  return text;
}

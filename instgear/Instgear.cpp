#include "Instgear.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "Prefix.h"
#include "WindowClose.h"

namespace {

// The debugger output of this platform: standard error, only while VANTREL_DEBUG is set.
void DebuggerOutput(const char* text) {
  if (std::getenv("VANTREL_DEBUG") == nullptr) return;
  std::fputs(text, stderr);
}

constexpr uint32_t kDirectX9 = 0x90000;

}  // namespace

BOOL GetVmrVer(int32_t /*unused*/) {
  const uint32_t version =
      instgear::DirectXVersion(instgear::SystemDirectory(instgear::WinePrefix()));
  char line[64];
  std::snprintf(line, sizeof(line), "DirectX Version=0x%08x\n", version);
  DebuggerOutput(line);
  return version >= kDirectX9 ? 1 : 0;
}

BOOL KillApp(const char* title) {
  return instgear::CloseWindowTitled(title) == instgear::CloseResult::Sent ? 1 : 0;
}

int32_t KillHost(void) {
  return instgear::CloseWindowTitled("host") == instgear::CloseResult::Sent ? 1 : 0;
}

BOOL ARInstalled(void) {
  const std::filesystem::path prefix = instgear::WinePrefix();
  if (prefix.empty()) return 0;
  std::ifstream file(prefix / "system.reg", std::ios::binary);
  if (!file) return 0;
  return instgear::RegistryHasKey(file, {"Software\\Adobe\\Acrobat Reader",
                                         "Software\\Wow6432Node\\Adobe\\Acrobat Reader"})
             ? 1
             : 0;
}

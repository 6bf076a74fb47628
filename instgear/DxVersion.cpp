#include <map>
#include <optional>
#include <string>
#include <system_error>

#include "PeVersion.h"
#include "Prefix.h"

namespace instgear {

namespace {

constexpr uint32_t Dx(uint32_t major, uint32_t minor, uint32_t letter = 0) {
  return (major << 16) | (minor << 8) | letter;
}

struct Row {
  const char* file;
  uint64_t minimum;        // for any major part, or for major part 4 when byMajor is set
  uint64_t minimumMajor5;  // used when byMajor is set and the major part is 5
  bool byMajor;            // only files of major part 4 or 5 can pass
  uint32_t directX;
};

constexpr uint64_t V(uint16_t a, uint16_t b, uint16_t c, uint16_t d) {
  return FileVersion(a, b, c, d);
}

// Tested in order; every passing row sets the version, so the last one that passes wins.
constexpr Row kRows[] = {
    {"ddraw.dll", V(4, 2, 0, 95), 0, false, Dx(1, 0)},
    {"ddraw.dll", V(4, 3, 0, 1096), 0, false, Dx(2, 0)},
    {"ddraw.dll", V(4, 4, 0, 68), 0, false, Dx(3, 0)},
    {"d3drg8x.dll", V(4, 4, 0, 70), 0, false, Dx(3, 0, 1)},
    {"ddraw.dll", V(4, 5, 0, 155), 0, false, Dx(5, 0)},
    {"ddraw.dll", V(4, 6, 0, 318), 0, false, Dx(6, 0)},
    {"ddraw.dll", V(4, 6, 0, 436), 0, false, Dx(6, 1)},
    {"dplayx.dll", V(4, 6, 3, 518), 0, false, Dx(6, 1, 1)},
    {"ddraw.dll", V(4, 7, 0, 700), 0, false, Dx(7, 0)},
    {"dinput.dll", V(4, 7, 0, 716), 0, false, Dx(7, 0, 1)},
    {"ddraw.dll", V(4, 8, 0, 400), V(5, 1, 2258, 400), true, Dx(8, 0)},
    {"d3d8.dll", V(4, 8, 1, 881), V(5, 1, 2600, 881), true, Dx(8, 1)},
    {"d3d8.dll", V(4, 8, 1, 901), V(5, 1, 2600, 901), true, Dx(8, 1, 1)},
    {"mpg2splt.ax", V(6, 3, 1, 885), 0, false, Dx(8, 1, 2)},
    {"dpnet.dll", V(4, 9, 0, 134), V(5, 2, 3677, 134), true, Dx(8, 2)},
};
// Any readable version of this one means 9.0, and nothing after it is looked at.
constexpr const char* kDirectX9File = "d3d9.dll";

bool Passes(const Row& row, uint64_t version) {
  if (!row.byMajor) return version >= row.minimum;
  switch (MajorPart(version)) {
    case 4:
      return version >= row.minimum;
    case 5:
      return version >= row.minimumMajor5;
    default:
      return false;
  }
}

}  // namespace

uint32_t DirectXVersion(const std::filesystem::path& systemDir) {
  std::error_code ec;
  if (!std::filesystem::is_directory(systemDir, ec)) return 0;

  std::map<std::string, std::optional<uint64_t>> versions;  // each file is read once
  auto versionOf = [&](const char* name) {
    auto it = versions.find(name);
    if (it == versions.end()) {
      const std::filesystem::path file = FindFile(systemDir, name);
      it = versions.emplace(name, file.empty() ? std::nullopt : ReadFileVersion(file)).first;
    }
    return it->second;
  };

  uint32_t result = 0;
  for (const Row& row : kRows) {
    const std::optional<uint64_t> version = versionOf(row.file);
    if (version && Passes(row, *version)) result = row.directX;
  }
  if (versionOf(kDirectX9File)) result = Dx(9, 0);
  return result;
}

}  // namespace instgear

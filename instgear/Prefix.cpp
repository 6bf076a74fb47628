#include "Prefix.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <system_error>

namespace instgear {

namespace {

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | ((cp >> 12) & 0x0F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = Lower(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The key of a section line "[Software\\Adobe\\Acrobat Reader] 1600000000": backslash escapes
// undone ("\\" is the separator, "\]" a bracket, "\x4e2d" a character). False when the line has
// no closing bracket, as the last line of a file cut short may.
bool SectionKey(std::string_view line, std::string& key) {
  key.clear();
  for (size_t i = 1; i < line.size(); ++i) {
    const char c = line[i];
    if (c == ']') return true;
    if (c != '\\') {
      key += c;
      continue;
    }
    if (++i >= line.size()) return false;
    const char e = line[i];
    if (e == 'x') {
      uint32_t cp = 0;
      size_t digits = 0;
      while (digits < 4 && i + 1 < line.size() && HexDigit(line[i + 1]) >= 0) {
        cp = cp * 16 + static_cast<uint32_t>(HexDigit(line[++i]));
        ++digits;
      }
      AppendUtf8(key, cp);
    } else if (e >= '0' && e <= '7') {
      uint32_t cp = static_cast<uint32_t>(e - '0');
      for (int n = 0; n < 2 && i + 1 < line.size() && line[i + 1] >= '0' && line[i + 1] <= '7'; ++n)
        cp = cp * 8 + static_cast<uint32_t>(line[++i] - '0');
      AppendUtf8(key, cp);
    } else {
      key += e;  // "\\", "\[", "\]" and the letter escapes of control characters alike
    }
  }
  return false;
}

}  // namespace

std::filesystem::path WinePrefix() {
  const char* prefix = std::getenv("WINEPREFIX");
  if (prefix != nullptr && *prefix != '\0') return prefix;
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0') {
    const passwd* pw = getpwuid(getuid());
    home = pw != nullptr ? pw->pw_dir : nullptr;
  }
  if (home == nullptr) return {};
  return std::filesystem::path(home) / ".wine";
}

std::filesystem::path SystemDirectory(const std::filesystem::path& prefix) {
  if (prefix.empty()) return {};
  return prefix / "drive_c" / "windows" / "system32";
}

std::filesystem::path FindFile(const std::filesystem::path& dir, std::string_view name) {
  std::error_code ec;
  const std::filesystem::path exact = dir / std::string(name);
  if (std::filesystem::exists(exact, ec)) return exact;
  for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
    if (SameText(it->path().filename().string(), name)) return it->path();
  return {};
}

bool RegistryHasKey(std::istream& file, std::initializer_list<std::string_view> keys) {
  std::string line, key;
  if (!std::getline(file, line) || line.rfind("WINE REGISTRY Version 2", 0) != 0) return false;
  while (std::getline(file, line)) {
    if (line.empty() || line[0] != '[' || !SectionKey(line, key)) continue;
    for (std::string_view wanted : keys) {
      // The key itself, or one below it: Wine lists only keys that hold values or nothing else.
      if (key.size() < wanted.size() ||
          !SameText(std::string_view(key).substr(0, wanted.size()), wanted))
        continue;
      if (key.size() == wanted.size() || key[wanted.size()] == '\\') return true;
    }
  }
  return false;
}

}  // namespace instgear

// Where the helper finds the Windows installation it examines: a Wine prefix.
#pragma once

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <istream>
#include <string_view>

namespace instgear {

// $WINEPREFIX when set and not empty, else ~/.wine.
std::filesystem::path WinePrefix();

// drive_c/windows/system32 of the prefix.
std::filesystem::path SystemDirectory(const std::filesystem::path& prefix);

// `name` inside `dir`, matched without regard to case as Windows names are; empty when absent.
std::filesystem::path FindFile(const std::filesystem::path& dir, std::string_view name);

// DirectX version (major << 16 | minor << 8 | letter) that the files of a system directory show;
// 0 when the directory does not exist or no file qualifies.
uint32_t DirectXVersion(const std::filesystem::path& systemDir);

// True when one of `keys` (backslash-separated, relative to the file's hive, compared without
// regard to case) is listed in a Wine registry file, itself or through a key below it. A file
// that is not a registry file, or is cut short, answers from the sections it holds in full.
bool RegistryHasKey(std::istream& file, std::initializer_list<std::string_view> keys);

}  // namespace instgear

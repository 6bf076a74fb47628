// Small text files read whole and written whole: a file is written into a temporary file beside
// it and renamed over it, so readers (and a crash) see the old text or the new one, never a part.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

// The file's text; none when it cannot be read, is no regular file or is larger than limit.
std::optional<std::string> ReadTextFile(const std::string& path, size_t limit = 16u << 20);
// "" when written; otherwise the reason, and the file is as it was. With sync the text is on the
// disk before the rename (it survives a power loss too); without, the call never waits for the
// disk, and a program crash still leaves the old text or the new one.
std::string WriteTextFileAtomic(const std::string& path, const std::string& text, bool sync = true);

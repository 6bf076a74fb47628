// vantrel-cli: clip figures, montage and merge from a terminal, on the jobs the panes run. Kept
// apart from main() so that tests can run a command in their own process with a fixed clock.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Period.h"

// Exit status of a command.
inline constexpr int kExitOk = 0;
inline constexpr int kExitRefused = 1;  // bad input, a refused or failed job
inline constexpr int kExitUsage = 2;    // bad arguments

struct CliIo {
  FILE* out = stdout;
  FILE* err = stderr;
  // Draw the progress bar on err (only when it is a terminal).
  bool progressBar = false;
  // Local time for the names of new clips; the clock when empty.
  std::function<std::time_t()> clock;
};

// Runs one command; args excludes the program name. Returns the exit status.
int RunCli(const std::vector<std::string>& args, const CliIo& io);

// Pieces of the command line, for the tests.
namespace cli {

// A time of a section: milliseconds ("61500") or a clock time "h:mm:ss.mmm", where the hours,
// minutes and fraction may be left out ("1:01.5", "61.5"). None when the text is neither.
std::optional<int32_t> ParseTime(const std::string& text);

// One --section argument: "FROM-TO" or "FROM-TO@SEQ". seq is 0 when not given.
struct SectionArg {
  int32_t from = 0;
  int32_t to = 0;
  int32_t seq = 0;
};
std::optional<SectionArg> ParseSection(const std::string& text);

// The sections as the timeline holds them: a section without a number takes the smallest one
// that no section names and no earlier section took.
std::vector<PERIOD> NumberSections(const std::vector<SectionArg>& args);

// JSON string literal of a text (quotes included).
std::string JsonString(const std::string& text);

// The progress line: a bar of the given width filled to pos / range, then the percent text.
std::string ProgressLine(int64_t pos, int64_t range, const std::string& percent, int width = 40);

}  // namespace cli

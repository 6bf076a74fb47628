// Diagnostic log carried by every deliverable. Each deliverable compiles DbgLog.cpp with its own
// level filter and file suffix (see CMakeLists.txt); the symbol stays hidden so that the copies in
// the program and in the libraries never resolve to one another.
#pragma once

#include <cstdarg>
#include <string>

#if defined(__GNUC__)
#define VANTREL_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define VANTREL_PRINTF(fmt, args)
#endif

// Formats one text, sends it to the debugger output and, with toFile non-zero, appends it to the
// log file beside the running executable. The result is not used by any caller.
__attribute__((visibility("hidden"))) int DbgLog(int toFile, int level, const char* format, ...)
    VANTREL_PRINTF(3, 4);

namespace dbglog {

// Which levels pass: negative ones always, and those of 4 or more where passHigh is set.
struct Filter {
  bool passHigh;
  const char* suffix;  // appended to the executable path to name the log file
};

constexpr int kTextLimit = 1024;  // longer texts are cut
constexpr int kPathLimit = 128;   // a log path that does not fit writes no file

bool Passes(const Filter& filter, int level);

// The whole routine with its configuration spelled out; DbgLog calls it with the deliverable's
// filter and the path of the running executable.
int Write(const Filter& filter, const std::string& exePath, int toFile, int level,
          const char* format, va_list args);

// Full path of the running executable ("" when it cannot be read).
std::string ExecutablePath();

// Debugger output: standard error, only while VANTREL_DEBUG is set.
void DebuggerOutput(const char* text);

}  // namespace dbglog

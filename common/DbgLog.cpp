// Compiled into each deliverable with DBGLOG_PASS_HIGH (0 or 1) and DBGLOG_SUFFIX defined.
#include "DbgLog.h"

#ifndef DBGLOG_PASS_HIGH
#error "DBGLOG_PASS_HIGH must be defined by the deliverable"
#endif
#ifndef DBGLOG_SUFFIX
#error "DBGLOG_SUFFIX must be defined by the deliverable"
#endif

int DbgLog(int toFile, int level, const char* format, ...) {
  static const dbglog::Filter kFilter{DBGLOG_PASS_HIGH != 0, DBGLOG_SUFFIX};
  va_list args;
  va_start(args, format);
  int r = dbglog::Write(kFilter, dbglog::ExecutablePath(), toFile, level, format, args);
  va_end(args);
  return r;
}

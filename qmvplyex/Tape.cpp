// DV tape export: not built yet. No camcorder is ever found.
#include "Engine.h"

QMVPLYEX_API BOOL FindVtr(void) {
  return 0;
}

QMVPLYEX_API BOOL ExportToTape(const char*) {
  return 0;
}

QMVPLYEX_API void CtrlVtr(int) {}

namespace plyex {
void ReleaseTape() {}
}  // namespace plyex

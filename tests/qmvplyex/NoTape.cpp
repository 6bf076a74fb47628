// The playback tests build the playback module without the tape module, which holds nothing here.
#include "Engine.h"

namespace plyex {
void ReleaseTape() {}
void InterruptTape() {}
}  // namespace plyex

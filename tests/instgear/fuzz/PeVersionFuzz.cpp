// Any bytes at all through the PE version reader: ASan and UBSan report a read outside the input.
#include <cstddef>
#include <cstdint>

#include "PeVersion.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  (void)instgear::FixedFileVersion(std::span<const uint8_t>(data, size));
  return 0;
}

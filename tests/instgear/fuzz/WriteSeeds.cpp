// Writes the seed images of the PE reader fuzzer into the folder given.
#include <cstdio>

#include "PeImage.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  petest::WriteFile(dir / "pe32.dll", petest::BuildPe(false, 0x0004000700000700ull));
  petest::WriteFile(dir / "pe32plus.dll", petest::BuildPe(true, 0x00050003'0A28'0884ull));
  return 0;
}

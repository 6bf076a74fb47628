// Records one clip onto the file camcorder through libqmvplyex.so, as the export pane does, and
// prints the wall time of the recording:
//   tape_bench CLIP TAPE        (TAPE is truncated first; VANTREL_DV_TAPE_PACE=0 unless set)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "QmvPlyEx.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: tape_bench CLIP TAPE\n");
    return 2;
  }
  std::ofstream(argv[2], std::ios::trunc).close();
  setenv("VANTREL_DV_TAPE", argv[2], 1);
  setenv("VANTREL_DV_TAPE_PACE", "0", 0);
  const auto start = std::chrono::steady_clock::now();
  if (plyInit() != 0 || !FindVtr() || !ExportToTape(argv[1])) {
    std::fprintf(stderr, "the recording did not start\n");
    return 1;
  }
  while (plyIsPlaying()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  plyHandleEvent();
  plyStop();
  CtrlVtr(kVtrStop);
  plyCleanUp();
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("tape %.3f s\n", s);
  return 0;
}

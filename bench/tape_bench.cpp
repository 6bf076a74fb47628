// Records one clip onto the file camcorder through libqmvplyex.so, as the export pane does, and
// prints the wall time of the recording:
//   tape_bench CLIP TAPE        (TAPE is truncated first; VANTREL_DV_TAPE_PACE=0 unless set)
//   tape_bench --1394 CLIP      (onto the camcorder on the IEEE 1394 bus: the simulated one when
//                                LD_LIBRARY_PATH starts with build/bin/sim1394)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "QmvPlyEx.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: tape_bench CLIP TAPE | tape_bench --1394 CLIP\n");
    return 2;
  }
  const bool bus = std::string(argv[1]) == "--1394";
  const char* clip = bus ? argv[2] : argv[1];
  if (bus) {
    unsetenv("VANTREL_DV_TAPE");
  } else {
    std::ofstream(argv[2], std::ios::trunc).close();
    setenv("VANTREL_DV_TAPE", argv[2], 1);
    setenv("VANTREL_DV_TAPE_PACE", "0", 0);
  }
  const auto start = std::chrono::steady_clock::now();
  if (plyInit() != 0 || !FindVtr() || !ExportToTape(clip)) {
    std::fprintf(stderr, "the recording did not start\n");
    return 1;
  }
  while (plyIsPlaying()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  plyHandleEvent();
  plyStop();
  CtrlVtr(kVtrStop);
  const int result = GetTapeResult();
  plyCleanUp();
  if (result != 1) {
    std::fprintf(stderr, "the recording did not reach its end\n");
    return 1;
  }
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("tape %.3f s\n", s);
  return 0;
}

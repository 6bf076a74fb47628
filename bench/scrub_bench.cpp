// Measures the cursor-following preview the way the montage pane uses it (a 122 x 88 screen).
//   scrub_bench groups CLIP POS_MS...   each position in a group not visited before, then three
//                                       earlier and one later position of that group
//   scrub_bench memory CLIP [W H]       every group of the clip decoded to its end, in order
// Prints one line per measurement: "<what> <position> <milliseconds>", and for memory
// "cache_peak_bytes N", "rss_kib N", "hwm_kib N". Exits non-zero when a picture is missing or is
// not the frame at its position.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "ScrubPreview.h"

namespace {

using qmvedit::ScrubPreview;

double Ms(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

long StatusKib(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + std::string(key).size());
  return -1;
}

// Time from the request to its picture; -1 when there is none. Checks the frame: the first at or
// after the position, frames of fps 25 (40 ms).
double Ask(ScrubPreview& p, int pos, bool* ok) {
  const auto t0 = std::chrono::steady_clock::now();
  p.Request(pos);
  if (!p.WaitIdle(60000)) {
    *ok = false;
    return -1;
  }
  const double ms = Ms(std::chrono::steady_clock::now() - t0);
  const auto pic = p.Take();
  const int64_t want = (static_cast<int64_t>(pos) + 39) / 40 * 400000;
  if (!pic || pic->frameTime != want) {
    std::fprintf(stderr, "position %d: %s\n", pos, pic ? "wrong frame" : "no picture");
    *ok = false;
  }
  return ms;
}

int Groups(const char* clip, int n, char** positions) {
  ScrubPreview p;
  p.SetDisplaySize(122, 88);
  p.Open(clip);
  if (!p.WaitIdle(60000) || !p.ClipOpen()) return 1;
  bool ok = true;
  for (int i = 0; i < n; ++i) {
    const int pos = std::atoi(positions[i]);
    std::printf("new %d %.3f\n", pos, Ask(p, pos, &ok));
    const int key = pos / 10000 * 10000;
    for (int back : {1, 2, 3}) {
      const int q = key + (pos - key) * back / 4;
      std::printf("visited %d %.3f\n", q, Ask(p, q, &ok));
    }
    const int later = std::min(pos + 1000, key + 9960);
    std::printf("later %d %.3f\n", later, Ask(p, later, &ok));
  }
  const qmvedit::ScrubStats s = p.Stats();
  std::printf("cache_peak_bytes %zu\n", s.peakCacheBytes);
  return ok ? 0 : 1;
}

int Memory(const char* clip, int w, int h) {
  ScrubPreview p;
  p.SetDisplaySize(w, h);
  p.Open(clip);
  if (!p.WaitIdle(60000) || !p.ClipOpen()) return 1;
  bool ok = true;
  const auto t0 = std::chrono::steady_clock::now();
  int groups = 0;
  for (int key = 0;; key += 10000) {
    p.Request(key + 9960);
    if (!p.WaitIdle(120000)) return 1;
    if (!p.Take()) break;  // past the clip's end
    ++groups;
  }
  // A group still held is answered from memory.
  Ask(p, (groups - 1) * 10000 + 5000, &ok);
  const qmvedit::ScrubStats s = p.Stats();
  std::printf("groups %d\n", groups);
  std::printf("seconds %.1f\n", Ms(std::chrono::steady_clock::now() - t0) / 1000);
  std::printf("frames_decoded %lld\n", static_cast<long long>(s.framesDecoded));
  std::printf("groups_held %zu\n", s.groups);
  std::printf("cache_bytes %zu\n", s.cacheBytes);
  std::printf("cache_peak_bytes %zu\n", s.peakCacheBytes);
  std::printf("from_memory %lld\n", static_cast<long long>(s.fromMemory));
  std::printf("rss_kib %ld\n", StatusKib("VmRSS:"));
  std::printf("hwm_kib %ld\n", StatusKib("VmHWM:"));
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::string(argv[1]) == "groups") return Groups(argv[2], argc - 3, argv + 3);
  if (argc >= 3 && std::string(argv[1]) == "memory")
    return Memory(argv[2], argc >= 5 ? std::atoi(argv[3]) : 122,
                  argc >= 5 ? std::atoi(argv[4]) : 88);
  std::fprintf(stderr, "usage: scrub_bench groups CLIP POS_MS... | memory CLIP [W H]\n");
  return 2;
}

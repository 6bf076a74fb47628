// Playing in the montage pane, measured through the preview player as the pane drives it:
//   montage_play_bench first CLIP POS_MS...    Space with the clip not yet open in the player
//                                              (OpenAsync, Start at POS): time to the first
//                                              picture at POS (the frame at or after it)
//   montage_play_bench gaps CLIP FROM-TO...    the ranges back to back (StartRanges): for each
//                                              change of range, the time from the last picture
//                                              of one range to the first of the next
// Pictures are seen as they reach the video sink (GetShownPosition, polled every millisecond).
// Prints "first POS MS" and "gap K MS" (K the range that starts), and "range K FIRST_SHOWN_MS".
// Exits non-zero when a picture never comes or a range does not start on its start.
#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "CQmvply.h"
#include "HostWindow.h"

namespace {

constexpr uint64_t kMs = 10000;  // 100-ns units

class Silent : public CMsgWindow {
 public:
  void PostMsg(uint32_t, uintptr_t wParam, intptr_t) override { ended = ended || wParam == 0; }
  void DispatchOnePending() override {}
  bool ended = false;
};

std::wstring Wide(const std::string& s) {
  return std::wstring(s.begin(), s.end());
}

void Spin() {
  QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
  QThread::usleep(500);
}

int First(CQmvply& player, const std::string& clip, int n, char** positions) {
  const std::wstring path = Wide(clip);
  bool ok = true;
  for (int i = 0; i < n; ++i) {
    const int pos = std::atoi(positions[i]);
    QElapsedTimer t;
    t.start();
    if (FAILED(player.OpenAsync(path.c_str())) || FAILED(player.Start(pos * kMs))) return 1;
    bool seen = false;
    while (t.elapsed() < 60000 && !seen) {
      const int32_t shown = player.GetShownPosition();
      seen = player.IsOpen() && shown >= pos && shown < pos + 80;
      if (!seen) Spin();
    }
    const double ms = static_cast<double>(t.nsecsElapsed()) / 1e6;
    player.Stop();
    if (!seen) {
      std::fprintf(stderr, "position %d: no picture\n", pos);
      ok = false;
      continue;
    }
    std::printf("first %d %.3f\n", pos, ms);
    std::fflush(stdout);
  }
  return ok ? 0 : 1;
}

int Gaps(CQmvply& player, Silent& window, const std::string& clip, int n, char** spans) {
  std::vector<QmvplyRange> ranges;
  for (int i = 0; i < n; ++i) {
    int from = 0, to = 0;
    if (std::sscanf(spans[i], "%d-%d", &from, &to) != 2 || to <= from) return 2;
    ranges.push_back({static_cast<uint64_t>(from) * kMs, static_cast<uint64_t>(to) * kMs});
  }
  const std::wstring path = Wide(clip);
  if (FAILED(player.OpenAsync(path.c_str()))) return 1;
  if (FAILED(player.StartRanges(ranges.data(), ranges.size()))) return 1;
  QElapsedTimer t;
  t.start();
  // Each change of the picture at the sink: when, which picture, which range.
  struct Change {
    double at;
    int32_t shown;
  };
  std::vector<Change> changes;
  int32_t last = -2;
  while (!window.ended && t.elapsed() < 120000) {
    const int32_t shown = player.IsOpen() ? player.GetShownPosition() : last;
    if (shown != last) {
      changes.push_back({static_cast<double>(t.nsecsElapsed()) / 1e6, shown});
      last = shown;
    }
    Spin();
  }
  const auto inRange = [&](size_t k, int32_t ms) {
    return ms >= static_cast<int32_t>(ranges[k].from / kMs) &&
           ms < static_cast<int32_t>(ranges[k].to / kMs);
  };
  bool ok = window.ended;
  for (size_t k = 0; k < ranges.size(); ++k) {
    // The first picture of range k after the pictures of range k - 1.
    size_t first = changes.size();
    size_t lastBefore = changes.size();
    for (size_t i = 0; i < changes.size(); ++i) {
      if (k > 0 && inRange(k - 1, changes[i].shown)) lastBefore = i;
      if (inRange(k, changes[i].shown) && (k == 0 || lastBefore != changes.size())) {
        first = i;
        break;
      }
    }
    if (first == changes.size()) {
      std::fprintf(stderr, "range %zu: no picture\n", k);
      ok = false;
      continue;
    }
    const int32_t start = static_cast<int32_t>(ranges[k].from / kMs);
    std::printf("range %zu %d\n", k, changes[first].shown);
    if (changes[first].shown > start + 40) ok = false;
    if (k > 0 && lastBefore != changes.size())
      std::printf("gap %zu %.3f\n", k, changes[first].at - changes[lastBefore].at);
  }
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s first CLIP POS_MS... | gaps CLIP FROM-TO...\n", argv[0]);
    return 2;
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("VANTREL_VIDEO_SINK", "fakesink", 0);
  setenv("VANTREL_AUDIO_SINK", "fakesink", 0);
  QApplication app(argc, argv);
  Silent window;
  CQmvply player;
  if (FAILED(player.Init())) return 1;
  player.SetNotifyWnd(&window);
  const std::string mode = argv[1];
  int rc = 2;
  if (mode == "first") rc = First(player, argv[2], argc - 3, argv + 3);
  if (mode == "gaps") rc = Gaps(player, window, argv[2], argc - 3, argv + 3);
  player.Exit();
  return rc;
}

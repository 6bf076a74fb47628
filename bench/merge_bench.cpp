// merge_bench: runs one Clip Merge through the merge job the way the program does, with a clip
// listed COPIES times, and reports how long it took.
//
//   merge_bench COPIES CLIP
//
// The merged clip is written beside CLIP under the job's own name; the last line says where
// ("output: PATH"). Exits non-zero when the job does not finish.

#include <charconv>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "CQmvedit.h"
#include "ClipList.h"
#include "HostWindow.h"
#include "MergeJob.h"
#include "Messages.h"

namespace {

// Stands in for the main window: takes the progress posts through the job, as its handler does,
// and has nothing else to dispatch.
class CountingWindow : public CMsgWindow {
 public:
  void PostMsg(uint32_t msg, uintptr_t wParam, intptr_t lParam) override {
    ++posts;
    if (msg == WM_EDIT_PROGRESS && wParam == 1 && job != nullptr)
      if (auto p = job->OnProgress(lParam)) percent = p->percent;
  }
  void DispatchOnePending() override { ++dispatches; }
  MergeJob* job = nullptr;
  std::string percent;
  uint64_t posts = 0;
  uint64_t dispatches = 0;
};

}  // namespace

int main(int argc, char** argv) {
  int copies = 0;
  if (argc != 3 ||
      std::from_chars(argv[1], argv[1] + std::strlen(argv[1]), copies).ec != std::errc() ||
      copies < 1) {
    std::fputs("usage: merge_bench COPIES CLIP\n", stderr);
    return 2;
  }
  const auto t0 = std::chrono::steady_clock::now();
  ClipList list;
  for (int i = 0; i < copies; ++i)
    if (!list.Add(argv[2])) {
      std::fprintf(stderr, "merge_bench: %s is not a clip file\n", argv[2]);
      return 2;
    }
  const auto listed = std::chrono::steady_clock::now();
  CountingWindow window;
  CQmvedit engine;
  engine.Init();
  engine.SetNotifyWnd(&window);
  MergeJob job(engine, &window);
  window.job = &job;
  const auto t1 = std::chrono::steady_clock::now();
  const bool refused = MergeJob::Check(list).has_value();
  const double checkSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - t1).count();
  const MergeResult r = refused ? MergeResult{} : job.Run(list);
  engine.Exit();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const double listSeconds = std::chrono::duration<double>(listed - t0).count();
  std::printf(
      "merge_bench: %d copies, wall %.3f s (adding the clips %.3f s, a check alone %.3f s),"
      " list total %s, last progress %s, %" PRIu64 " progress posts, %" PRIu64 " dispatches\n%s\n",
      copies, seconds, listSeconds, checkSeconds, list.TotalLengthText().c_str(),
      window.percent.c_str(), window.posts, window.dispatches, r.message.c_str());
  if (!r.ok()) return 1;
  std::printf("output: %s\n", r.outputPath.c_str());
  return 0;
}

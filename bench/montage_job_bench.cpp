// montage_job_bench: one Video Montage job the way the montage pane runs it: the source opened
// through the montage source (length query, engine open), then the montage job with its checks,
// output name, progress handling and engine calls.
//
//   montage_job_bench SRC OUTDIR START:LEN [START:LEN ...]     sections in ms, numbered in order
//
// The new clip goes into OUTDIR under the job's own name (the job names its output after the
// source path it is given, so the path handed to it is OUTDIR/<name of SRC>). Prints the wall
// time of the job alone, its status, the output path and the output time covered; exits
// non-zero when the job fails.

#include <charconv>
#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "CQmvedit.h"
#include "HostWindow.h"
#include "Messages.h"
#include "MontageJob.h"
#include "MontageSource.h"

namespace {

// Stands in for the main window: progress posts go straight to the job's handler.
class BenchWindow : public CMsgWindow {
 public:
  explicit BenchWindow(const CMontageJob& job) : job_(job) {}
  void PostMsg(uint32_t msg, uintptr_t wParam, intptr_t lParam) override {
    if (msg != WM_EDIT_PROGRESS || wParam != 1) return;
    ++posts;
    if (auto p = job_.OnProgress(lParam); p && p->percent) last = *p->percent;
  }
  void DispatchOnePending() override { ++dispatches; }
  const CMontageJob& job_;
  unsigned long posts = 0, dispatches = 0;
  std::string last;
};

bool ParseSection(std::string_view text, int32_t seq, PERIOD* p) {
  const size_t colon = text.find(':');
  if (colon == std::string_view::npos) return false;
  const char* end = text.data() + text.size();
  auto a = std::from_chars(text.data(), text.data() + colon, p->nFrom);
  auto b = std::from_chars(text.data() + colon + 1, end, p->nDur);
  p->nSeq = seq;
  return a.ec == std::errc() && a.ptr == text.data() + colon && b.ec == std::errc() &&
         b.ptr == end && p->nFrom >= 0 && p->nDur > 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fputs("usage: montage_job_bench SRC OUTDIR START:LEN [START:LEN ...]   (ms)\n", stderr);
    return 2;
  }
  const std::string src = argv[1];
  const std::string outDir = argv[2];
  std::vector<PERIOD> sections;
  for (int i = 3; i < argc; ++i) {
    PERIOD p;
    if (!ParseSection(argv[i], static_cast<int32_t>(sections.size()) + 1, &p)) {
      std::fprintf(stderr, "montage_job_bench: bad section \"%s\" (START:LEN in ms)\n", argv[i]);
      return 2;
    }
    sections.push_back(p);
  }

  CMontageJob job;
  BenchWindow window(job);
  CQmvedit edit;
  if (FAILED(edit.Init())) {
    std::fputs("montage_job_bench: engine Init failed\n", stderr);
    return 1;
  }
  edit.SetNotifyWnd(&window);
  CMontageSource source;
  const SourceOpenResult opened = source.Open(edit, src);
  if (opened.status != SourceOpenResult::Status::Opened) {
    std::fprintf(stderr, "montage_job_bench: cannot open %s\n", src.c_str());
    return 1;
  }
  const size_t slash = src.rfind('/');
  const std::string srcText =
      outDir + "/" + (slash == std::string::npos ? src : src.substr(slash + 1));

  const auto t0 = std::chrono::steady_clock::now();
  const MontageResult r = job.Run(edit, &window, srcText, sections, MontageJobView{});
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  edit.Exit();

  std::printf(
      "montage_job_bench: wall %.3f s, %s, output %s, %.3f s, last percent %s, %lu posts, "
      "%lu dispatches\n",
      seconds, r.status == MontageResult::Status::Done ? "done" : r.message.c_str(),
      r.outputPath.c_str(), r.writtenMs / 1000.0, window.last.c_str(), window.posts,
      window.dispatches);
  return r.status == MontageResult::Status::Done ? 0 : 1;
}

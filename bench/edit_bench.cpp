// edit_bench: runs one edit of the engine the way the program does and reports how long it took.
//
//   edit_bench copy SRC OUT                          whole clip, as Clip Merge copies one clip
//   edit_bench montage SRC OUT START:LEN [...]       sections in milliseconds, as Video Montage
//
// Prints the wall time, the result code and the output time covered; exits non-zero on failure.

#include <charconv>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "CQmvedit.h"
#include "HostWindow.h"

namespace {

// Stands in for the program's window: takes the progress posts and has nothing to dispatch.
class CountingWindow : public CMsgWindow {
 public:
  void PostMsg(uint32_t /*msg*/, uintptr_t /*wParam*/, intptr_t /*lParam*/) override { ++posts; }
  void DispatchOnePending() override { ++dispatches; }
  uint64_t posts = 0;
  uint64_t dispatches = 0;
};

struct Section {
  int32_t startMs = 0;
  int32_t lenMs = 0;
};

bool ParseInt(std::string_view text, int32_t* value) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, *value);
  return ec == std::errc() && ptr == end && *value >= 0;
}

bool ParseSection(std::string_view text, Section* s) {
  const size_t colon = text.find(':');
  if (colon == std::string_view::npos) return false;
  return ParseInt(text.substr(0, colon), &s->startMs) &&
         ParseInt(text.substr(colon + 1), &s->lenMs) && s->lenMs > 0;
}

void PrintUsage() {
  std::fputs(
      "usage: edit_bench copy SRC OUT\n"
      "       edit_bench montage SRC OUT START:LEN [START:LEN ...]   (milliseconds)\n"
      "OUT must not exist.\n",
      stderr);
}

// The first failure of a chain of calls, S_OK while there is none.
struct Chain {
  HRESULT hr = S_OK;
  const char* where = "";
  void Step(HRESULT r, const char* name) {
    if (SUCCEEDED(hr) && FAILED(r)) {
      hr = r;
      where = name;
    }
  }
};

// Merge style: the profile from the clip, then the clip copied whole with its own times.
Chain RunCopy(CQmvedit& e, const char* src, const char* out, int32_t* coveredMs) {
  Chain c;
  c.Step(e.SetSrcFile(src), "SetSrcFile");
  if (FAILED(c.hr)) return c;
  c.Step(e.SetDesFile(out), "SetDesFile");
  if (FAILED(c.hr)) return c;
  c.Step(e.CopyProfile(), "CopyProfile");
  c.Step(e.SetStream(1), "SetStream(1)");
  c.Step(e.BeginWrite(), "BeginWrite");
  if (FAILED(c.hr)) return c;
  c.Step(e.SetSrcFile(src), "SetSrcFile (again)");
  c.Step(e.SetStream(0), "SetStream(0)");
  int32_t len = 0;
  if (SUCCEEDED(c.hr)) c.Step(e.CopyPart(0, 0, &len, 1), "CopyPart");
  *coveredMs = len;
  c.Step(e.EndWrite(), "EndWrite");
  return c;
}

// Montage style: the sections one after the other, each rebased on its opening key frame.
Chain RunMontage(CQmvedit& e, const char* src, const char* out, const std::vector<Section>& parts,
                 int32_t* coveredMs) {
  Chain c;
  c.Step(e.SetSrcFile(src), "SetSrcFile");
  if (FAILED(c.hr)) return c;
  c.Step(e.SetDesFile(out), "SetDesFile");
  if (FAILED(c.hr)) return c;
  c.Step(e.CopyProfile(), "CopyProfile");
  int32_t total = 0;
  for (const Section& s : parts) total += s.lenMs;
  e.SetDur(total);
  c.Step(e.SetStream(1), "SetStream(1)");
  c.Step(e.BeginWrite(), "BeginWrite");
  if (FAILED(c.hr)) return c;
  int32_t outStart = 0;
  for (const Section& s : parts) {
    int32_t len = s.lenMs;
    c.Step(e.CopyPart(outStart, s.startMs, &len, 0), "CopyPart");
    if (FAILED(c.hr)) break;
    outStart += len;
  }
  *coveredMs = outStart;
  c.Step(e.EndWrite(), "EndWrite");
  return c;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    PrintUsage();
    return 2;
  }
  const std::string_view mode = argv[1];
  const char* src = argv[2];
  const char* out = argv[3];
  std::vector<Section> parts;
  if (mode == "montage") {
    if (argc < 5) {
      PrintUsage();
      return 2;
    }
    for (int i = 4; i < argc; ++i) {
      Section s;
      if (!ParseSection(argv[i], &s)) {
        std::fprintf(stderr, "edit_bench: bad section \"%s\" (START:LEN in ms)\n", argv[i]);
        return 2;
      }
      parts.push_back(s);
    }
  } else if (mode != "copy" || argc != 4) {
    PrintUsage();
    return 2;
  }

  const auto t0 = std::chrono::steady_clock::now();
  CountingWindow window;
  CQmvedit edit;
  Chain c;
  c.Step(edit.Init(), "Init");
  int32_t coveredMs = 0;
  if (SUCCEEDED(c.hr)) {
    edit.SetNotifyWnd(&window);
    Chain run = mode == "copy" ? RunCopy(edit, src, out, &coveredMs)
                               : RunMontage(edit, src, out, parts, &coveredMs);
    c.Step(run.hr, run.where);
  }
  edit.Exit();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

  std::printf("edit_bench %.*s: wall %.3f s, result 0x%08" PRIX32 ", output %.3f s, %" PRIu64
              " progress posts, %" PRIu64 " dispatches\n",
              static_cast<int>(mode.size()), mode.data(), seconds, static_cast<uint32_t>(c.hr),
              coveredMs / 1000.0, window.posts, window.dispatches);
  if (FAILED(c.hr)) {
    std::fprintf(stderr, "edit_bench: %s failed with 0x%08" PRIX32 "\n", c.where,
                 static_cast<uint32_t>(c.hr));
    return 1;
  }
  return 0;
}

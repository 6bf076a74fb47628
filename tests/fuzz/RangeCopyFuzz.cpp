// Any bytes as a clip through the edit engine's range copy, as montage and merge use it: two
// ranges into one clip, then a merge of the clip with itself keeping the source times. Outputs
// go into a scratch folder; a failed copy must leave nothing there.
#include <cstddef>
#include <cstdint>

#include "AsfMutator.h"
#include "CQmvedit.h"
#include "FuzzInput.h"

VANTREL_CLIP_FUZZER

namespace {

// A range's reported length: its own length plus at most a group of pictures before it and one
// sample after it.
constexpr int32_t kRangeSlackMs = 2 * 60 * 1000;

bool Exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

// Writes the ranges into out; true when the clip was finished and named.
bool Montage(CQmvedit& edit, const std::string& out) {
  if (edit.SetDesFile(out.c_str()) != S_OK || edit.CopyProfile() < 0 || FAILED(edit.SetStream(1)) ||
      edit.BeginWrite() != S_OK)
    return false;
  struct Range {
    int32_t from, length;
  };
  int32_t outPos = 0;
  HRESULT copy = S_OK;
  for (Range r : {Range{300, 700}, Range{100, 500}}) {
    int32_t len = r.length;
    copy = edit.CopyPart(outPos, r.from, &len, 0);
    if (len < 0 || len > r.from + r.length + kRangeSlackMs) fuzzing::Violated("range length");
    if (FAILED(copy)) break;
    outPos += len;
  }
  const HRESULT end = edit.EndWrite();
  if (FAILED(copy) && SUCCEEDED(end)) fuzzing::Violated("a failed copy ended as a clip");
  if (SUCCEEDED(end) != Exists(out))
    fuzzing::Violated("the clip's name does not match the outcome");
  return SUCCEEDED(end);
}

bool Merge(CQmvedit& edit, const char* src, const std::string& out) {
  if (edit.SetSrcFile(src) != S_OK || edit.SetDesFile(out.c_str()) != S_OK ||
      edit.CopyProfile() < 0 || FAILED(edit.SetStream(1)) || edit.BeginWrite() != S_OK)
    return false;
  int32_t offset = 0;
  HRESULT hr = S_OK;
  for (int k = 0; k < 2 && SUCCEEDED(hr); ++k) {
    if (FAILED(hr = edit.SetSrcFile(src)) || FAILED(hr = edit.SetStream(0))) break;
    int32_t copied = 0;
    hr = edit.CopyPart(offset, 0, &copied, 1);
    if (copied < 0) fuzzing::Violated("merged length");
    if (copied > INT32_MAX - offset) break;
    offset += copied;
  }
  const HRESULT end = edit.EndWrite();
  if (SUCCEEDED(end) != Exists(out))
    fuzzing::Violated("the clip's name does not match the outcome");
  return SUCCEEDED(end);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzing::MemoryClip clip(data, size);
  fuzzing::ScratchFolder dir;
  int named = 0;
  {
    CQmvedit edit;
    if (edit.Init() != S_OK) fuzzing::Violated("Init");
    if (edit.SetSrcFile(clip.Path()) == S_OK) {
      named += Montage(edit, dir.File("montage.wmv")) ? 1 : 0;
      named += Merge(edit, clip.Path(), dir.File("merged.qmv")) ? 1 : 0;
    }
    edit.Exit();
  }
  if (dir.Count() != named) fuzzing::Violated("a file was left behind");
  return 0;
}

#include "MergeJob.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

#include "CQmvedit.h"
#include "ClipFile.h"
#include "ClipList.h"
#include "DbgLog.h"
#include "HostWindow.h"
#include "OutputName.h"
#include "StreamLayout.h"

namespace {

// Guards the running flag and the window's busy state across every way out of a run.
class RunScope {
 public:
  RunScope(bool& running, const std::function<void(bool)>& setBusy)
      : running_(running), setBusy_(setBusy) {
    running_ = true;
    if (setBusy_) setBusy_(true);
  }
  ~RunScope() {
    running_ = false;
    if (setBusy_) setBusy_(false);
  }
  RunScope(const RunScope&) = delete;
  RunScope& operator=(const RunScope&) = delete;

 private:
  bool& running_;
  const std::function<void(bool)>& setBusy_;
};

std::string FileName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// What a failure code means to the user.
std::string Reason(HRESULT hr) {
  switch (hr) {
    case NS_E_FILE_OPEN_FAILED:
      return "the clip cannot be opened";
    case NS_E_FILE_EXISTS:
      return "the output file exists";
    case NS_E_INVALID_STREAM:
      return "its streams differ from the first clip's";
    case NS_E_FILE_WRITE:
      return "the output cannot be written";
    case NS_E_NO_MORE_SAMPLES:
      return "the clip holds no samples";
    case E_ABORT:
      return "the engine was closed";
    case E_OUTOFMEMORY:
      return "out of memory";
    default:
      break;
  }
  // A system error wrapped as a result code.
  if ((static_cast<uint32_t>(hr) & 0xFFFF0000u) == 0x80070000u)
    return std::strerror(static_cast<int>(static_cast<uint32_t>(hr) & 0xFFFFu));
  return "engine error";
}

std::tm LocalNow() {
  const time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  return t;
}

}  // namespace

MergeJob::MergeJob(CQmvedit& engine, CMsgWindow* window) : engine_(engine), window_(window) {}

std::string MergeJob::PercentText(int64_t value, int64_t range) {
  if (range <= 0) return "%0";
  value = std::clamp<int64_t>(value, 0, range);
  return PercentOfJobText(static_cast<double>(value) / static_cast<double>(range) * 100.0);
}

std::optional<MergeProgress> MergeJob::OnProgress(intptr_t lParam) const {
  if (!running_) return std::nullopt;
  MergeProgress p;
  p.barValue = static_cast<int>(std::clamp<int64_t>(lParam, 0, range_));
  p.percent = PercentText(lParam, range_);
  return p;
}

std::optional<std::string> MergeJob::Check(const ClipList& list) {
  if (list.Count() == 0) return std::string(kTextAddClipsFirst);
  const std::string& rate = list.Text(0, kColBaudrate);
  const std::string& picture = list.Text(0, kColResolution);
  for (int row = 1; row < list.Count(); ++row)
    if (list.Text(row, kColBaudrate) != rate || list.Text(row, kColResolution) != picture)
      return std::string(kTextDifferentAttribute);
  // Equal video texts say nothing of the sound or of further streams: clips whose streams
  // differ would be written into the first clip's streams and give a broken file. A clip that
  // cannot be read is left to the run, which reports it by name.
  const auto reference = ReadStreamLayout(list.Text(0, kColPath));
  if (!reference) return std::nullopt;
  for (int row = 1; row < list.Count(); ++row) {
    const auto layout = ReadStreamLayout(list.Text(row, kColPath));
    if (layout && *layout != *reference) return std::string(kTextDifferentAttribute);
  }
  return std::nullopt;
}

MergeResult MergeJob::Fail(HRESULT hr, const std::string& what) {
  MergeResult r;
  r.outcome = MergeResult::Outcome::Failed;
  r.hr = hr;
  char code[16];
  std::snprintf(code, sizeof(code), "0x%08X", static_cast<uint32_t>(hr));
  r.message = std::string(kTextMergeFailed) + " " + what + ": " + Reason(hr) + " (" + code + ")";
  DbgLog(1, -1, "Merge failed: %s\n", r.message.c_str());
  return r;
}

MergeResult MergeJob::Run(const ClipList& list) {
  MergeResult result;
  if (running_) {
    result.outcome = MergeResult::Outcome::Busy;
    return result;
  }
  if (hooks_.stopPreview) hooks_.stopPreview();
  RunScope scope(running_, hooks_.setBusy);

  if (auto refusal = Check(list)) {
    result.message = *refusal;
    return result;
  }
  // The rows as they are now: the window's messages run during the copy.
  std::vector<std::string> paths;
  for (int row : list.MergeOrder()) paths.push_back(list.Text(row, kColPath));
  const std::string top = list.Text(0, kColPath);

  uint64_t total = 0;
  for (int row = 0; row < list.Count(); ++row) total += GetClipLength(list.Text(row, kColPath));
  range_ = static_cast<int>(std::min<uint64_t>(total, INT_MAX));
  if (hooks_.started) hooks_.started(range_, PercentText(0, range_), kTextMerging);

  // The destination takes its stream layout from the top-row clip.
  HRESULT hr = engine_.SetSrcFile(top.c_str());
  if (FAILED(hr)) return Fail(hr, FileName(top));

  const std::string wanted = TimedOutputName(top, "Merged", hooks_.now ? hooks_.now() : LocalNow());
  std::string output;
  if (!outputName_.empty()) {
    output = outputName_;
    hr = engine_.SetDesFile(output.c_str());  // refuses a name that is taken
  }
  // A name taken since it was looked at is passed over too: the engine never replaces a file.
  for (int n = 1; outputName_.empty() && n <= 1000; ++n) {
    output = NumberedOutputName(wanted, n);
    if (OutputNameTaken(output)) continue;
    hr = engine_.SetDesFile(output.c_str());
    if (hr != NS_E_FILE_EXISTS) break;
  }
  if (FAILED(hr)) return Fail(hr, FileName(output));
  if (FAILED(hr = engine_.CopyProfile()) || FAILED(hr = engine_.SetStream(1)) ||
      FAILED(hr = engine_.BeginWrite()))
    return Fail(hr, FileName(output));

  // From here a failure ends the writing and takes away what was written.
  auto abandon = [&](HRESULT why, const std::string& what) {
    if (engine_.EndWrite() == S_OK) unlink(output.c_str());
    return Fail(why, what);
  };
  int32_t offset = 0;
  for (const std::string& path : paths) {
    if (window_ != nullptr) window_->DispatchOnePending();
    if (FAILED(hr = engine_.SetSrcFile(path.c_str())) || FAILED(hr = engine_.SetStream(0)))
      return abandon(hr, FileName(path));
    int32_t copied = 0;
    hr = engine_.CopyPart(offset, 0, &copied, 1);
    if (FAILED(hr)) return abandon(hr, FileName(path));
    if (copied > INT32_MAX - offset) return abandon(E_INVALIDARG, FileName(path));
    offset += copied;
  }
  if (FAILED(hr = engine_.EndWrite())) return Fail(hr, FileName(output));

  result.outcome = MergeResult::Outcome::Finished;
  result.outputPath = output;
  result.message = kTextMergeFinished;
  result.percent = "%100";
  return result;
}

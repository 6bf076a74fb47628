#include "MontageJob.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>

#include "CQmvedit.h"
#include "ClipFile.h"
#include "DbgLog.h"
#include "OutputName.h"

namespace {

// Clears the running flag however the job ends.
struct RunningFlag {
  explicit RunningFlag(bool* flag) : flag_(flag) { *flag_ = true; }
  ~RunningFlag() { *flag_ = false; }
  RunningFlag(const RunningFlag&) = delete;
  RunningFlag& operator=(const RunningFlag&) = delete;
  bool* flag_;
};

void Dispatch(CMsgWindow* window) {
  if (window != nullptr) window->DispatchOnePending();
}

}  // namespace

std::vector<PERIOD> CMontageJob::WriteOrder(const std::vector<PERIOD>& sections) {
  // A length of 0 would ask the engine for the rest of the clip: such a section writes nothing.
  std::vector<PERIOD> order;
  std::copy_if(sections.begin(), sections.end(), std::back_inserter(order),
               [](const PERIOD& s) { return s.nDur > 0; });
  // Numbers typed by hand or left by deletions may repeat or have gaps: each section still goes
  // out once, and equal numbers keep the order of the timeline.
  std::stable_sort(order.begin(), order.end(), [](const PERIOD& a, const PERIOD& b) {
    return a.nSeq != b.nSeq ? a.nSeq < b.nSeq : a.nFrom < b.nFrom;
  });
  return order;
}

std::string CMontageJob::OutputName(const std::string& srcPath, const std::tm& localTime) {
  return TimedOutputName(srcPath, "MoN", localTime);
}

std::string CMontageJob::PercentText(double pct) {
  return PercentOfJobText(pct);
}

std::string CMontageJob::ReasonText(HRESULT hr) {
  switch (hr) {
    case E_OUTOFMEMORY:
      return "Out of memory.";
    case E_ABORT:
      return "The job was stopped.";
    case NS_E_FILE_EXISTS:
      return "A file of that name exists already.";
    case NS_E_FILE_WRITE:
      return "The new clip could not be written.";
    case NS_E_FILE_OPEN_FAILED:
      return "The clip could not be opened.";
    case NS_E_INVALID_STREAM:
      return "The clip's streams cannot be copied.";
    default:
      break;
  }
  const uint32_t code = static_cast<uint32_t>(hr);
  if ((code & 0xFFFF0000u) == 0x80070000u && (code & 0xFFFFu) != 0) {
    // A system error the engine passed on (see HResultFromErrno).
    std::string text = std::strerror(static_cast<int>(code & 0xFFFFu));
    return text + ".";
  }
  return std::string();
}

std::optional<MontageProgress> CMontageJob::OnProgress(intptr_t writtenMs) const {
  if (!m_bRunning) return std::nullopt;
  MontageProgress p;
  // The written time runs past the total by the key-frame lead-in of the sections; a bar
  // ignores values beyond its range, so the position stops at the end.
  p.barPos = static_cast<int32_t>(std::clamp<intptr_t>(writtenMs, 0, m_nMontageTotal));
  if (m_nMontageTotal == 0) return p;
  const double pct = static_cast<double>(static_cast<int32_t>(writtenMs)) /
                     static_cast<double>(static_cast<uint32_t>(m_nMontageTotal)) * 100.0;
  if (pct > 100.0 || pct < 0.0) return p;
  p.percent = PercentText(pct);
  return p;
}

MontageResult CMontageJob::Run(CQmvedit& engine, CMsgWindow* window, const std::string& srcPath,
                               const std::vector<PERIOD>& sections, const MontageJobView& view,
                               std::time_t startTime, const std::string& outputPath) {
  MontageResult result;
  if (m_bRunning) {
    result.status = MontageResult::Status::Busy;
    return result;
  }
  if (!IsClipFile(srcPath)) return result;
  const std::vector<PERIOD> order = WriteOrder(sections);
  if (order.empty()) return result;
  RunningFlag running(&m_bRunning);

  auto show = [&](const std::function<void(const std::string&)>& hook, const std::string& text) {
    if (hook) hook(text);
  };
  std::string name;
  bool written = false;  // EndWrite gave the clip its name
  auto fail = [&](HRESULT hr, const std::string& reason) {
    if (written) {
      std::error_code ec;
      std::filesystem::remove(name, ec);
    }
    result.status = MontageResult::Status::Failed;
    result.hr = hr;
    result.outputPath.clear();
    result.message = kMsgMontageFailed;
    if (!reason.empty()) result.message += " " + reason;
    DbgLog(1, -1, "Montage of %s failed (0x%08X): %s\n", srcPath.c_str(), static_cast<unsigned>(hr),
           reason.c_str());
    show(view.showMessage, result.message);
    return result;
  };

  if (startTime == 0) startTime = std::time(nullptr);
  std::tm local{};
  localtime_r(&startTime, &local);
  // Two jobs on one source within one second would share the name: the later one is numbered.
  name = outputPath.empty() ? FreeOutputName(OutputName(srcPath, local)) : outputPath;
  if (!outputPath.empty() && OutputNameTaken(name)) name.clear();
  if (name.empty()) return fail(NS_E_FILE_EXISTS, ReasonText(NS_E_FILE_EXISTS));
  if (!engine.IsSrcOpen()) return fail(E_UNEXPECTED, "No clip is open.");

  HRESULT hr = engine.SetDesFile(name.c_str());
  if (FAILED(hr)) return fail(hr, ReasonText(hr));
  hr = engine.CopyProfile();
  if (FAILED(hr)) return fail(hr, "The clip's streams cannot be copied.");

  show(view.showMessage, kMsgMontageRunning);
  int64_t total = 0;
  for (const PERIOD& s : order) total += s.nDur;
  m_nMontageTotal = static_cast<int32_t>(std::min<int64_t>(total, INT32_MAX));
  if (view.setProgressRange) view.setProgressRange(m_nMontageTotal);
  show(view.showPercent, PercentText(0));
  Dispatch(window);

  engine.SetDur(m_nMontageTotal);
  hr = engine.SetStream(1);
  if (FAILED(hr)) return fail(hr, ReasonText(hr));
  hr = engine.BeginWrite();
  if (FAILED(hr)) return fail(hr, ReasonText(hr));

  int32_t outPos = 0;
  HRESULT copy = S_OK;
  for (const PERIOD& s : order) {
    Dispatch(window);
    int32_t len = s.nDur;
    copy = engine.CopyPart(outPos, s.nFrom, &len, 0);
    if (FAILED(copy)) break;
    outPos += len;
  }
  // After an abort the session is gone and has removed its unfinished clip itself.
  const HRESULT end = copy == E_ABORT ? E_ABORT : engine.EndWrite();
  written = SUCCEEDED(end);
  result.writtenMs = outPos;
  if (FAILED(copy)) return fail(copy, ReasonText(copy));
  if (FAILED(end)) return fail(end, ReasonText(end));
  if (outPos <= 0) return fail(E_FAIL, "Nothing could be read from the clip.");

  if (view.setProgressPos) view.setProgressPos(m_nMontageTotal);
  show(view.showPercent, PercentText(100));
  result.status = MontageResult::Status::Done;
  result.outputPath = name;
  result.message = kMsgMontageDone;
  show(view.showMessage, result.message);
  return result;
}

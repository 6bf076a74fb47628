// The montage job: writes the sections of the timeline, in the order of their sequence numbers,
// from the clip the montage engine has open into a new clip beside it, and turns the engine's
// progress posts into the progress bar's position and the percent text. It runs on the calling
// thread from start to end and keeps the window alive by dispatching single pending messages.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "HostWindow.h"
#include "Period.h"
#include "WinTypes.h"

class CQmvedit;

inline constexpr const char kMsgMontageRunning[] = "Sections copying in process, please wait....";
inline constexpr const char kMsgMontageDone[] = "Finished copying selected parts";
inline constexpr const char kMsgMontageFailed[] = "Failed to copy selected parts.";

// What the job shows while it runs; every hook may be left empty.
struct MontageJobView {
  std::function<void(const std::string&)> showMessage;  // message line 1041
  std::function<void(int32_t total)> setProgressRange;  // bar 1022: 0 .. total
  std::function<void(int32_t pos)> setProgressPos;      // bar 1022 position
  std::function<void(const std::string&)> showPercent;  // text 1023, repainted at once
};

struct MontageResult {
  enum class Status {
    NotRun,  // not a clip path, or no sections: nothing happened, nothing to show
    Busy,    // a job is running already: nothing happened
    Done,
    Failed,
  };
  Status status = Status::NotRun;
  std::string outputPath;  // the new clip, only when Done: for edit 1042 and its tooltip
  std::string message;     // what the message line shows at the end ("" for NotRun and Busy)
  HRESULT hr = S_OK;       // the engine's failure, when it gave one
  int32_t writtenMs = 0;   // output time covered
};

// The progress bar position and, when it changes, the percent text for one WM_EDIT_PROGRESS.
struct MontageProgress {
  int32_t barPos = 0;
  std::optional<std::string> percent;
};

class CMontageJob {
 public:
  // Runs the job (command 1021). srcPath is the text of edit 1025 (extension test and output
  // name), sections the timeline's sections in array order, startTime the job's start (0: now).
  // window is the engine's notify window; the job dispatches one of its pending messages after
  // "%0" and before each section. On failure no clip is left behind. outputPath, when given,
  // names the new clip instead of the timed name beside the source; a name that is taken is
  // refused, never replaced.
  MontageResult Run(CQmvedit& engine, CMsgWindow* window, const std::string& srcPath,
                    const std::vector<PERIOD>& sections, const MontageJobView& view,
                    std::time_t startTime = 0, const std::string& outputPath = std::string());

  // WM_EDIT_PROGRESS of the montage engine (lParam: ms written). Nothing while no job runs:
  // posts still queued after the end must not move the bar or the text back.
  std::optional<MontageProgress> OnProgress(intptr_t writtenMs) const;

  bool IsRunning() const { return m_bRunning; }
  // Sum of the section lengths of the last job, 0 before the first.
  int32_t Total() const { return m_nMontageTotal; }

  // Sections in the order the job writes them: every section with a length exactly once, by
  // sequence number and, among equal numbers, by position on the timeline.
  static std::vector<PERIOD> WriteOrder(const std::vector<PERIOD>& sections);
  // "%sMoN%d_%d_%d_%d_%d_%d.%s" for a source path and a local time (the name may be taken).
  static std::string OutputName(const std::string& srcPath, const std::tm& localTime);
  // "%" followed by the value with "%0.0f".
  static std::string PercentText(double pct);
  // A short reason for an engine failure, for the message line.
  static std::string ReasonText(HRESULT hr);

 private:
  int32_t m_nMontageTotal = 0;
  bool m_bRunning = false;
};

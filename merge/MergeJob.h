// The merge job: joins the clips of the clip list, in the order of their Seq# numbers, into one
// new clip beside the top-row clip, through the merge engine, without re-encoding.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "WinTypes.h"

class CMsgWindow;
class CQmvedit;
class ClipList;

inline constexpr const char* kTextAddClipsFirst = "Please add clips first before click Merge.";
inline constexpr const char* kTextDifferentAttribute =
    "Video clips cannot be merged because of different attribute.";
inline constexpr const char* kTextMerging = "Clips merging in process...";
inline constexpr const char* kTextMergeFinished = "File merging finished.";
inline constexpr const char* kTextMergeFailed = "File merging failed.";

struct MergeResult {
  enum class Outcome {
    Finished,  // the clip is written
    Refused,   // empty list or clips that differ: nothing was written
    Failed,    // the engine failed: nothing is left behind
    Busy,      // a run is in progress already: nothing happened
  };
  Outcome outcome = Outcome::Refused;
  std::string outputPath;  // the new clip, for the export pane's file edit (Finished only)
  std::string message;     // for the message line ("" for Busy)
  std::string percent;     // for the percent label; "" leaves it as it is
  HRESULT hr = S_OK;       // the engine's result on failure
  bool ok() const { return outcome == Outcome::Finished; }
};

struct MergeProgress {
  int barValue = 0;     // for the progress bar, within 0 ... range
  std::string percent;  // "%0" ... "%100"
};

class MergeJob {
 public:
  // What the job asks of the window during a run. Each may be left empty.
  struct Hooks {
    // Before anything else: stop a playing preview (calling the player's Stop).
    std::function<void()> stopPreview;
    // true when a run starts, false when it ends: the window disables the pane's commands and
    // drops on it in between, since the run dispatches the window's messages.
    std::function<void(bool running)> setBusy;
    // The copy begins: progress bar range 0 ... rangeMs at 0, the percent label and the message.
    std::function<void(int rangeMs, const std::string& percent, const std::string& message)>
        started;
    // Local time for the output name; the clock when empty.
    std::function<std::tm()> now;
  };

  // The engine is the window's merge engine (Init done, notify window set); window gets one
  // pending message dispatched between the job's steps (may be null).
  MergeJob(CQmvedit& engine, CMsgWindow* window);
  void SetHooks(Hooks hooks) { hooks_ = std::move(hooks); }
  // A name for the new clip instead of the timed one beside the top-row clip ("" goes back to
  // that); a name that is taken is refused, never replaced.
  void SetOutputName(std::string path) { outputName_ = std::move(path); }

  // The whole Merge command.
  MergeResult Run(const ClipList& list);
  bool IsRunning() const { return running_; }

  // WM_EDIT_PROGRESS (lParam: ms written) while a run is in progress; none otherwise, so that
  // progress posted before the run ended does not overwrite its final texts.
  std::optional<MergeProgress> OnProgress(intptr_t lParam) const;

  // Refusal text when the clips cannot be merged: the list is empty, or a row's bit rate or
  // resolution and frame rate text differs from the top row's, or its streams differ from the
  // top clip's (count, kind, codec, audio sample rate and channels). None when they can.
  static std::optional<std::string> Check(const ClipList& list);
  // "%" followed by "%0.0f" of value / range * 100, value held to 0 ... range; "%0" for range 0.
  static std::string PercentText(int64_t value, int64_t range);

 private:
  MergeResult Fail(HRESULT hr, const std::string& what);

  CQmvedit& engine_;
  CMsgWindow* window_;
  Hooks hooks_;
  std::string outputName_;
  bool running_ = false;
  int range_ = 0;
};

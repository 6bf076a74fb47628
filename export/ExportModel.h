// What the export pane shows and decides, without a window: the refusals of Start, the output
// index the player window plays on, and the displays for a reported play position.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace exportpane {

inline constexpr const char* kTextNoOutput = "Please select the media/device to be exported.";
inline constexpr const char* kTextNoClip = "Please offer a valid media file.";
inline constexpr const char* kTextNoCamcorder = "No VTR mode digital camcorder connected.";
inline constexpr const char* kTextTapeFailed = "Failed to export the video to DV tape.";
inline constexpr const char* kTextTapeDone = "The clip has already exported to the DV tape.";
inline constexpr const char* kTextTapeQuestion =
    "Please check if the tape need to change, \nContinue?";
inline constexpr const char* kTextZeroTime = "00:00:00";
inline constexpr const char* kTextZeroPercent = "%0";

// A report this close to the clip's end (ms) stops the output.
constexpr int32_t kEndMarginMs = 100;

// The text Start shows instead of starting: no output picked, or a path that is not a clip.
std::optional<std::string> StartRefusal(int outputCode, const std::string& path);

// The player window's output for an output code: 0 primary monitor, 1 secondary monitor, 2 the
// display that carries S-Video and composite video; -1 for the tape and unknown codes.
int OutputIndexFor(int outputCode);

// "%02d:%02d:%02d" of hours (not bounded), minutes and seconds, truncated; below 0 reads as 0.
std::string PositionText(int32_t ms);

struct PositionShown {
  int32_t position = 0;  // slider and progress bar
  std::string time;      // label 1046
  std::string percent;   // label 1050
  bool stop = false;     // within kEndMarginMs of the end: the pane stops the output
  bool scaled = false;   // the length is known: the bar and the percent follow the position
};
// The displays for a play position of a clip `duration` ms long (the slider's maximum; 0 or less
// for a length nobody knows, which never stops the output).
PositionShown ForPosition(int32_t ms, int32_t duration);

}  // namespace exportpane

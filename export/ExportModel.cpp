#include "ExportModel.h"

#include <algorithm>
#include <cstdio>

#include "ClipFile.h"
#include "OutputName.h"

namespace exportpane {

std::optional<std::string> StartRefusal(int outputCode, const std::string& path) {
  if (outputCode < 0) return kTextNoOutput;
  if (!IsClipFile(path)) return kTextNoClip;
  return std::nullopt;
}

int OutputIndexFor(int outputCode) {
  switch (outputCode) {
    case 10:
      return 0;
    case 11:
      return 1;
    case 12:
    case 16:
      return 2;
    default:
      return -1;
  }
}

std::string PositionText(int32_t ms) {
  const int64_t s = std::max<int32_t>(ms, 0) / 1000;
  char text[32];
  std::snprintf(text, sizeof(text), "%02d:%02d:%02d", static_cast<int>(s / 3600),
                static_cast<int>(s / 60 % 60), static_cast<int>(s % 60));
  return text;
}

PositionShown ForPosition(int32_t ms, int32_t duration) {
  PositionShown shown;
  shown.position = std::max<int32_t>(ms, 0);
  shown.time = PositionText(shown.position);
  // A clip of unknown length has no scale: the bar and the percent stay at the start, and the
  // clip's own end (the player's not-playing report) ends the output.
  shown.scaled = duration > 0;
  const double percent =
      shown.scaled ? static_cast<double>(shown.position) / duration * 100.0 : 0.0;
  shown.percent = PercentOfJobText(percent);
  shown.stop = shown.scaled && static_cast<int64_t>(shown.position) >=
                                   static_cast<int64_t>(duration) - kEndMarginMs;
  return shown;
}

}  // namespace exportpane

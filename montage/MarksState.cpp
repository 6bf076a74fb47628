#include "MarksState.h"

#include <algorithm>
#include <cstdio>

std::string SecondsText(int64_t ms) {
  char text[32];
  const int64_t a = ms < 0 ? -ms : ms;
  std::snprintf(text, sizeof(text), "%s%lld.%03lld", ms < 0 ? "-" : "",
                static_cast<long long>(a / 1000), static_cast<long long>(a % 1000));
  return text;
}

std::string FitProblem(const MarksState& s, int32_t lengthMs) {
  const auto span = [](const PERIOD& p) {
    return SecondsText(p.nFrom) + "-" + SecondsText(static_cast<int64_t>(p.nFrom) + p.nDur);
  };
  std::vector<PERIOD> sorted = s.sections;
  for (const PERIOD& p : sorted) {
    if (p.nFrom < 0 || p.nDur <= 0 || static_cast<int64_t>(p.nFrom) + p.nDur > lengthMs)
      return "section " + span(p) + " does not lie inside the clip (" + SecondsText(lengthMs) +
             " s)";
    if (p.nSeq < 1) return "section " + span(p) + " has no number from 1";
  }
  std::sort(sorted.begin(), sorted.end(),
            [](const PERIOD& a, const PERIOD& b) { return a.nFrom < b.nFrom; });
  for (size_t i = 1; i < sorted.size(); ++i)
    if (static_cast<int64_t>(sorted[i - 1].nFrom) + sorted[i - 1].nDur >= sorted[i].nFrom)
      return "sections " + span(sorted[i - 1]) + " and " + span(sorted[i]) +
             " overlap or touch; the timeline keeps sections apart";
  const auto inside = [&](int32_t p) { return p >= 0 && p <= lengthMs; };
  if (s.beginSet && !inside(s.begin)) return "the beginning point lies outside the clip";
  if ((s.splitState >= 1 && !inside(s.split1)) || (s.splitState == 2 && !inside(s.split2)))
    return "a split point lies outside the clip";
  return {};
}

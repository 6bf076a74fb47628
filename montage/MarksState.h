// What the user has marked on a clip: the sections with their numbers in the timeline's array
// order, a pending beginning point and the split points. The undo history and the section store
// keep whole copies of it; the cursor, the selection and the drag in progress are not part of it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Period.h"

struct MarksState {
  std::vector<PERIOD> sections;
  bool beginSet = false;
  int32_t begin = 0;
  int32_t splitState = 0;  // 0 none, 1 first split point set, 2 both
  int32_t split1 = 0;
  int32_t split2 = 0;

  bool Empty() const { return sections.empty() && !beginSet && splitState == 0; }
  friend bool operator==(const MarksState& a, const MarksState& b) {
    if (a.sections.size() != b.sections.size()) return false;
    for (size_t i = 0; i < a.sections.size(); ++i) {
      const PERIOD& x = a.sections[i];
      const PERIOD& y = b.sections[i];
      if (x.nFrom != y.nFrom || x.nDur != y.nDur || x.nSeq != y.nSeq) return false;
    }
    return a.beginSet == b.beginSet && a.begin == b.begin && a.splitState == b.splitState &&
           a.split1 == b.split1 && a.split2 == b.split2;
  }
};

// Why the timeline cannot hold the state on a clip of lengthMs, "" when it can: its sections
// must have a length, lie inside the clip, carry numbers from 1 and keep apart from one another
// (no two may even touch); its marks must lie inside the clip.
std::string FitProblem(const MarksState& state, int32_t lengthMs);
// Seconds with three decimals, as the section files and the CSV write times: 12480 -> "12.480".
std::string SecondsText(int64_t ms);

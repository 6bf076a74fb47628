// Where the montage pane's keys move the timeline's cursor: a frame back or forward, the key
// frame before or after, the mark before or after, and which kind of point Add Mark would set.
// Plain functions of positions in ms.
#pragma once

#include <cstdint>

#include "KeyFrameMarks.h"
#include "MarksState.h"

namespace cursorkeys {

// The frame after the one shown at pos (the first frame at or after pos) at the given frame rate
// (frames at floor(n * 1000 / fps) ms); pos itself when that frame lies at or past max.
int32_t NextFrame(int32_t pos, double fps, int32_t max);
// The last frame before pos; pos itself when there is none.
int32_t PreviousFrame(int32_t pos, double fps);

// The first key frame after pos, the last one before it; pos itself when there is none.
int32_t NextKeyFrame(const KeyFrameMarks& keys, int32_t pos);
int32_t PreviousKeyFrame(const KeyFrameMarks& keys, int32_t pos);

// Every mark of the timeline: both edges of each section and the pending points.
using Marks = MarksState;
// The first mark after pos, the last one before it; pos itself when there is none.
int32_t NextMark(const Marks& marks, int32_t pos);
int32_t PreviousMark(const Marks& marks, int32_t pos);

// The point Add Mark sets at pos: a beginning or an end point outside the sections, a first or
// second split point inside one.
enum class Point { Begin, End, FirstSplit, SecondSplit };
Point PointAt(const Marks& marks, int32_t pos);
// I sets a beginning point (or a first split point), O an end point (or the second split point):
// true when Add Mark at pos would set that kind.
bool IsBeginKind(Point p);

}  // namespace cursorkeys

// The model behind the montage timeline: the clip's range, the cursor and its step, pending
// marks, the sections with their sequence numbers, the selection with its working copy, and the
// mapping between positions and pixels of the bar. It has no window; Paint draws into a painter.
#pragma once

#include <cstdint>
#include <vector>

#include "KeyFrameMarks.h"
#include "MarksState.h"
#include "Period.h"

class QPainter;

class CPeriodBar {
 public:
  // A rectangle in the control's client pixels; right and bottom lie outside it.
  struct RECT {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
  };

  CPeriodBar() = default;

  void SetRange(int start, int end);
  void SetBarRect(int left, int top, int width, int height);

  int GetPos() const { return m_nPos; }
  void SetPos(int p);
  void StepForward(int n);
  void StepBack(int n);

  int GetCount() const { return static_cast<int>(m_arrPeriods.size()); }
  PERIOD* GetPeriod(int index);
  const PERIOD* GetPeriod(int index) const;
  PERIOD* PeriodAt(int p);
  int IndexAt(int p) const;

  int PosFromPoint(int x, int y) const;
  int PixelSpan(int n) const;

  bool CanPlacePoint(int p) const;
  void SetBeginPoint();
  void SetEndPoint();
  int NextSeq() const;
  void RemovePeriod(const PERIOD* period);

  PERIOD* SetFirstSplit();
  void SetSecondSplit();
  void CutRange(bool apply);

  void SelectAt(int x, int y);
  void SelectIndex(int index);
  void DeleteSelected();

  void EdgeHit(int x, int y, int* edge, bool* hit) const;
  void ResizeEdited(int span[2], int edge);
  void CommitEdit(bool apply);

  PERIOD* FindNeighbour(int index, bool forward);
  bool GetNeighbourBounds(int index, bool forward, int* lo, int* hi);
  bool IsInsideNeighbourBounds(int value, int index, bool forward);

  void ClearPeriods();
  // A new source clip: a pending beginning point, split points and the selection were set on
  // the old clip's positions and may lie beyond the new one's end.
  void ClearMarks();

  void Paint(QPainter* dc) const;

  // The sections and pending marks, for the undo history and the section store.
  MarksState State() const;
  // Puts a state back (undo, redo, a clip opened again). The selection stays while its section is
  // still there; otherwise it goes, and with it any edge drag.
  void Restore(const MarksState& state);

  // The source clip's key frames, drawn as ticks along the bottom of the bar.
  void SetKeyFrames(const KeyFrameMarks& marks) { m_keys = marks; }
  const KeyFrameMarks& KeyFrames() const { return m_keys; }
  // Where Add Mark with Shift moves the cursor at p before it sets the mark: to the nearest key
  // frame when the mark would be a beginning point (within the gap between sections that p lies
  // in) or a second split point after the first (the start of the right part, within the
  // section); p itself otherwise and when no key frame lies there.
  int MarkSnapTarget(int p) const;
  // The nearest key frame to p that the start edge of the edited section can take (after the
  // section before it, before its own end); -1 when there is none.
  int SnapStartEdge(int p) const;

  // Read access for the control, the section list and the tests.
  int GetMin() const { return m_nMin; }
  int GetMax() const { return m_nMax; }
  int GetStep() const { return m_nStep; }
  bool IsBeginSet() const { return m_bBeginSet; }
  int GetBegin() const { return m_nBegin; }
  int GetSplitState() const { return m_nSplitState; }
  int GetSplit1() const { return m_nSplit1; }
  int GetSplit2() const { return m_nSplit2; }
  const PERIOD& GetSelPeriod() const { return m_selPeriod; }
  const PERIOD& GetEditPeriod() const { return m_editPeriod; }
  int GetSelIndex() const { return m_nSelIndex; }
  const RECT& GetBarRect() const { return m_rcBar; }
  // The strip of the bar that every hit test uses.
  RECT BandRect() const;
  // x of a position on the bar; the bar's left edge while the range is empty.
  int XFromPos(int p) const;
  // False before a clip is opened (range 0 to 0): no position can be mapped onto the bar.
  bool HasRange() const { return m_nMax != m_nMin; }

 private:
  void ClearSelection();

  int32_t m_nMin = 0;
  int32_t m_nMax = 0;
  int32_t m_nPos = 0;
  int32_t m_nStep = 0;
  bool m_bBeginSet = false;
  int32_t m_nSplitState = 0;
  int32_t m_nSplit1 = 0;
  int32_t m_nSplit2 = 0;
  std::vector<PERIOD> m_arrPeriods;
  int32_t m_nBegin = 0;
  PERIOD m_selPeriod;
  RECT m_rcBar;
  int32_t m_nSelIndex = -1;
  PERIOD m_editPeriod;
  KeyFrameMarks m_keys;
};

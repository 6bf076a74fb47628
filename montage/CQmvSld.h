// The montage timeline (control 1002): shows the clip's sections, the selection, the cursor and
// pending marks; turns clicks, drags and arrow keys into operations on its CPeriodBar; and tells
// its owner window when the cursor moves (WM_TIMELINE_POS) or the sections may have changed
// (WM_TIMELINE_CHANGED).
#pragma once

#include <QWidget>
#include <memory>

#include "PeriodBar.h"

class QString;

class CQmvSld : public QWidget {
  Q_OBJECT

 public:
  explicit CQmvSld(QWidget* parent = nullptr);
  ~CQmvSld() override;

  void SetOwnerWnd(QObject* owner) { m_pOwnerWnd = owner; }
  // Resizes the control to the rectangle's size where it stands; the bar fills it.
  void PlaceBar(int left, int top, int right, int bottom);
  void SetRange(int start, int end);
  int GetPos() const;
  void SetPos(int p);
  void Step(bool forward, int n);
  // One button sets all four kinds of mark, chosen by where the cursor stands.
  void AddMark();
  // Cuts when both split points are set, otherwise deletes the selected section.
  void EraseMark();
  int GetCount() const;
  PERIOD* GetPeriod(int i);
  void SelectPeriod(int i);
  bool GetNeighbourBounds(int i, bool forward, int* lo, int* hi);
  bool IsInsideNeighbourBounds(int v, int i, bool forward);
  void ClearAll();
  // Drops pending marks and the selection (a new source clip); repaints.
  void ClearMarks();
  // Puts marks and sections back (undo, redo, kept sections); a drag in progress ends. Repaints.
  void Restore(const MarksState& state);

  // The montage pane's "<-" and "->" buttons (and the '[' and ']' keys): two steps, then the
  // caller shows the returned cursor in edit 1014 and the frame there.
  int StepButton(bool forward);
  // The Goto button's value: the leading decimal digits of edit 1014's text, 0 when there are
  // none, held at the largest position a clip can have. The caller shows the frame at it and
  // then calls SetPos with it.
  static int GotoValue(const QString& text);

  const CPeriodBar& Bar() const { return *m_pBar; }
  // The source clip's key frames: ticks on the bar, and what a start edge dragged with Shift
  // held snaps to. Repaints.
  void SetKeyFrames(const KeyFrameMarks& marks);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void OnLButtonDown(int x, int y);
  void OnLButtonUp(int x, int y);
  void OnMouseMove(int x, int y, bool leftHeld, bool snap);
  void OnRButtonUp(int x, int y);
  void OnLButtonDblClk();
  void OnRButtonDblClk();
  void TrackEdge(int x, int y);
  void NotifyChanged();
  void UpdateBar();

  QObject* m_pOwnerWnd = nullptr;
  std::unique_ptr<CPeriodBar> m_pBar;
  bool m_bDragging = false;
  int m_nDragEdge = 0;  // 1 end edge, 2 start edge, 0 none
};

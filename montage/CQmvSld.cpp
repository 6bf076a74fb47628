#include "CQmvSld.h"

#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QString>
#include <limits>

#include "WinMessage.h"

CQmvSld::CQmvSld(QWidget* parent) : QWidget(parent), m_pBar(std::make_unique<CPeriodBar>()) {
  // The pointer shape follows the grip zones even without a button held.
  setMouseTracking(true);
  // A click gives the control the keyboard focus, so that the arrow keys reach it.
  setFocusPolicy(Qt::ClickFocus);
  // The whole area is painted from the back buffer.
  setAttribute(Qt::WA_OpaquePaintEvent);
}

CQmvSld::~CQmvSld() = default;

void CQmvSld::PlaceBar(int left, int top, int right, int bottom) {
  resize(right - left, bottom - top);
  m_pBar->SetBarRect(0, 0, right - left, bottom - top);
}

void CQmvSld::SetRange(int start, int end) {
  m_pBar->SetRange(start, end);
}

int CQmvSld::GetPos() const {
  return m_pBar->GetPos();
}

void CQmvSld::SetPos(int p) {
  m_pBar->SetPos(p);
  update();
}

void CQmvSld::Step(bool forward, int n) {
  if (forward)
    m_pBar->StepForward(n);
  else
    m_pBar->StepBack(n);
  UpdateBar();
}

void CQmvSld::AddMark() {
  if (m_pBar->PeriodAt(m_pBar->GetPos()) != nullptr) {
    if (m_pBar->GetSplitState() == 1) {
      m_pBar->SetSecondSplit();
      NotifyChanged();
    } else {
      m_pBar->SetFirstSplit();
    }
  } else if (m_pBar->IsBeginSet()) {
    m_pBar->SetEndPoint();
    NotifyChanged();
  } else {
    m_pBar->SetBeginPoint();
  }
  update();
}

void CQmvSld::EraseMark() {
  if (m_pBar->GetSplitState() == 2)
    m_pBar->CutRange(true);
  else
    m_pBar->DeleteSelected();
  NotifyChanged();
  UpdateBar();
}

int CQmvSld::GetCount() const {
  return m_pBar->GetCount();
}

PERIOD* CQmvSld::GetPeriod(int i) {
  return m_pBar->GetPeriod(i);
}

void CQmvSld::SelectPeriod(int i) {
  m_pBar->SelectIndex(i);
  update();
}

bool CQmvSld::GetNeighbourBounds(int i, bool forward, int* lo, int* hi) {
  return m_pBar->GetNeighbourBounds(i, forward, lo, hi);
}

bool CQmvSld::IsInsideNeighbourBounds(int v, int i, bool forward) {
  return m_pBar->IsInsideNeighbourBounds(v, i, forward);
}

void CQmvSld::ClearAll() {
  m_pBar->ClearPeriods();
  update();
}

void CQmvSld::ClearMarks() {
  m_pBar->ClearMarks();
  m_bDragging = false;
  update();
}

void CQmvSld::Restore(const MarksState& state) {
  m_pBar->Restore(state);
  m_bDragging = false;
  update();
}

void CQmvSld::SetKeyFrames(const KeyFrameMarks& marks) {
  m_pBar->SetKeyFrames(marks);
  update();
}

int CQmvSld::StepButton(bool forward) {
  Step(forward, 2);
  return GetPos();
}

int CQmvSld::GotoValue(const QString& text) {
  int64_t v = 0;
  for (QChar c : text) {
    if (c < u'0' || c > u'9') break;
    v = v * 10 + (c.unicode() - u'0');
    if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  }
  return static_cast<int>(v);
}

void CQmvSld::NotifyChanged() {
  SendMsg(m_pOwnerWnd, WM_TIMELINE_CHANGED, 0, 0);
}

void CQmvSld::UpdateBar() {
  const CPeriodBar::RECT& rc = m_pBar->GetBarRect();
  update(QRect(rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top));
}

// Decides the edge under the pointer anew and shows the sizing arrow over a grip zone.
void CQmvSld::TrackEdge(int x, int y) {
  m_nDragEdge = 0;
  bool hit = false;
  m_pBar->EdgeHit(x, y, &m_nDragEdge, &hit);
  setCursor(hit ? Qt::SizeHorCursor : Qt::ArrowCursor);
}

void CQmvSld::OnLButtonDown(int x, int y) {
  // A drag starts only on a grip zone of the section that was already selected.
  m_nDragEdge = 0;
  bool hit = false;
  m_pBar->EdgeHit(x, y, &m_nDragEdge, &hit);
  if (hit) m_bDragging = true;
  m_pBar->SelectAt(x, y);
  const int p = m_pBar->PosFromPoint(x, y);
  if (p > 0) {
    m_pBar->SetPos(p);
    SendMsg(m_pOwnerWnd, WM_TIMELINE_POS, 0, p);
  }
  TrackEdge(x, y);
}

void CQmvSld::OnMouseMove(int x, int y, bool leftHeld, bool snap) {
  if (leftHeld && m_bDragging) {
    int p = m_pBar->PosFromPoint(x, y);
    // With Shift held a start edge goes to the nearest key frame it may take (or stays where it
    // is), and it stays the dragged edge while the pointer is away from it.
    if (snap && m_nDragEdge == 2 && !m_pBar->KeyFrames().Empty()) {
      if (p != -1) p = m_pBar->SnapStartEdge(p);
      if (p >= 0) {
        PostMsg(m_pOwnerWnd, WM_TIMELINE_POS, 0, p);
        int span[2] = {p, m_pBar->GetEditPeriod().nFrom + m_pBar->GetEditPeriod().nDur};
        m_pBar->ResizeEdited(span, 2);
        update();
      }
      return;
    }
    if (p != -1) {
      PostMsg(m_pOwnerWnd, WM_TIMELINE_POS, 0, p);
      const PERIOD& edit = m_pBar->GetEditPeriod();
      if (m_nDragEdge == 1) {
        int span[2] = {edit.nFrom, p};
        m_pBar->ResizeEdited(span, 1);
      } else if (m_nDragEdge == 2) {
        int span[2] = {p, edit.nFrom + edit.nDur};
        m_pBar->ResizeEdited(span, 2);
      }
      update();
    }
  } else if (leftHeld) {
    // Scrubbing: the cursor follows the pointer and selects whatever lies under it.
    m_pBar->SelectAt(x, y);
    const int p = m_pBar->PosFromPoint(x, y);
    if (p != -1) {
      m_pBar->SetPos(p);
      UpdateBar();
      PostMsg(m_pOwnerWnd, WM_TIMELINE_POS, 0, p);
    }
  }
  TrackEdge(x, y);
}

void CQmvSld::OnLButtonUp(int x, int y) {
  if (m_bDragging) {
    m_pBar->CommitEdit(true);
    NotifyChanged();
  }
  m_pBar->SelectAt(x, y);
  const int p = m_pBar->PosFromPoint(x, y);
  if (p > 0) {
    m_pBar->SetPos(p);
    SendMsg(m_pOwnerWnd, WM_TIMELINE_POS, 0, p);
    SendMsg(m_pOwnerWnd, WM_TIMELINE_RELEASE, 0, p);
  }
  m_bDragging = false;
  UpdateBar();
}

void CQmvSld::OnRButtonUp(int x, int y) {
  m_pBar->SelectAt(x, y);
  const int p = m_pBar->PosFromPoint(x, y);
  if (p != -1) {
    m_pBar->SetPos(p);
    UpdateBar();
  }
}

void CQmvSld::OnLButtonDblClk() {
  if (m_pBar->IsBeginSet()) {
    m_pBar->SetEndPoint();
    NotifyChanged();
  } else {
    m_pBar->SetBeginPoint();
  }
  update();
}

void CQmvSld::OnRButtonDblClk() {
  if (m_pBar->GetSplitState() == 1) {
    m_pBar->SetSecondSplit();
    NotifyChanged();
  } else {
    m_pBar->SetFirstSplit();
  }
  update();
}

void CQmvSld::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    setFocus(Qt::MouseFocusReason);
    const QPoint pt = event->position().toPoint();
    OnLButtonDown(pt.x(), pt.y());
  } else if (event->button() == Qt::RightButton) {
    setFocus(Qt::MouseFocusReason);
  }
}

void CQmvSld::mouseMoveEvent(QMouseEvent* event) {
  const QPoint pt = event->position().toPoint();
  OnMouseMove(pt.x(), pt.y(), (event->buttons() & Qt::LeftButton) != 0,
              (event->modifiers() & Qt::ShiftModifier) != 0);
}

void CQmvSld::mouseReleaseEvent(QMouseEvent* event) {
  const QPoint pt = event->position().toPoint();
  if (event->button() == Qt::LeftButton)
    OnLButtonUp(pt.x(), pt.y());
  else if (event->button() == Qt::RightButton)
    OnRButtonUp(pt.x(), pt.y());
}

// The second press of a double-click arrives as this event alone, as on the design's platform.
void CQmvSld::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton)
    OnLButtonDblClk();
  else if (event->button() == Qt::RightButton)
    OnRButtonDblClk();
}

void CQmvSld::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Left) {
    Step(false, 2);
  } else if (event->key() == Qt::Key_Right) {
    Step(true, 2);
  } else {
    // Other keys ('[' and ']' among them) go on to the main window.
    QWidget::keyPressEvent(event);
  }
}

void CQmvSld::paintEvent(QPaintEvent*) {
  // Drawn whole into a back buffer and copied in one go, so the inverted cursor and the marks
  // never flicker over a half-drawn bar.
  const qreal dpr = devicePixelRatioF();
  QImage buffer((QSizeF(size()) * dpr).toSize(), QImage::Format_RGB32);
  buffer.setDevicePixelRatio(dpr);
  buffer.fill(palette().color(backgroundRole()));
  {
    QPainter mem(&buffer);
    m_pBar->Paint(&mem);
  }
  QPainter dc(this);
  dc.drawImage(0, 0, buffer);
}

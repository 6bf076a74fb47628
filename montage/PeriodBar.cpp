#include "PeriodBar.h"

#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <limits>

#include "DbgLog.h"
#include "Gdi.h"

namespace {

// Section ends are summed in 64 bits: a start near the top of the range plus a length must not
// wrap around.
int64_t EndOf(const PERIOD& s) {
  return static_cast<int64_t>(s.nFrom) + s.nDur;
}

bool Holds(const PERIOD& s, int64_t p) {
  return s.nFrom <= p && p <= EndOf(s);
}

bool SameSpan(const PERIOD& a, const PERIOD& b) {
  return a.nFrom == b.nFrom && a.nDur == b.nDur;
}

// Truncates toward zero and keeps the result well inside int, whatever the scale.
int TruncClamp(double v) {
  constexpr double kLimit = 1 << 30;
  return static_cast<int>(std::trunc(std::clamp(v, -kLimit, kLimit)));
}

int ClampPos(int64_t v) {
  return static_cast<int>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                              std::numeric_limits<int32_t>::max()));
}

// The bar's tube look: colour a at the top and bottom rows, b in the middle row. Each half
// shades like a two-colour rectangle gradient fill: row y of a half starting at y0 with
// height n has the colour a + (b - a) * (y - y0) / n.
QImage MirroredGradient(int width, int top, int bottom, COLORREF a, COLORREF b) {
  QImage img(width, bottom - top, QImage::Format_RGB32);
  const int ym = (top + bottom) / 2 - top;
  const int h = bottom - top;
  QPainter p(&img);
  p.setPen(Qt::NoPen);
  // Pixel rows are sampled at their centres, so the stops sit half a pixel in.
  QLinearGradient upper(0, 0.5, 0, ym + 0.5);
  upper.setColorAt(0, ToQColor(a));
  upper.setColorAt(1, ToQColor(b));
  p.fillRect(0, 0, width, ym, upper);
  QLinearGradient lower(0, ym + 0.5, 0, h + 0.5);
  lower.setColorAt(0, ToQColor(b));
  lower.setColorAt(1, ToQColor(a));
  p.fillRect(0, ym, width, h - ym, lower);
  return img;
}

constexpr COLORREF kBackA = 0xFEDDD3;     // RGB(211, 221, 254)
constexpr COLORREF kBackB = 0xFAC9C9;     // RGB(201, 201, 250)
constexpr COLORREF kSectionA = 0x9797B5;  // RGB(181, 151, 151)
constexpr COLORREF kSectionB = 0x8E8EF2;  // RGB(242, 142, 142)
constexpr COLORREF kOutline = 0x00FF00;   // RGB(0, 255, 0)
constexpr COLORREF kMark = 0x0000FF;      // RGB(255, 0, 0)
// Key frame ticks: a dark blue that stands out on the light tube and on the sections alike.
constexpr COLORREF kTick = 0x682818;  // RGB(24, 40, 104)

}  // namespace

void CPeriodBar::SetRange(int start, int end) {
  m_nMin = start;
  m_nMax = end;
  m_nPos = start;
  m_nStep = static_cast<int32_t>((static_cast<int64_t>(end) - start) / 100);
}

void CPeriodBar::SetBarRect(int left, int top, int width, int height) {
  m_rcBar = RECT{left, top, left + width, top + height};
}

void CPeriodBar::SetPos(int p) {
  m_nPos = std::min(p, m_nMax);
}

void CPeriodBar::StepForward(int n) {
  const int64_t p = m_nPos + static_cast<int64_t>(n) * m_nStep;
  m_nPos = p > m_nMax ? m_nMax : ClampPos(p);
}

void CPeriodBar::StepBack(int n) {
  const int64_t p = m_nPos - static_cast<int64_t>(n) * m_nStep;
  m_nPos = p < m_nMin ? m_nMin : ClampPos(p);
}

PERIOD* CPeriodBar::GetPeriod(int index) {
  if (index < 0 || index >= GetCount()) return nullptr;
  return &m_arrPeriods[static_cast<size_t>(index)];
}

const PERIOD* CPeriodBar::GetPeriod(int index) const {
  if (index < 0 || index >= GetCount()) return nullptr;
  return &m_arrPeriods[static_cast<size_t>(index)];
}

PERIOD* CPeriodBar::PeriodAt(int p) {
  return GetPeriod(IndexAt(p));
}

int CPeriodBar::IndexAt(int p) const {
  for (size_t i = 0; i < m_arrPeriods.size(); ++i)
    if (Holds(m_arrPeriods[i], p)) return static_cast<int>(i);
  return -1;
}

CPeriodBar::RECT CPeriodBar::BandRect() const {
  const int h = m_rcBar.bottom - m_rcBar.top;
  const int bandHeight = h * 10 / 12;
  const int bandTop = m_rcBar.top + (h - bandHeight) / 12;
  return RECT{m_rcBar.left, bandTop, m_rcBar.right, bandTop + bandHeight};
}

int CPeriodBar::XFromPos(int p) const {
  if (!HasRange()) return m_rcBar.left;
  const double frac = (static_cast<double>(p) - m_nMin) / (static_cast<double>(m_nMax) - m_nMin);
  return m_rcBar.left + TruncClamp(frac * (m_rcBar.right - m_rcBar.left));
}

int CPeriodBar::PosFromPoint(int x, int y) const {
  if (x >= m_rcBar.right) return m_nMax;
  if (x <= m_rcBar.left) return m_nMin;
  const RECT band = BandRect();
  if (x < band.left || x >= band.right || y < band.top || y >= band.bottom) return -1;
  const double scale = (static_cast<double>(m_nMax) - m_nMin) / (m_rcBar.right - m_rcBar.left);
  return ClampPos(m_nMin + static_cast<int64_t>(std::trunc(scale * (x - m_rcBar.left))));
}

int CPeriodBar::PixelSpan(int n) const {
  const int width = m_rcBar.right - m_rcBar.left;
  if (width <= 0) return 0;
  return TruncClamp((static_cast<double>(m_nMax) - m_nMin) / width * n);
}

bool CPeriodBar::CanPlacePoint(int p) const {
  if (IndexAt(p) >= 0) return false;
  if (m_bBeginSet) {
    // The new section may not touch any other. Sections that moved since the beginning point
    // was set (an edge drag, a typed value) can straddle it, so the whole span is tested,
    // not only the starts inside it.
    const int64_t lo = std::min(p, m_nBegin);
    const int64_t hi = std::max(p, m_nBegin);
    for (const PERIOD& s : m_arrPeriods)
      if (s.nFrom <= hi && EndOf(s) >= lo) return false;
  }
  return true;
}

void CPeriodBar::SetBeginPoint() {
  if (!CanPlacePoint(m_nPos)) {
    DbgLog(1, -1, "Cannot set beginning point\n");
    return;
  }
  m_bBeginSet = true;
  m_nBegin = m_nPos;
}

void CPeriodBar::SetEndPoint() {
  if (!m_bBeginSet) {
    DbgLog(1, -1, "Please set beginning point first\n");
    return;
  }
  if (m_nPos == m_nBegin) {
    DbgLog(1, -1, "Not duration between beginning and end\n");
    return;
  }
  if (!CanPlacePoint(m_nPos)) {
    DbgLog(1, -1, "Cannot set beginning point\n");
    return;
  }
  const int64_t len = std::abs(static_cast<int64_t>(m_nPos) - m_nBegin);
  m_arrPeriods.push_back(PERIOD{std::min(m_nBegin, m_nPos), ClampPos(len), NextSeq()});
  m_bBeginSet = false;
}

int CPeriodBar::NextSeq() const {
  // With n sections the answer is at most n + 1, so one pass over the numbers in use finds it.
  std::vector<bool> used(m_arrPeriods.size() + 2, false);
  for (const PERIOD& s : m_arrPeriods)
    if (s.nSeq > 0 && static_cast<size_t>(s.nSeq) < used.size()) used[s.nSeq] = true;
  int seq = 1;
  while (used[static_cast<size_t>(seq)]) ++seq;
  return seq;
}

void CPeriodBar::RemovePeriod(const PERIOD* period) {
  if (m_arrPeriods.empty()) {
    DbgLog(1, -1, "No periodmark\n");
    return;
  }
  if (period == nullptr) return;
  const PERIOD key = *period;  // the pointer may point into the array itself
  auto it = std::find_if(m_arrPeriods.begin(), m_arrPeriods.end(),
                         [&](const PERIOD& s) { return SameSpan(s, key); });
  if (it != m_arrPeriods.end()) m_arrPeriods.erase(it);
}

PERIOD* CPeriodBar::SetFirstSplit() {
  PERIOD* s = PeriodAt(m_nPos);
  if (s != nullptr) {
    m_nSplitState = 1;
    m_nSplit1 = m_nPos;
  }
  return s;
}

void CPeriodBar::SetSecondSplit() {
  if (m_nSplitState != 1 || m_nPos == m_nSplit1) return;
  const PERIOD* first = PeriodAt(m_nSplit1);
  const PERIOD* second = PeriodAt(m_nPos);
  if (first == nullptr || second == nullptr || !SameSpan(*first, *second)) return;
  m_nSplit2 = m_nPos;
  if (m_nSplit2 < m_nSplit1) std::swap(m_nSplit1, m_nSplit2);
  m_nSplitState = 2;
}

void CPeriodBar::CutRange(bool apply) {
  if (m_nSplitState != 2) return;
  const int index = apply ? IndexAt(m_nSplit1) : -1;
  // The section may have been trimmed since the split points were set; a cut whose second
  // point no longer lies in it would make a part of negative length.
  if (index >= 0 && m_nSplit2 <= EndOf(m_arrPeriods[static_cast<size_t>(index)])) {
    const PERIOD s = m_arrPeriods[static_cast<size_t>(index)];
    PERIOD right{m_nSplit2, ClampPos(EndOf(s) - m_nSplit2), NextSeq()};
    const PERIOD left{s.nFrom, m_nSplit1 - s.nFrom, s.nSeq};
    // A split point on the section's edge leaves an empty part, which no clip can hold: it is
    // dropped, and a right part left alone keeps the section's number so that the numbers
    // stay 1 to n for the montage.
    if (left.nDur <= 0) right.nSeq = s.nSeq;
    RemovePeriod(&s);
    if (right.nDur > 0) m_arrPeriods.push_back(right);
    if (left.nDur > 0) m_arrPeriods.push_back(left);
    ClearSelection();
    if (left.nDur > 0 && Holds(left, m_nPos)) m_selPeriod = m_editPeriod = left;
    if (right.nDur > 0 && Holds(right, m_nPos)) m_selPeriod = m_editPeriod = right;
  }
  m_nSplitState = 0;
  m_nSplit1 = m_nSplit2 = 0;
}

void CPeriodBar::ClearSelection() {
  m_selPeriod.nFrom = m_selPeriod.nDur = 0;
  m_editPeriod.nFrom = m_editPeriod.nDur = 0;
  m_editPeriod.nSeq = m_selPeriod.nSeq;
}

void CPeriodBar::SelectAt(int x, int y) {
  if (m_arrPeriods.empty()) return;
  const RECT band = BandRect();
  // Nothing lies on an empty range: no position maps to a pixel.
  if (HasRange() && y >= band.top && y < band.bottom) {
    for (size_t i = 0; i < m_arrPeriods.size(); ++i) {
      const PERIOD& s = m_arrPeriods[i];
      const int x1 = XFromPos(s.nFrom);
      const int x2 = XFromPos(ClampPos(EndOf(s)));
      if (x >= x1 && x < x2) {
        m_selPeriod = m_editPeriod = s;
        m_nSelIndex = static_cast<int32_t>(i);
        return;
      }
    }
  }
  ClearSelection();
  m_nSelIndex = -1;
}

void CPeriodBar::SelectIndex(int index) {
  const PERIOD* s = GetPeriod(index);
  if (s == nullptr) return;
  m_editPeriod = m_selPeriod = *s;
  m_nPos = ClampPos(std::min<int64_t>(m_nMax, s->nFrom + s->nDur / 2));
}

void CPeriodBar::DeleteSelected() {
  if (m_arrPeriods.empty() || m_selPeriod.nDur == 0) return;
  auto it = std::find_if(m_arrPeriods.begin(), m_arrPeriods.end(),
                         [&](const PERIOD& s) { return SameSpan(s, m_selPeriod); });
  if (it == m_arrPeriods.end()) return;
  m_arrPeriods.erase(it);
  ClearSelection();
  m_nSelIndex = -1;
}

void CPeriodBar::EdgeHit(int x, int y, int* edge, bool* hit) const {
  *hit = false;
  if (m_editPeriod.nDur == 0) return;
  const int p = PosFromPoint(x, y);
  if (!Holds(m_editPeriod, p)) return;
  const int64_t z = PixelSpan(6);
  const int64_t from = m_editPeriod.nFrom;
  const int64_t end = EndOf(m_editPeriod);
  if (p < from + z || p > end - z) {
    *hit = true;
    *edge = p <= from + m_editPeriod.nDur / 2 ? 2 : 1;
  }
}

void CPeriodBar::ResizeEdited(int span[2], int edge) {
  if (span[0] >= span[1]) span[0] = span[1];
  const int cf = m_editPeriod.nFrom;
  const int ce = ClampPos(EndOf(m_editPeriod));
  if (edge == 1) {
    if (span[1] >= m_nMax)
      span[1] = m_nMax;
    else if (span[1] <= cf)
      span[1] = cf;
  } else if (edge == 2) {
    if (span[0] <= m_nMin)
      span[0] = m_nMin;
    else if (span[0] >= ce)
      span[0] = ce;
  } else {
    return;
  }
  for (size_t i = 0; i < m_arrPeriods.size(); ++i) {
    if (static_cast<int>(i) == m_nSelIndex) continue;
    const int64_t a = m_arrPeriods[i].nFrom;
    const int64_t b = EndOf(m_arrPeriods[i]);
    if (edge == 2 && ((a <= span[0] && span[0] <= b) || (b < cf && span[0] < a))) return;
    if (edge == 1 && ((a <= span[1] && span[1] <= b) || (a > ce && span[1] > b))) return;
  }
  if (edge == 1) {
    m_editPeriod.nDur = span[1] - cf;
  } else {
    m_editPeriod.nFrom = span[0];
    m_editPeriod.nDur = ce - span[0];
  }
}

void CPeriodBar::CommitEdit(bool apply) {
  if (apply && m_editPeriod.nDur > 0) {
    PERIOD* s = GetPeriod(IndexAt(m_selPeriod.nFrom + m_selPeriod.nDur / 2));
    if (s != nullptr) {
      s->nFrom = m_editPeriod.nFrom;
      s->nDur = m_editPeriod.nDur;
      m_selPeriod = m_editPeriod;
      return;
    }
  }
  m_editPeriod = m_selPeriod;
}

PERIOD* CPeriodBar::FindNeighbour(int index, bool forward) {
  const PERIOD* self = GetPeriod(index);
  if (self == nullptr) return nullptr;
  // Exact, not by probing positions: a short section between two probes would be passed over,
  // and an edge could then be set across it.
  PERIOD* best = nullptr;
  for (size_t i = 0; i < m_arrPeriods.size(); ++i) {
    if (static_cast<int>(i) == index) continue;
    PERIOD& s = m_arrPeriods[i];
    if (forward) {
      // Nearest start after the section's end, within the range.
      if (s.nFrom < EndOf(*self) || s.nFrom >= m_nMax) continue;
      if (best == nullptr || s.nFrom < best->nFrom) best = &s;
    } else {
      // Nearest end before the section's start, within the range.
      if (EndOf(s) > self->nFrom || EndOf(s) <= m_nMin) continue;
      if (best == nullptr || EndOf(s) > EndOf(*best)) best = &s;
    }
  }
  return best;
}

bool CPeriodBar::GetNeighbourBounds(int index, bool forward, int* lo, int* hi) {
  const PERIOD* self = GetPeriod(index);
  if (self == nullptr || m_nMin == m_nMax) return false;
  const PERIOD* next = FindNeighbour(index, forward);
  if (forward) {
    *lo = self->nFrom;
    *hi = next != nullptr ? next->nFrom : m_nMax;
  } else {
    *hi = ClampPos(EndOf(*self));
    *lo = next != nullptr ? ClampPos(EndOf(*next)) : m_nMin;
  }
  return true;
}

bool CPeriodBar::IsInsideNeighbourBounds(int value, int index, bool forward) {
  int lo = 0;
  int hi = 0;
  return GetNeighbourBounds(index, forward, &lo, &hi) && lo < value && value < hi;
}

void CPeriodBar::ClearPeriods() {
  m_arrPeriods.clear();
  m_editPeriod.nDur = 0;
}

void CPeriodBar::ClearMarks() {
  m_bBeginSet = false;
  m_nSplitState = 0;
  m_nSplit1 = m_nSplit2 = 0;
  m_selPeriod = PERIOD{};
  m_editPeriod = PERIOD{};
  m_nSelIndex = -1;
}

MarksState CPeriodBar::State() const {
  MarksState s;
  s.sections = m_arrPeriods;
  s.beginSet = m_bBeginSet;
  s.begin = m_nBegin;
  s.splitState = m_nSplitState;
  s.split1 = m_nSplit1;
  s.split2 = m_nSplit2;
  return s;
}

void CPeriodBar::Restore(const MarksState& state) {
  m_arrPeriods = state.sections;
  m_bBeginSet = state.beginSet;
  m_nBegin = state.begin;
  m_nSplitState = state.splitState;
  m_nSplit1 = state.split1;
  m_nSplit2 = state.split2;
  const auto kept = std::find_if(m_arrPeriods.begin(), m_arrPeriods.end(),
                                 [&](const PERIOD& s) { return SameSpan(s, m_selPeriod); });
  if (m_selPeriod.nDur != 0 && kept != m_arrPeriods.end()) {
    m_selPeriod = m_editPeriod = *kept;
    m_nSelIndex = static_cast<int32_t>(kept - m_arrPeriods.begin());
  } else {
    ClearSelection();
    m_nSelIndex = -1;
  }
}

int CPeriodBar::MarkSnapTarget(int p) const {
  int32_t key = p;
  const int index = IndexAt(p);
  if (index >= 0) {
    // The second split point when it starts the right part: after the first one, inside the
    // same section. Before the first one it ends the left part, which stays where it is put.
    if (m_nSplitState != 1 || p <= m_nSplit1) return p;
    const PERIOD& s = m_arrPeriods[static_cast<size_t>(index)];
    const int64_t lo = std::max<int64_t>(s.nFrom, m_nSplit1) + 1;
    return m_keys.Nearest(p, ClampPos(lo), ClampPos(EndOf(s) - 1), &key) ? key : p;
  }
  if (m_bBeginSet) return p;  // an end point
  // A beginning point: within the gap between the sections around p.
  int64_t lo = m_nMin, hi = m_nMax;
  for (const PERIOD& s : m_arrPeriods) {
    if (EndOf(s) < p) lo = std::max(lo, EndOf(s) + 1);
    if (s.nFrom > p) hi = std::min<int64_t>(hi, s.nFrom - 1);
  }
  return m_keys.Nearest(p, ClampPos(lo), ClampPos(hi), &key) ? key : p;
}

int CPeriodBar::SnapStartEdge(int p) const {
  if (m_editPeriod.nDur == 0) return -1;
  const int64_t end = EndOf(m_editPeriod);
  int64_t lo = m_nMin;
  for (size_t i = 0; i < m_arrPeriods.size(); ++i) {
    if (static_cast<int>(i) == m_nSelIndex) continue;
    const int64_t b = EndOf(m_arrPeriods[i]);
    if (b < m_editPeriod.nFrom) lo = std::max(lo, b + 1);
  }
  int32_t key = 0;
  return m_keys.Nearest(p, ClampPos(lo), ClampPos(end - 1), &key) ? key : -1;
}

void CPeriodBar::Paint(QPainter* dc) const {
  const int l = m_rcBar.left;
  const int t = m_rcBar.top;
  const int r = m_rcBar.right;
  const int b = m_rcBar.bottom;
  const int w = r - l;
  if (w <= 0 || b <= t) return;
  dc->save();
  dc->drawImage(l, t, MirroredGradient(w, t, b, kBackA, kBackB));
  // Before a clip is opened nothing maps onto the bar: no sections, cursor or marks.
  if (!HasRange()) {
    dc->restore();
    return;
  }
  // Every section is the same vertical gradient over its own columns, so the columns that any
  // section covers are gathered first and copied from one strip: thousands of sections cost
  // no more than the bar's width.
  const auto col = [&](int64_t p) { return std::clamp(XFromPos(ClampPos(p)) - l, 0, w); };
  std::vector<int> cover(static_cast<size_t>(w) + 1, 0);
  for (const PERIOD& s : m_arrPeriods) {
    const int x1 = col(s.nFrom);
    const int x2 = col(EndOf(s));
    if (x1 >= x2) continue;
    ++cover[static_cast<size_t>(x1)];
    --cover[static_cast<size_t>(x2)];
  }
  const QImage strip = MirroredGradient(w, t, b, kSectionA, kSectionB);
  std::vector<bool> covered(static_cast<size_t>(w));
  for (int x = 0, depth = 0; x < w; ++x) {
    depth += cover[static_cast<size_t>(x)];
    covered[static_cast<size_t>(x)] = depth > 0;
  }
  for (int x = 0; x < w;) {
    if (!covered[static_cast<size_t>(x)]) {
      ++x;
      continue;
    }
    const int start = x;
    while (x < w && covered[static_cast<size_t>(x)]) ++x;
    dc->drawImage(l + start, t, strip, start, 0, x - start, b - t);
  }

  // Key frame ticks along the bottom of the bar, under the outline, the cursor and the marks.
  const std::vector<int> ticks = m_keys.TickColumns(m_nMin, m_nMax, w);
  if (!ticks.empty()) {
    const int tickTop = b - std::max(3, (b - t) / 4);
    dc->setPen(QPen(ToQColor(kTick), 1));
    for (int c : ticks) dc->drawLine(l + c, tickTop, l + c, b - 1);
  }

  // Coordinates stay a little outside the bar at most, where the painter clips them.
  const auto lineX = [&](int64_t p) {
    return l + std::clamp(XFromPos(ClampPos(p)) - l, -2, w + 2);
  };
  if (m_editPeriod.nDur != 0) {
    const int x1 = lineX(m_editPeriod.nFrom);
    const int x2 = lineX(EndOf(m_editPeriod));
    dc->setPen(QPen(ToQColor(kOutline), 1, Qt::DashDotLine));
    dc->drawLine(x1, t, x1, b - 1);
    dc->drawLine(x1, t, x2, t);
    dc->drawLine(x2, b - 1, x1, b - 1);
    dc->drawLine(x2, b - 1, x2, t);
  }

  dc->setPen(QPen(Qt::black, 1));
  dc->setCompositionMode(QPainter::RasterOp_NotDestination);
  const int xc = lineX(m_nPos);
  dc->drawLine(xc, t, xc, b - 1);

  dc->setPen(QPen(ToQColor(kMark), 2, Qt::DashDotLine));
  dc->setCompositionMode(QPainter::RasterOp_SourceOrDestination);
  const auto mark = [&](int p) {
    const int x = lineX(p);
    dc->drawLine(x, t, x, b - 1);
  };
  if (m_bBeginSet) mark(m_nBegin);
  if (m_nSplitState == 1) mark(m_nSplit1);
  if (m_nSplitState == 2) {
    mark(m_nSplit1);
    mark(m_nSplit2);
  }
  dc->restore();
}

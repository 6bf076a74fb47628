#include "SectionList.h"

#include <algorithm>
#include <cctype>
#include <limits>

namespace {

std::string Dec(int64_t v) {
  return std::to_string(v);
}

// Whether a row stands for a section: start and length as they read back.
bool Belongs(const CSectionList::Row& row, const PERIOD& s) {
  return CSectionList::ReadNumber(row[kSecColFrom]) == s.nFrom &&
         CSectionList::ReadNumber(row[kSecColDuration]) == s.nDur;
}

int64_t EndOf(const PERIOD& s) {
  return static_cast<int64_t>(s.nFrom) + s.nDur;
}

// The open interval in which one edge of section i may be set. Backward: from the end of the
// section before it (or the range start) to its own end. Forward: from its own start to the start
// of the section after it (or the range end). Neighbours are found by position, whatever their
// length, so a value inside the interval never makes sections overlap.
bool NeighbourBounds(const std::vector<PERIOD>& sections, size_t i, bool forward, int32_t rangeMin,
                     int32_t rangeMax, int64_t* lo, int64_t* hi) {
  if (i >= sections.size() || rangeMin == rangeMax) return false;
  const PERIOD& s = sections[i];
  if (forward) {
    *lo = s.nFrom;
    *hi = rangeMax;
    for (size_t j = 0; j < sections.size(); ++j)
      if (j != i && sections[j].nFrom >= EndOf(s)) *hi = std::min<int64_t>(*hi, sections[j].nFrom);
  } else {
    *lo = rangeMin;
    *hi = EndOf(s);
    for (size_t j = 0; j < sections.size(); ++j)
      if (j != i && EndOf(sections[j]) <= s.nFrom) *lo = std::max(*lo, EndOf(sections[j]));
  }
  return true;
}

bool Inside(int64_t v, const std::vector<PERIOD>& sections, size_t i, bool forward,
            int32_t rangeMin, int32_t rangeMax) {
  int64_t lo = 0, hi = 0;
  return NeighbourBounds(sections, i, forward, rangeMin, rangeMax, &lo, &hi) && lo < v && v < hi;
}

}  // namespace

const std::string& CSectionList::Text(int row, int col) const {
  static const std::string empty;
  if (row < 0 || row >= RowCount() || col < 0 || col >= kSectionListColumnCount) return empty;
  return m_rows[static_cast<size_t>(row)][static_cast<size_t>(col)];
}

namespace {
std::string RealStartText(const KeyFrameMarks& keys, int32_t from) {
  return keys.Known() ? Dec(keys.RealStart(from)) : std::string();
}
}  // namespace

CSectionList::Row CSectionList::RowOf(const PERIOD& s, const KeyFrameMarks& keys) {
  return Row{Dec(s.nSeq), Dec(s.nFrom), Dec(EndOf(s)), Dec(s.nDur), RealStartText(keys, s.nFrom)};
}

void CSectionList::SetKeyFrames(const KeyFrameMarks& keys) {
  m_keys = keys;
  for (Row& r : m_rows) r[kSecColRealStart] = RealStartText(m_keys, ReadNumber(r[kSecColFrom]));
}

int32_t CSectionList::ReadNumber(const std::string& text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  int64_t v = 0;
  constexpr int64_t kLimit = static_cast<int64_t>(std::numeric_limits<int32_t>::max()) + 1;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i)
    v = std::min(v * 10 + (text[i] - '0'), kLimit);
  if (negative) v = -v;
  return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

int CSectionList::SectionOfRow(int row, const std::vector<PERIOD>& sections) const {
  if (row < 0 || row >= RowCount()) return -1;
  for (size_t i = 0; i < sections.size(); ++i)
    if (Belongs(m_rows[static_cast<size_t>(row)], sections[i])) return static_cast<int>(i);
  return -1;
}

void CSectionList::Sync(const std::vector<PERIOD>& sections) {
  auto owned = [&](const Row& row) {
    return std::any_of(sections.begin(), sections.end(),
                       [&](const PERIOD& s) { return Belongs(row, s); });
  };
  std::vector<const PERIOD*> added;
  for (const PERIOD& s : sections)
    if (std::none_of(m_rows.begin(), m_rows.end(), [&](const Row& r) { return Belongs(r, s); }))
      added.push_back(&s);
  std::vector<size_t> orphans;
  for (size_t r = 0; r < m_rows.size(); ++r)
    if (!owned(m_rows[r])) orphans.push_back(r);
  // One section changed (an edge dragged, a value typed): its row keeps its place, and the
  // edited cell stays on it.
  if (added.size() == 1 && orphans.size() == 1) {
    m_rows[orphans[0]] = RowOf(*added[0], m_keys);
    return;
  }
  const size_t n = m_rows.size();
  for (const PERIOD* s : added)
    m_rows.insert(m_rows.begin() + static_cast<std::ptrdiff_t>(n), RowOf(*s, m_keys));
  // Rows of sections that are gone; the edited cell follows its row.
  std::vector<Row> kept;
  int cellRow = -1;
  for (size_t r = 0; r < m_rows.size(); ++r) {
    if (!owned(m_rows[r])) continue;
    if (static_cast<int>(r) == m_nCellRow) cellRow = static_cast<int>(kept.size());
    kept.push_back(std::move(m_rows[r]));
  }
  m_rows = std::move(kept);
  m_nCellRow = cellRow;
}

int CSectionList::RowOfSection(const PERIOD& section) const {
  if (section.nDur == 0) return -1;
  for (size_t r = 0; r < m_rows.size(); ++r)
    if (Belongs(m_rows[r], section)) return static_cast<int>(r);
  return -1;
}

std::string CSectionList::KeptText(int count) {
  return std::to_string(count) + (count == 1 ? " section" : " sections") +
         " of the previous clip kept.";
}

void CSectionList::Reload(const std::vector<PERIOD>& sections) {
  Sync(sections);
  for (size_t r = 0; r < m_rows.size(); ++r) {
    const int i = SectionOfRow(static_cast<int>(r), sections);
    if (i >= 0) m_rows[r] = RowOf(sections[static_cast<size_t>(i)], m_keys);
  }
}

void CSectionList::Clear() {
  m_rows.clear();
  m_nCellRow = -1;
}

SectionListAction CSectionList::Follow(int32_t pos) {
  SectionListAction a;
  if (pos == 0) return a;
  a.positionText = Dec(pos);
  a.framePos = pos;
  a.repaintList = true;
  for (size_t r = 0; r < m_rows.size(); ++r) {
    if (ReadNumber(m_rows[r][kSecColFrom]) <= pos && pos < ReadNumber(m_rows[r][kSecColTo])) {
      m_nCellRow = static_cast<int>(r);
      m_nCellCol = kSecColFrom;
      a.cellText = m_rows[r][kSecColFrom];
      return a;
    }
  }
  m_nCellRow = -1;
  a.cellText = std::string();
  return a;
}

SectionListAction CSectionList::Click(int row, int col, const std::vector<PERIOD>& sections) {
  SectionListAction a;
  m_nCellRow = row >= 0 && row < RowCount() ? row : -1;
  m_nCellCol = col;
  a.repaintList = true;
  if (m_nCellRow < 0) return a;
  const std::string& text = Text(m_nCellRow, col);
  if (col == kSecColFrom || col == kSecColTo || (col == kSecColRealStart && !text.empty()))
    a.framePos = ReadNumber(text);
  a.cellText = text;
  const int i = SectionOfRow(m_nCellRow, sections);
  if (i >= 0) {
    const PERIOD& s = sections[static_cast<size_t>(i)];
    a.selectIndex = i;
    a.positionText = Dec(s.nFrom + s.nDur / 2);
    // The cursor goes to the section's middle: a cell that names no frame of its own shows the
    // frame there, so that the picture always belongs to the cursor or the clicked cell.
    if (!a.framePos) a.framePos = s.nFrom + s.nDur / 2;
  }
  return a;
}

SectionListAction CSectionList::ColumnClick(int col, const std::vector<PERIOD>& sections) {
  SectionListAction a;
  if (col == kSecColFrom || col == kSecColTo)
    std::stable_sort(m_rows.begin(), m_rows.end(), [](const Row& x, const Row& y) {
      return ReadNumber(x[kSecColFrom]) < ReadNumber(y[kSecColFrom]);
    });
  for (size_t r = 0; r < m_rows.size(); ++r)
    m_rows[r][kSecColSeq] = Dec(static_cast<int64_t>(r) + 1);
  for (size_t i = 0; i < sections.size(); ++i) {
    for (size_t r = 0; r < m_rows.size(); ++r) {
      if (!Belongs(m_rows[r], sections[i])) continue;
      const int32_t seq = ReadNumber(m_rows[r][kSecColSeq]);
      if (seq != sections[i].nSeq) {
        PERIOD p = sections[i];
        p.nSeq = seq;
        a.store.push_back({static_cast<int>(i), p});
      }
      break;
    }
  }
  m_nCellRow = -1;
  a.cellText = std::string();
  a.repaintList = true;
  return a;
}

SectionListAction CSectionList::UpdateCell(const std::string& typed,
                                           const std::vector<PERIOD>& sections, int32_t rangeMin,
                                           int32_t rangeMax) {
  SectionListAction a;
  if (m_nCellRow < 0 || m_nCellRow >= RowCount() || typed.empty()) return a;
  if (m_nCellCol == kSecColRealStart) return a;
  const int32_t v = ReadNumber(typed);
  Row& row = m_rows[static_cast<size_t>(m_nCellRow)];
  if (m_nCellCol >= 0 && m_nCellCol < kSectionListColumnCount &&
      v == ReadNumber(row[static_cast<size_t>(m_nCellCol)])) {
    a.message = kMsgSameValue;
    return a;
  }
  const int index = SectionOfRow(m_nCellRow, sections);
  if (index < 0) return a;
  const size_t i = static_cast<size_t>(index);
  PERIOD p = sections[i];
  const int64_t end = EndOf(p);
  // The typed text goes into the cell as typed when it is a plain number, else as it reads.
  const bool plain =
      std::all_of(typed.begin(), typed.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
  const std::string cell = plain ? typed : Dec(v);
  switch (m_nCellCol) {
    case kSecColSeq:
      if (v >= 1 && v <= static_cast<int64_t>(sections.size())) {
        p.nSeq = v;
        row[kSecColSeq] = cell;
        a.message = kMsgSeqUpdated;
        a.store.push_back({index, p});
        a.repaintList = true;
      } else {
        a.message = kMsgSeqInvalid;
      }
      return a;
    case kSecColFrom:
      if (!Inside(v, sections, i, false, rangeMin, rangeMax)) {
        a.message = kMsgBlockInvalid;
        return a;
      }
      p.nFrom = v;
      p.nDur = static_cast<int32_t>(end - v);
      row[kSecColFrom] = cell;
      row[kSecColRealStart] = RealStartText(m_keys, v);
      row[kSecColDuration] = Dec(p.nDur);
      a.message = kMsgBlockUpdated;
      break;
    case kSecColTo:
      if (!Inside(v, sections, i, true, rangeMin, rangeMax)) {
        a.message = kMsgBlockInvalid;
        return a;
      }
      p.nDur = static_cast<int32_t>(static_cast<int64_t>(v) - p.nFrom);
      row[kSecColTo] = cell;
      row[kSecColDuration] = Dec(p.nDur);
      a.message = kMsgBlockUpdated;
      break;
    case kSecColDuration:
      if (!Inside(static_cast<int64_t>(p.nFrom) + v, sections, i, true, rangeMin, rangeMax)) {
        a.message = kMsgDurationInvalid;
        return a;
      }
      p.nDur = v;
      row[kSecColTo] = Dec(EndOf(p));
      row[kSecColDuration] = cell;
      a.message = kMsgDurationUpdated;
      break;
    default:
      return a;
  }
  a.store.push_back({index, p});
  a.selectIndex = index;
  a.repaintTimeline = true;
  a.repaintList = true;
  return a;
}

#include "EditHistory.h"

void CEditHistory::Reset(const MarksState& state) {
  m_current = state;
  m_undo.clear();
  m_redo.clear();
}

bool CEditHistory::Commit(const MarksState& state) {
  if (state == m_current) return false;
  m_undo.push_back(std::move(m_current));
  if (m_undo.size() > m_limit) m_undo.pop_front();
  m_current = state;
  m_redo.clear();
  return true;
}

namespace {

// One step back or forth: the current state goes onto the other side.
template <typename From, typename To>
std::optional<MarksState> Move(From& from, To& to, MarksState& current) {
  if (from.empty()) return std::nullopt;
  to.push_back(std::move(current));
  current = std::move(from.back());
  from.pop_back();
  return current;
}

}  // namespace

std::optional<MarksState> CEditHistory::Undo() {
  return Move(m_undo, m_redo, m_current);
}

std::optional<MarksState> CEditHistory::Redo() {
  auto state = Move(m_redo, m_undo, m_current);
  if (m_undo.size() > m_limit) m_undo.pop_front();
  return state;
}

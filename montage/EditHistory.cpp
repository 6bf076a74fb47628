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

std::optional<MarksState> CEditHistory::Undo() {
  if (m_undo.empty()) return std::nullopt;
  m_redo.push_back(std::move(m_current));
  m_current = std::move(m_undo.back());
  m_undo.pop_back();
  return m_current;
}

std::optional<MarksState> CEditHistory::Redo() {
  if (m_redo.empty()) return std::nullopt;
  m_undo.push_back(std::move(m_current));
  m_current = std::move(m_redo.back());
  m_redo.pop_back();
  return m_current;
}

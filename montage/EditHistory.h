// Undo and redo of the marks and sections of one clip. The history holds whole states: after
// every input that may have changed the timeline the owner commits the state it now has, and a
// state equal to the current one is no step. Undo and Redo hand back the state to put in place.
#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <vector>

#include "MarksState.h"

class CEditHistory {
 public:
  // The oldest steps go once more than limit are held.
  static constexpr size_t kDefaultLimit = 1000;
  explicit CEditHistory(size_t limit = kDefaultLimit) : m_limit(limit == 0 ? 1 : limit) {}

  // A new clip (or one whose marks came back): no steps, state is the start.
  void Reset(const MarksState& state);
  // The timeline's state after an input; true when it differs from the current one and became a
  // step (which drops what could be redone).
  bool Commit(const MarksState& state);
  // The state before the current one, none when there is nothing to undo.
  std::optional<MarksState> Undo();
  // The state undone last, none when there is nothing to redo.
  std::optional<MarksState> Redo();

  bool CanUndo() const { return !m_undo.empty(); }
  bool CanRedo() const { return !m_redo.empty(); }
  size_t UndoSteps() const { return m_undo.size(); }
  const MarksState& Current() const { return m_current; }

 private:
  size_t m_limit;
  MarksState m_current;
  std::deque<MarksState> m_undo;
  std::vector<MarksState> m_redo;
};

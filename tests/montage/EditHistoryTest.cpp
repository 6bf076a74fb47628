// Undo and redo on the timeline model: every kind of change to marks and sections is taken back
// exactly and repeated, and long random runs of edits unwind to where they started.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "EditHistory.h"
#include "PeriodBar.h"
#include "SectionList.h"

namespace {

std::string Show(const MarksState& s) {
  std::string out;
  for (const PERIOD& p : s.sections)
    out += "{" + std::to_string(p.nFrom) + "," + std::to_string(p.nDur) + "," +
           std::to_string(p.nSeq) + "}";
  out += " begin " + std::to_string(s.beginSet) + "@" + std::to_string(s.begin);
  out += " split " + std::to_string(s.splitState) + "@" + std::to_string(s.split1) + "," +
         std::to_string(s.split2);
  return out;
}

// The timeline model with its list and history, changed as the montage pane changes it: each
// input on the model, then a commit of the state it left.
struct Session {
  CPeriodBar bar;
  CSectionList list;
  CEditHistory history;

  Session() {
    bar.SetBarRect(0, 0, 600, 24);
    bar.SetRange(0, 60000);
    history.Reset(bar.State());
  }
  std::vector<PERIOD> Sections() const { return bar.State().sections; }
  bool Commit() {
    list.Sync(Sections());
    return history.Commit(bar.State());
  }
  void Apply(const SectionListAction& a) {
    for (const SectionChange& c : a.store) *bar.GetPeriod(c.index) = c.period;
  }
  void Mark(int pos) {
    bar.SetPos(pos);
    if (bar.PeriodAt(pos) != nullptr)
      bar.GetSplitState() == 1 ? bar.SetSecondSplit() : (void)bar.SetFirstSplit();
    else
      bar.IsBeginSet() ? bar.SetEndPoint() : bar.SetBeginPoint();
  }
  void DragEnd(int index, int to) {
    bar.SelectIndex(index);
    // SelectIndex keeps the array index for the neighbour test of the drag.
    bar.SelectAt(bar.XFromPos(bar.GetPos()), 5);
    int span[2] = {bar.GetEditPeriod().nFrom, to};
    bar.ResizeEdited(span, 1);
    bar.CommitEdit(true);
  }
  int RowFrom(int from) const {
    for (int r = 0; r < list.RowCount(); ++r)
      if (CSectionList::ReadNumber(list.Text(r, kSecColFrom)) == from) return r;
    return -1;
  }
  void EditCell(int row, int col, const std::string& typed) {
    list.Click(row, col, Sections());
    Apply(list.UpdateCell(typed, Sections(), bar.GetMin(), bar.GetMax()));
  }
  bool Undo() {
    const auto s = history.Undo();
    if (s) bar.Restore(*s);
    return s.has_value();
  }
  bool Redo() {
    const auto s = history.Redo();
    if (s) bar.Restore(*s);
    return s.has_value();
  }
};

}  // namespace

TEST(EditHistory, EveryKindOfChangeIsUndoneExactlyAndRedone) {
  Session s;
  std::vector<MarksState> states{s.bar.State()};
  const std::vector<std::pair<const char*, std::function<void()>>> changes = {
      {"beginning point", [&] { s.Mark(10000); }},
      {"end point", [&] { s.Mark(20000); }},
      {"second section", [&] { s.Mark(30000), s.Mark(40000); }},
      {"first split point", [&] { s.Mark(12000); }},
      {"second split point", [&] { s.Mark(14000); }},
      {"cut out", [&] { s.bar.CutRange(true); }},
      {"edge drag", [&] { s.DragEnd(s.bar.IndexAt(35000), 45000); }},
      {"start typed in the list", [&] { s.EditCell(s.RowFrom(30000), kSecColFrom, "25000"); }},
      {"number typed in the list", [&] { s.EditCell(s.RowFrom(10000), kSecColSeq, "3"); }},
      {"renumbered by a column click",
       [&] { s.Apply(s.list.ColumnClick(kSecColFrom, s.Sections())); }},
      {"delete",
       [&] {
         s.bar.SelectIndex(s.bar.IndexAt(16000));
         s.bar.DeleteSelected();
       }},
      {"clear", [&] { s.bar.ClearPeriods(); }},
  };
  for (const auto& [what, change] : changes) {
    change();
    ASSERT_TRUE(s.Commit()) << what << " made no step";
    states.push_back(s.bar.State());
  }
  ASSERT_EQ(states[6].sections.size(), 3u) << "the cut left two parts beside the other section";
  EXPECT_FALSE(s.Commit()) << "an unchanged state is no step";

  for (size_t i = states.size() - 1; i-- > 0;) {
    ASSERT_TRUE(s.Undo());
    EXPECT_EQ(s.bar.State(), states[i]) << "undo of " << changes[i].first << ": "
                                        << Show(s.bar.State()) << " != " << Show(states[i]);
  }
  EXPECT_FALSE(s.Undo());
  for (size_t i = 1; i < states.size(); ++i) {
    ASSERT_TRUE(s.Redo());
    EXPECT_EQ(s.bar.State(), states[i]) << "redo of " << changes[i - 1].first;
  }
  EXPECT_FALSE(s.Redo());

  // The model still works on a state put back: a section can be marked after undoing the clear.
  ASSERT_TRUE(s.Undo());
  s.bar.SetPos(55000);
  s.bar.SetBeginPoint();
  s.bar.SetPos(58000);
  s.bar.SetEndPoint();
  EXPECT_TRUE(s.Commit());
  EXPECT_FALSE(s.history.CanRedo()) << "a new change drops what could be redone";
}

TEST(EditHistory, SelectionStaysOnlyWhileItsSectionIsThere) {
  Session s;
  s.Mark(10000), s.Mark(20000), s.Commit();
  s.Mark(30000), s.Mark(40000), s.Commit();
  s.bar.SelectIndex(1);
  s.EditCell(1, kSecColSeq, "1");  // a number: the section keeps its span
  s.Commit();
  s.Undo();
  EXPECT_EQ(s.bar.GetSelPeriod().nFrom, 30000);
  EXPECT_EQ(s.bar.GetSelPeriod().nSeq, 2) << "the selection takes the number put back";
  s.Undo();  // the selected section goes
  EXPECT_EQ(s.bar.GetSelPeriod().nDur, 0);
  EXPECT_EQ(s.bar.GetEditPeriod().nDur, 0) << "no outline of a section that is gone";
  EXPECT_EQ(s.bar.GetSelIndex(), -1);
}

TEST(EditHistory, ThousandRandomEditsAndAsManyUndosReturnToTheStart) {
  Session s;
  std::mt19937 rng(24);
  const auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  s.Mark(5000), s.Mark(9000), s.Commit();
  s.history.Reset(s.bar.State());
  const MarksState start = s.bar.State();
  int steps = 0;
  for (int tries = 0; steps < 1000 && tries < 100000; ++tries) {
    const int n = s.bar.GetCount();
    switch (pick(0, 6)) {
      case 0:
      case 1:
        s.Mark(pick(0, 600) * 100);
        break;
      case 2:
        s.bar.CutRange(true);
        break;
      case 3:
        if (n > 0) s.DragEnd(pick(0, n - 1), pick(0, 600) * 100);
        break;
      case 4:
        if (n > 0) s.EditCell(pick(0, n - 1), pick(0, 3), std::to_string(pick(1, 60000)));
        break;
      case 5:
        if (n > 0) s.bar.SelectIndex(pick(0, n - 1)), s.bar.DeleteSelected();
        break;
      case 6:
        s.Apply(s.list.ColumnClick(pick(0, 3), s.Sections()));
        if (pick(0, 20) == 0) s.bar.ClearPeriods();
        break;
    }
    if (s.Commit()) ++steps;
  }
  ASSERT_EQ(steps, 1000);
  const MarksState end = s.bar.State();
  for (int i = 0; i < steps; ++i) ASSERT_TRUE(s.Undo()) << i;
  EXPECT_FALSE(s.Undo());
  EXPECT_EQ(s.bar.State(), start) << Show(s.bar.State());
  for (int i = 0; i < steps; ++i) ASSERT_TRUE(s.Redo()) << i;
  EXPECT_EQ(s.bar.State(), end);
}

TEST(EditHistory, OldestStepsGoPastTheLimit) {
  EXPECT_GE(CEditHistory::kDefaultLimit, 100u);
  CEditHistory h(3);
  MarksState m;
  h.Reset(m);
  for (int i = 1; i <= 5; ++i) {
    m.begin = i;
    EXPECT_TRUE(h.Commit(m));
  }
  EXPECT_EQ(h.UndoSteps(), 3u);
  EXPECT_EQ(h.Undo()->begin, 4);
  EXPECT_EQ(h.Undo()->begin, 3);
  EXPECT_EQ(h.Undo()->begin, 2);
  EXPECT_FALSE(h.Undo());
  EXPECT_EQ(h.Redo()->begin, 3);
}

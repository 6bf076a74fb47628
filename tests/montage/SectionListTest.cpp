// The section list model: rows following the sections, the cursor follow-up, cell clicks,
// sorting with renumbering, and Update Cell with its bounds and messages.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SectionList.h"

namespace {

PERIOD P(int32_t from, int32_t dur, int32_t seq) {
  PERIOD p;
  p.nFrom = from;
  p.nDur = dur;
  p.nSeq = seq;
  return p;
}

std::vector<std::string> Column(const CSectionList& list, int col) {
  std::vector<std::string> texts;
  for (int r = 0; r < list.RowCount(); ++r) texts.push_back(list.Text(r, col));
  return texts;
}

// Rows in array order, as they come when sections are added one at a time.
void SyncOneByOne(CSectionList& list, const std::vector<PERIOD>& sections) {
  for (size_t n = 1; n <= sections.size(); ++n)
    list.Sync(std::vector<PERIOD>(sections.begin(), sections.begin() + static_cast<long>(n)));
}

// Applies the stores of an action the way the window writes them into the timeline.
void Store(std::vector<PERIOD>& sections, const SectionListAction& a) {
  for (const SectionChange& c : a.store) sections.at(static_cast<size_t>(c.index)) = c.period;
}

TEST(SectionListRows, SyncAddsNewRowsAfterOldOnesAndDropsRowsOfGoneSections) {
  CSectionList list;
  std::vector<PERIOD> sections = {P(5000, 2000, 1)};
  list.Sync(sections);
  ASSERT_EQ(list.RowCount(), 1);
  EXPECT_EQ(list.Rows()[0], (CSectionList::Row{"1", "5000", "7000", "2000"}));

  // A cut leaves the right part appended, then the left part: the left part's row stands first.
  sections = {P(6000, 1000, 2), P(5000, 500, 1)};
  list.Sync(sections);
  EXPECT_EQ(Column(list, 1), (std::vector<std::string>{"5000", "6000"}));
  EXPECT_EQ(Column(list, 0), (std::vector<std::string>{"1", "2"}));
  // One synchronisation: among new rows the one added last stands first.
  list.Clear();
  list.Sync({P(100, 10, 1)});
  list.Sync({P(100, 10, 1), P(200, 10, 2), P(300, 10, 3)});
  EXPECT_EQ(Column(list, 1), (std::vector<std::string>{"100", "300", "200"}));

  // One changed section (an edge dragged) keeps its row's place, the edited cell with it.
  list.Click(1, 2, {P(100, 10, 1), P(200, 10, 2), P(300, 10, 3)});
  list.Sync({P(100, 10, 1), P(200, 10, 2), P(280, 30, 3)});
  EXPECT_EQ(Column(list, 1), (std::vector<std::string>{"100", "280", "200"}));
  EXPECT_EQ(list.Text(1, 3), "30");
  EXPECT_EQ(list.Text(1, 2), "310");
  EXPECT_EQ(list.CellRow(), 1);
  EXPECT_EQ(list.RowOfSection(P(280, 30, 3)), 1);
  EXPECT_EQ(list.RowOfSection(P(300, 10, 3)), -1);
  // Out of range cells read as empty.
  EXPECT_EQ(list.Text(3, 0), "");
  EXPECT_EQ(list.Text(0, 4), "");
  EXPECT_EQ(list.Text(-1, 0), "");
}

TEST(SectionListRows, EditedCellStaysOnItsRow) {
  CSectionList list;
  std::vector<PERIOD> sections = {P(1000, 1000, 1), P(4000, 1000, 2), P(7000, 1000, 3)};
  SyncOneByOne(list, sections);
  list.Click(2, 3, sections);
  ASSERT_EQ(list.CellRow(), 2);
  // The first section goes: the edited cell moves up with its row instead of landing on a row
  // past the end.
  sections.erase(sections.begin());
  list.Sync(sections);
  EXPECT_EQ(list.CellRow(), 1);
  EXPECT_EQ(list.Text(list.CellRow(), 1), "7000");
  // Its own section goes: no edited cell.
  sections.pop_back();
  list.Sync(sections);
  EXPECT_EQ(list.CellRow(), -1);
  EXPECT_FALSE(list.HasEditedCell());
  // A new clip empties the list.
  list.Click(0, 1, sections);
  list.Clear();
  EXPECT_EQ(list.RowCount(), 0);
  EXPECT_FALSE(list.HasEditedCell());
}

TEST(SectionListRows, ReadNumber) {
  EXPECT_EQ(CSectionList::ReadNumber("0004999"), 4999);
  EXPECT_EQ(CSectionList::ReadNumber("12ab"), 12);
  EXPECT_EQ(CSectionList::ReadNumber(""), 0);
  EXPECT_EQ(CSectionList::ReadNumber("x1"), 0);
  EXPECT_EQ(CSectionList::ReadNumber("-250"), -250);
  EXPECT_EQ(CSectionList::ReadNumber("99999999999999999999"), INT32_MAX);
  EXPECT_EQ(CSectionList::ReadNumber("-99999999999"), INT32_MIN);
}

TEST(SectionListInput, CursorFollowUp) {
  CSectionList list;
  const std::vector<PERIOD> sections = {P(1000, 1000, 1), P(5000, 1000, 2)};
  SyncOneByOne(list, sections);
  SectionListAction a = list.Follow(5000);
  EXPECT_EQ(list.CellRow(), 1);
  EXPECT_EQ(list.CellCol(), 1);
  EXPECT_EQ(a.cellText, "5000");
  EXPECT_EQ(a.positionText, "5000");
  EXPECT_EQ(a.framePos, 5000);
  EXPECT_TRUE(a.repaintList);
  // The end is excluded.
  a = list.Follow(2000);
  EXPECT_EQ(list.CellRow(), -1);
  EXPECT_EQ(a.cellText, "");
  EXPECT_EQ(a.framePos, 2000);
  // Position 0 does nothing at all.
  list.Follow(1500);
  a = list.Follow(0);
  EXPECT_EQ(list.CellRow(), 0);
  EXPECT_FALSE(a.framePos.has_value());
  EXPECT_FALSE(a.cellText.has_value());
  EXPECT_FALSE(a.repaintList);
}

TEST(SectionListInput, ClickPicksCellAndSelectsSection) {
  CSectionList list;
  const std::vector<PERIOD> sections = {P(1000, 1001, 1), P(5000, 1000, 2)};
  SyncOneByOne(list, sections);
  // The end cell: the frame at the end, the cursor box at the section's middle.
  SectionListAction a = list.Click(0, 2, sections);
  EXPECT_EQ(list.CellRow(), 0);
  EXPECT_EQ(list.CellCol(), 2);
  EXPECT_EQ(a.framePos, 2001);
  EXPECT_EQ(a.cellText, "2001");
  EXPECT_EQ(a.selectIndex, 0);
  EXPECT_EQ(a.positionText, "1500");
  // Number and length cells show the frame at the cursor, the section's middle.
  a = list.Click(1, 0, sections);
  EXPECT_EQ(a.framePos, 5500);
  EXPECT_EQ(a.cellText, "2");
  EXPECT_EQ(a.selectIndex, 1);
  // A click below the rows: no edited row, nothing selected.
  a = list.Click(-1, 1, sections);
  EXPECT_EQ(list.CellRow(), -1);
  EXPECT_EQ(a.selectIndex, -1);
  EXPECT_FALSE(a.cellText.has_value());
  a = list.Click(7, 1, sections);
  EXPECT_EQ(list.CellRow(), -1);
  EXPECT_FALSE(list.HasEditedCell());
}

TEST(SectionListInput, ColumnClickSortsAndRenumbers) {
  CSectionList list;
  // Rows stand 3, 1, 2 from the top.
  std::vector<PERIOD> sections = {P(9000, 500, 3), P(1000, 1000, 1), P(5000, 2000, 2)};
  SyncOneByOne(list, sections);
  ASSERT_EQ(Column(list, 0), (std::vector<std::string>{"3", "1", "2"}));
  list.Click(0, 3, sections);

  // "Duration": the rows stay, numbered from the top.
  SectionListAction a = list.ColumnClick(3, sections);
  Store(sections, a);
  EXPECT_EQ(Column(list, 0), (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(Column(list, 1), (std::vector<std::string>{"9000", "1000", "5000"}));
  EXPECT_EQ(sections[0].nSeq, 1);
  EXPECT_EQ(sections[1].nSeq, 2);
  EXPECT_EQ(sections[2].nSeq, 3);
  EXPECT_EQ(list.CellRow(), -1);
  EXPECT_EQ(a.cellText, "");

  // "To": the rows by start, the numbers in timeline order.
  a = list.ColumnClick(2, sections);
  Store(sections, a);
  EXPECT_EQ(Column(list, 1), (std::vector<std::string>{"1000", "5000", "9000"}));
  EXPECT_EQ(Column(list, 0), (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(sections[0].nSeq, 3);
  EXPECT_EQ(sections[1].nSeq, 1);
  EXPECT_EQ(sections[2].nSeq, 2);
  // Nothing left to change on a second click.
  EXPECT_TRUE(list.ColumnClick(1, sections).store.empty());
}

// The clip of 60000 ms with sections {1000, 1000} and {5000, 1000}.
class UpdateCell : public ::testing::Test {
 protected:
  void SetUp() override { SyncOneByOne(list, sections); }
  // Picks a cell of a row, types a text and applies the result like the window.
  SectionListAction Type(int row, int col, const std::string& text) {
    list.Click(row, col, sections);
    SectionListAction a = list.UpdateCell(text, sections, 0, 60000);
    Store(sections, a);
    return a;
  }
  std::vector<PERIOD> sections = {P(1000, 1000, 1), P(5000, 1000, 2)};
  CSectionList list;
};

TEST_F(UpdateCell, EndBoundsAreStrict) {
  EXPECT_EQ(Type(0, 2, "5000").message, kMsgBlockInvalid);
  EXPECT_EQ(sections[0].nDur, 1000);
  EXPECT_EQ(list.Text(0, 2), "2000");
  EXPECT_EQ(Type(0, 2, "1000").message, kMsgBlockInvalid);  // not after the start
  const SectionListAction a = Type(0, 2, "4999");
  EXPECT_EQ(a.message, kMsgBlockUpdated);
  EXPECT_EQ(sections[0].nFrom, 1000);
  EXPECT_EQ(sections[0].nDur, 3999);
  EXPECT_EQ(a.selectIndex, 0);
  EXPECT_TRUE(a.repaintTimeline);
  EXPECT_EQ(list.Rows()[0], (CSectionList::Row{"1", "1000", "4999", "3999"}));
  // The last section ends before the clip's end, not on it.
  EXPECT_EQ(Type(1, 2, "60000").message, kMsgBlockInvalid);
  EXPECT_EQ(Type(1, 2, "59999").message, kMsgBlockUpdated);
  EXPECT_EQ(sections[1].nDur, 54999);
}

TEST_F(UpdateCell, StartBoundsAreStrict) {
  EXPECT_EQ(Type(0, 1, "0").message, kMsgBlockInvalid);
  EXPECT_EQ(Type(0, 1, "2000").message, kMsgBlockInvalid);  // not before the end
  EXPECT_EQ(Type(0, 1, "1").message, kMsgBlockUpdated);
  EXPECT_EQ(sections[0].nFrom, 1);
  EXPECT_EQ(sections[0].nDur, 1999);
  EXPECT_EQ(list.Rows()[0], (CSectionList::Row{"1", "1", "2000", "1999"}));
  // The second section's start may not reach the first one's end.
  EXPECT_EQ(Type(1, 1, "2000").message, kMsgBlockInvalid);
  EXPECT_EQ(Type(1, 1, "2001").message, kMsgBlockUpdated);
  EXPECT_EQ(sections[1].nDur, 3999);
}

TEST_F(UpdateCell, DurationBounds) {
  EXPECT_EQ(Type(0, 3, "0").message, kMsgDurationInvalid);
  EXPECT_EQ(Type(0, 3, "4000").message, kMsgDurationInvalid);  // would end on the next start
  EXPECT_EQ(Type(0, 3, "99999999999").message, kMsgDurationInvalid);
  EXPECT_EQ(sections[0].nDur, 1000);
  const SectionListAction a = Type(0, 3, "3999");
  EXPECT_EQ(a.message, kMsgDurationUpdated);
  EXPECT_EQ(sections[0].nDur, 3999);
  EXPECT_EQ(list.Text(0, 2), "4999");
  EXPECT_EQ(Type(1, 3, "55000").message, kMsgDurationInvalid);
  EXPECT_EQ(Type(1, 3, "54999").message, kMsgDurationUpdated);
}

TEST_F(UpdateCell, NeighboursOfAnyLengthBound) {
  // A section of 5 ms right after the first one still bounds its end.
  sections.push_back(P(2500, 5, 3));
  list.Sync(sections);
  EXPECT_EQ(Type(0, 2, "2600").message, kMsgBlockInvalid);
  EXPECT_EQ(Type(0, 3, "1501").message, kMsgDurationInvalid);
  EXPECT_EQ(Type(1, 1, "2505").message, kMsgBlockInvalid);
  EXPECT_EQ(Type(1, 1, "2506").message, kMsgBlockUpdated);
  EXPECT_EQ(Type(0, 2, "2499").message, kMsgBlockUpdated);
}

TEST_F(UpdateCell, SequenceNumbers) {
  EXPECT_EQ(Type(1, 0, "0").message, kMsgSeqInvalid);
  EXPECT_EQ(Type(1, 0, "3").message, kMsgSeqInvalid);
  // Equal numbers are accepted; the typed text stays as typed and still ties the row.
  const SectionListAction a = Type(1, 0, "01");
  EXPECT_EQ(a.message, kMsgSeqUpdated);
  EXPECT_EQ(sections[1].nSeq, 1);
  EXPECT_EQ(list.Text(1, 0), "01");
  EXPECT_EQ(a.selectIndex, -1);
  EXPECT_FALSE(a.repaintTimeline);
  list.Sync(sections);
  EXPECT_EQ(list.RowCount(), 2);
}

TEST_F(UpdateCell, SameValueComesBeforeAnyBound) {
  // "5000" would be out of bounds for a start, but the cell shows it already.
  EXPECT_EQ(Type(1, 1, "05000").message, kMsgSameValue);
  EXPECT_EQ(Type(0, 3, "1000").message, kMsgSameValue);
  EXPECT_EQ(sections[1].nFrom, 5000);
}

TEST_F(UpdateCell, NothingWithoutCellTextOrSection) {
  // Empty text, no edited row, or an edited row whose section went: silently nothing.
  list.Click(0, 2, sections);
  EXPECT_TRUE(list.UpdateCell("", sections, 0, 60000).message.empty());
  list.ClearEditedCell();
  SectionListAction a = list.UpdateCell("1500", sections, 0, 60000);
  EXPECT_TRUE(a.message.empty());
  EXPECT_TRUE(a.store.empty());
  list.Click(0, 2, sections);
  a = list.UpdateCell("1500", {P(5000, 1000, 2)}, 0, 60000);
  EXPECT_TRUE(a.message.empty());
  EXPECT_TRUE(a.store.empty());
  // Before a clip is open the range is empty: no start or end can be typed.
  list.Click(0, 1, sections);
  EXPECT_EQ(list.UpdateCell("1500", sections, 0, 0).message, kMsgBlockInvalid);
  // Text that is not a number is read as the leading digits (none: 0), stored as a number.
  EXPECT_EQ(Type(0, 1, "abc").message, kMsgBlockInvalid);
  EXPECT_EQ(Type(0, 1, "1200x").message, kMsgBlockUpdated);
  EXPECT_EQ(list.Text(0, 1), "1200");
}

}  // namespace

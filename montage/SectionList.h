// The section list of the montage pane: one row of texts per section (sequence number, start,
// end, length in ms), the cell being edited, and what each of the list's inputs changes. Rows
// are tied to their section by value: a row whose start and length read back as a section's
// nFrom and nDur belongs to it. The list has no window; the main window shows its rows, paints
// the edited cell and carries out the returned actions on the timeline and its edits.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "KeyFrameMarks.h"
#include "Period.h"

// Columns in their order: title and width in pixels.
struct SectionListColumn {
  const char* title;
  int width;
};
// The widths leave room for the frame and a vertical scroll bar in the list's 316 pixels.
inline constexpr int kSectionListColumnCount = 5;
inline constexpr SectionListColumn kSectionListColumns[kSectionListColumnCount] = {
    {"Seq#", 38}, {"From(Sort)", 68}, {"To", 62}, {"Duration", 62}, {"Real Start", 64}};
// The last column shows where the section's copy really starts: the latest key frame at or
// before its start. It is shown only; rows are tied to sections by their start and length.
enum SectionListCol {
  kSecColSeq = 0,
  kSecColFrom = 1,
  kSecColTo = 2,
  kSecColDuration = 3,
  kSecColRealStart = 4
};

// Fill of the edited cell, a COLORREF (0x00BBGGRR) of (238, 192, 210).
inline constexpr uint32_t kEditedCellColour = 0xD2C0EE;

// Texts of the message line.
inline constexpr const char kMsgSameValue[] = "Same value, No need update.";
inline constexpr const char kMsgSeqUpdated[] = "Sequence number updated.";
inline constexpr const char kMsgSeqInvalid[] = "Invalid sequence number!";
inline constexpr const char kMsgBlockUpdated[] = "Block's parameter updated.";
inline constexpr const char kMsgBlockInvalid[] = "Invalid block's parameter!";
inline constexpr const char kMsgDurationUpdated[] = "Block's duration updated.";
inline constexpr const char kMsgDurationInvalid[] = "Invalid block's duration!";

// A section to store back into the timeline: its array index and its new value.
struct SectionChange {
  int index = -1;
  PERIOD period;
};

// What the window does after a list input, in this order: store every change into the
// timeline's section of that index; SelectPeriod(selectIndex) when it is 0 or more; repaint the
// timeline when asked; ShowFrameAt(framePos); set edit 1014 to positionText and edit 1019 to
// cellText (an empty text empties it); repaint the list when asked; show message on the message
// line when it is not empty. Unset fields leave their control as it is.
struct SectionListAction {
  std::vector<SectionChange> store;
  int selectIndex = -1;
  bool repaintTimeline = false;
  std::optional<int32_t> framePos;
  std::optional<std::string> positionText;
  std::optional<std::string> cellText;
  bool repaintList = false;
  std::string message;
};

class CSectionList {
 public:
  using Row = std::array<std::string, kSectionListColumnCount>;

  int RowCount() const { return static_cast<int>(m_rows.size()); }
  const std::vector<Row>& Rows() const { return m_rows; }
  // The text of a cell; "" outside the list.
  const std::string& Text(int row, int col) const;
  // The texts of a section's row; the real start is empty while the key frames are not known.
  static Row RowOf(const PERIOD& section, const KeyFrameMarks& keys = KeyFrameMarks());
  // A cell text (or typed text) read as a decimal number: optional sign and the leading digits,
  // 0 when there are none; values beyond 32 bits saturate.
  static int32_t ReadNumber(const std::string& text);
  // Array index of the first section the row belongs to, -1 when none.
  int SectionOfRow(int row, const std::vector<PERIOD>& sections) const;

  // The timeline's sections changed (WM_TIMELINE_CHANGED): rows of new sections are inserted
  // after the old rows (the last one added standing first), rows of sections gone are removed;
  // other rows keep their texts and places. When one section changed (one row lost its section
  // and one section is new), that row takes the new values in its place. The edited cell stays
  // on its row (-1 when its row went). The window repaints the list.
  void Sync(const std::vector<PERIOD>& sections);
  // The row of a section (its first row by value), -1 for none or an empty section.
  int RowOfSection(const PERIOD& section) const;
  // The message line's text when a new source clip is opened while sections are marked: they
  // stay kept for their clip.
  static std::string KeptText(int count);
  // The sections were put back (undo, redo, kept or imported sections): as Sync, and then every
  // row's texts are written anew from its section, so numbers that came back show.
  void Reload(const std::vector<PERIOD>& sections);
  // All rows go (a new source clip); the edited cell's row with them.
  void Clear();
  // The source clip's key frames (or none known, for a new clip): the real start of every row
  // is written anew. The window repaints the list.
  void SetKeyFrames(const KeyFrameMarks& keys);

  // The timeline's cursor moved to pos (WM_TIMELINE_POS): the start cell of the first row that
  // holds pos (start <= pos < end) becomes the edited cell, or none. Nothing for pos 0.
  SectionListAction Follow(int32_t pos);
  // A click on a cell (NM_CLICK; row -1 when no row was hit): it becomes the edited cell, and
  // its row's section is selected on the timeline, the cursor on its middle. A start, end or
  // real start cell shows the frame there, any other the frame at the cursor.
  SectionListAction Click(int row, int col, const std::vector<PERIOD>& sections);
  // A click on a column title (LVN_COLUMNCLICK): rows sorted by start for columns 1 and 2,
  // left in place for 0 and 3; then numbered 1, 2, 3, ... from the top, and every section takes
  // the number of its row.
  SectionListAction ColumnClick(int col, const std::vector<PERIOD>& sections);
  // Update Cell (command 1020) with the text of edit 1019: the edited cell's value checked
  // against its column's bounds and written into the cell and its section. Nothing for the real
  // start, which follows from the start. rangeMin and
  // rangeMax are the timeline's range (0 and the clip's length).
  SectionListAction UpdateCell(const std::string& typed, const std::vector<PERIOD>& sections,
                               int32_t rangeMin, int32_t rangeMax);

  // The edited cell, for the owner drawing: painted when both are 0 or more.
  int CellRow() const { return m_nCellRow; }
  int CellCol() const { return m_nCellCol; }
  bool HasEditedCell() const {
    return m_nCellRow >= 0 && m_nCellCol >= 0 && m_nCellRow < RowCount();
  }
  // Erase on the timeline: no edited row (the window empties edit 1019 and repaints).
  void ClearEditedCell() { m_nCellRow = -1; }

 private:
  std::vector<Row> m_rows;
  KeyFrameMarks m_keys;
  int32_t m_nCellRow = -1;
  int32_t m_nCellCol = -1;
};

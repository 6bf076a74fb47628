// The clip list of the Clip Merge pane: one row of cell texts per clip, the selected row, the
// total length. The list widget only shows these texts; every command of the pane is a call here
// that says what the pane shows next.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Texts the pane shows.
inline constexpr const char* kTextNoClipSelected = "No video clip selected.";
inline constexpr const char* kTextInvalidSeq = "Invalid sequence number.";
inline constexpr const char* kTextSeqUpdated = "The sequence number updated.";

enum ClipColumn : int {
  kColSeq = 0,
  kColBaudrate = 1,
  kColResolution = 2,
  kColDuration = 3,
  kColCreateTime = 4,
  kColPath = 5,
};
inline constexpr int kClipColumns = 6;
inline constexpr std::array<const char*, kClipColumns> kClipColumnTitles = {
    "Seq#", "Baudrate", "Resolution@fps", "Duration", "Create Time", "Path"};
inline constexpr std::array<int, kClipColumns> kClipColumnWidths = {38, 60, 95, 56, 108, 180};

// Texts for the pane's controls after a command. A field without a value leaves its control as
// it is.
struct ClipPaneTexts {
  std::optional<std::string> seqEdit;  // the Seq# edit
  std::optional<std::string> message;  // the message line
};

class ClipList {
 public:
  struct Row {
    std::array<std::string, kClipColumns> cells;
    uint32_t durationMs = 0;  // what this row added to the total length
  };

  // Appends a row for the clip; false, and nothing changes, when the path is not a clip file. A
  // clip the information library cannot read is still listed (zero attributes, no length).
  bool Add(const std::string& path);
  // Dropped files, taken from the last to the first; returns how many rows were added.
  int AddDropped(const std::vector<std::string>& paths);

  int Count() const { return static_cast<int>(rows_.size()); }
  // "" for a row or column outside the list.
  const std::string& Text(int row, int column) const;
  const std::vector<Row>& Rows() const { return rows_; }

  // Sum of the rows' lengths, and its "%02d:%02d:%02d" text for the total-length label.
  uint32_t TotalLengthMs() const { return totalMs_; }
  std::string TotalLengthText() const { return DurationText(totalMs_); }

  // The pane's record of the last clicked row (-1: none); the row it draws highlighted.
  int Selected() const { return selected_; }
  // The selected row's path, for Play; none without a selection.
  std::optional<std::string> SelectedPath() const;

  // A click on a row (-1 or a row past the end: on no row).
  ClipPaneTexts Click(int row);
  // Delete Clip: removes the selected row (if any); the row above becomes selected.
  ClipPaneTexts Delete();
  // Change Seq#: stores the edit's text, as typed, as the selected row's Seq#.
  ClipPaneTexts ChangeSeq(const std::string& editText);
  // A click on a column title: column 0 sorts by Seq# number, column 4 by Create Time (and then
  // numbers the rows 1 ... n from the top); other columns keep the order. Stable. Returns whether
  // any row or cell changed.
  bool SortByColumn(int column);

  // Row indices in the order the merge writes them: every row once, by the number of its Seq#
  // text and, among equal numbers, from the top.
  std::vector<int> MergeOrder() const;

  // Number of a Seq# text: its leading decimal digits (0 when there are none), held at INT_MAX.
  static int SeqNumber(const std::string& text);
  // "%02d:%02d:%02d" of hours (not bounded), minutes and seconds, truncated.
  static std::string DurationText(uint32_t ms);
  // "%d:%02d:%02d", the preview time label.
  static std::string PreviewTimeText(uint32_t ms);
  // "%04d-%02d-%02d %02d:%02d:%02d" of the file's last modification in local time; "" when the
  // file cannot be opened or its status read.
  static std::string FileTimeText(const std::string& path);

 private:
  std::vector<Row> rows_;
  uint32_t totalMs_ = 0;
  int selected_ = -1;
};

#include "ClipList.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <ctime>
#include <numeric>

#include "ClipFile.h"
#include "ClipInfo.h"

namespace {

const std::string kEmpty;

// Seconds of a Create Time text in local time; none when the text is not a full time.
std::optional<int64_t> CreateTimeSeconds(const std::string& text) {
  std::tm t{};
  if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour,
                  &t.tm_min, &t.tm_sec) != 6)
    return std::nullopt;
  t.tm_year -= 1900;
  t.tm_mon -= 1;
  t.tm_isdst = -1;  // daylight saving as the system decides
  return static_cast<int64_t>(std::mktime(&t));
}

}  // namespace

bool ClipList::Add(const std::string& path) {
  if (!IsClipFile(path)) return false;
  const ClipInfo info = QueryClipInfo(path);
  Row row;
  row.durationMs = info.durationMs;
  row.cells[kColSeq] = std::to_string(rows_.size() + 1);  // whatever numbers the others carry
  char text[96];
  std::snprintf(text, sizeof(text), "%ubps", info.bitRate);
  row.cells[kColBaudrate] = text;
  std::snprintf(text, sizeof(text), "%dX%d@%.02f", info.width, info.height, info.frameRate);
  row.cells[kColResolution] = text;
  row.cells[kColDuration] = DurationText(info.durationMs);
  row.cells[kColCreateTime] = FileTimeText(path);
  row.cells[kColPath] = path;
  // The total is held at its limit rather than wrapping round.
  totalMs_ = static_cast<uint32_t>(
      std::min<uint64_t>(static_cast<uint64_t>(totalMs_) + info.durationMs, UINT32_MAX));
  rows_.push_back(std::move(row));
  return true;
}

int ClipList::AddDropped(const std::vector<std::string>& paths) {
  int added = 0;
  for (auto it = paths.rbegin(); it != paths.rend(); ++it)
    if (Add(*it)) ++added;
  return added;
}

const std::string& ClipList::Text(int row, int column) const {
  if (row < 0 || row >= Count() || column < 0 || column >= kClipColumns) return kEmpty;
  return rows_[static_cast<size_t>(row)].cells[static_cast<size_t>(column)];
}

std::optional<std::string> ClipList::SelectedPath() const {
  if (selected_ < 0 || selected_ >= Count()) return std::nullopt;
  return Text(selected_, kColPath);
}

ClipPaneTexts ClipList::Click(int row) {
  ClipPaneTexts out;
  selected_ = row >= 0 && row < Count() ? row : -1;
  if (selected_ >= 0) {
    out.seqEdit = Text(selected_, kColSeq);
    out.message = "    " + Text(selected_, kColPath);
  }
  return out;
}

ClipPaneTexts ClipList::Delete() {
  ClipPaneTexts out;
  if (selected_ >= 0 && selected_ < Count()) {
    // The length the row added, not the clip's length now: the file may have changed or gone
    // since, and the total must stay the sum of the rows.
    const auto at = rows_.begin() + selected_;
    totalMs_ -= std::min(totalMs_, at->durationMs);
    rows_.erase(at);
  }
  const int above = selected_ - 1;
  if (above >= 0 && above < Count()) {
    selected_ = above;
    out.seqEdit = Text(above, kColSeq);
  } else {
    selected_ = -1;
    out.seqEdit = std::string();
  }
  return out;
}

ClipPaneTexts ClipList::ChangeSeq(const std::string& editText) {
  ClipPaneTexts out;
  if (SeqNumber(editText) > Count()) {
    out.message = kTextInvalidSeq;
    return out;
  }
  if (editText.empty()) return out;
  if (selected_ < 0 || selected_ >= Count()) {
    out.message = kTextNoClipSelected;
    return out;
  }
  rows_[static_cast<size_t>(selected_)].cells[kColSeq] = editText;
  out.message = kTextSeqUpdated;
  return out;
}

bool ClipList::SortByColumn(int column) {
  if (column != kColSeq && column != kColCreateTime) return false;
  const std::vector<Row> before = rows_;
  if (column == kColSeq) {
    std::stable_sort(rows_.begin(), rows_.end(), [](const Row& a, const Row& b) {
      return SeqNumber(a.cells[kColSeq]) < SeqNumber(b.cells[kColSeq]);
    });
  } else {
    // A row without a readable time sorts before every dated row.
    std::vector<std::pair<int64_t, size_t>> keys;
    for (size_t i = 0; i < rows_.size(); ++i)
      keys.emplace_back(CreateTimeSeconds(rows_[i].cells[kColCreateTime]).value_or(INT64_MIN), i);
    std::stable_sort(keys.begin(), keys.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<Row> sorted;
    sorted.reserve(rows_.size());
    for (const auto& k : keys) sorted.push_back(std::move(rows_[k.second]));
    rows_ = std::move(sorted);
    for (size_t i = 0; i < rows_.size(); ++i) rows_[i].cells[kColSeq] = std::to_string(i + 1);
  }
  for (size_t i = 0; i < rows_.size(); ++i)
    if (rows_[i].cells != before[i].cells) return true;
  return false;
}

std::vector<int> ClipList::MergeOrder() const {
  std::vector<int> order(rows_.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [this](int a, int b) {
    return SeqNumber(rows_[static_cast<size_t>(a)].cells[kColSeq]) <
           SeqNumber(rows_[static_cast<size_t>(b)].cells[kColSeq]);
  });
  return order;
}

int ClipList::SeqNumber(const std::string& text) {
  int64_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    n = std::min<int64_t>(n * 10 + (c - '0'), INT_MAX);
  }
  return static_cast<int>(n);
}

std::string ClipList::DurationText(uint32_t ms) {
  char text[32];
  std::snprintf(text, sizeof(text), "%02u:%02u:%02u", ms / 3600000u, ms / 1000u % 3600u / 60u,
                ms / 1000u % 60u);
  return text;
}

std::string ClipList::PreviewTimeText(uint32_t ms) {
  char text[32];
  std::snprintf(text, sizeof(text), "%u:%02u:%02u", ms / 3600000u, ms / 1000u % 3600u / 60u,
                ms / 1000u % 60u);
  return text;
}

std::string ClipList::FileTimeText(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::string();
  struct stat st;
  const bool statted = fstat(fd, &st) == 0;
  close(fd);
  if (!statted) return std::string();
  std::tm t{};
  const time_t modified = st.st_mtime;
  if (localtime_r(&modified, &t) == nullptr) return std::string();
  char text[64];
  std::snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d:%02d", t.tm_year + 1900, t.tm_mon + 1,
                t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  return text;
}

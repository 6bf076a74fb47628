#include "SectionCsv.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <set>

#include "MarksState.h"
#include "MontageJob.h"

namespace {

std::string Trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// One record: fields split at commas outside quotes, "" inside quotes a quote. pos moves past
// the record's line end. False for a quote left open.
bool ReadRecord(const std::string& text, size_t* pos, std::vector<std::string>* fields) {
  fields->clear();
  std::string field;
  bool quoted = false;
  size_t i = *pos;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      fields->push_back(Trim(field));
      field.clear();
    } else if (c == '\n') {
      break;
    } else if (c != '\r') {
      field += c;
    }
  }
  *pos = i + 1;
  if (quoted) return false;
  fields->push_back(Trim(field));
  return true;
}

// Seconds as digits with an optional fraction, rounded to ms; none for anything else.
std::optional<int64_t> ReadSeconds(const std::string& text) {
  size_t i = 0;
  int64_t whole = 0;
  bool digits = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    whole = whole * 10 + (text[i] - '0');
    if (whole > std::numeric_limits<int32_t>::max() / 1000) return std::nullopt;
    digits = true;
  }
  int64_t ms = whole * 1000;
  if (i < text.size() && text[i] == '.') {
    ++i;
    int64_t scale = 100;
    bool roundUp = false;
    for (size_t n = 0; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++n) {
      if (n < 3)
        ms += (text[i] - '0') * scale, scale /= 10;
      else if (n == 3)
        roundUp = text[i] >= '5';
      digits = true;
    }
    if (roundUp) ++ms;
  }
  if (!digits || i != text.size()) return std::nullopt;
  return ms;
}

// A whole number of the third column; none for a label.
std::optional<int64_t> ReadNumber(const std::string& text) {
  if (text.empty() || text.size() > 12) return std::nullopt;
  int64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
  }
  return v;
}

}  // namespace

std::string SectionsToCsv(const std::vector<PERIOD>& sections) {
  std::string out;
  for (const PERIOD& s : CMontageJob::WriteOrder(sections))
    out += SecondsText(s.nFrom) + "," + SecondsText(static_cast<int64_t>(s.nFrom) + s.nDur) + "," +
           std::to_string(s.nSeq) + "\n";
  return out;
}

void NumberUnnamed(std::vector<PERIOD>* sections) {
  std::set<int32_t> used;
  for (const PERIOD& s : *sections)
    if (s.nSeq > 0) used.insert(s.nSeq);
  int32_t next = 1;
  for (PERIOD& s : *sections) {
    if (s.nSeq > 0) continue;
    while (used.count(next) != 0) ++next;
    s.nSeq = next;
    used.insert(next);
  }
}

CsvSections SectionsFromCsv(const std::string& text, int32_t lengthMs) {
  CsvSections r;
  size_t pos = text.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;  // a byte order mark
  std::vector<std::string> f;
  std::vector<PERIOD> sections;
  for (int row = 1; pos < text.size(); ++row) {
    const auto bad = [&](const std::string& why) {
      r.error = "row " + std::to_string(row) + ": " + why;
      return r;
    };
    if (!ReadRecord(text, &pos, &f)) return bad("a quote is not closed");
    if (f.size() == 1 && f[0].empty()) continue;  // blank line
    if (f.size() < 2) return bad("a start and an end are needed");
    if (f.size() > 3) return bad("more than three columns");
    const auto from = f[0].empty() ? std::optional<int64_t>(0) : ReadSeconds(f[0]);
    if (!from) return bad("the start '" + f[0] + "' is not a time in seconds");
    const auto to = f[1].empty() ? std::optional<int64_t>(lengthMs) : ReadSeconds(f[1]);
    if (!to) return bad("the end '" + f[1] + "' is not a time in seconds");
    if (*to <= *from) return bad("the end is not after the start");
    if (*to > lengthMs)
      return bad("the end lies after the clip's end (" + SecondsText(lengthMs) + " s)");
    PERIOD p;
    p.nFrom = static_cast<int32_t>(*from);
    p.nDur = static_cast<int32_t>(*to - *from);
    if (f.size() == 3) {
      if (const auto n = ReadNumber(f[2])) {
        if (*n < 1) return bad("numbers start at 1");
        if (*n > std::numeric_limits<int32_t>::max()) return bad("the number is too large");
        p.nSeq = static_cast<int32_t>(*n);
      }
    }
    sections.push_back(p);
  }
  if (sections.empty()) {
    r.error = "no sections in it";
    return r;
  }
  NumberUnnamed(&sections);
  r.sections = std::move(sections);
  return r;
}

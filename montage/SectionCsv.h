// The section list as CSV, one section a row: start and end in seconds with three decimals,
// then the sequence number ("12.480,15.000,2"), the three columns lossless cutters such as
// LosslessCut write and read. Their third column is a free label: on reading, a row whose third
// column is no whole number takes the smallest number that no row names.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Period.h"

// The rows in the order the montage writes the sections (by number, then by start).
std::string SectionsToCsv(const std::vector<PERIOD>& sections);

struct CsvSections {
  std::vector<PERIOD> sections;  // in row order; empty when refused
  std::string error;             // "" when every row was good
  bool Ok() const { return error.empty(); }
};
// Reads every row or none. Starts and ends are seconds ("12.48", "12.480", "12"), rounded to
// the millisecond; an empty start is the clip's start and an empty end its end (lengthMs). A
// row is bad when a time is not one, its end is not after its start or lies past lengthMs, its
// number is 0, or it has more than three columns; the error names the first bad row. Blank
// lines are skipped; fields may be quoted.
CsvSections SectionsFromCsv(const std::string& text, int32_t lengthMs);

// Sections with number 0 take, in their order, the smallest number that no other section names
// or took before them.
void NumberUnnamed(std::vector<PERIOD>* sections);

#pragma once
// Writes the evaluation report: report.md with its PNG charts, and headline.md.
// Thread safety: none needed (one call per run).
#include <string>

#include "Measurements.h"

namespace kvoeval {

// Requires: `r` filled by a whole run with `opt`; opt.out an existing folder.
// Ensures: true when report.md was written (charts and headline.md beside it); false
// after one "Error: ..." line on standard error otherwise.
bool writeReport(const Results& r, const Options& opt);

}  // namespace kvoeval

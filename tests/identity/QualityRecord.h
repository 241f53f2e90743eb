#pragma once
// Stored quality figures with tolerances, so that a test can tell a regression from an
// improvement (where a hash record can only tell that something moved).
//
// What it represents: the lines of a text file, each one figure
//     <name> <value> <tolerance> <better>
// with <better> "higher", "lower" or "either" (a figure with no better side, such as how
// far a shape lies from its recorded place), or one recorded shape
//     shape <name> <x0> <y0> ... <x67> <y67>
// Lines starting with '#' are the file's header and are kept when the file is rewritten.
//
// Thread safety: plain values and functions; one thread per record.
#include <map>
#include <string>
#include <vector>

namespace kvotest {

struct Figure {
    double value = 0.0;
    double tolerance = 0.0;  // the largest difference from `value` that passes, same unit
    std::string better;      // "higher", "lower" or "either"
};

struct QualityRecord {
    std::vector<std::string> header;  // the '#' lines, in order
    std::map<std::string, Figure> figures;
    std::map<std::string, std::vector<double>> shapes;
};

// Ensures: true with `out` filled from `path`; false when the file cannot be read or a
// line is malformed (`error` then says which).
bool readQualityRecord(const std::string& path, QualityRecord& out, std::string& error);
// Ensures: the record written to `path` (header, figures, shapes, in name order); false
// when it cannot be written.
bool writeQualityRecord(const std::string& path, const QualityRecord& record);

// The verdict on a figure measured now against its recorded one: empty when within the
// tolerance; otherwise one message that says whether it is worse ("worse than the
// reference by X (tolerance Y)") or better (asking for a re-record, so the stored values
// stay current), or for "either" that it moved. `rerecord` is the command to re-record.
std::string verdict(const std::string& name, const Figure& recorded, double now, const std::string& rerecord);

}  // namespace kvotest

#pragma once
// PNG charts for the report, drawn with OpenCV: grouped bar charts and line charts.
// Missing values (NaN) are left out. Thread safety: none needed (pure drawing).
#include <string>
#include <vector>

namespace kvoeval {

struct Series {
    std::string name;
    std::vector<double> values;  // one per category (bars) or per x (lines)
};

// Bars grouped by category, one colour per series; `unit` labels the value axis.
// Returns false when the file could not be written.
bool barChart(const std::string& path, const std::string& title, const std::string& unit,
              const std::vector<std::string>& categories, const std::vector<Series>& series);

// One line per series over x = 0, 1, ... labelled by `xLabel`.
bool lineChart(const std::string& path, const std::string& title, const std::string& unit,
               const std::string& xLabel, double xStep, const std::vector<Series>& series);

}  // namespace kvoeval

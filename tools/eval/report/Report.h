#pragma once
// Markdown text of the report: number formatting and tables.
// Thread safety: none needed.
#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace kvoeval {

// `v` with `digits` decimals, or "n/a" when it is not finite.
inline std::string fmt(double v, int digits = 2) {
    if (!std::isfinite(v)) return "n/a";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", digits, v);
    return buf;
}

// `a / b` as "1.23x", or "n/a".
inline std::string ratio(double a, double b) {
    if (!std::isfinite(a) || !std::isfinite(b) || b == 0.0) return "n/a";
    return fmt(a / b, 2) + "x";
}

inline std::string percent(double share) { return std::isfinite(share) ? fmt(100.0 * share, 1) + " %" : "n/a"; }

class Table {
public:
    explicit Table(std::vector<std::string> header) : header_(std::move(header)) {}
    void row(std::vector<std::string> cells) { rows_.push_back(std::move(cells)); }
    std::string str() const {
        std::ostringstream o;
        line(o, header_);
        o << "|";
        for (size_t i = 0; i < header_.size(); ++i) o << (i == 0 ? "---|" : "---:|");
        o << "\n";
        for (const auto& r : rows_) line(o, r);
        return o.str();
    }

private:
    static void line(std::ostringstream& o, const std::vector<std::string>& cells) {
        o << "|";
        for (const auto& c : cells) o << " " << c << " |";
        o << "\n";
    }
    std::vector<std::string> header_;
    std::vector<std::vector<std::string>> rows_;
};

}  // namespace kvoeval

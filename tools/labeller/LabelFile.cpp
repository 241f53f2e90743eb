#include "LabelFile.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <tuple>

namespace kvo {
namespace labeller {

std::string formatLabel(const FaceLabel& label) {
    std::string line = label.source + "\t" + std::to_string(label.frame) + "\t";
    char buf[64];
    for (int i = 0; i < NUM_POINTS; ++i) {
        std::snprintf(buf, sizeof(buf), i == 0 ? "%.3f %.3f" : " %.3f %.3f", label.points[i].x(),
                      label.points[i].y());
        line += buf;
    }
    line += '\n';
    return line;
}

bool parseLabel(const std::string& line, FaceLabel& label) {
    const size_t tab1 = line.find('\t');
    if (tab1 == std::string::npos || tab1 == 0) return false;
    const size_t tab2 = line.find('\t', tab1 + 1);
    if (tab2 == std::string::npos) return false;
    FaceLabel out;
    out.source = line.substr(0, tab1);
    const std::string frame = line.substr(tab1 + 1, tab2 - tab1 - 1);
    char* end = nullptr;
    errno = 0;
    const long f = std::strtol(frame.c_str(), &end, 10);
    if (frame.empty() || *end != '\0' || errno != 0 || f < -1 || f > 1000000000L) return false;
    out.frame = static_cast<int>(f);
    const char* p = line.c_str() + tab2 + 1;
    for (int i = 0; i < 2 * NUM_POINTS; ++i) {
        if (*p != (i == 0 ? *p : ' ')) return false;
        if (i > 0) ++p;
        if (*p == ' ' || *p == '\0') return false;
        const double v = std::strtod(p, &end);
        if (end == p || !std::isfinite(v)) return false;
        if (i % 2 == 0) out.points[i / 2].x() = v; else out.points[i / 2].y() = v;
        p = end;
    }
    if (*p == '\n') ++p;
    if (*p != '\0') return false;
    label = out;
    return true;
}

void sortLabels(std::vector<FaceLabel>& labels) {
    std::stable_sort(labels.begin(), labels.end(), [](const FaceLabel& a, const FaceLabel& b) {
        return std::tie(a.source, a.frame, a.boxLeft, a.boxTop) <
               std::tie(b.source, b.frame, b.boxLeft, b.boxTop);
    });
}

}  // namespace labeller
}  // namespace kvo

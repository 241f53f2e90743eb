#include "QualityRecord.h"

#include <cmath>
#include <fstream>
#include <sstream>

namespace kvotest {

bool readQualityRecord(const std::string& path, QualityRecord& out, std::string& error) {
    std::ifstream in(path);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (line.empty()) continue;
        if (line[0] == '#') {
            out.header.push_back(line);
            continue;
        }
        std::istringstream s(line);
        std::string name;
        s >> name;
        bool ok = true;
        if (name == "shape") {
            std::vector<double> xy(136);
            s >> name;
            for (double& v : xy) ok = ok && static_cast<bool>(s >> v);
            out.shapes[name] = xy;
        } else {
            Figure f;
            ok = static_cast<bool>(s >> f.value >> f.tolerance >> f.better) &&
                 (f.better == "higher" || f.better == "lower" || f.better == "either");
            out.figures[name] = f;
        }
        std::string rest;
        if (!ok || (s >> rest)) {
            error = path + ":" + std::to_string(number) + ": malformed line";
            return false;
        }
    }
    return true;
}

bool writeQualityRecord(const std::string& path, const QualityRecord& record) {
    std::ofstream out(path);
    for (const std::string& h : record.header) out << h << "\n";
    out.precision(6);
    for (const auto& f : record.figures) {
        out << f.first << " " << f.second.value << " " << f.second.tolerance << " " << f.second.better << "\n";
    }
    out << std::fixed;
    out.precision(3);  // 0.001 px: far inside any tolerance on a shape
    for (const auto& s : record.shapes) {
        out << "shape " << s.first;
        for (double v : s.second) out << " " << v;
        out << "\n";
    }
    return static_cast<bool>(out);
}

std::string verdict(const std::string& name, const Figure& recorded, double now, const std::string& rerecord) {
    const double d = now - recorded.value;
    if (std::fabs(d) <= recorded.tolerance) return std::string();
    std::ostringstream m;
    m << name << " is " << now << ", recorded " << recorded.value << ": ";
    const bool higherIsBetter = recorded.better == "higher";
    if (recorded.better == "either") {
        m << "moved from the reference by " << std::fabs(d) << " (tolerance " << recorded.tolerance
          << "); if the change is meant, re-record with " << rerecord;
    } else if ((d < 0) == higherIsBetter) {
        m << "worse than the reference by " << std::fabs(d) << " (tolerance " << recorded.tolerance << ")";
    } else {
        m << "better than the reference by " << std::fabs(d) << " (tolerance " << recorded.tolerance
          << "); re-record with " << rerecord << " so that the stored values stay current";
    }
    return m.str();
}

}  // namespace kvotest

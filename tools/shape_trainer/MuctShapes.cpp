#include "MuctShapes.h"

#include <fstream>

#include "util/StringUtils.h"
#include "util/Trace.h"

namespace kvo {
namespace trainer {

std::vector<ShapeVec> readMuctShapes(const std::string& path, int limit) {
    std::vector<ShapeVec> shapes;
    std::ifstream in(path);
    if (!in) {
        Err("readMuctShapes: cannot open " + path);
        return shapes;
    }
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
        if (limit > 0 && static_cast<int>(shapes.size()) >= limit) break;
        std::vector<std::string> cells;
        size_t start = 0;
        while (true) {
            const size_t comma = line.find(',', start);
            cells.push_back(line.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
        if (cells.size() < 2 + 136) continue;
        ShapeVec s(136);
        bool complete = true;
        for (int i = 0; i < 68; ++i) {
            const double x = stringToDouble(cells[2 + 2 * i]);
            const double y = stringToDouble(cells[3 + 2 * i]);
            if (x == 0.0 && y == 0.0) complete = false;
            s[2 * i] = x;
            s[2 * i + 1] = -y;
        }
        if (complete) shapes.push_back(s);
    }
    if (shapes.empty()) Err("readMuctShapes: no complete 68-point shape in " + path);
    return shapes;
}

}  // namespace trainer
}  // namespace kvo

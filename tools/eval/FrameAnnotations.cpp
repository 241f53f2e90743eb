#include "eval/FrameAnnotations.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kvo {
namespace eval {

namespace {

// A whole token as a finite double.
bool parseNumber(const std::string& token, double& v) {
    char* end = nullptr;
    errno = 0;
    v = std::strtod(token.c_str(), &end);
    return end != token.c_str() && *end == '\0' && errno == 0 && std::isfinite(v);
}

}  // namespace

bool readFrameAnnotations(std::istream& in, const std::string& source, FrameShapes& out, std::string& error) {
    std::string line;
    for (int lineNo = 1; std::getline(in, line); ++lineNo) {
        std::istringstream tokens(line);
        std::string first;
        if (!(tokens >> first)) continue;  // blank line
        const std::string where = source + ":" + std::to_string(lineNo) + ": ";
        char* end = nullptr;
        errno = 0;
        const long frame = std::strtol(first.c_str(), &end, 10);
        if (*end != '\0' || errno != 0 || frame < 0 || frame > 100000000) {
            error = where + "the frame number '" + first + "' is not a non-negative integer";
            return false;
        }
        std::vector<double> shape;
        shape.reserve(136);
        std::string token;
        while (tokens >> token) {
            double v = 0.0;
            if (!parseNumber(token, v)) {
                error = where + "'" + token + "' is not a finite number";
                return false;
            }
            shape.push_back(v);
        }
        if (shape.size() != 136) {
            error = where + std::to_string(shape.size()) + " coordinates, expected 136 (68 points)";
            return false;
        }
        if (!out.emplace(static_cast<int>(frame), std::move(shape)).second) {
            error = where + "frame " + first + " is given twice";
            return false;
        }
    }
    return true;
}

bool readFrameAnnotationsDir(const std::string& dir, FrameShapes& out, std::string& error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    std::vector<fs::path> files;
    for (fs::directory_iterator it(dir, ec), endIt; !ec && it != endIt; it.increment(ec)) {
        if (it->path().extension() == ".txt" && it->is_regular_file()) files.push_back(it->path());
    }
    if (ec) {
        error = "cannot read the folder " + dir + ": " + ec.message();
        return false;
    }
    if (files.empty()) {
        error = "the folder " + dir + " holds no annotation file (*.txt)";
        return false;
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& p : files) {
        std::ifstream in(p);
        if (!in) {
            error = "cannot open " + p.string();
            return false;
        }
        if (!readFrameAnnotations(in, p.string(), out, error)) return false;
    }
    return true;
}

}  // namespace eval
}  // namespace kvo

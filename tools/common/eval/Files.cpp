#include "eval/Files.h"

#include <fstream>
#include <sstream>

namespace kvo {
namespace eval {

bool readFile(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        bytes.clear();
        return false;
    }
    std::ostringstream s;
    s << in.rdbuf();
    bytes = s.str();
    return !in.bad();
}

std::string readFile(const std::string& path) {
    std::string bytes;
    readFile(path, bytes);
    return bytes;
}

}  // namespace eval
}  // namespace kvo

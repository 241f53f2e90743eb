#include "eval/Files.h"

#include <unistd.h>

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

std::string privateCopy(const std::string& path) {
    static int copies = 0;
    const std::string copy = "/tmp/kvo_copy_" + std::to_string(getpid()) + "_" + std::to_string(copies++) + "_" +
                             path.substr(path.find_last_of('/') + 1);
    std::ifstream src(path, std::ios::binary);
    std::ofstream dst(copy, std::ios::binary);
    dst << src.rdbuf();
    dst.close();
    if (!src || !dst) {
        unlink(copy.c_str());
        return std::string();
    }
    return copy;
}

}  // namespace eval
}  // namespace kvo

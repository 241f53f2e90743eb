#include "PendingFile.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "AppError.h"

namespace kvo {
namespace app {

std::string temporarySibling(const std::string& finalPath) {
    const size_t slash = finalPath.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "" : finalPath.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? finalPath : finalPath.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    const std::string stem = (dot == std::string::npos || dot == 0) ? name : name.substr(0, dot);
    const std::string ext = (dot == std::string::npos || dot == 0) ? "" : name.substr(dot);
    return dir + "." + stem + ".part-" + std::to_string(static_cast<long>(getpid())) + ext;
}

PendingFile::PendingFile(const std::string& finalPath) : final_(finalPath), temp_(temporarySibling(finalPath)) {
    if (finalPath.empty() || finalPath.back() == '/') throw AppError("bad output path '" + finalPath + "'");
    FILE* f = std::fopen(temp_.c_str(), "wb");
    if (f == nullptr) throw AppError("cannot write '" + final_ + "': " + std::strerror(errno));
    std::fclose(f);
}

PendingFile::~PendingFile() {
    if (!committed_) std::remove(temp_.c_str());
}

void PendingFile::commit() {
    if (std::rename(temp_.c_str(), final_.c_str()) != 0) {
        throw AppError("cannot write '" + final_ + "': " + std::strerror(errno));
    }
    committed_ = true;
}

}  // namespace app
}  // namespace kvo

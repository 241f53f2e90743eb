#include "OutputPaths.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>

#include "AppError.h"

namespace kvo {
namespace app {

namespace {

// The absolute path with links resolved; for a file that does not exist yet, its
// folder resolved and its name appended (as given when the folder is not there).
std::string resolved(const std::string& path) {
    char buf[PATH_MAX];
    if (realpath(path.c_str(), buf) != nullptr) return buf;
    const size_t slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (realpath(dir.c_str(), buf) == nullptr) return path;
    const std::string base = buf;
    return (base == "/" ? "" : base) + "/" + name;
}

bool sameFile(const std::string& a, const std::string& b) {
    if (resolved(a) == resolved(b)) return true;
    struct stat sa, sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::string folderOf(const std::string& path) {
    const std::string r = resolved(path);
    const size_t slash = r.find_last_of('/');
    return slash == std::string::npos ? "." : r.substr(0, slash);
}

// True for the names the frames are written under: frame_NNNNNN.png.
bool isFrameName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.size() != 16 || name.compare(0, 6, "frame_") != 0 || name.compare(12, 4, ".png") != 0) return false;
    for (size_t i = 6; i < 12; ++i) {
        if (name[i] < '0' || name[i] > '9') return false;
    }
    return true;
}

}  // namespace

void checkOutputPaths(const std::vector<NamedOutput>& outputs, const std::string& framesDir,
                      const std::vector<std::string>& inputs, const std::string& library) {
    for (size_t i = 0; i < outputs.size(); ++i) {
        const std::string& option = outputs[i].first;
        const std::string& path = outputs[i].second;
        struct stat st;
        if (stat(path.c_str(), &st) == 0) {
            if (S_ISDIR(st.st_mode)) throw AppError("cannot write " + option + " '" + path + "': it is a folder");
            if (!S_ISREG(st.st_mode)) throw AppError("cannot write " + option + " '" + path + "': it is not a regular file");
        }
        for (const std::string& input : inputs) {
            if (sameFile(path, input)) {
                throw AppError(option + " '" + path + "' names the input '" + input + "', which it would overwrite");
            }
        }
        if (sameFile(path, library)) throw AppError(option + " '" + path + "' names the library, which it would overwrite");
        for (size_t j = 0; j < i; ++j) {
            if (sameFile(path, outputs[j].second)) {
                throw AppError(outputs[j].first + " '" + outputs[j].second + "' and " + option + " '" + path +
                               "' name the same file; one would overwrite the other");
            }
        }
    }
    if (framesDir.empty()) return;
    struct stat st;
    if (stat(framesDir.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
        throw AppError("cannot write frames to '" + framesDir + "': not a folder");
    }
    const std::string frames = resolved(framesDir);
    for (const std::string& input : inputs) {
        if (isFrameName(input) && folderOf(input) == frames) {
            throw AppError("--frames-dir '" + framesDir + "' holds the input '" + input + "', which a frame would overwrite");
        }
    }
    for (const NamedOutput& o : outputs) {
        if (isFrameName(o.second) && folderOf(o.second) == frames) {
            throw AppError(o.first + " '" + o.second + "' is named like a frame of --frames-dir '" + framesDir + "'");
        }
    }
}

}  // namespace app
}  // namespace kvo

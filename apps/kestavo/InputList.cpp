#include "InputList.h"

#include <dirent.h>
#include <glob.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <opencv2/imgcodecs.hpp>

#include "AppError.h"

namespace kvo {
namespace app {

std::string lowerExtension(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string ext = path.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

namespace {

// The camera index of "camera:N" or "/dev/videoN", or -1.
int cameraIndex(const std::string& spec) {
    std::string digits;
    if (spec.compare(0, 7, "camera:") == 0) digits = spec.substr(7);
    else if (spec.compare(0, 10, "/dev/video") == 0) digits = spec.substr(10);
    else return -1;
    if (digits.empty() || digits.size() > 3) return -1;
    for (char c : digits) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return -1;
    }
    return std::atoi(digits.c_str());
}

void checkReadable(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) throw AppError("cannot read input '" + path + "': " + std::strerror(errno));
    std::fclose(f);
}

// The images a pattern matches, sorted (glob's own order).
std::vector<std::string> matchPattern(const std::string& spec) {
    std::vector<std::string> stills;
    glob_t g;
    std::memset(&g, 0, sizeof g);
    if (glob(spec.c_str(), 0, nullptr, &g) == 0) {
        for (size_t i = 0; i < g.gl_pathc; ++i) {
            if (hasImageExtension(g.gl_pathv[i])) stills.push_back(g.gl_pathv[i]);
        }
    }
    globfree(&g);
    if (stills.empty()) throw AppError("no images match '" + spec + "'");
    std::sort(stills.begin(), stills.end());
    return stills;
}

// The images of a folder (hidden files left out), sorted.
std::vector<std::string> listFolder(const std::string& spec) {
    std::vector<std::string> stills;
    DIR* dir = opendir(spec.c_str());
    if (dir == nullptr) throw AppError("cannot read folder '" + spec + "': " + std::strerror(errno));
    while (dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        if (name[0] != '.' && hasImageExtension(name)) stills.push_back(spec + "/" + name);
    }
    closedir(dir);
    if (stills.empty()) throw AppError("no images (.jpg, .png, ...) in folder '" + spec + "'");
    std::sort(stills.begin(), stills.end());
    return stills;
}

ResolvedInput resolveOne(const std::string& spec) {
    ResolvedInput in;
    in.spec = spec;
    struct stat st;
    const bool exists = stat(spec.c_str(), &st) == 0;
    const int camera = exists && !S_ISCHR(st.st_mode) ? -1 : cameraIndex(spec);
    if (camera >= 0) {
        in.kind = InputKind::Camera;
        in.camera = camera;
        return in;
    }
    if (!exists && spec.find_first_of("*?[") != std::string::npos) {
        in.stills = matchPattern(spec);
        return in;
    }
    if (!exists) throw AppError("input not found: '" + spec + "'");
    if (S_ISDIR(st.st_mode)) {
        in.stills = listFolder(spec);
        return in;
    }
    // A file named as an image is a picture of the run even when it cannot be opened:
    // the run skips it and says why. Any other file must be readable to tell what it is.
    if (hasImageExtension(spec)) {
        in.stills.push_back(spec);
        return in;
    }
    checkReadable(spec);
    if (cv::haveImageReader(spec)) {
        in.stills.push_back(spec);
    } else {
        in.kind = InputKind::Video;
    }
    return in;
}

const char* kindName(InputKind kind) { return kind == InputKind::Camera ? "camera" : "video"; }

}  // namespace

bool hasImageExtension(const std::string& path) {
    static const char* const kExtensions[] = {"jpg", "jpeg", "png", "bmp", "webp", "tif", "tiff", "pgm", "ppm", "pnm"};
    const std::string ext = lowerExtension(path);
    for (const char* e : kExtensions) {
        if (ext == e) return true;
    }
    return false;
}

std::vector<ResolvedInput> resolveInputs(const std::vector<std::string>& specs) {
    std::vector<ResolvedInput> inputs;
    inputs.reserve(specs.size());
    // Every input is looked at before any is decoded, so a missing one costs no work.
    for (const std::string& spec : specs) inputs.push_back(resolveOne(spec));
    if (inputs.size() < 2) return inputs;
    const ResolvedInput* single = nullptr;
    for (const ResolvedInput& in : inputs) {
        if (in.kind == InputKind::Stills) continue;
        if (single != nullptr) {
            throw AppError("more than one video or camera given: '" + single->spec + "' and '" + in.spec +
                           "'; give a video or a camera on its own");
        }
        single = &in;
    }
    if (single != nullptr) {
        const ResolvedInput& other = &inputs[0] == single ? inputs[1] : inputs[0];
        throw AppError(std::string("the ") + kindName(single->kind) + " '" + single->spec +
                       "' cannot be combined with other inputs ('" + other.spec +
                       "'); give a video or a camera on its own, or only images, folders and globs");
    }
    return inputs;
}

std::string describeInputs(const std::vector<std::string>& specs) {
    std::string s;
    for (const std::string& spec : specs) s += (s.empty() ? "" : ", ") + spec;
    return s;
}

}  // namespace app
}  // namespace kvo

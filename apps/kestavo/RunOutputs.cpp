#include "RunOutputs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <opencv2/imgcodecs.hpp>

#include "AppError.h"

namespace kvo {
namespace app {

RunOutputs::~RunOutputs() {
    if (done_) return;
    for (const std::string& path : committed_) std::remove(path.c_str());
    for (const std::string& path : frames_) std::remove(path.c_str());
    if (createdFolder_) rmdir(framesDir_.c_str());
}

PendingFile* RunOutputs::add(const std::string& path) {
    files_.emplace_back(new PendingFile(path));
    return files_.back().get();
}

void RunOutputs::makeFramesFolder(const std::string& dir) {
    framesDir_ = dir;
    struct stat st;
    if (stat(dir.c_str(), &st) != 0) {
        if (mkdir(dir.c_str(), 0777) != 0) throw AppError("cannot create folder '" + dir + "': " + std::strerror(errno));
        createdFolder_ = true;
    }
    if (access(dir.c_str(), W_OK) != 0) throw AppError("cannot write to folder '" + dir + "': " + std::strerror(errno));
}

void RunOutputs::writeFrame(const std::string& path, const cv::Mat& image) {
    PendingFile out(path);
    if (!cv::imwrite(out.tempPath(), image)) throw AppError("cannot write '" + path + "'");
    out.commit();
    frames_.push_back(path);
}

void RunOutputs::commitAll() {
    for (const std::unique_ptr<PendingFile>& f : files_) {
        f->commit();
        committed_.push_back(f->finalPath());
    }
    done_ = true;
}

}  // namespace app
}  // namespace kvo

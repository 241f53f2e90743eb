#pragma once
// The files a run writes, all or none.
//
// What it represents: the single-file outputs under their temporary names until
// commitAll(), and the PNG frames as they are written. Unless commitAll() succeeded, the
// destructor removes every one of them (and the frames folder when the run created it
// and it is left empty).
//
// Thread safety: none.
#include <memory>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "PendingFile.h"

namespace kvo {
namespace app {

class RunOutputs {
public:
    RunOutputs() = default;
    RunOutputs(const RunOutputs&) = delete;
    RunOutputs& operator=(const RunOutputs&) = delete;
    ~RunOutputs();
    PendingFile* add(const std::string& path);
    // Creates `dir` when missing. Throws AppError when it cannot be made or written.
    void makeFramesFolder(const std::string& dir);
    // Writes one PNG frame under a temporary name and renames it. Throws AppError.
    void writeFrame(const std::string& path, const cv::Mat& image);
    bool anyFrames() const { return !frames_.empty(); }
    // Renames every single-file output to its final name; on a failure, removes those
    // already renamed and throws.
    void commitAll();

private:
    std::vector<std::unique_ptr<PendingFile>> files_;
    std::vector<std::string> committed_, frames_;
    std::string framesDir_;
    bool createdFolder_ = false, done_ = false;
};

}  // namespace app
}  // namespace kvo

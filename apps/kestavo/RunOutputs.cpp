#include "RunOutputs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <opencv2/imgcodecs.hpp>

#include "AppError.h"
#include "OutputPaths.h"
#include "PosePlot.h"

namespace kvo {
namespace app {

RunWriters::RunWriters(const Options& o, const std::vector<std::string>& inputs, const std::string& library)
    : o_(o) {
    std::vector<NamedOutput> named;
    if (!o.video.empty()) named.emplace_back("--video", o.video);
    if (!o.jsonl.empty()) named.emplace_back("--jsonl", o.jsonl);
    if (!o.sheet.empty()) named.emplace_back("--sheet", o.sheet);
    if (!o.plot.empty()) named.emplace_back("--plot", o.plot);
    checkOutputPaths(named, o.framesDir, inputs, library);
    if (!o.video.empty()) videoFile_ = add(o.video);
    if (!o.jsonl.empty()) jsonFile_ = add(o.jsonl);
    if (!o.sheet.empty()) sheetFile_ = add(o.sheet);
    if (!o.plot.empty()) plotFile_ = add(o.plot);
    if (o.framesDir.empty()) return;
    const std::string& dir = o.framesDir;
    struct stat st;
    if (stat(dir.c_str(), &st) != 0) {
        if (mkdir(dir.c_str(), 0777) != 0) throw AppError("cannot create folder '" + dir + "': " + std::strerror(errno));
        createdFolder_ = true;
    }
    if (access(dir.c_str(), W_OK) != 0) {
        const std::string why = std::strerror(errno);
        if (createdFolder_) rmdir(dir.c_str());  // the destructor does not run for a constructor that throws
        throw AppError("cannot write to folder '" + dir + "': " + why);
    }
}

PendingFile* RunWriters::add(const std::string& path) {
    files_.emplace_back(new PendingFile(path));
    return files_.back().get();
}

RunWriters::~RunWriters() {
    // Unfinished: close what is open, then remove what is written; the temporary files
    // go with their PendingFile.
    video_.release();
    json_.reset();
    if (done_) return;
    for (const std::string& path : committed_) std::remove(path.c_str());
    for (const std::string& path : frames_) std::remove(path.c_str());
    if (createdFolder_) rmdir(o_.framesDir.c_str());
}

void RunWriters::open(int fourcc, double fps, cv::Size size, const std::function<ContactSheet*()>& makeSheet) {
    if (videoFile_ &&
        (!video_.open(videoFile_->tempPath(), cv::CAP_FFMPEG, fourcc, fps, size) || !video_.isOpened())) {
        throw AppError("cannot write '" + o_.video + "': the video encoder refused it");
    }
    if (jsonFile_) json_.reset(new JsonLinesWriter(jsonFile_->tempPath(), o_.candideVertices));
    if (sheetFile_) sheet_.reset(makeSheet());
}

bool RunWriters::wantsDrawing(long index) const {
    return video_.isOpened() || (!o_.framesDir.empty() && index % o_.every == 0) || (sheet_ && sheet_->wants(index));
}

void RunWriters::offer(long index, const cv::Mat& annotated, const cv::Mat& videoFrame, const cv::Mat& sheetTile) {
    if (video_.isOpened()) video_.write(videoFrame);
    if (!o_.framesDir.empty() && index % o_.every == 0) {
        char name[32];
        std::snprintf(name, sizeof name, "/frame_%06ld.png", index);
        const std::string path = o_.framesDir + name;
        PendingFile out(path);
        if (!cv::imwrite(out.tempPath(), annotated)) throw AppError("cannot write '" + path + "'");
        out.commit();
        frames_.push_back(path);
    }
    if (sheet_) sheet_->offer(index, sheetTile);
}

std::string RunWriters::finish(const RunStats& stats, const std::string& title) {
    // Everything is written under the temporary names first, then renamed at once.
    std::string written;
    auto note = [&](const std::string& path) { written += (written.empty() ? "" : ", ") + path; };
    if (json_) {
        json_->close();
        note(o_.jsonl);
    }
    if (videoFile_) {
        video_.release();
        note(o_.video);
    }
    if (sheetFile_) {
        if (!cv::imwrite(sheetFile_->tempPath(), sheet_->render())) throw AppError("cannot write '" + o_.sheet + "'");
        note(o_.sheet);
    }
    if (plotFile_) {
        if (!cv::imwrite(plotFile_->tempPath(), renderPlot(stats, title))) throw AppError("cannot write '" + o_.plot + "'");
        note(o_.plot);
    }
    for (const std::unique_ptr<PendingFile>& f : files_) {
        f->commit();
        committed_.push_back(f->finalPath());
    }
    done_ = true;
    if (!frames_.empty()) note(o_.framesDir + "/frame_*.png");
    return written;
}

}  // namespace app
}  // namespace kvo

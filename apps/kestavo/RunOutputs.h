#pragma once
// The files a run writes, all or none, and the outputs that write them.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include "ContactSheet.h"
#include "JsonLinesWriter.h"
#include "Options.h"
#include "PendingFile.h"
#include "RunStats.h"

namespace kvo {
namespace app {

// The outputs of one run as the user named them: checked, opened before the first frame,
// fed frame by frame, and written and renamed together at the end.
//
// What it represents: the video writer, the JSON Lines, the contact sheet, the plot and
// the PNG frames of a run. The constructor checks every name against the inputs, the
// library and each other and opens each single-file output under its temporary name
// (PendingFile); finish() writes the sheet and plot and renames everything. Without
// finish() (an error, or nothing processed) the destructor leaves nothing behind: it
// removes every output (those already renamed by a finish() that failed too), the PNG
// frames, and the frames folder when the run created it and it is left empty.
//
// Thread safety: none.
class RunWriters {
public:
    // Requires: `options` outlives this. Throws AppError on a refused name or an output
    // that cannot be opened.
    RunWriters(const Options& options, const std::vector<std::string>& inputs, const std::string& library);
    ~RunWriters();
    RunWriters(const RunWriters&) = delete;
    RunWriters& operator=(const RunWriters&) = delete;

    // Opens the video output, when named, for frames of `size` (fourcc as --video's name
    // asks). Then the JSON Lines (when named) and the sheet (when named: `sheet` is made
    // only then).
    void open(int fourcc, double fps, cv::Size size, const std::function<ContactSheet*()>& makeSheet);

    JsonLinesWriter* json() { return json_.get(); }
    // Whether frame `index` is drawn for any output (video, PNG frame, sheet tile).
    bool wantsDrawing(long index) const;
    // Hands the annotated frame to the outputs that want it; the video gets `videoFrame`
    // (the same image unless the caller fits it to the video's size).
    void offer(long index, const cv::Mat& annotated, const cv::Mat& videoFrame, const cv::Mat& sheetTile);
    // Writes the sheet and the plot (titled `title`), closes and renames every output.
    // Returns the names written, comma-separated. Throws AppError on a failed write.
    std::string finish(const RunStats& stats, const std::string& title);

private:
    PendingFile* add(const std::string& path);

    const Options& o_;
    std::vector<std::unique_ptr<PendingFile>> files_;
    std::vector<std::string> committed_, frames_;  // renamed outputs; PNG frames written
    bool createdFolder_ = false, done_ = false;
    PendingFile *videoFile_ = nullptr, *jsonFile_ = nullptr, *sheetFile_ = nullptr, *plotFile_ = nullptr;
    cv::VideoWriter video_;
    std::unique_ptr<JsonLinesWriter> json_;
    std::unique_ptr<ContactSheet> sheet_;
};

}  // namespace app
}  // namespace kvo

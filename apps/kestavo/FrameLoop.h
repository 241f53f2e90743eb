#pragma once
// The frame loop of every run: one frame or picture at a time through the tracker and
// into the outputs, whatever the input.
//
// What it represents: the driving all runs share. A FrameKind knows its input (video and
// camera frames, points tracked over frames, still pictures each a scene of its own): how
// the next item is read, given to the tracker, recorded and drawn, and what its summary
// states. runFrames() steps it while items last, up to --max-frames and until a stop is
// requested, shows the progress, hands the outputs the drawings they want, times the
// run, writes the outputs and prints the summary unless --quiet.
//
// Thread safety: none.
#include <csignal>
#include <string>

#include <opencv2/core.hpp>

#include "JsonLinesWriter.h"
#include "Options.h"
#include "RunOutputs.h"
#include "RunStats.h"

namespace kvo {
namespace app {

// One item drawn for the outputs: the PNG frame, the video's frame and the sheet's tile.
struct Drawing {
    cv::Mat annotated, videoFrame, sheetTile;
};

class FrameKind {
public:
    virtual ~FrameKind() = default;
    // Takes the next frame or picture; false at the end of the input.
    virtual bool next() = 0;
    // Gives item `index` to the tracker and records what came of it in `stats` and, when
    // it is written, the JSON Lines. Returns whether there is anything to draw.
    virtual bool feed(long index, RunStats& stats, JsonLinesWriter* json) = 0;
    virtual Drawing draw(long index) = 0;
    // Called when the item is done, drawn and counted.
    virtual void done() {}
    // The plot's title for a run over `count` items.
    virtual std::string title(const RunStats& stats, long count) const = 0;
    // The summary between its first line and the files written, after `count` items
    // in `seconds` (the loop's time, outputs included).
    virtual void printSummary(const RunStats& stats, long count, double seconds) const = 0;
};

// Runs `kind` into `outputs` (opened) with at most `expected` items foreseen (-1:
// unknown). Returns the exit status: 0, or 130 when stopped by `stopRequested`.
// Throws AppError on an output that cannot be written.
int runFrames(FrameKind& kind, RunWriters& outputs, const Options& options, long expected,
              const volatile std::sig_atomic_t& stopRequested);

}  // namespace app
}  // namespace kvo

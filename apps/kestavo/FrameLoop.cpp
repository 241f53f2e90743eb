#include "FrameLoop.h"

#include <chrono>
#include <cstdio>

#include "Progress.h"

namespace kvo {
namespace app {

int runFrames(FrameKind& kind, RunWriters& outputs, const Options& o, long expected,
              const volatile std::sig_atomic_t& stopRequested) {
    RunStats stats(expected);
    Progress progress(o.progress, expected);
    const auto start = std::chrono::steady_clock::now();
    long index = 0;
    while (!stopRequested && (!o.maxFrames || index < *o.maxFrames) && kind.next()) {
        if (kind.feed(index, stats, outputs.json()) && outputs.wantsDrawing(index)) {
            const Drawing d = kind.draw(index);
            outputs.offer(index, d.annotated, d.videoFrame, d.sheetTile);
        }
        ++index;
        progress.update(index);
        kind.done();
    }
    progress.finish();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const bool interrupted = stopRequested != 0;
    // Nothing done, nothing written: the outputs remove their temporary files.
    const std::string written = index > 0 ? outputs.finish(stats, kind.title(stats, index)) : "";
    if (!o.quiet) {
        std::printf("kestavo summary%s\n", interrupted ? " (interrupted)" : "");
        kind.printSummary(stats, index, seconds);
        std::printf("  wrote:       %s\n", written.empty() ? "no files" : written.c_str());
        std::fflush(stdout);
    }
    return interrupted ? 130 : 0;
}

}  // namespace app
}  // namespace kvo

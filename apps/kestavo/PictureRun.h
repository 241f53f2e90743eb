#pragma once
// A run over still pictures, each a scene of its own: the loop, its outputs and its
// summary.
//
// What it represents: kestavo's handling of the stills of its inputs (images, folders,
// globs) in tracking or detection mode. Every picture is tracked with the still settings
// (StillTracking.h) at its own size; the JSON Lines hold one record per picture, the
// contact sheet one tile per picture (up to --sheet-tiles when given), the video one
// frame per picture, and the summary names the pictures in which no face was tracked.
// A picture that cannot be read or decoded counts among the pictures: it gets a record
// with outcome "unreadable" and the reason, no tile and no video frame, and the summary
// names it with the reason, so that tracked, not found, rejected and skipped add up.
//
// Thread safety: none.
#include <csignal>
#include <string>

#include "FrameSource.h"
#include "Options.h"
#include "StillTracking.h"

namespace kvo {
namespace app {

// The still settings with the user's options applied: --picture-side, --border,
// --repeat (kvo_update calls per picture after the start from the eyes)
// and any detector option given (the others keep the still values).
StillSettings stillSettingsFor(const Options& options);

// Runs every picture of `source` (isStills()), writing the video output, if any, with
// `videoFourcc`. Returns the exit status: 0, or 130 when stopped by `stopRequested`.
// Throws AppError on an output that cannot be written.
int runPictures(const Options& options, FrameSource& source, const std::string& library, int videoFourcc,
                const volatile std::sig_atomic_t& stopRequested);

}  // namespace app
}  // namespace kvo

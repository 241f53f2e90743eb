#pragma once
// Group pictures made from held-out faces: does kestavo find every face of a large
// picture, from 40 to 400 pixels wide, and fit it as well as the same face given alone?
//
// What it represents: the measurement of finding and re-framing on pictures whose every
// face has hand-placed points. The 300-W validation faces are taken ten at a time; each
// crop is scaled so that its face (the hand-placed points' width) is one of ten widths
// spread evenly on a log scale from 40 to 400 px, and pasted into its cell of a 4 x 3
// grid on a 4000 x 3000 gradient (12 MP; the crops' positions jittered inside the cells
// from a fixed seed). Each picture goes through trackPicture() as kestavo runs it; a face
// is found when a tracked shape has its centre inside the face's point extent, and its
// error is that shape's (the nearest such) on the 17 core points divided by the
// hand-placed outer-eye distance. The same scaled crop alone, as a photo of its own,
// gives the face's error alone. Both sets of errors are summarised over the faces found
// in both, beside the share found and the time per group picture.
//
// Thread safety: none.
#include <cstdio>
#include <string>

#include "StillEvalRun.h"

namespace kvo {
namespace app {

// Returns the exit status (0; 1 when the folder cannot be read).
// Uses run's settings, library, refine, training and perFace (one line per pasted face);
// `keepPicture`, when not empty, names where the first group picture is written.
int pastedGroups(const StillEvalRun& run, const std::string& faces300wDir, const std::string& keepPicture);

}  // namespace app
}  // namespace kvo

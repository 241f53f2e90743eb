#pragma once
// The distinct faces among a picture's detector windows, strongest first.
//
// What it represents: the rule kestavo uses to turn every window the detector accepted in
// a picture (several scans: the whole picture and tiles at finer scales) into face
// candidates. Within one scan, the strongest group of windows (WindowGroups.h) is a face;
// its windows, and every window centred inside it, are taken out and the next strongest
// group of what is left is the next face, while a group still has the fewest windows a
// face needs. Across scans, a candidate that overlaps a stronger one (intersection over
// union above kSameFaceOverlap, or one's centre inside the other's box) is the same face,
// or part of it, and is dropped. A part of a face (the mouth and nose, say) can gather more
// windows than the face: when the weaker is more than 1.5 times wider, holds the
// stronger's centre and scores at least half as much, it is the face, and the candidate
// takes its box. (Taking the wider box whatever its score lost faces: a weak group around
// a face, wider than it, then replaced the face's own box.)
//
// Score: the group's weighted count of windows (WindowGroup::score), which counts
// windows of every size alike, so the scores of scans at different scales compare; the
// caller weights it for the scan's window step (a coarser step tries fewer positions).
//
// Thread safety: pure functions.
#include <vector>

#include "HostTracker.h"
#include "WindowGroups.h"

namespace kvo {
namespace app {

// Two faces overlapping by more than this intersection over union are one.
const double kSameFaceOverlap = 0.3;

struct FaceCandidate {
    Box face;          // pixels of the picture
    double score = 0;  // the window group's weighted count
    int windows = 0;   // raw windows in the group
};

// Requires: boxes with positive widths; minWindows >= 1.
// Ensures: the distinct groups of `raw` with at least `minWindows` windows, strongest
// first; no window counts towards two groups.
std::vector<WindowGroup> distinctGroups(std::vector<Box> raw, int minWindows);

// Intersection over union of two boxes (0 when either is empty).
double overlap(const Box& a, const Box& b);

// Requires: candidates with positive widths.
// Ensures: `candidates` sorted by score, strongest first, with every candidate that is the
// same face as a stronger one removed.
void keepDistinct(std::vector<FaceCandidate>& candidates);

}  // namespace app
}  // namespace kvo

#pragma once
// The labels file that the shape-model trainer reads.
//
// What it represents: plain text, one line per labelled face:
//   <source>\t<frame>\t<x0> <y0> <x1> <y1> ... <x67> <y67>\n
// `source` is the media file's path relative to the media root, `frame` the 0-based
// video frame index or -1 for a still image, coordinates in that image's own pixels
// (original resolution, x right, y down) printed with "%.3f". Lines are sorted by source
// (byte order), then frame, then the face's detection box (left, then top), so the same
// input always gives the same file byte for byte.
//
// Thread safety: plain values and free functions; no shared state.
#include <string>
#include <vector>

#include "LandmarkSchemes.h"

namespace kvo {
namespace labeller {

struct FaceLabel {
    std::string source;
    int frame = -1;
    long boxLeft = 0;  // detection box, pixels; orders several faces of one image
    long boxTop = 0;
    Shape68 points{};
};

// Ensures: one line in the format above, ending in '\n'.
std::string formatLabel(const FaceLabel& label);

// Parses a line written by formatLabel (box fields are not stored and come back 0).
// Ensures: returns false on any malformed line (wrong field count, bad number).
bool parseLabel(const std::string& line, FaceLabel& label);

// Sorts labels into file order (source, frame, box left, box top).
void sortLabels(std::vector<FaceLabel>& labels);

}  // namespace labeller
}  // namespace kvo

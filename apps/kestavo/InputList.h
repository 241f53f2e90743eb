#pragma once
// The inputs named on the command line, each resolved to what it holds.
//
// What it represents: the user's input arguments in the order given, each one a camera
// ("camera:N", /dev/videoN), a video file, or a list of still files: an image, the
// images of a folder, or those a quoted glob matches (each list in sorted order). An
// existing path is taken as given, whatever characters its name holds; only a name that
// does not exist and holds * ? or [ is a pattern. Nothing is decoded here: a file is a
// still by its image extension or by what OpenCV reads from its header, else a video.
//
// Thread safety: pure functions (they read the file system).
#include <string>
#include <vector>

namespace kvo {
namespace app {

enum class InputKind { Camera, Video, Stills };

struct ResolvedInput {
    std::string spec;                 // as the user gave it
    InputKind kind = InputKind::Stills;
    int camera = -1;                  // Camera: the device index
    std::vector<std::string> stills;  // Stills: the files, sorted within this input
};

// Requires: `specs` non-empty. Ensures: every input exists and holds something to read,
// and a video or a camera is the only input. Throws AppError, naming the input, on the
// first one that does not exist, is an unreadable folder or file that is no image, is an
// empty folder or a pattern that matches no image; then on a video or camera given with
// any other input.
std::vector<ResolvedInput> resolveInputs(const std::vector<std::string>& specs);

// The inputs as the summary names them: the specs joined with ", ".
std::string describeInputs(const std::vector<std::string>& specs);

// True when the name ends in an image extension (.jpg, .png, ...; any case).
bool hasImageExtension(const std::string& path);
// The name's extension in lower case, without the dot; empty when it has none.
std::string lowerExtension(const std::string& path);

}  // namespace app
}  // namespace kvo

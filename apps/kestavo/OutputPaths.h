#pragma once
// Checks on the output names of a run, made before anything is written.
//
// What it represents: the rule that a run never overwrites what it reads or another
// of its own outputs, and never finds out at its end that an output cannot be
// written. Two names are the same file when they resolve to one path (links and "./"
// followed) or name one existing file (hard links).
//
// Thread safety: pure functions (they read the file system).
#include <string>
#include <utility>
#include <vector>

namespace kvo {
namespace app {

// One output: the option that names it and its path.
using NamedOutput = std::pair<std::string, std::string>;

// Throws AppError when an output path names an existing folder or other non-file,
// one of `inputs` (the files read), the library, or another output; when `framesDir`
// (may be empty) names an existing non-folder or holds an input the frames would
// replace.
void checkOutputPaths(const std::vector<NamedOutput>& outputs, const std::string& framesDir,
                      const std::vector<std::string>& inputs, const std::string& library);

}  // namespace app
}  // namespace kvo

#pragma once
// Files the tools and benchmarks read: a whole file's bytes, and where the system keeps
// dlib's 68-point landmark predictor (Debian's dlib model package); and private copies of
// a file, for loading a shared library afresh.
//
// Thread safety: readFile touches only its arguments; callable from any thread.
// privateCopy counts its copies in a process-wide counter: call it from one thread.
#include <string>

namespace kvo {
namespace eval {

// dlib's 68-point shape predictor, as the tools, programs and benchmarks that run dlib
// beside the library load it.
constexpr const char* DLIB_SHAPE_PREDICTOR = "/usr/share/dlib/shape_predictor_68_face_landmarks.dat";

// Ensures: true with `bytes` the whole content of `path` (binary); false when the file
// cannot be opened or reading it fails (`bytes` then holds what was read, maybe nothing).
bool readFile(const std::string& path, std::string& bytes);

// The whole content of `path`; empty when it cannot be read (or is empty).
std::string readFile(const std::string& path);

// Copies the file `path` to a new file in /tmp named after this process and a count, and
// returns the copy's path; empty when the copy could not be written. What it is for: the
// loader hands out again a library it has loaded once for the same path, so a host that
// wants a library with fresh statics (a tracker not yet initialised) loads its own copy.
// The caller removes the copy when done (a loaded library stays mapped after unlink).
std::string privateCopy(const std::string& path);

}  // namespace eval
}  // namespace kvo

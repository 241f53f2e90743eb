#pragma once
// Diagnostic line writers.
//
// What it represents: the library's only output channel. Every message the library
// emits goes to the process's standard output, one line per call, flushed at once so
// that it interleaves correctly with the host's own output.
//
// Thread safety: call only from the host's calling thread (worker threads never
// report); the standard output stream is shared with the host.
#include <string>

namespace kvo {

// Writes `s` and a line end to standard output, then flushes.
void trace(const std::string& s);

// Writes "Error: ", then `s` and a line end to standard output, then flushes.
void Err(const std::string& s);

}  // namespace kvo

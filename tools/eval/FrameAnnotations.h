#pragma once
// Hand-checked 68-point shapes of video frames, in our own layout.
//
// What it represents: the reference shapes a tracked video is scored against. The text
// form has one line per annotated frame: the frame number (0-based, the video's own
// numbering) and then 136 numbers x0 y0 x1 y1 ... x67 y67, pixel coordinates of that frame
// (origin top-left, pixel centres), separated by white space. Blank lines are skipped.
// The annotations are research data: tools read them from the folder given on their
// command line and never copy them.
//
// Thread safety: plain functions and values.
#include <istream>
#include <map>
#include <string>
#include <vector>

namespace kvo {
namespace eval {

// frame number -> 136 coordinates
using FrameShapes = std::map<int, std::vector<double>>;

// Reads the lines of `in` into `out` (added to what it holds). Requires nothing of `in`.
// Ensures: on false, `error` names the line (`source`:line) and the fault: a frame
// number that is not a non-negative integer, a count of coordinates other than 136, a
// coordinate that is not a finite number, or a frame given twice; `out` then holds the
// lines before it.
bool readFrameAnnotations(std::istream& in, const std::string& source, FrameShapes& out, std::string& error);

// Reads every `*.txt` file of the folder `dir` (in name order) into `out`. False, with
// `error`, when the folder cannot be read, holds no such file, or a file is malformed.
bool readFrameAnnotationsDir(const std::string& dir, FrameShapes& out, std::string& error);

}  // namespace eval
}  // namespace kvo

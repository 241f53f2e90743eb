#pragma once
// The 300-W training faces: square crops with hand-placed 68 points in dlib's (iBUG)
// layout, one `<name>.jpg` and `<name>.pts` per face, in a folder given on the command
// line (the images are for research use only and never part of the repository).
//
// What it represents: the folder's face list in a fixed order (sorted by name), its fixed
// validation split (every 10th face of that order, starting with the 10th), the .pts
// reader (1-based pixel coordinates in the file, 0-based pixel centres out) and the
// conversion of a hand-placed shape into our layout by the labeller's rules.
//
// Thread safety: plain functions and values; the converter is immutable once built and
// may be used from several threads.
#include <memory>
#include <string>
#include <vector>

#include "MuctShapes.h"

namespace kvo {
namespace labeller {
class DlibLayoutConverter;
class PointShapeModel;
}  // namespace labeller

namespace trainer {

struct Face300W {
    std::string name;   // file stem, e.g. "afw_1051618982_1"
    ShapeVec dlib;      // 136: dlib's layout, 0-based pixels (x right, y down)
    bool validation = false;
};

// Every 10th face by sorted name (indices 9, 19, ...) is held out for validation.
constexpr int VALIDATION_EVERY = 10;
inline bool isValidationIndex(size_t sortedIndex) { return sortedIndex % VALIDATION_EVERY == VALIDATION_EVERY - 1; }

// Reads a .pts file ("version: 1", "n_points: 68", "{", 68 lines "x y", "}").
// Ensures: on success `dlib` holds 136 values with 1 subtracted from every coordinate;
// returns false with `error` set on a missing file, a wrong point count or bad numbers.
bool readPts(const std::string& path, ShapeVec& dlib, std::string& error);

// Lists the faces of `dir` (stems that have both a .jpg and a .pts), sorted by name, with
// their points and split flag. Faces whose .pts cannot be read are reported on stderr and
// skipped, but keep their place in the order, so the split does not depend on them.
// Ensures: returns false with `error` set if the folder cannot be read or holds no face.
bool listFaces300W(const std::string& dir, std::vector<Face300W>& faces, std::string& error);

// Converts dlib-layout shapes to our layout as the labeller does: shared points directly,
// outlines resampled, the points dlib's layout lacks filled by a shape model of the MUCT
// shapes (98 % of the variance).
class Converter300W {
public:
    // Requires: the MUCT shape CSV. Ensures: ok() false with error() set if it cannot be
    // read or the model cannot be built.
    explicit Converter300W(const std::string& muctCsv);
    ~Converter300W();
    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }
    // Ensures: `ours` holds 136 values in our layout; false if the points are degenerate.
    bool convert(const ShapeVec& dlib, ShapeVec& ours) const;

private:
    std::unique_ptr<labeller::PointShapeModel> model_;
    std::unique_ptr<labeller::DlibLayoutConverter> converter_;
    bool ok_ = false;
    std::string error_;
};

}  // namespace trainer
}  // namespace kvo

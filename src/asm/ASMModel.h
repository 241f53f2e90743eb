#pragma once
// The 68-landmark active shape model.
//
// What it represents: the statistical shape model (eigenvectors of the shape vector
// (x0, y0, x1, y1, ...) and the mean shape at level 0) and one ASMLevel per level of
// the shape-search pyramid with that level's profile models and search parameters.
// The model is read from a JSON document (the embedded model at tracker start-up).
// A document that does not parse, lacks a required part or is internally
// inconsistent is reported with one "Error: ..." line and leaves the model empty:
// `loaded()` then returns false and the tracker must not search with it.
//
// Coordinates are those of the local search frame: origin at the centre of the
// 480 x 480 search frame, x right, y up, in level-0 pixels.
//
// Thread safety: loaded once on the tracker's thread; read-only afterwards, except
// the levels' `profWork` vectors, which the search workers write per landmark.
#include <memory>
#include <string>
#include <vector>

#include <rapidjson/document.h>

#include "asm/ASMLevel.h"
#include "asm/ASMModelConfig.h"
#include "math/NumberMat.h"
#include "math/ShapeMat.h"

namespace kvo {

class ImageData;
class ImageDataInt;
class ImageDataManager;

class ASMModel {
public:
    // Third element of the first row of a distance matrix in compact form.
    static constexpr double SPARSE_SYMMETRIC = -9999.0;

    // Length of the 1-D matcher's derivative buffer (doubles). A 1-D profile of
    // length L is accepted only when L + 2 * nPixSearch fits into it.
    static constexpr int PROFILE_BUFFER_LENGTH = 50;

    // Ensures: three empty matrices and no levels.
    ASMModel();

    // Decodes the embedded shape model and reads it with readASM(text, config,
    // images, false). An empty embedded text is reported and leaves the model empty.
    // Requires: images.initASM() has run (the levels keep pointers to its images).
    void init(ASMModelConfig& config, ImageDataManager& images);

    // Parses `text` (a zero-terminated JSON document) and builds the levels. Writes
    // config.nEigs when it is -1 or below 1. With `verbose`, traces the derived
    // per-level parameters. Problems are reported through kvo::Err; a document that
    // cannot be used leaves the model empty (loaded() false).
    void readASM(const char* text, ASMModelConfig& config, ImageDataManager& images,
                 bool verbose);

    // Builds one level from a level object holding "ProfSpecs", "Profs" and
    // "Covars". Requires: the object has been checked by the loader (three arrays of
    // equal length, numeric profiles, well-formed matrices).
    std::shared_ptr<ASMLevel> readASMLevel(const rapidjson::Value& value, int level,
                                           ImageData& image, ImageDataInt& gradient);

    // Resolves an eigenvector count: `configured`, or `fallback` when configured is 0.
    // Reports a result <= 0 or > limit, and returns it unchanged.
    int assignNumEigs(int configured, int fallback, int limit, const std::string& name,
                      int level);

    // True when a usable model is loaded (at least one level).
    bool loaded() const { return !levels.empty(); }

    // Ensures: the empty state of a freshly constructed model.
    void clear();

    NumberMat eigVecs;   // 2n x 2n, one eigenvector per column
    NumberMat eigVecsT;  // its transpose
    ShapeMat meanShape;  // n x 2, mean shape at level 0
    std::vector<std::shared_ptr<ASMLevel> > levels;  // index = level number

private:
    // Returns why the built model cannot be searched safely (sizes that disagree
    // with the landmark count, profiles too long for the search buffer, distance
    // matrices smaller than their profiles), or "" when it can.
    std::string checkUsable(const ASMModelConfig& config) const;
};

}  // namespace kvo

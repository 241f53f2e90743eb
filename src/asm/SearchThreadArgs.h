#pragma once
// The argument record of one profile-matching worker of the shape search.
//
// What it represents: everything one worker needs to move the landmarks
// [first, last) of the current shape to their best profile matches: the shapes, the
// level being searched, the landmark table, the search ranges copied from the
// configuration, and the worker's own profile scratch. The search builds one record per
// worker when it initialises and sets `level` before every start.
//
// Thread safety: a record belongs to one worker while it runs; the search writes it
// only while no worker is running.
#include <cstdint>

#include "asm/ASMLevel.h"
#include "asm/FaceLandmarks.h"
#include "asm/Profiles.h"
#include "math/ShapeMat.h"

namespace kvo {

struct SearchThreadArgs {
    ShapeMat* suggested = nullptr;       // output rows [first, last)
    ShapeMat* shape = nullptr;           // current shape, read only
    ASMLevel* level = nullptr;           // level being searched
    LandmarkTable* landmarks = nullptr;  // whisker neighbours
    int32_t nPixSearch = 0;              // 1-D search range on each side (whisker steps)
    int32_t nPixSearch2d = 0;            // 2-D search range on each side (pixels)
    double sigmoidScale = 0.0;           // equalisation constant of 2-D profiles
    bool useLandmarkNeighbours = false;  // whisker neighbours from `landmarks`
    int32_t first = 0;                   // first landmark of this worker
    int32_t last = 0;                    // one past the last landmark
    Profiles* profiles = nullptr;        // this worker's own profile scratch
};

}  // namespace kvo

#pragma once
// Tuning values of the active shape model: how the model file is read and how the
// multi-resolution profile search uses it.
//
// What it represents: one plain record owned by the shape search next to its model.
// The tracker constructs it with the defaults below and never changes it; the model
// loader rewrites `nEigs` when it is -1 or below 1 (see ASMModel::readASM).
//
// Thread safety: a plain value, written only during model loading on the tracker's
// thread and read-only afterwards.
#include <cstdint>

namespace kvo {

struct ASMModelConfig {
    double pyrRatio = 2.0;            // size ratio between neighbouring pyramid levels
    int32_t maxGradientLevel = 2;     // highest level whose gradient image is refreshed
    int32_t trackingLevels = 3;       // levels searched from once the start phase is over
    int32_t startFrames = 5;          // searches after a fresh start that form the start phase
    double sigmoidScale = 1000.0;     // equalisation constant of 2-D profiles
    bool useLandmarkNeighbours = true;  // whisker direction from the landmark table
    double initScale = 0.85;          // mean-shape scale inside a detected face rectangle
    int32_t refWidth = 180;           // face width in the normalised search frame (pixels)
    int32_t numLevels = 4;            // model levels to load (level objects 0 ... numLevels-1)
    int32_t nPixSearch = 3;           // 1-D search range on each side (whisker steps)
    int32_t nPixSearch2d = 1;         // 2-D search range on each side (pixels)
    int32_t nLandmarks = 68;          // landmarks the model must have
    bool fXm2vts = true;              // landmarks follow the landmark table; build it at load
    bool fMe17 = false;               // only checked for consistency with fXm2vts
    int32_t nEigs = 11;               // eigenvectors above level 0; -1: derive from the model
    int32_t nEigsLev0 = 11;           // level 0 with 1-D profiles only; 0: use nEigs
    int32_t nEigs2dLev0 = 11;         // level 0 with 2-D profiles; 0: use nEigs
    int32_t nEigsFinal = 7;           // last iteration of a level; 0: the level's nEigs
    double BMax = 4.0;                // parameter limit in standard deviations
    double BMaxLev0 = 5.0;            // level 0 (1-D), used only when nEigsLev0 != 0
    double BMax2dLev0 = 5.0;          // level 0 (2-D), used only when nEigs2dLev0 != 0
    double BMaxFinal = 12.0;          // last iteration of a level; 0.0: use BMax
    int32_t nMaxSearchIters = 4;      // iterations per level with 1-D profiles only
    int32_t nMaxSearchIters2d = 2;    // iterations per level with any 2-D profile
    int32_t nQualifyingDisp = 100;    // carried into the level and printed; not consulted
    int32_t nQualifyingDisp2d = 100;  // the same for levels with 2-D profiles
};

}  // namespace kvo

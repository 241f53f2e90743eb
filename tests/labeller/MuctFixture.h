#pragma once
// Loads the MUCT shapes once per test program and builds shape models from them.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "PointShapeModel.h"

namespace kvo {
namespace labeller {
namespace test {

inline const std::vector<MuctShape>& muctShapes() {
    static std::vector<MuctShape> shapes;
    static bool loaded = false;
    if (!loaded) {
        std::string error;
        loaded = loadMuctShapes(KVO_MUCT_SHAPES, shapes, error);
        if (!loaded) ADD_FAILURE() << error;
    }
    return shapes;
}

inline bool isComplete(const MuctShape& m) {
    for (bool p : m.present)
        if (!p) return false;
    return true;
}

// MUCT names are "i<subject><...>" or, for mirrored copies, "ir<subject><...>".
inline int subjectOf(const MuctShape& m) {
    const size_t start = m.name.compare(0, 2, "ir") == 0 ? 2 : 1;
    return std::stoi(m.name.substr(start, 3));
}

// The model the tool uses: every complete shape, 98 % of the variance.
inline const PointShapeModel& fullModel() {
    static PointShapeModel model;
    if (!model.built()) {
        std::vector<Shape68> complete;
        for (const auto& m : muctShapes())
            if (isComplete(m)) complete.push_back(m.points);
        std::string error;
        if (!model.build(complete, OURS_PARTNER, 0.98, error)) ADD_FAILURE() << error;
    }
    return model;
}

}  // namespace test
}  // namespace labeller
}  // namespace kvo

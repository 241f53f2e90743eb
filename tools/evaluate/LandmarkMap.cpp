#include "LandmarkMap.h"

#include <cmath>

namespace kvoeval {

const std::vector<std::string>& landmarkGroups() {
    static const std::vector<std::string> groups = {"jaw ends and chin", "brow ends", "eye corners",
                                                    "nose", "outer lips"};
    return groups;
}

const std::vector<LandmarkPair>& landmarkPairs() {
    static const std::vector<LandmarkPair> pairs = {
        // jaw: the two ends at the temples and the chin
        {0, 0, 0}, {7, 8, 0}, {14, 16, 0},
        // brows: outer and inner ends, image-left then image-right
        {21, 17, 1}, {24, 21, 1}, {18, 22, 1}, {15, 26, 1},
        // eyes: outer and inner corners
        {27, 36, 2}, {29, 39, 2}, {34, 42, 2}, {32, 45, 2},
        // nose: tip and base centre
        {67, 30, 3}, {41, 33, 3},
        // outer lips: both layouts run 48 (left corner) ... 54 (right corner) ... 59
        {48, 48, 4}, {49, 49, 4}, {50, 50, 4}, {51, 51, 4}, {52, 52, 4}, {53, 53, 4},
        {54, 54, 4}, {55, 55, 4}, {56, 56, 4}, {57, 57, 4}, {58, 58, 4}, {59, 59, 4},
    };
    return pairs;
}

LandmarkError landmarkError(const Shape68& ours, const Shape68& reference) {
    const double ex = reference[2 * DLIB_LEFT_EYE_OUTER] - reference[2 * DLIB_RIGHT_EYE_OUTER];
    const double ey = reference[2 * DLIB_LEFT_EYE_OUTER + 1] - reference[2 * DLIB_RIGHT_EYE_OUTER + 1];
    const double eyeDistance = std::sqrt(ex * ex + ey * ey);
    const size_t groups = landmarkGroups().size();
    LandmarkError e;
    e.perGroup.assign(groups, 0.0);
    std::vector<int> counts(groups, 0);
    double total = 0.0;
    for (const LandmarkPair& p : landmarkPairs()) {
        const double dx = ours[2 * p.ours] - reference[2 * p.dlib];
        const double dy = ours[2 * p.ours + 1] - reference[2 * p.dlib + 1];
        const double d = std::sqrt(dx * dx + dy * dy) / eyeDistance;
        e.perGroup[p.group] += d;
        counts[p.group] += 1;
        total += d;
    }
    for (size_t g = 0; g < groups; ++g) e.perGroup[g] /= counts[g];
    e.mean = total / static_cast<double>(landmarkPairs().size());
    return e;
}

}  // namespace kvoeval

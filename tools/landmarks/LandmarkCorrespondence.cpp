#include "LandmarkCorrespondence.h"

#include <cmath>

namespace kvo {
namespace landmarks {

const char* groupName(Group g) {
    static const char* names[NUM_GROUPS] = {"chin", "brows", "eyes", "nose", "mouth"};
    return names[static_cast<int>(g)];
}

const std::vector<LandmarkPair>& sharedPairs() {
    static const std::vector<LandmarkPair> pairs = {
        // core: eye corners (outer, inner; image-left eye then image-right eye)
        {27, 36, Group::Eyes, true}, {29, 39, Group::Eyes, true},
        {34, 42, Group::Eyes, true}, {32, 45, Group::Eyes, true},
        // core: brow ends (outer, inner; image-left brow then image-right brow)
        {21, 17, Group::Brows, true}, {24, 21, Group::Brows, true},
        {18, 22, Group::Brows, true}, {15, 26, Group::Brows, true},
        // core: nose tip and base centre
        {67, 30, Group::Nose, true}, {41, 33, Group::Nose, true},
        // core: mouth corners, outer lip top and bottom centres, inner lip centres
        {48, 48, Group::Mouth, true}, {54, 54, Group::Mouth, true},
        {51, 51, Group::Mouth, true}, {57, 57, Group::Mouth, true},
        {64, 62, Group::Mouth, true}, {61, 66, Group::Mouth, true},
        // core: chin
        {7, 8, Group::Chin, true},
        // shared: the rest of the outer lip, point for point
        {49, 49, Group::Mouth, false}, {50, 50, Group::Mouth, false},
        {52, 52, Group::Mouth, false}, {53, 53, Group::Mouth, false},
        {55, 55, Group::Mouth, false}, {56, 56, Group::Mouth, false},
        {58, 58, Group::Mouth, false}, {59, 59, Group::Mouth, false},
    };
    return pairs;
}

double outerEyeDistance(const double* xy, Layout layout) {
    const int a = layout == Layout::Ours ? OURS_LEFT_EYE_OUTER : DLIB_LEFT_EYE_OUTER;
    const int b = layout == Layout::Ours ? OURS_RIGHT_EYE_OUTER : DLIB_RIGHT_EYE_OUTER;
    return std::hypot(xy[2 * a] - xy[2 * b], xy[2 * a + 1] - xy[2 * b + 1]);
}

LandmarkError landmarkError(const double* shape, Layout shapeLayout, const double* reference, PointSet set) {
    LandmarkError e;
    const double eye = outerEyeDistance(reference, Layout::Dlib);
    std::array<int, NUM_GROUPS> counts{};
    double total = 0.0;
    int n = 0;
    for (const LandmarkPair& p : sharedPairs()) {
        if (set == PointSet::Core && !p.core) continue;
        const int i = shapeLayout == Layout::Ours ? p.ours : p.dlib;
        const double d =
            std::hypot(shape[2 * i] - reference[2 * p.dlib], shape[2 * i + 1] - reference[2 * p.dlib + 1]) / eye;
        e.perGroup[static_cast<int>(p.group)] += d;
        counts[static_cast<int>(p.group)] += 1;
        total += d;
        ++n;
    }
    for (int g = 0; g < NUM_GROUPS; ++g) e.perGroup[g] = counts[g] ? e.perGroup[g] / counts[g] : NAN;
    e.mean = total / n;
    if (!(eye > 0.0)) {
        e.mean = NAN;
        e.perGroup.fill(NAN);
    }
    return e;
}

void dlibToOurs(const double* dlib, double* ours, std::array<bool, NUM_POINTS>& known) {
    known.fill(false);
    for (const LandmarkPair& p : sharedPairs()) {
        ours[2 * p.ours] = dlib[2 * p.dlib];
        ours[2 * p.ours + 1] = dlib[2 * p.dlib + 1];
        known[p.ours] = true;
    }
}

void oursToDlib(const double* ours, double* dlib, std::array<bool, NUM_POINTS>& known) {
    known.fill(false);
    for (const LandmarkPair& p : sharedPairs()) {
        dlib[2 * p.dlib] = ours[2 * p.ours];
        dlib[2 * p.dlib + 1] = ours[2 * p.ours + 1];
        known[p.dlib] = true;
    }
}

}  // namespace landmarks
}  // namespace kvo

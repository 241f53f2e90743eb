#include "eval/OurLayoutError.h"

#include <algorithm>
#include <cmath>

#include "LandmarkCorrespondence.h"

namespace kvo {
namespace eval {

namespace {

std::vector<int> range(int first, int last) {
    std::vector<int> v;
    for (int i = first; i <= last; ++i) v.push_back(i);
    return v;
}

const std::array<std::vector<int>, NUM_OUR_GROUPS>& groupTable() {
    static const std::array<std::vector<int>, NUM_OUR_GROUPS> table = {
        range(0, 67),  range(0, 14), range(15, 26), range(27, 36), range(37, 47), range(48, 66),
        {67},          {27, 29, 32, 34, 67, 41, 48, 54, 51, 57, 64, 61, 7}};
    return table;
}

}  // namespace

const char* ourGroupName(OurGroup g) {
    static const char* const names[NUM_OUR_GROUPS] = {"all 68", "jaw",      "brows",    "eyes",
                                                      "nose",   "mouth",    "nose tip", "13 shared"};
    return names[static_cast<int>(g)];
}

const std::vector<int>& ourGroupPoints(OurGroup g) { return groupTable()[static_cast<int>(g)]; }

double pointSetError(const double* fit, const double* reference, const std::vector<int>& points) {
    const double eyes = landmarks::outerEyeDistance(reference, landmarks::Layout::Ours);
    if (!(eyes > 0.0) || !std::isfinite(eyes) || points.empty()) return NAN;
    double sum = 0.0;
    for (int i : points) sum += std::hypot(fit[2 * i] - reference[2 * i], fit[2 * i + 1] - reference[2 * i + 1]);
    return std::isfinite(sum) ? sum / points.size() / eyes : NAN;
}

bool ourLayoutError(const double* fit, const double* reference, GroupErrors& errors) {
    GroupErrors e;
    for (int g = 0; g < NUM_OUR_GROUPS; ++g) {
        e[g] = pointSetError(fit, reference, groupTable()[g]);
        if (std::isnan(e[g])) return false;
    }
    errors = e;
    return true;
}

void ErrorTally::add(const GroupErrors& e) {
    for (int g = 0; g < NUM_OUR_GROUPS; ++g) values_[g].push_back(e[g]);
}

ErrorSummary ErrorTally::summary(OurGroup g) const { return summariseErrors(values_[static_cast<int>(g)]); }

}  // namespace eval
}  // namespace kvo

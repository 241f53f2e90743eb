#include "LandmarkMap.h"

namespace kvoeval {

namespace lm = kvo::landmarks;

const std::vector<std::string>& landmarkGroups() {
    static const std::vector<std::string> groups = [] {
        std::vector<std::string> g;
        for (int k = 0; k < lm::NUM_GROUPS; ++k) g.push_back(lm::groupName(static_cast<lm::Group>(k)));
        return g;
    }();
    return groups;
}

const std::vector<LandmarkPair>& landmarkPairs() {
    static const std::vector<LandmarkPair> pairs = [] {
        std::vector<LandmarkPair> p;
        for (const lm::LandmarkPair& s : lm::sharedPairs()) p.push_back({s.ours, s.dlib, static_cast<int>(s.group)});
        return p;
    }();
    return pairs;
}

std::string describePairs() {
    std::string text;
    for (size_t g = 0; g < landmarkGroups().size(); ++g) {
        std::string items;
        for (const LandmarkPair& p : landmarkPairs())
            if (p.group == static_cast<int>(g))
                items += (items.empty() ? "" : ", ") + std::to_string(p.ours) + "->" + std::to_string(p.dlib);
        if (items.empty()) continue;
        text += (text.empty() ? "" : "; ") + landmarkGroups()[g] + " " + items;
    }
    return text;
}

LandmarkError landmarkError(const Shape68& ours, const Shape68& reference) {
    const lm::LandmarkError e =
        lm::landmarkError(ours.data(), lm::Layout::Ours, reference.data(), lm::PointSet::Shared);
    LandmarkError r;
    r.mean = e.mean;
    r.perGroup.assign(e.perGroup.begin(), e.perGroup.end());
    return r;
}

}  // namespace kvoeval

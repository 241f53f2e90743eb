#include "FaceCandidates.h"

#include <algorithm>

namespace kvo {
namespace app {

namespace {

// A candidate inside one this much wider is a part of that face, when the wider one
// scores at least this share of the part's score.
const double kPartOfFace = 1.5;
const double kFaceScoreShare = 0.5;

bool centreInside(const Box& inner, const Box& outer) {
    const double cx = inner.x + 0.5 * inner.width, cy = inner.y + 0.5 * inner.height;
    return cx >= outer.x && cx <= outer.x + outer.width && cy >= outer.y && cy <= outer.y + outer.height;
}

}  // namespace

double overlap(const Box& a, const Box& b) {
    if (!(a.width > 0.0 && a.height > 0.0 && b.width > 0.0 && b.height > 0.0)) return 0.0;
    const double w = std::min(a.x + a.width, b.x + b.width) - std::max(a.x, b.x);
    const double h = std::min(a.y + a.height, b.y + b.height) - std::max(a.y, b.y);
    if (w <= 0.0 || h <= 0.0) return 0.0;
    const double both = w * h;
    return both / (a.width * a.height + b.width * b.height - both);
}

std::vector<WindowGroup> distinctGroups(std::vector<Box> raw, int minWindows) {
    std::vector<WindowGroup> out;
    while (!raw.empty()) {
        const WindowGroup g = strongestGroup(raw);
        if (g.windows < minWindows) break;
        out.push_back(g);
        // The group's windows lie around its face; those centred inside it or mostly on it
        // belong to that face, whatever their size.
        raw.erase(std::remove_if(raw.begin(), raw.end(),
                                 [&](const Box& b) { return centreInside(b, g.face) || overlap(b, g.face) > kSameFaceOverlap; }),
                  raw.end());
    }
    return out;
}

void keepDistinct(std::vector<FaceCandidate>& c) {
    std::stable_sort(c.begin(), c.end(), [](const FaceCandidate& a, const FaceCandidate& b) { return a.score > b.score; });
    std::vector<FaceCandidate> kept;
    for (const FaceCandidate& f : c) {
        bool same = false;
        for (FaceCandidate& k : kept) {
            if (overlap(f.face, k.face) > kSameFaceOverlap || centreInside(f.face, k.face) || centreInside(k.face, f.face)) {
                same = true;
                // A part of a face (the mouth and nose, an eye) can gather more windows
                // than the face; a wider group around it that is nearly as strong is the face.
                if (f.face.width > kPartOfFace * k.face.width && centreInside(k.face, f.face) &&
                    f.score >= kFaceScoreShare * k.score) {
                    k.face = f.face;
                    k.windows = f.windows;
                }
                break;
            }
        }
        if (!same) kept.push_back(f);
    }
    c.swap(kept);
}

}  // namespace app
}  // namespace kvo

// Grouping of accepted detector windows into faces.
#include <cmath>

#include "detection/ViolaJones.h"
#include "util/Trace.h"

namespace kvo {

namespace {

// Two windows are similar when a's corner lies within a fifth of b's width of b's
// corner and their widths differ by less than a fifth (heights are not compared).
bool similar(const Rectangle& a, const Rectangle& b) {
    const double t = std::trunc(0.2 * b.width);
    return b.x - t <= a.x && a.x <= b.x + t && b.y - t <= a.y && a.y <= b.y + t &&
           a.width <= std::trunc(b.width * 1.2) && b.width <= std::trunc(1.2 * a.width);
}

// True when b lies inside a (edges may touch).
bool inside(const Rectangle& b, const Rectangle& a) {
    return a.x <= b.x && b.x + b.width <= a.x + a.width && a.y <= b.y &&
           b.y + b.height <= a.y + a.height;
}

}  // namespace

std::vector<std::shared_ptr<Rectangle>>& ViolaJones::merge(
    std::vector<std::shared_ptr<Rectangle>>& faces) {
    mergedFaces.clear();
    const size_t n = faces.size();
    if (n > labels_.size()) reserveResults(n);

    // One greedy pass: each rectangle takes the class of the last earlier rectangle it
    // matches, or starts a new class. Classes are never joined afterwards.
    int classes = 0;
    bool sawNull = false;
    for (size_t i = 0; i < n; ++i) {
        const Rectangle* a = faces[i].get();
        if (!a) {
            labels_[i] = -1;
            sawNull = true;
            continue;
        }
        int label = -1;
        for (size_t j = 0; j < i; ++j) {
            const Rectangle* b = faces[j].get();
            if (b && (similar(*a, *b) || inside(*b, *a))) label = labels_[j];
        }
        if (label < 0) label = classes++;
        labels_[i] = label;
    }
    if (sawNull) Err("ViolaJones: merge skipped empty rectangle entries.");

    for (int c = 0; c < classes; ++c) {
        classCounts_[c] = 0;
        classSums_[4 * c] = classSums_[4 * c + 1] = classSums_[4 * c + 2] = classSums_[4 * c + 3] = 0.0;
    }
    for (size_t i = 0; i < n; ++i) {
        const int c = labels_[i];
        if (c < 0) continue;
        const Rectangle& r = *faces[i];
        ++classCounts_[c];
        classSums_[4 * c] += r.x;
        classSums_[4 * c + 1] += r.y;
        classSums_[4 * c + 2] += r.width;
        classSums_[4 * c + 3] += r.height;
    }

    // Each kept class becomes its mean rectangle plus one half pixel.
    const long long needed = static_cast<long long>(minDetections) - 1;
    for (int c = 0; c < classes; ++c) {
        const double k = classCounts_[c];
        if (static_cast<long long>(classCounts_[c]) < needed) continue;
        Rectangle& face = *mergedPool_[mergedFaces.size()];
        face.x = (2.0 * classSums_[4 * c] + k) / (2.0 * k);
        face.y = (2.0 * classSums_[4 * c + 1] + k) / (2.0 * k);
        face.width = (2.0 * classSums_[4 * c + 2] + k) / (2.0 * k);
        face.height = (2.0 * classSums_[4 * c + 3] + k) / (2.0 * k);
        mergedFaces.push_back(mergedPool_[mergedFaces.size()]);
    }
    return mergedFaces;
}

}  // namespace kvo

#pragma once
// The Haar cascade held by the face detector: stages of decision stumps over weighted
// feature rectangles, stored as plain singly linked lists.
//
// What it represents: one attentional cascade. A stage holds weak classifiers (stumps);
// a stump holds the rectangles of its Haar feature. Every rectangle is also on one
// cascade-wide list, so that the detector can rewrite the integral-image corner offsets
// of all rectangles in one pass.
//
// Ownership: every node is allocated individually by the cascade loader and released by
// the owning `kvo::ViolaJones` (see `ViolaJones::releaseCascade`).
//
// Thread safety: read-only during a scan. The scanning threads work on their own copies
// of the rectangles; after the scan the calling thread writes the corner offsets of the
// last window size scanned into the lists. A cascade belongs to one detector.

namespace kvo {

// One weighted rectangle of a Haar feature.
struct VJFeatureRect {
    // Rectangle in window pixels at scale 1 (the cascade's own window size).
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    // Integral-image offsets of the four corners for the last window size scanned,
    // relative to the window's top-left offset (rewritten by every scan).
    int topLeft = 0;
    int topRight = 0;
    int bottomLeft = 0;
    int bottomRight = 0;
    double weight = 0.0;                     // factor applied to the rectangle's pixel sum
    VJFeatureRect* nextInFeature = nullptr;  // next rectangle of the same feature
    VJFeatureRect* nextInCascade = nullptr;  // next rectangle of the whole cascade, in reading order
};

// One weak classifier: a decision stump on one Haar feature.
struct VJClassifier {
    double threshold = 0.0;  // in units of the window's standard deviation (pixels scaled to 0...1)
    double leftValue = 0.0;  // vote when the feature value is below the scaled threshold
    double rightValue = 0.0; // vote otherwise
    VJClassifier* next = nullptr;
    VJFeatureRect* firstRect = nullptr;
};

// One stage: the window passes when the sum of its stumps' votes reaches `threshold`.
struct VJStage {
    double threshold = 0.0;
    VJStage* next = nullptr;
    VJClassifier* firstClassifier = nullptr;
};

}  // namespace kvo

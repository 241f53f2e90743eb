#pragma once
// The library's tracker driven frame by frame from 32-bit host pixels, with the time of
// each stage of a frame.
//
// What it represents: one kvo::Kestavo with its own input of a fixed size. step() does
// what kvo_update and Kestavo::update do in face-tracking mode (grey conversion, frame
// pyramid, detection or one shape search, the validity check), calling the same
// component functions in the same order, so that each stage can be timed on its own.
// The search-pyramid resampling, stabiliser and Candide fit happen inside the shape
// search and are timed with it; the evaluation separates them by paired runs.
//
// Thread safety: none; one thread per instance. Instances must not run concurrently
// (the library's matrix scratch is shared).
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "eval/GreyFrame.h"
#include "math/Rectangle.h"
#include "tracker/Kestavo.h"

namespace kvoeval {

// 68 points as x0, y0, x1, y1, ... (pixels), in our layout or dlib's.
using Shape68 = std::array<double, 136>;

struct StageTimes {
    double greyMs = 0.0;
    double pyramidMs = 0.0;
    double detectMs = 0.0;  // 0 when the frame was not a detection frame
    double searchMs = 0.0;  // 0 when no search ran
};

class OurTracker {
public:
    // Requires: width, height > 0. `shapeModelJson` null for the embedded model. `refine`
    // turns the landmark refinement on (when the library carries its model).
    OurTracker(int width, int height, const char* shapeModelJson, bool stabilizer, bool candide, bool refine);

    // Processes one frame of width x height host pixels (rows back to back).
    // Returns the state name after the frame.
    const std::string& step(const uint32_t* bgra, StageTimes* times = nullptr);

    // The same through Kestavo::update itself (for checking that step() agrees with it).
    const std::string& stepDirect(const uint32_t* bgra);

    // True when the last frame ended with a valid tracked shape (past the start phase).
    bool tracking() const;
    bool shapeModelLoaded() { return tracker_->asmSearch.isActive(); }
    Shape68 shape() const;
    const std::vector<uint8_t>& grey() const { return input_.pixels; }
    kvo::Kestavo& tracker() { return *tracker_; }
    int width() const { return width_; }
    int height() const { return height_; }

private:
    int width_, height_;
    kvo::eval::GreyFrame input_;
    kvo::Rectangle roi_;
    std::unique_ptr<kvo::Kestavo> tracker_;
};

// Milliseconds on the monotonic clock since an arbitrary origin.
double nowMs();

}  // namespace kvoeval

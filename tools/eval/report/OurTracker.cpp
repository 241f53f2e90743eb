#include "OurTracker.h"

#include <chrono>

#include "image/GreyConversion.h"
#include "tracker/KVOModeState.h"

namespace kvoeval {

double nowMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

OurTracker::OurTracker(int width, int height, const char* shapeModelJson, bool stabilizer, bool candide,
                       bool refine)
    : width_(width), height_(height), input_(width, height), roi_(0, 0, width, height),
      tracker_(new kvo::Kestavo()) {
    tracker_->asmSearch.stabilizerEnabled = stabilizer;
    tracker_->asmSearch.candideEnabled = candide;
    tracker_->init(&input_, &roi_, shapeModelJson);
    tracker_->asmSearch.refineEnabled = refine && tracker_->asmSearch.refiner.loaded();
}

const std::string& OurTracker::stepDirect(const uint32_t* bgra) {
    kvo::convertToGrey(bgra, input_.pixels.data(), input_.pixels.size());
    return tracker_->update();
}

const std::string& OurTracker::step(const uint32_t* bgra, StageTimes* times) {
    using kvo::KVOMode;
    using kvo::KVOState;
    kvo::Kestavo& k = *tracker_;
    StageTimes t;
    double t0 = nowMs();
    kvo::convertToGrey(bgra, input_.pixels.data(), input_.pixels.size());
    double t1 = nowMs();
    t.greyMs = t1 - t0;
    k.imageDataManager.update(0);
    t0 = nowMs();
    t.pyramidMs = t0 - t1;

    if (k.nextState == KVOState::FACE_DETECTION) {
        k.setState(k.nextState);
        k.lastDetectedFace = kvo::Rectangle();
        k.violaJones.detect(k.lastDetectedFaces);
        if (static_cast<int>(k.lastDetectedFaces.size()) >= k.violaJones.minDetections) {
            std::vector<kvo::RectanglePtr>& merged = k.violaJones.merge(k.lastDetectedFaces);
            if (!merged.empty()) {
                k.lastDetectedFace = *merged[0];
                if (k.mode == KVOMode::FACE_TRACKING && k.asmSearch.isActive()) {
                    k.asmSearch.prepareShape(k.lastDetectedFace);
                    k.nextState = KVOState::FACE_TRACKING_START;
                }
            }
        }
        t1 = nowMs();
        t.detectMs = t1 - t0;
        t0 = t1;
    }
    // As in Kestavo::update: the search runs only in face-tracking mode, so a tracker in
    // face-detection mode detects on every frame.
    const bool trackingState = k.nextState == KVOState::FACE_TRACKING || k.nextState == KVOState::FACE_TRACKING_START;
    if (k.mode == KVOMode::FACE_TRACKING && trackingState) {
        k.setState(k.nextState);
        k.asmSearch.doSearch();
        t.searchMs = nowMs() - t0;
        k.updateShape();
        if (k.asmSearch.inStartPhase) {
            k.nextState = KVOState::FACE_TRACKING_START;
        } else if (k.asmSearch.isValid()) {
            k.nextState = KVOState::FACE_TRACKING;
        } else {
            k.reset();
        }
    } else {
        k.nextState = KVOState::FACE_DETECTION;
    }
    if (times != nullptr) *times = t;
    return k.state;
}

bool OurTracker::tracking() const { return tracker_->state == kvo::KVOState::FACE_TRACKING; }

Shape68 OurTracker::shape() const {
    Shape68 s{};
    const std::vector<kvo::PointPtr>& pts = tracker_->faceShape.points;
    for (size_t i = 0; i < pts.size() && i < 68; ++i) {
        s[2 * i] = pts[i]->x;
        s[2 * i + 1] = pts[i]->y;
    }
    return s;
}

}  // namespace kvoeval

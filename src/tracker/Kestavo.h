#pragma once
// The tracker: drives every frame through the library.
//
// What it represents: the one object that owns every processing component (the image
// pipeline, the cascade face detector, the shape search with its stabiliser,
// correction and Candide extensions, the optical-flow point tracker) and the result
// record, holds the mode and state names, and runs the per-frame state machine:
//   face detection -> (face found) tracking start phase -> tracking -> (shape lost)
//   reset -> detection again; or point tracking over host points.
// It does no image processing itself.
//
// Lifecycle: constructed at library load (reads no model data, starts no thread); init
// once with the first frame's input (starts the parked worker); then any sequence of
// update, updateByEyes, reset, setMode and parameter changes; finalize (the extension's
// finalisers, the library's unload) joins the worker. Never copied.
//
// Thread safety: not thread-safe. All operations run on the caller's thread, one at a
// time. The parked worker runs only inside component calls, on ranges the call hands it,
// and is finished with them before the call returns.
#include <memory>
#include <string>
#include <vector>

#include "asm/ASMSearch.h"
#include "detection/ViolaJones.h"
#include "flow/OpticalFlow.h"
#include "image/ImageDataManager.h"
#include "image/InputData.h"
#include "math/Point.h"
#include "math/Rectangle.h"
#include "tracker/FaceBoxFromEyes.h"
#include "tracker/KVOFaceShape.h"
#include "tracker/KVOModeState.h"
#include "util/ParkedWorkers.h"

namespace kvo {

class Kestavo {
public:
    // updateByEyes places the eyes 0.28 of the face width in from each side, so the eye
    // distance is this fraction of the width (the rule: tracker/FaceBoxFromEyes.h).
    static constexpr double EYE_SPAN = kvo::EYE_SPAN;

    Kestavo();
    Kestavo(const Kestavo&) = delete;
    Kestavo& operator=(const Kestavo&) = delete;

    // Requires: `input` stays valid for the tracker's life and delivers frames of the
    // size it has now; `roi` (input pixels) may be null for the whole input.
    // Ensures: every buffer is sized, the three models are decoded and loaded, the
    // result record holds the mean shape, nextState is "state_face_detection".
    void init(InputData* input, Rectangle* roi);

    // The same with another shape model than the embedded one: `shapeModelJson` is a
    // zero-terminated shape-model document (for model-building tools and tests).
    void init(InputData* input, Rectangle* roi, const char* shapeModelJson);

    // Processes the input's current pixels by the mode and nextState; returns state.
    const std::string& update();

    // Starts tracking from two eye positions (input pixels) and runs `iterations`
    // search steps on the current frame; returns state. The points are not changed.
    const std::string& updateByEyes(const PointPtr& eyeA, const PointPtr& eyeB, int iterations);

    // Abandons the current track: state "state_reset"; point tracking also forgets its
    // points. Results keep their last values.
    void reset();

    // Switches to one of the three mode names; any other text is reported and ignored.
    void setMode(std::string newMode);

    // lastState = state, then state = s.
    void setState(const std::string& s);

    // Copies the search's result shape and the Candide mesh and pose into faceShape.
    void updateShape();

    // True once init has run.
    bool initialized() const { return initialized_; }

    // Joins the parked workers (the extension's finalisers call it, and the library's
    // unload). Ensures: no worker thread of the tracker runs; later updates work on the
    // calling thread alone.
    void finalize();

    // Parked worker threads for the split work of the image pipeline, the shape search and
    // the optical flow; started by init, joined by finalize (or the destructor).
    ParkedWorkers workers;

    // Components, in construction order.
    ImageDataManager imageDataManager;
    OpticalFlow opticalFlow;
    ViolaJones violaJones;
    ASMSearch asmSearch;

    std::string mode;
    std::string lastState;
    std::string state;
    std::string nextState;

    std::vector<PointPtr> pointsToTrack;  // input pixels
    std::vector<bool> pointStates;        // one flag per point: tracked validly
    std::vector<RectanglePtr> lastDetectedFaces;  // raw detections of the last pass (pixels)
    Rectangle lastDetectedFace;                   // first merged face, or all zeros
    KVOFaceShape faceShape;

private:
    // One search step and the state that follows it; false when the shape was lost
    // (the tracker has then been reset).
    bool searchStep();

    // True when the shape model loaded; otherwise reports that, once.
    bool shapeModelUsable();

    bool initialized_ = false;
    bool reportedNoShapeModel_ = false;
};

}  // namespace kvo

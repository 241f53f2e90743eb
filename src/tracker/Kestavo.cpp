#include "tracker/Kestavo.h"

#include <string>

#include "image/ResizeImageUtils.h"
#include "models/EmbeddedModels.h"
#include "util/Trace.h"

namespace kvo {

Kestavo::Kestavo()
    : imageDataManager(),
      opticalFlow(imageDataManager),
      violaJones(imageDataManager),
      asmSearch(imageDataManager),
      mode(KVOMode::FACE_TRACKING),
      lastState(KVOState::RESET),
      state(KVOState::RESET),
      nextState(KVOState::RESET) {}

void Kestavo::init(InputData* input, Rectangle* roi) { init(input, roi, nullptr); }

void Kestavo::init(InputData* input, Rectangle* roi, const char* shapeModelJson) {
    if (initialized_) {
        Err("Kestavo::init: the tracker is already initialised.");
        return;
    }
    // One parked worker beside the calling thread: the split work comes in two ranges.
    workers.start(ResizeImageUtils::MAX_THREADS - 1);
    imageDataManager.workers = &workers;
    opticalFlow.workers = &workers;
    asmSearch.workers = &workers;
    asmSearch.stabilizer.opticalFlow.workers = &workers;
    imageDataManager.init(input, roi);
    std::string cascade = decodeCascadeModel();
    opticalFlow.init();
    violaJones.init(&cascade[0]);
    imageDataManager.initASM();
    if (shapeModelJson != nullptr) {
        asmSearch.model.readASM(shapeModelJson, asmSearch.config, imageDataManager, false);
    } else {
        asmSearch.model.init(asmSearch.config, imageDataManager);
    }
    asmSearch.initSearchState();
    // The refinement's trees: an absent model (a build without one) leaves the refinement
    // unavailable; a malformed one is reported by the loader. Tracking works either way.
    const std::string refinerModel = decodeRefinerModel();
    if (!refinerModel.empty()) asmSearch.refiner.load(refinerModel);

    // Size the result record once: one persistent point per landmark.
    const int n = asmSearch.globalShape.rows;
    faceShape.points.reserve(n);
    for (int i = 0; i < n; ++i) {
        faceShape.points.push_back(std::make_shared<Point>(0.0, 0.0));
        faceShape.faceShapeVertices.push_back(0.0);
        faceShape.faceShapeVertices.push_back(0.0);
    }
    const CandideModel& candide = asmSearch.candide.model;
    faceShape.candideShapeVertices.assign(candide.projectedXY.begin(), candide.projectedXY.end());
    faceShape.candideShapeTriangles.assign(candide.triangles.begin(), candide.triangles.end());

    updateShape();
    nextState = KVOState::FACE_DETECTION;
    initialized_ = true;
}

void Kestavo::finalize() { workers.stop(); }

void Kestavo::setState(const std::string& s) {
    lastState = state;
    state = s;
}

bool Kestavo::searchStep() {
    setState(nextState);
    asmSearch.doSearch();
    updateShape();
    if (asmSearch.inStartPhase) {
        nextState = KVOState::FACE_TRACKING_START;
    } else if (asmSearch.isValid()) {
        nextState = KVOState::FACE_TRACKING;
    } else {
        reset();
        return false;
    }
    return true;
}

const std::string& Kestavo::update() {
    if (!initialized_) {
        Err("Kestavo::update: init must be called first.");
        return state;
    }
    const bool pointMode = (mode == KVOMode::POINT_TRACKING);
    imageDataManager.update(pointMode ? 3 : 0);

    if (mode == KVOMode::FACE_DETECTION || mode == KVOMode::FACE_TRACKING) {
        const bool tracking = (mode == KVOMode::FACE_TRACKING);
        if (nextState == KVOState::FACE_DETECTION) {
            setState(nextState);
            lastDetectedFace = Rectangle();
            violaJones.detect(lastDetectedFaces);
            if (static_cast<int>(lastDetectedFaces.size()) >= violaJones.minDetections) {
                std::vector<RectanglePtr>& merged = violaJones.merge(lastDetectedFaces);
                if (!merged.empty()) {
                    lastDetectedFace = *merged[0];
                    if (tracking && shapeModelUsable()) {
                        asmSearch.prepareShape(lastDetectedFace);
                        nextState = KVOState::FACE_TRACKING_START;
                    }
                }
            }
        }
        const bool trackingState =
            nextState == KVOState::FACE_TRACKING || nextState == KVOState::FACE_TRACKING_START;
        if (tracking && trackingState) {
            if (!searchStep()) return state;
        } else {
            nextState = KVOState::FACE_DETECTION;
        }
    } else if (pointMode) {
        setState(nextState);
        opticalFlow.update(pointsToTrack, pointStates);
        nextState = KVOState::POINT_TRACKING;
    }
    return state;
}

const std::string& Kestavo::updateByEyes(const PointPtr& eyeA, const PointPtr& eyeB, int iterations) {
    if (!initialized_) {
        Err("Kestavo::updateByEyes: init must be called first.");
        return state;
    }
    setState(KVOState::RESET);
    nextState = KVOState::RESET;
    if (mode != KVOMode::FACE_TRACKING) return state;
    imageDataManager.update(0);
    lastDetectedFace = Rectangle();
    if (!eyeA || !eyeB) return state;

    lastDetectedFace = faceBoxFromEyes(inImageOrder(EyeCentres{eyeA->x, eyeA->y, eyeB->x, eyeB->y}));
    if (iterations <= 0 || !shapeModelUsable()) {
        reset();
        return state;
    }
    asmSearch.prepareShape(lastDetectedFace);
    nextState = KVOState::FACE_TRACKING_START;
    for (int i = 0; i < iterations; ++i) {
        if (!searchStep()) return state;
    }
    return state;
}

bool Kestavo::shapeModelUsable() {
    if (asmSearch.isActive()) return true;
    if (!reportedNoShapeModel_) {
        Err("Kestavo: the shape model is not loaded; face tracking stays in face detection.");
        reportedNoShapeModel_ = true;
    }
    return false;
}

void Kestavo::reset() {
    setState(KVOState::RESET);
    if (mode == KVOMode::POINT_TRACKING) {
        pointsToTrack.clear();
        pointStates.clear();
        nextState = KVOState::POINT_TRACKING;
    } else {
        nextState = KVOState::FACE_DETECTION;
    }
}

void Kestavo::setMode(std::string newMode) {
    if (newMode == mode) return;
    const bool known = newMode == KVOMode::FACE_DETECTION || newMode == KVOMode::FACE_TRACKING ||
                       newMode == KVOMode::POINT_TRACKING;
    if (!known) {
        Err("KestavoVars.mode setter needs one of the modes of KVOModes.");
        return;
    }
    if (newMode == KVOMode::POINT_TRACKING) {
        reset();  // in a face mode: the tracked points stay
        nextState = KVOState::POINT_TRACKING;
    } else if (mode == KVOMode::POINT_TRACKING) {
        reset();  // still in point tracking: forgets the points
        nextState = KVOState::FACE_DETECTION;
    }
    mode = newMode;
}

void Kestavo::updateShape() {
    const ShapeMat& shape = asmSearch.globalShape;
    const size_t n = std::min(static_cast<size_t>(shape.rows), faceShape.points.size());
    for (size_t i = 0; i < n; ++i) {
        const double x = shape.data[i][0];
        const double y = shape.data[i][1];
        faceShape.points[i]->x = x;
        faceShape.points[i]->y = y;
        faceShape.faceShapeVertices[2 * i] = x;
        faceShape.faceShapeVertices[2 * i + 1] = y;
    }
    ShapeMat& s = asmSearch.globalShape;
    faceShape.bounds = Rectangle(s.colMinElem(0), s.colMinElem(1), s.shapeWidth(), s.shapeHeight());

    const CandideModel& candide = asmSearch.candide.model;
    const size_t m = std::min(candide.projectedXY.size(), faceShape.candideShapeVertices.size());
    for (size_t j = 0; j < m; ++j) faceShape.candideShapeVertices[j] = candide.projectedXY[j];
    const std::vector<double>& pose = candide.transformParams;
    if (pose.size() >= 6) {
        faceShape.scale = pose[0];
        faceShape.translationX = pose[1];
        faceShape.translationY = pose[2];
        faceShape.rotationX = pose[3];
        faceShape.rotationY = pose[4];
        faceShape.rotationZ = pose[5];
    }
}

}  // namespace kvo

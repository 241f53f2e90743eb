// The extension's entry points, its table of named functions, and the objects that
// live for the whole time the library is loaded.
#include "extension/ExtensionGlobals.h"
#include "extension/NamedFunctions.h"
#include "util/LoadOrder.h"

namespace {

#define KVO_ENTRY(name) {reinterpret_cast<const uint8_t*>(#name), nullptr, &name}

// The order of this table is part of the host's contract.
const FRENamedFunction gFunctionTable[] = {
    KVO_ENTRY(kvo_init),
    KVO_ENTRY(kvo_update),
    KVO_ENTRY(kvo_updateByEyes),
    KVO_ENTRY(kvo_reset),
    KVO_ENTRY(kvo_get_mode),
    KVO_ENTRY(kvo_set_mode),
    KVO_ENTRY(kvo_get_lastState),
    KVO_ENTRY(kvo_get_state),
    KVO_ENTRY(kvo_get_nextState),
    KVO_ENTRY(kvo_setPointTrackingVars),
    KVO_ENTRY(kvo_get_pointsToTrack),
    KVO_ENTRY(kvo_get_pointStates),
    KVO_ENTRY(kvo_get_checkPointsValidBeforeTracking),
    KVO_ENTRY(kvo_set_checkPointsValidBeforeTracking),
    KVO_ENTRY(kvo_addPointsToTrack),
    KVO_ENTRY(kvo_setFaceDetectionVars),
    KVO_ENTRY(kvo_setFaceDetectionROI),
    KVO_ENTRY(kvo_get_lastDetectedFace),
    KVO_ENTRY(kvo_get_lastDetectedFaces),
    KVO_ENTRY(kvo_setFaceTrackingVars),
    KVO_ENTRY(kvo_get_faceShape_faceShapeTriangles),
    KVO_ENTRY(kvo_get_faceShape_candideShapeTriangles),
    KVO_ENTRY(kvo_get_faceShape_faceShapeVectices),
    KVO_ENTRY(kvo_get_faceShape_points),
    KVO_ENTRY(kvo_get_faceShape_bounds),
    KVO_ENTRY(kvo_get_faceShape_candideShapeVertices),
    KVO_ENTRY(kvo_get_faceShape_scale),
    KVO_ENTRY(kvo_get_faceShape_translationX),
    KVO_ENTRY(kvo_get_faceShape_translationY),
    KVO_ENTRY(kvo_get_faceShape_rotationX),
    KVO_ENTRY(kvo_get_faceShape_rotationY),
    KVO_ENTRY(kvo_get_faceShape_rotationZ),
    KVO_ENTRY(kvo_get_candideEnabled),
    KVO_ENTRY(kvo_set_candideEnabled),
    KVO_ENTRY(kvo_get_candideActionUnitsEnabled),
    KVO_ENTRY(kvo_set_candideActionUnitsEnabled),
};
const uint32_t kNumFunctions = sizeof(gFunctionTable) / sizeof(gFunctionTable[0]);
static_assert(sizeof(gFunctionTable) / sizeof(gFunctionTable[0]) == 36, "the host expects 36 functions");

// Created at load after every other static of the library and never destroyed: the
// host may call into the library until the very end of the process.
// Its parked worker thread is joined by the finalisers below and, should the host
// unload the library (or end the process) without them, by the holder's destructor: no
// worker runs once the library's code may be gone. The tracker itself stays usable after
// that, on the calling thread alone.
struct TrackerHolder {
    kvo::Kestavo* tracker = new kvo::Kestavo();
    ~TrackerHolder() { tracker->finalize(); }
};
TrackerHolder gTrackerHolder KVO_LOAD_ORDER(KVO_ORDER_TRACKER);

// The eye points that kvo_updateByEyes fills and hands to the tracker.
struct EyePoints {
    kvo::PointPtr a = std::make_shared<kvo::Point>(0.0, 0.0);
    kvo::PointPtr b = std::make_shared<kvo::Point>(0.0, 0.0);
};
EyePoints gEyes KVO_LOAD_ORDER(KVO_ORDER_EYE_POINTS);

BitmapData* gInput = nullptr;
kvo::Rectangle* gImageRoi = nullptr;

}  // namespace

namespace kvo {
namespace extension {
Kestavo& tracker() { return *gTrackerHolder.tracker; }
BitmapData* input() { return gInput; }
Rectangle* imageRoi() { return gImageRoi; }
void setInitialized(BitmapData* in, Rectangle* roi) {
    gInput = in;
    gImageRoi = roi;
}
PointPtr& eyePointA() { return gEyes.a; }
PointPtr& eyePointB() { return gEyes.b; }
}  // namespace extension
}  // namespace kvo

void KestavoExtInitializer(void** extDataToSet, FREContextInitializer* ctxInitializerToSet,
                           FREContextFinalizer* ctxFinalizerToSet) {
    if (extDataToSet != nullptr) *extDataToSet = nullptr;
    if (ctxInitializerToSet != nullptr) *ctxInitializerToSet = &ContextInitializer;
    if (ctxFinalizerToSet != nullptr) *ctxFinalizerToSet = &ContextFinalizer;
}

void KestavoExtFinalizer(void*) { gTrackerHolder.tracker->finalize(); }

void ContextInitializer(void*, const uint8_t*, FREContext, uint32_t* numFunctionsToSet,
                        const FRENamedFunction** functionsToSet) {
    if (numFunctionsToSet != nullptr) *numFunctionsToSet = kNumFunctions;
    if (functionsToSet != nullptr) *functionsToSet = gFunctionTable;
}

void ContextFinalizer(FREContext) { gTrackerHolder.tracker->finalize(); }

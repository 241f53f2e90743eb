#pragma once
// The 36 named functions that the host calls, each exported under its own name.
//
// Every function has the host's named-function signature. Arguments are read with the
// conventions of HostValues.h; array and rectangle results are written into the host
// object given as argument 0 and the function returns null.
//
// Thread safety: the host calls them one at a time on one thread.
#include "extension/FREInterface.h"

#define KVO_EXPORT extern "C" __attribute__((visibility("default")))
#define KVO_NAMED_FUNCTION(name) \
    KVO_EXPORT FREObject name(FREContext ctx, void* functionData, uint32_t argc, FREObject argv[])

// Actions, name getters and parameter setters.
KVO_NAMED_FUNCTION(kvo_init);
KVO_NAMED_FUNCTION(kvo_update);
KVO_NAMED_FUNCTION(kvo_updateByEyes);
KVO_NAMED_FUNCTION(kvo_reset);
KVO_NAMED_FUNCTION(kvo_get_mode);
KVO_NAMED_FUNCTION(kvo_set_mode);
KVO_NAMED_FUNCTION(kvo_get_lastState);
KVO_NAMED_FUNCTION(kvo_get_state);
KVO_NAMED_FUNCTION(kvo_get_nextState);
KVO_NAMED_FUNCTION(kvo_setPointTrackingVars);
KVO_NAMED_FUNCTION(kvo_get_checkPointsValidBeforeTracking);
KVO_NAMED_FUNCTION(kvo_set_checkPointsValidBeforeTracking);
KVO_NAMED_FUNCTION(kvo_addPointsToTrack);
KVO_NAMED_FUNCTION(kvo_setFaceDetectionVars);
KVO_NAMED_FUNCTION(kvo_setFaceDetectionROI);
KVO_NAMED_FUNCTION(kvo_setFaceTrackingVars);
KVO_NAMED_FUNCTION(kvo_get_candideEnabled);
KVO_NAMED_FUNCTION(kvo_set_candideEnabled);
KVO_NAMED_FUNCTION(kvo_get_candideActionUnitsEnabled);
KVO_NAMED_FUNCTION(kvo_set_candideActionUnitsEnabled);

// Result getters.
KVO_NAMED_FUNCTION(kvo_get_pointsToTrack);
KVO_NAMED_FUNCTION(kvo_get_pointStates);
KVO_NAMED_FUNCTION(kvo_get_lastDetectedFace);
KVO_NAMED_FUNCTION(kvo_get_lastDetectedFaces);
KVO_NAMED_FUNCTION(kvo_get_faceShape_faceShapeTriangles);
KVO_NAMED_FUNCTION(kvo_get_faceShape_candideShapeTriangles);
KVO_NAMED_FUNCTION(kvo_get_faceShape_faceShapeVectices);
KVO_NAMED_FUNCTION(kvo_get_faceShape_points);
KVO_NAMED_FUNCTION(kvo_get_faceShape_bounds);
KVO_NAMED_FUNCTION(kvo_get_faceShape_candideShapeVertices);
KVO_NAMED_FUNCTION(kvo_get_faceShape_scale);
KVO_NAMED_FUNCTION(kvo_get_faceShape_translationX);
KVO_NAMED_FUNCTION(kvo_get_faceShape_translationY);
KVO_NAMED_FUNCTION(kvo_get_faceShape_rotationX);
KVO_NAMED_FUNCTION(kvo_get_faceShape_rotationY);
KVO_NAMED_FUNCTION(kvo_get_faceShape_rotationZ);

// The extension's entry points.
KVO_EXPORT void KestavoExtInitializer(void** extDataToSet, FREContextInitializer* ctxInitializerToSet,
                                      FREContextFinalizer* ctxFinalizerToSet);
KVO_EXPORT void KestavoExtFinalizer(void* extData);
KVO_EXPORT void ContextInitializer(void* extData, const uint8_t* ctxType, FREContext ctx,
                                   uint32_t* numFunctionsToSet, const FRENamedFunction** functionsToSet);
KVO_EXPORT void ContextFinalizer(FREContext ctx);

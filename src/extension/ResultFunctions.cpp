// Named functions that hand the tracker's results to the host. None changes the
// tracker.
#include "extension/ExtensionGlobals.h"
#include "extension/HostValues.h"
#include "extension/NamedFunctions.h"
#include "util/Trace.h"

using namespace kvo;
using namespace kvo::host;

namespace {

// The host object to fill (argument 0), or null after one error line.
FREObject target(const char* caller, uint32_t argc, FREObject argv[]) {
    FREObject o = arg(argc, argv, 0);
    if (o == nullptr) Err(std::string(caller) + ": argument 0 must be the object to fill.");
    return o;
}

const KVOFaceShape& faceShape() { return extension::tracker().faceShape; }

}  // namespace

FREObject kvo_get_pointsToTrack(FREContext, void*, uint32_t argc, FREObject argv[]) {
    if (FREObject a = target("kvo_get_pointsToTrack", argc, argv)) {
        fillPointArray(a, extension::tracker().pointsToTrack);
    }
    return nullptr;
}

FREObject kvo_get_pointStates(FREContext, void*, uint32_t argc, FREObject argv[]) {
    if (FREObject a = target("kvo_get_pointStates", argc, argv)) {
        fillBoolArray(a, extension::tracker().pointStates);
    }
    return nullptr;
}

FREObject kvo_get_lastDetectedFace(FREContext, void*, uint32_t argc, FREObject argv[]) {
    if (FREObject o = target("kvo_get_lastDetectedFace", argc, argv)) {
        setIntRectangle(o, extension::tracker().lastDetectedFace);
    }
    return nullptr;
}

FREObject kvo_get_lastDetectedFaces(FREContext, void*, uint32_t argc, FREObject argv[]) {
    if (FREObject a = target("kvo_get_lastDetectedFaces", argc, argv)) {
        fillRectangleArray(a, extension::tracker().lastDetectedFaces);
    }
    return nullptr;
}

FREObject kvo_get_faceShape_faceShapeTriangles(FREContext, void*, uint32_t argc, FREObject argv[]) {
    if (FREObject a = target("kvo_get_faceShape_faceShapeTriangles", argc, argv)) {
        fillIntArray(a, faceShape().faceShapeTriangles);
    }
    return nullptr;
}

FREObject kvo_get_faceShape_candideShapeTriangles(FREContext, void*, uint32_t argc, FREObject argv[]) {
    if (FREObject a = target("kvo_get_faceShape_candideShapeTriangles", argc, argv)) {
        fillIntArray(a, faceShape().candideShapeTriangles);
    }
    return nullptr;
}

FREObject kvo_get_faceShape_faceShapeVectices(FREContext, void*, uint32_t argc, FREObject argv[]) {
    if (FREObject a = target("kvo_get_faceShape_faceShapeVectices", argc, argv)) {
        fillNumberArray(a, faceShape().faceShapeVertices);
    }
    return nullptr;
}

FREObject kvo_get_faceShape_points(FREContext, void*, uint32_t argc, FREObject argv[]) {
    if (FREObject a = target("kvo_get_faceShape_points", argc, argv)) {
        fillPointArray(a, faceShape().points);
    }
    return nullptr;
}

FREObject kvo_get_faceShape_bounds(FREContext, void*, uint32_t argc, FREObject argv[]) {
    if (FREObject o = target("kvo_get_faceShape_bounds", argc, argv)) {
        setIntRectangle(o, faceShape().bounds);
    }
    return nullptr;
}

FREObject kvo_get_faceShape_candideShapeVertices(FREContext, void*, uint32_t argc, FREObject argv[]) {
    if (FREObject a = target("kvo_get_faceShape_candideShapeVertices", argc, argv)) {
        fillNumberArray(a, faceShape().candideShapeVertices);
    }
    return nullptr;
}

FREObject kvo_get_faceShape_scale(FREContext, void*, uint32_t, FREObject[]) {
    return newNumber(faceShape().scale);
}
FREObject kvo_get_faceShape_translationX(FREContext, void*, uint32_t, FREObject[]) {
    return newNumber(faceShape().translationX);
}
FREObject kvo_get_faceShape_translationY(FREContext, void*, uint32_t, FREObject[]) {
    return newNumber(faceShape().translationY);
}
FREObject kvo_get_faceShape_rotationX(FREContext, void*, uint32_t, FREObject[]) {
    return newNumber(faceShape().rotationX);
}
FREObject kvo_get_faceShape_rotationY(FREContext, void*, uint32_t, FREObject[]) {
    return newNumber(faceShape().rotationY);
}
FREObject kvo_get_faceShape_rotationZ(FREContext, void*, uint32_t, FREObject[]) {
    return newNumber(faceShape().rotationZ);
}

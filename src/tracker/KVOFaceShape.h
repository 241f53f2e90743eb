#pragma once
// The published face-shape record.
//
// What it represents: the tracker's result for the host: the 68 fitted landmarks as
// point objects and as a flat x, y list (input-image pixels), a fixed 113-triangle
// mesh over them, their bounding box, and the projected Candide-3 mesh with its pose
// (scale, translation in pixels, rotations in radians).
//
// Lifecycle: sized once by the tracker's init, rewritten in place after every search
// step. The point objects are the same for the tracker's whole life, so a holder of
// one sees it move.
//
// Thread safety: owned and used by the host's calling thread only.
#include <vector>

#include "math/Point.h"
#include "math/Rectangle.h"

namespace kvo {

class KVOFaceShape {
public:
    // Number of triangles in the fixed landmark mesh, and of their indices.
    static const int NUM_TRIANGLES = 113;
    static const int TRIANGLE_INDICES[NUM_TRIANGLES * 3];

    // Ensures: coordinate lists empty, faceShapeTriangles holds the fixed mesh,
    // bounds all 0, scale 1, the other pose values 0.
    KVOFaceShape();
    KVOFaceShape(const KVOFaceShape&) = delete;
    KVOFaceShape& operator=(const KVOFaceShape&) = delete;

    std::vector<double> faceShapeVertices;   // x0, y0, x1, y1, ... (pixels)
    std::vector<int> faceShapeTriangles;     // three landmark indices per triangle
    std::vector<PointPtr> points;            // one per landmark (pixels)
    Rectangle bounds;                        // bounding box of the landmarks (pixels)
    std::vector<double> candideShapeVertices;  // projected Candide vertices, x, y each
    std::vector<int> candideShapeTriangles;    // Candide vertex indices, three per triangle
    double scale = 1.0;
    double translationX = 0.0;  // pixels
    double translationY = 0.0;  // pixels
    double rotationX = 0.0;     // radians
    double rotationY = 0.0;     // radians
    double rotationZ = 0.0;     // radians
};

}  // namespace kvo

// The published face-shape record: its fixed landmark mesh and defaults, and the copy of
// the search result into it.
#include <gtest/gtest.h>

#include <set>

#include "tracker/KVOFaceShape.h"
#include "tracker/TrackerTestSupport.h"

namespace {

TEST(FaceShape, FreshRecordHoldsTheMeshAndNeutralPose) {
    kvo::KVOFaceShape shape;
    EXPECT_TRUE(shape.faceShapeVertices.empty());
    EXPECT_TRUE(shape.points.empty());
    EXPECT_TRUE(shape.candideShapeVertices.empty());
    ASSERT_EQ(shape.faceShapeTriangles.size(), 339u);
    const int first[6] = {0, 1, 27, 0, 21, 27};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(shape.faceShapeTriangles[i], first[i]);
    EXPECT_EQ(shape.faceShapeTriangles[336], 64);
    EXPECT_EQ(shape.faceShapeTriangles[337], 65);
    EXPECT_EQ(shape.faceShapeTriangles[338], 66);
    EXPECT_EQ(shape.bounds.x, 0.0);
    EXPECT_EQ(shape.bounds.width, 0.0);
    EXPECT_EQ(shape.scale, 1.0);
    EXPECT_EQ(shape.translationX, 0.0);
    EXPECT_EQ(shape.rotationZ, 0.0);
}

TEST(FaceShape, MeshCoversEveryLandmarkWithProperTriangles) {
    kvo::KVOFaceShape shape;
    std::set<int> seen;
    std::set<std::set<int>> triangles;
    for (size_t t = 0; t < shape.faceShapeTriangles.size(); t += 3) {
        std::set<int> tri;
        for (size_t k = 0; k < 3; ++k) {
            const int v = shape.faceShapeTriangles[t + k];
            ASSERT_GE(v, 0);
            ASSERT_LE(v, 67);
            seen.insert(v);
            tri.insert(v);
        }
        EXPECT_EQ(tri.size(), 3u) << "degenerate triangle " << t / 3;
        EXPECT_TRUE(triangles.insert(tri).second) << "triangle listed twice: " << t / 3;
    }
    EXPECT_EQ(seen.size(), 68u);
}

TEST(FaceShape, UpdateShapeCopiesTheResultInPlace) {
    kvotest::GreyFrame frame(640, 480);
    kvo::Kestavo tracker;
    const std::string model = kvo::test::tinyShapeModelJson();
    tracker.init(&frame, nullptr, model.c_str());
    const kvo::Point* first = tracker.faceShape.points[0].get();
    kvo::ShapeMat& s = tracker.asmSearch.globalShape;
    for (int i = 0; i < s.rows; ++i) {
        s.data[i][0] = 10.0 + (i % 5) * 10.0;  // x from 10 to 50
        s.data[i][1] = 20.0 + (i % 8) * 10.0;  // y from 20 to 90
    }
    tracker.updateShape();
    EXPECT_EQ(tracker.faceShape.points[0].get(), first);  // the same point objects
    EXPECT_EQ(tracker.faceShape.points[7]->x, s.data[7][0]);
    EXPECT_EQ(tracker.faceShape.faceShapeVertices[15], s.data[7][1]);
    EXPECT_EQ(tracker.faceShape.bounds.x, 10.0);
    EXPECT_EQ(tracker.faceShape.bounds.y, 20.0);
    EXPECT_EQ(tracker.faceShape.bounds.width, 40.0);
    EXPECT_EQ(tracker.faceShape.bounds.height, 70.0);
    // The Candide mesh and pose come along.
    const auto& candide = tracker.asmSearch.candide.model;
    ASSERT_EQ(tracker.faceShape.candideShapeVertices.size(), candide.projectedXY.size());
    EXPECT_EQ(tracker.faceShape.scale, candide.transformParams[0]);
    EXPECT_EQ(tracker.faceShape.candideShapeTriangles.size(), candide.triangles.size());
}

}  // namespace

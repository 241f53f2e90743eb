// Parsing the Candide text: sections, records, units, and rejected texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "CandideTestSupport.h"

using kvo::CandideModel;
using kvo::testing_support::MiniModel;
using kvo::testing_support::readRealModelText;

namespace {

struct ParseResult {
    bool ok;
    std::string output;
};

ParseResult parse(CandideModel& m, const std::string& text) {
    testing::internal::CaptureStdout();
    const bool ok = m.initFromText(text);
    return {ok, testing::internal::GetCapturedStdout()};
}

void expectNeutral(const CandideModel& m, int k, double x, double y, double z) {
    EXPECT_DOUBLE_EQ(m.vertices[k]->neutral[0], x) << "vertex " << k;
    EXPECT_DOUBLE_EQ(m.vertices[k]->neutral[1], y) << "vertex " << k;
    EXPECT_DOUBLE_EQ(m.vertices[k]->neutral[2], z) << "vertex " << k;
}

void expectEmptyAndUnusable(const CandideModel& m) {
    EXPECT_FALSE(m.isUsable());
    EXPECT_TRUE(m.vertices.empty());
    EXPECT_TRUE(m.points.empty());
    EXPECT_TRUE(m.projectedXY.empty());
    EXPECT_TRUE(m.faces.empty());
    EXPECT_TRUE(m.triangles.empty());
    EXPECT_TRUE(m.actionUnits.empty());
    EXPECT_TRUE(m.shapeUnits.empty());
}

}  // namespace

TEST(CandideParser, FreshModelIsEmptyWithZeroPose) {
    CandideModel m;
    EXPECT_FALSE(m.isUsable());
    EXPECT_TRUE(m.vertices.empty());
    for (double v : m.transformParams) EXPECT_EQ(v, 0.0);
    for (double v : m.rotScale) EXPECT_EQ(v, 0.0);
    EXPECT_EQ(m.lm.state, kvo::LevenbergMarquardt::STATE_STARTED);
    EXPECT_EQ(m.lm.maxIterations, 30);
    EXPECT_EQ(m.lm.lambdaExp, -3);
}

TEST(CandideParser, VertexRecordNegatesY) {
    CandideModel m;
    ASSERT_TRUE(parse(m, MiniModel().text()).ok);
    // Vertex 0 is moved by no shape unit.
    expectNeutral(m, 0, 1.5, -2.0, -0.5);
    EXPECT_DOUBLE_EQ(m.vertices[0]->animated[1], -2.0);
    EXPECT_DOUBLE_EQ(m.vertices[0]->transformed[1], -2.0);
    EXPECT_EQ(m.vertices[0]->outIndex, 0);
    EXPECT_EQ(m.vertices[3]->outIndex, 6);
    EXPECT_EQ(m.vertices[3]->outCoords, &m.projectedXY);
    EXPECT_FALSE(m.vertices[3]->matched);
}

TEST(CandideParser, BlanksTabsAndCarriageReturnsParseAlike) {
    MiniModel messy;
    messy.records("# VERTEX LIST:")[0] = "  1.5 \t 2.0\t\t-0.5   \r";
    messy.records("# FACE LIST:")[1] = "\t2   3\t4\r";
    messy.records("# AUV0")[0] = " 2\t\t0.1    0.02 0.0\r";
    CandideModel a, b;
    ASSERT_TRUE(parse(a, MiniModel().text()).ok);
    ASSERT_TRUE(parse(b, messy.text()).ok);
    expectNeutral(b, 0, 1.5, -2.0, -0.5);
    EXPECT_EQ(a.triangles, b.triangles);
    EXPECT_EQ(a.actionUnits[1]->vertexIndices, b.actionUnits[1]->vertexIndices);
    EXPECT_EQ(a.actionUnits[1]->displacements, b.actionUnits[1]->displacements);
}

TEST(CandideParser, HeaderWithTrailingTextIsFound) {
    // The mini model's headers already end in ':'; add a comment behind one as well.
    MiniModel mm;
    std::string text = mm.text();
    const std::string h = "# AUV5\n";
    text.replace(text.find(h), h.size(), "# AUV5   Outer brow raiser (AU2)\n");
    CandideModel m;
    ASSERT_TRUE(parse(m, text).ok);
    EXPECT_EQ(m.actionUnits[6]->name, "# AUV5");
}

TEST(CandideParser, FacesAndTrianglesHoldTheFileIndices) {
    CandideModel m;
    ASSERT_TRUE(parse(m, MiniModel().text()).ok);
    ASSERT_EQ(m.faces.size(), 2u);
    EXPECT_EQ(m.faces[1][0], 2);
    EXPECT_EQ(m.faces[1][2], 4);
    EXPECT_EQ(m.triangles, (std::vector<int>{0, 1, 2, 2, 3, 4}));
}

TEST(CandideParser, UnitsInOrderWithNegatedDy) {
    CandideModel m;
    ASSERT_TRUE(parse(m, MiniModel().text()).ok);
    const char* names[] = {"# AUV9", "# AUV0", "# AUV11", "# AUV2", "# AUV3", "# AUV14", "# AUV5"};
    ASSERT_EQ(m.actionUnits.size(), 7u);
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(m.actionUnits[i]->name, names[i]);
        EXPECT_EQ(m.actionUnits[i]->value, 0.0);
        EXPECT_EQ(m.actionUnits[i]->vertexIndices[0], 1 + i % 4);
        EXPECT_DOUBLE_EQ(m.actionUnits[i]->displacements[0][1], -0.01 * (i + 1));
    }
    ASSERT_EQ(m.shapeUnits.size(), 4u);
    EXPECT_EQ(m.shapeUnits[1]->name, "# Eyes, width");
    EXPECT_DOUBLE_EQ(m.shapeUnits[0]->value, -0.15);
    EXPECT_DOUBLE_EQ(m.shapeUnits[1]->value, -0.3);
    EXPECT_DOUBLE_EQ(m.shapeUnits[2]->value, -0.1);
    EXPECT_DOUBLE_EQ(m.shapeUnits[3]->value, -0.25);
}

TEST(CandideParser, ShapeUnitsAreAppliedOnceToNeutralOnly) {
    CandideModel m;
    ASSERT_TRUE(parse(m, MiniModel().text()).ok);
    // Vertex 2 (1, -1, 1): eyes vertical (0, -1, 0) x -0.15, eyes width (1, 0, 0) x -0.3.
    expectNeutral(m, 2, 1.0 - 0.3, -1.0 + 0.15, 1.0);
    // Vertex 3 (2, -2, 2): eyes width (0, 0, 2) x -0.3 and separation (1, 0, 0) x -0.1.
    expectNeutral(m, 3, 2.0 - 0.1, -2.0, 2.0 - 0.6);
    // Vertex 4 (3, -3, 3): mouth (0, 1, 0) x -0.25.
    expectNeutral(m, 4, 3.0, -3.0 - 0.25, 3.0);
    EXPECT_DOUBLE_EQ(m.vertices[3]->animated[0], 2.0);
    EXPECT_DOUBLE_EQ(m.vertices[3]->transformed[2], 2.0);
}

TEST(CandideParser, InitLeavesZeroWeightsAndUnitPose) {
    CandideModel m;
    ASSERT_TRUE(parse(m, MiniModel().text()).ok);
    EXPECT_EQ(m.transformParams, (std::vector<double>{1, 0, 0, 0, 0, 0}));
    m.updateActionUnitVectors();
    for (const auto& v : m.vertices)
        for (int c = 0; c < 3; ++c) EXPECT_EQ(v->animated[c], v->neutral[c]);
}

TEST(CandideParser, VertexPointsAreSharedWithThePointList) {
    CandideModel m;
    ASSERT_TRUE(parse(m, MiniModel().text()).ok);
    ASSERT_EQ(m.points.size(), m.vertices.size());
    ASSERT_EQ(m.projectedXY.size(), 2 * m.vertices.size());
    for (size_t k = 0; k < m.vertices.size(); ++k) EXPECT_EQ(m.points[k].get(), m.vertices[k]->point.get());
    for (double v : m.projectedXY) EXPECT_EQ(v, 0.0);
}

TEST(CandideParser, RealModelCounts) {
    const std::string text = readRealModelText();
    ASSERT_FALSE(text.empty()) << "candide3.wfm not found at " << KVO_CANDIDE_SOURCE;
    CandideModel m;
    ParseResult r = parse(m, text);
    ASSERT_TRUE(r.ok) << r.output;
    EXPECT_EQ(r.output, "");
    EXPECT_EQ(m.vertices.size(), 113u);
    EXPECT_EQ(m.faces.size(), 184u);
    EXPECT_EQ(m.triangles.size(), 3u * 184u);
    EXPECT_EQ(m.triangles[0], 0);
    EXPECT_EQ(m.triangles[1], 11);
    EXPECT_EQ(m.triangles[2], 1);
    const size_t auSizes[] = {8, 10, 12, 18, 14, 14, 8};  // AUV9, 0, 11, 2, 3, 14, 5
    ASSERT_EQ(m.actionUnits.size(), 7u);
    for (int i = 0; i < 7; ++i) EXPECT_EQ(m.actionUnits[i]->vertexIndices.size(), auSizes[i]) << i;
    const size_t suSizes[] = {36, 20, 36, 21};
    ASSERT_EQ(m.shapeUnits.size(), 4u);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(m.shapeUnits[i]->vertexIndices.size(), suSizes[i]) << i;
    // AUV9's first record: "8 0.000000 0.032500 0.000000".
    EXPECT_EQ(m.actionUnits[0]->vertexIndices[0], 8);
    EXPECT_DOUBLE_EQ(m.actionUnits[0]->displacements[0][1], -0.0325);
    // Vertex 1 is "0.174000 0.800000 -0.024000" and no shape unit read here moves it.
    EXPECT_DOUBLE_EQ(m.vertices[1]->neutral[1], -0.8);
}

TEST(CandideParser, MissingSectionIsReportedAndLeavesModelUnusable) {
    MiniModel mm;
    mm.drop("# AUV14");
    CandideModel m;
    ParseResult r = parse(m, mm.text());
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.output, "Error: Error: getLineIndexOf: # AUV14 not found.\n");
    expectEmptyAndUnusable(m);
    EXPECT_EQ(m.transformParams, (std::vector<double>{1, 0, 0, 0, 0, 0}));
}

TEST(CandideParser, ShortRecordIsRejected) {
    MiniModel mm;
    mm.records("# VERTEX LIST:")[2] = "1.0 1.0";
    CandideModel m;
    ParseResult r = parse(m, mm.text());
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.output.rfind("Error: ", 0), 0u);
    EXPECT_NE(r.output.find("# VERTEX LIST"), std::string::npos);
    EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 1);
    expectEmptyAndUnusable(m);
}

TEST(CandideParser, ShortUnitRecordIsRejected) {
    MiniModel mm;
    mm.records("# Eyes, width")[1] = "3 0.0 0.0";
    CandideModel m;
    EXPECT_FALSE(parse(m, mm.text()).ok);
    expectEmptyAndUnusable(m);
}

TEST(CandideParser, CountBeyondTheRecordsIsRejected) {
    // Every count one too large: the vertex section would run into the blank line.
    CandideModel m;
    ParseResult r = parse(m, MiniModel().text(1));
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.output.find("malformed"), std::string::npos);
    expectEmptyAndUnusable(m);

    // A count that runs past the end of the text.
    CandideModel m2;
    r = parse(m2, "# VERTEX LIST\n5\n1 2 3\n");
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.output.find("text ends"), std::string::npos);
    expectEmptyAndUnusable(m2);
}

TEST(CandideParser, HeaderAtTheEndWithoutCountIsRejected) {
    CandideModel m;
    ParseResult r = parse(m, "# VERTEX LIST");
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.output.find("no record count"), std::string::npos);
    expectEmptyAndUnusable(m);
}

TEST(CandideParser, VertexNumbersOutsideTheListAreRejected) {
    MiniModel unit;
    unit.records("# AUV3")[0] = "5 0.1 0.1 0.1";  // the mini model has vertices 0..4
    CandideModel a;
    EXPECT_FALSE(parse(a, unit.text()).ok);
    expectEmptyAndUnusable(a);

    MiniModel face;
    face.records("# FACE LIST:")[0] = "0 -1 2";
    CandideModel b;
    EXPECT_FALSE(parse(b, face.text()).ok);
    expectEmptyAndUnusable(b);
}

TEST(CandideParser, NonNumericRecordIsRejected) {
    MiniModel mm;
    mm.records("# FACE LIST:")[0] = "0 one 2";
    CandideModel m;
    EXPECT_FALSE(parse(m, mm.text()).ok);
    expectEmptyAndUnusable(m);
}

TEST(CandideParser, ParsingAgainReplacesTheModel) {
    CandideModel once, twice;
    ASSERT_TRUE(parse(once, MiniModel().text()).ok);
    ASSERT_TRUE(parse(twice, MiniModel().text()).ok);
    ASSERT_TRUE(parse(twice, MiniModel().text()).ok);
    EXPECT_EQ(twice.actionUnits.size(), 7u);
    EXPECT_EQ(twice.shapeUnits.size(), 4u);
    EXPECT_EQ(twice.triangles, once.triangles);
    for (size_t k = 0; k < once.vertices.size(); ++k)
        for (int c = 0; c < 3; ++c) EXPECT_EQ(twice.vertices[k]->neutral[c], once.vertices[k]->neutral[c]);
}

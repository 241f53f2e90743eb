// The 300-W reader and conversion on inputs the test makes: .pts files (1-based in, 0-based
// out, bad files reported), the fixed validation split, and the fill of the points dlib's
// layout lacks, checked against hand-marked MUCT shapes carried into dlib's layout.
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "DlibLayoutFace.h"
#include "Faces300W.h"
#include "LandmarkCorrespondence.h"

namespace kvo {
namespace trainer {
namespace {

std::string tempDir() {
    char tmpl[] = "/tmp/kvo_300w_XXXXXX";
    return mkdtemp(tmpl) ? std::string(tmpl) : std::string();
}

void writePts(const std::string& path, int n, double base) {
    std::ofstream out(path);
    out << "version: 1\nn_points: " << n << "\n{\n";
    for (int i = 0; i < n; ++i) out << base + i << " " << base + 2 * i << "\n";
    out << "}\n";
}

TEST(Faces300W, PtsCoordinatesBecomeZeroBased) {
    const std::string dir = tempDir();
    ASSERT_FALSE(dir.empty());
    writePts(dir + "/a.pts", 68, 1.0);
    ShapeVec p;
    std::string error;
    ASSERT_TRUE(readPts(dir + "/a.pts", p, error)) << error;
    ASSERT_EQ(p.size(), 136u);
    EXPECT_DOUBLE_EQ(p[0], 0.0);
    EXPECT_DOUBLE_EQ(p[1], 0.0);
    EXPECT_DOUBLE_EQ(p[2 * 67], 67.0);
    EXPECT_DOUBLE_EQ(p[2 * 67 + 1], 134.0);
    // Wrong count, a bad number, no file: reported, output untouched.
    writePts(dir + "/b.pts", 67, 1.0);
    { std::ofstream(dir + "/c.pts") << "version: 1\nn_points: 68\n{\n1 x\n}\n"; }
    for (const char* bad : {"/b.pts", "/c.pts", "/none.pts"}) {
        error.clear();
        ShapeVec q{42.0};
        EXPECT_FALSE(readPts(dir + bad, q, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
        EXPECT_EQ(q.size(), 1u) << bad;
    }
    std::system(("rm -rf " + dir).c_str());
}

TEST(Faces300W, EveryTenthFaceBySortedNameIsHeldOut) {
    const std::string dir = tempDir();
    ASSERT_FALSE(dir.empty());
    // 25 faces written in reverse order, one .pts without its image and one broken file.
    for (int k = 24; k >= 0; --k) {
        char name[32];
        std::snprintf(name, sizeof name, "/f%02d", k);
        writePts(dir + name + ".pts", 68, 1.0 + k);
        std::ofstream(dir + name + ".jpg") << "x";
    }
    writePts(dir + "/lonely.pts", 68, 1.0);
    writePts(dir + "/f05.pts", 60, 1.0);  // unreadable: skipped, but keeps its place
    std::vector<Face300W> faces;
    std::string error;
    ASSERT_TRUE(listFaces300W(dir, faces, error)) << error;
    ASSERT_EQ(faces.size(), 24u);
    std::vector<std::string> held;
    for (const Face300W& f : faces)
        if (f.validation) held.push_back(f.name);
    EXPECT_EQ(held, (std::vector<std::string>{"f09", "f19"}));
    EXPECT_EQ(faces.front().name, "f00");
    EXPECT_DOUBLE_EQ(faces[3].dlib[0], 3.0);  // f03's first x, 0-based
    std::vector<Face300W> none;
    EXPECT_FALSE(listFaces300W(dir + "/missing", none, error));
    std::system(("rm -rf " + dir).c_str());
}

// The points our layout has and dlib's lacks, filled from the MUCT shape model, must land
// near where MUCT's annotators put them.
TEST(Faces300W, FilledPointsMatchHandMarkedMuctShapes) {
    const Converter300W conv(KVO_MUCT_SHAPES);
    ASSERT_TRUE(conv.ok()) << conv.error();
    std::vector<ShapeVec> muct = readMuctShapes(KVO_MUCT_SHAPES, 0);
    ASSERT_GT(muct.size(), 5000u);
    const int filledPts[] = {19, 20, 25, 26, 31, 36, 37, 38, 39, 40, 42, 43, 44, 45, 46, 47};
    double sum[68] = {0};
    int n = 0;
    for (size_t k = 0; k < muct.size(); k += 29) {
        ShapeVec o = muct[k];
        for (size_t i = 1; i < o.size(); i += 2) o[i] = -o[i];  // back to y down
        ShapeVec ours;
        ASSERT_TRUE(conv.convert(kvotest::dlibFromOurs(o), ours));
        const double eye = std::hypot(o[2 * 27] - o[2 * 32], o[2 * 27 + 1] - o[2 * 32 + 1]);
        for (int i : filledPts) sum[i] += std::hypot(ours[2 * i] - o[2 * i], ours[2 * i + 1] - o[2 * i + 1]) / eye;
        // The shared points come through unchanged.
        for (const landmarks::LandmarkPair& p : landmarks::sharedPairs()) {
            ASSERT_NEAR(ours[2 * p.ours], o[2 * p.ours], 1e-9);
            ASSERT_NEAR(ours[2 * p.ours + 1], o[2 * p.ours + 1], 1e-9);
        }
        ++n;
    }
    ASSERT_GT(n, 150);
    double all = 0;
    for (int i : filledPts) {
        const double mean = sum[i] / n;
        all += mean;
        // Pupils, nostrils, nose sides and lower brow edges: within a tenth of the
        // outer-eye distance on average, each of them.
        EXPECT_LT(mean, 0.10) << "point " << i;
    }
    const double overall = all / (sizeof filledPts / sizeof filledPts[0]);
    std::printf("filled points: mean error %.4f outer-eye distances over %d MUCT shapes\n", overall, n);
    EXPECT_LT(overall, 0.06);
}

}  // namespace
}  // namespace trainer
}  // namespace kvo

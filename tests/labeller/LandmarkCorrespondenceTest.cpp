// The one table of landmarks our layout shares with dlib's: its shape (one-to-one, mirror
// consistent), its meaning on real MUCT shapes carried into dlib's layout, and the error.
#include <cmath>
#include <set>

#include <gtest/gtest.h>

#include "LandmarkCorrespondence.h"
#include "LandmarkSchemes.h"
#include "MuctFixture.h"

namespace kvo {
namespace landmarks {
namespace {

TEST(LandmarkCorrespondence, PairsAreOneToOneWithSeventeenCorePointsFirst) {
    const std::vector<LandmarkPair>& pairs = sharedPairs();
    ASSERT_EQ(pairs.size(), static_cast<size_t>(SHARED_COUNT));
    std::set<int> ours, dlib;
    int core = 0;
    for (size_t k = 0; k < pairs.size(); ++k) {
        ASSERT_GE(pairs[k].ours, 0);
        ASSERT_LT(pairs[k].ours, NUM_POINTS);
        ASSERT_GE(pairs[k].dlib, 0);
        ASSERT_LT(pairs[k].dlib, NUM_POINTS);
        EXPECT_TRUE(ours.insert(pairs[k].ours).second) << "our point " << pairs[k].ours << " twice";
        EXPECT_TRUE(dlib.insert(pairs[k].dlib).second) << "dlib point " << pairs[k].dlib << " twice";
        if (pairs[k].core) {
            EXPECT_EQ(static_cast<int>(k), core) << "core points come first";
            ++core;
        }
    }
    EXPECT_EQ(core, CORE_COUNT);
}

// A pair's mirror partners must form a pair too: a left/right mix-up breaks this.
TEST(LandmarkCorrespondence, MirrorPartnersArePairedWithEachOther) {
    std::set<std::pair<int, int>> pairs;
    for (const LandmarkPair& p : sharedPairs()) pairs.insert({p.ours, p.dlib});
    for (const LandmarkPair& p : sharedPairs()) {
        const int o = labeller::OURS_PARTNER[p.ours], d = labeller::DLIB_PARTNER[p.dlib];
        EXPECT_TRUE(pairs.count({o, d})) << "(" << p.ours << ", " << p.dlib << ") mirrors to (" << o << ", " << d
                                         << "), which is not a pair";
    }
}

// Every complete MUCT shape carried into dlib's layout must obey dlib's own ordering of
// those points (frontal and near-frontal faces, image-left to image-right, top to bottom),
// and come back unchanged.
TEST(LandmarkCorrespondence, MuctShapesInDlibLayoutFollowDlibsDefinitions) {
    int checked = 0;
    std::array<int, 8> failures{};
    for (const labeller::MuctShape& m : labeller::test::muctShapes()) {
        if (!labeller::test::isComplete(m)) continue;
        double ours[136], dlib[136] = {0}, back[136] = {0};
        for (int i = 0; i < NUM_POINTS; ++i) {
            ours[2 * i] = m.points[i].x();
            ours[2 * i + 1] = m.points[i].y();
        }
        std::array<bool, NUM_POINTS> knownD, knownO;
        oursToDlib(ours, dlib, knownD);
        dlibToOurs(dlib, back, knownO);
        for (int i = 0; i < NUM_POINTS; ++i) {
            if (knownO[i]) {
                ASSERT_EQ(back[2 * i], ours[2 * i]);
                ASSERT_EQ(back[2 * i + 1], ours[2 * i + 1]);
            }
        }
        auto x = [&](int i) { return dlib[2 * i]; };
        auto y = [&](int i) { return dlib[2 * i + 1]; };
        // Eye corners: 36 outer < 39 inner < 42 inner < 45 outer.
        failures[0] += !(x(36) < x(39) && x(39) < x(42) && x(42) < x(45));
        // Brow ends: 17 outer < 21 inner < 22 inner < 26 outer, above the eyes' corners.
        failures[1] += !(x(17) < x(21) && x(21) < x(22) && x(22) < x(26));
        failures[2] += !(y(17) < y(36) && y(26) < y(45) && y(21) < y(39) && y(22) < y(42));
        // Nose: tip 30 above the base centre 33, both between the inner eye corners.
        failures[3] += !(y(30) < y(33) && x(39) < x(30) && x(30) < x(42) && x(39) < x(33) && x(33) < x(42));
        // Mouth: corners outside the centres; outer top 51 above inner top 62 above inner
        // bottom 66 (or touching) above outer bottom 57.
        failures[4] += !(x(48) < x(51) && x(51) < x(54) && x(48) < x(57) && x(57) < x(54));
        failures[5] += !(y(51) < y(62) && y(62) <= y(66) + 1.0 && y(66) < y(57));
        // Chin 8 below every other shared point.
        bool lowest = true;
        for (const LandmarkPair& p : sharedPairs())
            if (p.dlib != 8 && y(p.dlib) >= y(8)) lowest = false;
        failures[6] += !lowest;
        // Outer lip order: 48 .. 54 along the top, 54 .. 59 back along the bottom.
        failures[7] += !(x(48) < x(49) && x(49) < x(50) && x(50) < x(51) && x(51) < x(52) && x(52) < x(53) &&
                         x(53) < x(54) && x(55) > x(56) && x(56) > x(57) && x(57) > x(58) && x(58) > x(59));
        ++checked;
    }
    ASSERT_GT(checked, 5000);
    const char* what[8] = {"eye corners", "brow ends", "brows above eyes", "nose", "mouth corners",
                           "lip centres", "chin", "outer lip order"};
    // MUCT holds turned heads (up to about 45 degrees): a few shapes may break a horizontal
    // order, never more than 1 % of them.
    for (int k = 0; k < 8; ++k) EXPECT_LE(failures[k], checked / 100) << what[k] << ": " << failures[k];
}

TEST(LandmarkCorrespondence, ErrorIsTheMeanDistanceOverTheOuterEyeDistance) {
    double ref[136] = {0}, shape[136] = {0};
    for (int i = 0; i < NUM_POINTS; ++i) {
        ref[2 * i] = 100 + i;
        ref[2 * i + 1] = 50 + 2 * i;
    }
    ref[2 * DLIB_LEFT_EYE_OUTER] = 100;
    ref[2 * DLIB_LEFT_EYE_OUTER + 1] = 80;
    ref[2 * DLIB_RIGHT_EYE_OUTER] = 200;
    ref[2 * DLIB_RIGHT_EYE_OUTER + 1] = 80;
    // Our-layout shape on the reference, every core point moved 5 px right and the other
    // shared points 10 px down.
    for (const LandmarkPair& p : sharedPairs()) {
        shape[2 * p.ours] = ref[2 * p.dlib] + (p.core ? 5.0 : 0.0);
        shape[2 * p.ours + 1] = ref[2 * p.dlib + 1] + (p.core ? 0.0 : 10.0);
    }
    const LandmarkError core = landmarkError(shape, Layout::Ours, ref, PointSet::Core);
    const LandmarkError all = landmarkError(shape, Layout::Ours, ref, PointSet::Shared);
    EXPECT_NEAR(core.mean, 0.05, 1e-12);
    EXPECT_NEAR(all.mean, (17 * 0.05 + 8 * 0.10) / 25.0, 1e-12);
    EXPECT_NEAR(core.perGroup[static_cast<int>(Group::Chin)], 0.05, 1e-12);
    EXPECT_NEAR(all.perGroup[static_cast<int>(Group::Mouth)], (6 * 0.05 + 8 * 0.10) / 14.0, 1e-12);
    // The reference against itself, read in dlib's layout.
    EXPECT_EQ(landmarkError(ref, Layout::Dlib, ref, PointSet::Shared).mean, 0.0);
    // No eye distance: no figure rather than infinity.
    double flat[136] = {0};
    EXPECT_TRUE(std::isnan(landmarkError(shape, Layout::Ours, flat, PointSet::Core).mean));
}

}  // namespace
}  // namespace landmarks
}  // namespace kvo

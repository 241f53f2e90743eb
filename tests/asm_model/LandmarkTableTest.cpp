#include <gtest/gtest.h>

#include "asm/FaceLandmarks.h"

namespace kvo {
namespace {

class LandmarkTableTest : public ::testing::Test {
protected:
    void SetUp() override {
        FaceLandmarks::gLandTab.clear();
        FaceLandmarks::gLand76Tab.clear();
        FaceLandmarks::nOldPoints = 0;
        FaceLandmarks::initGLandTab();
    }
    void TearDown() override {
        FaceLandmarks::gLandTab.clear();
        FaceLandmarks::gLand76Tab.clear();
        FaceLandmarks::nOldPoints = 0;
    }
    static void expectEntry(const LandmarkPtr& l, int bits, int partner, int prev, int next) {
        ASSERT_TRUE(l);
        EXPECT_EQ(bits, l->bits);
        EXPECT_EQ(partner, l->partner);
        EXPECT_EQ(prev, l->prev);
        EXPECT_EQ(next, l->next);
    }
    const LandmarkTable& tab = FaceLandmarks::gLandTab;
};

TEST_F(LandmarkTableTest, BuildsBothTablesWithDistinctDescriptors) {
    ASSERT_EQ(84u, tab.size());
    ASSERT_EQ(8u, FaceLandmarks::gLand76Tab.size());
    EXPECT_NE(tab[1].get(), tab[2].get());
    expectEntry(tab[0], 6, 14, 21, 1);
    expectEntry(tab[20], 2, 26, 32, 19);
    expectEntry(tab[45], 2, 37, 44, 31);
    expectEntry(tab[47], 8, 46, 46, 37);
    expectEntry(tab[66], 0, -1, 54, 48);
    expectEntry(tab[71], 258, 79, 14, 7);
    expectEntry(tab[79], 258, 71, 0, 7);
    expectEntry(tab[83], 258, 75, 17, 7);
    expectEntry(FaceLandmarks::gLand76Tab[0], 2, -1, 27, 28);
    expectEntry(FaceLandmarks::gLand76Tab[7], 2, -1, 35, 32);
}

TEST_F(LandmarkTableTest, PartnersAreMutual) {
    for (int i = 0; i < 84; ++i) {
        const int p = tab[i]->partner;
        if (p < 0) continue;
        ASSERT_LT(p, 84) << "landmark " << i;
        EXPECT_EQ(i, tab[p]->partner) << "landmark " << i << " names " << p;
    }
}

TEST_F(LandmarkTableTest, AttributeBitsUseTheLegend) {
    EXPECT_EQ(FaceAttributes::FA_Synthesize | FaceAttributes::FA_Glasses, tab[68]->bits);
    EXPECT_EQ(FaceAttributes::FA_Beard | FaceAttributes::FA_Glasses, tab[0]->bits);
    EXPECT_EQ(FaceAttributes::FA_Mustache, tab[41]->bits);
    EXPECT_EQ(0x2000, FaceAttributes::FA_Rowley);
    EXPECT_EQ(0x1, FaceAttributes::FA_BadImage);
}

TEST_F(LandmarkTableTest, NeighboursFollowTheTableOrTheIndexOrder) {
    const int n = 68;
    EXPECT_EQ(21, FaceLandmarks::previousNeighbour(tab, 0, n));
    EXPECT_EQ(1, FaceLandmarks::nextNeighbour(tab, 0, n));
    EXPECT_EQ(0, FaceLandmarks::previousNeighbour(tab, 1, n));
    EXPECT_EQ(2, FaceLandmarks::nextNeighbour(tab, 1, n));
    EXPECT_EQ(40, FaceLandmarks::previousNeighbour(tab, 41, n));
    EXPECT_EQ(42, FaceLandmarks::nextNeighbour(tab, 41, n));
    EXPECT_EQ(13, FaceLandmarks::previousNeighbour(tab, 14, n));
    EXPECT_EQ(15, FaceLandmarks::nextNeighbour(tab, 14, n));
    EXPECT_EQ(48, FaceLandmarks::previousNeighbour(tab, 67, n));
    EXPECT_EQ(54, FaceLandmarks::nextNeighbour(tab, 67, n));
}

TEST_F(LandmarkTableTest, IndexOrderWrapsAround) {
    // Landmark 7 names neither neighbour.
    EXPECT_EQ(6, FaceLandmarks::previousNeighbour(tab, 7, 68));
    // Landmark 57 has -1 entries; as the last of a 58-point shape its next wraps to 0.
    EXPECT_EQ(0, FaceLandmarks::nextNeighbour(tab, 57, 58));
    // Without a table the index rule wraps at both ends.
    const LandmarkTable empty;
    EXPECT_EQ(67, FaceLandmarks::previousNeighbour(empty, 0, 68));
    EXPECT_EQ(0, FaceLandmarks::nextNeighbour(empty, 67, 68));
}

TEST_F(LandmarkTableTest, NeighboursOutsideTheShapeFallBackToIndexOrder) {
    // Landmark 0 names 21 as its previous neighbour; a 20-point shape has no 21.
    EXPECT_EQ(19, FaceLandmarks::previousNeighbour(tab, 0, 20));
    EXPECT_EQ(1, FaceLandmarks::nextNeighbour(tab, 0, 20));
    // An index outside the shape is returned unchanged rather than read.
    EXPECT_EQ(90, FaceLandmarks::previousNeighbour(tab, 90, 68));
    EXPECT_EQ(-1, FaceLandmarks::nextNeighbour(tab, -1, 68));
}

TEST_F(LandmarkTableTest, RepeatedBuildAppendsAndKeepsTheFirstCopyInFront) {
    const Landmark* first = tab[5].get();
    FaceLandmarks::initGLandTab();
    ASSERT_EQ(168u, tab.size());
    EXPECT_EQ(16u, FaceLandmarks::gLand76Tab.size());
    EXPECT_EQ(first, tab[5].get());
    expectEntry(tab[84], 6, 14, 21, 1);
}

}  // namespace
}  // namespace kvo

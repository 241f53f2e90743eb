// The parts of finding every face of a picture on their own: the plan of tile scans
// (every face width from the smallest asked for up to the whole picture lies in some
// scan's window range, and tiles overlap by more than a window), the distinct window
// groups, and the window onto a picture at any scale.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include <opencv2/core.hpp>

#include "DetectionWindows.h"
#include "FaceCandidates.h"
#include "ScanPlan.h"
#include "StillFraming.h"

namespace {

using kvo::app::Box;
using kvo::app::FaceCandidate;
using kvo::app::ScanPlan;
using kvo::app::ScanTile;
using kvo::app::StillFraming;
using kvo::app::TileWindows;

const int kSide = 720;
const double kWholeSmallest = 60.0;  // the whole scan's smallest window, canvas pixels

// The windows a pass of the plan reports, picture pixels.
struct Reach {
    double scale, smallest, largest;
};

std::vector<Reach> passes(const ScanPlan& plan, const TileWindows& w) {
    const kvo::app::WindowRange r = kvo::app::reportedWindows(w.startScale, w.scaleIncrement, w.maxScale, kSide, kSide);
    std::vector<Reach> out;
    for (const ScanTile& t : plan.tiles) {
        if (out.empty() || out.back().scale != t.scale) out.push_back({t.scale, r.smallest / t.scale, r.largest / t.scale});
    }
    return out;
}

TEST(ScanPlanTest, EveryFaceWidthFallsInSomePassAndTilesCoverThePicture) {
    const TileWindows w;
    const int sizes[][2] = {{4000, 3000}, {6000, 4000}, {1024, 817}, {817, 1024}, {1300, 700}};
    for (const auto& size : sizes) {
        const int pw = size[0], ph = size[1];
        const double wholeScale = 480.0 / std::max(pw, ph);
        const ScanPlan plan = kvo::app::planTiles(pw, ph, kSide, 40.0, wholeScale, kWholeSmallest, w);
        ASSERT_FALSE(plan.tiles.empty()) << pw << " x " << ph;
        EXPECT_NEAR(plan.smallestFace, 40.0, 1e-9);
        const std::vector<Reach> reach = passes(plan, w);
        // Finest first: 40 px at the smallest window; then each pass's smallest face is
        // below the previous one's largest, and the last reaches the whole scan's faces.
        EXPECT_NEAR(reach.front().smallest, 40.0, 1e-9);
        for (size_t k = 1; k < reach.size(); ++k) {
            EXPECT_LT(reach[k].scale, reach[k - 1].scale);
            EXPECT_LT(reach[k].smallest, reach[k - 1].largest) << "a gap between passes " << k - 1 << " and " << k;
            EXPECT_GE(reach[k].scale, wholeScale - 1e-12);
        }
        EXPECT_GT(reach.back().largest, kWholeSmallest / wholeScale) << "a gap before the whole scan";
        // Every tile lies within the picture; each pass covers every picture pixel, with
        // neighbouring tiles overlapping by more than the largest window.
        for (const Reach& p : reach) {
            cv::Mat covered((ph + 9) / 10, (pw + 9) / 10, CV_8U, cv::Scalar(0));
            for (const ScanTile& t : plan.tiles) {
                if (t.scale != p.scale) continue;
                EXPECT_GE(t.region.x, -1e-6);
                EXPECT_LE(t.region.x + t.region.width, pw + 1e-6);
                EXPECT_LE(t.region.width * t.scale, kSide + 1e-6);
                EXPECT_NEAR(t.offsetX, -t.region.x * t.scale, 1e-6);
                covered(cv::Rect(cv::Point(int(t.region.x / 10), int(t.region.y / 10)),
                                 cv::Point(int(std::ceil((t.region.x + t.region.width) / 10)),
                                           int(std::ceil((t.region.y + t.region.height) / 10))))
                            & cv::Rect(0, 0, covered.cols, covered.rows))
                    .setTo(1);
                // The next tile to the right on the same row.
                const ScanTile* next = nullptr;
                for (const ScanTile& u : plan.tiles) {
                    if (u.scale != p.scale || std::fabs(u.region.y - t.region.y) > 1e-6 || u.region.x <= t.region.x) continue;
                    if (next == nullptr || u.region.x < next->region.x) next = &u;
                }
                if (next != nullptr) {
                    EXPECT_GT((t.region.x + t.region.width - next->region.x) * p.scale, 150.0);
                }
            }
            EXPECT_EQ(cv::countNonZero(covered), covered.rows * covered.cols) << pw << " x " << ph << " at " << p.scale;
        }
    }
}

TEST(ScanPlanTest, NoTilesWhenTheWholeScanReachesTheSmallestFace) {
    const TileWindows w;
    // A 480 px picture is on the canvas at scale 1: the whole scan reports 60 px faces.
    EXPECT_TRUE(kvo::app::planTiles(480, 360, kSide, 60.0, 1.0, kWholeSmallest, w).tiles.empty());
    EXPECT_TRUE(kvo::app::planTiles(4000, 3000, kSide, 0.0, 0.12, kWholeSmallest, w).tiles.empty());
    // Asked for smaller faces, the same picture gets one tile pass at a finer scale.
    const ScanPlan plan = kvo::app::planTiles(480, 360, kSide, 40.0, 1.0, kWholeSmallest, w);
    ASSERT_EQ(plan.tiles.size(), 1u);
    EXPECT_GT(plan.tiles[0].scale, 1.0);
}

std::vector<Box> windowsAround(double x, double y, double w, int n) {
    std::vector<Box> out;
    for (int i = 0; i < n; ++i) {
        const double dx = (i % 3 - 1) * 0.05 * w, dy = (i / 3 % 3 - 1) * 0.05 * w, s = 1.0 + 0.04 * (i % 4);
        out.push_back(Box{x + dx, y + dy, w * s, w * s});
    }
    return out;
}

TEST(FaceCandidatesTest, EachFaceIsOneGroupStrongestFirst) {
    // Two faces side by side (12 and 7 windows), a lone window elsewhere, and a few
    // small windows on the first face's eye.
    std::vector<Box> raw = windowsAround(100, 100, 80, 12);
    const std::vector<Box> second = windowsAround(220, 110, 70, 7);
    raw.insert(raw.end(), second.begin(), second.end());
    raw.push_back(Box{400, 300, 50, 50});
    const std::vector<Box> eye = windowsAround(115, 120, 24, 3);
    raw.insert(raw.end(), eye.begin(), eye.end());
    const std::vector<kvo::app::WindowGroup> groups = kvo::app::distinctGroups(raw, 3);
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0].windows, 12);
    EXPECT_NEAR(groups[0].face.x + 0.5 * groups[0].face.width, 140 + 0.06 * 80, 6.0);
    EXPECT_EQ(groups[1].windows, 7);
    EXPECT_NEAR(groups[1].face.x + 0.5 * groups[1].face.width, 255 + 0.06 * 70, 6.0);
    EXPECT_GT(groups[0].score, groups[1].score);
    // With one window enough, the lone window is a face too, and the eye's windows,
    // centred inside the first face, never are.
    const std::vector<kvo::app::WindowGroup> all = kvo::app::distinctGroups(raw, 1);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_DOUBLE_EQ(all[2].face.x, 400.0);
}

TEST(FaceCandidatesTest, TheSameFaceFromTwoScansIsKeptOnceAtItsStrongest) {
    std::vector<FaceCandidate> c(4);  // in no particular order
    c[0].face = Box{100, 100, 80, 80}, c[0].score = 5;
    c[1].face = Box{104, 98, 84, 84}, c[1].score = 9;   // the same face, found stronger in a tile
    c[2].face = Box{300, 100, 80, 80}, c[2].score = 2;   // another face
    c[3].face = Box{-100, -100, 400, 400}, c[3].score = 1;  // a weak window around both
    kvo::app::keepDistinct(c);
    ASSERT_EQ(c.size(), 2u);
    // The first face once, at its strongest box; the second face; not the window around
    // them, which would replace them with one wrong box.
    EXPECT_DOUBLE_EQ(c[0].score, 9);
    EXPECT_DOUBLE_EQ(c[0].face.x, 104);
    EXPECT_DOUBLE_EQ(c[1].score, 2);

    // A part of a face stronger than the face: the face, wider around it and at least half
    // as strong, gives its box; a wide group with less than half the score does not.
    std::vector<FaceCandidate> p(3);
    p[0].face = Box{230, 360, 110, 110}, p[0].score = 12;  // mouth and nose
    p[1].face = Box{0, 100, 540, 540}, p[1].score = 10;    // the whole face around them
    p[2].face = Box{600, 100, 80, 80}, p[2].score = 8;     // another face
    kvo::app::keepDistinct(p);
    ASSERT_EQ(p.size(), 2u);
    EXPECT_DOUBLE_EQ(p[0].score, 12);
    EXPECT_DOUBLE_EQ(p[0].face.width, 540);
    p.assign(2, FaceCandidate());
    p[0].face = Box{230, 360, 110, 110}, p[0].score = 12;
    p[1].face = Box{0, 100, 540, 540}, p[1].score = 5;
    kvo::app::keepDistinct(p);
    ASSERT_EQ(p.size(), 1u);
    EXPECT_DOUBLE_EQ(p[0].face.width, 110);

    EXPECT_DOUBLE_EQ(kvo::app::overlap(Box{0, 0, 10, 10}, Box{5, 0, 10, 10}), 50.0 / 150.0);
    EXPECT_DOUBLE_EQ(kvo::app::overlap(Box{0, 0, 10, 10}, Box{20, 0, 10, 10}), 0.0);
}

TEST(StillFramingTest, AWindowOntoThePictureAtAnyScaleMapsBothWays) {
    // A 3000 x 2000 picture with a 40 px bright block; the window shows it enlarged
    // three times at the canvas centre, and a second window at a quarter of the size
    // shows the picture's corner with the rest of the canvas in the shown part's colour.
    cv::Mat picture(2000, 3000, CV_8UC3, cv::Scalar(20, 20, 20));
    picture(cv::Rect(2500, 1500, 40, 40)).setTo(cv::Scalar(240, 240, 240));
    cv::Mat image;
    const StillFraming f = StillFraming::centredOn(kSide, picture, 3.0, 2520, 1520, image);
    ASSERT_EQ(image.cols, kSide);
    EXPECT_NEAR(f.toPictureX(360), 2520, 1e-9);
    EXPECT_NEAR(f.toPictureY(360), 1520, 1e-9);
    EXPECT_GT(image.at<cv::Vec3b>(360, 360)[0], 200);
    EXPECT_GT(image.at<cv::Vec3b>(360 - 55, 360 - 55)[0], 200);  // inside the 120 px block
    EXPECT_LT(image.at<cv::Vec3b>(360 - 65, 360 - 65)[0], 60);   // outside it
    EXPECT_DOUBLE_EQ(f.scanRegion().width, kSide);

    const StillFraming corner(kSide, picture, 0.25, -600.0, -400.0, image);
    // Picture pixels 2400..3000 x 1600..2000 are shown, at canvas 0..150 x 0..100.
    EXPECT_NEAR(corner.scanRegion().width, 150.0, 1.0);
    EXPECT_NEAR(corner.scanRegion().height, 100.0, 1.0);
    EXPECT_LT(image.at<cv::Vec3b>(500, 500)[0], 60);  // beyond the picture: its shown part's colour
    const Box b = corner.toPicture(Box{10, 20, 5, 5});
    EXPECT_NEAR(b.x, 2440.0, 1e-9);
    EXPECT_NEAR(b.y, 1680.0, 1e-9);
    EXPECT_NEAR(b.width, 20.0, 1e-9);
    // A window showing none of the picture has an empty region to scan.
    const StillFraming none(kSide, picture, 1.0, 5000.0, 0.0, image);
    EXPECT_DOUBLE_EQ(none.scanRegion().width, 0.0);
}

}  // namespace

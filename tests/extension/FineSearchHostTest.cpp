// The finest pyramid level the shape search reaches once tracking, chosen by a host with
// the optional fourth argument of kvo_setFaceTrackingVars: driven through the stand-in
// host on the built library, on sample frames. Each tracker is a fresh copy of the
// library, so each starts from the library's defaults.
#include "HostTrackerRig.h"

namespace {

using kvotest::HostTracker;
using kvotest::allFinite;
using kvotest::errorLines;
using kvotest::videoFrames;
using kvohost::Runtime;
constexpr int kWidth = kvotest::kWidth, kHeight = kvotest::kHeight;

class FineSearchHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (videoFrames().empty()) GTEST_SKIP() << "sample media not installed (scripts/setup.sh)";
    }
    Runtime rt;
};

TEST_F(FineSearchHostTest, AbsentThreeArgumentsTwoAndOutOfRangeAllSearchAsToday) {
    HostTracker today(rt), three(rt), two(rt), tooHigh(rt), negative(rt);
    today.run(videoFrames(), [] {});
    three.run(videoFrames(), [&] {
        three.setTrackingVars({three.rt.number(50), three.rt.number(500), three.rt.integer(1)});
    });
    two.run(videoFrames(), [&] {
        two.setTrackingVars({two.rt.number(50), two.rt.number(500), two.rt.integer(1), two.rt.integer(2)});
    });
    tooHigh.run(videoFrames(), [&] {
        tooHigh.setTrackingVars({tooHigh.rt.number(50), tooHigh.rt.number(500), tooHigh.rt.integer(1),
                                 tooHigh.rt.integer(3)});
    });
    negative.run(videoFrames(), [&] {
        negative.setTrackingVars({negative.rt.number(50), negative.rt.number(500), negative.rt.integer(1),
                                  negative.rt.integer(-1)});
    });
    ASSERT_EQ(std::count(today.states.begin(), today.states.end(), "state_face_tracking"), 35)
        << "the sample face is detected on the first frame and tracked from the sixth on";
    EXPECT_EQ(errorLines(today.printed), 0) << today.printed;
    EXPECT_EQ(errorLines(three.printed), 0) << three.printed;
    EXPECT_EQ(errorLines(two.printed), 0) << two.printed;
    EXPECT_EQ(errorLines(tooHigh.printed), 1) << tooHigh.printed;
    EXPECT_EQ(errorLines(negative.printed), 1) << negative.printed;
    for (const HostTracker* t : {&three, &two, &tooHigh, &negative}) {
        EXPECT_EQ(t->states, today.states);
        // Bit for bit: the same search, not merely a close one.
        EXPECT_EQ(t->landmarks, today.landmarks);
    }
}

TEST_F(FineSearchHostTest, LevelZeroSearchesFinerOnceTrackingAndKeepsTheFace) {
    HostTracker today(rt), fine(rt);
    today.run(videoFrames(), [] {});
    fine.run(videoFrames(), [&] {
        fine.setTrackingVars({fine.rt.number(50), fine.rt.number(500), fine.rt.integer(1), fine.rt.integer(0)});
    });
    EXPECT_EQ(errorLines(fine.printed), 0) << fine.printed;
    EXPECT_EQ(fine.states, today.states);
    size_t firstTracked = 0;
    while (firstTracked < today.states.size() && today.states[firstTracked] != "state_face_tracking") ++firstTracked;
    ASSERT_GT(firstTracked, 1u);
    ASSERT_LT(firstTracked, today.states.size());
    // The state a frame reports is the one its search started in, so the search of the
    // frame before the first "state_face_tracking" is already past the start phase. The
    // start phase searches levels 3 and 2 whatever the setting.
    const size_t firstFine = firstTracked - 1;
    for (size_t i = 0; i < firstFine; ++i) EXPECT_EQ(fine.landmarks[i], today.landmarks[i]) << "frame " << i;
    int differing = 0;
    for (size_t i = firstFine; i < fine.landmarks.size(); ++i) {
        ASSERT_EQ(fine.landmarks[i].size(), 136u);
        EXPECT_TRUE(allFinite(fine.landmarks[i])) << "frame " << i;
        differing += fine.landmarks[i] != today.landmarks[i];
        // The finer search refines the same face: every landmark within a few pixels.
        double largest = 0;
        for (size_t k = 0; k < 136; ++k) largest = std::max(largest, std::fabs(fine.landmarks[i][k] - today.landmarks[i][k]));
        EXPECT_LT(largest, 25.0) << "frame " << i;
    }
    // It moves the landmarks on most tracked frames (a setting that changed nothing would not).
    EXPECT_GT(2 * differing, static_cast<int>(fine.landmarks.size() - firstFine));
}

// Every sample still fed 20 times at level 0: where today's search tracks the face, the
// level-0 search tracks it too (valid: size, frame, strict layout and pose checks), with
// finite landmarks throughout.
TEST_F(FineSearchHostTest, LevelZeroKeepsTheShapeFiniteAndValidOnTheSampleStills) {
    const char* const stills[] = {"audrey.jpg",         "cage.jpg",          "clmtrackr01.jpg", "clmtrackr02.jpg",
                                  "franck_01829.jpg",   "franck_02683.jpg",  "franck_04000.jpg", "joconde.jpg",
                                  "SeanConnery.jpg",    "vendetta.jpg",      "ironman.jpg",      "obama4_crop.jpg"};
    int trackedToday = 0;
    for (const char* name : stills) {
        std::vector<uint32_t> px;
        if (!kvotest::decodeBgraImage(kvotest::mediaPath(name), kWidth, kHeight, px)) {
            ADD_FAILURE() << "cannot decode " << name;
            continue;
        }
        const std::vector<std::vector<uint32_t>> frames(20, px);
        HostTracker today(rt), fine(rt);
        today.run(frames, [] {});
        fine.run(frames, [&] {
            fine.setTrackingVars({fine.rt.number(50), fine.rt.number(500), fine.rt.integer(1), fine.rt.integer(0)});
        });
        for (size_t i = 0; i < frames.size(); ++i)
            EXPECT_TRUE(allFinite(fine.landmarks[i])) << name << " feed " << i;
        if (today.states.back() != "state_face_tracking") continue;
        ++trackedToday;
        EXPECT_EQ(fine.states.back(), "state_face_tracking") << name;
        // Once tracking, no feed loses the face.
        const auto first = std::find(fine.states.begin(), fine.states.end(), "state_face_tracking");
        EXPECT_EQ(std::count(first, fine.states.end(), "state_face_tracking"), fine.states.end() - first) << name;
    }
    EXPECT_GE(trackedToday, 6) << "too few sample stills tracked to say anything";
}

}  // namespace

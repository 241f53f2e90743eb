// The learned landmark refinement, chosen by a host with the optional fifth argument of
// kvo_setFaceTrackingVars: driven through the stand-in host on the built library (with its
// embedded refiner model), on sample frames. Each tracker is a fresh copy of the library.
#include "LandmarkCorrespondence.h"
#include "HostTrackerRig.h"

namespace {

using kvotest::HostTracker;
using kvotest::allFinite;
using kvotest::errorLines;
using kvotest::videoFrames;
using kvohost::Runtime;

class RefinementHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (videoFrames().empty()) GTEST_SKIP() << "sample media not installed (scripts/setup.sh)";
    }
    // kvo_setFaceTrackingVars with the library's defaults and `fifth` as argument 4.
    static std::function<void()> withFifth(HostTracker& t, FREObject fifth) {
        return [&t, fifth] {
            t.setTrackingVars({t.rt.number(50), t.rt.number(500), t.rt.integer(1), t.rt.integer(2), fifth});
        };
    }
    Runtime rt;
};

double outerEyeDistance(const std::vector<double>& s) {
    return kvo::landmarks::outerEyeDistance(s.data(), kvo::landmarks::Layout::Ours);
}

TEST_F(RefinementHostTest, AbsentNullFalseAndZeroLeaveEveryResultAsToday) {
    HostTracker today(rt), four(rt), null(rt), no(rt), zero(rt);
    today.run(videoFrames(), [] {});
    four.run(videoFrames(), [&] {
        four.setTrackingVars({four.rt.number(50), four.rt.number(500), four.rt.integer(1), four.rt.integer(2)});
    });
    null.run(videoFrames(), withFifth(null, nullptr));
    no.run(videoFrames(), withFifth(no, no.rt.boolean(false)));
    zero.run(videoFrames(), withFifth(zero, zero.rt.integer(0)));
    for (const HostTracker* t : {&four, &null, &no, &zero}) {
        EXPECT_EQ(errorLines(t->printed), 0) << t->printed;
        EXPECT_EQ(t->states, today.states);
        EXPECT_EQ(t->landmarks, today.landmarks);  // bit for bit
    }
}

TEST_F(RefinementHostTest, OnMovesThePointsOnTheSameFaceAndTracksAsToday) {
    HostTracker today(rt), refined(rt);
    today.run(videoFrames(), [] {});
    refined.run(videoFrames(), withFifth(refined, refined.rt.boolean(true)));
    EXPECT_EQ(errorLines(refined.printed), 0) << "the library carries its refiner model: " << refined.printed;
    // The validity check and the next frame's search go on from the search's own shape.
    EXPECT_EQ(refined.states, today.states);
    int moved = 0, tracked = 0;
    for (size_t i = 0; i < refined.landmarks.size(); ++i) {
        ASSERT_EQ(refined.landmarks[i].size(), 136u);
        EXPECT_TRUE(allFinite(refined.landmarks[i])) << "frame " << i;
        if (today.states[i] != "state_face_tracking") continue;
        ++tracked;
        const double eyes = outerEyeDistance(today.landmarks[i]);
        double largest = 0, sum = 0;
        for (size_t p = 0; p < 68; ++p) {
            const double d = std::hypot(refined.landmarks[i][2 * p] - today.landmarks[i][2 * p],
                                        refined.landmarks[i][2 * p + 1] - today.landmarks[i][2 * p + 1]);
            largest = std::max(largest, d);
            sum += d;
        }
        // A refinement of the same face: no point leaves for another feature ...
        EXPECT_LT(largest, 0.25 * eyes) << "frame " << i;
        // ... and it does move them (a switch that changed nothing would not).
        moved += sum / 68 > 0.005 * eyes;
    }
    ASSERT_GT(tracked, 20);
    EXPECT_EQ(moved, tracked);
}

// A value that is not a host Boolean (the number 1, a text) does not read as true.
TEST_F(RefinementHostTest, OnlyTheBooleanTrueTurnsItOn) {
    HostTracker today(rt), one(rt), text(rt);
    today.run(videoFrames(), [] {});
    one.run(videoFrames(), withFifth(one, one.rt.integer(1)));
    text.run(videoFrames(), withFifth(text, text.rt.string("true")));
    EXPECT_EQ(one.landmarks, today.landmarks);
    EXPECT_EQ(text.landmarks, today.landmarks);
}

}  // namespace

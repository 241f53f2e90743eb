// Two trackers in one process, each updated on its own thread at the same time. Face
// detection keeps all its state in the tracker, so the two must neither disturb each
// other nor race (this test runs in the thread-sanitizer build). The resize routines
// share process-wide worker tables, so trackers that resize (face tracking, point
// tracking) must not update at the same time; this test keeps to detection.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "tracker/TrackerTestSupport.h"

using kvo::Kestavo;
using kvo::KVOMode;
using kvotest::GreyFrame;

namespace {

constexpr int kUpdates = 4;

struct Detections {
    std::vector<std::string> states;
    std::vector<kvo::Rectangle> faces;
    std::vector<size_t> rawCounts;
};

// One tracker on its own frame, in detection mode, initialised on the calling thread.
struct DetectingTracker {
    explicit DetectingTracker(const std::vector<uint32_t>& bgra) : frame(640, 480) {
        frame.setFromBgra(bgra);
        model = kvo::test::tinyShapeModelJson();
        tracker.init(&frame, nullptr, model.c_str());
        tracker.setMode(KVOMode::FACE_DETECTION);
    }
    Detections run() {
        Detections d;
        for (int i = 0; i < kUpdates; ++i) {
            d.states.push_back(tracker.update());
            d.faces.push_back(tracker.lastDetectedFace);
            d.rawCounts.push_back(tracker.lastDetectedFaces.size());
        }
        return d;
    }
    GreyFrame frame;
    Kestavo tracker;
    std::string model;
};

void expectSame(const Detections& a, const Detections& b, const char* label) {
    ASSERT_EQ(a.states.size(), b.states.size()) << label;
    for (size_t i = 0; i < a.states.size(); ++i) {
        EXPECT_EQ(a.states[i], b.states[i]) << label << " update " << i;
        EXPECT_EQ(a.rawCounts[i], b.rawCounts[i]) << label << " update " << i;
        EXPECT_EQ(a.faces[i].x, b.faces[i].x) << label << " update " << i;
        EXPECT_EQ(a.faces[i].y, b.faces[i].y) << label << " update " << i;
        EXPECT_EQ(a.faces[i].width, b.faces[i].width) << label << " update " << i;
        EXPECT_EQ(a.faces[i].height, b.faces[i].height) << label << " update " << i;
    }
}

}  // namespace

TEST(TwoTrackersTest, DetectOnTwoThreadsAsEachDoesAlone) {
    const auto& bgra = kvotest::faceFrameBgra();
    if (bgra.empty()) GTEST_SKIP() << "sample media not installed";

    // What one tracker finds on its own.
    Detections alone = DetectingTracker(bgra).run();
    ASSERT_GT(alone.faces[0].width, 60.0) << "the sample frame holds a face";

    // Two trackers, set up one after the other, then updated at the same time.
    DetectingTracker first(bgra);
    DetectingTracker second(bgra);
    Detections a;
    Detections b;
    std::thread ta([&] { a = first.run(); });
    std::thread tb([&] { b = second.run(); });
    ta.join();
    tb.join();
    expectSame(alone, a, "first");
    expectSame(alone, b, "second");
}

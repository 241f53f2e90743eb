// The refined shape does not depend on how the frame's work is split: the same frames with
// the tracker's parked worker and on the calling thread alone give the same points, bit for
// bit, with the refinement on.
#include <gtest/gtest.h>

#include <vector>

#include "eval/PointValues.h"
#include "tracker/KVOModeState.h"
#include "tracker/TrackerTestSupport.h"

namespace {

std::vector<std::vector<double>> refinedRun(bool parkedWorker) {
    std::vector<std::vector<uint32_t>> frames;
    std::vector<std::vector<double>> out;
    if (!kvotest::decodeBgraFrames(kvotest::mediaPath("franck.mp4"), 640, 480, 300, 30, frames)) return out;
    kvotest::GreyFrame frame(640, 480);
    frame.setFromBgra(frames[0]);
    kvo::Kestavo tracker;
    tracker.init(&frame, nullptr);
    tracker.asmSearch.refineEnabled = tracker.asmSearch.refiner.loaded();
    if (!parkedWorker) tracker.finalize();  // every range on the calling thread from here on
    for (const std::vector<uint32_t>& f : frames) {
        frame.setFromBgra(f);
        tracker.update();
        out.push_back(kvo::eval::flatXY(tracker.faceShape.points));
    }
    return out;
}

TEST(RefinementThreads, ParkedWorkerAndCallingThreadGiveTheSamePoints) {
    const auto parked = refinedRun(true);
    if (parked.empty()) GTEST_SKIP() << "sample media not installed";
    const auto alone = refinedRun(false);
    ASSERT_EQ(parked.size(), alone.size());
    for (size_t i = 0; i < parked.size(); ++i) EXPECT_EQ(parked[i], alone[i]) << "frame " << i;
}

}  // namespace

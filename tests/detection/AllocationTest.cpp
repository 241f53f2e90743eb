// A scan and a merge after initialisation allocate no memory: every result object and
// buffer is made by init. Counted by replacing the global allocation functions of this
// test program.
#include <gtest/gtest.h>

#include "support/CountingNew.h"

#include <cstdlib>

#include "DetectorRig.h"
#include "SyntheticCascade.h"


namespace {

uint8_t ramp(uint32_t x, uint32_t y) { return static_cast<uint8_t>(x * 3 + y * 5); }

TEST(DetectAllocation, RepeatedScansAndMergesAllocateNothing) {
    kvo_test::DetectorRig rig(320, 240, kvo_test::acceptAllCascade());
    rig.show(ramp);
    rig.detector.minDetections = 3;
    for (bool full : {false, true}) {
        rig.detector.fullScan = full;
        rig.detect();  // the caller's vector takes its capacity on the first call
        rig.detector.merge(rig.faces);
        const long before = kvotest::allocationCount();
        for (int i = 0; i < 3; ++i) {
            rig.show(ramp);
            rig.detect();
            rig.detector.merge(rig.faces);
        }
        EXPECT_EQ(kvotest::allocationCount() - before, 0) << "full scan " << full;
        EXPECT_FALSE(rig.detector.rawDetections.empty());
        if (full) {  // the early stop ends within the first window size, which is not reported
            EXPECT_FALSE(rig.faces.empty());
            EXPECT_FALSE(rig.detector.mergedFaces.empty());
        }
    }
}

}  // namespace

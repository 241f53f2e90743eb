// The scan's work bounds must leave ordinary settings alone: on two sample stills, the raw
// windows of a sweep of ordinary detector settings are compared with a record made by the
// detector before it had any bounds (data/ordinary_scans.txt, one line per still and
// setting: the count of raw windows and a 64-bit FNV-1a hash of their x, y, width, height
// and scale, bit for bit).
//
// To re-record (only when the scan is meant to change):
//   KVO_RECORD_SCANS=tests/detection/data/ordinary_scans.txt <test_detection> --gtest_filter='OrdinaryScan.*'
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "models/EmbeddedModels.h"

#ifdef KVO_HAVE_OPENCV
#include <opencv2/imgcodecs.hpp>

#include "DetectorRig.h"
#endif

namespace {

#ifdef KVO_HAVE_OPENCV

struct Setting {
    double startScale, scaleIncrement, maxScale, stepFactor;
    int minDetections;
    bool fullScan;
};

// Ordinary settings: window sizes from 36 px up, scale steps down to 0.02 (401 window
// sizes), window steps from 2 % of the window, early stops and full scans, low and
// default minimum detections. The densest scans about 950,000 windows of the 720 x 576
// still.
std::vector<Setting> ordinarySettings() {
    std::vector<Setting> all;
    for (double start : {2.0, 4.0})
        for (double increment : {0.1, 0.5})
            for (double maxScale : {12.0, 20.0})
                for (double step : {0.04, 0.1})
                    for (bool full : {false, true}) all.push_back({start, increment, maxScale, step, 12, full});
    all.push_back({4.0, 0.5, 12.0, 0.02, 3, false});
    all.push_back({4.0, 0.5, 12.0, 0.02, 3, true});
    all.push_back({1.5, 0.5, 12.0, 0.04, 12, true});
    all.push_back({4.0, 0.1, 12.0, 0.04, 0, false});
    all.push_back({4.0, 0.02, 12.0, 0.1, 12, false});
    all.push_back({4.0, 0.05, 20.0, 0.04, 12, true});
    return all;
}

uint64_t fnv1a(uint64_t h, double v) {
    unsigned char bytes[sizeof v];
    std::memcpy(bytes, &v, sizeof v);
    for (unsigned char b : bytes) h = (h ^ b) * 1099511628211ull;
    return h;
}

std::string describe(const char* still, const Setting& s) {
    std::ostringstream os;
    os.precision(17);
    os << still << ' ' << s.startScale << ' ' << s.scaleIncrement << ' ' << s.maxScale << ' ' << s.stepFactor
       << ' ' << s.minDetections << ' ' << (s.fullScan ? 1 : 0);
    return os.str();
}

// One line per still and setting: the setting, then "count hash".
std::vector<std::string> scanLines() {
    std::vector<std::string> lines;
    const std::string cascade = kvo::decodeCascadeModel();
    for (const char* still : {"franck_02045.jpg", "clmtrackr01.jpg"}) {
        const cv::Mat grey = cv::imread(std::string(KVO_MEDIA_DIR) + "/" + still, cv::IMREAD_GRAYSCALE);
        if (grey.empty()) return {};
        kvo_test::DetectorRig rig(grey.cols, grey.rows, cascade);
        std::copy(grey.datastart, grey.dataend, rig.input.pixels.begin());
        rig.manager.update(0);
        for (const Setting& s : ordinarySettings()) {
            kvo::ViolaJones& d = rig.detector;
            d.startScale = s.startScale;
            d.scaleIncrement = s.scaleIncrement;
            d.maxScale = s.maxScale;
            d.stepFactor = s.stepFactor;
            d.minDetections = s.minDetections;
            d.fullScan = s.fullScan;
            rig.detect();
            uint64_t h = 1469598103934665603ull;
            for (const auto& r : d.rawDetections) {
                for (double v : {r->x, r->y, r->width, r->height, r->scale}) h = fnv1a(h, v);
            }
            std::ostringstream os;
            os << describe(still, s) << ' ' << d.rawDetections.size() << ' ' << std::hex << h;
            lines.push_back(os.str());
        }
    }
    return lines;
}

TEST(OrdinaryScan, RawWindowsMatchTheRecordMadeBeforeTheScanWasBounded) {
    const std::vector<std::string> lines = scanLines();
    if (lines.empty()) GTEST_SKIP() << "sample stills not installed in " << KVO_MEDIA_DIR;
    if (const char* out = std::getenv("KVO_RECORD_SCANS")) {
        std::ofstream file(out);
        for (const std::string& l : lines) file << l << '\n';
        ASSERT_TRUE(file.good()) << "cannot write " << out;
        GTEST_SKIP() << "recorded " << lines.size() << " scans in " << out;
    }
    std::ifstream file(std::string(KVO_SOURCE_DIR) + "/tests/detection/data/ordinary_scans.txt");
    ASSERT_TRUE(file.good()) << "the record is missing";
    std::vector<std::string> recorded;
    for (std::string l; std::getline(file, l);) recorded.push_back(l);
    ASSERT_EQ(recorded.size(), lines.size()) << "the record holds another sweep; re-record it";
    for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i], recorded[i]);
}

#endif

}  // namespace

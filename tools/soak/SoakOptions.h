#pragma once
// The soak run's command-line options.
//
// What it represents: the parsed command line of the soak program, with the defaults
// of a full run (100,000 frames at 400 x 300 pixels). A plain value; not shared.
#include <cstdint>
#include <string>
#include <vector>

namespace soak {

struct Options {
    long frames = 100000;         // frames fed to the tracker
    uint32_t width = 400;         // frame size handed to the host, pixels
    uint32_t height = 300;
    long warmup = 1000;           // frames after which memory is the baseline
    long eventEveryMin = 100;     // frames between random host actions, inclusive range
    long eventEveryMax = 500;
    unsigned seed = 1;
    double maxGrowthKiB = 1024;   // allowed resident-memory growth after warm-up
    double maxFrameRatio = 10.0;  // worst frame against the median
    std::string library;          // libKestavo.so to load
    std::vector<std::string> videos;
};

// Parses argv into `out`. Returns false after writing one "Error: ..." line to stderr
// (or the usage, for --help) when the command line is not understood.
bool parseOptions(int argc, char** argv, Options& out);

}  // namespace soak

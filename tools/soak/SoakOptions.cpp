#include "SoakOptions.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "eval/SampleMedia.h"

namespace soak {

namespace {

const char* kUsage =
    "usage: soak [--frames N] [--size WxH] [--warmup N] [--every MIN MAX] [--seed S]\n"
    "            [--max-growth-kib K] [--max-frame-ratio R] [--library PATH] [VIDEO...]\n"
    "Feeds the sample videos (looped) to libKestavo.so through the stand-in host, with a\n"
    "random host action every MIN..MAX frames, and checks that resident memory after\n"
    "the warm-up does not grow and that no frame takes longer than R times the median.\n";

bool parseLong(const char* text, long lo, long& out) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < lo) return false;
    out = v;
    return true;
}

bool parseDouble(const char* text, double& out) {
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(v > 0)) return false;
    out = v;
    return true;
}

}  // namespace

bool parseOptions(int argc, char** argv, Options& out) {
    out.library = KVO_LIBRARY_PATH;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        const bool hasValue = i + 1 < argc;
        long v = 0;
        if (std::strcmp(a, "--help") == 0) {
            std::fputs(kUsage, stderr);
            return false;
        } else if (std::strcmp(a, "--frames") == 0 && hasValue && parseLong(argv[i + 1], 1, v)) {
            out.frames = v;
            ++i;
        } else if (std::strcmp(a, "--warmup") == 0 && hasValue && parseLong(argv[i + 1], 1, v)) {
            out.warmup = v;
            ++i;
        } else if (std::strcmp(a, "--seed") == 0 && hasValue && parseLong(argv[i + 1], 0, v)) {
            out.seed = static_cast<unsigned>(v);
            ++i;
        } else if (std::strcmp(a, "--size") == 0 && hasValue) {
            unsigned w = 0, h = 0;
            char tail = 0;
            if (std::sscanf(argv[i + 1], "%ux%u%c", &w, &h, &tail) != 2 || w < 32 || h < 32 || w > 4096 ||
                h > 4096) {
                std::fprintf(stderr, "Error: --size needs WxH between 32 and 4096 pixels, not '%s'.\n", argv[i + 1]);
                return false;
            }
            out.width = w;
            out.height = h;
            ++i;
        } else if (std::strcmp(a, "--every") == 0 && i + 2 < argc && parseLong(argv[i + 1], 1, v)) {
            long hi = 0;
            if (!parseLong(argv[i + 2], v, hi)) {
                std::fprintf(stderr, "Error: --every needs MIN MAX with 1 <= MIN <= MAX.\n");
                return false;
            }
            out.eventEveryMin = v;
            out.eventEveryMax = hi;
            i += 2;
        } else if (std::strcmp(a, "--max-growth-kib") == 0 && hasValue && parseDouble(argv[i + 1], out.maxGrowthKiB)) {
            ++i;
        } else if (std::strcmp(a, "--max-frame-ratio") == 0 && hasValue &&
                   parseDouble(argv[i + 1], out.maxFrameRatio)) {
            ++i;
        } else if (std::strcmp(a, "--library") == 0 && hasValue) {
            out.library = argv[++i];
        } else if (a[0] == '-') {
            std::fprintf(stderr, "Error: option '%s' is unknown or lacks a valid value (try --help).\n", a);
            return false;
        } else {
            out.videos.push_back(a);
        }
    }
    if (out.videos.empty()) {
        for (const std::string& name : kvo::eval::sampleVideos()) out.videos.push_back(std::string(KVO_MEDIA_DIR) + "/" + name);
    }
    if (out.warmup >= out.frames) out.warmup = out.frames / 2;
    return true;
}

}  // namespace soak

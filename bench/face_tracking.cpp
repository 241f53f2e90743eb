// Cost of one shape search per frame (start phase and tracking) on a synthetic 640 x 480
// face, with the small test shape model; dlib's 68-landmark shape predictor on the same
// frame and face box as a peer when dlib and its model are installed.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <vector>

#include "../tests/support/TinyShapeModel.h"
#include "asm/ASMSearch.h"
#include "eval/Files.h"
#include "eval/GreyFrame.h"
#include "image/ImageDataManager.h"

#ifdef KVO_HAVE_DLIB
#include <dlib/image_processing.h>
#include <dlib/image_processing/shape_predictor.h>
#endif

namespace {

class FrameInput : public kvo::eval::GreyFrame {
public:
    FrameInput() : GreyFrame(640, 480) {
        // A bright ellipse with darker eyes and mouth on a dark background.
        for (int y = 0; y < 480; ++y) {
            for (int x = 0; x < 640; ++x) {
                const double fx = (x - 320) / 90.0, fy = (y - 240) / 110.0;
                int grey = fx * fx + fy * fy < 1.0 ? 180 : 50;
                const double ex = std::fabs(x - 320.0) - 45.0, ey = y - 205.0;
                if (ex * ex / 120.0 + ey * ey / 30.0 < 1.0) grey = 40;
                const double mx = (x - 320) / 30.0, my = (y - 300) / 8.0;
                if (mx * mx + my * my < 1.0) grey = 90;
                pixels[y * 640 + x] = static_cast<uint8_t>(grey);
            }
        }
    }
};

struct Tracker {
    Tracker() : roi(0, 0, 640, 480), search(manager) {
        manager.init(&input, &roi);
        manager.initASM();
        const std::string text = kvo::test::tinyShapeModelJson();
        search.model.readASM(text.c_str(), search.config, manager, false);
        search.candideEnabled = false;  // measured by its own benchmark
        search.initSearchState();
    }
    FrameInput input;
    kvo::Rectangle roi;
    kvo::ImageDataManager manager;
    kvo::ASMSearch search;
};

// Argument: 0 the start phase (the shape placed anew in the face box each frame), 1
// tracking (past the start phase, each search from the last one's shape).
void BM_Search(benchmark::State& state) {
    const bool tracking = state.range(0) != 0;
    state.SetLabel(tracking ? "tracking" : "start phase");
    Tracker t;
    t.search.prepareShape(kvo::Rectangle(220, 130, 200, 200));
    for (int i = 0; tracking && i < 5; ++i) t.search.doSearch();  // past the start phase
    for (auto _ : state) {
        if (!tracking) t.search.prepareShape(kvo::Rectangle(220, 130, 200, 200));
        benchmark::DoNotOptimize(t.search.doSearch());
    }
}
BENCHMARK(BM_Search)->ArgName("tracking")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

#ifdef KVO_HAVE_DLIB
void BM_DlibShapePredictor(benchmark::State& state) {
    const char* path = kvo::eval::DLIB_SHAPE_PREDICTOR;
    if (!std::ifstream(path)) {
        state.SkipWithError("dlib's 68-landmark model is not installed");
        return;
    }
    dlib::shape_predictor predictor;
    dlib::deserialize(path) >> predictor;
    FrameInput input;
    dlib::array2d<unsigned char> image(480, 640);
    for (int y = 0; y < 480; ++y) {
        for (int x = 0; x < 640; ++x) image[y][x] = input.pixels[y * 640 + x];
    }
    const dlib::rectangle face(220, 130, 420, 330);
    for (auto _ : state) {
        dlib::full_object_detection shape = predictor(image, face);
        benchmark::DoNotOptimize(shape.part(0));
    }
}
BENCHMARK(BM_DlibShapePredictor)->Unit(benchmark::kMicrosecond);
#endif

}  // namespace

BENCHMARK_MAIN();

// Cost of obtaining the embedded models at tracker init: decoding each prefix-coded
// model (the three texts and the binary landmark refiner), against reading the same
// bytes from a file (the page cache is warm, so this is the best case for a file); and
// the refiner's share of the init, decoded and loaded.
//
//   bench_model_init [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include "eval/GreyFrame.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

#include <memory>
#include <vector>

#include "image/InputData.h"
#include "models/EmbeddedModels.h"
#include "refine/LandmarkRefiner.h"
#include "tracker/Kestavo.h"

namespace {

struct ModelEntry {
    const char* name;
    std::string (*decode)();
};

const ModelEntry kModels[] = {
    {"cascade", kvo::decodeCascadeModel},
    {"shape_model", kvo::decodeShapeModel},
    {"candide", kvo::decodeCandideModel},
    {"landmark_refiner", kvo::decodeRefinerModel},
};

void BM_Decode(benchmark::State& state) {
    const ModelEntry& m = kModels[state.range(0)];
    std::size_t bytes = 0;
    for (auto _ : state) {
        std::string text = m.decode();
        bytes = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.SetLabel(m.name);
    state.SetBytesProcessed(static_cast<int64_t>(bytes) * state.iterations());
}
BENCHMARK(BM_Decode)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

// A temporary file holding the decoded text of model `index`, removed at exit.
class PlainTextFile {
public:
    explicit PlainTextFile(int index) {
        char name[] = "/tmp/kvo_model_textXXXXXX";
        const int fd = mkstemp(name);
        if (fd < 0) std::abort();
        close(fd);
        path_ = name;
        const std::string text = kModels[index].decode();
        std::ofstream(path_, std::ios::binary) << text;
    }
    ~PlainTextFile() { std::remove(path_.c_str()); }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

void BM_ReadPlainText(benchmark::State& state) {
    const PlainTextFile file(static_cast<int>(state.range(0)));
    std::size_t bytes = 0;
    for (auto _ : state) {
        std::ifstream in(file.path(), std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        std::string text = s.str();
        bytes = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.SetLabel(kModels[state.range(0)].name);
    state.SetBytesProcessed(static_cast<int64_t>(bytes) * state.iterations());
}
BENCHMARK(BM_ReadPlainText)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

// The whole tracker init for a 640 x 480 frame, as kvo_init runs it: buffers sized, the
// three models decoded and parsed, the search state and the result record built.
void BM_TrackerInit(benchmark::State& state) {
    kvo::eval::GreyFrame frame(640, 480, 128);
    for (auto _ : state) {
        std::unique_ptr<kvo::Kestavo> tracker(new kvo::Kestavo());
        tracker->init(&frame, nullptr);
        benchmark::DoNotOptimize(tracker.get());
    }
}
BENCHMARK(BM_TrackerInit)->Unit(benchmark::kMillisecond);

// The landmark refiner's part of the init: its model decoded and loaded (parsed and
// checked), as Kestavo::init does after the other three models.
void BM_RefinerDecodeAndLoad(benchmark::State& state) {
    bool loaded = false;
    for (auto _ : state) {
        kvo::LandmarkRefiner refiner;
        const std::string bytes = kvo::decodeRefinerModel();
        loaded = !bytes.empty() && refiner.load(bytes);
        benchmark::DoNotOptimize(refiner.loaded());
    }
    state.SetLabel(loaded ? "embedded refiner model" : "no refiner model embedded");
}
BENCHMARK(BM_RefinerDecodeAndLoad)->Unit(benchmark::kMillisecond);

// Reading all three plain texts from files: the baseline for the init's decode and parse.
void BM_ReadAllPlainTexts(benchmark::State& state) {
    const PlainTextFile files[] = {PlainTextFile(0), PlainTextFile(1), PlainTextFile(2)};
    for (auto _ : state) {
        for (const PlainTextFile& f : files) {
            std::ifstream in(f.path(), std::ios::binary);
            std::ostringstream s;
            s << in.rdbuf();
            std::string text = s.str();
            benchmark::DoNotOptimize(text.data());
        }
    }
}
BENCHMARK(BM_ReadAllPlainTexts)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

// What handing work to another thread costs on this machine: a thread started and joined
// per call (what the search, the resampling and the optical flow did), against a parked
// worker woken for a part (ParkedWorkers), with parts that do nothing, so the figures are
// the overhead alone. "cold" wakes a worker that has blocked after its poll (as at the
// first pass of a frame); "hot" hands parts back to back (the later passes of a frame).
// Compare with the work of one part: bench_tracking_stages gives each stage's time.
#include <benchmark/benchmark.h>
#include <pthread.h>
#include <time.h>

#include "util/CallWorkers.h"
#include "util/ParkedWorkers.h"

namespace {

void* nothing(void* arg) {
    benchmark::DoNotOptimize(arg);
    return nullptr;
}

void BM_ThreadStartAndJoin(benchmark::State& state) {
    pthread_t handle;
    int arg = 0;
    for (auto _ : state) {
        kvo::CallWorkers workers;
        workers.start(handle, &nothing, &arg);
        workers.join();
    }
}
BENCHMARK(BM_ThreadStartAndJoin)->Unit(benchmark::kMicrosecond);

// Argument: 0 hot, parts handed back to back; 1 cold, after a 2 ms pause in which the
// worker has stopped polling and blocked.
void BM_ParkedWorker(benchmark::State& state) {
    const bool cold = state.range(0) != 0;
    state.SetLabel(cold ? "cold" : "hot");
    kvo::ParkedWorkers workers;
    workers.start(1);
    int a = 0, b = 0;
    void* args[] = {&a, &b};
    const timespec pause = {0, 2000000};
    for (auto _ : state) {
        if (cold) {
            state.PauseTiming();
            nanosleep(&pause, nullptr);
            state.ResumeTiming();
        }
        workers.run(&nothing, args, 2);
    }
}
BENCHMARK(BM_ParkedWorker)->ArgName("cold")->Arg(0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ParkedWorker)->ArgName("cold")->Arg(1)->Unit(benchmark::kMicrosecond)->Iterations(500);

void BM_CallingThreadOnly(benchmark::State& state) {
    kvo::ParkedWorkers workers;  // none started: both parts run here
    int a = 0, b = 0;
    void* args[] = {&a, &b};
    for (auto _ : state) workers.run(&nothing, args, 2);
}
BENCHMARK(BM_CallingThreadOnly)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

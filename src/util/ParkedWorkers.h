#pragma once
// Worker threads started once and parked between calls.
//
// What it represents: a small set of POSIX threads that a long-lived owner (the tracker)
// starts once, hands work to many times, and joins when it is finalised. Between calls a
// worker waits: first briefly on an atomic counter (so the next pass of the same frame,
// microseconds later, wakes it without a system call), then blocked on a condition
// variable (so a worker idle between frames uses no processor). run() hands part 0 of a
// job to the calling thread and parts 1 ... n-1 to parked workers, and returns only when
// every part has finished. A part whose worker is not running (stopped, or a thread that
// could not be started) runs on the calling thread, so the work is done either way.
//
// Starting a thread and joining it costs more on the target machines than one matching
// pass of a worker; waking a parked worker costs a fraction of that (bench_workers
// measures both). Threads are only started by start(); run() never starts one, so the
// per-frame path allocates nothing.
//
// Lifecycle: start(count) after construction (idempotent; more workers are added up to
// count); stop() joins every worker and may be followed by start() again; the destructor
// stops. No worker outlives the object.
//
// Thread safety: start, stop and run belong to one owner thread and must not overlap.
// The parts of one run execute concurrently: they must touch disjoint data.
#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "util/CallWorkers.h"

namespace kvo {

class ParkedWorkers {
public:
    // The most parked threads one set holds (parts beyond MAX_PARKED + 1 run on the caller).
    static constexpr int MAX_PARKED = 3;

    explicit ParkedWorkers(ThreadStarter starter = &pthread_create);
    ~ParkedWorkers();
    ParkedWorkers(const ParkedWorkers&) = delete;
    ParkedWorkers& operator=(const ParkedWorkers&) = delete;

    // Starts parked threads until `count` run (at most MAX_PARKED). Ensures: the number
    // running is returned; it is below `count` only when a thread could not be started.
    int start(int count);

    // Wakes every worker to end, and joins them. Ensures: no worker runs; running() is 0.
    void stop();

    // Parked threads running now.
    int running() const { return running_; }

    // Runs body(args[i]) for every i < n: i = 0 on the calling thread, the others on
    // parked workers 0 ... n-2 where they run, on the calling thread otherwise.
    // Requires: n >= 1; args[i] valid until run returns; the parts touch disjoint data.
    // Ensures: every part has finished, and what the parts wrote is visible to the caller.
    void run(WorkerBody body, void* const* args, int n);

    // Parts of the last run() that ran on a parked worker (for tests and benchmarks).
    int lastParked() const { return lastParked_; }

private:
    struct Slot {
        pthread_t handle{};
        ParkedWorkers* owner = nullptr;
        std::mutex mutex;
        std::condition_variable wake;     // the worker waits here for a job or the end
        std::condition_variable finished; // the caller waits here for the job's end
        std::atomic<uint32_t> posted{0};  // jobs handed to this worker
        std::atomic<uint32_t> done{0};    // jobs this worker has finished
        bool sleeping = false;            // worker blocked on `wake` (under mutex)
        bool callerWaiting = false;       // caller blocked on `finished` (under mutex)
        bool exit = false;                // under mutex
        WorkerBody body = nullptr;        // written before `posted` is raised
        void* arg = nullptr;
    };
    static void* loop(void* slot);
    void waitFor(Slot& s, uint32_t job);

    ThreadStarter starter_;
    Slot slots_[MAX_PARKED];
    int running_ = 0;
    int lastParked_ = 0;
};

}  // namespace kvo

#include "util/ParkedWorkers.h"

#include <algorithm>

namespace kvo {


ParkedWorkers::ParkedWorkers(ThreadStarter starter) : starter_(starter) {
    for (Slot& s : slots_) s.owner = this;
}

ParkedWorkers::~ParkedWorkers() { stop(); }

int ParkedWorkers::start(int count) {
    if (count > MAX_PARKED) count = MAX_PARKED;
    while (running_ < count) {
        Slot& s = slots_[running_];
        {
            std::lock_guard<std::mutex> lock(s.mutex);
            s.exit = false;
            s.sleeping = false;
            s.callerWaiting = false;
        }
        s.posted.store(0, std::memory_order_relaxed);
        s.done.store(0, std::memory_order_relaxed);
        if (starter_(&s.handle, nullptr, &ParkedWorkers::loop, &s) != 0) break;
        ++running_;
    }
    return running_;
}

void ParkedWorkers::stop() {
    for (int i = running_ - 1; i >= 0; --i) {
        Slot& s = slots_[i];
        {
            std::lock_guard<std::mutex> lock(s.mutex);
            s.exit = true;
        }
        s.wake.notify_one();
        pthread_join(s.handle, nullptr);
    }
    running_ = 0;
}

void* ParkedWorkers::loop(void* arg) {
    Slot& s = *static_cast<Slot*>(arg);
    uint32_t seen = 0;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(s.mutex);
            s.sleeping = true;
            s.wake.wait(lock, [&] { return s.exit || s.posted.load(std::memory_order_acquire) != seen; });
            s.sleeping = false;
            const uint32_t posted = s.posted.load(std::memory_order_acquire);
            if (posted == seen) return nullptr;  // the end, nothing pending
            seen = posted;
        }
        s.body(s.arg);
        std::lock_guard<std::mutex> lock(s.mutex);
        s.done.store(seen, std::memory_order_release);
        if (s.callerWaiting) s.finished.notify_one();
    }
}

void ParkedWorkers::waitFor(Slot& s, uint32_t job) {
    if (s.done.load(std::memory_order_acquire) == job) return;
    std::unique_lock<std::mutex> lock(s.mutex);
    s.callerWaiting = true;
    s.finished.wait(lock, [&] { return s.done.load(std::memory_order_acquire) == job; });
    s.callerWaiting = false;
}

void ParkedWorkers::run(WorkerBody body, void* const* args, int n) {
    const int parked = std::min(n - 1, running_);
    for (int i = 0; i < parked; ++i) {
        Slot& s = slots_[i];
        s.body = body;
        s.arg = args[i + 1];
        const uint32_t job = s.posted.load(std::memory_order_relaxed) + 1;
        bool sleeping;
        {
            std::lock_guard<std::mutex> lock(s.mutex);
            s.posted.store(job, std::memory_order_release);
            sleeping = s.sleeping;
        }
        if (sleeping) s.wake.notify_one();
    }
    body(args[0]);
    for (int i = parked + 1; i < n; ++i) body(args[i]);  // parts without a running worker
    for (int i = 0; i < parked; ++i) {
        Slot& s = slots_[i];
        waitFor(s, s.posted.load(std::memory_order_relaxed));
    }
    lastParked_ = parked;
}

}  // namespace kvo

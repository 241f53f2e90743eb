#include "util/CallWorkers.h"

namespace kvo {

CallWorkers::CallWorkers(ThreadStarter starter) : starter_(starter), workers_() {}

CallWorkers::~CallWorkers() { join(); }

bool CallWorkers::start(pthread_t& handle, WorkerBody body, void* arg) {
    if (count_ == MAX_WORKERS) {
        // No room to remember it: the worker runs here and now, before any later one.
        body(arg);
        return false;
    }
    Worker& w = workers_[count_++];
    w.handle = &handle;
    w.body = body;
    w.arg = arg;
    w.started = starter_(&handle, nullptr, body, arg) == 0;
    if (w.started) ++threadsStarted_;
    return w.started;
}

void CallWorkers::join() {
    for (int i = 0; i < count_; ++i) {
        Worker& w = workers_[i];
        if (w.started) {
            pthread_join(*w.handle, nullptr);
        } else {
            // Joining a handle that was never started would be undefined; do its work here.
            w.body(w.arg);
        }
    }
    count_ = 0;
    threadsStarted_ = 0;
}

}  // namespace kvo

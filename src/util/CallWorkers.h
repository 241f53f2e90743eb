#pragma once
// The worker threads of one call.
//
// What it represents: the POSIX threads that one component call starts and joins
// before it returns. The caller keeps the thread handles (its own tables or members);
// this group remembers, for each worker it was asked to start, the handle, the body and
// the argument, and whether a thread could be started for it. join() (or the
// destructor) joins every started worker in start order, so no worker outlives the
// group, and a worker that could not be started runs on the calling thread inside
// join(), so its work is done either way. Nothing is allocated.
//
// Thread safety: a group belongs to the one thread that created it; start and join are
// called from that thread only. Workers must not touch the group.
#include <pthread.h>

namespace kvo {

using WorkerBody = void* (*)(void*);
// How a thread is started; pthread_create, or a stand-in in tests.
using ThreadStarter = int (*)(pthread_t*, const pthread_attr_t*, WorkerBody, void*);

class CallWorkers {
public:
    // The most workers one group holds; callers size their worker counts to it.
    static constexpr int MAX_WORKERS = 8;

    explicit CallWorkers(ThreadStarter starter = &pthread_create);
    ~CallWorkers();  // joins whatever is still outstanding
    CallWorkers(const CallWorkers&) = delete;
    CallWorkers& operator=(const CallWorkers&) = delete;

    // Starts body(arg) on a new thread whose handle is written to `handle`.
    // Requires: fewer than MAX_WORKERS workers given to this group since the last join;
    // `handle` and `arg` stay valid until join().
    // Ensures: true when the worker runs on its own thread now; false when no thread
    // could be started, in which case join() runs body(arg) on the calling thread (a
    // group already holding MAX_WORKERS runs it on the calling thread at once).
    bool start(pthread_t& handle, WorkerBody body, void* arg);

    // Joins the started workers and runs the others on the calling thread, each in
    // start order. Ensures: every worker given to start() has finished; the group is
    // empty and may be used again.
    void join();

    // Workers running on their own threads since the last join.
    int threadsStarted() const { return threadsStarted_; }

private:
    struct Worker {
        pthread_t* handle;
        WorkerBody body;
        void* arg;
        bool started;
    };
    ThreadStarter starter_;
    Worker workers_[MAX_WORKERS];
    int count_ = 0;
    int threadsStarted_ = 0;
};

}  // namespace kvo

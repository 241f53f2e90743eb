// The worker group of one call: every worker's work is done and finished by join(),
// on its own thread when one can be started and on the calling thread otherwise.
#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>

#include "util/CallWorkers.h"

namespace {

struct Job {
    pthread_t ranOn{};
    std::atomic<int> runs{0};
};

void* recordThread(void* arg) {
    Job* job = static_cast<Job*>(arg);
    job->ranOn = pthread_self();
    job->runs.fetch_add(1);
    return nullptr;
}

// Fails every second start, as pthread_create does when the process has no threads left.
std::atomic<int> startsTried{0};
int failEverySecondStart(pthread_t* handle, const pthread_attr_t* attr, kvo::WorkerBody body, void* arg) {
    if (startsTried.fetch_add(1) % 2 == 1) return 11;  // EAGAIN
    return pthread_create(handle, attr, body, arg);
}

}  // namespace

TEST(CallWorkersTest, WorkersThatCannotStartRunOnTheCallingThreadInsideJoin) {
    startsTried = 0;
    Job jobs[4];
    pthread_t handles[4];
    kvo::CallWorkers workers(&failEverySecondStart);
    bool started[4];
    for (int i = 0; i < 4; ++i) started[i] = workers.start(handles[i], &recordThread, &jobs[i]);
    EXPECT_TRUE(started[0]);
    EXPECT_FALSE(started[1]);
    EXPECT_TRUE(started[2]);
    EXPECT_FALSE(started[3]);
    EXPECT_EQ(workers.threadsStarted(), 2);
    // The workers that did not start have not run yet: their work waits for join().
    EXPECT_EQ(jobs[1].runs.load(), 0);
    EXPECT_EQ(jobs[3].runs.load(), 0);
    workers.join();
    const pthread_t self = pthread_self();
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(jobs[i].runs.load(), 1) << "worker " << i;
        EXPECT_EQ(pthread_equal(jobs[i].ranOn, self) != 0, !started[i]) << "worker " << i;
    }
    EXPECT_EQ(workers.threadsStarted(), 0);

    // The group is empty again and serves the next call.
    Job again;
    pthread_t handle;
    startsTried = 0;
    EXPECT_TRUE(workers.start(handle, &recordThread, &again));
    workers.join();
    EXPECT_EQ(again.runs.load(), 1);
    EXPECT_EQ(pthread_equal(again.ranOn, self), 0);
}

TEST(CallWorkersTest, TheDestructorJoinsWhatIsOutstanding) {
    startsTried = 0;
    Job jobs[2];
    pthread_t handles[2];
    {
        kvo::CallWorkers workers(&failEverySecondStart);
        workers.start(handles[0], &recordThread, &jobs[0]);
        workers.start(handles[1], &recordThread, &jobs[1]);
    }
    EXPECT_EQ(jobs[0].runs.load(), 1);
    EXPECT_EQ(jobs[1].runs.load(), 1);
}

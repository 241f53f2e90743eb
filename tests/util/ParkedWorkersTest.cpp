// Parked workers: every part of a run is done, on a parked thread where one runs and on
// the calling thread otherwise; stop() joins them all; nothing is lost across many runs
// (the ThreadSanitizer build checks the hand-over's ordering).
#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <cerrno>

#include "util/ParkedWorkers.h"

namespace {

struct Part {
    pthread_t ranOn{};
    int runs = 0;   // written only by the part's own thread
    long sum = 0;
};

void* recordPart(void* arg) {
    Part* p = static_cast<Part*>(arg);
    p->ranOn = pthread_self();
    ++p->runs;
    for (int i = 1; i <= 1000; ++i) p->sum += i;
    return nullptr;
}

int neverStarts(pthread_t*, const pthread_attr_t*, kvo::WorkerBody, void*) { return EAGAIN; }

std::atomic<int> starts{0};
int startsOnce(pthread_t* handle, const pthread_attr_t* attr, kvo::WorkerBody body, void* arg) {
    if (starts.fetch_add(1) > 0) return EAGAIN;
    return pthread_create(handle, attr, body, arg);
}

}  // namespace

TEST(ParkedWorkersTest, RunsPartZeroOnTheCallerAndTheOthersOnParkedThreads) {
    kvo::ParkedWorkers workers;
    ASSERT_EQ(workers.start(2), 2);
    Part parts[3];
    void* args[] = {&parts[0], &parts[1], &parts[2]};
    workers.run(&recordPart, args, 3);
    EXPECT_EQ(workers.lastParked(), 2);
    for (const Part& p : parts) {
        EXPECT_EQ(p.runs, 1);
        EXPECT_EQ(p.sum, 500500);  // the part's writes are visible once run returns
    }
    EXPECT_TRUE(pthread_equal(parts[0].ranOn, pthread_self()));
    EXPECT_FALSE(pthread_equal(parts[1].ranOn, pthread_self()));
    EXPECT_FALSE(pthread_equal(parts[2].ranOn, pthread_self()));
    EXPECT_FALSE(pthread_equal(parts[1].ranOn, parts[2].ranOn));
}

TEST(ParkedWorkersTest, PartsWithoutARunningWorkerRunOnTheCaller) {
    kvo::ParkedWorkers workers;
    ASSERT_EQ(workers.start(1), 1);
    Part parts[4];
    void* args[] = {&parts[0], &parts[1], &parts[2], &parts[3]};
    workers.run(&recordPart, args, 4);
    EXPECT_EQ(workers.lastParked(), 1);
    for (const Part& p : parts) EXPECT_EQ(p.runs, 1);
    EXPECT_FALSE(pthread_equal(parts[1].ranOn, pthread_self()));
    EXPECT_TRUE(pthread_equal(parts[2].ranOn, pthread_self()));
    EXPECT_TRUE(pthread_equal(parts[3].ranOn, pthread_self()));
}

TEST(ParkedWorkersTest, AThreadThatCannotStartLeavesTheWorkToTheCaller) {
    kvo::ParkedWorkers none(&neverStarts);
    EXPECT_EQ(none.start(1), 0);
    Part parts[2];
    void* args[] = {&parts[0], &parts[1]};
    none.run(&recordPart, args, 2);
    EXPECT_EQ(none.lastParked(), 0);
    EXPECT_EQ(parts[0].runs + parts[1].runs, 2);
    EXPECT_TRUE(pthread_equal(parts[1].ranOn, pthread_self()));

    starts = 0;
    kvo::ParkedWorkers one(&startsOnce);
    EXPECT_EQ(one.start(3), 1);  // the second start failed: one worker runs
    Part more[3];
    void* moreArgs[] = {&more[0], &more[1], &more[2]};
    one.run(&recordPart, moreArgs, 3);
    for (const Part& p : more) EXPECT_EQ(p.runs, 1);
    EXPECT_EQ(one.lastParked(), 1);
}

TEST(ParkedWorkersTest, StopJoinsEveryWorkerAndStartMayFollow) {
    kvo::ParkedWorkers workers;
    EXPECT_EQ(workers.start(1), 1);
    EXPECT_EQ(workers.start(1), 1);  // idempotent
    workers.stop();
    EXPECT_EQ(workers.running(), 0);
    Part parts[2];
    void* args[] = {&parts[0], &parts[1]};
    workers.run(&recordPart, args, 2);  // after stop: all on the caller
    EXPECT_EQ(workers.lastParked(), 0);
    EXPECT_TRUE(pthread_equal(parts[1].ranOn, pthread_self()));
    EXPECT_EQ(workers.start(1), 1);
    workers.run(&recordPart, args, 2);
    EXPECT_EQ(workers.lastParked(), 1);
    EXPECT_EQ(parts[1].runs, 2);
    EXPECT_FALSE(pthread_equal(parts[1].ranOn, pthread_self()));
}

TEST(ParkedWorkersTest, ManyRunsBackToBackLoseNoPart) {
    kvo::ParkedWorkers workers;
    ASSERT_EQ(workers.start(1), 1);
    Part parts[2];
    void* args[] = {&parts[0], &parts[1]};
    const int runs = 20000;
    for (int i = 0; i < runs; ++i) {
        workers.run(&recordPart, args, 2);
        // The caller reads the worker's part between runs: the hand-over orders it.
        ASSERT_EQ(parts[1].runs, i + 1);
    }
    EXPECT_EQ(parts[0].runs, runs);
    EXPECT_EQ(parts[1].sum, 500500L * runs);
}

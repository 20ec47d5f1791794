// The platform mutex: mutual exclusion, and priority inheritance on Linux, shown by the classic
// inversion. On one processor a low-priority thread holds the mutex, a high-priority thread waits
// for it and a medium-priority thread spins: without inheritance the holder never runs until the
// spinner stops, and the high-priority thread waits as long; with it the holder runs at the
// waiter's priority, finishes and hands the mutex over at once.
#include "platform/mutex.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void spinFor(double seconds) {
    const Clock::time_point start = Clock::now();
    while (secondsSince(start) < seconds) {
    }
}

// Runs the calling thread under SCHED_FIFO at `priority` on processor `cpu` only; false, with
// nothing changed, when the process may not (no root, an RLIMIT_RTPRIO of 0).
bool runRealTimeOn(int cpu, int priority) {
    sched_param parameters{};
    parameters.sched_priority = priority;
    if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &parameters) != 0) return false;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return pthread_setaffinity_np(pthread_self(), sizeof set, &set) == 0;
}

// Sleeps in short steps until `flag` is set or `refused` is.
void awaitFlag(const std::atomic<bool>& flag, const std::atomic<bool>& refused) {
    while (!flag.load() && !refused.load()) {
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
}

// A processor this process may run on.
int allowedProcessor() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) return 0;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (CPU_ISSET(cpu, &set)) return cpu;
    }
    return 0;
}

}  // namespace

TEST(Mutex, ExcludesConcurrentHolders) {
    Mutex mutex;
    long counter = 0;  // a plain variable: ThreadSanitizer sees any access outside the mutex
    auto add = [&] {
        for (int i = 0; i < 200000; ++i) {
            MutexLock lock(mutex);
            ++counter;
        }
    };
    std::thread a(add), b(add);
    a.join();
    b.join();
    EXPECT_EQ(counter, 400000);
}

#ifdef __linux__
TEST(Mutex, HolderRunsAtTheWaitersPriority) {
    const int cpu = allowedProcessor();
    Mutex mutex;
    ASSERT_TRUE(mutex.inheritsPriority());
    constexpr double kHolderWork = 0.02;  // s the holder computes with the mutex held
    constexpr double kSpinnerWork = 0.4;  // s the medium-priority thread keeps the processor
    std::atomic<bool> refused{false}, holding{false}, waiting{false}, done{false};
    double waited = -1.0;

    // The holder: priority 1, takes the mutex, then computes kHolderWork once a waiter came.
    std::thread low([&] {
        if (!runRealTimeOn(cpu, 1)) {
            refused = true;
            return;
        }
        MutexLock lock(mutex);
        holding = true;
        awaitFlag(waiting, refused);
        spinFor(kHolderWork);
    });
    // The waiter: priority 3, times its wait for the mutex.
    std::thread high([&] {
        if (!runRealTimeOn(cpu, 3)) {
            refused = true;
            return;
        }
        awaitFlag(holding, refused);
        if (refused.load()) return;
        const Clock::time_point start = Clock::now();
        waiting = true;
        mutex.lock();
        waited = secondsSince(start);
        mutex.unlock();
        done = true;
    });
    // The spinner: priority 2, keeps the processor from every thread below it until the waiter
    // is served, for kSpinnerWork at most.
    std::thread medium([&] {
        if (!runRealTimeOn(cpu, 2)) {
            refused = true;
            return;
        }
        awaitFlag(waiting, refused);
        const Clock::time_point start = Clock::now();
        while (!done.load() && !refused.load() && secondsSince(start) < kSpinnerWork) {
        }
    });
    low.join();
    high.join();
    medium.join();
    if (refused.load()) GTEST_SKIP() << "no real-time scheduling for this process";
    // Without inheritance the waiter would wait for the spinner's 0.4 s.
    EXPECT_GE(waited, kHolderWork * 0.5);
    EXPECT_LT(waited, kSpinnerWork / 2) << "the holder did not run at the waiter's priority";
}
#endif

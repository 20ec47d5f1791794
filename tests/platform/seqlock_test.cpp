// A reader of a SeqLock never sees a torn value, however the writer interleaves with it.
#include "platform/seqlock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

// Twelve doubles that are all equal in every published value: a torn read mixes two values.
struct Twelve {
    double v[12];
};

}  // namespace

TEST(SeqLock, ReaderSeesTheLastStore) {
    SeqLock<Twelve> lock;
    Twelve t{};
    for (double& x : t.v) x = 3.5;
    lock.store(t);
    const Twelve r = lock.load();
    for (double x : r.v) EXPECT_EQ(x, 3.5);
}

TEST(SeqLock, ConcurrentReadersNeverSeeATornValue) {
    SeqLock<Twelve> lock;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        Twelve t{};
        for (int k = 1; k <= 200000; ++k) {
            for (double& x : t.v) x = k;
            lock.store(t);
        }
        done = true;
    });
    long torn = 0, reads = 0;
    double last = 0;
    bool wentBackwards = false;
    while (!done.load()) {
        const Twelve r = lock.load();
        for (double x : r.v) torn += (x != r.v[0]);
        wentBackwards |= r.v[0] < last;
        last = r.v[0];
        ++reads;
    }
    writer.join();
    EXPECT_EQ(torn, 0) << "out of " << reads << " reads";
    EXPECT_FALSE(wentBackwards);
    EXPECT_EQ(lock.load().v[11], 200000.0);
}

TEST(SeqLock, TryLoadGivesTheLastStoreWhenNoStoreIsUnderWay) {
    SeqLock<Twelve> lock;
    Twelve t{};
    for (double& x : t.v) x = -2.25;
    lock.store(t);
    Twelve r{};
    ASSERT_TRUE(lock.tryLoad(&r, 1));
    for (double x : r.v) EXPECT_EQ(x, -2.25);
}

// Against a writer that stores all the time, a reader allowed one try per read either gets a
// whole value, never older than the one before, or is told it got nothing and keeps what it had
// (here a value no store writes).
TEST(SeqLock, TryLoadGivesAWholeValueOrLeavesItsTargetAlone) {
    SeqLock<Twelve> lock;
    std::atomic<bool> stop{false};
    std::atomic<long> stores{0};
    // Stores until the reader has seen enough, so the two run side by side however the threads
    // are scheduled.
    std::thread writer([&] {
        Twelve t{};
        for (int k = 1; !stop.load(); ++k) {
            for (double& x : t.v) x = k;
            lock.store(t);
            stores.store(k);
        }
    });
    long torn = 0, whole = 0, refused = 0, touched = 0, reads = 0;
    double last = 0;
    bool wentBackwards = false;
    while (reads < 200000 || whole < 100 || stores.load() < 1000) {
        Twelve r;
        for (double& x : r.v) x = -1.0;
        if (lock.tryLoad(&r, 1)) {
            for (double x : r.v) torn += (x != r.v[0]);
            wentBackwards |= r.v[0] < last;
            last = r.v[0];
            ++whole;
        } else {
            for (double x : r.v) touched += (x != -1.0);
            ++refused;
        }
        ++reads;
    }
    stop = true;
    writer.join();
    EXPECT_EQ(torn, 0) << "out of " << whole << " whole reads";
    EXPECT_EQ(touched, 0) << "out of " << refused << " refused reads";
    EXPECT_FALSE(wentBackwards);
}

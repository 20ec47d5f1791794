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

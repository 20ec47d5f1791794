// Chunked parallel loop (see parallel_for.h).
#include "tools/bake/common/parallel_for.h"

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

int threadCountFor(int requested) {
    if (requested > 0) return requested;
    return std::max(1u, std::thread::hardware_concurrency());
}

void parallelFor(int count, int threads, const std::function<void(int)>& body) {
    threads = std::max(1, std::min(threadCountFor(threads), count));
    if (threads == 1) {
        for (int i = 0; i < count; ++i) body(i);
        return;
    }
    std::atomic<int> next(0);
    const int chunk = std::max(1, std::min(16, count / (8 * threads)));
    auto work = [&] {
        for (int begin; (begin = next.fetch_add(chunk)) < count;)
            for (int i = begin; i < std::min(count, begin + chunk); ++i) body(i);
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < threads; ++t) pool.emplace_back(work);
    work();
    for (std::thread& t : pool) t.join();
}

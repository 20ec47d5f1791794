// steady_clock is monotonic and, on this platform, counts nanoseconds.
#include "platform/high_resolution_counter.h"

#include <chrono>

int64_t queryPerformanceCounter() {
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t queryPerformanceFrequency() { return 1000000000; }

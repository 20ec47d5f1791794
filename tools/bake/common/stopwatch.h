// Wall-clock seconds for the baker's progress lines and reports: every stage times itself from a
// steady_clock time point taken where it starts.
#pragma once

#include <chrono>

// Seconds from `start` to now (steady clock, never negative).
inline double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

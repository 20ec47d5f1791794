// The high-resolution performance counter the program times itself with: the idle handler's
// frame interval, the status line's once-per-second refresh, the impact marker's lifetime, the
// saturation message's hold and the audio callback's own running time.
//
// A monotonic 64-bit tick count and its frequency in ticks per second, read from
// std::chrono::steady_clock (one tick per nanosecond). Safe from any thread.
#pragma once

#include <cstdint>

// Current tick count of the monotonic counter.
// Real-time: wait-free; no allocation, no I/O, no lock.
int64_t queryPerformanceCounter();

// Ticks per second of queryPerformanceCounter(): 1e9.
int64_t queryPerformanceFrequency();

// An interval timer: the pair (counter frequency, reference count) of the high-resolution
// counter. The program keeps five of them, created before main beside the code that owns each
// (ui/frame_display.h, ui/picking.h, sound/synthesis_state.h); each is reset by the one thread
// that owns it and read by that thread only.
#pragma once

#include <cstdint>

#include "platform/high_resolution_counter.h"

struct IntervalTimer {
    int64_t frequency;  // ticks per second
    int64_t reference;  // counter value at the last reset

    // Queries the frequency and sets the reference to the current counter value.
    IntervalTimer()
        : frequency(queryPerformanceFrequency()), reference(queryPerformanceCounter()) {}

    // Seconds from the reference to `now`, (now - reference) / frequency in double precision.
    double secondsUntil(int64_t now) const {
        return static_cast<double>(now - reference) / static_cast<double>(frequency);
    }

    // Seconds elapsed since the reference.
    // Real-time: wait-free; no allocation, no I/O, no lock.
    double elapsedSeconds() const { return secondsUntil(queryPerformanceCounter()); }

    // Sets the reference to a new counter reading.
    // Real-time: wait-free; no allocation, no I/O, no lock.
    void reset() { reference = queryPerformanceCounter(); }
};

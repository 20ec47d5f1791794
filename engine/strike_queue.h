// The strikes of one engine object on their way from the control thread (tonwell_object_strike,
// Engine::strike) to the render thread, which turns them into modal forces at the start of its
// next block: a fixed ring of single-producer, single-consumer slots, so neither side ever
// allocates, locks or waits.
//
// Memory order: the producer writes a slot, then publishes it with a release store of tail_; the
// consumer's acquire load of tail_ sees the slot whole. The consumer frees a slot with a release
// store of head_, which the producer reads with acquire before it writes the slot again.
#pragma once

#include <atomic>
#include <cstdint>

#include "sound/surface_point.h"

// One strike: a point force of `magnitude` along the unit `direction` (the object's mode-shape
// frame) at `point` of the surface: a mesh vertex (its three corners the same) or a point inside
// a triangle, acting for `duration` samples (0: the engine's impact duration).
struct StrikeEvent {
    SurfacePoint point;
    double direction[3];
    double magnitude;
    int duration;
};

class StrikeQueue {
  public:
    // Strikes a queue holds between two blocks.
    static constexpr uint32_t kCapacity = 256;

    // [Control thread] Appends `strike`; false, and nothing appended, when the ring is full.
    // Real-time: wait-free; no allocation, no I/O, no lock.
    bool push(const StrikeEvent& strike) {
        const uint32_t tail = tail_.load(std::memory_order_relaxed);
        if (tail - head_.load(std::memory_order_acquire) == kCapacity) return false;
        ring_[tail % kCapacity] = strike;
        tail_.store(tail + 1, std::memory_order_release);
        return true;
    }

    // [Render thread] Takes the oldest strike into *strike; false when there is none.
    // Real-time: wait-free; no allocation, no I/O, no lock.
    bool pop(StrikeEvent* strike) {
        const uint32_t head = head_.load(std::memory_order_relaxed);
        if (head == tail_.load(std::memory_order_acquire)) return false;
        *strike = ring_[head % kCapacity];
        head_.store(head + 1, std::memory_order_release);
        return true;
    }

  private:
    StrikeEvent ring_[kCapacity];
    std::atomic<uint32_t> head_{0};  // next slot to read; written by the render thread
    std::atomic<uint32_t> tail_{0};  // next slot to write; written by the control thread
};

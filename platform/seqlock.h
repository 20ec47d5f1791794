// A value published by one writer thread and read whole by others: the sequence lock the GUI
// thread uses to hand the object's pose and the listener's position to the audio thread, so that
// an audio block always sees one consistent value (never half of an old and half of a new one).
//
// The value is stored as relaxed atomic 64-bit words, so the protocol is free of data races in
// the C++ memory model (and clean under ThreadSanitizer) without a lock.
//
// A reader of real-time priority must not wait for the writer: a writer preempted between the two
// sequence stores would leave a spinning reader spinning for as long as the scheduler keeps the
// writer off a processor, which on a loaded machine is milliseconds (the writer is the GUI thread,
// of normal priority). Such a reader uses tryLoad, which gives up after a bounded number of tries,
// and keeps the last whole value it read.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <type_traits>

template <typename T>
class SeqLock {
    static_assert(std::is_trivially_copyable<T>::value, "SeqLock holds plain data");
    static constexpr size_t kWords = (sizeof(T) + 7) / 8;

  public:
    explicit SeqLock(const T& initial = T()) { store(initial); }
    SeqLock(const SeqLock&) = delete;
    SeqLock& operator=(const SeqLock&) = delete;

    // Publishes `value`. One writer thread only.
    // Real-time: wait-free; no allocation, no I/O, no lock.
    void store(const T& value) {
        uint64_t words[kWords] = {};
        memcpy(words, &value, sizeof(T));
        const uint32_t s = sequence_.load(std::memory_order_relaxed);
        sequence_.store(s + 1, std::memory_order_relaxed);  // odd: a write is under way
        // Release stores: a reader that sees any new word also sees the odd sequence number
        // stored before it, and so retries.
        for (size_t i = 0; i < kWords; ++i) words_[i].store(words[i], std::memory_order_release);
        sequence_.store(s + 2, std::memory_order_release);  // even again: the value is whole
    }

    // The last value published, if it can be read whole within `attempts` tries: then true, with
    // *value set. False, with *value untouched, when every try met a store under way. Any thread.
    // Real-time: wait-free (at most `attempts` tries); no allocation, no I/O.
    bool tryLoad(T* value, int attempts) const {
        uint64_t words[kWords];
        for (int attempt = 0; attempt < attempts; ++attempt) {
            const uint32_t before = sequence_.load(std::memory_order_acquire);
            if (before & 1u) continue;
            // Acquire loads keep the second reading of the sequence number after the words.
            for (size_t i = 0; i < kWords; ++i)
                words[i] = words_[i].load(std::memory_order_acquire);
            if (sequence_.load(std::memory_order_relaxed) == before) {
                memcpy(value, words, sizeof(T));
                return true;
            }
        }
        return false;
    }

    // The last value published. Any thread that may wait for the writer (not the audio thread).
    // Lock-free: retries for as long as a store is under way; no allocation, no I/O.
    T load() const {
        uint64_t words[kWords];
        for (;;) {
            const uint32_t before = sequence_.load(std::memory_order_acquire);
            if (before & 1u) continue;
            // Acquire loads keep the second reading of the sequence number after the words.
            for (size_t i = 0; i < kWords; ++i)
                words[i] = words_[i].load(std::memory_order_acquire);
            if (sequence_.load(std::memory_order_relaxed) == before) break;
        }
        T value;
        memcpy(&value, words, sizeof(T));
        return value;
    }

  private:
    std::atomic<uint32_t> sequence_{0};
    std::atomic<uint64_t> words_[kWords] = {};
};

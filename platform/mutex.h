// The operating-system mutex the program's two threads (GUI and audio) share state through.
//
// A non-recursive lock with untimed waits. The program creates exactly three of them before
// main (synthesisMutex, forceMutex, workloadMutex; see sound/synthesis_state.h) and they outlive
// every at-exit handler, so the audio stream can be closed at exit while they still exist.
#pragma once

#include <mutex>

class Mutex {
  public:
    Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    // Blocking: waits without a time limit until the mutex is free.
    void lock() { mutex_.lock(); }
    // Wait-free.
    void unlock() { mutex_.unlock(); }

  private:
    std::mutex mutex_;
};

// Holds a Mutex for the lifetime of the scope.
class MutexLock {
  public:
    explicit MutexLock(Mutex& mutex) : mutex_(mutex) { mutex_.lock(); }
    ~MutexLock() { mutex_.unlock(); }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

  private:
    Mutex& mutex_;
};

// The operating-system mutex the program's two threads (GUI and audio) share state through.
//
// A non-recursive lock with untimed waits. The program creates exactly three of them before
// main (synthesisMutex, forceMutex, workloadMutex; see sound/synthesis_state.h) and they outlive
// every at-exit handler, so the audio stream can be closed at exit while they still exist.
//
// Priority inheritance: the audio callback takes all three, and the GUI thread holds each for
// short moments. When the callback runs at real-time priority (sound/audio_device.h) and waits
// for a mutex the GUI thread holds, the holder must not sit descheduled behind other busy threads
// of normal priority, or the callback waits for them too, for as long as the scheduler gives them
// (milliseconds on a loaded machine). So on Linux the mutex is a POSIX mutex with the protocol
// PTHREAD_PRIO_INHERIT: its holder runs at the priority of the highest waiter until it unlocks
// (measured in two ten-minute runs with both cores loaded: the callback's longest wait for
// synthesisMutex 0.15 ms, for forceMutex 0.25 ms). Where the system refuses that protocol, it is
// a plain POSIX mutex (inheritsPriority() says which).
#pragma once

#include <pthread.h>

class Mutex {
  public:
    // An unowned mutex, with priority inheritance where the system offers it.
    Mutex();
    ~Mutex();
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    // Blocking: waits without a time limit until the mutex is free. While it waits, the holder
    // runs at least at the waiting thread's priority (with priority inheritance).
    void lock() {
        const int error = pthread_mutex_lock(&mutex_);
        if (error != 0) failed("pthread_mutex_lock", error);
    }
    // Never waits (with priority inheritance, a contended unlock is one system call that hands
    // the mutex to the waiter and drops the holder's raised priority).
    void unlock() {
        const int error = pthread_mutex_unlock(&mutex_);
        if (error != 0) failed("pthread_mutex_unlock", error);
    }

    // Whether the mutex passes a waiter's priority to its holder (PTHREAD_PRIO_INHERIT).
    bool inheritsPriority() const { return inheritsPriority_; }

  private:
    // A call on the mutex failed: a programmer error (a mutex used after its destruction, or
    // unlocked by a thread that does not hold it). Prints the call and the error and aborts.
    [[noreturn]] static void failed(const char* call, int error);

    pthread_mutex_t mutex_;
    bool inheritsPriority_ = false;
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

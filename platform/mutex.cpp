// The POSIX mutex behind Mutex, with the priority-inheritance protocol where it is offered.
#include "platform/mutex.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

Mutex::Mutex() {
    pthread_mutexattr_t attributes;
    int error = pthread_mutexattr_init(&attributes);
    if (error != 0) failed("pthread_mutexattr_init", error);
#if defined(_POSIX_THREAD_PRIO_INHERIT) && _POSIX_THREAD_PRIO_INHERIT > 0
    // Refused (ENOTSUP) where the kernel has no priority-inheriting futexes: a plain mutex then.
    inheritsPriority_ = pthread_mutexattr_setprotocol(&attributes, PTHREAD_PRIO_INHERIT) == 0;
#endif
    error = pthread_mutex_init(&mutex_, &attributes);
    if (error != 0 && inheritsPriority_) {
        // Accepted as an attribute but not by the mutex: fall back to the plain protocol.
        inheritsPriority_ = false;
        pthread_mutexattr_setprotocol(&attributes, PTHREAD_PRIO_NONE);
        error = pthread_mutex_init(&mutex_, &attributes);
    }
    pthread_mutexattr_destroy(&attributes);
    if (error != 0) failed("pthread_mutex_init", error);
}

Mutex::~Mutex() { pthread_mutex_destroy(&mutex_); }

void Mutex::failed(const char* call, int error) {
    fprintf(stderr, "Mutex: %s failed with error %d (%s)\n", call, error, strerror(error));
    abort();
}

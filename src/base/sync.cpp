// cCriticalSection and cEvent over pthread mutexes and condition variables.
#include "base/sync.h"

#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

cCriticalSection::cCriticalSection() {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&myMutex, &attr);
    pthread_mutexattr_destroy(&attr);
}

cCriticalSection::~cCriticalSection() { pthread_mutex_destroy(&myMutex); }

void cCriticalSection::enter() { pthread_mutex_lock(&myMutex); }

bool cCriticalSection::tryEnter() { return pthread_mutex_trylock(&myMutex) == 0; }

void cCriticalSection::leave() { pthread_mutex_unlock(&myMutex); }

namespace {

// Unlocks on every way out, including the unwinding of a cancelled thread,
// which re-acquires the mutex of an interrupted condition wait.
struct sMutexHolder {
    pthread_mutex_t* m;
    explicit sMutexHolder(pthread_mutex_t* mutex) : m(mutex) { pthread_mutex_lock(m); }
    ~sMutexHolder() { pthread_mutex_unlock(m); }
};

}  // namespace

cEvent::cEvent(bool manualReset, bool initiallySet) : myManual(manualReset), mySet(initiallySet) {
    pthread_mutex_init(&myMutex, nullptr);
    // Time-outs follow the monotonic clock so that a change of the wall clock
    // neither shortens nor stretches a wait.
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_cond_init(&myCond, &attr);
    pthread_condattr_destroy(&attr);
}

cEvent::~cEvent() {
    pthread_cond_destroy(&myCond);
    pthread_mutex_destroy(&myMutex);
}

void cEvent::set() {
    sMutexHolder hold(&myMutex);
    mySet = true;
    if (myManual)
        pthread_cond_broadcast(&myCond);
    else
        pthread_cond_signal(&myCond);
}

void cEvent::reset() {
    sMutexHolder hold(&myMutex);
    mySet = false;
}

bool cEvent::isSet() {
    sMutexHolder hold(&myMutex);
    return mySet;
}

bool cEvent::wait(int ms) {
    sMutexHolder hold(&myMutex);
    if (ms < 0) {
        while (!mySet) pthread_cond_wait(&myCond, &myMutex);
    } else {
        struct timespec until;
        clock_gettime(CLOCK_MONOTONIC, &until);
        until.tv_sec += ms / 1000;
        until.tv_nsec += (long)(ms % 1000) * 1000000L;
        if (until.tv_nsec >= 1000000000L) {
            until.tv_sec++;
            until.tv_nsec -= 1000000000L;
        }
        while (!mySet) {
            if (pthread_cond_timedwait(&myCond, &myMutex, &until) == ETIMEDOUT) break;
        }
    }
    if (!mySet) return false;
    if (!myManual) mySet = false;
    return true;
}

int usableCores() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof(set), &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? (int)n : 1;
}

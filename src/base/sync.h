// Locks and events shared between threads: a recursive lock, its scoped holder,
// an event with a timed wait (auto- or manual-reset), and how many cores there are to use.
#pragma once

#include <pthread.h>

// A recursive lock: the thread that holds it may enter again.
class cCriticalSection {
public:
    cCriticalSection();
    ~cCriticalSection();
    cCriticalSection(const cCriticalSection&) = delete;
    cCriticalSection& operator=(const cCriticalSection&) = delete;

    void enter();
    bool tryEnter();
    void leave();

private:
    pthread_mutex_t myMutex;
};

// Enters a lock for the lifetime of the object (a null lock is allowed and does
// nothing). Leaving happens on every way out of the scope, thread cancellation included.
class cSafeCriticalSectionAccess {
public:
    explicit cSafeCriticalSectionAccess(cCriticalSection* cs) : myCs(cs) {
        if (myCs) myCs->enter();
    }
    ~cSafeCriticalSectionAccess() {
        if (myCs) myCs->leave();
    }
    cSafeCriticalSectionAccess(const cSafeCriticalSectionAccess&) = delete;
    cSafeCriticalSectionAccess& operator=(const cSafeCriticalSectionAccess&) = delete;

private:
    cCriticalSection* myCs;
};

// An event. An auto-reset event releases one waiter per `set` and resets itself;
// a manual-reset event stays set, releasing every waiter, until `reset`.
class cEvent {
public:
    explicit cEvent(bool manualReset = false, bool initiallySet = false);
    ~cEvent();
    cEvent(const cEvent&) = delete;
    cEvent& operator=(const cEvent&) = delete;

    void set();
    void reset();
    // Waits until the event is set, at most `ms` milliseconds (negative: no limit).
    // True when the event was set, false on time-out.
    bool wait(int ms = -1);
    // The state without waiting (an auto-reset event is not consumed).
    bool isSet();

private:
    pthread_mutex_t myMutex;
    pthread_cond_t myCond;
    bool myManual;
    bool mySet;
};

// The cores this process may run on (taskset and cgroups narrow them), at least one.
int usableCores();

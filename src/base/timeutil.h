// Clocks and calendar conversions: millisecond and microsecond ticks, the current
// local and Unix time, and Unix seconds as a calendar time or a display text.
#pragma once

#include <atomic>

#include "base/timestamp.h"

// Milliseconds since the first call in the process, on a monotonic clock; wraps
// after about 49.7 days, so callers subtract as unsigned 32-bit values.
unsigned int ticks_ms();
// Monotonic microseconds (unrelated to the calendar).
unsigned long long ticks_us();

// Lets a repeated update through at most once per period of a tick clock (ticks_ms or
// ticks_us, in T, the clock's own unsigned type): a job reporting thousands of times a
// second redraws a few times. The gap is taken in T, so a clock that wraps still measures
// it. The job's thread passes; another thread may restart between runs.
template <class T>
class cTimeGate {
public:
    explicit cTimeGate(T period) : myPeriod(period) {}
    // The last update counts as made at `t`.
    void restart(T t) { myLast.store(t, std::memory_order_relaxed); }
    // True, counting the next period from now, when a whole period has gone by; of callers
    // racing for one period only one passes.
    bool pass(T now) {
        // Relaxed: the time is the only thing shared here, no other data is published with
        // it (a run's start already orders a restart before that run's passes).
        T last = myLast.load(std::memory_order_relaxed);
        if ((T)(now - last) < myPeriod) return false;
        return myLast.compare_exchange_strong(last, now, std::memory_order_relaxed);
    }

private:
    const T myPeriod;
    std::atomic<T> myLast{0};
};

// The local date and time now.
void getCurrTimestamp(sTimestamp& ts);
// Seconds since 1970-01-01 00:00:00 UTC.
unsigned long long getCurrUnixTime();
// Seconds since 1970-01-01 as a UTC calendar time (any 32-bit value, up to 2106).
void unixToTimestamp(unsigned int seconds, sTimestamp& ts);
// The time as the user's local "dd.mm.yyyy hh:mm:ss" (a moment shown to a person);
// 0 and 0xFFFFFFFF (never set) give "-". False when the buffer is null or too
// small (it then holds an empty text when it has room for one byte).
bool unixToStr(unsigned int seconds, char* buffer, long long size);

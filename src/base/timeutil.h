// Clocks and calendar conversions: millisecond and microsecond ticks, the current
// local and Unix time, and Unix seconds as a calendar time or a display text.
#pragma once

#include "base/timestamp.h"

// Milliseconds since the first call in the process, on a monotonic clock; wraps
// after about 49.7 days, so callers subtract as unsigned 32-bit values.
unsigned int ticks_ms();
// Monotonic microseconds (unrelated to the calendar).
unsigned long long ticks_us();

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

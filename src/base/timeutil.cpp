// Clocks and calendar conversions over clock_gettime and localtime_r; the UTC
// conversion is plain arithmetic so that it covers every 32-bit value everywhere.
#include "base/timeutil.h"

#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

unsigned long long monotonicUs() {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (unsigned long long)t.tv_sec * 1000000ULL + (unsigned long long)t.tv_nsec / 1000ULL;
}

void fromTm(const struct tm& t, sTimestamp& ts) {
    ts.year = (unsigned short)(t.tm_year + 1900);
    ts.month = (unsigned char)(t.tm_mon + 1);
    ts.day = (unsigned char)t.tm_mday;
    ts.hour = (unsigned char)t.tm_hour;
    ts.minute = (unsigned char)t.tm_min;
    ts.second = (unsigned char)t.tm_sec;
}

}  // namespace

unsigned int ticks_ms() {
    static const unsigned long long base = monotonicUs() / 1000ULL;
    return (unsigned int)(monotonicUs() / 1000ULL - base);
}

unsigned long long ticks_us() { return monotonicUs(); }

void getCurrTimestamp(sTimestamp& ts) {
    time_t now = time(nullptr);
    struct tm t;
    if (!localtime_r(&now, &t)) {
        memset(&ts, 0, sizeof(ts));
        return;
    }
    fromTm(t, ts);
}

unsigned long long getCurrUnixTime() {
    struct timespec t;
    clock_gettime(CLOCK_REALTIME, &t);
    return t.tv_sec < 0 ? 0 : (unsigned long long)t.tv_sec;
}

void unixToTimestamp(unsigned int seconds, sTimestamp& ts) {
    unsigned int days = seconds / 86400u;
    unsigned int rest = seconds % 86400u;
    ts.hour = (unsigned char)(rest / 3600u);
    ts.minute = (unsigned char)(rest / 60u % 60u);
    ts.second = (unsigned char)(rest % 60u);
    // Days to a proleptic Gregorian date, counting in 400-year eras from 0000-03-01
    // so that the leap day falls at the end of each counted year.
    long long z = (long long)days + 719468;
    long long era = z / 146097;
    long long doe = z - era * 146097;
    long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    long long mp = (5 * doy + 2) / 153;
    long long d = doy - (153 * mp + 2) / 5 + 1;
    long long m = mp < 10 ? mp + 3 : mp - 9;
    long long y = yoe + era * 400 + (m <= 2 ? 1 : 0);
    ts.year = (unsigned short)y;
    ts.month = (unsigned char)m;
    ts.day = (unsigned char)d;
}

bool unixToStr(unsigned int seconds, char* buffer, long long size) {
    if (!buffer || size <= 0) return false;
    buffer[0] = 0;
    if (seconds == 0 || seconds == 0xFFFFFFFFu) {
        if (size < 2) return false;
        buffer[0] = '-';
        buffer[1] = 0;
        return true;
    }
    time_t t = (time_t)seconds;
    struct tm tmv;
    if (!localtime_r(&t, &tmv)) return false;
    char text[64];
    int n = snprintf(text, sizeof(text), "%02d.%02d.%04d %02d:%02d:%02d", tmv.tm_mday, tmv.tm_mon + 1,
                     tmv.tm_year + 1900, tmv.tm_hour, tmv.tm_min, tmv.tm_sec);
    if (n < 0 || (long long)n >= size) return false;
    memcpy(buffer, text, (size_t)n + 1);
    return true;
}

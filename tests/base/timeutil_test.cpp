// Time: Unix seconds to UTC calendar time against gmtime_r, the display text
// against an independent UTC offset, and the clocks' basic promises.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "base/job.h"
#include "base/timeutil.h"
#include "testutil.h"

namespace {

std::string fmt(const struct tm& t) {
    char b[64];
    snprintf(b, sizeof(b), "%02d.%02d.%04d %02d:%02d:%02d", t.tm_mday, t.tm_mon + 1, t.tm_year + 1900, t.tm_hour,
             t.tm_min, t.tm_sec);
    return b;
}

void expectMatchesGmtime(unsigned int s) {
    sTimestamp ts;
    unixToTimestamp(s, ts);
    time_t t = (time_t)s;
    struct tm g;
    ASSERT_NE(nullptr, gmtime_r(&t, &g));
    EXPECT_EQ(g.tm_year + 1900, ts.year) << s;
    EXPECT_EQ(g.tm_mon + 1, ts.month) << s;
    EXPECT_EQ(g.tm_mday, ts.day) << s;
    EXPECT_EQ(g.tm_hour, ts.hour) << s;
    EXPECT_EQ(g.tm_min, ts.minute) << s;
    EXPECT_EQ(g.tm_sec, ts.second) << s;
}

}  // namespace

TEST(TimeUtil, UnixToTimestampMatchesGmtime) {
    static_assert(sizeof(time_t) == 8, "the oracle needs a 64-bit time_t");
    // Inside a day (every day boundary and the second before it are swept below): the
    // epoch, the signed 2038 rollover and the last seconds of the range.
    const unsigned int table[] = {1u, 59u, 2147483647u, 2147483648u, 4294967294u, 4294967295u};
    for (unsigned int s : table) expectMatchesGmtime(s);
    // Every day boundary of the whole range, and a pseudo-random sweep.
    for (unsigned long long d = 0; d * 86400ULL <= 0xFFFFFFFFULL; d += 1) {
        unsigned int s = (unsigned int)(d * 86400ULL);
        expectMatchesGmtime(s);
        if (s > 0) expectMatchesGmtime(s - 1);
        if (HasFailure()) return;
    }
    unsigned int x = 2463534242u;
    for (int i = 0; i < 20000 && !HasFailure(); i++) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        expectMatchesGmtime(x);
    }
}

TEST(TimeUtil, UnixToStrShowsLocalTime) {
    const unsigned int table[] = {1u, 59u, 951782400u, 1709164800u, 2147483648u, 4107542400u, 4294967294u};
    struct Zone {
        const char* tz;
        long offset;  // seconds east of UTC
    };
    // POSIX zones without daylight time: the sign is inverted in the TZ syntax.
    const Zone zones[] = {{"UTC0", 0}, {"QMX-3", 3 * 3600}, {"QMX+5:30", -(5 * 3600 + 1800)}};
    for (const Zone& z : zones) {
        testutil::EnvScope scope("TZ", z.tz);
        for (unsigned int s : table) {
            char buf[32];
            ASSERT_TRUE(unixToStr(s, buf, sizeof(buf))) << s;
            time_t shifted = (time_t)s + z.offset;
            struct tm g;
            ASSERT_NE(nullptr, gmtime_r(&shifted, &g));
            EXPECT_EQ(fmt(g), buf) << z.tz << " " << s;
        }
    }
}

TEST(TimeUtil, UnixToStrUnsetTimesAndSmallBuffers) {
    testutil::EnvScope scope("TZ", "UTC0");
    struct Case {
        unsigned int s;
        long long size;
        bool ok;
        const char* text;
    };
    const Case cases[] = {
        {0u, 32, true, "-"},
        {0xFFFFFFFFu, 32, true, "-"},
        {0u, 2, true, "-"},
        {0u, 1, false, ""},
        {951782400u, 20, true, "29.02.2000 00:00:00"},
        {951782400u, 19, false, ""},
        {951782400u, 1, false, ""},
    };
    for (const Case& c : cases) {
        char buf[40];
        memset(buf, 'x', sizeof(buf));
        EXPECT_EQ(c.ok, unixToStr(c.s, buf, c.size)) << c.s << "/" << c.size;
        EXPECT_STREQ(c.text, buf) << c.s << "/" << c.size;
        for (long long i = c.size; i < (long long)sizeof(buf); i++) ASSERT_EQ('x', buf[i]) << "wrote past the buffer";
    }
    EXPECT_FALSE(unixToStr(1u, nullptr, 10));
    char b[4] = "abc";
    EXPECT_FALSE(unixToStr(1u, b, 0));
    EXPECT_FALSE(unixToStr(1u, b, -5));
    EXPECT_STREQ("abc", b);
}

namespace {
// Seconds of the precise system clock; time() may lag it by a tick.
long long realNow() {
    struct timespec t;
    clock_gettime(CLOCK_REALTIME, &t);
    return (long long)t.tv_sec;
}
}  // namespace

TEST(TimeUtil, ClocksAgreeWithTheSystem) {
    long long before = realNow();
    unsigned long long now = getCurrUnixTime();
    long long after = realNow();
    EXPECT_GE(now, (unsigned long long)before);
    EXPECT_LE(now, (unsigned long long)after);

    testutil::EnvScope scope("TZ", "QMX-3");
    sTimestamp ts;
    long long t0 = realNow();
    getCurrTimestamp(ts);
    long long t1 = realNow();
    // The same moment as gmtime three hours ahead, from either side of the call (a
    // second earlier too, for a clock that lags the precise one by a tick).
    bool matched = false;
    for (long long t = t0 - 1; t <= t1 && !matched; t++) {
        time_t shifted = (time_t)t + 3 * 3600;
        struct tm g;
        gmtime_r(&shifted, &g);
        matched = g.tm_year + 1900 == ts.year && g.tm_mon + 1 == ts.month && g.tm_mday == ts.day &&
                  g.tm_hour == ts.hour && g.tm_min == ts.minute && g.tm_sec == ts.second;
    }
    EXPECT_TRUE(matched);
}

TEST(TimeUtil, TicksAreMonotonicAndMeasureSleeps) {
    unsigned int m0 = ticks_ms();
    unsigned long long u0 = ticks_us();
    unsigned long long prev = u0;
    for (int i = 0; i < 10000; i++) {
        unsigned long long u = ticks_us();
        ASSERT_GE(u, prev);
        prev = u;
    }
    cJob::sleep(25);
    EXPECT_GE(ticks_ms() - m0, 25u);
    EXPECT_GE(ticks_us() - u0, 25000u);
}

// The gate lets an update through once a whole period has passed since the last one, also
// across the wrap of the 32-bit millisecond clock (a gap taken in a wider type would hold
// every update back for 49 days, or let each one through).
TEST(TimeUtil, TimeGatePassesOncePerPeriodAcrossTheClockWrap) {
    struct Case {
        unsigned int start, now;
        bool passes;
    } cases[] = {
        {0, 500, false},
        {0, 501, true},
        {1000, 1400, false},
        {0xFFFFFF00u, 0xF4u, false},  // 500 ms across the wrap
        {0xFFFFFF00u, 0xF5u, true},   // 501 ms across the wrap
        {100, 50, true},              // a clock restarted behind: a huge gap
    };
    for (const Case& c : cases) {
        cTimeGate<unsigned int> gate(501);
        gate.restart(c.start);
        EXPECT_EQ(gate.pass(c.now), c.passes) << c.start << " " << c.now;
        // The next period counts from the last pass.
        EXPECT_EQ(gate.pass(c.now + 501), true) << c.start << " " << c.now;
        EXPECT_EQ(gate.pass(c.now + 1000), false) << c.start << " " << c.now;
    }
}

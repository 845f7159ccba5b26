// cCriticalSection and cEvent: re-entry, mutual exclusion, reset modes, time-outs
// and wake-ups across threads.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "base/job.h"
#include "base/sync.h"
#include "base/timeutil.h"

namespace {

// Whether another thread can enter the section now.
bool freeForOthers(cCriticalSection& cs) {
    bool free = false;
    std::thread t([&] {
        free = cs.tryEnter();
        if (free) cs.leave();
    });
    t.join();
    return free;
}

}  // namespace

TEST(CriticalSection, ReentersOnOneThreadAndExcludesOthersUntilFullyLeft) {
    cCriticalSection cs;
    cs.enter();
    ASSERT_TRUE(cs.tryEnter());  // recursive: no self-deadlock
    {
        cSafeCriticalSectionAccess again(&cs);
        EXPECT_FALSE(freeForOthers(cs));
    }
    cs.leave();
    EXPECT_FALSE(freeForOthers(cs));  // one enter is left
    cs.leave();
    EXPECT_TRUE(freeForOthers(cs));
}

TEST(CriticalSection, ScopedHolderAcceptsNullAndLeavesOnException) {
    { cSafeCriticalSectionAccess none(nullptr); }
    cCriticalSection cs;
    try {
        cSafeCriticalSectionAccess hold(&cs);
        QMX_THROW("leave");
    } catch (const cException&) {
    }
    EXPECT_TRUE(freeForOthers(cs));
}

TEST(CriticalSection, SerialisesConcurrentUpdates) {
    cCriticalSection cs;
    long long counter = 0;  // plain on purpose: only the lock protects it
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++)
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; i++) {
                cSafeCriticalSectionAccess hold(&cs);
                counter++;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(80000, counter);
}

TEST(Event, ResetModesFollowTheirRules) {
    struct Step {
        char op;      // s = set, r = reset, w = wait(0)
        bool expect;  // what wait(0) returns; for s and r, isSet() afterwards
    };
    struct Case {
        bool manual, initial;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {false, false, {{'w', false}, {'s', true}, {'w', true}, {'w', false}}},
        {false, true, {{'w', true}, {'w', false}}},
        {false, false, {{'s', true}, {'s', true}, {'w', true}, {'w', false}}},  // sets do not count
        {false, false, {{'s', true}, {'r', false}, {'w', false}}},
        {false, true, {{'r', false}, {'w', false}, {'s', true}, {'w', true}}},
        {true, false, {{'w', false}, {'s', true}, {'w', true}, {'w', true}, {'r', false}, {'w', false}}},
        {true, true, {{'w', true}, {'w', true}, {'r', false}, {'w', false}, {'r', false}}},
    };
    int n = 0;
    for (const Case& c : cases) {
        cEvent ev(c.manual, c.initial);
        int k = 0;
        for (const Step& s : c.steps) {
            bool got;
            if (s.op == 'w') {
                got = ev.wait(0);
            } else {
                if (s.op == 's')
                    ev.set();
                else
                    ev.reset();
                got = ev.isSet();
            }
            EXPECT_EQ(s.expect, got) << "case " << n << " step " << k << " (" << s.op << ")";
            k++;
        }
        n++;
    }
}

TEST(Event, TimedWaitTimesOutOnlyAfterItsTime) {
    // A deadline computed on the wrong clock returns at once or far too late.
    cEvent ev;
    for (int ms : {1, 30, 120}) {
        unsigned long long t0 = ticks_us();
        EXPECT_FALSE(ev.wait(ms));
        EXPECT_GE(ticks_us() - t0, (unsigned long long)ms * 1000ULL) << ms;
    }
}

TEST(Event, WakesWaitersOnOtherThreads) {
    // Auto-reset: each set releases exactly one of the waiters.
    {
        cEvent ev(false, false);
        std::atomic<int> woken{0};
        std::vector<std::thread> ts;
        for (int i = 0; i < 3; i++)
            ts.emplace_back([&] {
                if (ev.wait(-1)) woken++;
            });
        for (int i = 0; i < 3; i++) {
            cJob::sleep(5);
            ev.set();
            for (int k = 0; k < 30000 && woken.load() < i + 1; k++) cJob::sleep(1);
            EXPECT_EQ(i + 1, woken.load());
        }
        for (auto& t : ts) t.join();
        EXPECT_FALSE(ev.wait(0));
    }
    // Manual reset: one set releases every waiter, and the event stays set.
    {
        cEvent ev(true, false);
        std::atomic<int> woken{0};
        std::vector<std::thread> ts;
        for (int i = 0; i < 4; i++)
            ts.emplace_back([&] {
                if (ev.wait(10000)) woken++;
            });
        cJob::sleep(10);
        ev.set();
        for (auto& t : ts) t.join();
        EXPECT_EQ(4, woken.load());
        EXPECT_TRUE(ev.wait(0));
    }
}

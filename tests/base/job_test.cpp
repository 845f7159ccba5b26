// cJob: result and hook delivery, stop requests, faults, restarts, destruction
// while running, and cancellation as the last resort.
#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/job.h"
#include "base/sync.h"

#if defined(__SANITIZE_ADDRESS__)
#define QMX_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QMX_UNDER_ASAN 1
#endif
#endif

#if defined(__SANITIZE_THREAD__)
#define QMX_UNDER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QMX_UNDER_TSAN 1
#endif
#endif

// AddressSanitizer's runtime aborts while a cancelled thread unwinds, and
// ThreadSanitizer loses track of the locks such a thread leaves.
#if defined(QMX_UNDER_ASAN) || defined(QMX_UNDER_TSAN)
#define SKIP_CANCELLATION_UNDER_SANITIZER() GTEST_SKIP() << "thread cancellation is not supported under this sanitizer"
#else
#define SKIP_CANCELLATION_UNDER_SANITIZER() (void)0
#endif

namespace {

// Polls a condition for at most ~10 s; tests never depend on how fast things happen.
template <class F>
bool eventually(F f) {
    for (int i = 0; i < 1000; i++) {
        if (f()) return true;
        cJob::sleep(10);
    }
    return f();
}

class cRecordingHandler : public cSysExceptHandler {
public:
    std::mutex m;
    std::vector<std::string> messages;
    void onException(const cException& e) override {
        std::lock_guard<std::mutex> g(m);
        messages.push_back(e.message());
    }
};

// A job whose body is a test-provided function; records its hooks in order.
class cScriptedJob : public cJob {
public:
    typedef unsigned int (*tBody)(cScriptedJob&);
    explicit cScriptedJob(tBody body, cSysExceptHandler* h = nullptr) : cJob(h), myBody(body) {}
    ~cScriptedJob() override { terminate(4000); }

    std::mutex m;
    std::vector<std::string> events;
    std::atomic<unsigned int> lastResult{12345};
    std::atomic<int> bodies{0};
    std::atomic<int> stopSignals{0};
    std::atomic<int> endDelayMs{0};
    std::atomic<bool> endFinished{false};
    cCriticalSection* heldLock = nullptr;
    cEvent* blockOn = nullptr;

    void note(const std::string& s) {
        std::lock_guard<std::mutex> g(m);
        events.push_back(s);
    }
    std::vector<std::string> snapshot() {
        std::lock_guard<std::mutex> g(m);
        return events;
    }

protected:
    unsigned int job() override {
        bodies++;
        note("job");
        return myBody(*this);
    }
    void onJobStart() override { note("start"); }
    void onJobStopSignal() override { stopSignals++; }
    void onJobEnd(unsigned int result) override {
        if (endDelayMs > 0) cJob::sleep(endDelayMs);
        lastResult = result;
        note("end");
        endFinished = true;
    }
    void onJobException(const cException& e) override { note(std::string("exception:") + e.message()); }

private:
    tBody myBody;
};

unsigned int returns42(cScriptedJob&) { return 42; }

unsigned int untilStopped(cScriptedJob& j) {
    while (!j.haveToStop()) cJob::sleep(1);
    return 7;
}

unsigned int throwsException(cScriptedJob&) { QMX_THROW("boom"); }

unsigned int throwsForeign(cScriptedJob&) { throw 5; }

unsigned int stopsItself(cScriptedJob& j) {
    // From its own thread terminate and start must neither wait for nor cancel it.
    bool gone = j.terminate(1000);
    bool restarted = j.start();
    return (!gone && !restarted && j.haveToStop()) ? 1 : 2;
}

unsigned int ignoresStopHoldingLock(cScriptedJob& j) {
    cSafeCriticalSectionAccess hold(j.heldLock);
    j.note("locked");
    for (;;) cJob::sleep(5);
}

unsigned int ignoresStopWaiting(cScriptedJob& j) {
    j.note("waiting");
    j.blockOn->wait(-1);
    return 3;
}

// Holds cancellation off, as code inside a library may, and ignores the stop request
// for longer than terminate(100) used to wait (its polls, then 2 s after cancelling);
// then it still uses the job's members.
unsigned int ignoresStopUncancellable(cScriptedJob& j) {
    int old;
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &old);
    j.note("deaf");
    cJob::sleep(2500);
    j.note("done");
    return 9;
}

}  // namespace

TEST(Job, DeliversResultToOnJobEndAfterStartAndBody) {
    cScriptedJob j(returns42);
    ASSERT_TRUE(j.start());
    ASSERT_TRUE(eventually([&] { return !j.runs(); }));
    EXPECT_EQ(42u, j.lastResult.load());
    EXPECT_EQ((std::vector<std::string>{"start", "job", "end"}), j.snapshot());
    EXPECT_FALSE(j.haveToStop());
}

TEST(Job, RunsStaysTrueUntilOnJobEndHasFinished) {
    // A runs() that turned false before onJobEnd returned would let an owner free
    // the job while its thread is still inside it.
    for (int i = 0; i < 5; i++) {
        cScriptedJob j(returns42);
        j.endDelayMs = 30;
        ASSERT_TRUE(j.start());
        EXPECT_TRUE(j.runs() || j.endFinished.load());
        ASSERT_TRUE(eventually([&] { return !j.runs(); }));
        EXPECT_TRUE(j.endFinished.load());
    }
}

TEST(Job, StopRequestReachesBodyAndHook) {
    cScriptedJob j(untilStopped);
    ASSERT_TRUE(j.start());
    ASSERT_TRUE(eventually([&] { return j.bodies.load() == 1; }));
    EXPECT_TRUE(j.runs());
    j.stop();
    EXPECT_TRUE(j.haveToStop());
    EXPECT_EQ(1, j.stopSignals.load());
    ASSERT_TRUE(eventually([&] { return !j.runs(); }));
    EXPECT_EQ(7u, j.lastResult.load());
}

TEST(Job, FaultsGiveAllOnesAndReachEveryHook) {
    struct Case {
        cScriptedJob::tBody body;
        const char* message;
    };
    const Case cases[] = {
        {throwsException, "boom"},
        {throwsForeign, "Unknown exception"},
    };
    for (const Case& c : cases) {
        cRecordingHandler handler;
        cScriptedJob j(c.body, &handler);
        ASSERT_TRUE(j.start());
        ASSERT_TRUE(eventually([&] { return !j.runs(); }));
        EXPECT_EQ(0xFFFFFFFFu, j.lastResult.load()) << c.message;
        EXPECT_EQ((std::vector<std::string>{"start", "job", std::string("exception:") + c.message, "end"}),
                  j.snapshot());
        ASSERT_EQ(1u, handler.messages.size());
        EXPECT_EQ(c.message, handler.messages[0]);
    }
}

TEST(Job, RestartEndsThePreviousRunFirst) {
    cScriptedJob j(untilStopped);
    ASSERT_TRUE(j.start());
    ASSERT_TRUE(eventually([&] { return j.bodies.load() == 1; }));
    ASSERT_TRUE(j.start());
    // The first run ended through its stop request and delivered its result...
    EXPECT_EQ(7u, j.lastResult.load());
    // ...and the second one runs with a cleared stop request.
    ASSERT_TRUE(eventually([&] { return j.bodies.load() == 2; }));
    EXPECT_FALSE(j.haveToStop());
    EXPECT_TRUE(j.runs());
    EXPECT_TRUE(j.terminate(4000));
    EXPECT_FALSE(j.runs());
    EXPECT_EQ((std::vector<std::string>{"start", "job", "end", "start", "job", "end"}), j.snapshot());
}

TEST(Job, OwnThreadCannotWaitForOrRestartItself) {
    cScriptedJob j(stopsItself);
    ASSERT_TRUE(j.start());
    ASSERT_TRUE(eventually([&] { return !j.runs(); }));
    EXPECT_EQ(1u, j.lastResult.load());
}

namespace {

// A job that uses its own members until asked to stop; terminates in its destructor.
class cBusyJob : public cJob {
public:
    explicit cBusyJob(std::atomic<int>* ended) : myEnded(ended) { myData.assign(64, 1); }
    ~cBusyJob() override { terminate(4000); }

protected:
    unsigned int job() override {
        unsigned int sum = 0;
        while (!haveToStop()) {
            for (int& v : myData) sum += (unsigned int)v++;
            cJob::sleep(1);
        }
        return sum;
    }
    void onJobEnd(unsigned int) override { (*myEnded)++; }

private:
    std::vector<int> myData;
    std::atomic<int>* myEnded;
};

// Ends at once: destruction races the thread's own end.
class cQuickJob : public cJob {
public:
    ~cQuickJob() override { terminate(4000); }

protected:
    unsigned int job() override { return 1; }
};

}  // namespace

TEST(Job, DestroyingRunningJobEndsItBeforeMembersGo) {
    std::atomic<int> ended{0};
    for (int i = 0; i < 10; i++) {
        cBusyJob* j = new cBusyJob(&ended);
        ASSERT_TRUE(j->start());
        if (i % 2) cJob::sleep(2);
        delete j;  // a use of freed members would show under the sanitizers
        EXPECT_EQ(i + 1, ended.load());
    }
}

TEST(Job, DestroyingJustEndedJobsIsSafe) {
    for (int i = 0; i < 100; i++) {
        cQuickJob* j = new cQuickJob;
        ASSERT_TRUE(j->start());
        if (i % 3 == 0) eventually([&] { return !j->runs(); });
        delete j;
    }
}

TEST(Job, TerminateWaitsForABodyThatHoldsOffCancellation) {
    // Given up on, such a thread would go on using a job its owner then frees.
    cScriptedJob* j = new cScriptedJob(ignoresStopUncancellable);
    ASSERT_TRUE(j->start());
    ASSERT_TRUE(eventually([&] { return j->snapshot().size() >= 3; }));  // start, job, deaf
    EXPECT_TRUE(j->terminate(100));
    EXPECT_FALSE(j->runs());
    EXPECT_EQ((std::vector<std::string>{"start", "job", "deaf", "done", "end"}), j->snapshot());
    EXPECT_EQ(9u, j->lastResult.load());
    delete j;
}

TEST(Job, CancellationReleasesScopedLocksAndAllowsRestart) {
    SKIP_CANCELLATION_UNDER_SANITIZER();
    cCriticalSection external;
    cScriptedJob j(ignoresStopHoldingLock);
    j.heldLock = &external;
    ASSERT_TRUE(j.start());
    ASSERT_TRUE(eventually([&] { return j.snapshot().size() >= 3; }));  // start, job, locked
    EXPECT_FALSE(external.tryEnter());
    EXPECT_TRUE(j.terminate(50));
    EXPECT_FALSE(j.runs());
    // The unwound thread left the lock it held through its scoped holder.
    ASSERT_TRUE(external.tryEnter());
    external.leave();
    // The job's own lock is free too: it starts and stops normally again.
    external.enter();  // the next run blocks on it until we leave
    ASSERT_TRUE(j.start());
    EXPECT_TRUE(j.runs());
    external.leave();
    EXPECT_TRUE(j.terminate(50));
    EXPECT_FALSE(j.runs());
}

TEST(Job, CancellationInsideEventWaitLeavesTheEventUsable) {
    SKIP_CANCELLATION_UNDER_SANITIZER();
    cEvent ev(false, false);
    cScriptedJob j(ignoresStopWaiting);
    j.blockOn = &ev;
    ASSERT_TRUE(j.start());
    ASSERT_TRUE(eventually([&] { return j.snapshot().size() >= 3; }));
    EXPECT_TRUE(j.terminate(30));
    EXPECT_FALSE(j.runs());
    ev.set();
    EXPECT_TRUE(ev.wait(1000));
    EXPECT_FALSE(ev.wait(0));
}

namespace {

// Waits for its stop request; the first stop signal (and only that one) is held until
// the test lets it go, so another thread can restart the job in between.
class cRestartRaceJob : public cJob {
public:
    ~cRestartRaceJob() override { terminate(4000); }

    std::atomic<bool> holdNextSignal{false};
    cEvent signalHeld{true, false};
    cEvent release{true, false};
    std::atomic<int> ends{0};
    std::atomic<unsigned int> lastResult{0};

protected:
    unsigned int job() override {
        while (!haveToStop()) cJob::sleep(1);
        return 7;
    }
    void onJobStopSignal() override {
        if (!holdNextSignal.exchange(false)) return;
        signalHeld.set();
        release.wait(-1);
    }
    void onJobEnd(unsigned int result) override {
        lastResult = result;
        ends++;
    }
};

}  // namespace

TEST(Job, TerminateLeavesARunStartedMeanwhileByAnotherThreadAlone) {
    // terminate() asked the run it found to stop; a start() from another thread then
    // began a new run that never saw that request, and must not be cancelled for it.
    cRestartRaceJob j;
    ASSERT_TRUE(j.start());
    j.holdNextSignal = true;
    std::atomic<int> terminated{-1};
    std::thread stopper([&] { terminated = j.terminate(300) ? 1 : 0; });
    ASSERT_TRUE(j.signalHeld.wait(10000));
    // The stop request is in; the first run ends and a new one starts.
    EXPECT_TRUE(j.start());
    EXPECT_EQ(1, j.ends.load());
    j.release.set();
    stopper.join();
    EXPECT_EQ(1, terminated.load());  // the run it was asked to end has ended
    EXPECT_TRUE(j.runs());             // the new run goes on
    EXPECT_TRUE(j.terminate(4000));
    EXPECT_FALSE(j.runs());
    // The new run ended through its own code, not by cancellation.
    EXPECT_EQ(2, j.ends.load());
    EXPECT_EQ(7u, j.lastResult.load());
}

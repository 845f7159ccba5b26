// cException::init: faults on any thread become cException "Signal received",
// also inside a job; SIGPIPE and SIGHUP no longer end the process. Each check runs
// in a forked child so that a failure cannot take the test runner down.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "base/cexception.h"
#include "base/job.h"

#if defined(__SANITIZE_ADDRESS__)
#define QMX_NO_FAULT_TRANSLATION 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QMX_NO_FAULT_TRANSLATION 1
#endif
#endif
// Throwing out of a signal handler is what init does on purpose; the thread
// sanitizer reports it as a signal-unsafe call.
#if defined(__SANITIZE_THREAD__)
#define QMX_NO_FAULT_TRANSLATION 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QMX_NO_FAULT_TRANSLATION 1
#endif
#endif

namespace {

// Runs `body` in a child process; its result is the child's exit code, or 200 + the
// signal that ended it.
int inChild(int (*body)()) {
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) _exit(body());
    int st = 0;
    if (pid < 0 || waitpid(pid, &st, 0) != pid) return -1;
    if (WIFSIGNALED(st)) return 200 + WTERMSIG(st);
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

#ifndef QMX_NO_FAULT_TRANSLATION
volatile uintptr_t gBadAddress = 16;  // unmapped; opaque to the optimiser

// 0 when a bad store inside try is caught as the translated signal.
int faultOnce() {
    try {
        *(volatile int*)gBadAddress = 1;
    } catch (const cException& e) {
        return strcmp(e.message(), "Signal received") == 0 && e.code() == SIGSEGV ? 0 : 3;
    }
    return 2;  // the store did not fault
}

int faultsOnAThread() {
    cException::init();
    int r1 = -1, r2 = -1;
    // Twice on one thread: leaving the handler by an exception must not leave
    // the signal blocked for the next fault.
    std::thread t([&] {
        r1 = faultOnce();
        r2 = faultOnce();
    });
    t.join();
    if (r1 != 0) return 10 + r1;
    if (r2 != 0) return 20 + r2;
    return faultOnce() == 0 ? 0 : 30;  // and on the main thread
}

#if defined(__x86_64__) || defined(__i386__)
volatile int gZero = 0;
int divideFaultIsTranslated() {
    cException::init();
    try {
        volatile int r = 1 / gZero;
        (void)r;
    } catch (const cException& e) {
        return strcmp(e.message(), "Signal received") == 0 && e.code() == SIGFPE ? 0 : 3;
    }
    return 2;
}
#endif

class cFaultingJob : public cJob {
public:
    std::atomic<unsigned int> result{0};
    std::atomic<bool> sawSignal{false};
    ~cFaultingJob() override { terminate(4000); }

protected:
    unsigned int job() override {
        *(volatile int*)gBadAddress = 1;
        return 5;
    }
    void onJobException(const cException& e) override { sawSignal = strcmp(e.message(), "Signal received") == 0; }
    void onJobEnd(unsigned int r) override { result = r; }
};

int faultInsideAJob() {
    cException::init();
    cFaultingJob j;
    if (!j.start()) return 2;
    for (int i = 0; i < 3000 && j.runs(); i++) cJob::sleep(10);
    if (j.runs()) return 3;
    if (j.result != 0xFFFFFFFFu) return 4;
    return j.sawSignal ? 0 : 5;
}
#endif  // QMX_NO_FAULT_TRANSLATION

int brokenPipeGivesEpipe() {
    cException::init();
    int fds[2];
    if (pipe(fds) != 0) return 2;
    close(fds[0]);
    char c = 'x';
    ssize_t w = write(fds[1], &c, 1);
    if (w != -1) return 3;
    return errno == EPIPE ? 0 : 4;
}

int hangupIsIgnored() {
    cException::init();
    raise(SIGHUP);
    return 0;
}

}  // namespace

TEST(Exception, TranslatesFaultsIntoSignalReceived) {
#ifdef QMX_NO_FAULT_TRANSLATION
    GTEST_SKIP() << "the sanitizer owns or forbids the fault translation";
#else
    EXPECT_EQ(0, inChild(faultsOnAThread));
    EXPECT_EQ(0, inChild(faultInsideAJob));
#if defined(__x86_64__) || defined(__i386__)
    EXPECT_EQ(0, inChild(divideFaultIsTranslated));
#endif
#endif
}

TEST(Exception, IgnoresSigpipeAndSighup) {
    // Without init both would end the child by the signal (200 + number).
    EXPECT_EQ(0, inChild(brokenPipeGivesEpipe));
    EXPECT_EQ(0, inChild(hangupIsIgnored));
}

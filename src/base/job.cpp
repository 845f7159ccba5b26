// cJob: thread start, stop request, termination and the shared control
// block that lets a finished thread and a destroyed job part safely.
#include "base/job.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <mutex>
#include <pthread.h>
#include <signal.h>
#include <sys/utsname.h>

#if defined(__GLIBCXX__)
#include <cxxabi.h>
#define QMX_HAVE_FORCED_UNWIND 1
#endif

#include "base/sync.h"

// Shared by the job object and its thread; freed by whichever lets go last, so the
// thread's final step (clearing `running`) never touches a destroyed job.
struct sJobControl {
    cCriticalSection lock;
    bool stopFlag = false;  // under lock
    bool running = false;  // under lock
    pthread_t thread;      // valid while running, under lock
    unsigned long long run = 0;  // counts the starts, under lock
    std::atomic<int> refs{1};
    cJob* job = nullptr;
    // Told when a run ends, so that terminate wakes at once instead of polling.
    std::mutex endLock;
    std::condition_variable ended;
};

namespace {

void releaseControl(sJobControl* c) {
    if (c->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete c;
}

// True once the run numbered `run` has ended (a later run may be going).
bool runEnded(sJobControl* c, unsigned long long run) {
    cSafeCriticalSectionAccess hold(&c->lock);
    return !c->running || c->run != run;
}

// Waits up to `ms` (forever when negative) for the run numbered `run` to end; true when it has.
bool waitRunEnded(sJobControl* c, unsigned long long run, int ms) {
    std::unique_lock<std::mutex> wait(c->endLock);
    auto done = [&] { return runEnded(c, run); };
    if (ms < 0) {
        c->ended.wait(wait, done);
        return true;
    }
    return c->ended.wait_for(wait, std::chrono::milliseconds(ms), done);
}

// The thread's last touch of anything it shares with the job.
void finishThread(sJobControl* c) {
    {
        cSafeCriticalSectionAccess hold(&c->lock);
        c->running = false;
    }
    {
        // Taken after the state changed: a waiter either saw the end or is waiting now.
        std::lock_guard<std::mutex> tell(c->endLock);
    }
    c->ended.notify_all();
    releaseControl(c);
}

}  // namespace

cJob::cJob(cSysExceptHandler* handler) : myCtl(new sJobControl), myHandler(handler) { myCtl->job = this; }

cJob::~cJob() {
    terminate(4000);
    releaseControl(myCtl);
}

bool cJob::start() {
    sJobControl* c = myCtl;
    {
        cSafeCriticalSectionAccess hold(&c->lock);
        if (c->running && pthread_equal(c->thread, pthread_self())) return false;
    }
    if (!terminate(4000)) return false;

    cSafeCriticalSectionAccess hold(&c->lock);
    if (c->running) return false;  // started meanwhile by another thread
    c->stopFlag = false;
    c->running = true;
    c->run++;
    c->refs.fetch_add(1, std::memory_order_relaxed);
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    // The process's ending signals are the main thread's: a handler of them (the maker's,
    // which removes its work folder) runs there, never beside it on a job that the main
    // thread could see fail and exit over before the signal ends the process. The new
    // thread starts with them blocked.
    sigset_t ending, before;
    sigemptyset(&ending);
    sigaddset(&ending, SIGINT);
    sigaddset(&ending, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &ending, &before);
    // The lock is held until `thread` is recorded; the new thread needs it to finish.
    int rc = pthread_create(&c->thread, &attr, threadMain, c);
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        c->running = false;
        c->refs.fetch_sub(1, std::memory_order_relaxed);
        return false;
    }
    return true;
}

void cJob::stop() {
    {
        cSafeCriticalSectionAccess hold(&myCtl->lock);
        myCtl->stopFlag = true;
    }
    // Outside the lock: the hook is the derived class's code and may block.
    onJobStopSignal();
}

bool cJob::haveToStop() const {
    cSafeCriticalSectionAccess hold(&myCtl->lock);
    return myCtl->stopFlag;
}

bool cJob::runs() const {
    cSafeCriticalSectionAccess hold(&myCtl->lock);
    return myCtl->running;
}

bool cJob::terminate(int ms) {
    sJobControl* c = myCtl;
    bool own;
    unsigned long long run;
    {
        cSafeCriticalSectionAccess hold(&c->lock);
        if (!c->running) return true;
        own = pthread_equal(c->thread, pthread_self()) != 0;
        run = c->run;
    }
    stop();
    if (own) return false;  // a thread cannot wait for itself
    // Only the run found above is ended: one that another thread's start() began
    // meanwhile never saw this stop request, so it is not ours to cancel.
    if (ms > 0) waitRunEnded(c, run, ms);
    {
        cSafeCriticalSectionAccess hold(&c->lock);
        if (!c->running || c->run != run) return true;
        // Under the lock the thread has not passed finishThread, so it still exists.
        pthread_cancel(c->thread);
    }
    // Cancellation acts only at the thread's next cancellation point, and the thread may
    // hold it off or spin without one; until it has ended it may still use the job, so
    // the wait has no limit.
    waitRunEnded(c, run, -1);
    return true;
}

void cJob::sleep(int ms) {
    if (ms <= 0) return;
    struct timespec left;
    left.tv_sec = ms / 1000;
    left.tv_nsec = (long)(ms % 1000) * 1000000L;
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

bool cJob::is64bitOS() {
    if (sizeof(void*) == 8) return true;
    struct utsname u;
    if (uname(&u) != 0) return false;
    return strstr(u.machine, "64") != nullptr || strcmp(u.machine, "s390x") == 0;
}

void cJob::onExceptionOccured(const cException& e) {
    if (myHandler) myHandler->onException(e);
}

void cJob::reportException(const cException& e) {
    try {
        onJobException(e);
        onExceptionOccured(e);
#ifdef QMX_HAVE_FORCED_UNWIND
    } catch (abi::__forced_unwind&) {
        throw;
#endif
    } catch (...) {
        // A hook that throws must not take the process down.
    }
}

void* cJob::threadMain(void* arg) {
    sJobControl* c = (sJobControl*)arg;
    cJob* self = c->job;
    unsigned int result = 0xFFFFFFFF;
    try {
        try {
            self->onJobStart();
            result = self->job();
#ifdef QMX_HAVE_FORCED_UNWIND
        } catch (abi::__forced_unwind&) {
            throw;
#endif
        } catch (const cException& e) {
            result = 0xFFFFFFFF;
            self->reportException(e);
        } catch (...) {
            result = 0xFFFFFFFF;
            self->reportException(cException("Unknown exception", 0, __FILE__, __LINE__));
        }
        try {
            self->onJobEnd(result);
#ifdef QMX_HAVE_FORCED_UNWIND
        } catch (abi::__forced_unwind&) {
            throw;
#endif
        } catch (const cException& e) {
            self->reportException(e);
        } catch (...) {
            self->reportException(cException("Unknown exception", 0, __FILE__, __LINE__));
        }
#ifdef QMX_HAVE_FORCED_UNWIND
    } catch (abi::__forced_unwind&) {
        // Cancelled: the stack unwinds (scoped locks are left); the job is forgotten
        // without further hooks, then the unwinding must go on.
        finishThread(c);
        throw;
#endif
    }
    finishThread(c);
    return nullptr;
}

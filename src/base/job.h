// cJob: a background task on its own detached thread, with a cooperative stop
// request and termination that waits for the thread to end.
#pragma once

#include "base/cexception.h"

// Receives the faults of jobs that were given it (for example to report them).
class cSysExceptHandler {
public:
    virtual ~cSysExceptHandler() {}
    virtual void onException(const cException& e) = 0;
};

struct sJobControl;

// The base of every background task. `job()` runs on a new detached thread between
// `onJobStart` and `onJobEnd(result)`; a cException (or any other exception) out of
// `onJobStart` or `job()` goes to `onJobException` and `onExceptionOccured` and makes
// the result 0xFFFFFFFF. The task polls `haveToStop()` and returns when asked.
//
// RULE: every class derived from cJob calls `terminate(...)` in its OWN destructor.
// `job()` uses the derived object's members, and by the time the base destructor
// runs they are gone. The base destructor still calls `terminate(4000)`, and the
// thread's last touch is on a block it shares with the job, never the object itself,
// so a job that has already ended may be destroyed at any moment.
//
// Cancellation is the last resort of `terminate`: it acts at the thread's next
// cancellation point (sleep, wait, read, ...) and unwinds the thread's stack, so
// locks held by scoped holders are released. A thread that spins without any
// cancellation point, or holds cancellation off, cannot be ended from outside:
// `terminate` then waits until it ends by itself, however long that takes.
class cJob {
public:
    explicit cJob(cSysExceptHandler* handler = nullptr);
    virtual ~cJob();
    cJob(const cJob&) = delete;
    cJob& operator=(const cJob&) = delete;

    // Ends a previous run (terminate(4000)), clears the stop request and starts a
    // new thread. False when no thread could be started, or when called from the
    // job's own thread.
    bool start();
    // Asks the job to stop and calls `onJobStopSignal`; does not wait.
    void stop();
    bool haveToStop() const;
    // True from `start` until the thread has finished `onJobEnd`.
    bool runs() const;
    // When running: stop, poll every 10 ms up to ms / 10 times, then cancel the
    // thread and wait, without a limit, until it has ended (the job is never left
    // to a thread that may still use it). True when the run it found has ended; a
    // run that another thread's `start` began meanwhile is left running. From the
    // job's own thread it only asks the job to stop and returns false.
    bool terminate(int ms);

    static void sleep(int ms);
    static bool is64bitOS();

protected:
    virtual unsigned int job() = 0;
    virtual void onJobStart() {}
    virtual void onJobStopSignal() {}
    virtual void onJobEnd(unsigned int /*result*/) {}
    virtual void onJobException(const cException& /*e*/) {}
    // Hands the fault to the handler given to the constructor, if any.
    virtual void onExceptionOccured(const cException& e);

private:
    static void* threadMain(void* arg);
    void reportException(const cException& e);

    sJobControl* myCtl;
    cSysExceptHandler* myHandler;
};

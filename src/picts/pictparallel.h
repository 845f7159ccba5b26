// Work shared among threads while a picture decodes: items 0..n-1 taken in turn by up to
// `threads` threads (the caller's among them), so a core slowed by other work takes fewer.
// The body gets the item and the index of the thread running it (0 .. threads - 1, the
// caller's is 0, so per-thread state can live in an array) and returns false to report a
// failure; the loop then stops handing out items. An exception the body throws is such a
// failure too, caught on the thread it was thrown on: it fails the picture, not the process
// (a worker's exception would otherwise end it, and the caller's would leave the others
// unjoined). A thread that cannot be started leaves its
// items to the others. A size that a worker refuses for the decode budget is recorded on the
// calling thread too, where the decode's caller reads it (pictBudgetRefusal is per thread).
#pragma once

#include <atomic>
#include <mutex>
#include <thread>
#if defined(__GLIBCXX__)
#include <cxxabi.h>
#endif

#include "base/buffers.h"
#include "picts/sizecheck.h"

template <class Body>
bool pictParallelFor(long long n, int threads, Body body) {
    if (n <= 0) return true;
    if (threads > n) threads = (int)n;
    std::atomic<long long> next{0};
    std::atomic<bool> failed{false};
    std::mutex refusalLock;
    sPictBudgetRefusal refusal;  // the first a worker thread recorded
    auto work = [&](int worker) {
        for (;;) {
            if (failed.load(std::memory_order_relaxed)) break;
            long long i = next.fetch_add(1);
            if (i >= n) break;
            bool ok = false;
            try {
                ok = body(i, worker);
#if defined(__GLIBCXX__)
            } catch (abi::__forced_unwind&) {
                failed = true;
                throw;  // the calling thread's job cancelled: the unwinding must go on
#endif
            } catch (...) {
                ok = false;
            }
            if (!ok) failed = true;
        }
        const sPictBudgetRefusal r = pictBudgetRefusal();
        if (worker && r.any()) {
            std::lock_guard<std::mutex> hold(refusalLock);
            if (!refusal.any()) refusal = r;
        }
    };
    _classbuf<std::thread> pool;
    if (threads > 1 && pool.set(threads - 1)) {
        for (int t = 1; t < threads; t++) {
            try {
                pool.ptr[t - 1] = std::thread(work, t);
            } catch (...) {
                break;  // fewer threads: the rest is done by those running
            }
        }
    }
    auto joinAll = [&] {
        for (long long t = 0; t < pool.count; t++)
            if (pool.ptr[t].joinable()) pool.ptr[t].join();
    };
#if defined(__GLIBCXX__)
    try {
        work(0);
    } catch (abi::__forced_unwind&) {
        joinAll();  // the others stop at their next item; a thread left joinable ends the process
        throw;
    }
#else
    work(0);
#endif
    joinAll();
    if (refusal.any()) refuseOverBudget(refusal.width, refusal.height, refusal.bytes);
    return !failed;
}

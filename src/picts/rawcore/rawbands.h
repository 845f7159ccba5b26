// Row bands of a raw frame worked side by side: the rows first..end-1 are cut into chunks
// that up to one thread per core (at most kMaxRawBands, at least 64 rows each) take in turn
// (pictParallelFor), the caller's thread among them as worker 0, so a core slowed by other
// work takes fewer. body(worker, y0, y1) runs for each chunk (a worker's chunks come in
// increasing order); the call returns when every chunk is done. The chunks of one call must
// not write what another chunk of the same call reads. False when a chunk failed (threw):
// the rows are then not all done.
#pragma once

#include <cstdint>
#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "base/sync.h"
#include "picts/pictparallel.h"

const int kMaxRawBands = 16;

// How many workers rawRowBands uses for `rows` rows (1 .. kMaxRawBands).
inline int rawBandCount(long long rows) {
    long long n = usableCores();
    if (n > kMaxRawBands) n = kMaxRawBands;
    if (n > rows / 64) n = rows / 64;
    return n < 1 ? 1 : (int)n;
}

template <class Body>
[[nodiscard]] bool rawRowBands(long long first, long long end, Body body) {
    const long long rows = end - first;
    if (rows <= 0) return true;
    const int n = rawBandCount(rows);
    const long long chunks = n == 1 ? 1 : 4LL * n;
    return pictParallelFor(chunks, n, [&](long long i, int worker) {
        body(worker, first + rows * i / chunks, first + rows * (i + 1) / chunks);
        return true;
    });
}

// Touches every 4 KiB page of a fresh buffer in bands side by side, so that the kernel's
// page faults (and the zeroing behind them) run on every core before a single-threaded
// step (a read) would take them one by one. The contents are not kept.
inline void rawTouchPages(void* p, long long bytes) {
    static constexpr long long kPage = 4096;
    const long long pages = bytes / kPage;
    volatile char* c = (volatile char*)p;
    // Only a speed-up: rows it leaves untouched fault in later.
    (void)rawRowBands(0, pages, [c](int, long long a, long long b) {
#if defined(__linux__)
        // MADV_POPULATE_WRITE (Linux 5.14): the pages without a fault each.
        const uintptr_t from = ((uintptr_t)(c + a * kPage) + kPage - 1) & ~(uintptr_t)(kPage - 1);
        const uintptr_t to = (uintptr_t)(c + b * kPage) & ~(uintptr_t)(kPage - 1);
        if (to > from && madvise((void*)from, to - from, 23) == 0) return;
#endif
        for (long long i = a; i < b; i++) c[i * kPage] = 0;
    });
}

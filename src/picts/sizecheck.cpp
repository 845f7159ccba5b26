// The decode budget shared by every decoder, and the record of the last size it refused.
#include "picts/sizecheck.h"

#include <sys/mman.h>

#include <atomic>
#include <cstdio>

namespace {

std::atomic<long long> gBudgetPixels{kDefaultBudgetPixels};
std::atomic<long long> gBudgetBytes{kDefaultBudgetBytes};
thread_local sPictBudgetRefusal tRefusal;

long long clampTo(long long v, long long dflt, long long cap) { return v <= 0 ? dflt : v < cap ? v : cap; }

}  // namespace

void setPictDecodeBudget(long long pixels, long long bytes) {
    gBudgetPixels = clampTo(pixels, kDefaultBudgetPixels, kMaxImagePixels);
    gBudgetBytes = clampTo(bytes, kDefaultBudgetBytes, kMaxImageBytes);
}

long long pictBudgetPixels() { return gBudgetPixels.load(std::memory_order_relaxed); }
long long pictBudgetBytes() { return gBudgetBytes.load(std::memory_order_relaxed); }

bool refuseOverBudget(long long width, long long height, long long bytes) {
    tRefusal.width = width;
    tRefusal.height = height;
    tRefusal.bytes = bytes;
    return false;
}

sPictBudgetRefusal pictBudgetRefusal() { return tRefusal; }

void clearPictBudgetRefusal() { tRefusal = sPictBudgetRefusal(); }

void pictBudgetMessage(char* out, long long size) {
    if (!out || size < 1) return;
    out[0] = 0;
    const sPictBudgetRefusal& r = tRefusal;
    if (!r.width && !r.height && !r.bytes) return;
    char what[96];
    const long long mib = r.bytes / (1 << 20) + (r.bytes % (1 << 20) != 0);
    if (r.width && r.bytes)
        snprintf(what, sizeof(what), "a picture of %lld x %lld pixels (%lld MiB)", r.width, r.height, mib);
    else if (r.width)
        snprintf(what, sizeof(what), "a picture of %lld x %lld pixels", r.width, r.height);
    else
        snprintf(what, sizeof(what), "a buffer of %lld MiB", mib);
    snprintf(out, (size_t)size, "%s is over the decode budget of %lld megapixels and %lld MiB", what,
             pictBudgetPixels() >> 20, pictBudgetBytes() >> 20);
}

void pictAdviseHugePages(void* p, long long bytes, long long minBytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (!p || bytes < minBytes) return;
    const unsigned long long huge = 2ULL << 20;
    unsigned long long a = ((unsigned long long)p + huge - 1) & ~(huge - 1);
    unsigned long long e = ((unsigned long long)p + (unsigned long long)bytes) & ~(huge - 1);
    if (e > a) madvise((void*)a, e - a, MADV_HUGEPAGE);
#else
    (void)p;
    (void)bytes;
    (void)minBytes;
#endif
}

void pictReleaseConsumed(const void* base, long long doneBytes, unsigned long long& releasedTo) {
#if defined(__linux__) && defined(MADV_DONTNEED)
    const unsigned long long huge = 2ULL << 20;
    unsigned long long a = ((unsigned long long)base + huge - 1) & ~(huge - 1);
    if (releasedTo > a) a = releasedTo;
    const unsigned long long e = ((unsigned long long)base + (unsigned long long)doneBytes) & ~(huge - 1);
    if (e > a) {
        madvise((void*)a, e - a, MADV_DONTNEED);
        releasedTo = e;
    }
#else
    (void)base;
    (void)doneBytes;
    (void)releasedTo;
#endif
}

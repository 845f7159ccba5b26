// Memory streams: paged memory file, read cache, write-behind buffer, caller-memory
// wrapper and stream window.
#include "base/memio.h"

#include <stdlib.h>
#include <string.h>

namespace {

// The page table may not grow past this many entries (512 MiB of pointers), so a
// write at an absurd position fails instead of asking for the impossible.
const unsigned long long kMaxPageEntries = 1ULL << 26;

long long clampCacheSize(long long n, long long maxSize, long long fallback) {
    return n >= 1 && n <= maxSize ? n : fallback;
}

}  // namespace

// ---- cMemIOTarget ----

cMemIOTarget::cMemIOTarget(long long pageSize) {
    myPageSize = pageSize >= 128 && pageSize <= 0x7FFFFFFF ? pageSize : 65536;
}

cMemIOTarget::~cMemIOTarget() {
    reset();
}

void cMemIOTarget::reset() {
    for (unsigned long long i = 0; i < myPageCount; i++) free(myPages.ptr[i]);
    myPages.clear();
    myPageCount = 0;
    mySize = 0;
    myPos = 0;
}

bool cMemIOTarget::ensurePages(unsigned long long pages) {
    if (pages > kMaxPageEntries) return false;
    if (pages > (unsigned long long)myPages.count) {
        unsigned long long cap = (unsigned long long)myPages.count * 2;
        if (cap < 16) cap = 16;
        if (cap < pages) cap = pages;
        if (cap > kMaxPageEntries) cap = kMaxPageEntries;
        long long old = myPages.count;
        if (!myPages.reset((long long)cap)) return false;
        memset(myPages.ptr + old, 0, (size_t)(myPages.count - old) * sizeof(unsigned char*));
    }
    if (pages > myPageCount) myPageCount = pages;
    return true;
}

unsigned char* cMemIOTarget::pageFor(unsigned long long index) {
    unsigned char*& p = myPages.ptr[index];
    if (!p) p = (unsigned char*)calloc(1, (size_t)myPageSize);  // bytes past the end stay zero
    return p;
}

long long cMemIOTarget::read(void* buffer, long long n) {
    if (!buffer || n <= 0 || myPos >= mySize) return 0;
    unsigned long long left = mySize - myPos;
    if ((unsigned long long)n > left) n = (long long)left;
    unsigned long long ps = (unsigned long long)myPageSize;
    unsigned char* out = (unsigned char*)buffer;
    long long done = 0;
    while (done < n) {
        unsigned long long at = myPos + done;
        unsigned long long page = at / ps, off = at % ps;
        long long chunk = (long long)(ps - off);
        if (chunk > n - done) chunk = n - done;
        const unsigned char* p = myPages.ptr[page];
        if (p)
            memcpy(out + done, p + off, (size_t)chunk);
        else
            memset(out + done, 0, (size_t)chunk);  // a gap never written
        done += chunk;
    }
    myPos += done;
    return done;
}

long long cMemIOTarget::write(const void* buffer, long long n) {
    if (!buffer || n <= 0) return 0;
    if ((unsigned long long)n > ~0ULL - myPos) return 0;
    unsigned long long ps = (unsigned long long)myPageSize;
    unsigned long long end = myPos + (unsigned long long)n;
    if (!ensurePages(end / ps + (end % ps ? 1 : 0))) return 0;
    const unsigned char* in = (const unsigned char*)buffer;
    long long done = 0;
    while (done < n) {
        unsigned long long at = myPos + done;
        unsigned long long page = at / ps, off = at % ps;
        long long chunk = (long long)(ps - off);
        if (chunk > n - done) chunk = n - done;
        unsigned char* p = pageFor(page);
        if (!p) break;
        memcpy(p + off, in + done, (size_t)chunk);
        done += chunk;
    }
    myPos += done;
    if (myPos > mySize) mySize = myPos;
    return done;
}

bool cMemIOTarget::set_fp(unsigned long long position) {
    myPos = position;
    return true;
}

bool cMemIOTarget::set_eof() {
    unsigned long long ps = (unsigned long long)myPageSize;
    unsigned long long pages = myPos / ps + (myPos % ps ? 1 : 0);
    if (myPos > mySize) {
        if (!ensurePages(pages)) return false;
        mySize = myPos;  // the new part is unwritten pages or zeroed tails
        return true;
    }
    for (unsigned long long i = pages; i < myPageCount; i++) {
        free(myPages.ptr[i]);
        myPages.ptr[i] = nullptr;
    }
    if (pages < myPageCount) myPageCount = pages;
    // Keep "past the end reads as zero" true for a later write beyond the new end.
    if (myPos % ps && myPages.ptr[pages - 1]) memset(myPages.ptr[pages - 1] + myPos % ps, 0, (size_t)(ps - myPos % ps));
    mySize = myPos;
    return true;
}

bool cMemIOTarget::toBuffer(_typebuf<unsigned char>& out) {
    if (mySize == 0) {
        out.clear();
        return true;
    }
    if (mySize > (unsigned long long)0x7FFFFFFFFFFFFFFFLL || !out.set((long long)mySize)) return false;
    unsigned long long ps = (unsigned long long)myPageSize;
    for (unsigned long long at = 0; at < mySize; at += ps) {
        unsigned long long chunk = mySize - at < ps ? mySize - at : ps;
        const unsigned char* p = myPages.ptr[at / ps];
        if (p)
            memcpy(out.ptr + at, p, (size_t)chunk);
        else
            memset(out.ptr + at, 0, (size_t)chunk);
    }
    return true;
}

// ---- cMemBufferedIO ----

bool cMemBufferedIO::ref(cFileIOTarget* target, long long cacheSize) {
    close();
    if (!target) return false;
    if (!myCache.set(clampCacheSize(cacheSize, 64LL << 20, 4096))) return false;
    myTarget = target;
    myPos = target->get_fp();
    return true;
}

void cMemBufferedIO::close() {
    myTarget = nullptr;
    myCache.clear();
    myCacheLen = 0;
    myCacheStart = 0;
    myPos = 0;
}

unsigned long long cMemBufferedIO::size() {
    return myTarget ? myTarget->size() : 0;
}

long long cMemBufferedIO::read(void* buffer, long long n) {
    if (!myTarget || !buffer || n <= 0) return 0;
    unsigned char* out = (unsigned char*)buffer;
    long long done = 0;
    while (done < n) {
        if (myCacheLen > 0 && myPos >= myCacheStart && myPos - myCacheStart < (unsigned long long)myCacheLen) {
            long long off = (long long)(myPos - myCacheStart);
            long long chunk = myCacheLen - off;
            if (chunk > n - done) chunk = n - done;
            memcpy(out + done, myCache.ptr + off, (size_t)chunk);
            done += chunk;
            myPos += chunk;
            continue;
        }
        long long want = n - done;
        if (!myTarget->set_fp(myPos) || myTarget->get_fp() != myPos) break;
        if (want >= myCache.count) {
            // Large reads bypass the cache.
            long long r = myTarget->read(out + done, want);
            if (r < 0 && done == 0) return -1;
            if (r <= 0) break;
            if (r > want) r = want;
            done += r;
            myPos += r;
            if (r < want) break;
            continue;
        }
        long long r = myTarget->read(myCache.ptr, myCache.count);
        if (r > myCache.count) r = myCache.count;
        if (r <= 0) {
            myCacheLen = 0;
            if (r < 0 && done == 0) return -1;
            break;
        }
        myCacheStart = myPos;
        myCacheLen = r;
    }
    return done;
}

long long cMemBufferedIO::write(const void* buffer, long long n) {
    if (!myTarget || !buffer || n <= 0) return 0;
    myCacheLen = 0;
    if (!myTarget->set_fp(myPos)) return 0;
    long long w = myTarget->write(buffer, n);
    if (w < 0) w = 0;
    myPos += (unsigned long long)w;
    return w;
}

bool cMemBufferedIO::set_fp(unsigned long long position) {
    if (!myTarget) return false;
    bool ok = myTarget->set_fp(position);
    myPos = myTarget->get_fp();  // follows the target's own clamping
    return ok;
}

bool cMemBufferedIO::set_eof() {
    if (!myTarget) return false;
    myCacheLen = 0;
    return myTarget->set_fp(myPos) && myTarget->set_eof();
}

bool cMemBufferedIO::set_time(const sTimestamp* modified) {
    return myTarget && myTarget->set_time(modified);
}

// ---- cMemBufferedLinearWriterIO ----

cMemBufferedLinearWriterIO::~cMemBufferedLinearWriterIO() {
    flush();
}

bool cMemBufferedLinearWriterIO::ref(cFileIOTarget* target, long long bufferSize) {
    close();
    myFailed = false;
    myBuffer.clear();
    if (!target) return false;
    if (!myBuffer.set(clampCacheSize(bufferSize, 256LL << 20, 1 << 20))) return false;
    myTarget = target;
    myPos = target->get_fp();
    myBufStart = myPos;
    myBufLen = 0;
    return true;
}

bool cMemBufferedLinearWriterIO::flush() {
    if (myFailed) return false;
    if (!myTarget || myBufLen == 0) return true;
    if (!myTarget->set_fp(myBufStart) || !myTarget->writef(myBuffer.ptr, myBufLen)) {
        myFailed = true;
        return false;
    }
    myBufLen = 0;
    return true;
}

unsigned long long cMemBufferedLinearWriterIO::size() {
    if (!myTarget) return 0;
    unsigned long long s = myTarget->size();
    unsigned long long end = myBufStart + (unsigned long long)myBufLen;
    return myBufLen > 0 && end > s ? end : s;
}

long long cMemBufferedLinearWriterIO::read(void* buffer, long long n) {
    if (!myTarget || !flush() || !myTarget->set_fp(myPos)) return 0;
    long long r = myTarget->read(buffer, n);
    if (r < 0) return -1;
    myPos += (unsigned long long)r;
    return r;
}

long long cMemBufferedLinearWriterIO::write(const void* buffer, long long n) {
    if (!myTarget || myFailed || !buffer || n <= 0) return 0;
    // No stream reaches past 2^64: accepting such bytes would wrap the position.
    if ((unsigned long long)n > ~0ULL - myPos) return 0;
    if (myBufLen > 0 && n > myBuffer.count - myBufLen && !flush()) return 0;
    if (myBufLen == 0) myBufStart = myPos;
    if (n >= myBuffer.count) {
        // Larger than the whole buffer: straight through.
        if (!myTarget->set_fp(myPos)) {
            myFailed = true;
            return 0;
        }
        long long w = myTarget->write(buffer, n);
        if (w < 0) w = 0;
        if (w < n) myFailed = true;
        myPos += (unsigned long long)w;
        return w;
    }
    memcpy(myBuffer.ptr + myBufLen, buffer, (size_t)n);
    myBufLen += n;
    myPos += (unsigned long long)n;
    return n;
}

bool cMemBufferedLinearWriterIO::set_fp(unsigned long long position) {
    if (!myTarget || !flush() || !myTarget->set_fp(position)) return false;
    myPos = position;
    return true;
}

bool cMemBufferedLinearWriterIO::set_eof() {
    return myTarget && flush() && myTarget->set_fp(myPos) && myTarget->set_eof();
}

void cMemBufferedLinearWriterIO::close() {
    flush();
    myTarget = nullptr;
    myBufLen = 0;
    myPos = 0;
}

bool cMemBufferedLinearWriterIO::set_time(const sTimestamp* modified) {
    return myTarget && flush() && myTarget->set_time(modified);
}

// ---- cBufWrapperIO ----

void cBufWrapperIO::wrap(const void* data, long long size, bool writable) {
    myData = (unsigned char*)const_cast<void*>(data);
    mySize = data && size > 0 ? size : 0;
    myPos = 0;
    myWritable = writable;
}

long long cBufWrapperIO::read(void* buffer, long long n) {
    if (!buffer || n <= 0 || myPos >= mySize) return 0;
    if (n > mySize - myPos) n = mySize - myPos;
    memcpy(buffer, myData + myPos, (size_t)n);
    myPos += n;
    return n;
}

long long cBufWrapperIO::write(const void* buffer, long long n) {
    if (!myWritable || !buffer || n <= 0 || myPos >= mySize) return 0;
    if (n > mySize - myPos) n = mySize - myPos;
    memmove(myData + myPos, buffer, (size_t)n);  // the source may lie in the block itself
    myPos += n;
    return n;
}

bool cBufWrapperIO::set_fp(unsigned long long position) {
    if (position > (unsigned long long)mySize) {
        myPos = mySize;
        return false;
    }
    myPos = (long long)position;
    return true;
}

// ---- cFileIOSubRange ----

bool cFileIOSubRange::wrap(cFileIOTarget* target, unsigned long long start, unsigned long long length) {
    myTarget = target;
    myPos = 0;
    if (!target) {
        myStart = myLength = 0;
        return false;
    }
    unsigned long long total = target->size();
    myStart = start < total ? start : total;
    unsigned long long left = total - myStart;
    myLength = length < left ? length : left;
    return true;
}

long long cFileIOSubRange::read(void* buffer, long long n) {
    if (!myTarget || !buffer || n <= 0 || myPos >= myLength) return 0;
    if ((unsigned long long)n > myLength - myPos) n = (long long)(myLength - myPos);
    if (!myTarget->set_fp(myStart + myPos)) return 0;
    long long r = myTarget->read(buffer, n);
    if (r <= 0) return r < 0 ? -1 : 0;
    if (r > n) r = n;
    myPos += (unsigned long long)r;
    return r;
}

long long cFileIOSubRange::write(const void* buffer, long long n) {
    if (!myTarget || !buffer || n <= 0 || myPos >= myLength) return 0;
    if ((unsigned long long)n > myLength - myPos) n = (long long)(myLength - myPos);
    if (!myTarget->set_fp(myStart + myPos)) return 0;
    long long w = myTarget->write(buffer, n);
    if (w <= 0) return 0;
    if (w > n) w = n;
    myPos += (unsigned long long)w;
    return w;
}

bool cFileIOSubRange::set_fp(unsigned long long position) {
    if (position > myLength) {
        myPos = myLength;
        return false;
    }
    myPos = position;
    return true;
}

void cFileIOSubRange::close() {
    myTarget = nullptr;
    myStart = myLength = myPos = 0;
}

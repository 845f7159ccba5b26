// Parallel deflate: the caller fills blocks in turn, workers deflate them, and the
// caller writes finished blocks in order while combining their Adler-32 sums into the
// stream's trailer. A ring of two blocks per worker bounds what is held at a time.
#include "softmgr/pardeflate.h"

#include <sched.h>
#include <unistd.h>
#include <zlib.h>

#include <cstring>

#include "base/job.h"
#include "base/lists.h"
#include "base/sync.h"

namespace {

const long long kWindow = 32768;

class cDeflateWorker;

}  // namespace

// One block: up to 32 KiB of dictionary (the input before it), then its data.
struct sParBlock {
    _typebuf<unsigned char> in;
    long long dict = 0;
    long long len = 0;
    bool last = false;
    _typebuf<unsigned char> out;
    long long outLen = 0;
    unsigned long adler = 1;
    bool ok = false;
    cEvent done{true, false};
};

// Blocks are numbered in input order; block n lives in ring slot n % count. The caller
// fills block `tail`; blocks head..tail-1 are handed over, taken by workers from `taken`.
struct sParDeflatePool {
    int level = 9;
    long long blockSize = 1 << 20;
    _classbuf<sParBlock> ring;
    long long head = 0, tail = 0, taken = 0;
    cCriticalSection lock;  // guards tail, taken, quit
    cEvent work{false, false};
    bool quit = false;
    _classbuf<cPtr<cDeflateWorker> > workers;

    sParBlock& slot(long long n) { return ring[n % ring.count]; }
};

namespace {

// Deflates one block raw: primed with its dictionary, ended on a byte boundary.
bool deflateBlock(z_stream& zs, sParBlock& b) {
    if (deflateReset(&zs) != Z_OK) return false;
    if (b.dict > 0 && deflateSetDictionary(&zs, b.in.ptr, (uInt)b.dict) != Z_OK) return false;
    // Room for the worst case plus the sync flush's empty stored block.
    uLong bound = deflateBound(&zs, (uLong)b.len) + 16;
    if (b.out.count < (long long)bound && !b.out.reset((long long)bound)) return false;
    zs.next_in = b.in.ptr + b.dict;
    zs.avail_in = (uInt)b.len;
    zs.next_out = b.out.ptr;
    zs.avail_out = (uInt)bound;
    int r = deflate(&zs, b.last ? Z_FINISH : Z_SYNC_FLUSH);
    if (b.last ? r != Z_STREAM_END : (r != Z_OK || zs.avail_in != 0 || zs.avail_out == 0)) return false;
    b.outLen = (long long)(bound - zs.avail_out);
    b.adler = adler32(adler32(0L, Z_NULL, 0), b.in.ptr + b.dict, (uInt)b.len);
    return true;
}

void runBlocks(sParDeflatePool& p) {
    z_stream zs;
    memset(&zs, 0, sizeof(zs));
    bool init = deflateInit2(&zs, p.level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    for (;;) {
        long long n = -1;
        bool more = false;
        {
            cSafeCriticalSectionAccess a(&p.lock);
            if (p.taken < p.tail) n = p.taken++;
            more = p.taken < p.tail;
            if (n < 0 && p.quit) {
                p.work.set();  // wake the next worker, which ends too
                break;
            }
        }
        if (n < 0) {
            p.work.wait(-1);
            continue;
        }
        if (more) p.work.set();
        sParBlock& b = p.slot(n);
        b.ok = init && deflateBlock(zs, b);
        b.done.set();
    }
    if (init) deflateEnd(&zs);
}

class cDeflateWorker : public cJob {
public:
    explicit cDeflateWorker(sParDeflatePool* pool) : myPool(pool), myDone(true, false) {}
    ~cDeflateWorker() override { terminate(60000); }
    void waitDone() { myDone.wait(-1); }

protected:
    unsigned int job() override {
        runBlocks(*myPool);
        return 0;
    }
    void onJobEnd(unsigned int) override { myDone.set(); }

private:
    sParDeflatePool* myPool;
    cEvent myDone;
};

// The cores this process may run on (taskset and cgroups narrow them), at least one.
int usableCores() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof(set), &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? (int)n : 1;
}

void stopWorkers(sParDeflatePool* p) {
    {
        cSafeCriticalSectionAccess a(&p->lock);
        p->quit = true;
    }
    p->work.set();
    for (long long i = 0; i < p->workers.count; i++)
        if (p->workers[i].ptr) p->workers[i]->waitDone();
    p->workers.clear();
}

}  // namespace

cParDeflateStream::~cParDeflateStream() { abort(); }

void cParDeflateStream::abort() {
    if (!myPool) return;
    stopWorkers(myPool);
    delete myPool;
    myPool = nullptr;
}

bool cParDeflateStream::begin(cFileIOTarget* target, int level, int threads, long long blockSize) {
    abort();
    myTarget = target;
    myPacked = myPlain = 0;
    myAdler = adler32(0L, Z_NULL, 0);
    myFailed = true;
    if (!target || level < 0 || level > 9) return false;
    if (blockSize < kWindow) blockSize = kWindow;
    if (blockSize > (1LL << 30)) blockSize = 1LL << 30;
    if (threads <= 0) threads = usableCores();
    if (threads > 64) threads = 64;
    myPool = new (std::nothrow) sParDeflatePool();
    if (!myPool) return false;
    myPool->level = level;
    myPool->blockSize = blockSize;
    // Workers start as blocks arrive: a small stream costs no thread and no large buffer.
    if (!myPool->ring.set(2LL * threads) || !myPool->workers.set(threads)) return false;
    // zlib header: deflate, 32 KiB window, the level's hint, check bits.
    int hint = level == 9 ? 3 : level >= 6 ? 2 : level >= 2 ? 1 : 0;
    unsigned int head = (0x78u << 8) | ((unsigned int)hint << 6);
    head += 31 - head % 31;
    unsigned char h[2] = {(unsigned char)(head >> 8), (unsigned char)head};
    if (!target->writef(h, 2)) return false;
    myPacked = 2;
    myFailed = false;
    return true;
}

// Writes the oldest handed-over block out and frees its slot.
bool cParDeflateStream::drainOne() {
    sParBlock& b = myPool->slot(myPool->head);
    b.done.wait(-1);
    myPool->head++;
    if (!b.ok || (b.outLen && !myTarget->writef(b.out.ptr, b.outLen))) return false;
    myPacked += (unsigned long long)b.outLen;
    myAdler = adler32_combine(myAdler, b.adler, (z_off_t)b.len);
    return true;
}

// Hands the block being filled to the workers and readies the next one, primed with
// the last 32 KiB of this one. A stream of one block is deflated right here.
bool cParDeflateStream::submit(bool last) {
    sParDeflatePool& p = *myPool;
    sParBlock& b = p.slot(p.tail);
    b.last = last;
    b.ok = false;
    b.done.reset();
    if (last && p.tail == 0) {
        z_stream zs;
        memset(&zs, 0, sizeof(zs));
        if (deflateInit2(&zs, p.level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
        b.ok = deflateBlock(zs, b);
        deflateEnd(&zs);
        b.done.set();
        p.tail++;
        return true;
    }
    long long started = 0;
    while (started < p.workers.count && p.workers[started].ptr) started++;
    if (started < p.workers.count && started <= p.tail - p.head) {
        p.workers[started] = new (std::nothrow) cDeflateWorker(&p);
        if (!p.workers[started].ptr || !p.workers[started]->start()) {
            p.workers[started] = nullptr;
            if (started == 0) return false;
        }
    }
    {
        cSafeCriticalSectionAccess a(&p.lock);
        p.tail++;
    }
    p.work.set();
    if (last) return true;
    while (p.tail - p.head >= p.ring.count)
        if (!drainOne()) return false;
    sParBlock& next = p.slot(p.tail);
    if (next.in.count < kWindow + p.blockSize && !next.in.reset(kWindow + p.blockSize)) return false;
    next.dict = b.len < kWindow ? b.len : kWindow;
    memcpy(next.in.ptr, b.in.ptr + b.dict + b.len - next.dict, (size_t)next.dict);
    next.len = 0;
    return true;
}

bool cParDeflateStream::write(const void* data, long long size) {
    if (!myPool || myFailed || size < 0 || (!data && size)) return false;
    const unsigned char* at = (const unsigned char*)data;
    while (size > 0) {
        sParBlock& b = myPool->slot(myPool->tail);
        long long room = myPool->blockSize - b.len;
        // A full block goes only when more input follows, so the last block is never empty.
        if (room == 0) {
            if (!submit(false)) {
                myFailed = true;
                return false;
            }
            continue;
        }
        long long n = size < room ? size : room;
        // The first block grows as it fills, so a small stream takes little memory.
        long long need = b.dict + b.len + n;
        if (need > b.in.count) {
            long long grow = b.in.count * 2 > need ? b.in.count * 2 : need;
            if (grow < 65536) grow = 65536;
            if (grow > kWindow + myPool->blockSize) grow = kWindow + myPool->blockSize;
            if (!b.in.reset(grow)) {
                myFailed = true;
                return false;
            }
        }
        memcpy(b.in.ptr + b.dict + b.len, at, (size_t)n);
        b.len += n;
        at += n;
        size -= n;
        myPlain += (unsigned long long)n;
    }
    return true;
}

bool cParDeflateStream::finish() {
    if (!myPool || myFailed) {
        abort();
        return false;
    }
    bool ok = submit(true);
    while (ok && myPool->head < myPool->tail) ok = drainOne();
    abort();
    unsigned char t[4] = {(unsigned char)(myAdler >> 24), (unsigned char)(myAdler >> 16), (unsigned char)(myAdler >> 8),
                          (unsigned char)myAdler};
    ok = ok && myTarget->writef(t, 4);
    if (ok) myPacked += 4;
    myFailed = true;  // the stream is over
    return ok;
}

void cParDeflate::clear() {
    myOut.reset();
    myPacked = 0;
}

bool cParDeflate::compress(const unsigned char* data, unsigned long long size, int level, int threads,
                           long long blockSize) {
    clear();
    if (!data && size) return false;
    cParDeflateStream z;
    if (!z.begin(&myOut, level, threads, blockSize) || !z.write(data, (long long)size) || !z.finish()) {
        clear();
        return false;
    }
    myPacked = z.packedSize();
    return true;
}

bool cParDeflate::writeTo(cFileIOTarget* target) const {
    if (!target || !myPacked) return false;
    unsigned char buf[65536];
    myOut.set_fp(0);
    for (unsigned long long at = 0; at < myPacked;) {
        long long n = myOut.read(buf, sizeof(buf));
        if (n <= 0 || !target->writef(buf, n)) return false;
        at += (unsigned long long)n;
    }
    return true;
}

bool cParDeflate::toBuffer(_typebuf<unsigned char>& out) const {
    out.clear();
    return myPacked && myOut.toBuffer(out);
}

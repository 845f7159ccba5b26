// Parallel deflate: the caller fills blocks in turn, workers deflate them, and the
// caller writes finished blocks in order while combining their Adler-32 sums into the
// stream's trailer. A ring of two blocks per worker bounds what is held at a time.
//
// A block is deflated whole, on its own, in one call: a one-call deflater finds as good
// matches as zlib's best level in about half the time, and a block of 1 MiB loses little
// by not seeing the 32 KiB before it. Its output ends with the final-block bit set, so
// the block's deflate blocks are walked once to find that bit and where the last block
// ends; the bit is cleared and an empty stored block brings the end to a byte boundary,
// as a zlib sync flush does. The walk checks the whole block (codes, lengths, distances,
// plain size); a block it refuses is deflated again with zlib.
#include "softmgr/pardeflate.h"

#include <libdeflate.h>
#include <unistd.h>
#include <zlib.h>

#include <cstring>

#include "base/job.h"
#include "base/lists.h"
#include "base/sync.h"

namespace {

// The smallest block: below this the lost matches across block edges start to show.
const long long kMinBlock = 32768;

class cDeflateWorker;

}  // namespace

// One block of input and its deflated bytes.
struct sParBlock {
    _typebuf<unsigned char> in;
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

// --- walking a raw deflate stream (RFC 1951) without writing its output ---

// Reads bits least significant first; past the end it reads zeros and counts them.
struct sBitIn {
    const unsigned char* p;
    const unsigned char* end;
    const unsigned char* start;
    unsigned long long buf = 0;
    int have = 0;

    sBitIn(const unsigned char* data, size_t n) : p(data), end(data + n), start(data) {}
    // At least 56 bits in the buffer.
    void fill() {
        if (end - p >= 8) {
            unsigned long long v;
            memcpy(&v, p, 8);
            buf |= v << have;
            p += (63 - have) >> 3;
            have |= 56;
            return;
        }
        while (have < 56) {
            buf |= (unsigned long long)(p < end ? *p : 0) << have;
            p++;
            have += 8;
        }
    }
    unsigned int take(int n) {
        unsigned int v = (unsigned int)(buf & ((1ULL << n) - 1));
        buf >>= n;
        have -= n;
        return v;
    }
    // Bits consumed from the start.
    unsigned long long pos() const { return (unsigned long long)(p - start) * 8 - (unsigned long long)have; }
};

// A canonical Huffman code: a table indexed by the next kFastBits input bits gives
// symbol << 4 | code length for the codes that short (most of them), 0 otherwise; the
// longer ones are decoded bit by bit from the code's counts and sorted symbols.
struct sHuffTable {
    static const int kFastBits = 10;
    unsigned short e[1 << kFastBits];
    short count[16];
    short sorted[320];

    // False for an over-full code.
    bool build(const unsigned char* lens, int n) {
        short next[16];
        memset(count, 0, sizeof(count));
        for (int i = 0; i < n; i++) count[lens[i]]++;
        count[0] = 0;
        int left = 1;
        for (int l = 1; l < 16; l++) {
            left = (left << 1) - count[l];
            if (left < 0) return false;
        }
        memset(e, 0, sizeof(e));
        short at = 0;
        for (int l = 1; l < 16; l++) {
            next[l] = at;
            at = (short)(at + count[l]);
        }
        unsigned int code = 0;
        for (int s = 0; s < n; s++)
            if (lens[s]) sorted[next[lens[s]]++] = (short)s;
        // Canonical codes in order of length, then symbol: fill the fast table.
        at = 0;
        for (int l = 1; l < 16; l++, code <<= 1)
            for (int k = 0; k < count[l]; k++, code++, at++) {
                if (l > kFastBits) continue;
                unsigned int rev = 0;
                for (int b = 0; b < l; b++) rev |= ((code >> b) & 1) << (l - 1 - b);
                for (unsigned int i = rev; i < (1u << kFastBits); i += 1u << l)
                    e[i] = (unsigned short)(sorted[at] << 4 | l);
            }
        return true;
    }
    // The next symbol, or -1 where no code starts.
    int decode(sBitIn& in) const {
        unsigned int v = e[in.buf & ((1u << kFastBits) - 1)];
        if (v) {
            in.take((int)(v & 15));
            return (int)(v >> 4);
        }
        int code = 0, first = 0, index = 0;
        for (int l = 1; l < 16; l++) {
            code |= (int)((in.buf >> (l - 1)) & 1);
            if (code - count[l] < first) {
                in.take(l);
                return sorted[index + (code - first)];
            }
            index += count[l];
            first = (first + count[l]) << 1;
            code <<= 1;
        }
        return -1;
    }
};

const unsigned short kLenBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                     31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const unsigned char kLenExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const unsigned short kDistBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                      193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const unsigned char kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

struct sWalkTables {
    sHuffTable lit, dist;
};

// Walks a whole raw deflate stream that stands alone (no distance reaches before its
// start) and must give `plain` bytes: the bit of the final block's BFINAL flag and the bit
// after its end-of-block code. False when the stream is not exactly that.
bool walkDeflate(const unsigned char* data, size_t n, unsigned long long plain, sWalkTables& t,
                 unsigned long long& finalBit, unsigned long long& endBit) {
    static const unsigned char kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    sBitIn in(data, n);
    unsigned long long made = 0;
    for (;;) {
        in.fill();
        unsigned long long head = in.pos();
        bool final = in.take(1) != 0;
        unsigned int type = in.take(2);
        if (type == 0) {
            in.take(in.have & 7);  // to the byte boundary
            in.fill();
            unsigned int len = in.take(16), nlen = in.take(16);
            if ((len ^ 0xFFFF) != nlen) return false;
            // Drop the buffered bytes and step over the stored ones.
            unsigned long long at = in.pos() / 8 + len;
            if (at > n) return false;
            in.p = data + at;
            in.buf = 0;
            in.have = 0;
            made += len;
        } else if (type == 3) {
            return false;
        } else {
            unsigned char lens[320];
            int nlit = 288, ndist = 32;
            if (type == 1) {
                memset(lens, 8, 144);
                memset(lens + 144, 9, 112);
                memset(lens + 256, 7, 24);
                memset(lens + 280, 8, 8);
                memset(lens + 288, 5, 32);
            } else {
                nlit = (int)in.take(5) + 257;
                ndist = (int)in.take(5) + 1;
                int ncode = (int)in.take(4) + 4;
                unsigned char cl[19] = {0};
                in.fill();
                for (int i = 0; i < ncode; i++) {
                    if (i == 10) in.fill();
                    cl[kOrder[i]] = (unsigned char)in.take(3);
                }
                if (nlit > 286 || ndist > 30 || !t.lit.build(cl, 19)) return false;
                for (int i = 0; i < nlit + ndist;) {
                    in.fill();
                    int s = t.lit.decode(in);
                    if (s < 0) return false;
                    if (s < 16) {
                        lens[i++] = (unsigned char)s;
                        continue;
                    }
                    int rep = s == 16 ? 3 + (int)in.take(2) : s == 17 ? 3 + (int)in.take(3) : 11 + (int)in.take(7);
                    if ((s == 16 && i == 0) || i + rep > nlit + ndist) return false;
                    unsigned char v = s == 16 ? lens[i - 1] : 0;
                    memset(lens + i, v, (size_t)rep);
                    i += rep;
                }
                if (!lens[256]) return false;
                memmove(lens + 288, lens + nlit, (size_t)ndist);
            }
            if (!t.lit.build(lens, nlit) || !t.dist.build(lens + 288, ndist)) return false;
            for (;;) {
                in.fill();
                // Up to three literals on one fill (at most 45 bits): literals come in runs.
                int s = t.lit.decode(in);
                for (int k = 0; k < 2 && s >= 0 && s < 256; k++) {
                    made++;
                    s = t.lit.decode(in);
                }
                if (s < 0 || s > 285) return false;
                if (s < 256) {
                    made++;
                    continue;
                }
                in.fill();
                if (s == 256) break;
                unsigned int len = kLenBase[s - 257] + in.take(kLenExtra[s - 257]);
                int d = t.dist.decode(in);
                if (d < 0 || d > 29) return false;
                unsigned long long dist = kDistBase[d] + in.take(kDistExtra[d]);
                if (dist > made) return false;
                made += len;
            }
        }
        if (in.pos() > (unsigned long long)n * 8 || made > plain) return false;
        if (final) {
            finalBit = head;
            endBit = in.pos();
            return made == plain && (endBit + 7) / 8 == n;
        }
    }
}

// zlib, raw and unprimed, for a block the walk refused: a sync flush keeps the stream open.
bool zlibBlock(int level, sParBlock& b) {
    z_stream zs;
    memset(&zs, 0, sizeof(zs));
    if (deflateInit2(&zs, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
    uLong bound = deflateBound(&zs, (uLong)b.len) + 16;
    bool ok = (b.out.count >= (long long)bound || b.out.reset((long long)bound));
    if (ok) {
        zs.next_in = b.in.ptr;
        zs.avail_in = (uInt)b.len;
        zs.next_out = b.out.ptr;
        zs.avail_out = (uInt)bound;
        int r = deflate(&zs, b.last ? Z_FINISH : Z_SYNC_FLUSH);
        ok = b.last ? r == Z_STREAM_END : (r == Z_OK && zs.avail_in == 0 && zs.avail_out != 0);
        b.outLen = (long long)(bound - zs.avail_out);
    }
    deflateEnd(&zs);
    return ok;
}

// A worker's tools: the one-call deflater and the walk's tables.
struct sDeflater {
    libdeflate_compressor* c = nullptr;
    sWalkTables* tables = nullptr;
    int level = 9;

    bool init(int lvl) {
        level = lvl;
        c = libdeflate_alloc_compressor(lvl);
        tables = new (std::nothrow) sWalkTables;
        return c && tables;
    }
    ~sDeflater() {
        libdeflate_free_compressor(c);
        delete tables;
    }
};

// Deflates one block raw, on its own: the last one ends the stream, any other ends on a
// byte boundary with the stream still open.
bool deflateBlock(sDeflater& z, sParBlock& b) {
    b.adler = libdeflate_adler32(1, b.in.ptr, (size_t)b.len);
    // Room for the worst case plus the empty stored block that follows it.
    long long bound = (long long)libdeflate_deflate_compress_bound(z.c, (size_t)b.len) + 8;
    if (b.out.count < bound && !b.out.reset(bound)) return false;
    size_t n = libdeflate_deflate_compress(z.c, b.in.ptr, (size_t)b.len, b.out.ptr, (size_t)bound - 8);
    unsigned long long finalBit, endBit;
    if (!n || !walkDeflate(b.out.ptr, n, (unsigned long long)b.len, *z.tables, finalBit, endBit))
        return zlibBlock(z.level, b);
    b.outLen = (long long)n;
    if (b.last) return true;
    b.out.ptr[finalBit / 8] &= (unsigned char)~(1u << (finalBit % 8));
    // The stored block's three header bits are zeros, then the byte boundary, LEN 0, NLEN.
    b.out.ptr[endBit / 8] &= (unsigned char)((1u << (endBit % 8)) - 1);
    long long at = (long long)((endBit + 3 + 7) / 8);
    for (long long i = (long long)n; i < at; i++) b.out.ptr[i] = 0;
    static const unsigned char kEmptyStored[4] = {0, 0, 0xFF, 0xFF};
    memcpy(b.out.ptr + at, kEmptyStored, 4);
    b.outLen = at + 4;
    return true;
}

void runBlocks(sParDeflatePool& p) {
    sDeflater z;
    bool init = z.init(p.level);
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
        b.ok = init && deflateBlock(z, b);
        b.done.set();
    }
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
    if (blockSize < kMinBlock) blockSize = kMinBlock;
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

// Hands the block being filled to the workers and readies the next one. A stream of one
// block is deflated right here.
bool cParDeflateStream::submit(bool last) {
    sParDeflatePool& p = *myPool;
    sParBlock& b = p.slot(p.tail);
    b.last = last;
    b.ok = false;
    b.done.reset();
    if (last && p.tail == 0) {
        sDeflater z;
        b.ok = z.init(p.level) && deflateBlock(z, b);
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
    if (next.in.count < p.blockSize && !next.in.reset(p.blockSize)) return false;
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
        long long need = b.len + n;
        if (need > b.in.count) {
            long long grow = b.in.count * 2 > need ? b.in.count * 2 : need;
            if (grow < 65536) grow = 65536;
            if (grow > myPool->blockSize) grow = myPool->blockSize;
            if (!b.in.reset(grow)) {
                myFailed = true;
                return false;
            }
        }
        memcpy(b.in.ptr + b.len, at, (size_t)n);
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

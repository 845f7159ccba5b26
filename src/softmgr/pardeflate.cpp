// Parallel deflate: workers take blocks in turn, the main thread joins them and
// combines the blocks' Adler-32 sums into the stream's trailer.
#include "softmgr/pardeflate.h"

#include <unistd.h>
#include <zlib.h>

#include <cstring>

#include "base/job.h"
#include "base/lists.h"
#include "base/sync.h"

namespace {

const long long kWindow = 32768;

struct sParShared {
    const unsigned char* data;
    unsigned long long size;
    long long blockSize;
    long long blocks;
    int level;
    _typebuf<unsigned char>* out;  // per block
    unsigned long* adlers;         // per block
    cCriticalSection lock;
    long long nextBlock = 0;
    bool failed = false;

    long long take() {
        cSafeCriticalSectionAccess a(&lock);
        if (failed || nextBlock >= blocks) return -1;
        return nextBlock++;
    }
    void fail() {
        cSafeCriticalSectionAccess a(&lock);
        failed = true;
    }
};

// Deflates one block raw: primed with the 32 KiB before it, ended on a byte boundary.
bool deflateBlock(sParShared& s, long long b, z_stream& zs) {
    unsigned long long start = (unsigned long long)b * (unsigned long long)s.blockSize;
    unsigned long long len = s.size - start < (unsigned long long)s.blockSize ? s.size - start
                                                                               : (unsigned long long)s.blockSize;
    bool last = b == s.blocks - 1;
    if (deflateReset(&zs) != Z_OK) return false;
    if (b > 0) {
        unsigned long long dict = start < (unsigned long long)kWindow ? start : (unsigned long long)kWindow;
        if (deflateSetDictionary(&zs, s.data + start - dict, (uInt)dict) != Z_OK) return false;
    }
    _typebuf<unsigned char>& out = s.out[b];
    // Room for the worst case plus the sync flush's empty stored block.
    uLong bound = deflateBound(&zs, (uLong)len) + 16;
    if (!out.set((long long)bound)) return false;
    zs.next_in = (Bytef*)(s.data + start);
    zs.avail_in = (uInt)len;
    zs.next_out = out.ptr;
    zs.avail_out = (uInt)bound;
    int r = deflate(&zs, last ? Z_FINISH : Z_SYNC_FLUSH);
    if (last ? r != Z_STREAM_END : (r != Z_OK || zs.avail_in != 0 || zs.avail_out == 0)) return false;
    if (!out.reset((long long)(bound - zs.avail_out))) return false;
    s.adlers[b] = adler32(adler32(0L, Z_NULL, 0), s.data + start, (uInt)len);
    return true;
}

void runBlocks(sParShared& s) {
    z_stream zs;
    memset(&zs, 0, sizeof(zs));
    if (deflateInit2(&zs, s.level, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) {
        s.fail();
        return;
    }
    long long b;
    while ((b = s.take()) >= 0)
        if (!deflateBlock(s, b, zs)) s.fail();
    deflateEnd(&zs);
}

class cDeflateWorker : public cJob {
public:
    explicit cDeflateWorker(sParShared* shared) : myShared(shared), myDone(true, false) {}
    ~cDeflateWorker() override { terminate(60000); }
    void waitDone() { myDone.wait(-1); }

protected:
    unsigned int job() override {
        runBlocks(*myShared);
        return 0;
    }
    void onJobEnd(unsigned int) override { myDone.set(); }
    void onJobException(const cException&) override { myShared->fail(); }

private:
    sParShared* myShared;
    cEvent myDone;
};

}  // namespace

void cParDeflate::clear() {
    myBlocks.clear();
    myPacked = 0;
}

bool cParDeflate::compress(const unsigned char* data, unsigned long long size, int level, int threads,
                           long long blockSize) {
    clear();
    if ((!data && size) || level < 0 || level > 9) return false;
    if (blockSize < kWindow) blockSize = kWindow;
    if (blockSize > (1LL << 30)) blockSize = 1LL << 30;
    long long blocks = size ? (long long)((size + (unsigned long long)blockSize - 1) / (unsigned long long)blockSize) : 1;
    if (!myBlocks.set(blocks + 2)) return false;
    _typebuf<unsigned long> adlers;
    if (!adlers.set(blocks)) return false;

    sParShared s;
    s.data = data;
    s.size = size;
    s.blockSize = blockSize;
    s.blocks = blocks;
    s.level = level;
    s.out = myBlocks.ptr + 1;
    s.adlers = adlers.ptr;

    if (threads <= 0) {
        long n = sysconf(_SC_NPROCESSORS_ONLN);
        threads = n > 0 ? (int)n : 1;
    }
    if (threads > 64) threads = 64;
    if (threads > blocks) threads = (int)blocks;
    // The calling thread works too; the rest run as jobs.
    _classbuf<cPtr<cDeflateWorker> > workers;
    if (threads > 1 && workers.set(threads - 1)) {
        for (int i = 0; i < threads - 1; i++) {
            workers[i] = new (std::nothrow) cDeflateWorker(&s);
            if (workers[i].ptr && !workers[i]->start()) workers[i] = nullptr;
        }
    }
    runBlocks(s);
    for (long long i = 0; i < workers.count; i++)
        if (workers[i].ptr) workers[i]->waitDone();
    if (s.failed || s.nextBlock < blocks) {
        clear();
        return false;
    }

    // zlib header: deflate, 32 KiB window, the level's hint, check bits.
    int hint = level == 9 ? 3 : level >= 6 ? 2 : level >= 2 ? 1 : 0;
    unsigned int head = (0x78u << 8) | ((unsigned int)hint << 6);
    head += 31 - head % 31;
    unsigned char h[2] = {(unsigned char)(head >> 8), (unsigned char)head};
    unsigned long adler = adler32(0L, Z_NULL, 0);
    for (long long b = 0; b < blocks; b++) {
        unsigned long long start = (unsigned long long)b * (unsigned long long)blockSize;
        unsigned long long len = size - start < (unsigned long long)blockSize ? size - start : (unsigned long long)blockSize;
        adler = adler32_combine(adler, adlers[b], (z_off_t)len);
    }
    unsigned char t[4] = {(unsigned char)(adler >> 24), (unsigned char)(adler >> 16), (unsigned char)(adler >> 8),
                          (unsigned char)adler};
    if (!myBlocks[0].set(h, 2) || !myBlocks[blocks + 1].set(t, 4)) {
        clear();
        return false;
    }
    for (long long i = 0; i < myBlocks.count; i++) myPacked += (unsigned long long)myBlocks[i].count;
    return true;
}

bool cParDeflate::writeTo(cFileIOTarget* target) const {
    if (!target || !myBlocks.count) return false;
    for (long long i = 0; i < myBlocks.count; i++)
        if (myBlocks[i].count && !target->writef(myBlocks[i].ptr, myBlocks[i].count)) return false;
    return true;
}

bool cParDeflate::toBuffer(_typebuf<unsigned char>& out) const {
    out.clear();
    if (!myBlocks.count || !out.set((long long)myPacked)) return false;
    long long at = 0;
    for (long long i = 0; i < myBlocks.count; i++) {
        if (myBlocks[i].count) memcpy(out.ptr + at, myBlocks[i].ptr, (size_t)myBlocks[i].count);
        at += myBlocks[i].count;
    }
    return true;
}

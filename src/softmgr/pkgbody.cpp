// Items read where they lie: the body's reader inflates through a 64 KiB window, a
// finished item hands its reader back so the next item in order continues from there,
// and every item stream checks length and digest of what it yields.
#include "softmgr/pkgbody.h"

#include <fcntl.h>
#include <libdeflate.h>
#include <unistd.h>
#include <zlib.h>

#include <cstring>
#include <new>

#include "base/byteorder.h"
#include "base/fileio.h"
#include "base/fileops.h"
#include "base/job.h"
#include "base/lists.h"
#include "hash/sha256.h"

namespace {

const long long kInBuf = 16384;
// The input buffer of a zlib item's stream.
const long long kItemInBuf = 4096;

}  // namespace

// --- the body ---

cPkgBody* cPkgBody::open(cFileIOTarget* source, unsigned long long packed, unsigned long long plain) {
    if (!source) return nullptr;
    cPkgBody* b = new (std::nothrow) cPkgBody();
    if (!b) return nullptr;
    b->myPacked = packed;
    b->myPlain = plain;
    if (plain / kMaxPoints > b->mySpacing) b->mySpacing = plain / kMaxPoints;
    b->myStart = source->get_fp();
    if (source->typeOf() == cFileIOTarget::eIOFile) {
        int fd = ((cFileIO*)source)->handle();
        b->myFd = fd >= 0 ? fcntl(fd, F_DUPFD_CLOEXEC, 0) : -1;
        if (b->myFd >= 0) return b;
    } else if (b->myMem.set((long long)packed) && source->readf(b->myMem.ptr, (long long)packed)) {
        return b;
    }
    b->release();
    return nullptr;
}

cPkgBody::~cPkgBody() {
    for (cPkgBodyReader* r : myKept) delete r;
    for (int i = 0; i < myPointCount; i++) delete myPoints[i];
    if (myFd >= 0) ::close(myFd);
}

long long cPkgBody::readPacked(unsigned long long offset, void* buffer, long long n) {
    if (offset >= myPacked || n <= 0) return 0;
    if ((unsigned long long)n > myPacked - offset) n = (long long)(myPacked - offset);
    if (myFd >= 0) return preadAll(myFd, buffer, n, myStart + offset);
    memcpy(buffer, myMem.ptr + offset, (size_t)n);
    return n;
}

cPkgBodyReader* cPkgBody::reader(unsigned long long at) {
    cPkgBodyReader* r = nullptr;
    const sPoint* from = nullptr;
    {
        cSafeCriticalSectionAccess a(&myLock);
        from = pointFor(at);
        int best = -1;
        for (int i = 0; i < kKeptReaders; i++)
            if (myKept[i] && myKept[i]->pos() <= at && (best < 0 || myKept[i]->pos() > myKept[best]->pos())) best = i;
        // Points are never removed: `from` stays valid once the lock is let go.
        if (best >= 0 && (!from || myKept[best]->pos() >= from->plain)) {
            r = myKept[best];
            myKept[best] = nullptr;
        }
    }
    if (!r) r = new (std::nothrow) cPkgBodyReader(this, from);
    if (r && (r->failed() || !r->skip(at - r->pos()))) {
        delete r;
        return nullptr;
    }
    return r;
}

void cPkgBody::keep(cPkgBodyReader* r) {
    if (!r) return;
    if (r->failed()) {
        delete r;
        return;
    }
    cPkgBodyReader* old = r;
    {
        cSafeCriticalSectionAccess a(&myLock);
        // Into a free place, else in place of the one at the lowest position (the least
        // likely to serve a later item).
        int at = 0;
        for (int i = 0; i < kKeptReaders; i++) {
            if (!myKept[i]) {
                at = i;
                break;
            }
            if (myKept[i]->pos() < myKept[at]->pos()) at = i;
        }
        old = myKept[at];
        myKept[at] = r;
    }
    delete old;
}

int cPkgBody::accessPoints() {
    cSafeCriticalSectionAccess a(&myLock);
    return myPointCount;
}

const cPkgBody::sPoint* cPkgBody::pointFor(unsigned long long at) const {
    const sPoint* from = nullptr;
    for (int i = 0; i < myPointCount && myPoints[i]->plain <= at; i++) from = myPoints[i];
    return from;
}

unsigned long long cPkgBody::startFor(unsigned long long at) {
    cSafeCriticalSectionAccess a(&myLock);
    const sPoint* from = pointFor(at);
    return from ? from->plain : 0;
}

unsigned long long cPkgBody::nextPoint() {
    cSafeCriticalSectionAccess a(&myLock);
    if (myPointCount >= kMaxPoints) return ~0ULL;
    return myPointCount ? myPoints[myPointCount - 1]->plain + mySpacing : mySpacing;
}

void cPkgBody::addPoint(sPoint* p) {
    {
        cSafeCriticalSectionAccess a(&myLock);
        if (myPointCount < kMaxPoints && (!myPointCount || myPoints[myPointCount - 1]->plain < p->plain)) {
            myPoints[myPointCount++] = p;
            return;
        }
    }
    delete p;
}

// --- runs of blocks inflated whole (the load) ---

namespace {

// A run's packed and plain bytes at most: the maker's runs are 1 MiB of plain bytes.
const long long kRunBytes = (1 << 20) + (1 << 16);
// Room beyond one run: the buffers move their contents down at most once per this many bytes.
const long long kRunSlack = 1 << 18;
const long long kWindow = 32768;
// Sync marks looked at for one run (one may lie inside a block's data) before zlib takes over.
const int kRunTries = 4;
// Shorter runs are not worth a call each: zlib inflates the rest.
const long long kMinRun = 4096;
const unsigned char kSyncMark[4] = {0, 0, 0xFF, 0xFF};

}  // namespace

struct cPkgBodyReader::sRuns {
    libdeflate_decompressor* d = nullptr;
    _typebuf<unsigned char> in;  // packed bytes from inAt (used up to inUsed), with room for two more
    long long inFill = 0, inUsed = 0;
    unsigned long long inAt = 0;
    _typebuf<unsigned char> out;  // plain bytes: the 32 KiB before the run at runAt at least, then the run
    long long runAt = 0, outFill = 0, outUsed = 0;
    bool last = false;  // zlib takes over once this run is read
    ~sRuns() {
        if (d) libdeflate_free_decompressor(d);
    }
};

// --- reading the body in order ---

// A reader holds no reference: whoever uses one holds the body (and the body deletes
// the readers it keeps), so the two never keep each other alive.
cPkgBodyReader::cPkgBodyReader(cPkgBody* body, const cPkgBody::sPoint* from) : myBody(body) {
    myZ = new (std::nothrow) z_stream;
    if (!myZ || !myIn.set(kInBuf)) {
        myFailed = true;
        return;
    }
    memset(myZ, 0, sizeof(*myZ));
    if (!from) {
        // The zlib header checked here and the deflate data inflated raw: the Adler-32
        // is left to the caller (trailer()), who takes it on another thread.
        unsigned char h[2];
        myFailed = myBody->readPacked(0, h, 2) != 2 || (h[0] & 0x0F) != Z_DEFLATED || (h[0] >> 4) > 7 ||
                   (h[1] & 0x20) || ((unsigned)h[0] * 256 + h[1]) % 31 != 0 || inflateInit2(myZ, -MAX_WBITS) != Z_OK;
        if (myFailed) {
            delete myZ;
            myZ = nullptr;
        }
        myPacked = 2;
        return;
    }
    // Raw deflate from a block boundary: the bits of the byte before it that the block
    // already uses, and the plain bytes before it as the window.
    myFromStart = false;
    myPacked = from->packed;
    myPos = from->plain;
    if (inflateInit2(myZ, -MAX_WBITS) != Z_OK) {
        delete myZ;
        myZ = nullptr;
        myFailed = true;
        return;
    }
    unsigned char b = 0;
    uInt window = from->plain < sizeof(from->window) ? (uInt)from->plain : (uInt)sizeof(from->window);
    myFailed = (from->bits && (myBody->readPacked(from->packed - 1, &b, 1) != 1 ||
                               inflatePrime(myZ, from->bits, b >> (8 - from->bits)) != Z_OK)) ||
               inflateSetDictionary(myZ, from->window + sizeof(from->window) - window, window) != Z_OK;
}

cPkgBodyReader::~cPkgBodyReader() {
    delete myRuns;
    if (myZ) inflateEnd(myZ);
    delete myZ;
}

long long cPkgBodyReader::read(void* buffer, long long n) {
    long long made = myRuns ? readRuns((unsigned char*)buffer, n) : 0;
    // Stops at block boundaries only while a point is wanted within this read.
    unsigned long long want = myFromStart && made < n ? myBody->nextPoint() : ~0ULL;
    while (made < n && !myFailed && !myEnded) {
        bool dry = false;
        if (myInUsed == myInFill) {
            long long got = myBody->readPacked(myPacked, myIn.ptr, myIn.count);
            myInFill = got > 0 ? got : 0;
            myInUsed = 0;
            myPacked += (unsigned long long)myInFill;
            dry = got <= 0;
        }
        // Also without new input: zlib may hold output it could not hand over yet.
        long long room = n - made;
        if (room > (1LL << 30)) room = 1LL << 30;
        bool mark = want != ~0ULL && myPos + (unsigned long long)made + (unsigned long long)room >= want;
        myZ->next_in = myIn.ptr + myInUsed;
        myZ->avail_in = (uInt)(myInFill - myInUsed);
        myZ->next_out = (Bytef*)buffer + made;
        myZ->avail_out = (uInt)room;
        int r = inflate(myZ, mark ? Z_BLOCK : Z_NO_FLUSH);
        long long used = (myInFill - myInUsed) - (long long)myZ->avail_in, out = room - (long long)myZ->avail_out;
        myInUsed += used;
        made += out;
        if (r == Z_STREAM_END) myEnded = true;
        if ((r != Z_OK && r != Z_STREAM_END && r != Z_BUF_ERROR) || (dry && out == 0 && r != Z_STREAM_END))
            myFailed = true;  // damaged, or the packed bytes end before the stream does
        // At the end of a block that is not the last: a point when it is due.
        unsigned long long at = myPos + (unsigned long long)made;
        if (mark && r == Z_OK && (myZ->data_type & 128) && !(myZ->data_type & 64) && at >= want) {
            cPkgBody::sPoint* p = new (std::nothrow) cPkgBody::sPoint;
            uInt len = sizeof(p->window);
            if (p && at >= sizeof(p->window) && inflateGetDictionary(myZ, p->window, &len) == Z_OK &&
                len == sizeof(p->window)) {
                p->plain = at;
                p->packed = myPacked - (unsigned long long)(myInFill - myInUsed);
                p->bits = myZ->data_type & 7;
                myBody->addPoint(p);
            } else {
                delete p;
            }
            want = myBody->nextPoint();
        }
    }
    myPos += (unsigned long long)made;
    return made;
}

// --- reading in runs ---

void cPkgBodyReader::readInRuns() {
    if (!myFromStart || myFailed || myPos != 0 || myRuns) return;
    sRuns* r = new (std::nothrow) sRuns;
    if (!r || !(r->d = libdeflate_alloc_decompressor()) || !r->in.set(kRunBytes + kRunSlack + 2) ||
        !r->out.set(kWindow + kRunBytes + kRunSlack)) {
        delete r;  // zlib inflates it all
        return;
    }
    r->inAt = myPacked;
    myRuns = r;
}

long long cPkgBodyReader::readRuns(unsigned char* out, long long n) {
    long long made = 0;
    while (made < n && myRuns && !myFailed) {
        sRuns& r = *myRuns;
        if (r.outUsed == r.outFill) {
            if (r.last) leaveRuns();
            if (myEnded || !myRuns || !nextRun(myPos + (unsigned long long)made)) break;
            continue;
        }
        long long k = r.outFill - r.outUsed < n - made ? r.outFill - r.outUsed : n - made;
        memcpy(out + made, r.out.ptr + r.outUsed, (size_t)k);
        r.outUsed += k;
        made += k;
    }
    return made;
}

// The run at myPacked, plain offset `at`, inflated after the plain bytes before it. A run
// ends with a sync mark (its empty stored block): an empty final block put after the mark
// makes it a stream of its own, which libdeflate inflates only when it refers to nothing
// before it, so what comes out is what zlib would give. A mark can also lie inside a
// block's data: then the run is cut short and refused, and the next mark is tried. The
// last run is the rest of the body. False when zlib takes over (or the stream has ended).
bool cPkgBodyReader::nextRun(unsigned long long at) {
    sRuns& r = *myRuns;
    // Room for a whole run after the plain bytes before it.
    if (r.out.count - r.outFill < kRunBytes) {
        long long keep = r.outFill < kWindow ? r.outFill : kWindow;
        memmove(r.out.ptr, r.out.ptr + r.outFill - keep, (size_t)keep);
        r.outFill = keep;
    }
    r.runAt = r.outUsed = r.outFill;
    // A run starts on a byte boundary: an access point when one is due.
    if (r.runAt >= kWindow && at >= myBody->nextPoint()) {
        cPkgBody::sPoint* p = new (std::nothrow) cPkgBody::sPoint;
        if (p) {
            p->plain = at;
            p->packed = myPacked;
            p->bits = 0;
            memcpy(p->window, r.out.ptr + r.runAt - kWindow, sizeof(p->window));
            myBody->addPoint(p);
        }
    }
    // A whole run of packed bytes ahead, unless the body ends first.
    r.inUsed = (long long)(myPacked - r.inAt);
    bool whole = r.inAt + (unsigned long long)r.inFill >= myBody->myPacked;
    if (r.inFill - r.inUsed < kRunBytes && !whole) {
        memmove(r.in.ptr, r.in.ptr + r.inUsed, (size_t)(r.inFill - r.inUsed));
        r.inFill -= r.inUsed;
        r.inAt = myPacked;
        r.inUsed = 0;
        long long room = r.in.count - 2 - r.inFill;
        long long got = myBody->readPacked(r.inAt + (unsigned long long)r.inFill, r.in.ptr + r.inFill, room);
        r.inFill += got > 0 ? got : 0;
        whole = r.inAt + (unsigned long long)r.inFill >= myBody->myPacked;
    }
    unsigned char* in = r.in.ptr + r.inUsed;
    long long left = r.inFill - r.inUsed, from = 1;
    for (int tries = 0;;) {
        long long end = -1;
        if (tries < kRunTries && from < left) {
            const void* m = memmem(in + from, (size_t)(left - from), kSyncMark, sizeof(kSyncMark));
            if (m) {
                end = (const unsigned char*)m - in + 4;
                from = end - 3;
                tries++;
            }
        }
        bool mark = end >= 0;
        if (!mark && whole) end = left;
        if (end < 0) break;
        unsigned char saved[2] = {0, 0};
        if (mark) {
            memcpy(saved, in + end, 2);
            in[end] = 3;  // a final block with fixed codes and nothing but its end
            in[end + 1] = 0;
        }
        size_t used = 0, made = 0;
        libdeflate_result res = libdeflate_deflate_decompress_ex(r.d, in, (size_t)end + (mark ? 2 : 0),
                                                                 r.out.ptr + r.runAt, (size_t)(r.out.count - r.runAt),
                                                                 &used, &made);
        if (mark) memcpy(in + end, saved, 2);
        if (res == LIBDEFLATE_SUCCESS) {
            r.outFill = r.runAt + (long long)made;
            if (mark && used == (size_t)end + 2) {
                myPacked += (unsigned long long)end;
                r.last = (long long)made < kMinRun;
            } else {
                // The stream's own last block came first.
                myPacked += used;
                myEnded = true;
            }
            return true;
        }
        if (!mark) break;
    }
    leaveRuns();
    return false;
}

// zlib goes on from myPacked with the plain bytes before it as its window.
void cPkgBodyReader::leaveRuns() {
    sRuns* r = myRuns;
    myRuns = nullptr;
    long long keep = r->outFill < kWindow ? r->outFill : kWindow;
    if (keep && inflateSetDictionary(myZ, r->out.ptr + r->outFill - keep, (uInt)keep) != Z_OK) myFailed = true;
    myInFill = myInUsed = 0;
    delete r;
}

bool cPkgBodyReader::trailer(unsigned long& adler) {
    unsigned char t[4];
    if (!myEnded || !myFromStart || !myZ) return false;
    unsigned long long at = myPacked - (unsigned long long)(myInFill - myInUsed);
    if (myBody->readPacked(at, t, 4) != 4) return false;
    adler = be32(t);
    return true;
}

bool cPkgBodyReader::skip(unsigned long long n) {
    unsigned char drop[16384];
    while (n > 0) {
        long long want = n < sizeof(drop) ? (long long)n : (long long)sizeof(drop);
        long long got = read(drop, want);
        if (got != want) return false;
        n -= (unsigned long long)got;
    }
    return true;
}

// --- windows ---

cPkgBodyRange::cPkgBodyRange(cPkgBody* body, unsigned long long at, unsigned long long length)
    : myBody(body), myAt(at), myLength(length) {
    myBody->addRef();
}

cPkgBodyRange::~cPkgBodyRange() {
    close();
    myBody->release();
}

void cPkgBodyRange::close() {
    // A reader at the end of its item serves the next one.
    if (myReader) myBody->keep(myReader);
    myReader = nullptr;
}

long long cPkgBodyRange::read(void* buffer, long long n) {
    if (myFailed || n <= 0 || myPos >= myLength) return 0;
    if (!myReader) {
        myReader = myBody->reader(myAt + myPos);
        if (!myReader) {
            myFailed = true;
            return 0;
        }
    }
    if ((unsigned long long)n > myLength - myPos) n = (long long)(myLength - myPos);
    long long got = myReader->read(buffer, n);
    if (got < n) myFailed = true;
    if (got < 0) return -1;
    myPos += (unsigned long long)got;
    return got;
}

bool cPkgBodyRange::set_fp(unsigned long long position) {
    if (position > myLength || myFailed) return false;
    if (position < myPos) {
        delete myReader;
        myReader = nullptr;
    } else if (myReader && !myReader->skip(position - myPos)) {
        myFailed = true;
        return false;
    }
    myPos = position;
    return true;
}

long long cPkgFdRange::read(void* buffer, long long n) {
    if (myFailed || n <= 0 || myPos >= myLength) return 0;
    if ((unsigned long long)n > myLength - myPos) n = (long long)(myLength - myPos);
    long long got = preadAll(myFd, buffer, n, myAt + myPos);
    if (got < n) myFailed = true;
    if (got < 0) return -1;
    myPos += (unsigned long long)got;
    return got;
}

bool cPkgFdRange::set_fp(unsigned long long position) {
    if (position > myLength) return false;
    myPos = position;
    return true;
}

// --- item streams ---

cPkgItemStream::cPkgItemStream(cFileIOTarget* stored, bool zlib, unsigned long long plainSize,
                               const unsigned char digest[32])
    : myStored(stored), myZlib(zlib), myPlain(plainSize) {
    memcpy(myDigest, digest, 32);
    mySha = new (std::nothrow) sha256_context;
    myFailed = !mySha || !myStored || !restart();
}

cPkgItemStream::~cPkgItemStream() {
    delete myStored;
    delete (sha256_context*)mySha;
}

bool cPkgItemStream::restart() {
    myPos = 0;
    myChecked = false;
    sha256_starts((sha256_context*)mySha);
    if (!myStored->set_fp(0)) return false;
    // Inflated lazily through a small buffer; the zlib stream need not end at the size
    // (its end is never asked for).
    return !myZlib || myInflated.create(myStored, myPlain, kItemInBuf, false);
}

// Up to n plain bytes, fewer only when the stored bytes end or are damaged.
long long cPkgItemStream::produce(unsigned char* out, long long n) {
    return myZlib ? myInflated.read(out, n) : myStored->read(out, n);
}

long long cPkgItemStream::read(void* buffer, long long n) {
    if (myFailed || n <= 0 || myPos >= myPlain) return 0;
    if ((unsigned long long)n > myPlain - myPos) n = (long long)(myPlain - myPos);
    long long got = produce((unsigned char*)buffer, n);
    if (got < 0) {
        myFailed = true;
        return -1;
    }
    if (got > 0) sha256_update((sha256_context*)mySha, (const unsigned char*)buffer, (size_t)got);
    myPos += (unsigned long long)got;
    if (got < n) {
        myFailed = true;  // the item ends before its size: cut or damaged
    } else if (myPos == myPlain && !myChecked) {
        unsigned char sum[32];
        sha256_finish((sha256_context*)mySha, sum);
        myChecked = true;
        if (memcmp(sum, myDigest, 32) != 0) myFailed = true;
    }
    return got;
}

bool cPkgItemStream::set_fp(unsigned long long position) {
    if (position > myPlain) return false;
    if (position < myPos) {
        if (!restart()) {
            myFailed = true;
            return false;
        }
    }
    unsigned char drop[16384];
    while (myPos < position && !myFailed) {
        unsigned long long want = position - myPos;
        if (want > sizeof(drop)) want = sizeof(drop);
        if (read(drop, (long long)want) <= 0) return false;
    }
    return !myFailed;
}

// --- hashing beside the reader ---

struct cPkgHasher::sState {
    class cWorker : public cJob {
    public:
        explicit cWorker(sState* s) : myS(s) {}
        ~cWorker() override { terminate(60000); }

    protected:
        unsigned int job() override {
            for (;;) {
                myS->work.wait(-1);
                if (myS->quit) return 0;
                myS->update(myS->buf[myS->hashing].ptr, myS->len);
                myS->idle.set();
            }
        }

    private:
        sState* myS;
    };

    // libdeflate's Adler-32 takes a fraction of zlib's time (vector code).
    void update(const unsigned char* p, long long n) {
        sha256_update(&sha, p, (size_t)n);
        adler = libdeflate_adler32((uint32_t)adler, p, (size_t)n);
    }

    sha256_context sha;
    unsigned long adler = 1;
    _typebuf<unsigned char> buf[2];
    int filling = 1, hashing = 0;
    long long len = 0;
    bool threaded = false, quit = false;
    cEvent work{false, false}, idle{true, true};
    cPtr<cWorker> worker;
};

cPkgHasher::cPkgHasher(long long bufferSize) : mySize(bufferSize) {
    myState = new (std::nothrow) sState;
    if (!myState) return;
    sha256_starts(&myState->sha);
    if (!myState->buf[0].set(mySize) || !myState->buf[1].set(mySize)) {
        delete myState;
        myState = nullptr;
        return;
    }
    myState->worker = new (std::nothrow) sState::cWorker(myState);
    myState->threaded = myState->worker.ptr && myState->worker->start();
}

cPkgHasher::~cPkgHasher() {
    if (!myState) return;
    if (myState->threaded) {
        myState->idle.wait(-1);
        myState->quit = true;
        myState->work.set();
    }
    myState->worker = nullptr;  // waits for the thread
    delete myState;
}

unsigned char* cPkgHasher::next() {
    if (!myState) return nullptr;
    // The buffer not handed over last: add() waited for its hashing before it handed
    // the other one over.
    myState->filling ^= 1;
    return myState->buf[myState->filling].ptr;
}

void cPkgHasher::add(long long n) {
    if (!myState || n <= 0) return;
    if (!myState->threaded) {
        myState->update(myState->buf[myState->filling].ptr, n);
        return;
    }
    myState->idle.wait(-1);
    myState->idle.reset();
    myState->hashing = myState->filling;
    myState->len = n;
    myState->work.set();
}

void cPkgHasher::finish(unsigned char out[32], unsigned long& adler) {
    adler = 0;
    if (!myState) {
        memset(out, 0, 32);
        return;
    }
    if (myState->threaded) myState->idle.wait(-1);
    sha256_finish(&myState->sha, out);
    adler = myState->adler;
}

// zlib streams over zlib itself: whole-buffer inflate with an output cap, incremental
// inflate and deflate, and cZStream, a read-only stream of inflated bytes. Streams of a
// known size held whole go through libdeflate, which inflates them in one call faster.
#include "compression/zlibstreams.h"

#include <libdeflate.h>
#include <zlib.h>

#include <climits>
#include <cstring>

namespace {

const long long kStep = 64 * 1024;
// zlib counts in uInt; chunks handed to it stay below this.
const long long kMaxChunk = 1LL << 30;

struct sInflateState {
    z_stream zs;
    bool ended;   // Z_STREAM_END seen
    bool failed;  // a data or memory error seen
};

long long minll(long long a, long long b) { return a < b ? a : b; }

}  // namespace

bool cZDecompress::decompress(const _typebuf<unsigned char>& in, _typebuf<unsigned char>& out, long long maxOut) {
    return decompressPart(in.ptr, in.count, out, maxOut);
}

bool cZDecompress::decompressPart(const unsigned char* data, long long size, _typebuf<unsigned char>& out,
                                  long long maxOut) {
    out.clear();
    if (!data || size <= 0 || maxOut < 0) return false;
    z_stream zs;
    memset(&zs, 0, sizeof(zs));
    if (inflateInit(&zs) != Z_OK) return false;

    _typebuf<unsigned char> buf;
    long long made = 0;
    const unsigned char* next = data;
    long long left = size;
    bool ok = false;
    // Once the output reaches the cap, one more byte of room tells a stream that ends
    // exactly at the cap from one that would go past it.
    unsigned char probe;
    for (;;) {
        if (zs.avail_in == 0 && left > 0) {
            long long chunk = minll(left, kMaxChunk);
            zs.next_in = (Bytef*)next;
            zs.avail_in = (uInt)chunk;
            next += chunk;
            left -= chunk;
        }
        bool probing = false;
        if (made == buf.count) {
            if (made >= maxOut) {
                probing = true;
            } else {
                // First guess from the input size, then grow by half (at least 64 KiB).
                long long want = made == 0 ? minll(size, kMaxChunk) * 4 : made + made / 2;
                if (want < made + kStep) want = made + kStep;
                if (!buf.reset(minll(want, maxOut))) break;
            }
        }
        if (probing) {
            zs.next_out = &probe;
            zs.avail_out = 1;
        } else {
            zs.next_out = buf.ptr + made;
            zs.avail_out = (uInt)minll(buf.count - made, kMaxChunk);
        }
        uInt room = zs.avail_out;
        int rc = inflate(&zs, Z_NO_FLUSH);
        long long produced = (long long)(room - zs.avail_out);
        if (probing) {
            if (produced > 0) break;  // past the cap
        } else {
            made += produced;
        }
        if (rc == Z_STREAM_END) {
            ok = true;
            break;
        }
        if (rc == Z_BUF_ERROR) {
            // No progress: either input ran out before the end (truncated) or, while
            // probing, nothing more could move.
            if ((zs.avail_in == 0 && left == 0) || probing) break;
            continue;
        }
        if (rc != Z_OK) break;
    }
    inflateEnd(&zs);
    if (!ok) return false;
    if (made == 0) {
        buf.clear();
    } else if (made < buf.count && !buf.reset(made)) {
        return false;
    }
    out.swap(buf);
    return true;
}

bool cZDecompress::decompressExact(const unsigned char* data, long long inSize, unsigned char* out, long long size) {
    if (!data || inSize <= 0 || !out || size <= 0) return false;
    if (libdeflate_decompressor* d = libdeflate_alloc_decompressor()) {
        size_t made = 0;
        libdeflate_result r = libdeflate_zlib_decompress(d, data, (size_t)inSize, out, (size_t)size, &made);
        libdeflate_free_decompressor(d);
        // A whole, checked stream: it is exactly as long as zlib would find it.
        if (r == LIBDEFLATE_SUCCESS) return (long long)made == size;
    }
    // Longer than the size, damaged, or not in memory: zlib reads it from the start.
    cZInflate z;
    if (!z.init()) return false;
    long long used = 0, made = 0;
    cZInflate::eResult r = z.inflate(data, inSize, used, out, size, made);
    return r != cZInflate::eError && made == size;
}

// --- cZInflate ---

cZInflate::cZInflate() : myState(nullptr) {}

cZInflate::~cZInflate() { end(); }

bool cZInflate::init(bool raw) {
    end();
    sInflateState* s = new (std::nothrow) sInflateState;
    if (!s) return false;
    memset(s, 0, sizeof(*s));
    if (inflateInit2(&s->zs, raw ? -MAX_WBITS : MAX_WBITS) != Z_OK) {
        delete s;
        return false;
    }
    myState = s;
    return true;
}

cZInflate::eResult cZInflate::inflate(const unsigned char* in, long long inSize, long long& inUsed,
                                      unsigned char* out, long long outSize, long long& outMade) {
    inUsed = 0;
    outMade = 0;
    sInflateState* s = (sInflateState*)myState;
    if (!s || s->failed || inSize < 0 || outSize < 0) return eError;
    if (s->ended) return eStreamEnd;
    // Large chunks go through zlib in slices it can count.
    for (;;) {
        long long inChunk = minll(inSize - inUsed, kMaxChunk);
        long long outChunk = minll(outSize - outMade, kMaxChunk);
        s->zs.next_in = (Bytef*)(in + inUsed);
        s->zs.avail_in = (uInt)inChunk;
        s->zs.next_out = out + outMade;
        s->zs.avail_out = (uInt)outChunk;
        int rc = ::inflate(&s->zs, Z_NO_FLUSH);
        long long usedNow = inChunk - s->zs.avail_in, madeNow = outChunk - s->zs.avail_out;
        inUsed += usedNow;
        outMade += madeNow;
        if (rc == Z_STREAM_END) {
            s->ended = true;
            return eStreamEnd;
        }
        if (rc == Z_BUF_ERROR) return eNeedMore;
        if (rc != Z_OK) {
            s->failed = true;
            return eError;
        }
        if (inUsed >= inSize || outMade >= outSize || (usedNow == 0 && madeNow == 0)) return eNeedMore;
    }
}

long long cZInflate::inflate(const unsigned char* in, long long inSize, unsigned char* out, long long outCap) {
    if (!init()) return -1;
    long long inUsed = 0, outMade = 0;
    eResult r = inflate(in, inSize, inUsed, out, outCap, outMade);
    return r == eStreamEnd ? outMade : -1;
}

void cZInflate::end() {
    sInflateState* s = (sInflateState*)myState;
    if (!s) return;
    inflateEnd(&s->zs);
    delete s;
    myState = nullptr;
}

// --- cZDeflate ---

cZDeflate::cZDeflate() : myState(nullptr), myTarget(nullptr), myWritten(0), myBuf(nullptr) {}

cZDeflate::~cZDeflate() {
    if (myState) {
        deflateEnd((z_stream*)myState);
        delete (z_stream*)myState;
    }
    free(myBuf);
}

static int clampLevel(int level) { return level < 0 ? 0 : level > 9 ? 9 : level; }

bool cZDeflate::compress(const unsigned char* data, long long size, _typebuf<unsigned char>& out, int level) {
    out.clear();
    if (size < 0 || (size > 0 && !data)) return false;
    z_stream zs;
    memset(&zs, 0, sizeof(zs));
    if (deflateInit(&zs, clampLevel(level)) != Z_OK) return false;
    // deflateBound counts in uLong, which holds any size on the 64-bit systems we build for.
    _typebuf<unsigned char> buf;
    if (!buf.set((long long)deflateBound(&zs, (uLong)size) + 64)) {
        deflateEnd(&zs);
        return false;
    }
    long long used = 0, made = 0;
    int rc;
    do {
        long long inChunk = minll(size - used, kMaxChunk);
        long long outChunk = minll(buf.count - made, kMaxChunk);
        zs.next_in = (Bytef*)(data + used);
        zs.avail_in = (uInt)inChunk;
        zs.next_out = buf.ptr + made;
        zs.avail_out = (uInt)outChunk;
        rc = deflate(&zs, used + inChunk == size ? Z_FINISH : Z_NO_FLUSH);
        used += inChunk - zs.avail_in;
        made += outChunk - zs.avail_out;
        if (rc == Z_STREAM_ERROR || (rc == Z_BUF_ERROR && made == buf.count)) break;
    } while (rc != Z_STREAM_END);
    deflateEnd(&zs);
    if (rc != Z_STREAM_END || !buf.reset(made)) return false;
    out.swap(buf);
    return true;
}

bool cZDeflate::begin(cFileIOTarget* target, int level) {
    if (myState) {
        deflateEnd((z_stream*)myState);
        delete (z_stream*)myState;
        myState = nullptr;
    }
    myTarget = target;
    myWritten = 0;
    if (!target) return false;
    if (!myBuf) myBuf = (unsigned char*)malloc((size_t)kStep);
    z_stream* zs = new (std::nothrow) z_stream;
    if (!myBuf || !zs) {
        delete zs;
        return false;
    }
    memset(zs, 0, sizeof(*zs));
    if (deflateInit(zs, clampLevel(level)) != Z_OK) {
        delete zs;
        return false;
    }
    myState = zs;
    return true;
}

// Runs deflate over the pending input, writing each full output buffer to the target.
bool cZDeflate::pump(int flush) {
    z_stream* zs = (z_stream*)myState;
    for (;;) {
        zs->next_out = myBuf;
        zs->avail_out = (uInt)kStep;
        int rc = deflate(zs, flush);
        if (rc == Z_STREAM_ERROR) return false;
        long long have = kStep - zs->avail_out;
        if (have > 0) {
            if (!myTarget->writef(myBuf, have)) return false;
            myWritten += (unsigned long long)have;
        }
        if (flush == Z_FINISH) {
            if (rc == Z_STREAM_END) return true;
        } else if (zs->avail_in == 0 && zs->avail_out != 0) {
            return true;
        }
    }
}

bool cZDeflate::add(const void* data, long long size) {
    if (!myState || size < 0 || (size > 0 && !data)) return false;
    z_stream* zs = (z_stream*)myState;
    const unsigned char* p = (const unsigned char*)data;
    while (size > 0) {
        long long chunk = minll(size, kMaxChunk);
        zs->next_in = (Bytef*)p;
        zs->avail_in = (uInt)chunk;
        if (!pump(Z_NO_FLUSH)) return false;
        p += chunk;
        size -= chunk;
    }
    return true;
}

bool cZDeflate::finish() {
    if (!myState) return false;
    z_stream* zs = (z_stream*)myState;
    zs->next_in = nullptr;
    zs->avail_in = 0;
    bool ok = pump(Z_FINISH);
    deflateEnd(zs);
    delete zs;
    myState = nullptr;
    return ok;
}

// --- cZStream ---

cZStream::cZStream()
    : mySource(nullptr), myOwns(false), mySourceStart(0), myPlainSize(0), myPos(0), myFailed(false),
      myEnded(false), myBufFill(0), myBufUsed(0) {}

cZStream::~cZStream() { close(); }

bool cZStream::create(cFileIOTarget* source, unsigned long long plainSize, long long bufSize, bool ownsSource) {
    close();
    // An owned source is ours even when creation fails, so the caller never leaks it.
    mySource = source;
    myOwns = ownsSource;
    if (!source) return false;
    mySourceStart = source->get_fp();
    myPlainSize = plainSize;
    if (bufSize < 512) bufSize = 512;
    if (bufSize > (16LL << 20)) bufSize = 16LL << 20;
    if (!myBuf.set(bufSize) || !restart()) {
        myFailed = true;
        return false;
    }
    return true;
}

bool cZStream::restart() {
    myPos = 0;
    myBufFill = 0;
    myBufUsed = 0;
    myEnded = false;
    myFailed = !mySource || !mySource->set_fp(mySourceStart) || !myInflate.init(false);
    return !myFailed;
}

unsigned long long cZStream::size() { return myPlainSize; }

cZStream::eStep cZStream::step(unsigned char* out, long long n, long long& made) {
    made = 0;
    bool dry = false;
    if (myBufUsed == myBufFill) {
        long long got = mySource->read(myBuf.ptr, myBuf.count);
        if (got < 0) return eStepFailed;
        // A source at its end may still leave zlib output it holds back (the rest of a
        // match that did not fit the last call's room).
        dry = got == 0;
        myBufFill = dry ? 0 : got;
        myBufUsed = 0;
    }
    long long inUsed;
    cZInflate::eResult r = myInflate.inflate(myBuf.ptr + myBufUsed, myBufFill - myBufUsed, inUsed, out, n, made);
    myBufUsed += inUsed;
    if (r == cZInflate::eStreamEnd) return eStepEnded;
    // The source ended inside the zlib stream: it is truncated.
    if (r == cZInflate::eError || (dry && made == 0)) return eStepFailed;
    return eStepMore;
}

long long cZStream::read(void* buffer, long long n) {
    if (!mySource || myFailed) return -1;
    if (n <= 0 || myPos >= myPlainSize) return 0;
    if ((unsigned long long)n > myPlainSize - myPos) n = (long long)(myPlainSize - myPos);
    unsigned char* out = (unsigned char*)buffer;
    long long made = 0;
    // A zlib stream that ended before the plain size is shorter than it says.
    while (made < n && !myEnded && !myFailed) {
        long long got;
        eStep s = step(out + made, n - made, got);
        made += got;
        myEnded = s == eStepEnded;
        myFailed = s == eStepFailed;
    }
    myPos += (unsigned long long)made;
    if (myPos == myPlainSize && !myEnded && !myFailed) checkEnd();
    if (made > 0) return made;
    myFailed = true;
    return -1;
}

// At the plain size: a stream that ends here must end with a good checksum. One that goes
// on is a caller's prefix and is left alone.
void cZStream::checkEnd() {
    unsigned char probe;
    for (;;) {
        long long got;
        eStep s = step(&probe, 1, got);
        if (got) return;
        myEnded = s == eStepEnded;
        myFailed = s == eStepFailed;
        if (s != eStepMore) return;
    }
}

long long cZStream::write(const void*, long long) { return 0; }

bool cZStream::set_fp(unsigned long long position) {
    if (!mySource || position > myPlainSize) return false;
    if (position < myPos && !restart()) return false;
    unsigned char scratch[4096];
    while (myPos < position) {
        unsigned long long want = position - myPos;
        long long got = read(scratch, want < sizeof(scratch) ? (long long)want : (long long)sizeof(scratch));
        if (got <= 0) return false;
    }
    return true;
}

void cZStream::close() {
    if (myOwns) delete mySource;
    mySource = nullptr;
    myOwns = false;
    myBuf.clear();
    myInflate.end();
    myPos = 0;
    myPlainSize = 0;
    myBufFill = myBufUsed = 0;
    myFailed = false;
    myEnded = false;
}

bool cZStream::valid() { return mySource && !myFailed; }

unsigned long long cZStream::get_fp() { return myPos; }

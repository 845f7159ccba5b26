// Items read where they lie: the body's reader inflates through a 64 KiB window, a
// finished item hands its reader back so the next item in order continues from there,
// and every item stream checks length and digest of what it yields.
#include "softmgr/pkgbody.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "base/fileio.h"
#include "hash/sha256.h"

namespace {

const long long kInBuf = 16384;

long long preadAll(int fd, unsigned long long offset, void* buffer, long long n) {
    long long done = 0;
    while (done < n) {
        ssize_t r = pread(fd, (char*)buffer + done, (size_t)(n - done), (off_t)(offset + (unsigned long long)done));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        done += r;
    }
    return done;
}

}  // namespace

// --- the body ---

cPkgBody* cPkgBody::open(cFileIOTarget* source, unsigned long long packed, unsigned long long plain) {
    if (!source) return nullptr;
    cPkgBody* b = new (std::nothrow) cPkgBody();
    if (!b) return nullptr;
    b->myPacked = packed;
    b->myPlain = plain;
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
    delete myKept;
    if (myFd >= 0) ::close(myFd);
}

long long cPkgBody::readPacked(unsigned long long offset, void* buffer, long long n) {
    if (offset >= myPacked || n <= 0) return 0;
    if ((unsigned long long)n > myPacked - offset) n = (long long)(myPacked - offset);
    if (myFd >= 0) return preadAll(myFd, myStart + offset, buffer, n);
    memcpy(buffer, myMem.ptr + offset, (size_t)n);
    return n;
}

cPkgBodyReader* cPkgBody::reader(unsigned long long at) {
    cPkgBodyReader* r = nullptr;
    {
        cSafeCriticalSectionAccess a(&myLock);
        if (myKept && myKept->pos() <= at) {
            r = myKept;
            myKept = nullptr;
        }
    }
    if (!r) r = new (std::nothrow) cPkgBodyReader(this);
    if (r && (r->failed() || !r->skip(at - r->pos()))) {
        delete r;
        return nullptr;
    }
    return r;
}

void cPkgBody::keep(cPkgBodyReader* r) {
    if (!r) return;
    cPkgBodyReader* old;
    {
        cSafeCriticalSectionAccess a(&myLock);
        old = myKept;
        myKept = r->failed() ? nullptr : r;
    }
    delete old;
    if (r->failed()) delete r;
}

// --- reading the body in order ---

// A reader holds no reference: whoever uses one holds the body (and the body deletes
// the reader it keeps), so the two never keep each other alive.
cPkgBodyReader::cPkgBodyReader(cPkgBody* body) : myBody(body) {
    myFailed = !myIn.set(kInBuf) || !myInflate.init(false);
}

cPkgBodyReader::~cPkgBodyReader() {}

long long cPkgBodyReader::read(void* buffer, long long n) {
    long long made = 0;
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
        long long used, out;
        cZInflate::eResult r =
            myInflate.inflate(myIn.ptr + myInUsed, myInFill - myInUsed, used, (unsigned char*)buffer + made, n - made, out);
        myInUsed += used;
        made += out;
        if (r == cZInflate::eStreamEnd) myEnded = true;
        if (r == cZInflate::eError || (dry && out == 0 && r != cZInflate::eStreamEnd))
            myFailed = true;  // damaged, or the packed bytes end before the stream does
    }
    myPos += (unsigned long long)made;
    return made;
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
    myPos += (unsigned long long)got;
    if (got < n) myFailed = true;
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
    long long got = preadAll(myFd, myAt + myPos, buffer, n);
    myPos += (unsigned long long)got;
    if (got < n) myFailed = true;
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
    myInFill = myInUsed = 0;
    sha256_starts((sha256_context*)mySha);
    if (!myStored->set_fp(0)) return false;
    if (!myZlib) return true;
    return (myIn.count || myIn.set(kInBuf)) && myInflate.init(false);
}

// Up to n plain bytes, fewer only when the stored bytes end or are damaged.
long long cPkgItemStream::produce(unsigned char* out, long long n) {
    if (!myZlib) return myStored->read(out, n);
    long long made = 0;
    while (made < n) {
        bool dry = false;
        if (myInUsed == myInFill) {
            long long got = myStored->read(myIn.ptr, myIn.count);
            myInFill = got > 0 ? got : 0;
            myInUsed = 0;
            dry = got <= 0;
        }
        long long used, outMade;
        cZInflate::eResult r = myInflate.inflate(myIn.ptr + myInUsed, myInFill - myInUsed, used, out + made, n - made, outMade);
        myInUsed += used;
        made += outMade;
        // The end of the zlib stream, damage, or stored bytes that give nothing more.
        if (r != cZInflate::eNeedMore || (dry && outMade == 0)) break;
    }
    return made;
}

long long cPkgItemStream::read(void* buffer, long long n) {
    if (myFailed || n <= 0 || myPos >= myPlain) return 0;
    if ((unsigned long long)n > myPlain - myPos) n = (long long)(myPlain - myPos);
    long long got = produce((unsigned char*)buffer, n);
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

// The payload: adding, streaming, hashing and the wire form of package items.
#include "softmgr/softpkg.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/byteorder.h"
#include "base/fileops.h"
#include "base/memio.h"
#include "hash/sha256.h"
#include "softmgr/pkgbody.h"

namespace {

const long long kChunk = 4096;
// Pieces of a stored item on their way to the spool.
const long long kSpoolChunk = 1 << 20;
const unsigned char kNoBytesDigest[32] = {0xe3, 0xb0, 0xc4, 0x42, 0x98, 0xfc, 0x1c, 0x14, 0x9a, 0xfb, 0xf4,
                                          0xc8, 0x99, 0x6f, 0xb9, 0x24, 0x27, 0xae, 0x41, 0xe4, 0x64, 0x9b,
                                          0x93, 0x4c, 0xa4, 0x95, 0x99, 0x1b, 0x78, 0x52, 0xb8, 0x55};


// Bytes left between the stream's position and its end.
unsigned long long remainingOf(cFileIOTarget* s) {
    unsigned long long size = s->size(), pos = s->get_fp();
    return pos < size ? size - pos : 0;
}

// Reads exactly `size` bytes and then the end, in pieces, handing each to `take` and
// hashing them into `digest` when one is given: a shrinking or growing source is refused.
template <class F>
bool readWhole(cFileIOTarget* source, unsigned long long size, unsigned char* buf, long long bufSize,
               unsigned char* digest, F take) {
    sha256_context sha;
    sha256_starts(&sha);
    unsigned long long total = 0;
    while (total < size) {
        long long want = size - total < (unsigned long long)bufSize ? (long long)(size - total) : bufSize;
        long long got = source->read(buf, want);
        if (got <= 0) return false;
        if (digest) sha256_update(&sha, buf, (size_t)got);
        if (!take(buf, got, total)) return false;
        total += (unsigned long long)got;
    }
    unsigned char probe;
    if (source->read(&probe, 1) != 0) return false;
    if (digest) sha256_finish(&sha, digest);
    return true;
}

// Reads a file of `size` bytes whole into p, which has room for one byte more: true only
// when exactly `size` bytes come. A read that stops short of what was asked is the end of
// a regular file, so a file read in one call costs one call; a byte more is growth.
bool readSized(int fd, unsigned char* p, unsigned long long size) {
    unsigned long long got = 0;
    for (;;) {
        ssize_t r = read(fd, p + got, (size_t)(size + 1 - got));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return r == 0 && got == size;
        got += (unsigned long long)r;
        if (got >= size) return got == size;
    }
}

long long readSome(int fd, unsigned char* p, long long n) {
    for (;;) {
        ssize_t r = read(fd, p, (size_t)n);
        if (r < 0 && errno == EINTR) continue;
        return (long long)r;
    }
}

}  // namespace

cSoftPkg::~cSoftPkg() { newPackage(); }

bool cSoftPkg::newPackage() {
    for (unsigned int i = 0; i < myBlockCount; i++) {
        for (unsigned int k = 0; k < kBlockItems; k++) free(myBlocks.ptr[i][k].data);
        free(myBlocks.ptr[i]);
    }
    myBlocks.clear();
    myBlockCount = 0;
    myCount = 0;
    if (mySpool >= 0) close(mySpool);
    mySpool = -1;
    mySpoolSize = mySpoolUsed = 0;
    myPiece.clear();
    myPieceLen = 0;
    myPieceFailed = false;
    useBody(nullptr);
    return true;
}

void cSoftPkg::setSpoolFolder(const char* folder) { mySpoolFolder.set(folder); }

// The spool is unlinked at once: nothing is left behind however the process ends.
bool cSoftPkg::openSpool() {
    if (mySpool >= 0) return true;
    const char* dir = mySpoolFolder.ptr && *mySpoolFolder.ptr ? mySpoolFolder.ptr : getenv("TMPDIR");
    if (!dir || !*dir) dir = "/tmp";
    _guardchar<char> path;
    long long n = (long long)strlen(dir);
    if (!path.set(n + 32)) return false;
    snprintf(path.ptr, (size_t)n + 32, "%s/.qmx-payload-XXXXXX", dir);
    int fd = mkostemp(path.ptr, O_CLOEXEC);
    if (fd < 0) return false;
    unlink(path.ptr);
    mySpool = fd;
    return true;
}

bool cSoftPkg::flushPiece() const {
    if (myPieceLen > 0) {
        if (!pwriteAll(mySpool, myPiece.ptr, myPieceLen, mySpoolSize - (unsigned long long)myPieceLen))
            myPieceFailed = true;  // the spool misses bytes for good
        myPieceLen = 0;
    }
    return !myPieceFailed;
}

static_assert(sizeof(void*) != 8 || sizeof(cSoftPkg::sPkgItem) == 64, "an item grew");

cSoftPkg::sPkgItem* cSoftPkg::newItem() {
    if (myCount / kBlockItems == myBlockCount) {
        if (myBlockCount == myBlocks.count && !myBlocks.reset(myBlocks.count ? myBlocks.count * 2 : 4)) return nullptr;
        sPkgItem* b = (sPkgItem*)malloc(sizeof(sPkgItem) * kBlockItems);
        if (!b) return nullptr;
        for (unsigned int k = 0; k < kBlockItems; k++) new (b + k) sPkgItem();
        myBlocks.ptr[myBlockCount++] = b;
    }
    return slot(myCount);
}

void cSoftPkg::dropItem(sPkgItem* it) {
    free(it->data);
    *it = sPkgItem();
}

void cSoftPkg::placedInSpool(sPkgItem* it, unsigned long long at, unsigned long long size) {
    it->hashed = false;
    it->where = eInSpool;
    it->at = at;
    it->stored = size;
    mySpoolSize += size;
    mySpoolUsed += size + 40;
}

int cSoftPkg::addPkgItem(cFileIOTarget* source, bool compress) {
    if (!source || myCount >= kMaxItems) return -1;
    unsigned long long size = source->size();
    if (size > 0xFFFFFFFFULL || !source->set_fp(0)) return -1;
    if (size == 0) {
        unsigned char probe;
        return source->read(&probe, 1) == 0 ? (int)kEmptyItem : -1;
    }
    sPkgItem* it = newItem();
    if (!it) return -1;
    bool ok;
    if (!compress) {
        // Stored: straight to the spool, after the bytes already there; hashed when written.
        _typebuf<unsigned char> buf;
        unsigned long long at = mySpoolSize;
        ok = mySpoolUsed + size + 40 <= kMaxSpoolBytes && openSpool() && flushPiece() && buf.set(kSpoolChunk) &&
             readWhole(source, size, buf.ptr, buf.count, nullptr,
                       [&](const unsigned char* p, long long n, unsigned long long done) {
                           return pwriteAll(mySpool, p, n, at + done);
                       });
        if (ok) {
            placedInSpool(it, at, size);
        }
    } else {
        // Compressed: level 9 into memory, the stream ended properly.
        z_stream zs;
        memset(&zs, 0, sizeof(zs));
        if (deflateInit(&zs, 9) != Z_OK) {
            dropItem(it);
            return -1;
        }
        cMemIOTarget out(65536);
        unsigned char in[kChunk], buf[8192];
        ok = readWhole(source, size, in, kChunk, it->digest, [&](const unsigned char* p, long long n, unsigned long long done) {
            zs.next_in = (Bytef*)p;
            zs.avail_in = (uInt)n;
            bool last = done + (unsigned long long)n == size;
            int r;
            do {
                zs.next_out = buf;
                zs.avail_out = sizeof(buf);
                r = deflate(&zs, last ? Z_FINISH : Z_NO_FLUSH);
                if (r == Z_STREAM_ERROR || !out.writef(buf, (long long)sizeof(buf) - zs.avail_out)) return false;
            } while (last ? r != Z_STREAM_END : zs.avail_out == 0);
            return true;
        });
        deflateEnd(&zs);
        _typebuf<unsigned char> packed;
        ok = ok && out.toBuffer(packed);
        it->unpackedSize = (unsigned int)size;
        it->stored = (unsigned long long)packed.count;
        it->data = packed.dettach();
    }
    if (!ok) {
        dropItem(it);
        return -1;
    }
    return append();
}

int cSoftPkg::addPkgFile(const char* path, int& openError) {
    openError = 0;
    if (!path || myCount >= kMaxItems) return -1;
    int fd;
    do {
        fd = ::open(path, O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        openError = errno;
        return -1;
    }
    struct stat st;
    bool known = fstat(fd, &st) == 0;
    if (!known || S_ISDIR(st.st_mode)) {
        openError = known ? EISDIR : errno;
        close(fd);
        return -1;
    }
    unsigned long long size = st.st_size < 0 ? ~0ULL : (unsigned long long)st.st_size;
    int index = -1;
    sPkgItem* it = nullptr;
    unsigned char probe;
    if (size == 0) {
        if (readSome(fd, &probe, 1) == 0) index = (int)kEmptyItem;
    } else if (size <= 0xFFFFFFFFULL && mySpoolUsed + size + 40 <= kMaxSpoolBytes && openSpool() &&
               (myPiece.count || myPiece.set(kSpoolChunk)) && (it = newItem())) {
        unsigned long long at = mySpoolSize;
        bool ok;
        if (size < (unsigned long long)myPiece.count) {
            // Into the piece, after what it holds: written out only when the next does not fit.
            bool room = (unsigned long long)myPieceLen + size + 1 <= (unsigned long long)myPiece.count;
            ok = (room || flushPiece()) && readSized(fd, myPiece.ptr + myPieceLen, size);
            if (ok) myPieceLen += (long long)size;
        } else {
            // Larger than the piece: through it in pieces, straight to the spool.
            ok = flushPiece();
            for (unsigned long long done = 0; ok && done < size;) {
                long long want = size - done < (unsigned long long)myPiece.count ? (long long)(size - done) : myPiece.count;
                long long got = readSome(fd, myPiece.ptr, want);
                ok = got > 0 && pwriteAll(mySpool, myPiece.ptr, got, at + done);
                done += got > 0 ? (unsigned long long)got : 0;
            }
            ok = ok && readSome(fd, &probe, 1) == 0;
        }
        if (ok) {
            placedInSpool(it, at, size);
            index = append();
        } else {
            dropItem(it);
        }
    }
    close(fd);
    return index;
}

void cSoftPkg::useBody(cPkgBody* body) {
    if (body) body->addRef();
    if (myBody) myBody->release();
    myBody = body;
}

bool cSoftPkg::appendBodyItem(unsigned int unpackedSize, const unsigned char digest[32], unsigned long long at,
                              unsigned long long stored) {
    if (!myBody || myCount >= kMaxItems || stored == 0 || at + stored > myBody->plainSize()) return false;
    sPkgItem* it = newItem();
    if (!it) return false;
    it->unpackedSize = unpackedSize;
    memcpy(it->digest, digest, 32);
    it->where = eInBody;
    it->at = at;
    it->stored = stored;
    append();
    return true;
}

cFileIOTarget* cSoftPkg::storedBytes(const sPkgItem* it) {
    switch (it->where) {
    case eInMemory:
        return it->data ? new (std::nothrow) cBufWrapperIO(it->data, (long long)it->stored, false) : nullptr;
    case eInSpool:
        return mySpool >= 0 && flushPiece() ? new (std::nothrow) cPkgFdRange(mySpool, it->at, it->stored) : nullptr;
    case eInBody:
        return myBody ? new (std::nothrow) cPkgBodyRange(myBody, it->at, it->stored) : nullptr;
    }
    return nullptr;
}

cFileIOTarget* cSoftPkg::item(int index) {
    if ((unsigned int)index == kEmptyItem)
        return new (std::nothrow) cPkgItemStream(new (std::nothrow) cBufWrapperIO("", 0, false), false, 0, kNoBytesDigest);
    sPkgItem* it = find(index);
    if (!it || !settle(it)) return nullptr;
    cFileIOTarget* stored = storedBytes(it);
    if (!stored) return nullptr;
    cPkgItemStream* s = new (std::nothrow) cPkgItemStream(stored, it->unpackedSize != 0, sizeOf(index), it->digest);
    if (!s) delete stored;
    return s;
}

cFileIOTarget* cSoftPkg::storedItem(int index) {
    if ((unsigned int)index == kEmptyItem) return nullptr;
    sPkgItem* it = find(index);
    return it && it->unpackedSize == 0 && settle(it) ? storedBytes(it) : nullptr;
}

unsigned long long cSoftPkg::sizeOf(int index) const {
    sPkgItem* it = find(index);
    if (!it) return 0;
    return it->unpackedSize ? it->unpackedSize : it->stored;
}

unsigned long long cSoftPkg::leadIn(int index) const {
    sPkgItem* it = find(index);
    if (!it || it->where != eInBody || !myBody) return 0;
    return it->at - myBody->startFor(it->at);
}

unsigned long long cSoftPkg::storedSizeOf(int index) const {
    sPkgItem* it = find(index);
    return it ? it->stored : 0;
}

bool cSoftPkg::digest(int index, unsigned char out[32]) const {
    if ((unsigned int)index == kEmptyItem) {
        memcpy(out, kNoBytesDigest, 32);
        return true;
    }
    sPkgItem* it = find(index);
    if (!it || !settle(it)) return false;
    memcpy(out, it->digest, 32);
    return true;
}

const cSoftPkg::sPkgItem* cSoftPkg::itemAt(int index) const {
    sPkgItem* it = find(index);
    return it && settle(it) ? it : nullptr;
}

bool cSoftPkg::settle(sPkgItem* it) const {
    if (it->hashed) return true;
    if (it->where != eInSpool || mySpool < 0 || !flushPiece()) return false;
    _typebuf<unsigned char> buf;
    if (!buf.set(it->stored < (unsigned long long)kSpoolChunk ? (long long)it->stored : kSpoolChunk)) return false;
    sha256_context sha;
    sha256_starts(&sha);
    for (unsigned long long done = 0; done < it->stored;) {
        long long n = it->stored - done < (unsigned long long)buf.count ? (long long)(it->stored - done) : buf.count;
        if (preadAll(mySpool, buf.ptr, n, it->at + done) != n) return false;
        sha256_update(&sha, buf.ptr, (size_t)n);
        done += (unsigned long long)n;
    }
    sha256_finish(&sha, it->digest);
    it->hashed = true;
    return true;
}

bool cSoftPkg::mkDigest(cFileIOTarget* source, unsigned char out[32]) {
    if (!source) return false;
    sha256_context sha;
    sha256_starts(&sha);
    unsigned char buf[kChunk];
    long long got;
    while ((got = source->read(buf, kChunk)) > 0) sha256_update(&sha, buf, (size_t)got);
    sha256_finish(&sha, out);
    return got == 0;
}

bool cSoftPkg::savePackage(cFileIOTarget* target) {
    if (!target || !myCount || !flushPiece()) return false;
    for (unsigned int i = 0; i < myCount; i++)
        if (slot(i)->stored == 0 || slot(i)->stored > 0xFFFFFFFFULL) return false;
    _typebuf<unsigned char> buf;
    if (!buf.set(kSpoolChunk)) return false;
    // Spooled items lie one after another: the buffer holds the spool's bytes from winAt
    // for winLen, read in one call for all the small items they cover.
    unsigned long long winAt = 0, winLen = 0;
    unsigned char head[40];
    for (unsigned int i = 0; i < myCount; i++) {
        sPkgItem* it = slot(i);
        // A spooled item that fits the buffer is read once: hashed there, then written.
        bool held = !it->hashed && it->stored <= (unsigned long long)buf.count;
        const unsigned char* at = nullptr;
        if (held) {
            if (it->at < winAt || it->at + it->stored > winAt + winLen) {
                winAt = it->at;
                winLen = mySpoolSize - winAt < (unsigned long long)buf.count ? mySpoolSize - winAt : (unsigned long long)buf.count;
                if (preadAll(mySpool, buf.ptr, (long long)winLen, winAt) != (long long)winLen) return false;
            }
            at = buf.ptr + (it->at - winAt);
            SHA2Hash(at, it->digest, (size_t)it->stored);
            it->hashed = true;
        }
        if (!settle(it)) return false;
        putLe32(head, it->unpackedSize);
        putLe32(head + 4, (unsigned int)it->stored);
        memcpy(head + 8, it->digest, 32);
        if (!target->writef(head, 40)) return false;
        if (held) {
            if (!target->writef(at, (long long)it->stored)) return false;
            continue;
        }
        cFileIOTarget* from = storedBytes(it);
        if (!from) return false;
        winLen = 0;  // the buffer is taken for the copy
        unsigned long long done = 0;
        while (done < it->stored) {
            long long want = it->stored - done < (unsigned long long)buf.count ? (long long)(it->stored - done) : buf.count;
            if (from->read(buf.ptr, want) != want || !target->writef(buf.ptr, want)) break;
            done += (unsigned long long)want;
        }
        delete from;
        if (done != it->stored) return false;
    }
    memset(head, 0, 8);
    return target->writef(head, 8);
}

bool cSoftPkg::loadPackage(cFileIOTarget* source) {
    newPackage();
    if (!source) return false;
    // The records are walked and counted first: a crafted payload of tiny items would
    // otherwise cost many times its bytes before anything is refused.
    unsigned long long start = source->get_fp();
    unsigned char b[4];
    if (!source->readf(b, 4)) return false;
    for (unsigned int n = 0;; n++) {
        if (!source->readf(b, 4)) return false;
        unsigned int stored = le32(b);
        if (stored == 0) break;
        if ((unsigned long long)stored + 32 > remainingOf(source) || n >= kMaxItems ||
            !source->set_fp(source->get_fp() + 32 + stored) || !source->readf(b, 4))
            return false;
    }
    if (!source->set_fp(start) || !source->readf(b, 4)) return false;
    unsigned int unpacked = le32(b);
    for (;;) {
        if (!source->readf(b, 4)) return false;
        unsigned int stored = le32(b);
        if (stored == 0) break;
        // The record's digest and data must be there before its buffer is made.
        if ((unsigned long long)stored + 32 > remainingOf(source) || myCount >= kMaxItems) return false;
        sPkgItem* it = newItem();
        if (!it) return false;
        it->unpackedSize = unpacked;
        it->stored = stored;
        it->data = (unsigned char*)malloc(stored);
        if (!it->data || !source->readf(it->digest, 32) || !source->readf(it->data, stored)) {
            dropItem(it);
            return false;
        }
        append();
        if (!source->readf(b, 4)) return false;
        unpacked = le32(b);
    }
    return unpacked == 0;
}

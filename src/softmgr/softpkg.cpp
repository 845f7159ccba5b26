// The payload: adding, streaming, hashing and the wire form of package items.
#include "softmgr/softpkg.h"

#include <zlib.h>

#include <cstring>

#include "base/memio.h"
#include "compression/zlibstreams.h"
#include "hash/sha256.h"

namespace {

const long long kChunk = 4096;

void putU32(unsigned char* p, unsigned int v) {
    p[0] = (unsigned char)v;
    p[1] = (unsigned char)(v >> 8);
    p[2] = (unsigned char)(v >> 16);
    p[3] = (unsigned char)(v >> 24);
}

unsigned int getU32(const unsigned char* p) {
    return (unsigned int)p[0] | ((unsigned int)p[1] << 8) | ((unsigned int)p[2] << 16) | ((unsigned int)p[3] << 24);
}

// Bytes left between the stream's position and its end.
unsigned long long remainingOf(cFileIOTarget* s) {
    unsigned long long size = s->size(), pos = s->get_fp();
    return pos < size ? size - pos : 0;
}

}  // namespace

bool cSoftPkg::newPackage() {
    sPkgItem* it = myHead;
    while (it) {
        sPkgItem* n = it->next;
        delete it;
        it = n;
    }
    myHead = myTail = nullptr;
    myCount = 0;
    myIndex.clear();
    return true;
}

// Links the item in and returns its index; -1 (nothing linked) when the index cannot grow.
int cSoftPkg::append(sPkgItem* it) {
    if ((long long)myCount >= myIndex.count && !myIndex.reset(myIndex.count ? myIndex.count * 2 : 64)) return -1;
    myIndex.ptr[myCount] = it;
    if (myTail)
        myTail->next = it;
    else
        myHead = it;
    myTail = it;
    return (int)myCount++;
}

cSoftPkg::sPkgItem* cSoftPkg::find(int index) const {
    if (index < 0 || (unsigned int)index >= myCount) return nullptr;
    return myIndex.ptr[index];
}

int cSoftPkg::addPkgItem(cFileIOTarget* source, bool compress) {
    if (!source || myCount >= kMaxItems) return -1;
    unsigned long long size = source->size();
    if (size > 0xFFFFFFFFULL || !source->set_fp(0)) return -1;
    sha256_context sha;
    sha256_starts(&sha);
    unsigned char probe;

    sPkgItem* it = new (std::nothrow) sPkgItem();
    if (!it) return -1;
    if (!compress) {
        if (size > 0 && !it->data.set((long long)size)) {
            delete it;
            return -1;
        }
        long long at = 0;
        while (at < (long long)size) {
            long long want = (long long)size - at < kChunk ? (long long)size - at : kChunk;
            long long got = source->read(it->data.ptr + at, want);
            if (got <= 0) break;
            sha256_update(&sha, it->data.ptr + at, (size_t)got);
            at += got;
        }
        // Exactly `size` bytes and then the end: a shrinking or growing file is refused.
        if (at != (long long)size || source->read(&probe, 1) != 0) {
            delete it;
            return -1;
        }
        sha256_finish(&sha, it->digest);
        int index = append(it);
        if (index < 0) delete it;
        return index;
    }

    z_stream zs;
    memset(&zs, 0, sizeof(zs));
    if (deflateInit(&zs, 9) != Z_OK) {
        delete it;
        return -1;
    }
    cMemIOTarget out(65536);
    unsigned char in[kChunk];
    unsigned char buf[8192];
    unsigned long long total = 0;
    bool ok = true;
    bool done = false;
    while (ok && !done) {
        long long got = total < size ? source->read(in, kChunk) : 0;
        if (got < 0) got = 0;
        if (got > 0) {
            sha256_update(&sha, in, (size_t)got);
            total += (unsigned long long)got;
        }
        int flush = got == 0 ? Z_FINISH : Z_NO_FLUSH;
        zs.next_in = in;
        zs.avail_in = (uInt)got;
        do {
            zs.next_out = buf;
            zs.avail_out = sizeof(buf);
            int r = deflate(&zs, flush);
            if (r == Z_STREAM_ERROR) {
                ok = false;
                break;
            }
            long long made = (long long)sizeof(buf) - zs.avail_out;
            if (made > 0 && !out.writef(buf, made)) ok = false;
            if (r == Z_STREAM_END) done = true;
        } while (ok && !done && (zs.avail_out == 0 || zs.avail_in > 0));
        if (flush == Z_FINISH && !done) ok = false;
    }
    deflateEnd(&zs);
    if (!ok || total != size || source->read(&probe, 1) != 0 || !out.toBuffer(it->data)) {
        delete it;
        return -1;
    }
    // An empty source stays empty (stored form), as the wire form expects.
    it->unpackedSize = (unsigned int)size;
    if (size == 0) it->data.clear();
    sha256_finish(&sha, it->digest);
    int index = append(it);
    if (index < 0) delete it;
    return index;
}

cFileIOTarget* cSoftPkg::item(int index) {
    sPkgItem* it = find(index);
    if (!it || !it->data.ptr) return nullptr;
    cBufWrapperIO* w = new (std::nothrow) cBufWrapperIO(it->data.ptr, it->data.count, false);
    if (!w) return nullptr;
    if (it->unpackedSize == 0) return w;
    cZStream* z = new (std::nothrow) cZStream();
    if (!z) {
        delete w;
        return nullptr;
    }
    if (!z->create(w, it->unpackedSize, kChunk, true)) {
        delete z;
        return nullptr;
    }
    return z;
}

unsigned long long cSoftPkg::sizeOf(int index) const {
    sPkgItem* it = find(index);
    if (!it) return 0;
    return it->unpackedSize ? it->unpackedSize : (unsigned long long)it->data.count;
}

unsigned long long cSoftPkg::storedSizeOf(int index) const {
    sPkgItem* it = find(index);
    return it ? (unsigned long long)it->data.count : 0;
}

bool cSoftPkg::digest(int index, unsigned char out[32]) const {
    sPkgItem* it = find(index);
    if (!it) return false;
    memcpy(out, it->digest, 32);
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
    return true;
}

bool cSoftPkg::savePackage(cFileIOTarget* target) const {
    if (!target || !myHead) return false;
    for (sPkgItem* it = myHead; it; it = it->next)
        if (it->data.count <= 0 || (unsigned long long)it->data.count > 0xFFFFFFFFULL) return false;
    unsigned char head[40];
    for (sPkgItem* it = myHead; it; it = it->next) {
        putU32(head, it->unpackedSize);
        putU32(head + 4, (unsigned int)it->data.count);
        memcpy(head + 8, it->digest, 32);
        if (!target->writef(head, 40) || !target->writef(it->data.ptr, it->data.count)) return false;
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
        unsigned int stored = getU32(b);
        if (stored == 0) break;
        if ((unsigned long long)stored + 32 > remainingOf(source) || n >= kMaxItems ||
            !source->set_fp(source->get_fp() + 32 + stored) || !source->readf(b, 4))
            return false;
    }
    if (!source->set_fp(start) || !source->readf(b, 4)) return false;
    unsigned int unpacked = getU32(b);
    for (;;) {
        if (!source->readf(b, 4)) return false;
        unsigned int stored = getU32(b);
        if (stored == 0) break;
        // The record's digest and data must be there before its buffer is made.
        if ((unsigned long long)stored + 32 > remainingOf(source) || myCount >= kMaxItems) return false;
        sPkgItem* it = new (std::nothrow) sPkgItem();
        if (!it) return false;
        it->unpackedSize = unpacked;
        if (!it->data.set((long long)stored) || !source->readf(it->digest, 32) ||
            !source->readf(it->data.ptr, stored)) {
            delete it;
            return false;
        }
        if (append(it) < 0) {
            delete it;
            return false;
        }
        if (!source->readf(b, 4)) return false;
        unpacked = getU32(b);
    }
    return unpacked == 0;
}

// cTiffGeneric: the TIFF/BigTIFF directory walker and its typed value getters.
#include "picts/tiffwalk/tiffgeneric.h"

#include <cstdio>
#include <cstring>

#include "picts/byteorder.h"

namespace {
const unsigned long long kAllOnes = ~0ULL;
}  // namespace

int cTiffGeneric::typeSize(int type) {
    switch (type) {
        case 0: return 0;
        case 1: case 2: case 6: case 7: return 1;
        case 3: case 8: return 2;
        case 4: case 9: case 11: case 13: return 4;
        case 5: case 10: case 12: case 16: case 17: return 8;
        default: return -1;
    }
}

unsigned int cTiffGeneric::nextOffset() const { return getU32(&myNextOffset); }

bool cTiffGeneric::markVisited(unsigned long long offset) {
    for (long long i = 0; i < myVisitedCount; i++)
        if (myVisited.ptr[i] == offset) {
            myError = teCycle;
            return false;
        }
    if (myVisitedCount >= kMaxVisited) {
        myError = teCycle;
        return false;
    }
    if (myVisitedCount == myVisited.count && !myVisited.reset(myVisited.count ? myVisited.count * 2 : 16))
        return false;
    myVisited.ptr[myVisitedCount++] = offset;
    return true;
}

bool cTiffGeneric::processStream(cFileIOTarget* io, unsigned long long size) {
    myIO = io;
    myPos = 0;
    myError = 0;
    myVisitedCount = 0;
    if (!io) {
        myError = teNoStream;
        return false;
    }
    if (size == kAllOnes) size = io->size();
    mySize = size;
    if (size < 8) {
        myError = teBeyondStream;
        return false;
    }
    unsigned char h[8];
    if (!io->set_fp(0) || !io->readf(h, 8)) {
        myError = teShortRead;
        return false;
    }
    bool be;
    if (h[0] == 'I' && h[1] == 'I')
        be = false;
    else if (h[0] == 'M' && h[1] == 'M')
        be = true;
    else {
        myError = teBadHeader;
        return false;
    }
    const eHeaderLayout layout = headerLayout(be, rawGet16(h + 2, be));
    unsigned long long first;
    bool big;
    if (layout == hlBigTiff) {
        unsigned char o[8];
        if (!io->set_fp(8) || !io->readf(o, 8)) {
            myError = teShortRead;
            return false;
        }
        first = rawGet64(o, be);
        // Offsets are 32-bit throughout; a BigTIFF beyond 4 GiB is refused.
        if (first > size || first > 0xFFFFFFFFULL) {
            myError = teShortRead;
            return false;
        }
        big = true;
    } else if (layout == hlClassic) {
        first = rawGet32(h + 4, be);
        if (first < 8) {
            myError = teBadHeader;
            return false;
        }
        big = false;
    } else {
        myError = teBadHeader;
        return false;
    }
    markVisited(first);
    return processStream(io, be, big, (unsigned int)first, size);
}

cTiffGeneric::eHeaderLayout cTiffGeneric::headerLayout(bool, unsigned short version) const {
    return version == 42 ? hlClassic : version == 43 ? hlBigTiff : hlRefused;
}

bool cTiffGeneric::processStream(cFileIOTarget* io, bool bigEndian, bool bigTiff, unsigned int offset,
                                 unsigned long long size) {
    myIO = io;
    if (!io) {
        myError = teNoStream;
        return false;
    }
    if (size == kAllOnes) size = io->size();
    mySize = size;
    myBigEndian = bigEndian;
    myBigTiff = bigTiff;
    const unsigned long long countBytes = bigTiff ? 8 : 2, entryBytes = bigTiff ? 20 : 12,
                             nextBytes = bigTiff ? 8 : 4, inlineCap = bigTiff ? 8 : 4;
    // 64-bit sums: an offset near 4 GiB must not wrap past the check.
    if ((unsigned long long)offset + countBytes > size) {
        myError = teBeyondStream;
        return false;
    }
    myPos = offset;
    unsigned char cb[8];
    if (!io->set_fp(offset) || !io->readf(cb, (long long)countBytes)) {
        myError = teShortRead;
        return false;
    }
    unsigned long long count = bigTiff ? rawGet64(cb, bigEndian) : rawGet16(cb, bigEndian);
    if (count > kMaxEntries) {
        myError = teBeyondStream;
        return false;
    }
    myPos += countBytes;
    // The whole directory must lie in the stream before any entry is believed.
    if (myPos + count * entryBytes + nextBytes > size) {
        myError = teShortRead;
        return false;
    }
    for (unsigned long long e = 0; e < count; e++) {
        unsigned char eb[20];
        if (!io->set_fp(myPos) || !io->readf(eb, (long long)entryBytes)) {
            myError = teShortRead;
            return false;
        }
        int tag = rawGet16(eb, bigEndian);
        int type = rawGet16(eb + 2, bigEndian);
        unsigned long long n = bigTiff ? rawGet64(eb + 4, bigEndian) : rawGet32(eb + 4, bigEndian);
        const unsigned char* value = eb + (bigTiff ? 12 : 8);
        if (n > size) {
            myError = teBeyondStream;
            return false;
        }
        int es = typeSize(type);
        if (es < 0 || (type == 0 && tag != 0)) {
            myError = teBadType;
            return false;
        }
        unsigned long long length = (unsigned long long)es * n;
        if (length > 0x7FFFFFFFULL) {
            myError = teBeyondStream;
            return false;
        }
        bool ok;
        if (length > inlineCap) {
            unsigned long long off = bigTiff ? rawGet64(value, bigEndian) : rawGet32(value, bigEndian);
            if (off >= size || off + length > size || off > 0xFFFFFFFFULL) {
                myError = teBadValueOffset;
                return false;
            }
            ok = onRawTag(tag, type, nullptr, (int)length, (unsigned int)off);
        } else {
            ok = onRawTag(tag, type, value, (int)length, 0);
        }
        if (!ok) {
            if (!myError) myError = teStopped;
            return false;
        }
        myPos += entryBytes;
    }
    unsigned char nb[8];
    if (!io->set_fp(myPos) || !io->readf(nb, (long long)nextBytes)) {
        myError = teShortRead;
        return false;
    }
    unsigned long long next = bigTiff ? rawGet64(nb, bigEndian) : rawGet32(nb, bigEndian);
    if (next > 0xFFFFFFFFULL) {
        myError = teShortRead;
        return false;
    }
    // Kept in stream byte order, as stored.
    unsigned char s4[4];
    for (int i = 0; i < 4; i++) s4[i] = (unsigned char)(next >> (bigEndian ? 24 - 8 * i : 8 * i));
    memcpy(&myNextOffset, s4, 4);
    if (next && !onRawTag(kNextIfdTag, 4, &myNextOffset, 4, 0)) return false;
    myPos += nextBytes;
    return true;
}

bool cTiffGeneric::onRawTag(int tag, int type, const void* data, int size, unsigned int offset) {
    if (!data && size > 0) {
        if (myTagData.count < size && !myTagData.reset(size)) {
            myError = teBadValueOffset;
            return false;
        }
        if (!myIO || !myIO->set_fp(offset) || !myIO->readf(myTagData.ptr, size)) {
            myError = teBadValueOffset;
            return false;
        }
        data = myTagData.ptr;
    }
    return onTag(tag, type, data, size);
}

bool cTiffGeneric::onTag(int tag, int type, const void* data, int size) { return true; }

// --- single readers ---
unsigned char cTiffGeneric::getU8(const void* p) const { return p ? *(const unsigned char*)p : 0; }
unsigned short cTiffGeneric::getU16(const void* p) const { return p ? rawGet16((const unsigned char*)p, myBigEndian) : 0; }
unsigned int cTiffGeneric::getU32(const void* p) const { return p ? rawGet32((const unsigned char*)p, myBigEndian) : 0; }
unsigned long long cTiffGeneric::getU64(const void* p) const {
    return p ? rawGet64((const unsigned char*)p, myBigEndian) : 0;
}
short cTiffGeneric::getInt16(const void* p) const { return (short)getU16(p); }
int cTiffGeneric::getInt32(const void* p) const { return (int)getU32(p); }
double cTiffGeneric::getFloat(const void* p) const {
    if (!p) return 0.0;
    unsigned int n = getU32(p), d = getU32((const unsigned char*)p + 4);
    return d ? (double)n / d : 0.0;
}
double cTiffGeneric::getFloatSig(const void* p) const {
    if (!p) return 0.0;
    int n = getInt32(p), d = getInt32((const unsigned char*)p + 4);
    return d ? (double)n / d : 0.0;
}

// --- raw array helpers ---
void cTiffGeneric::getDataU16(const void* data, int size, _typebuf<unsigned short>& v) const {
    long long n = size > 0 ? size / 2 : 0;
    v.clear();
    if (!data || !v.set(n)) return;
    for (long long i = 0; i < n; i++) v.ptr[i] = getU16((const unsigned char*)data + 2 * i);
}
void cTiffGeneric::getDataU32(const void* data, int size, _typebuf<unsigned int>& v) const {
    long long n = size > 0 ? size / 4 : 0;
    v.clear();
    if (!data || !v.set(n)) return;
    for (long long i = 0; i < n; i++) v.ptr[i] = getU32((const unsigned char*)data + 4 * i);
}
void cTiffGeneric::getDataU64(const void* data, int size, _typebuf<unsigned long long>& v) const {
    long long n = size > 0 ? size / 8 : 0;
    v.clear();
    if (!data || !v.set(n)) return;
    for (long long i = 0; i < n; i++) v.ptr[i] = getU64((const unsigned char*)data + 8 * i);
}
void cTiffGeneric::getDataInt16(const void* data, int size, _typebuf<short>& v) const {
    long long n = size > 0 ? size / 2 : 0;
    v.clear();
    if (!data || !v.set(n)) return;
    for (long long i = 0; i < n; i++) v.ptr[i] = getInt16((const unsigned char*)data + 2 * i);
}
void cTiffGeneric::getDataInt32(const void* data, int size, _typebuf<int>& v) const {
    long long n = size > 0 ? size / 4 : 0;
    v.clear();
    if (!data || !v.set(n)) return;
    for (long long i = 0; i < n; i++) v.ptr[i] = getInt32((const unsigned char*)data + 4 * i);
}
void cTiffGeneric::getDataInt64(const void* data, int size, _typebuf<long long>& v) const {
    long long n = size > 0 ? size / 8 : 0;
    v.clear();
    if (!data || !v.set(n)) return;
    for (long long i = 0; i < n; i++) v.ptr[i] = (long long)getU64((const unsigned char*)data + 8 * i);
}
void cTiffGeneric::getDataRational(const void* data, int size, _typebuf<sRational>& v) const {
    long long n = size > 0 ? size / 8 : 0;
    v.clear();
    if (!data || !v.set(n)) return;
    for (long long i = 0; i < n; i++) {
        const unsigned char* p = (const unsigned char*)data + 8 * i;
        v.ptr[i].num = getU32(p);
        v.ptr[i].den = getU32(p + 4);
    }
}
void cTiffGeneric::getDataSRational(const void* data, int size, _typebuf<sSignedRational>& v) const {
    long long n = size > 0 ? size / 8 : 0;
    v.clear();
    if (!data || !v.set(n)) return;
    for (long long i = 0; i < n; i++) {
        const unsigned char* p = (const unsigned char*)data + 8 * i;
        v.ptr[i].num = getInt32(p);
        v.ptr[i].den = getInt32(p + 4);
    }
}
void cTiffGeneric::getDataRational(const void* data, int size, _typebuf<double>& v) const {
    long long n = size > 0 ? size / 8 : 0;
    v.clear();
    if (!data || !v.set(n)) return;
    for (long long i = 0; i < n; i++) v.ptr[i] = getFloat((const unsigned char*)data + 8 * i);
}
void cTiffGeneric::getDataSRational(const void* data, int size, _typebuf<double>& v) const {
    long long n = size > 0 ? size / 8 : 0;
    v.clear();
    if (!data || !v.set(n)) return;
    for (long long i = 0; i < n; i++) v.ptr[i] = getFloatSig((const unsigned char*)data + 8 * i);
}

// --- typed getters ---
bool cTiffGeneric::getValU8(const sTagProcessParam& p, unsigned char& v) const {
    if (p.type != 1 && p.type != 7) return false;
    if (p.data && p.size < 1) return false;
    v = getU8(p.data);
    return true;
}
bool cTiffGeneric::getValsU8(const sTagProcessParam& p, _typebuf<unsigned char>& v) const {
    if (p.size < 0 || (!p.data && p.size > 0)) return false;
    v.clear();
    return p.size == 0 || v.set((const unsigned char*)p.data, p.size);
}
bool cTiffGeneric::getValsASCII(const sTagProcessParam& p, _typebuf<char>& v) const {
    if (p.type != 2 || p.size < 0 || (!p.data && p.size > 0)) return false;
    v.clear();
    return p.size == 0 || v.set((const char*)p.data, p.size);
}
bool cTiffGeneric::getValsPCHAR(const sTagProcessParam& p, _guardchar<char>& v) const {
    if (p.type != 2 || p.size < 0) return false;
    if (!p.data) return true;
    return v.set((const char*)p.data, p.size);
}
bool cTiffGeneric::getValU16(const sTagProcessParam& p, unsigned short& v) const {
    if (p.type != 3 || (p.data && p.size < 2)) return false;
    v = getU16(p.data);
    return true;
}
bool cTiffGeneric::getValsU16(const sTagProcessParam& p, _typebuf<unsigned short>& v) const {
    if (p.type != 3 || p.size < 0 || (!p.data && p.size > 0)) return false;
    getDataU16(p.data, p.size, v);
    return true;
}
bool cTiffGeneric::getValU32(const sTagProcessParam& p, unsigned int& v) const {
    if (p.type == 3) {
        if (p.data && p.size < 2) return false;
        v = getU16(p.data);
        return true;
    }
    if (p.type == 4 || p.type == 9 || p.type == 13) {
        if (p.data && p.size < 4) return false;
        v = getU32(p.data);
        return true;
    }
    return false;
}
bool cTiffGeneric::getValsU32(const sTagProcessParam& p, _typebuf<unsigned int>& v) const {
    if (p.size < 0 || (!p.data && p.size > 0)) return false;
    if (p.type == 4) {
        getDataU32(p.data, p.size, v);
        return true;
    }
    if (p.type == 3 || p.type == 16) {
        int es = p.type == 3 ? 2 : 8;
        long long n = p.size / es;
        v.clear();
        if (n && !v.set(n)) return false;
        for (long long i = 0; i < n; i++) {
            const unsigned char* q = (const unsigned char*)p.data + es * i;
            v.ptr[i] = p.type == 3 ? getU16(q) : (unsigned int)getU64(q);
        }
        return true;
    }
    return false;
}
bool cTiffGeneric::getValI16(const sTagProcessParam& p, short& v) const {
    if (p.type != 8 || (p.data && p.size < 2)) return false;
    v = getInt16(p.data);
    return true;
}
bool cTiffGeneric::getValsI16(const sTagProcessParam& p, _typebuf<short>& v) const {
    if (p.type != 8 || p.size < 0 || (!p.data && p.size > 0)) return false;
    getDataInt16(p.data, p.size, v);
    return true;
}
bool cTiffGeneric::getValI32(const sTagProcessParam& p, int& v) const {
    if (p.type == 9) {
        if (p.data && p.size < 4) return false;
        v = getInt32(p.data);
        return true;
    }
    if (p.type == 8) {
        if (p.data && p.size < 2) return false;
        v = getInt16(p.data);
        return true;
    }
    return false;
}
bool cTiffGeneric::getValsI32(const sTagProcessParam& p, _typebuf<int>& v) const {
    if (p.size < 0 || (!p.data && p.size > 0)) return false;
    if (p.type == 9) {
        getDataInt32(p.data, p.size, v);
        return true;
    }
    if (p.type == 8) {
        long long n = p.size / 2;
        v.clear();
        if (n && !v.set(n)) return false;
        for (long long i = 0; i < n; i++) v.ptr[i] = getInt16((const unsigned char*)p.data + 2 * i);
        return true;
    }
    return false;
}
bool cTiffGeneric::getValRational(const sTagProcessParam& p, sRational& v) const {
    if (p.type != 5 || (p.data && p.size < 8)) return false;
    v.num = getU32(p.data);
    v.den = p.data ? getU32((const unsigned char*)p.data + 4) : 0;
    return true;
}
bool cTiffGeneric::getValsRational(const sTagProcessParam& p, _typebuf<sRational>& v) const {
    if (p.type != 5 || p.size < 0 || (!p.data && p.size > 0)) return false;
    getDataRational(p.data, p.size, v);
    return true;
}
bool cTiffGeneric::getValSRational(const sTagProcessParam& p, sSignedRational& v) const {
    if (p.type != 10 || (p.data && p.size < 8)) return false;
    v.num = getInt32(p.data);
    v.den = p.data ? getInt32((const unsigned char*)p.data + 4) : 0;
    return true;
}
bool cTiffGeneric::getValsSRational(const sTagProcessParam& p, _typebuf<sSignedRational>& v) const {
    if (p.type != 10 || p.size < 0 || (!p.data && p.size > 0)) return false;
    getDataSRational(p.data, p.size, v);
    return true;
}
bool cTiffGeneric::getValDouble(const sTagProcessParam& p, double& v) const {
    if ((p.type != 5 && p.type != 10) || (p.data && p.size < 8)) return false;
    v = p.type == 5 ? getFloat(p.data) : getFloatSig(p.data);
    return true;
}
bool cTiffGeneric::getValsDouble(const sTagProcessParam& p, _typebuf<double>& v) const {
    if ((p.type != 5 && p.type != 10) || p.size < 0 || (!p.data && p.size > 0)) return false;
    if (p.type == 5)
        getDataRational(p.data, p.size, v);
    else
        getDataSRational(p.data, p.size, v);
    return true;
}

bool cTiffGeneric::getDate(const char* text, int length, sTimestamp& out) {
    if (!text || (length != 19 && length != 10)) return false;
    char b[20];
    memcpy(b, text, (size_t)length);
    b[length] = 0;
    b[4] = b[7] = '-';
    int y, mo, d, h = 0, mi = 0, s = 0;
    if (length == 19) {
        b[10] = b[13] = b[16] = '-';
        if (sscanf(b, "%04d-%02d-%02d-%02d-%02d-%02d", &y, &mo, &d, &h, &mi, &s) != 6) return false;
    } else if (sscanf(b, "%04d-%02d-%02d", &y, &mo, &d) != 3) {
        return false;
    }
    if (y < 1900 || y > 2100 || mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59 ||
        s < 0 || s > 59)
        return false;
    out.year = (unsigned short)y;
    out.month = (unsigned char)mo;
    out.day = (unsigned char)d;
    out.hour = (unsigned char)h;
    out.minute = (unsigned char)mi;
    out.second = (unsigned char)s;
    return true;
}

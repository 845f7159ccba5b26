// LZW decoding (TIFF 6.0 section 13): a 4096-entry string table kept as prefix links.
#include "compression/lzwdecompress.h"

#include <cstring>

namespace {

const int kMaxBits = 12;
const int kTableSize = 1 << kMaxBits;

struct sLzwTable {
    unsigned short prefix[kTableSize];
    unsigned char suffix[kTableSize];
    unsigned char first[kTableSize];
    unsigned short length[kTableSize];
};

// Reads codes of a given width from a byte buffer, high or low bit first.
class cCodeReader {
public:
    cCodeReader(const unsigned char* data, long long size, bool msbFirst)
        : myData(data), mySize(size), myPos(0), myAcc(0), myBits(0), myMsb(msbFirst) {}

    // False when fewer than `width` bits remain.
    bool next(int width, unsigned& code) {
        while (myBits < width) {
            if (myPos >= mySize) return false;
            unsigned long long b = myData[myPos++];
            if (myMsb)
                myAcc = (myAcc << 8) | b;
            else
                myAcc |= b << myBits;
            myBits += 8;
        }
        if (myMsb) {
            code = (unsigned)(myAcc >> (myBits - width)) & ((1u << width) - 1);
        } else {
            code = (unsigned)myAcc & ((1u << width) - 1);
            myAcc >>= width;
        }
        myBits -= width;
        if (myMsb) myAcc &= (1ULL << myBits) - 1;
        return true;
    }

private:
    const unsigned char* myData;
    long long mySize;
    long long myPos;
    unsigned long long myAcc;
    int myBits;
    bool myMsb;
};

long long minll(long long a, long long b) { return a < b ? a : b; }

}  // namespace

cLZWDecompress::cLZWDecompress(bool msbFirst, int initialBits, bool earlyChange)
    : myMsbFirst(msbFirst), myInitialBits(initialBits), myEarlyChange(earlyChange) {}

bool cLZWDecompress::decompress(const _typebuf<unsigned char>& in, _typebuf<unsigned char>& out, long long maxOut,
                                long long expected) {
    return decompress(in.ptr, in.count, out, maxOut, expected);
}

bool cLZWDecompress::decompress(const unsigned char* data, long long size, _typebuf<unsigned char>& out,
                                long long maxOut, long long expected) {
    out.clear();
    if (!data || size <= 0 || maxOut < 0 || myInitialBits < 3 || myInitialBits > kMaxBits) return false;
    if (expected > maxOut) return false;
    if (expected == 0) return true;
    bool msb = myMsbFirst, early = myEarlyChange;
    // Old TIFF LZW starts with the clear code written low bit first: 00 01 (or 00 03 ...);
    // the TIFF 6.0 form starts with 80.
    if (msb && myInitialBits == 9 && size >= 2 && data[0] == 0 && (data[1] & 1)) {
        msb = false;
        early = false;
    }
    const unsigned clearCode = 1u << (myInitialBits - 1), endCode = clearCode + 1;
    const long long limit = expected >= 0 ? expected : maxOut;

    sLzwTable* t = (sLzwTable*)malloc(sizeof(sLzwTable));
    if (!t) return false;
    for (unsigned c = 0; c < clearCode; c++) {
        t->prefix[c] = 0;
        t->suffix[c] = (unsigned char)c;
        t->first[c] = (unsigned char)c;
        t->length[c] = 1;
    }

    _typebuf<unsigned char> buf;
    long long made = 0;
    cCodeReader reader(data, size, msb);
    unsigned next = endCode + 1;
    int width = myInitialBits;
    int old = -1;
    bool ok = false;
    for (;;) {
        unsigned code;
        if (!reader.next(width, code)) break;  // data ended without an end code
        if (code == clearCode) {
            next = endCode + 1;
            width = myInitialBits;
            old = -1;
            continue;
        }
        if (code == endCode) {
            ok = expected < 0 || made == expected;
            break;
        }
        // A code may name an entry that exists or, when a previous code is known, the
        // one about to be made (the string of old plus its own first byte).
        if (code > next || (code == next && (old < 0 || next >= (unsigned)kTableSize))) break;
        if (old < 0 && code >= clearCode) break;
        if (old >= 0 && next < (unsigned)kTableSize) {
            t->prefix[next] = (unsigned short)old;
            t->first[next] = t->first[old];
            t->suffix[next] = code == next ? t->first[old] : t->first[code];
            t->length[next] = (unsigned short)(t->length[old] + 1);
            next++;
            if (width < kMaxBits && next + (early ? 1u : 0u) >= (1u << width)) width++;
        }
        old = (int)code;

        long long len = t->length[code];
        if (made + len > buf.count) {
            if (made + len > limit) {
                if (expected < 0) break;  // past the cap
                len = limit - made;       // the expected size ends inside this string
            }
            long long want = made == 0 ? minll(size, 1LL << 28) * 4 : made + made / 2;
            if (want < made + 65536) want = made + 65536;
            want = minll(want, limit);
            if (want < made + len) want = made + len;
            if (want > buf.count && !buf.reset(want)) break;
        }
        // Strings are linked back to front: write from the end.
        unsigned c = code;
        long long full = t->length[code];
        unsigned char* dst = buf.ptr + made;
        for (long long i = full - 1; i >= 0; i--) {
            if (i < len) dst[i] = t->suffix[c];
            c = t->prefix[c];
        }
        made += len;
        if (expected >= 0 && made == expected) {
            ok = true;
            break;
        }
    }
    free(t);
    if (!ok) return false;
    if (made == 0) {
        buf.clear();
    } else if (made < buf.count && !buf.reset(made)) {
        return false;
    }
    out.swap(buf);
    return true;
}

// LZW decoding (TIFF 6.0 section 13): a 4096-entry string table whose strings are copied
// from the output written so far.
#include "compression/lzwdecompress.h"

#include <cstring>

namespace {

const int kMaxBits = 12;
const int kTableSize = 1 << kMaxBits;

// An entry's string always lies whole in the output already (the previous string plus the
// first byte of the one after it), so the table keeps only where and how long it is.
struct sLzwTable {
    long long offset[kTableSize];
    unsigned short length[kTableSize];
};

// Reads codes of a given width from a byte buffer, high or low bit first. The accumulator
// is refilled a byte at a time up to 57 bits, so most codes need no refill at all.
template <bool Msb>
class cCodeReader {
public:
    cCodeReader(const unsigned char* data, long long size) : myData(data), mySize(size) {}

    // False when fewer than `width` bits remain.
    bool next(int width, unsigned& code) {
        if (myBits < width) {
            while (myBits <= 56 && myPos < mySize) {
                unsigned long long b = myData[myPos++];
                myAcc |= Msb ? b << (56 - myBits) : b << myBits;
                myBits += 8;
            }
            if (myBits < width) return false;
        }
        if (Msb) {
            code = (unsigned)(myAcc >> (64 - width));
            myAcc <<= width;
        } else {
            code = (unsigned)myAcc & ((1u << width) - 1);
            myAcc >>= width;
        }
        myBits -= width;
        return true;
    }

private:
    const unsigned char* myData;
    long long mySize;
    long long myPos = 0;
    unsigned long long myAcc = 0;  // Msb: the next bit is bit 63; else bit 0
    int myBits = 0;
};

long long minll(long long a, long long b) { return a < b ? a : b; }


// The decoding loop, one instance per bit order. The string of a code is copied from where
// it was written before; `made` counts the bytes written into buf.
template <bool Msb>
bool runCodes(const unsigned char* data, long long size, int initialBits, bool early, long long limit,
              long long expected, sLzwTable* t, _typebuf<unsigned char>& buf, long long& madeOut) {
    cCodeReader<Msb> reader(data, size);
    const unsigned clearCode = 1u << (initialBits - 1), endCode = clearCode + 1;
    unsigned next = endCode + 1;
    int width = initialBits;
    int old = -1;
    long long oldPos = 0, oldLen = 0;  // where the previous code's string was written
    // Locals, not the buffer's fields: the byte stores below could alias those.
    unsigned char* out = buf.ptr;
    long long cap = buf.count, made = 0;
    bool ok = false;
    for (;;) {
        unsigned code;
        if (!reader.next(width, code)) break;  // data ended without an end code
        if (code == clearCode) {
            next = endCode + 1;
            width = initialBits;
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
            t->offset[next] = oldPos;
            t->length[next] = (unsigned short)(oldLen + 1);
            next++;
            if (width < kMaxBits && next + (early ? 1u : 0u) >= (1u << width)) width++;
        }
        old = (int)code;

        long long len = code < clearCode ? 1 : t->length[code];
        const long long full = len;
        if (made + len > cap) {
            if (made + len > limit) {
                if (expected < 0) break;  // past the cap
                len = limit - made;       // the expected size ends inside this string
            }
            long long want = made == 0 ? minll(size, 1LL << 28) * 4 : made + made / 2;
            if (want < made + 65536) want = made + 65536;
            want = minll(want, limit);
            if (want < made + len) want = made + len;
            if (want > cap) {
                if (!buf.reset(want)) break;
                out = buf.ptr;
                cap = buf.count;
            }
        }
        unsigned char* dst = out + made;
        if (code < clearCode) {
            dst[0] = (unsigned char)code;
        } else {
            // Forward, byte by byte when the string overlaps its own copy (the code just made).
            const unsigned char* src = out + t->offset[code];
            if (src + len <= dst) {
                if (len <= 8 && made + 8 <= cap && src + 8 <= dst)
                    memcpy(dst, src, 8);  // one move; the bytes past len are written over next
                else
                    memcpy(dst, src, (size_t)len);
            } else {
                for (long long i = 0; i < len; i++) dst[i] = src[i];
            }
        }
        oldPos = made;
        oldLen = full;
        made += len;
        if (expected >= 0 && made == expected) {
            ok = true;
            break;
        }
    }
    madeOut = made;
    return ok;
}

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
    const long long limit = expected >= 0 ? expected : maxOut;

    sLzwTable* t = (sLzwTable*)malloc(sizeof(sLzwTable));
    if (!t) return false;

    _typebuf<unsigned char> buf;
    long long made = 0;
    bool ok = msb ? runCodes<true>(data, size, myInitialBits, early, limit, expected, t, buf, made)
                  : runCodes<false>(data, size, myInitialBits, early, limit, expected, t, buf, made);
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

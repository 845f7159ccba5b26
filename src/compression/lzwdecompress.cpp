// LZW decoding (TIFF 6.0 section 13): a 4096-entry string table whose strings are copied
// whole from the output written so far.
#include "compression/lzwdecompress.h"

#include <cstring>

namespace {

const int kMaxBits = 12;
const int kTableSize = 1 << kMaxBits;
// Strings of up to this many bytes are moved in one 16-byte load and store; the output keeps
// that much room past the bytes it may hold, so such a move never leaves the buffer.
const long long kShortMove = 16;

long long minll(long long a, long long b) { return a < b ? a : b; }

// Eight stream bytes as one word whose first byte is the high end (Msb) or the low end.
template <bool Msb>
inline unsigned long long load8(const unsigned char* p) {
    unsigned long long v;
    memcpy(&v, p, 8);
    const bool hostLittle = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
    return Msb == hostLittle ? __builtin_bswap64(v) : v;
}

// The strings of the codes below the clear code: every byte value once, and 16 bytes more for
// a 16-byte move from the last. They sit in the output buffer past its room for output
// (and past the slack of a move), so that every code's string is read from one buffer.
const long long kLiteralBytes = 256 + kShortMove;

// Sizes the buffer for `room` bytes of output and puts the literals behind them.
bool growOutput(_typebuf<unsigned char>& buf, long long room, unsigned clearCode, unsigned long long* tab) {
    if (!buf.reset(room + kShortMove + kLiteralBytes)) return false;
    const long long at = room + kShortMove;
    for (long long i = 0; i < kLiteralBytes; i++) buf.ptr[at + i] = (unsigned char)i;
    // Wider literal codes (initial widths past 9 bits) stand for their low byte.
    for (unsigned c = 0; c < clearCode; c++) tab[c] = (unsigned long long)(at + (c & 255)) << 16 | 1;
    return true;
}

// The table size at which codes grow past `width` bits (never past kMaxBits).
template <bool Early>
unsigned widenAt(int width) {
    return width < kMaxBits ? (1u << width) - (Early ? 1u : 0u) : ~0u;
}

// The decoding loop, one instance per bit order and width rule.
// An entry's string always lies whole in the output already (the previous code's string
// plus the first byte of the one after it), so the table keeps only where it starts and how
// long it is, packed as position << 16 | length (a string is shorter than 4096 bytes); the codes
// below the clear code point at the literals, and the clear and end codes have length 0.
// `oldEnt` is the previous code's string in that form; the entry made from it is oldEnt + 1.
// The first code after a clear makes no entry: it writes 0x10000 (length 0 still) over the
// end code's slot instead, so no code needs to ask whether it is the first.
// Every code takes the same steps, byte or string, so noisy data (mostly single bytes and
// short strings) costs no mispredicted branches. Bits of the code stream sit in `acc` (Msb:
// the next bit is bit 63, else bit 0); one refill brings at least 56, enough for four codes.
template <bool Msb, bool Early>
__attribute__((noinline)) bool runCodes(const unsigned char* data, long long size, int initialBits, long long limit,
                                        long long expected, unsigned long long* tab, _typebuf<unsigned char>& buf,
                                        long long& madeOut) {
    const unsigned char* p = data;
    const unsigned char* const pend = data + size;
    const unsigned char* const pfast = size >= 8 ? pend - 7 : data;  // 8-byte loads below here
    unsigned long long acc = 0;
    int bits = 0;
    const unsigned clearCode = 1u << (initialBits - 1), endCode = clearCode + 1;
    for (unsigned c = 0; c < clearCode; c++) tab[c] = 1;  // placed with the first output
    tab[clearCode] = tab[endCode] = 0;
    const unsigned long long kAfterClear = 0xFFFF;
    unsigned next = endCode;
    int width = initialBits;
    unsigned widen = widenAt<Early>(width);
    unsigned long long oldEnt = kAfterClear;
    // Locals, not the buffer's fields: the byte stores below could alias those. Strings are
    // written while made + length <= room; past it the buffer grows or the limit is reached.
    unsigned char* out = nullptr;
    long long made = 0, room = 0;
    bool ok = false;
    for (;;) {
        int batch;
        if (__builtin_expect(p < pfast, 1)) {
            // The bytes past the whole ones taken are loaded again next time, to the same bits.
            const unsigned long long w = load8<Msb>(p);
            acc |= Msb ? w >> bits : w << bits;
            p += 7 - (bits >> 3);
            bits |= 56;
            batch = 4;
        } else {
            while (bits <= 56 && p < pend) {
                const unsigned long long b = *p++;
                acc |= Msb ? b << (56 - bits) : b << bits;
                bits += 8;
            }
            if (bits < width) break;  // data ended without an end code
            batch = 1;
        }
        for (; batch > 0; batch--) {
            unsigned code;
            if (Msb) {
                code = (unsigned)(acc >> (64 - width));
                acc <<= width;
            } else {
                code = (unsigned)acc & ((1u << width) - 1);
                acc >>= width;
            }
            bits -= width;

            // Every code makes an entry: the previous string plus the first byte of this one.
            // For a clear code it is undone below; after an end or a bad code it is never read.
            if (__builtin_expect(next < (unsigned)kTableSize, 1)) {
                tab[next++] = oldEnt + 1;
                if (__builtin_expect(next >= widen, 0)) widen = widenAt<Early>(++width);
            }

            // A code names a byte, an entry that exists, or the one just made (the previous
            // string plus its own first byte); after a clear no entry exists yet.
            if (__builtin_expect(code >= next, 0)) goto done;  // beyond the table
            unsigned long long ent = tab[code];
            long long len = (long long)(ent & 0xFFFF);
            if (__builtin_expect(len == 0, 0)) {
                if (code == endCode) {
                    ok = expected < 0;
                    goto done;
                }
                next = endCode;
                width = initialBits;
                widen = widenAt<Early>(width);
                oldEnt = kAfterClear;
                continue;
            }

            if (__builtin_expect(made + len > room, 0)) {
                if (made + len > limit && expected < 0) goto done;  // past the cap
                const long long need = minll(made + len, limit);
                if (need > room) {
                    long long want = made == 0 ? minll(size, 1LL << 28) * 4 : made + made / 2;
                    if (want < made + 65536) want = made + 65536;
                    want = minll(want, limit);
                    if (want < need) want = need;
                    if (!growOutput(buf, want, clearCode, tab)) goto done;
                    out = buf.ptr;
                    room = want;
                    ent = tab[code];
                }
                if (made + len > limit) {
                    // The expected size ends inside this string: its first bytes, forward one
                    // by one (the entry just made overlaps its own copy).
                    const unsigned char* src = out + (ent >> 16);
                    unsigned char* dst = out + made;
                    for (long long i = 0; i < limit - made; i++) dst[i] = src[i];
                    made = limit;
                    ok = true;
                    goto done;
                }
            }
            // All but the last byte lie before dst, even for the entry just made, whose last
            // byte is its own first one: written after the others, src[len - 1] then holds it.
            const unsigned char* src = out + (ent >> 16);
            unsigned char* dst = out + made;
            if (__builtin_expect(len <= kShortMove, 1)) {
                unsigned char t[kShortMove];
                memcpy(t, src, kShortMove);
                memcpy(dst, t, kShortMove);
            } else {
                memcpy(dst, src, (size_t)(len - 1));
            }
            dst[len - 1] = src[len - 1];
            oldEnt = (unsigned long long)made << 16 | (unsigned long long)len;
            made += len;
        }
    }
done:
    // With an expected size, the stream may stop (or go bad) once the size is made.
    if (!ok && expected >= 0 && made == expected) ok = true;
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
    // A string's position is kept in 48 bits; no buffer comes near that.
    const long long limit = minll(expected >= 0 ? expected : maxOut, 1LL << 47);
    if (expected > limit) return false;

    unsigned long long* t = (unsigned long long*)malloc(sizeof(unsigned long long) * kTableSize);
    if (!t) return false;

    _typebuf<unsigned char> buf;
    long long made = 0;
    bool ok = msb ? (early ? runCodes<true, true>(data, size, myInitialBits, limit, expected, t, buf, made)
                           : runCodes<true, false>(data, size, myInitialBits, limit, expected, t, buf, made))
                  : (early ? runCodes<false, true>(data, size, myInitialBits, limit, expected, t, buf, made)
                           : runCodes<false, false>(data, size, myInitialBits, limit, expected, t, buf, made));
    free(t);
    if (!ok) return false;
    if (made == 0) {
        buf.clear();
    } else if (buf.count - made > kShortMove + kLiteralBytes) {
        if (!buf.reset(made)) return false;
    } else {
        // Only the slack and the literals follow: kept, rather than split off a block that
        // is about to be freed whole.
        out.attach(buf.dettach(), made);
        return true;
    }
    out.swap(buf);
    return true;
}

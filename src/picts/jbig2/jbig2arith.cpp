// Generic region decoding (T.88 6.2.5). Every template's context is the fixed neighbourhood
// of T.88 Figures 3-6, numbered so that the pixels of each row above form one bit field; a
// row is decoded into a padded byte-per-pixel line, so the fields shift along without bounds
// checks, and packed into the bitmap when it is done. Adaptive pixels away from their nominal
// places are read one at a time through bounds-checked lookups.
#include "picts/jbig2/jbig2arith.h"

#include <cstdint>
#include <cstring>

#include "picts/mqdecoder.h"
#include "picts/sizecheck.h"

namespace {

// Per template: bits of the current row, then of the rows above: the lead pixel (offset from
// x of the field's bit 0), width and place in the context of each field; the AT pixels'
// context bits and nominal places; the fixed context of the TPGDON bit (T.88 Figures 8-11).
struct sTemplate {
    unsigned int mask0;
    int lead1, bits1, shift1;
    int lead2, bits2, shift2;
    int atCount;
    int atBit[4];
    signed char nominal[8];
    unsigned int tpgdonContext;
    int contextBits;
};

constexpr sTemplate kTemplates[4] = {
    {0xF, 3, 7, 4, 2, 5, 11, 4, {4, 10, 11, 15}, {3, -1, -3, -1, 2, -2, -2, -2}, 0x9B25, 16},
    {0x7, 3, 6, 3, 2, 4, 9, 1, {3}, {3, -1}, 0x0795, 13},
    {0x3, 2, 5, 2, 1, 3, 7, 1, {2}, {2, -1}, 0x00E5, 10},
    {0xF, 2, 6, 4, 0, 0, 0, 1, {4}, {2, -1}, 0x0195, 10},
};

const int kPad = 8;  // zero pixels on each side of a line: the fields reach at most 4 away

struct sLines {
    unsigned char* cur;
    unsigned char* up1;
    unsigned char* up2;
};

// Pixel (x, y) of the region decoded so far; 0 outside it.
inline unsigned int pixelAt(const unsigned char* bitmap, long long stride, long long width, long long x,
                            long long y) {
    if (x < 0 || y < 0 || x >= width) return 0;
    return (bitmap[y * stride + (x >> 3)] >> (7 - (x & 7))) & 1;
}

// From pixel x (whose context is all white), how many pixels x, x + 1, ... before `end` keep
// the all-white context when decoded white: one more for each following place where both pixels
// entering from the rows above (a[i] and b[i], entering after pixel i) are white.
inline long long whiteAhead(const unsigned char* a, const unsigned char* b, long long x, long long end) {
    long long i = x;
    for (; i + 8 < end; i += 8) {
        uint64_t u, v;
        memcpy(&u, a + i, 8);
        memcpy(&v, b + i, 8);
        if (u | v) break;
    }
    while (i + 1 < end && !(a[i] | b[i])) i++;
    return i + 1 - x;
}

// One row with context fields shifted along it; `adaptive` reads the AT pixels where the
// header puts them instead of their nominal places. The coder works on a local copy, which the
// compiler can keep in registers (stores to the byte arrays could alias its members).
template <int T, bool adaptive>
void decodeRow(cMQDecoder& coder, unsigned int* contexts, const signed char* at, const sLines& l,
               const unsigned char* bitmap, long long stride, long long width, long long y) {
    constexpr sTemplate t = kTemplates[T];
    // The whole context moves one place up per pixel; the fields then take their new pixels
    // at their lowest bits (the current row at bit 0).
    constexpr unsigned int all = (1u << t.contextBits) - 1;
    constexpr unsigned int kept = all & ~(1u | 1u << t.shift1 | (t.bits2 ? 1u << t.shift2 : 0u));
    unsigned int atMask = 0;
    if (adaptive)
        for (int k = 0; k < t.atCount; k++) atMask |= 1u << t.atBit[k];
    unsigned int r1 = 0, r2 = 0;
    for (int k = t.lead1 - t.bits1 + 1; k <= t.lead1; k++) r1 = (r1 << 1) | l.up1[k];
    for (int k = t.lead2 - t.bits2 + 1; k <= t.lead2 && t.bits2; k++) r2 = (r2 << 1) | l.up2[k];
    unsigned int ctx = r1 << t.shift1 | r2 << t.shift2;
    const unsigned char* n1 = l.up1 + 1 + t.lead1;
    const unsigned char* n2 = l.up2 + 1 + t.lead2;
    unsigned char* cur = l.cur;
    cMQDecoder mq = coder;
    long long x = 0;
    while (x < width) {
        // In white surroundings (context 0, white its MPS) the pixels keep context 0 as long as
        // the pixels entering from the rows above are white: as many of them as the coder can
        // tell are white go at once.
        if (!adaptive && ctx == 0 && !(contexts[0] >> 23)) {
            const long long most = mq.mpsAhead(contexts[0]);
            const long long run = most ? whiteAhead(n1, t.bits2 ? n2 : n1, x, x + most < width ? x + most : width) : 0;
            if (run) {
                mq.takeMps(contexts[0], (unsigned int)run);
                memset(cur + x, 0, (size_t)run);
                x += run;
                ctx = (unsigned int)n1[x - 1] << t.shift1;
                if (t.bits2) ctx |= (unsigned int)n2[x - 1] << t.shift2;
                continue;
            }
        }
        // Pixel by pixel up to the next all-white context (at least one pixel).
        do {
            unsigned int c = ctx;
            if (adaptive) {
                c &= ~atMask;
                for (int k = 0; k < t.atCount; k++) {
                    const long long ax = x + at[2 * k], dy = at[2 * k + 1];
                    unsigned int v;
                    if (dy == 0)
                        v = ax >= 0 ? cur[ax] : 0;
                    else if (dy == -1)
                        v = ax >= 0 && ax < width ? l.up1[ax] : 0;
                    else if (dy == -2)
                        v = ax >= 0 && ax < width ? l.up2[ax] : 0;
                    else
                        v = pixelAt(bitmap, stride, width, ax, y + dy);
                    c |= v << t.atBit[k];
                }
            }
            const unsigned int v = (unsigned int)mq.decode(contexts[c]);
            cur[x] = (unsigned char)v;
            ctx = ((ctx << 1) & kept) | v | (unsigned int)n1[x] << t.shift1;
            if (t.bits2) ctx |= (unsigned int)n2[x] << t.shift2;
            x++;
        } while (x < width && (adaptive || ctx != 0));
    }
    coder = mq;
}

typedef void (*tRowDecoder)(cMQDecoder&, unsigned int*, const signed char*, const sLines&, const unsigned char*,
                            long long, long long, long long);
const tRowDecoder kRowDecoders[4][2] = {
    {decodeRow<0, false>, decodeRow<0, true>},
    {decodeRow<1, false>, decodeRow<1, true>},
    {decodeRow<2, false>, decodeRow<2, true>},
    {decodeRow<3, false>, decodeRow<3, true>},
};

// Eight pixels of a line (bytes 0 or 1, leftmost first) into one byte, leftmost in the most
// significant bit: one multiply gathers the eight low bits of a little-endian word.
inline unsigned int packEight(const unsigned char* line) {
    uint64_t v;
    memcpy(&v, line, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    return (unsigned int)((v * 0x8040201008040201ull) >> 56);
}

void packRow(const unsigned char* line, long long width, unsigned char* out) {
    long long x = 0;
    for (; x + 8 <= width; x += 8, line += 8) *out++ = (unsigned char)packEight(line);
    if (x < width) {
        unsigned int b = 0;
        for (int k = 0; x + k < width; k++) b |= (unsigned int)line[k] << (7 - k);
        *out = (unsigned char)b;
    }
}

}  // namespace

bool cJbig2Arith::sizeAllowed(unsigned int width, unsigned int height) {
    long long bytes;
    return checkedImageBytes(width, height, 1, bytes);
}

bool cJbig2Arith::decode(const sJB2GenRegion& region, const unsigned char* data, long long size,
                         _typebuf<unsigned char>& bitmap) {
    if (region.flags & 0x11) return false;  // MMR or the extended template: not decoded here
    const long long width = region.width, height = region.height;
    if (!sizeAllowed(region.width, region.height)) return false;
    const sTemplate& t = kTemplates[region.gbTemplate()];
    // T.88 6.2.5.4: an AT pixel must lie where pixels are already decoded.
    bool adaptive = false;
    for (int k = 0; k < t.atCount; k++) {
        const int ax = region.at[2 * k], ay = region.at[2 * k + 1];
        if (ay > 0 || (ay == 0 && ax >= 0)) return false;
        if (ax != t.nominal[2 * k] || ay != t.nominal[2 * k + 1]) adaptive = true;
    }
    const long long stride = (width + 7) / 8;
    _typebuf<unsigned int> contexts;
    _typebuf<unsigned char> lines;
    if (!bitmap.set(stride * height) || !contexts.set(1LL << t.contextBits) || !lines.set(3 * (width + 2 * kPad)))
        return false;
    for (long long i = 0; i < contexts.count; i++) contexts.ptr[i] = cMQDecoder::kContextStart;
    lines.zero();
    sLines l = {lines.ptr + kPad, lines.ptr + (width + 2 * kPad) + kPad, lines.ptr + 2 * (width + 2 * kPad) + kPad};
    cMQDecoder mq;
    mq.init(data, size);
    const tRowDecoder rowDecoder = kRowDecoders[region.gbTemplate()][adaptive ? 1 : 0];
    const bool tpgdon = (region.flags & 0x08) != 0;
    int ltp = 0;
    for (long long y = 0; y < height; y++) {
        // T.88 6.2.5.7: a typical row repeats the one above (row 0: white).
        if (tpgdon) ltp ^= mq.decode(contexts.ptr[t.tpgdonContext]);
        // Every row of the bitmap is written here: a typical row as a copy of the packed row above.
        unsigned char* out = bitmap.ptr + y * stride;
        if (ltp) {
            memcpy(l.cur, l.up1, (size_t)width);
            if (y)
                memcpy(out, out - stride, (size_t)stride);
            else
                memset(out, 0, (size_t)stride);
        } else {
            rowDecoder(mq, contexts.ptr, region.at, l, bitmap.ptr, stride, width, y);
            packRow(l.cur, width, out);
        }
        unsigned char* oldest = l.up2;
        l.up2 = l.up1;
        l.up1 = l.cur;
        l.cur = oldest;
    }
    return true;
}

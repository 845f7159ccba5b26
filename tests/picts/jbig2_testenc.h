// A plain JBIG2 writer for the decoder's tests and benchmark: the T.88 Annex E MQ encoder,
// generic-region contexts read pixel by pixel from the bitmap (T.88 6.2.5), segments and the
// file header (7.2, Annex D). Written from the standard, independently of the decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace jbig2test {

// --- MQ encoder (T.88 E.2) ---
struct Qe {
    unsigned qe, nmps, nlps, sw;
};
const Qe kTable[47] = {
    {0x5601, 1, 1, 1},   {0x3401, 2, 6, 0},   {0x1801, 3, 9, 0},   {0x0AC1, 4, 12, 0},  {0x0521, 5, 29, 0},
    {0x0221, 38, 33, 0}, {0x5601, 7, 6, 1},   {0x5401, 8, 14, 0},  {0x4801, 9, 14, 0},  {0x3801, 10, 14, 0},
    {0x3001, 11, 17, 0}, {0x2401, 12, 18, 0}, {0x1C01, 13, 20, 0}, {0x1601, 29, 21, 0}, {0x5601, 15, 14, 1},
    {0x5401, 16, 14, 0}, {0x5101, 17, 15, 0}, {0x4801, 18, 16, 0}, {0x3801, 19, 17, 0}, {0x3401, 20, 18, 0},
    {0x3001, 21, 19, 0}, {0x2801, 22, 19, 0}, {0x2401, 23, 20, 0}, {0x2201, 24, 21, 0}, {0x1C01, 25, 22, 0},
    {0x1801, 26, 23, 0}, {0x1601, 27, 24, 0}, {0x1401, 28, 25, 0}, {0x1201, 29, 26, 0}, {0x1101, 30, 27, 0},
    {0x0AC1, 31, 28, 0}, {0x09C1, 32, 29, 0}, {0x08A1, 33, 30, 0}, {0x0521, 34, 31, 0}, {0x0441, 35, 32, 0},
    {0x02A1, 36, 33, 0}, {0x0221, 37, 34, 0}, {0x0141, 38, 35, 0}, {0x0111, 39, 36, 0}, {0x0085, 40, 37, 0},
    {0x0049, 41, 38, 0}, {0x0025, 42, 39, 0}, {0x0015, 43, 40, 0}, {0x0009, 44, 41, 0}, {0x0005, 45, 42, 0},
    {0x0001, 45, 43, 0}, {0x5601, 46, 46, 0},
};

class MQEncoder {
public:
    struct Ctx {
        unsigned index = 0, mps = 0;
    };
    MQEncoder() : out(1, 0) {}
    void encode(Ctx& cx, unsigned d) {
        const Qe& q = kTable[cx.index];
        a -= q.qe;
        if (d == cx.mps) {  // CODEMPS
            if (a & 0x8000) {
                c += q.qe;
                return;
            }
            if (a < q.qe)
                a = q.qe;
            else
                c += q.qe;
            cx.index = q.nmps;
        } else {  // CODELPS
            if (a < q.qe)
                c += q.qe;
            else
                a = q.qe;
            if (q.sw) cx.mps ^= 1;
            cx.index = q.nlps;
        }
        do {  // RENORME
            a <<= 1;
            c <<= 1;
            if (--ct == 0) byteOut();
        } while (!(a & 0x8000));
    }
    // FLUSH (E.2.9) with the closing 0xFF 0xAC; the coded bytes.
    std::vector<unsigned char> finish() {
        uint32_t temp = c + a;
        c |= 0xFFFF;
        if (c >= temp) c -= 0x8000;
        c <<= ct;
        byteOut();
        c <<= ct;
        byteOut();
        if (out.back() != 0xFF) out.push_back(0xFF);
        out.push_back(0xAC);
        return std::vector<unsigned char>(out.begin() + 1, out.end());
    }

private:
    void byteOut() {
        if (out.back() == 0xFF) {
            out.push_back((unsigned char)(c >> 20));
            c &= 0xFFFFF;
            ct = 7;
        } else if (c < 0x8000000) {
            out.push_back((unsigned char)(c >> 19));
            c &= 0x7FFFF;
            ct = 8;
        } else {
            out.back()++;
            if (out.back() == 0xFF) {
                c &= 0x7FFFFFF;
                out.push_back((unsigned char)(c >> 20));
                c &= 0xFFFFF;
                ct = 7;
            } else {
                out.push_back((unsigned char)(c >> 19));
                c &= 0x7FFFF;
                ct = 8;
            }
        }
    }
    std::vector<unsigned char> out;  // out[0] stands for the byte before the stream
    uint32_t c = 0, a = 0x8000;
    int ct = 12;
};

// --- bitmaps and the generic region encoder (T.88 6.2.5) ---
struct Bitmap {
    int w = 0, h = 0;
    std::vector<uint8_t> px;  // one byte per pixel, 1 = black
    int at(int x, int y) const { return x < 0 || y < 0 || x >= w || y >= h ? 0 : px[(size_t)y * w + x]; }
};

// Text-like: a few dark blocks, strokes, noise, and runs of blank (typical) rows.
inline Bitmap sample(int w, int h, unsigned seed) {
    Bitmap b;
    b.w = w, b.h = h;
    b.px.assign((size_t)w * h, 0);
    uint32_t state = seed * 2654435761u + 1;
    for (int y = 0; y < h; y++) {
        if ((y / 7) % 3 == 2) continue;  // blank rows
        for (int x = 0; x < w; x++) {
            bool stroke = ((x / 3 + y / 5) % 7 == 0) || ((x * 7 + y * 3) % 23 < 2);
            bool block = x > w / 4 && x < w / 3 && y > h / 5 && y < h / 2;
            state = state * 1103515245u + 12345u;
            b.px[(size_t)y * w + x] = (uint8_t)(stroke || block || (state >> 24) < 12);
        }
    }
    return b;
}

// A sparse printed page: white margins and lines of word-like runs of glyphs (3-pixel strokes,
// bars, bowls, ascenders) on white, about a tenth of the page inked, as a scanned letter is.
inline Bitmap textPage(int w, int h, unsigned seed) {
    Bitmap b;
    b.w = w, b.h = h;
    b.px.assign((size_t)w * h, 0);
    uint32_t state = seed * 2654435761u + 1;
    auto rnd = [&](unsigned n) {
        state = state * 1103515245u + 12345u;
        return (int)((state >> 16) % n);
    };
    auto ink = [&](int x0, int y0, int x1, int y1) {  // a filled box, cut at the page
        for (int y = y0 < 0 ? 0 : y0; y < y1 && y < h; y++)
            for (int x = x0 < 0 ? 0 : x0; x < x1 && x < w; x++) b.px[(size_t)y * w + x] = 1;
    };
    const int margin = w / 10, pitch = h / 70 > 8 ? h / 70 : 8, xh = pitch * 2 / 5, cw = xh * 4 / 5;
    for (int base = h / 10 + pitch; base < h - h / 10; base += pitch) {
        if (rnd(9) == 0) continue;  // between paragraphs
        const int end = w - margin - (rnd(4) == 0 ? rnd(w / 2) : 0);
        for (int x = margin; x + cw < end;) {
            for (int n = 2 + rnd(8); n > 0 && x + cw < end; n--, x += cw + 3) {
                const int shape = rnd(6), top = base - (rnd(4) == 0 ? xh * 7 / 4 : xh);
                ink(x, top, x + 3, base);  // the stem
                if (shape == 0 || shape == 3) ink(x + cw - 3, base - xh, x + cw, base);
                if (shape == 1 || shape == 3) ink(x, base - xh, x + cw, base - xh + 3);
                if (shape == 2 || shape == 4) ink(x, base - 3, x + cw, base);
                for (int k = 0; (shape == 4 || shape == 5) && k < xh; k++) {  // a bowl's diagonal
                    const int dx = x + k * (cw - 3) / xh;
                    ink(dx, base - xh + k, dx + 3, base - xh + k + 1);
                }
            }
            x += cw;  // the space between words
        }
    }
    return b;
}

// The context of pixel (x, y), bit 0 first, read pixel by pixel.
inline unsigned contextOf(const Bitmap& b, int tpl, const int* at, int x, int y) {
    std::vector<int> bits;
    auto p = [&](int dx, int dy) { bits.push_back(b.at(x + dx, y + dy)); };
    auto a = [&](int k) { bits.push_back(b.at(x + at[2 * k], y + at[2 * k + 1])); };
    switch (tpl) {
        case 0:
            for (int dx : {-1, -2, -3, -4}) p(dx, 0);
            a(0);
            for (int dx : {2, 1, 0, -1, -2}) p(dx, -1);
            a(1);
            a(2);
            for (int dx : {1, 0, -1}) p(dx, -2);
            a(3);
            break;
        case 1:
            for (int dx : {-1, -2, -3}) p(dx, 0);
            a(0);
            for (int dx : {2, 1, 0, -1, -2}) p(dx, -1);
            for (int dx : {2, 1, 0, -1}) p(dx, -2);
            break;
        case 2:
            for (int dx : {-1, -2}) p(dx, 0);
            a(0);
            for (int dx : {1, 0, -1, -2}) p(dx, -1);
            for (int dx : {1, 0, -1}) p(dx, -2);
            break;
        default:
            for (int dx : {-1, -2, -3, -4}) p(dx, 0);
            a(0);
            for (int dx : {1, 0, -1, -2, -3}) p(dx, -1);
            break;
    }
    unsigned ctx = 0;
    for (size_t i = 0; i < bits.size(); i++) ctx |= (unsigned)bits[i] << i;
    return ctx;
}

inline std::vector<unsigned char> encodeRegion(const Bitmap& b, int tpl, bool tpgdon, const int* at) {
    static const unsigned kSltp[4] = {0x9B25, 0x0795, 0x00E5, 0x0195};
    std::vector<MQEncoder::Ctx> ctx((size_t)1 << 16);
    MQEncoder mq;
    int ltp = 0;
    for (int y = 0; y < b.h; y++) {
        if (tpgdon) {
            bool same = true;
            for (int x = 0; x < b.w && same; x++) same = b.at(x, y) == b.at(x, y - 1);
            mq.encode(ctx[kSltp[tpl]], (unsigned)(same != (ltp != 0)));
            ltp = same;
            if (same) continue;
        }
        for (int x = 0; x < b.w; x++) mq.encode(ctx[contextOf(b, tpl, at, x, y)], b.at(x, y));
    }
    return mq.finish();
}

// --- segments and files (T.88 7.2, Annex D) ---
inline void put32(std::vector<unsigned char>& d, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) d.push_back((unsigned char)(v >> s));
}

struct Options {
    int tpl = 0;
    bool tpgdon = false;
    std::vector<int> at;  // empty: the nominal pixels
    bool fileHeader = true;
    bool unknownPageCount = false;
    bool page4 = false;          // 4-byte page association fields
    bool stripedPage = false;    // page height 0xFFFFFFFF closed by an end-of-stripe segment
    bool openLength = false;     // region data length 0xFFFFFFFF
};

inline void segment(std::vector<unsigned char>& d, uint32_t number, int type, uint32_t page, bool page4,
                    const std::vector<unsigned char>& data, bool openLength = false) {
    put32(d, number);
    d.push_back((unsigned char)(type | (page4 ? 0x40 : 0)));
    d.push_back(0);  // no referred-to segments
    if (page4)
        put32(d, page);
    else
        d.push_back((unsigned char)page);
    put32(d, openLength ? 0xFFFFFFFFu : (uint32_t)data.size());
    d.insert(d.end(), data.begin(), data.end());
}

// Page information: width, the height field, no resolution, the flags, the striping field.
inline std::vector<unsigned char> pageInfo(uint32_t w, uint32_t heightField, int flags, unsigned striping = 0) {
    std::vector<unsigned char> d;
    for (uint32_t v : {w, heightField, 0u, 0u}) put32(d, v);
    d.insert(d.end(), {(unsigned char)flags, (unsigned char)(striping >> 8), (unsigned char)striping});
    return d;
}

// Generic region data: region information (size, place, combination operator), the template
// and TPGDON flags, the template's AT pixels, the coded bitmap.
inline std::vector<unsigned char> regionData(const Bitmap& b, uint32_t heightField, int x, int y, int op, int tpl,
                                             bool tpgdon, const int* at) {
    std::vector<unsigned char> d;
    for (uint32_t v : {(uint32_t)b.w, heightField, (uint32_t)x, (uint32_t)y}) put32(d, v);
    d.insert(d.end(), {(unsigned char)op, (unsigned char)((tpl << 1) | (tpgdon ? 8 : 0))});
    for (int k = 0; k < (tpl == 0 ? 8 : 2); k++) d.push_back((unsigned char)(signed char)at[k]);
    std::vector<unsigned char> coded = encodeRegion(b, tpl, tpgdon, at);
    d.insert(d.end(), coded.begin(), coded.end());
    return d;
}

inline const std::vector<unsigned char> kFileHeader = {0x97, 0x4A, 0x42, 0x32, 0x0D, 0x0A, 0x1A, 0x0A};

inline std::vector<unsigned char> jbig2File(const Bitmap& b, const Options& o) {
    static const int kNominal[4][8] = {{3, -1, -3, -1, 2, -2, -2, -2}, {3, -1}, {2, -1}, {2, -1}};
    const int* at = o.at.empty() ? kNominal[o.tpl] : o.at.data();
    std::vector<unsigned char> d;
    if (o.fileHeader) {
        d = kFileHeader;
        d.push_back(o.unknownPageCount ? 0x03 : 0x01);
        if (!o.unknownPageCount) put32(d, 1);
    }
    uint32_t n = 0;
    // Striped with stripes of up to h rows (jbig2dec sizes such a page by its stripe size).
    segment(d, n++, 48, 1, o.page4,
            pageInfo((uint32_t)b.w, o.stripedPage ? 0xFFFFFFFFu : (uint32_t)b.h, 0, o.stripedPage ? 0x8000u | b.h : 0));
    std::vector<unsigned char> region =
        regionData(b, o.openLength ? 0xFFFFFFFFu : (uint32_t)b.h, 0, 0, 0, o.tpl, o.tpgdon, at);
    if (o.openLength) put32(region, (uint32_t)b.h);
    segment(d, n++, 38, 1, o.page4, region, o.openLength);
    if (o.stripedPage) {
        std::vector<unsigned char> end;
        put32(end, (uint32_t)b.h - 1);
        segment(d, n++, 50, 1, o.page4, end);
    }
    segment(d, n++, 49, 1, o.page4, {});
    if (o.fileHeader) segment(d, n++, 51, 0, false, {});
    return d;
}

// A page with its page information flags (bit 2 default pixel, bits 3-4 default operator, bit 6
// operators overridden) and template-0 regions, each at (x, y) with its combination operator.
struct Placed {
    Bitmap b;
    int x, y, op;
};
inline std::vector<unsigned char> jbig2Page(int w, int h, int pageFlags, const std::vector<Placed>& regions) {
    static const int kAt[8] = {3, -1, -3, -1, 2, -2, -2, -2};
    std::vector<unsigned char> d = kFileHeader;
    d.push_back(0x01);
    put32(d, 1);
    uint32_t n = 0;
    segment(d, n++, 48, 1, false, pageInfo((uint32_t)w, (uint32_t)h, pageFlags));
    for (const Placed& r : regions)
        segment(d, n++, 38, 1, false, regionData(r.b, (uint32_t)r.b.h, r.x, r.y, r.op, 0, false, kAt));
    segment(d, n++, 49, 1, false, {});
    segment(d, n++, 51, 0, false, {});
    return d;
}

}  // namespace jbig2test

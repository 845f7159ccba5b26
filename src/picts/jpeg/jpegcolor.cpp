// Upsampling and colour conversion of decoded JPEG planes. The YCbCr conversion is the
// JFIF one in 16-bit fixed point; Adobe CMYK is stored inverted (255 = no ink).
#include "picts/jpeg/jpegcolor.h"

#include "picts/jpeg/jpegidct.h"
#include "picts/jpeg/jpegparser.h"

namespace {

const int kScaleBits = 16;
const int kHalf = 1 << (kScaleBits - 1);
constexpr int fix(double x) { return (int)(x * (1 << kScaleBits) + 0.5); }

inline unsigned short clampTo(int v, int maxv) { return (unsigned short)(v < 0 ? 0 : (v > maxv ? maxv : v)); }

// The row converters are built for the baseline instruction set and for AVX2 (16-bit lanes),
// chosen when first needed.
#if defined(__GNUC__) && defined(__x86_64__)
#define QMX_COLOR_AVX2 1
#include <immintrin.h>
#endif
#define QMX_COLOR_BODY inline __attribute__((always_inline))

inline int clamp255(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

// 8-bit YCbCr to 0xAARRGGBB with the table values computed in place, so that it vectorises.
QMX_COLOR_BODY void yccRow8Body(const unsigned short* y, const unsigned short* cb, const unsigned short* cr,
                                unsigned int* out, int w) {
    const int kR = fix(1.40200), kB = fix(1.77200), kGr = fix(0.71414), kGb = fix(0.34414);
    for (int x = 0; x < w; x++) {
        int yy = y[x], b0 = cb[x] - 128, r0 = cr[x] - 128;
        int r = clamp255(yy + ((kR * r0 + kHalf) >> kScaleBits));
        int g = clamp255(yy + ((-kGb * b0 - kGr * r0 + kHalf) >> kScaleBits));
        int b = clamp255(yy + ((kB * b0 + kHalf) >> kScaleBits));
        out[x] = 0xFF000000u | (unsigned)r << 16 | (unsigned)g << 8 | (unsigned)b;
    }
}

// The same for chroma at half the width, upsampled on the way (fused, so that the widened rows
// are never stored): cb and cr hold column sums (with one replicated entry before and after);
// output pixel 2i takes (3·cs[i] + cs[i-1] + evenBias) >> shift, pixel 2i+1 the right neighbour.
// Starts at pair `from` (the vector build leaves the last pairs to this one).
QMX_COLOR_BODY void yccRowH2Body(const unsigned short* y, const unsigned short* cb, const unsigned short* cr,
                                 unsigned int* out, int w, int evenBias, int oddBias, int shift, int from) {
    const int kR = fix(1.40200), kB = fix(1.77200), kGr = fix(0.71414), kGb = fix(0.34414);
    const int pairs = w / 2;
    for (int i = from; i < pairs; i++) {
        int cb3 = 3 * cb[i], cr3 = 3 * cr[i];
        int b0 = ((cb3 + cb[i - 1] + evenBias) >> shift) - 128, r0 = ((cr3 + cr[i - 1] + evenBias) >> shift) - 128;
        int b1 = ((cb3 + cb[i + 1] + oddBias) >> shift) - 128, r1 = ((cr3 + cr[i + 1] + oddBias) >> shift) - 128;
        int y0 = y[2 * i], y1 = y[2 * i + 1];
        int ra = clamp255(y0 + ((kR * r0 + kHalf) >> kScaleBits));
        int ga = clamp255(y0 + ((-kGb * b0 - kGr * r0 + kHalf) >> kScaleBits));
        int ba = clamp255(y0 + ((kB * b0 + kHalf) >> kScaleBits));
        int rb = clamp255(y1 + ((kR * r1 + kHalf) >> kScaleBits));
        int gb = clamp255(y1 + ((-kGb * b1 - kGr * r1 + kHalf) >> kScaleBits));
        int bb = clamp255(y1 + ((kB * b1 + kHalf) >> kScaleBits));
        out[2 * i] = 0xFF000000u | (unsigned)ra << 16 | (unsigned)ga << 8 | (unsigned)ba;
        out[2 * i + 1] = 0xFF000000u | (unsigned)rb << 16 | (unsigned)gb << 8 | (unsigned)bb;
    }
    if (w & 1) {
        int b0 = ((3 * cb[pairs] + cb[pairs - 1] + evenBias) >> shift) - 128;
        int r0 = ((3 * cr[pairs] + cr[pairs - 1] + evenBias) >> shift) - 128;
        int y0 = y[w - 1];
        int r = clamp255(y0 + ((kR * r0 + kHalf) >> kScaleBits));
        int g = clamp255(y0 + ((-kGb * b0 - kGr * r0 + kHalf) >> kScaleBits));
        int b = clamp255(y0 + ((kB * b0 + kHalf) >> kScaleBits));
        out[w - 1] = 0xFF000000u | (unsigned)r << 16 | (unsigned)g << 8 | (unsigned)b;
    }
}

typedef void (*tYccRow8)(const unsigned short*, const unsigned short*, const unsigned short*, unsigned int*, int);
typedef void (*tYccRowH2)(const unsigned short*, const unsigned short*, const unsigned short*, unsigned int*, int,
                          int, int, int);

void yccRow8Base(const unsigned short* y, const unsigned short* cb, const unsigned short* cr, unsigned int* out,
                 int w) {
    yccRow8Body(y, cb, cr, out, w);
}
void yccRowH2Base(const unsigned short* y, const unsigned short* cb, const unsigned short* cr, unsigned int* out,
                  int w, int evenBias, int oddBias, int shift) {
    yccRowH2Body(y, cb, cr, out, w, evenBias, oddBias, shift, 0);
}

#ifdef QMX_COLOR_AVX2
// Sixteen pixels a vector on 16-bit lanes, the same integer arithmetic as the scalar rows:
// 1.402·Cr = Cr + 0.402·Cr, 1.772·Cb = 2·Cb - 0.228·Cb and -0.71414·Cr = -Cr + 0.28586·Cr, so
// that every factor fits a 16-bit multiply; (mulhi(2x, f) + 1) >> 1 is (f·x + 2^15) >> 16 exactly.
#define QMX_AVX2_BODY __attribute__((target("avx2"), always_inline)) inline

// Y 0..255 and Cb, Cr centred on 0 to 0xAARRGGBB for lanes 0..15: pixels in the order of the
// lanes in lo (lanes 0-3 then 8-11) and hi (4-7 then 12-15), as unpacking gives them.
QMX_AVX2_BODY void yccLanes(__m256i y, __m256i cb, __m256i cr, __m256i& lo, __m256i& hi) {
    const __m256i one = _mm256_set1_epi16(1);
    __m256i r = _mm256_srai_epi16(
        _mm256_add_epi16(_mm256_mulhi_epi16(_mm256_add_epi16(cr, cr), _mm256_set1_epi16(26345)), one), 1);
    __m256i b = _mm256_srai_epi16(
        _mm256_add_epi16(_mm256_mulhi_epi16(_mm256_add_epi16(cb, cb), _mm256_set1_epi16(-14942)), one), 1);
    r = _mm256_add_epi16(_mm256_add_epi16(y, cr), r);
    b = _mm256_add_epi16(_mm256_add_epi16(y, _mm256_add_epi16(cb, cb)), b);
    // G needs 32 bits: Cb and Cr side by side, multiplied and added in pairs.
    const __m256i k = _mm256_set1_epi32((int)(18734u << 16 | (unsigned short)-22554));
    const __m256i half = _mm256_set1_epi32(32768);
    __m256i glo = _mm256_srai_epi32(_mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(cb, cr), k), half), 16);
    __m256i ghi = _mm256_srai_epi32(_mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(cb, cr), k), half), 16);
    __m256i g = _mm256_add_epi16(_mm256_sub_epi16(y, cr), _mm256_packs_epi32(glo, ghi));
    const __m256i zero = _mm256_setzero_si256(), top = _mm256_set1_epi16(255);
    r = _mm256_min_epi16(_mm256_max_epi16(r, zero), top);
    g = _mm256_min_epi16(_mm256_max_epi16(g, zero), top);
    b = _mm256_min_epi16(_mm256_max_epi16(b, zero), top);
    __m256i bg = _mm256_or_si256(b, _mm256_slli_epi16(g, 8));
    __m256i ra = _mm256_or_si256(r, _mm256_set1_epi16((short)0xFF00));
    lo = _mm256_unpacklo_epi16(bg, ra);
    hi = _mm256_unpackhi_epi16(bg, ra);
}

__attribute__((target("avx2"))) void yccRow8Avx2(const unsigned short* y, const unsigned short* cb,
                                                 const unsigned short* cr, unsigned int* out, int w) {
    const __m256i c128 = _mm256_set1_epi16(128);
    int x = 0;
    for (; x + 16 <= w; x += 16) {
        __m256i lo, hi;
        yccLanes(_mm256_loadu_si256((const __m256i*)(y + x)),
                 _mm256_sub_epi16(_mm256_loadu_si256((const __m256i*)(cb + x)), c128),
                 _mm256_sub_epi16(_mm256_loadu_si256((const __m256i*)(cr + x)), c128), lo, hi);
        _mm256_storeu_si256((__m256i*)(out + x), _mm256_permute2x128_si256(lo, hi, 0x20));
        _mm256_storeu_si256((__m256i*)(out + x + 8), _mm256_permute2x128_si256(lo, hi, 0x31));
    }
    yccRow8Body(y + x, cb + x, cr + x, out + x, w - x);
}

// The triangle filter of 16 column sums (cs[-1] and cs[16] read too): the even and the odd
// output samples, centred on 0.
QMX_AVX2_BODY void halfToFull(const unsigned short* cs, __m256i eb, __m256i ob, __m128i sh, __m256i& even,
                              __m256i& odd) {
    const __m256i c128 = _mm256_set1_epi16(128);
    __m256i here = _mm256_loadu_si256((const __m256i*)cs);
    __m256i left = _mm256_loadu_si256((const __m256i*)(cs - 1));
    __m256i right = _mm256_loadu_si256((const __m256i*)(cs + 1));
    __m256i h3 = _mm256_add_epi16(here, _mm256_add_epi16(here, here));
    even = _mm256_sub_epi16(_mm256_srl_epi16(_mm256_add_epi16(_mm256_add_epi16(h3, left), eb), sh), c128);
    odd = _mm256_sub_epi16(_mm256_srl_epi16(_mm256_add_epi16(_mm256_add_epi16(h3, right), ob), sh), c128);
}

// Sixteen pairs of pixels a step: chroma filtered at 16-bit for the even and the odd pixels,
// luma split into its even and odd samples, the two sets of pixels interleaved on the way out.
__attribute__((target("avx2"))) void yccRowH2Avx2(const unsigned short* y, const unsigned short* cb,
                                                  const unsigned short* cr, unsigned int* out, int w, int evenBias,
                                                  int oddBias, int shift) {
    const int pairs = w / 2;
    const __m256i eb = _mm256_set1_epi16((short)evenBias), ob = _mm256_set1_epi16((short)oddBias);
    const __m128i sh = _mm_cvtsi32_si128(shift);
    int i = 0;
    for (; i + 16 <= pairs; i += 16) {
        __m256i cbE, cbO, crE, crO;
        halfToFull(cb + i, eb, ob, sh, cbE, cbO);
        halfToFull(cr + i, eb, ob, sh, crE, crO);
        __m256i y0 = _mm256_loadu_si256((const __m256i*)(y + 2 * i));
        __m256i y1 = _mm256_loadu_si256((const __m256i*)(y + 2 * i + 16));
        const __m256i low = _mm256_set1_epi32(0xFFFF);
        __m256i yE = _mm256_permute4x64_epi64(
            _mm256_packus_epi32(_mm256_and_si256(y0, low), _mm256_and_si256(y1, low)), 0xD8);
        __m256i yO = _mm256_permute4x64_epi64(
            _mm256_packus_epi32(_mm256_srli_epi32(y0, 16), _mm256_srli_epi32(y1, 16)), 0xD8);
        __m256i eLo, eHi, oLo, oHi;
        yccLanes(yE, cbE, crE, eLo, eHi);
        yccLanes(yO, cbO, crO, oLo, oHi);
        // Pixel pairs: q0 holds pixels 0-3 and 16-19, q1 4-7 and 20-23, q2 8-11 and 24-27, q3 the rest.
        __m256i q0 = _mm256_unpacklo_epi32(eLo, oLo), q1 = _mm256_unpackhi_epi32(eLo, oLo);
        __m256i q2 = _mm256_unpacklo_epi32(eHi, oHi), q3 = _mm256_unpackhi_epi32(eHi, oHi);
        unsigned int* o = out + 2 * i;
        _mm256_storeu_si256((__m256i*)o, _mm256_permute2x128_si256(q0, q1, 0x20));
        _mm256_storeu_si256((__m256i*)(o + 8), _mm256_permute2x128_si256(q2, q3, 0x20));
        _mm256_storeu_si256((__m256i*)(o + 16), _mm256_permute2x128_si256(q0, q1, 0x31));
        _mm256_storeu_si256((__m256i*)(o + 24), _mm256_permute2x128_si256(q2, q3, 0x31));
    }
    yccRowH2Body(y, cb, cr, out, w, evenBias, oddBias, shift, i);
}
#endif

void yccRow8(const unsigned short* y, const unsigned short* cb, const unsigned short* cr, unsigned int* out, int w) {
#ifdef QMX_COLOR_AVX2
    static const tYccRow8 pick = jIdctHasAvx2() ? yccRow8Avx2 : yccRow8Base;
#else
    static const tYccRow8 pick = yccRow8Base;
#endif
    pick(y, cb, cr, out, w);
}

void yccRowH2(const unsigned short* y, const unsigned short* cb, const unsigned short* cr, unsigned int* out, int w,
              int evenBias, int oddBias, int shift) {
#ifdef QMX_COLOR_AVX2
    static const tYccRowH2 pick = jIdctHasAvx2() ? yccRowH2Avx2 : yccRowH2Base;
#else
    static const tYccRowH2 pick = yccRowH2Base;
#endif
    pick(y, cb, cr, out, w, evenBias, oddBias, shift);
}

}  // namespace

bool cJColorConverter::init(cJPEGParser& p) {
    if (!p.planesReady()) return false;
    myNum = p.componentCount();
    myWidth = p.frameWidth();
    myMaxH = p.maxH();
    myMaxV = p.maxV();
    myPrecision = p.precision();
    myMaxVal = (1 << myPrecision) - 1;
    myColor = p.colorModel();
    const int unit = p.isLossless() ? 1 : 8;
    long long widest = myWidth;
    for (int i = 0; i < myNum; i++) {
        const sJComponent& c = p.component(i);
        sPlane& pl = myPlanes[i];
        pl.data = c.plane.ptr;
        pl.ring = c.ringRows;
        pl.stride = (long long)c.bw * unit;
        pl.sw = c.sw;
        pl.sh = c.sh;
        pl.h = c.h;
        pl.v = c.v;
        if (myNum == 1 || (c.h == myMaxH && c.v == myMaxV))
            pl.mode = 0;
        else if (p.isLossless() || c.sw <= 2)
            pl.mode = 4;
        else if (2 * c.h == myMaxH && c.v == myMaxV)
            pl.mode = 1;
        else if (2 * c.h == myMaxH && 2 * c.v == myMaxV)
            pl.mode = 2;
        else if (c.h == myMaxH && 2 * c.v == myMaxV)
            pl.mode = 3;
        else
            pl.mode = 4;
        if (pl.mode && !pl.tmp.set(2 * (long long)c.sw + myWidth + 2)) return false;
        if (2 * (long long)c.sw + 2 > widest) widest = 2 * (long long)c.sw + 2;
    }
    if (!myColSum.set(widest + 2) || !myColSum16.set(widest + 2) || !myColSum16b.set(widest + 2) ||
        !myRGB.set(3 * (long long)myWidth))
        return false;
    if (!myScale.set((long long)myMaxVal + 1)) return false;
    // Samples to the output depth: 8 bits up to precision 8, else 16 bits.
    int outMax = myPrecision > 8 ? 65535 : 255;
    for (int v = 0; v <= myMaxVal; v++)
        myScale.ptr[v] = (unsigned short)(((long long)v * outMax + myMaxVal / 2) / myMaxVal);
    if (myColor == cJPEGParser::eJColorYCbCr || myColor == cJPEGParser::eJColorYCCK) {
        int n = myMaxVal + 1, center = n / 2;
        if (!myCrR.set(n) || !myCbB.set(n) || !myCrG.set(n) || !myCbG.set(n)) return false;
        for (int i = 0; i < n; i++) {
            long long x = i - center;
            myCrR.ptr[i] = (int)((fix(1.40200) * x + kHalf) >> kScaleBits);
            myCbB.ptr[i] = (int)((fix(1.77200) * x + kHalf) >> kScaleBits);
            myCrG.ptr[i] = (int)(-fix(0.71414) * x);
            myCbG.ptr[i] = (int)(-fix(0.34414) * x + kHalf);
        }
    }
    return true;
}

int cJColorConverter::readyRows(const cJPEGParser& p) const {
    int ready = p.frameHeight();
    for (int i = 0; i < myNum; i++) {
        const sJComponent& c = p.component(i);
        const sPlane& pl = myPlanes[i];
        if (c.rowsDone >= pl.sh) continue;
        // Output row y reads plane rows up to y·v / maxV + 1 (the farther row of the filters).
        int rows = pl.mode == 0 ? c.rowsDone : (int)(((long long)c.rowsDone - 1) * myMaxV / pl.v);
        if (rows < ready) ready = rows < 0 ? 0 : rows;
    }
    return ready;
}

// For output row y of a plane with half the rows: the nearer input row and the farther one
// (above for even rows, below for odd ones), both clamped to the plane.
void cJColorConverter::halfRows(const sPlane& pl, int y, const unsigned short*& near, const unsigned short*& far) {
    int sy = y >> 1;
    int fy = (y & 1) ? sy + 1 : sy - 1;
    if (fy < 0) fy = 0;
    if (fy >= pl.sh) fy = pl.sh - 1;
    if (sy >= pl.sh) sy = pl.sh - 1;
    near = pl.row(sy);
    far = pl.row(fy);
}

const unsigned short* cJColorConverter::compRow(int c, int y) {
    sPlane& pl = myPlanes[c];
    if (pl.mode == 0) return pl.row(y);
    unsigned short* out = pl.tmp.ptr;
    const int sw = pl.sw;
    switch (pl.mode) {
        case 1: {
            // Triangle filter: each output sample is 3/4 of the nearer and 1/4 of the farther input.
            const unsigned short* in = pl.row(y);
            for (int i = 0; i < sw; i++) {
                int here = in[i] * 3;
                int left = in[i > 0 ? i - 1 : 0], right = in[i + 1 < sw ? i + 1 : i];
                out[2 * i] = (unsigned short)((here + left + 1) >> 2);
                out[2 * i + 1] = (unsigned short)((here + right + 2) >> 2);
            }
            break;
        }
        case 2: {
            const unsigned short *near, *far;
            halfRows(pl, y, near, far);
            int* cs = myColSum.ptr + 1;
            for (int i = 0; i < sw; i++) cs[i] = near[i] * 3 + far[i];
            cs[-1] = cs[0];
            cs[sw] = cs[sw - 1];
            for (int i = 0; i < sw; i++) {
                int here = cs[i] * 3;
                out[2 * i] = (unsigned short)((here + cs[i - 1] + 8) >> 4);
                out[2 * i + 1] = (unsigned short)((here + cs[i + 1] + 7) >> 4);
            }
            break;
        }
        case 3: {
            const unsigned short *near, *far;
            halfRows(pl, y, near, far);
            int bias = (y & 1) ? 2 : 1;
            for (int i = 0; i < sw; i++) out[i] = (unsigned short)((near[i] * 3 + far[i] + bias) >> 2);
            break;
        }
        default: {
            int sy = (int)((long long)y * pl.v / myMaxV);
            if (sy >= pl.sh) sy = pl.sh - 1;
            const unsigned short* in = pl.row(sy);
            for (int x = 0; x < myWidth; x++) {
                long long sx = (long long)x * pl.h / myMaxH;
                out[x] = in[sx < sw ? sx : sw - 1];
            }
            break;
        }
    }
    return out;
}

void cJColorConverter::columnSums(int c, int y, unsigned short* cs) {
    const sPlane& pl = myPlanes[c];
    const int sw = pl.sw;
    if (pl.mode == 1) {
        const unsigned short* in = pl.row(y);
        for (int i = 0; i < sw; i++) cs[i] = in[i];
    } else {
        const unsigned short *near, *far;
        halfRows(pl, y, near, far);
        for (int i = 0; i < sw; i++) cs[i] = (unsigned short)(near[i] * 3 + far[i]);
    }
    cs[-1] = cs[0];
    cs[sw] = cs[sw - 1];
}

void cJColorConverter::convert(int y, unsigned short* r, unsigned short* g, unsigned short* b) {
    const int maxv = myMaxVal;
    const int w = myWidth;
    if (myColor == cJPEGParser::eJColorGrey) {
        const unsigned short* s = compRow(0, y);
        for (int x = 0; x < w; x++) r[x] = g[x] = b[x] = s[x];
        return;
    }
    const unsigned short* c0 = compRow(0, y);
    const unsigned short* c1 = compRow(1, y);
    const unsigned short* c2 = compRow(2, y);
    switch (myColor) {
        case cJPEGParser::eJColorRGB:
            for (int x = 0; x < w; x++) {
                r[x] = c0[x];
                g[x] = c1[x];
                b[x] = c2[x];
            }
            break;
        case cJPEGParser::eJColorYCbCr:
            for (int x = 0; x < w; x++) {
                int yy = c0[x], cb = c1[x], cr = c2[x];
                r[x] = clampTo(yy + myCrR.ptr[cr], maxv);
                g[x] = clampTo(yy + ((myCbG.ptr[cb] + myCrG.ptr[cr]) >> kScaleBits), maxv);
                b[x] = clampTo(yy + myCbB.ptr[cb], maxv);
            }
            break;
        default: {
            const unsigned short* k = compRow(3, y);
            const int half = maxv / 2;
            for (int x = 0; x < w; x++) {
                int cc = c0[x], mm = c1[x], ye = c2[x];
                if (myColor == cJPEGParser::eJColorYCCK) {
                    // YCC of the inverted inks: back to inks, then as CMYK.
                    int yy = c0[x], cb = c1[x], cr = c2[x];
                    cc = maxv - clampTo(yy + myCrR.ptr[cr], maxv);
                    mm = maxv - clampTo(yy + ((myCbG.ptr[cb] + myCrG.ptr[cr]) >> kScaleBits), maxv);
                    ye = maxv - clampTo(yy + myCbB.ptr[cb], maxv);
                }
                long long kk = k[x];
                r[x] = (unsigned short)((cc * kk + half) / maxv);
                g[x] = (unsigned short)((mm * kk + half) / maxv);
                b[x] = (unsigned short)((ye * kk + half) / maxv);
            }
            break;
        }
    }
}

void cJColorConverter::row32(int y, unsigned int* out) {
    const int w = myWidth;
    if (myPrecision == 8 && myColor == cJPEGParser::eJColorGrey) {
        const unsigned short* s = compRow(0, y);
        for (int x = 0; x < w; x++) out[x] = 0xFF000000u | (unsigned)s[x] * 0x010101u;
        return;
    }
    if (myPrecision == 8 && myColor == cJPEGParser::eJColorYCbCr && myPlanes[0].mode == 0 &&
        (myPlanes[1].mode == 1 || myPlanes[1].mode == 2) && myPlanes[2].mode == myPlanes[1].mode &&
        myPlanes[1].sw == (w + 1) / 2 && myPlanes[2].sw == myPlanes[1].sw) {
        // Half-width chroma (4:2:2, 4:2:0): upsampled and converted in one pass.
        unsigned short* cb = myColSum16.ptr + 1;
        unsigned short* cr = myColSum16b.ptr + 1;
        columnSums(1, y, cb);
        columnSums(2, y, cr);
        if (myPlanes[1].mode == 1)
            yccRowH2(myPlanes[0].row(y), cb, cr, out, w, 1, 2, 2);
        else
            yccRowH2(myPlanes[0].row(y), cb, cr, out, w, 8, 7, 4);
        return;
    }
    if (myPrecision == 8 && (myColor == cJPEGParser::eJColorYCbCr || myColor == cJPEGParser::eJColorRGB)) {
        const unsigned short* c0 = compRow(0, y);
        const unsigned short* c1 = compRow(1, y);
        const unsigned short* c2 = compRow(2, y);
        if (myColor == cJPEGParser::eJColorRGB) {
            for (int x = 0; x < w; x++) out[x] = 0xFF000000u | (unsigned)c0[x] << 16 | (unsigned)c1[x] << 8 | c2[x];
            return;
        }
        yccRow8(c0, c1, c2, out, w);
        return;
    }
    unsigned short* r = myRGB.ptr;
    unsigned short* g = r + myWidth;
    unsigned short* b = g + myWidth;
    convert(y, r, g, b);
    const unsigned short* sc = myScale.ptr;
    if (myPrecision == 8) {
        for (int x = 0; x < myWidth; x++) out[x] = 0xFF000000u | (unsigned)r[x] << 16 | (unsigned)g[x] << 8 | b[x];
    } else {
        for (int x = 0; x < myWidth; x++) {
            unsigned rr = sc[r[x]], gg = sc[g[x]], bb = sc[b[x]];
            if (myPrecision > 8) {
                rr >>= 8;
                gg >>= 8;
                bb >>= 8;
            }
            out[x] = 0xFF000000u | rr << 16 | gg << 8 | bb;
        }
    }
}

void cJColorConverter::row64(int y, unsigned long long* out) {
    unsigned short* r = myRGB.ptr;
    unsigned short* g = r + myWidth;
    unsigned short* b = g + myWidth;
    convert(y, r, g, b);
    const unsigned short* sc = myScale.ptr;
    for (int x = 0; x < myWidth; x++) {
        unsigned long long rr = sc[r[x]], gg = sc[g[x]], bb = sc[b[x]];
        if (myPrecision <= 8) {
            rr *= 0x101;
            gg *= 0x101;
            bb *= 0x101;
        }
        out[x] = 0xFFFFULL << 48 | rr << 32 | gg << 16 | bb;
    }
}

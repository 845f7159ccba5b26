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

// The row converters are built for the baseline instruction set and for AVX2 (the bodies
// inlined into each), chosen when first needed.
#if defined(__GNUC__) && defined(__x86_64__)
#define QMX_COLOR_AVX2 1
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
QMX_COLOR_BODY void yccRowH2Body(const unsigned short* y, const int* cb, const int* cr, unsigned int* out, int w,
                                 int evenBias, int oddBias, int shift) {
    const int kR = fix(1.40200), kB = fix(1.77200), kGr = fix(0.71414), kGb = fix(0.34414);
    const int pairs = w / 2;
    for (int i = 0; i < pairs; i++) {
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
typedef void (*tYccRowH2)(const unsigned short*, const int*, const int*, unsigned int*, int, int, int, int);

void yccRow8Base(const unsigned short* y, const unsigned short* cb, const unsigned short* cr, unsigned int* out,
                 int w) {
    yccRow8Body(y, cb, cr, out, w);
}
void yccRowH2Base(const unsigned short* y, const int* cb, const int* cr, unsigned int* out, int w, int evenBias,
                  int oddBias, int shift) {
    yccRowH2Body(y, cb, cr, out, w, evenBias, oddBias, shift);
}

#ifdef QMX_COLOR_AVX2
__attribute__((target("avx2"))) void yccRow8Avx2(const unsigned short* y, const unsigned short* cb,
                                                 const unsigned short* cr, unsigned int* out, int w) {
    yccRow8Body(y, cb, cr, out, w);
}
__attribute__((target("avx2"))) void yccRowH2Avx2(const unsigned short* y, const int* cb, const int* cr,
                                                  unsigned int* out, int w, int evenBias, int oddBias, int shift) {
    yccRowH2Body(y, cb, cr, out, w, evenBias, oddBias, shift);
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

void yccRowH2(const unsigned short* y, const int* cb, const int* cr, unsigned int* out, int w, int evenBias,
              int oddBias, int shift) {
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
    if (!myColSum.set(widest + 2) || !myColSum2.set(widest + 2) || !myRGB.set(3 * (long long)myWidth)) return false;
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

void cJColorConverter::columnSums(int c, int y, int* cs) {
    const sPlane& pl = myPlanes[c];
    const int sw = pl.sw;
    if (pl.mode == 1) {
        const unsigned short* in = pl.row(y);
        for (int i = 0; i < sw; i++) cs[i] = in[i];
    } else {
        const unsigned short *near, *far;
        halfRows(pl, y, near, far);
        for (int i = 0; i < sw; i++) cs[i] = near[i] * 3 + far[i];
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
        int* cb = myColSum.ptr + 1;
        int* cr = myColSum2.ptr + 1;
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

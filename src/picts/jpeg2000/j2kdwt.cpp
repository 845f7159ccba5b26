// Tile reconstruction (T.800 Annexes F and G): the inverse 5/3 (integer lifting, F.3.8.1)
// and 9/7 (single-precision lifting, F.3.8.2) wavelets level by level, rows then columns,
// with symmetric extension at the edges; then the inverse component transforms (RCT, ICT),
// the DC level shift and the clamp in one pass into the output image. Rows and column strips
// are shared among threads.
#include <cmath>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "picts/jpeg2000/j2ktile.h"
#include "picts/pictparallel.h"

namespace {

// 9/7 lifting constants as applied on decoding (T.800 Table F.4 in this scaling).
const float kK = 1.2301741f, kTwoInvK = 1.6257324f;
const float kC1 = -0.44350687f, kC2 = -0.8829111f, kC3 = 0.052980117f, kC4 = 1.5861343f;

inline int clampIdx(int i, int n) { return i < 0 ? 0 : i >= n ? n - 1 : i; }

// One lifting step over `lanes` parallel lines: dst[k] += f(src[k + off], src[k + off + 1]),
// neighbours clamped to [0, ns) (symmetric extension). Each element of dst and src is a row
// of `lanes` values at `stride` apart; for a single line lanes is 1 and stride 1.
template <class T, class Op>
void liftStep(T* dst, int nd, const T* src, int ns, int off, long long pitch, int lanes, Op op) {
    if (ns <= 0) return;
    auto edge = [&](int k) {
        const T* a = src + clampIdx(k + off, ns) * pitch;
        const T* b = src + clampIdx(k + off + 1, ns) * pitch;
        T* d = dst + k * pitch;
        for (int j = 0; j < lanes; j++) d[j] = op(d[j], a[j], b[j]);
    };
    // Both neighbours inside for kStart <= k < kEnd; the edges use the mirrored ones.
    int kStart = off < 0 ? -off : 0;
    int kEnd = ns - 1 - off;
    if (kEnd > nd) kEnd = nd;
    if (kEnd < kStart) kEnd = kStart;
    int k = 0;
    for (; k < kStart && k < nd; k++) edge(k);
    if (lanes == 1 && pitch == 1) {
        for (; k < kEnd; k++) dst[k] = op(dst[k], src[k + off], src[k + off + 1]);
    } else {
        for (; k < kEnd; k++) {
            const T* a = src + (k + off) * pitch;
            const T* b = a + pitch;
            T* d = dst + k * pitch;
            for (int j = 0; j < lanes; j++) d[j] = op(d[j], a[j], b[j]);
        }
    }
    for (; k < nd; k++) edge(k);
}

// Lifts L (sn lines) and H (dn lines) in place; cas is the parity of the first sample.
void lift53(int* L, int sn, int* H, int dn, int cas, long long pitch, int lanes) {
    int lo = cas ? 0 : -1, hi = cas ? -1 : 0;
    liftStep(L, sn, H, dn, lo, pitch, lanes, [](int d, int a, int b) {
        // Wider arithmetic: hostile coefficients must not overflow.
        return (int)((long long)d - (((long long)a + b + 2) >> 2));
    });
    liftStep(H, dn, L, sn, hi, pitch, lanes, [](int d, int a, int b) {
        return (int)((long long)d + (((long long)a + b) >> 1));
    });
}

void lift97(float* L, int sn, float* H, int dn, int cas, long long pitch, int lanes) {
    for (int k = 0; k < sn; k++)
        for (int j = 0; j < lanes; j++) L[k * pitch + j] *= kK;
    for (int k = 0; k < dn; k++)
        for (int j = 0; j < lanes; j++) H[k * pitch + j] *= kTwoInvK;
    int lo = cas ? 0 : -1, hi = cas ? -1 : 0;
    liftStep(L, sn, H, dn, lo, pitch, lanes, [](float d, float a, float b) { return d + kC1 * (a + b); });
    liftStep(H, dn, L, sn, hi, pitch, lanes, [](float d, float a, float b) { return d + kC2 * (a + b); });
    liftStep(L, sn, H, dn, lo, pitch, lanes, [](float d, float a, float b) { return d + kC3 * (a + b); });
    liftStep(H, dn, L, sn, hi, pitch, lanes, [](float d, float a, float b) { return d + kC4 * (a + b); });
}

// A line of one sample: the 5/3 keeps a low sample and halves a high one (T.800 F.3.7);
// the 9/7 leaves it as it is.
template <class T>
bool singleSample(T* line, int n, int cas, bool reversible) {
    if (n != 1) return false;
    if (cas && reversible) {
        int v;
        memcpy(&v, line, sizeof v);
        v /= 2;
        memcpy(line, &v, sizeof v);
    }
    return true;
}

struct sLevel {
    int* data;
    long long stride;
    int w, h;          // the new resolution
    int swl, shl;      // low-band counts (the previous resolution)
    int casRow, casCol;
    bool reversible;
};

// False when there is no memory for the line.
bool rowsPass(const sLevel& lv, int y0, int y1, _typebuf<int>& line) {
    int n = lv.w, sn = lv.swl, dn = n - sn;
    if (n <= 0) return true;
    if (!j2kRoom(line, n)) return false;
    for (int y = y0; y < y1; y++) {
        int* row = lv.data + y * lv.stride;
        if (singleSample(row, n, lv.casRow, lv.reversible)) continue;
        memcpy(line.ptr, row, (size_t)n * sizeof(int));
        int* L = line.ptr;
        int* H = line.ptr + sn;
        if (lv.reversible)
            lift53(L, sn, H, dn, lv.casRow, 1, 1);
        else
            lift97((float*)L, sn, (float*)H, dn, lv.casRow, 1, 1);
        // Interleave: low samples at even positions when the row starts on an even coordinate.
        int* le = row + (lv.casRow ? 1 : 0);
        int* he = row + (lv.casRow ? 0 : 1);
        for (int k = 0; k < sn; k++) le[2 * k] = L[k];
        for (int k = 0; k < dn; k++) he[2 * k] = H[k];
    }
    return true;
}

// False when there is no memory for the scratch strip.
bool colsPass(const sLevel& lv, int x0, int x1, _typebuf<int>& scratch) {
    int n = lv.h, sn = lv.shl, dn = n - sn;
    int lanes = x1 - x0;
    if (n <= 0 || lanes <= 0) return true;
    int* base = lv.data + x0;
    if (n == 1) {
        for (int x = 0; x < lanes; x++) singleSample(base + x, 1, lv.casCol, lv.reversible);
        return true;
    }
    if (!j2kRoom(scratch, (long long)n * lanes)) return false;
    int* L = base;
    int* H = base + sn * lv.stride;
    if (lv.reversible)
        lift53(L, sn, H, dn, lv.casCol, lv.stride, lanes);
    else
        lift97((float*)L, sn, (float*)H, dn, lv.casCol, lv.stride, lanes);
    // Interleave the rows of this strip through a scratch strip.
    for (int j = 0; j < n; j++) {
        bool low = ((j + lv.casCol) & 1) == 0;
        int k = lv.casCol ? (low ? (j - 1) / 2 : j / 2) : (low ? j / 2 : (j - 1) / 2);
        const int* src = low ? L + k * lv.stride : H + k * lv.stride;
        memcpy(scratch.ptr + (size_t)j * lanes, src, (size_t)lanes * sizeof(int));
    }
    for (int j = 0; j < n; j++)
        memcpy(lv.data + j * lv.stride + x0, scratch.ptr + (size_t)j * lanes, (size_t)lanes * sizeof(int));
    return true;
}

}  // namespace

bool cJP2Tcd::dwtDecode(int threads) {
    for (unsigned int c = 0; c < myComps.count; c++) {
        sJP2TileComp& tc = myComps.ptr[c];
        if (tc.numres <= 1) continue;
        const sJP2Tccp& tccp = myTcp->tccps.ptr[c];
        for (unsigned int r = 1; r < tc.numres; r++) {
            const sJP2Resolution& lo = tc.resolutions.ptr[r - 1];
            const sJP2Resolution& hi = tc.resolutions.ptr[r];
            sLevel lv;
            lv.data = tc.data.ptr;
            lv.stride = tc.w();
            lv.w = hi.x1 - hi.x0;
            lv.h = hi.y1 - hi.y0;
            lv.swl = lo.x1 - lo.x0;
            lv.shl = lo.y1 - lo.y0;
            lv.casRow = hi.x0 & 1;
            lv.casCol = hi.y0 & 1;
            lv.reversible = tccp.qmfbid == 1;
            // Rows in bands of 16, columns in strips of 64, taken by the threads in turn; small
            // levels are not worth waking threads for.
            const int rowBand = 16, colStrip = 64;
            long long area = (long long)lv.w * lv.h;
            int n = area < (1 << 16) ? 1 : threads;
            long long nRowJobs = (lv.h + rowBand - 1) / rowBand;
            bool ok = pictParallelFor(nRowJobs, n, [&](long long i, int) {
                int y0 = (int)i * rowBand, y1 = y0 + rowBand < lv.h ? y0 + rowBand : lv.h;
                static thread_local _typebuf<int> line;
                return rowsPass(lv, y0, y1, line);
            });
            long long nColJobs = (lv.w + colStrip - 1) / colStrip;
            ok = ok && pictParallelFor(nColJobs, n, [&](long long i, int) {
                int x0 = (int)i * colStrip, x1 = x0 + colStrip < lv.w ? x0 + colStrip : lv.w;
                static thread_local _typebuf<int> scratch;
                return colsPass(lv, x0, x1, scratch);
            });
            if (!ok) return false;
        }
    }
    return true;
}

namespace {

// One component of the output pass: its decoded area in the tile, where it goes, and its
// range (T.800 G.1.2).
struct sOutComp {
    const int* src;
    long long srcStride;
    int* dst;
    long long dstStride;
    long long lo, hi, shift;
    float flo, fhi;  // the float range that converts (see shiftFloat)
    bool reversible;
};

inline int shiftInt(long long v, const sOutComp& c) {
    v += c.shift;
    return (int)(v < c.lo ? c.lo : v > c.hi ? c.hi : v);
}

// Rounded to the nearest integer (halves to even), then shifted and clamped: truncating toward
// zero would lift every sample below the shift and lower every one above it. The float is first
// brought into a range that converts (NaN to the low end); values beyond it clamp the same way.
inline int shiftFloat(float fv, const sOutComp& c) {
    fv = fv >= c.flo ? fv : c.flo;
    fv = fv <= c.fhi ? fv : c.fhi;
#if defined(__SSE2__)
    // lrintf's own conversion (the current rounding mode), inline: the range fits in 32 bits.
    return shiftInt(_mm_cvtss_si32(_mm_set_ss(fv)), c);
#else
    return shiftInt((long long)lrintf(fv), c);
#endif
}

inline float asFloat(int v) {
    float f;
    memcpy(&f, &v, sizeof f);
    return f;
}

#if defined(__SSE2__)
// shiftFloat on four samples: the same clamps (a NaN takes the low end: max_ps returns its
// second operand then) and the same conversion, the sums in 32 bits, which holds for
// precisions up to 30 bits.
struct sShift4 {
    __m128 flo, fhi;
    __m128i lo, hi, shift;
    explicit sShift4(const sOutComp& c)
        : flo(_mm_set1_ps(c.flo)), fhi(_mm_set1_ps(c.fhi)), lo(_mm_set1_epi32((int)c.lo)),
          hi(_mm_set1_epi32((int)c.hi)), shift(_mm_set1_epi32((int)c.shift)) {}
    static bool fits(const sOutComp& c) { return c.lo >= -(1LL << 29) && c.hi < (1LL << 30); }
    __m128i operator()(__m128 f) const {
        f = _mm_min_ps(_mm_max_ps(f, flo), fhi);
        __m128i v = _mm_add_epi32(_mm_cvtps_epi32(f), shift);
        __m128i m = _mm_cmplt_epi32(v, lo);
        v = _mm_or_si128(_mm_and_si128(m, lo), _mm_andnot_si128(m, v));
        m = _mm_cmpgt_epi32(v, hi);
        return _mm_or_si128(_mm_and_si128(m, hi), _mm_andnot_si128(m, v));
    }
};

inline __m128 load4(const int* p) { return _mm_castsi128_ps(_mm_loadu_si128((const __m128i*)p)); }
inline void store4(int* p, __m128i v) { _mm_storeu_si128((__m128i*)p, v); }
#endif

// Rows y0 .. y1 - 1 of w samples: the component transform of the first three components (mct
// 1: reversible, T.800 G.2; 2: irreversible, G.3), then the DC level shift and the clamp of
// each component. A destination may be its source: each sample is read before it is written.
void outputRows(const sOutComp* oc, unsigned int nc, int mct, long long w, long long y0, long long y1) {
    for (long long y = y0; y < y1; y++) {
        unsigned int c = 0;
        if (mct) {
            const int *s0 = oc[0].src + y * oc[0].srcStride, *s1 = oc[1].src + y * oc[1].srcStride,
                      *s2 = oc[2].src + y * oc[2].srcStride;
            int *d0 = oc[0].dst + y * oc[0].dstStride, *d1 = oc[1].dst + y * oc[1].dstStride,
                *d2 = oc[2].dst + y * oc[2].dstStride;
            if (mct == 1) {
                for (long long x = 0; x < w; x++) {
                    long long Y = s0[x], u = s1[x], v = s2[x];
                    long long g = Y - ((u + v) >> 2);
                    d0[x] = shiftInt((int)(v + g), oc[0]);
                    d1[x] = shiftInt((int)g, oc[1]);
                    d2[x] = shiftInt((int)(u + g), oc[2]);
                }
            } else {
                long long x = 0;
#if defined(__SSE2__)
                if (sShift4::fits(oc[0]) && sShift4::fits(oc[1]) && sShift4::fits(oc[2])) {
                    const sShift4 t0(oc[0]), t1(oc[1]), t2(oc[2]);
                    const __m128 kR = _mm_set1_ps(1.402f), kGu = _mm_set1_ps(0.34413f), kGv = _mm_set1_ps(0.71414f),
                                 kB = _mm_set1_ps(1.772f);
                    for (; x + 4 <= w; x += 4) {
                        const __m128 Y = load4(s0 + x), u = load4(s1 + x), v = load4(s2 + x);
                        store4(d0 + x, t0(_mm_add_ps(Y, _mm_mul_ps(kR, v))));
                        store4(d1 + x, t1(_mm_sub_ps(_mm_sub_ps(Y, _mm_mul_ps(kGu, u)), _mm_mul_ps(kGv, v))));
                        store4(d2 + x, t2(_mm_add_ps(Y, _mm_mul_ps(kB, u))));
                    }
                }
#endif
                for (; x < w; x++) {
                    float Y = asFloat(s0[x]), u = asFloat(s1[x]), v = asFloat(s2[x]);
                    d0[x] = shiftFloat(Y + 1.402f * v, oc[0]);
                    d1[x] = shiftFloat(Y - 0.34413f * u - 0.71414f * v, oc[1]);
                    d2[x] = shiftFloat(Y + 1.772f * u, oc[2]);
                }
            }
            c = 3;
        }
        for (; c < nc; c++) {
            const sOutComp& o = oc[c];
            const int* s = o.src + y * o.srcStride;
            int* d = o.dst + y * o.dstStride;
            long long x = 0;
            if (o.reversible) {
                for (; x < w; x++) d[x] = shiftInt(s[x], o);
                continue;
            }
#if defined(__SSE2__)
            if (sShift4::fits(o)) {
                const sShift4 t(o);
                for (; x + 4 <= w; x += 4) store4(d + x, t(load4(s + x)));
            }
#endif
            for (; x < w; x++) d[x] = shiftFloat(asFloat(s[x]), o);
        }
    }
}

}  // namespace

bool cJP2Tcd::updateImageData(cJP2Image* out, bool noteResolution, int threads) {
    const unsigned int nc = myComps.count < out->numcomps ? (unsigned int)myComps.count : out->numcomps;
    _typebuf<sOutComp> comps;
    if (!nc || !comps.set(nc)) return !nc;
    long long w = 0, h = 0;
    for (unsigned int c = 0; c < nc; c++) {
        sJP2TileComp& tc = myComps.ptr[c];
        sJP2ImageComp& oc = out->comps.ptr[c];
        const sJP2ImageComp& ic = myImage->comps.ptr[c];
        const sJP2Tccp& tccp = myTcp->tccps.ptr[c];
        sOutComp& o = comps.ptr[c];
        // The decoded resolution's area inside the component (always the whole one here).
        const sJP2Resolution& res = tc.resolutions.ptr[tc.numres - 1];
        const long long rw = res.x1 - res.x0, rh = res.y1 - res.y0;
        const long long n = (long long)oc.w * oc.h;
        o.src = tc.data.ptr;
        o.srcStride = tc.w();
        if (!oc.data.ptr && res.x0 == (int)oc.x0 && res.y0 == (int)oc.y0 && tc.w() == (long long)oc.w &&
            tc.h() == (long long)oc.h && tc.data.count == n) {
            // A tile that covers the whole component is finished in place, then hands its
            // samples over.
            o.dst = tc.data.ptr;
            o.dstStride = tc.w();
        } else {
            if (!oc.data.ptr) {
                if (!oc.data.set(n)) return false;
                memset(oc.data.ptr, 0, (size_t)n * sizeof(int));
            }
            const long long ox = res.x0 - (long long)oc.x0, oy = res.y0 - (long long)oc.y0;
            if (ox < 0 || oy < 0 || ox + rw > oc.w || oy + rh > oc.h) return false;
            o.dst = oc.data.ptr + oy * oc.w + ox;
            o.dstStride = oc.w;
        }
        if (ic.sgnd) {
            o.lo = -(1LL << (ic.prec - 1));
            o.hi = (1LL << (ic.prec - 1)) - 1;
        } else {
            o.lo = 0;
            o.hi = (1LL << ic.prec) - 1;
        }
        o.shift = tccp.dcShift;
        o.flo = (float)(o.lo - o.shift - 1);
        o.fhi = (float)(o.hi - o.shift + 1);
        o.reversible = tccp.qmfbid == 1;
        // Components of other sizes are done one by one.
        if (c == 0) w = rw, h = rh;
        if (rw != w || rh != h) {
            outputRows(&o, 1, 0, rw, 0, rh);
            o.src = nullptr;
        }
    }
    // The usual component transforms (T.800 G.2, G.3) need three components of one size and
    // one wavelet; an array-based one was applied with the wavelet.
    int mct = 0;
    if (nc >= 3 && myTcp->mct && !(myTcp->mct == 2 && myTcp->mctMatrix.count == myComps.count * myComps.count)) {
        const sJP2TileComp &a = myComps.ptr[0], &b = myComps.ptr[1], &c = myComps.ptr[2];
        const unsigned int q = myTcp->tccps.ptr[0].qmfbid;
        if (a.w() == b.w() && a.w() == c.w() && a.h() == b.h() && a.h() == c.h() &&
            myTcp->tccps.ptr[1].qmfbid == q && myTcp->tccps.ptr[2].qmfbid == q &&
            comps.ptr[0].src && comps.ptr[1].src && comps.ptr[2].src)
            mct = q == 1 ? 1 : 2;
    }
    // The components of the first one's size, in bands of rows shared among threads.
    unsigned int same = 0;
    for (unsigned int c = 0; c < nc; c++)
        if (comps.ptr[c].src) comps.ptr[same++] = comps.ptr[c];
    const long long band = 32;
    const int n = w * h < (1 << 16) ? 1 : threads;
    if (!pictParallelFor((h + band - 1) / band, n, [&](long long i, int) {
            outputRows(comps.ptr, same, mct, w, i * band, i * band + band < h ? i * band + band : h);
            return true;
        }))
        return false;
    for (unsigned int c = 0; c < nc; c++) {
        sJP2TileComp& tc = myComps.ptr[c];
        sJP2ImageComp& oc = out->comps.ptr[c];
        if (!oc.data.ptr) {
            oc.data.ptr = tc.data.ptr, oc.data.count = tc.data.count;
            tc.data.ptr = nullptr, tc.data.count = 0;
        }
        if (noteResolution) oc.resnoDecoded = tc.numres - 1;
    }
    return true;
}

// ISO/IEC 15444-2 array-based transform: each sample position's vector over all components
// times the decoding matrix, in single precision. Reversible components are read and written
// as integers (rounded), irreversible ones as floats.
bool cJP2Tcd::customMctDecode() {
    const size_t nc = (size_t)myComps.count;
    for (size_t c = 1; c < nc; c++)
        if (myComps.ptr[c].w() != myComps.ptr[0].w() || myComps.ptr[c].h() != myComps.ptr[0].h()) return true;
    const long long n = myComps.ptr[0].w() * myComps.ptr[0].h();
    const float* m = myTcp->mctMatrix.ptr;
    _typebuf<float> inBuf;
    if (!inBuf.set((long long)nc)) return false;
    float* in = inBuf.ptr;
    for (long long i = 0; i < n; i++) {
        for (size_t c = 0; c < nc; c++) {
            int v = myComps.ptr[c].data.ptr[i];
            if (myTcp->tccps.ptr[c].qmfbid == 1) {
                in[c] = (float)v;
            } else {
                float f;
                memcpy(&f, &v, sizeof f);
                in[c] = f;
            }
        }
        for (size_t r = 0; r < nc; r++) {
            float acc = 0;
            for (size_t c = 0; c < nc; c++) acc += m[r * nc + c] * in[c];
            if (myTcp->tccps.ptr[r].qmfbid == 1) {
                // Into the integer range before converting (NaN to 0).
                acc = acc >= -2e9f ? (acc <= 2e9f ? acc : 2e9f) : (acc == acc ? -2e9f : 0.0f);
                myComps.ptr[r].data.ptr[i] = (int)(acc < 0 ? acc - 0.5f : acc + 0.5f);
            } else {
                memcpy(&myComps.ptr[r].data.ptr[i], &acc, sizeof acc);
            }
        }
    }
    return true;
}

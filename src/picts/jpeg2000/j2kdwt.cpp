// Tile reconstruction (T.800 Annexes F and G): the inverse 5/3 (integer lifting, F.3.8.1)
// and 9/7 (single-precision lifting, F.3.8.2) wavelets level by level, rows then columns,
// with symmetric extension at the edges; then the inverse component transforms (RCT, ICT)
// and the DC level shift with clamping. Rows and column strips are shared among threads.
#include <cmath>
#include <cstring>

#include "picts/jpeg2000/j2kthreads.h"
#include "picts/jpeg2000/j2ktile.h"

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
            bool ok = j2kParallelFor(nRowJobs, n, [&](long long i, int) {
                int y0 = (int)i * rowBand, y1 = y0 + rowBand < lv.h ? y0 + rowBand : lv.h;
                static thread_local _typebuf<int> line;
                return rowsPass(lv, y0, y1, line);
            });
            long long nColJobs = (lv.w + colStrip - 1) / colStrip;
            ok = ok && j2kParallelFor(nColJobs, n, [&](long long i, int) {
                int x0 = (int)i * colStrip, x1 = x0 + colStrip < lv.w ? x0 + colStrip : lv.w;
                static thread_local _typebuf<int> scratch;
                return colsPass(lv, x0, x1, scratch);
            });
            if (!ok) return false;
        }
    }
    return true;
}

bool cJP2Tcd::mctDecode() {
    if (myComps.count < 3 || !myTcp->mct) return true;
    if (myTcp->mct == 2 && myTcp->mctMatrix.count == myComps.count * myComps.count) return customMctDecode();
    // The transform needs three components of one size and one wavelet.
    const sJP2TileComp &a = myComps.ptr[0], &b = myComps.ptr[1], &c = myComps.ptr[2];
    if (a.w() != b.w() || a.w() != c.w() || a.h() != b.h() || a.h() != c.h()) return true;
    unsigned int q = myTcp->tccps.ptr[0].qmfbid;
    if (myTcp->tccps.ptr[1].qmfbid != q || myTcp->tccps.ptr[2].qmfbid != q) return true;
    long long n = a.w() * a.h();
    int *p0 = myComps.ptr[0].data.ptr, *p1 = myComps.ptr[1].data.ptr, *p2 = myComps.ptr[2].data.ptr;
    if (q == 1) {
        // T.800 G.2: reversible component transform.
        for (long long i = 0; i < n; i++) {
            long long y = p0[i], u = p1[i], v = p2[i];
            long long g = y - ((u + v) >> 2);
            p0[i] = (int)(v + g);
            p1[i] = (int)g;
            p2[i] = (int)(u + g);
        }
    } else {
        // T.800 G.3: irreversible component transform.
        float *f0 = (float*)p0, *f1 = (float*)p1, *f2 = (float*)p2;
        for (long long i = 0; i < n; i++) {
            float y = f0[i], u = f1[i], v = f2[i];
            f0[i] = y + 1.402f * v;
            f1[i] = y - 0.34413f * u - 0.71414f * v;
            f2[i] = y + 1.772f * u;
        }
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

bool cJP2Tcd::dcLevelShiftDecode() {
    for (unsigned int c = 0; c < myComps.count; c++) {
        sJP2TileComp& tc = myComps.ptr[c];
        const sJP2ImageComp& ic = myImage->comps.ptr[c];
        const sJP2Tccp& tccp = myTcp->tccps.ptr[c];
        long long lo, hi;
        if (ic.sgnd) {
            lo = -(1LL << (ic.prec - 1));
            hi = (1LL << (ic.prec - 1)) - 1;
        } else {
            lo = 0;
            hi = (1LL << ic.prec) - 1;
        }
        long long shift = tccp.dcShift;
        const sJP2Resolution& res = tc.resolutions.ptr[tc.numres - 1];
        long long w = res.x1 - res.x0, h = res.y1 - res.y0;
        for (long long y = 0; y < h; y++) {
            int* p = tc.data.ptr + y * tc.w();
            if (tccp.qmfbid == 1) {
                for (long long x = 0; x < w; x++) {
                    long long v = (long long)p[x] + shift;
                    p[x] = (int)(v < lo ? lo : v > hi ? hi : v);
                }
            } else {
                // Rounded to the nearest integer (halves to even), then shifted and clamped:
                // truncating toward zero would lift every sample below the shift and lower
                // every one above it. The float is first brought into a range that converts
                // (NaN to the low end); values beyond it clamp the same way.
                const float* f = (const float*)p;
                const float flo = (float)(lo - shift - 1), fhi = (float)(hi - shift + 1);
                for (long long x = 0; x < w; x++) {
                    float fv = f[x];
                    fv = fv >= flo ? fv : flo;
                    fv = fv <= fhi ? fv : fhi;
                    long long v = (long long)lrintf(fv) + shift;
                    p[x] = (int)(v < lo ? lo : v > hi ? hi : v);
                }
            }
        }
    }
    return true;
}

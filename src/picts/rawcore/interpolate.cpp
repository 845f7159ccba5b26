// Demosaic routines. The pixel-grouping one works in place in the output: while it runs,
// channel c of a pixel holds colour code c (bits 16c); the last pass reorders the channels
// into blue, green, red, alpha.
#include "picts/rawcore/interpolate.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "picts/rawcore/rawbands.h"
#include "picts/rawcore/rawhook.h"

namespace {

thread_local tRawFrameHook tHook = nullptr;
thread_local void* tHookContext = nullptr;

const unsigned long long kAlpha = 0xFFFFULL << 48;

inline int chan(unsigned long long p, int c) { return (int)((p >> (16 * c)) & 0xFFFF); }
// The pixels as 16-bit lanes for the passes that read and write single channels: channel c
// of pixel i is lane 4i + laneOf(c) (the bits 16c of the word). may_alias: the same words
// are read as 64-bit pixels elsewhere.
typedef unsigned short __attribute__((may_alias)) tLane;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
inline int laneOf(int c) { return 3 - c; }
#else
inline int laneOf(int c) { return c; }
#endif
inline int clampI(int v) { return v < 0 ? 0 : v > 65535 ? 65535 : v; }
// Limits x to the range between a and b, whichever is lower.
inline int limitBetween(int x, int a, int b) {
    int lo = a < b ? a : b, hi = a < b ? b : a;
    return x < lo ? lo : x > hi ? hi : x;
}
inline unsigned long long rgbPixel(unsigned int r, unsigned int g, unsigned int b) {
    return kAlpha | (unsigned long long)r << 32 | (unsigned long long)g << 16 | b;
}

// The crop of a frame, computed without wrap-around: margins wider than the frame leave
// an empty crop rather than a negative one.
struct sCrop {
    long long left = 0, top = 0, w = 0, h = 0;
    bool set(long long width, long long height, const sMarginInfo* m) {
        long long l = m ? m->left : 0, r = m ? m->right : 0, t = m ? m->top : 0, b = m ? m->bottom : 0;
        left = l;
        top = t;
        w = width - l - r;
        h = height - t - b;
        return w >= 1 && h >= 1;
    }
};

// A Bayer pattern: a 2 x 2 tile, green on one diagonal, red and blue on the other.
bool isBayer(const cBayerFilter* f) {
    for (int y = 0; y < 24; y++)
        for (int x = 0; x < 6; x++)
            if (f->color(x, y) != f->color(x & 1, y & 1)) return false;
    const int a = f->color(0, 0), b = f->color(1, 0), c = f->color(0, 1), d = f->color(1, 1);
    return (a == 1 && d == 1 && b != 1 && c != 1 && b != c) || (b == 1 && c == 1 && a != 1 && d != 1 && a != d);
}

// Arguments every routine needs; false when any is missing.
bool usable(const sInterpolateInfo& info, bool needFilter) {
    return info.raw && info.pixels && info.width > 0 && info.height > 0 && (!needFilter || info.filter);
}

void safeMuls(const double* in, double out[4]) {
    for (int c = 0; c < 4; c++) out[c] = rawClampMul(in ? in[c] : 1.0);
}

// Black-subtracted sample.
inline unsigned int above(unsigned int s, unsigned int black) { return s > black ? s - black : 0; }

void showFrame(const sInterpolateInfo& info, const sMarginInfo* margins) {
    sRawFrameView v;
    v.samples = info.raw;
    v.width = info.width;
    v.height = info.height;
    v.filter = info.filter;
    v.margins = margins;
    v.black = info.black;
    v.mul = info.mul;
    showRawFrame(v);
}

bool report(cProgressNotifyTarget* p, double percent) { return !p || p->notifyProgress(percent); }

// The common start of a routine: shows the frame to the hook and sets the crop. False when
// the margins leave no crop (minRaw 65535, maxRaw 0; the routine has nothing to do).
bool openCrop(sInterpolateInfo& info, const sMarginInfo* margins, sCrop& crop) {
    showFrame(info, margins);
    if (crop.set(info.width, info.height, margins)) return true;
    info.minRaw = 65535;
    info.maxRaw = 0;
    return false;
}

// Records the crop's smallest and largest samples.
void scanMinMax(const sInterpolateInfo& info, const sCrop& crop, unsigned int& mn, unsigned int& mx) {
    mn = 65535;
    mx = 0;
    for (long long y = 0; y < crop.h; y++) {
        const unsigned short* row = info.raw + (crop.top + y) * info.width + crop.left;
        for (long long x = 0; x < crop.w; x++) {
            unsigned int s = row[x];
            if (s < mn) mn = s;
            if (s > mx) mx = s;
        }
    }
}

// Shared walk of the linear routines: for each crop pixel the 3 x 3 block cut at the crop.
// visit(x, y, ownColor, ownScaled, sum[4] of scaled values by colour, count[4]).
template <class F>
bool walkBlocks(sInterpolateInfo& info, const sCrop& crop, const double mul[4], F visit) {
    const cBayerFilter* f = info.filter;
    const unsigned int black = info.black > 65535 ? 65535 : info.black;
    for (long long y = 0; y < crop.h; y++) {
        for (long long x = 0; x < crop.w; x++) {
            double sum[4] = {0, 0, 0, 0};
            int count[4] = {0, 0, 0, 0};
            int own = f->color((int)x, (int)y) & 3;
            for (long long yy = y - 1; yy <= y + 1; yy++) {
                if (yy < 0 || yy >= crop.h) continue;
                const unsigned short* row = info.raw + (crop.top + yy) * info.width + crop.left;
                for (long long xx = x - 1; xx <= x + 1; xx++) {
                    if (xx < 0 || xx >= crop.w || (xx == x && yy == y)) continue;
                    int c = f->color((int)xx, (int)yy) & 3;
                    sum[c] += above(row[xx], black) * mul[c];
                    count[c]++;
                }
            }
            double ownScaled = above(info.raw[(crop.top + y) * info.width + crop.left + x], black) * mul[own];
            long long outRow = info.flip ? crop.h - 1 - y : y;
            info.pixels[outRow * crop.w + x] = visit(own, ownScaled, sum, count);
        }
        if (!report(info.progress, 100.0 * (double)y / (double)crop.h)) return false;
    }
    return true;
}

}  // namespace

void setRawFrameHook(tRawFrameHook hook, void* context) {
    tHook = hook;
    tHookContext = context;
}

void showRawFrame(const sRawFrameView& frame) {
    if (tHook) tHook(tHookContext, frame);
}

double rawClampMul(double m) {
    if (!(m > 0.0)) return 0.0;
    return m > 65536.0 ? 65536.0 : m;
}

namespace {

// The border filler's walk over the crop rows y0 .. y1 - 1: put(index, pixel) for each of
// the outer `border` pixels of the crop on every side, row by row, index counted in the
// (flipped when asked) output.
template <class Put>
void walkBorder(int border, const unsigned short* raw, long long width, const sCrop& crop, const cBayerFilter* filter,
                bool flip, const double* mul, unsigned short black, long long y0, long long y1, Put put) {
    for (long long y = y0; y < y1; y++) {
        const bool fullRow = y < border || y >= crop.h - border;
        long long outRow = flip ? crop.h - 1 - y : y;
        for (long long x = 0; x < crop.w; x++) {
            if (!fullRow && x == border && crop.w - border > x) x = crop.w - border;
            double sum[4] = {0, 0, 0, 0};
            int count[4] = {0, 0, 0, 0};
            for (long long yy = y - 1; yy <= y + 1; yy++) {
                if (yy < 0 || yy >= crop.h) continue;
                const unsigned short* row = raw + (crop.top + yy) * width + crop.left;
                for (long long xx = x - 1; xx <= x + 1; xx++) {
                    if (xx < 0 || xx >= crop.w) continue;
                    int c = filter->color((int)xx, (int)yy) & 3;
                    sum[c] += above(row[xx], black);
                    count[c]++;
                }
            }
            int own = filter->color((int)x, (int)y) & 3;
            unsigned int ownValue = rawClamp16(above(raw[(crop.top + y) * width + crop.left + x], black) * mul[own]);
            unsigned int v[3];
            for (int c = 0; c < 3; c++)
                v[c] = (c == own || !count[c]) ? ownValue : rawClamp16(sum[c] * mul[c] / count[c]);
            put(outRow * crop.w + x, rgbPixel(v[0], v[1], v[2]));
        }
    }
}

// A frame may lie inside the output buffer (a decoder reads its samples into the buffer's
// tail, saving a frame's worth of memory); the load step then widens the samples in place.
// Rows go in runs in top-down order: every row of a run writes clear of the samples of all
// rows not yet loaded, so a run's rows load side by side; a row whose write covers only its
// own samples (and those of rows already loaded) forms a run alone and copies its samples
// aside first. The runs are planned before anything is written: the first `count` of `ends`
// (room for crop.h) get their ends; false when there is no such plan.
bool planInPlaceLoad(const unsigned short* raw, long long width, const unsigned long long* out, const sCrop& crop,
                     long long* ends, long long& count) {
    const uintptr_t P = (uintptr_t)out, R = (uintptr_t)raw;
    const long long w = crop.w, h = crop.h;
    auto writeStart = [&](long long y) { return P + (uintptr_t)(8 * y * w); };
    auto readStart = [&](long long y) { return R + (uintptr_t)(2 * ((crop.top + y) * width + crop.left)); };
    const uintptr_t lastEnd = readStart(h - 1) + (uintptr_t)(2 * w);
    count = 0;
    long long a = 0;
    while (a < h) {
        const uintptr_t lo = readStart(a);
        long long b = a;
        while (b < h && (writeStart(b + 1) <= lo || writeStart(b) >= lastEnd)) b++;
        if (b == a) {
            if (a + 1 < h && writeStart(a + 1) > readStart(a + 1) && writeStart(a) < lastEnd) return false;
            b = a + 1;
        }
        ends[count++] = b;
        a = b;
    }
    return true;
}

#if defined(__SSE2__)
// Samples p[0], p[2], p[4], p[6] (even) or p[1], p[3], p[5], p[7] (odd) of a row of 16-bit
// samples as four 32-bit lanes.
inline __m128i even4(const unsigned short* p) {
    return _mm_and_si128(_mm_loadu_si128((const __m128i*)p), _mm_set1_epi32(0xFFFF));
}
inline __m128i odd4(const unsigned short* p) { return _mm_srli_epi32(_mm_loadu_si128((const __m128i*)p), 16); }
inline __m128i absDiff4(__m128i a, __m128i b) {
    const __m128i d = _mm_sub_epi32(a, b), s = _mm_srai_epi32(d, 31);
    return _mm_sub_epi32(_mm_xor_si128(d, s), s);
}
// Lane by lane: ifSet where mask is all ones, else ifClear.
inline __m128i pick4(__m128i mask, __m128i ifSet, __m128i ifClear) {
    return _mm_or_si128(_mm_and_si128(mask, ifSet), _mm_andnot_si128(mask, ifClear));
}
// Lanes 0 to 3 (each within 0 .. 65535) to samples at p[0], p[step], p[2 * step], p[3 * step].
inline void store4(__m128i v, tLane* p, long long step) {
    p[0] = (unsigned short)_mm_extract_epi16(v, 0);
    p[step] = (unsigned short)_mm_extract_epi16(v, 2);
    p[2 * step] = (unsigned short)_mm_extract_epi16(v, 4);
    p[3 * step] = (unsigned short)_mm_extract_epi16(v, 6);
}
// clampI lane by lane.
inline __m128i clamp4(__m128i v) {
    const __m128i zero = _mm_setzero_si128();
    v = pick4(_mm_cmpgt_epi32(zero, v), zero, v);
    return pick4(_mm_cmpgt_epi32(v, _mm_set1_epi32(65535)), _mm_set1_epi32(65535), v);
}

// The load of a row with multipliers of 1, eight samples at a time: each sample less the
// black level (0 below it) into the channel of its column's colour (bits s0 for even
// columns, s1 for odd ones); lo and hi take in the samples' range. Returns the first column
// not done.
long long loadRowSse2(const unsigned short* row, long long w, unsigned int black, int s0, int s1,
                      unsigned long long* out, unsigned int& lo, unsigned int& hi) {
    const __m128i zero = _mm_setzero_si128(), sign = _mm_set1_epi16((short)0x8000);
    const __m128i blackV = _mm_set1_epi16((short)black);
    const __m128i evenQ = _mm_set_epi32(0, 0, -1, -1), shift0 = _mm_cvtsi32_si128(s0), shift1 = _mm_cvtsi32_si128(s1);
    // Range in signed lanes (samples with the top bit flipped).
    __m128i mn = _mm_set1_epi16(0x7FFF), mx = _mm_set1_epi16((short)0x8000);
    long long x = 0;
    for (; x + 7 < w; x += 8) {
        const __m128i v = _mm_loadu_si128((const __m128i*)(row + x));
        const __m128i flipped = _mm_xor_si128(v, sign);
        mn = _mm_min_epi16(mn, flipped);
        mx = _mm_max_epi16(mx, flipped);
        const __m128i d = _mm_subs_epu16(v, blackV);
        const __m128i halves[2] = {_mm_unpacklo_epi16(d, zero), _mm_unpackhi_epi16(d, zero)};
        for (int k = 0; k < 4; k++) {
            // Columns x + 2k (low quadword) and x + 2k + 1 (high quadword).
            const __m128i h = halves[k >> 1];
            const __m128i q = k & 1 ? _mm_unpackhi_epi32(h, zero) : _mm_unpacklo_epi32(h, zero);
            const __m128i placed = _mm_or_si128(_mm_and_si128(evenQ, _mm_sll_epi64(q, shift0)),
                                                _mm_andnot_si128(evenQ, _mm_sll_epi64(q, shift1)));
            _mm_storeu_si128((__m128i*)(out + x + 2 * k), placed);
        }
    }
    if (x) {
        alignas(16) short a[8], b[8];
        _mm_store_si128((__m128i*)a, mn);
        _mm_store_si128((__m128i*)b, mx);
        for (int k = 0; k < 8; k++) {
            const unsigned int l = (unsigned short)a[k] ^ 0x8000u, h = (unsigned short)b[k] ^ 0x8000u;
            lo = l < lo ? l : lo, hi = h > hi ? h : hi;
        }
    }
    return x;
}

// Steps 3 and 4 of the PPG on a Bayer pattern for row y, four sites at a time, from rows of
// own-colour samples (own[j], row y - 1 + j) and of greens after step 2 (green[j]), each
// readable 8 samples past either end. Green sites from xg and red or blue sites from xr,
// every other column, while all four lie before `end`; their lanes of row y's pixels (`row`)
// get the values. xg and xr come back as the first sites not done.
void chromaSitesSse2(const unsigned short* const own[3], const unsigned short* const green[3], long long& xg,
                     long long& xr, long long end, tLane* row, int hLane, int vLane, int dLane) {
    for (; xg + 6 < end; xg += 8) {
        const __m128i g = even4(green[1] + xg), g2 = _mm_add_epi32(g, g);
        // (colour at -d and +d + 2 green - green at -d and +d) >> 1, horizontally and vertically.
        auto estimate = [g2](__m128i cm, __m128i cp, __m128i gm, __m128i gp) {
            return _mm_srai_epi32(_mm_sub_epi32(_mm_sub_epi32(_mm_add_epi32(_mm_add_epi32(cm, cp), g2), gm), gp), 1);
        };
        const __m128i h = estimate(even4(own[1] + xg - 1), even4(own[1] + xg + 1), even4(green[1] + xg - 1),
                                   even4(green[1] + xg + 1));
        const __m128i v = estimate(even4(own[0] + xg), even4(own[2] + xg), even4(green[0] + xg), even4(green[2] + xg));
        store4(clamp4(h), row + 4 * xg + hLane, 8);
        store4(clamp4(v), row + 4 * xg + vLane, 8);
    }
    for (; xr + 6 < end; xr += 8) {
        const __m128i g = even4(green[1] + xr), g2 = _mm_add_epi32(g, g);
        __m128i guess[2], diff[2];
        for (int i = 0; i < 2; i++) {
            // Diagonal i: from upper left to lower right, then from upper right to lower left.
            const long long up = i ? 1 : -1, down = -up;
            const __m128i cm = even4(own[0] + xr + up), cp = even4(own[2] + xr + down);
            const __m128i gm = even4(green[0] + xr + up), gp = even4(green[2] + xr + down);
            diff[i] = _mm_add_epi32(_mm_add_epi32(absDiff4(cm, cp), absDiff4(gm, g)), absDiff4(gp, g));
            guess[i] = _mm_sub_epi32(_mm_sub_epi32(_mm_add_epi32(_mm_add_epi32(cm, cp), g2), gm), gp);
        }
        const __m128i one = _mm_srai_epi32(pick4(_mm_cmpgt_epi32(diff[0], diff[1]), guess[1], guess[0]), 1);
        const __m128i both = _mm_srai_epi32(_mm_add_epi32(guess[0], guess[1]), 2);
        store4(clamp4(pick4(_mm_cmpeq_epi32(diff[0], diff[1]), both, one)), row + 4 * xr + dLane, 8);
    }
}

// Step 2 of the PPG on a Bayer pattern, four sites at a time. Every sample the step reads is a
// photosite's own colour, so it works from rows of those: v[j] is row y - 3 + j, 16 bits a
// sample, readable 8 samples past either end. Sites go from x every other column while all
// four lie before `end`; the green goes to lane g1 of row y's pixels (`row`). Returns the
// first site not done (the row's last sites are the scalar loop's).
long long greenSitesSse2(const unsigned short* const v[7], long long x, long long end, tLane* row, int g1) {
    for (; x + 6 < end; x += 8) {
        const unsigned short* r = v[3] + x;
        const __m128i own = even4(r);
        // Per direction (horizontal, vertical): green at -1 and +1, own colour at -2 and +2,
        // green at -3 and +3.
        const __m128i gm[2] = {odd4(r - 2), even4(v[2] + x)}, gp[2] = {odd4(r), even4(v[4] + x)};
        const __m128i cm[2] = {even4(r - 2), even4(v[1] + x)}, cp[2] = {even4(r + 2), even4(v[5] + x)};
        const __m128i g3m[2] = {odd4(r - 4), even4(v[0] + x)}, g3p[2] = {odd4(r + 2), even4(v[6] + x)};
        __m128i guess[2], diff[2];
        for (int i = 0; i < 2; i++) {
            guess[i] = _mm_sub_epi32(
                _mm_sub_epi32(_mm_slli_epi32(_mm_add_epi32(_mm_add_epi32(gm[i], own), gp[i]), 1), cm[i]), cp[i]);
            const __m128i near =
                _mm_add_epi32(_mm_add_epi32(absDiff4(cm[i], own), absDiff4(cp[i], own)), absDiff4(gm[i], gp[i]));
            const __m128i far = _mm_add_epi32(absDiff4(g3p[i], gp[i]), absDiff4(g3m[i], gm[i]));
            diff[i] = _mm_add_epi32(_mm_add_epi32(_mm_slli_epi32(near, 1), near), _mm_slli_epi32(far, 1));
        }
        const __m128i vertical = _mm_cmpgt_epi32(diff[0], diff[1]);
        __m128i g = _mm_srai_epi32(pick4(vertical, guess[1], guess[0]), 2);
        const __m128i a = pick4(vertical, gp[1], gp[0]), b = pick4(vertical, gm[1], gm[0]);
        const __m128i aBelow = _mm_cmpgt_epi32(b, a);
        const __m128i lo = pick4(aBelow, a, b), hi = pick4(aBelow, b, a);
        g = pick4(_mm_cmpgt_epi32(lo, g), lo, g);
        g = pick4(_mm_cmpgt_epi32(g, hi), hi, g);
        store4(g, row + 4 * x + g1, 8);
    }
    return x;
}
#endif

// The scalar steps 2 to 4 of the PPG, one row of pixels as 16-bit lanes (see tLane) from site x
// to end, every other column; green is in lane g1.

// Step 2: green at red or blue sites (their colour in lane c), from the direction with the
// smaller gradients, kept between that direction's two greens.
void greenRow(tLane* row, long long w, int g1, int c, long long x, long long end) {
    const long long dirs[2] = {4, 4 * w};  // in lanes
    for (; x < end; x += 2) {
        tLane* p = row + 4 * x;
        const int own = p[c];
        int guess[2], diff[2];
        for (int i = 0; i < 2; i++) {
            const long long d = dirs[i];
            const int gm = p[g1 - d], gp = p[g1 + d], cm = p[c - 2 * d], cp = p[c + 2 * d];
            guess[i] = (gm + own + gp) * 2 - cm - cp;
            diff[i] = (std::abs(cm - own) + std::abs(cp - own) + std::abs(gm - gp)) * 3 +
                      (std::abs(p[g1 + 3 * d] - gp) + std::abs(p[g1 - 3 * d] - gm)) * 2;
        }
        const long long d = dirs[diff[0] > diff[1] ? 1 : 0];
        const int guessed = guess[diff[0] > diff[1] ? 1 : 0];
        p[g1] = (unsigned short)limitBetween(guessed >> 2, p[g1 + d], p[g1 - d]);
    }
}

// Step 3: red and blue at green sites, the colour in lane hLane from the horizontal neighbours
// and the one in vLane from the vertical ones.
void rbAtGreenRow(tLane* row, long long w, int g1, int hLane, int vLane, long long x, long long end) {
    const long long dirs[2] = {4, 4 * w};  // in lanes
    const int cl[2] = {hLane, vLane};
    for (; x < end; x += 2) {
        tLane* p = row + 4 * x;
        for (int i = 0; i < 2; i++) {
            const long long d = dirs[i];
            const int c = cl[i];
            const int v = (p[c - d] + p[c + d] + 2 * p[g1] - p[g1 - d] - p[g1 + d]) >> 1;
            p[c] = (unsigned short)clampI(v);
        }
    }
}

// Step 4: at red and blue sites the colour they lack (lane c), along the smoother diagonal.
void otherAtRedBlueRow(tLane* row, long long w, int g1, int c, long long x, long long end) {
    const long long diag[2] = {4 * (w + 1), 4 * (w - 1)};  // in lanes
    for (; x < end; x += 2) {
        tLane* p = row + 4 * x;
        const int own = p[g1];
        int guess[2], diff[2];
        for (int i = 0; i < 2; i++) {
            const long long d = diag[i];
            const int cm = p[c - d], cp = p[c + d], gm = p[g1 - d], gp = p[g1 + d];
            diff[i] = std::abs(cm - cp) + std::abs(gm - own) + std::abs(gp - own);
            guess[i] = cm + cp + 2 * own - gm - gp;
        }
        const int v = diff[0] != diff[1] ? guess[diff[0] > diff[1] ? 1 : 0] >> 1 : (guess[0] + guess[1]) >> 2;
        p[c] = (unsigned short)clampI(v);
    }
}

#if defined(__SSE2__)
// The first site at or after column t0 of a row whose sites start at x0, every other column.
inline long long siteFrom(long long x0, long long t0) { return t0 <= x0 ? x0 : x0 + ((t0 - x0 + 1) & ~1LL); }

// Bayer patterns go in column tiles of kTile: per worker seven rows of a tile (columns
// t0 - 8 .. t1 + 7 filled, 16 samples of room each side), rows of own-colour samples for
// step 2 (rows y - 3 .. y + 3, row r in slot r % 7) and own-colour and green rows for
// steps 3 and 4 (slots r % 3 and 3 + r % 3). Tiles keep the rows small (no more memory
// than the tone finishing takes after) and in the first-level cache.
struct sTileRows {
    static constexpr long long kTile = 2048, kStride = kTile + 32;
    _typebuf<unsigned short> rows;

    bool set(int workers) {
        if (!rows.set(workers * 7 * kStride)) return false;
        rows.zero();
        return true;
    }
    // Slot's row, indexed by column, of the tile starting at t0.
    unsigned short* row(int worker, long long slot, long long t0) const {
        return rows.ptr + (worker * 7 + slot) * kStride + 16 - t0;
    }
};

// The rows y0 .. y1 - 1 of a band tile by tile, each tile's rows in order: the rows a step
// reads around row y (y - halo .. y + halo) are filled as fill(r, t0, t1) before row(y, t0,
// end) runs, `end` keeping the sites halo columns clear of the right edge.
template <class Fill, class Row>
void walkTiles(long long y0, long long y1, long long w, long long halo, Fill fill, Row row) {
    for (long long t0 = 0; t0 < w; t0 += sTileRows::kTile) {
        const long long t1 = t0 + sTileRows::kTile < w ? t0 + sTileRows::kTile : w;
        const long long end = t1 < w - halo ? t1 : w - halo;
        for (long long r = y0 - halo; r < y0 + halo; r++) fill(r, t0, t1);
        for (long long y = y0; y < y1; y++) {
            fill(y + halo, t0, t1);
            row(y, t0, end);
        }
    }
}
#endif

// The pixel grouping's state, shared by its steps. Every step works in row bands side by
// side: a step writes only what no other band of it reads (its own channel at its own sites),
// so the bands meet only between steps. Per-worker state is indexed by the worker
// (rawbands.h).
struct sPpg {
    sInterpolateInfo& info;
    const sCrop& crop;
    const cBayerFilter* const f;
    const long long w, h;
    double mul[4];
    const unsigned int black;
    unsigned long long* const out;
    // Steps 2 to 4 address channels as 16-bit lanes (see tLane).
    tLane* const lanes;
    const int g1 = laneOf(1);
    const bool bayer;

    // Step 1's samples: the frame, a copy of it, or (in place) the frame inside the output.
    const unsigned short* raw;
    _typebuf<unsigned short> rawCopy;
    bool inPlace = false;
    _typebuf<long long> runs;  // the ends of the load's runs of rows (see planInPlaceLoad)
    long long runCount = 0;
    _typebuf<unsigned short> aside;  // a lone run's own samples
    // In place: the border walk's pixels (output index and value) in its order; rows
    // before y hold ringBefore(y) of them.
    _typebuf<long long> ringAt;
    _typebuf<unsigned long long> ringPixel;
    // A pattern two columns wide: each row alternates two colours.
    bool twoColumns = true;
    unsigned int bandMin[kMaxRawBands], bandMax[kMaxRawBands];
#if defined(__SSE2__)
    sTileRows tiles;
#endif

    sPpg(sInterpolateInfo& in, const sCrop& c)
        : info(in), crop(c), f(in.filter), w(c.w), h(c.h), black(in.black > 65535 ? 65535 : in.black),
          out(in.pixels), lanes((tLane*)in.pixels), bayer(isBayer(in.filter)), raw(in.raw) {
        safeMuls(in.mul, mul);
        for (int y = 0; y < 24; y++)
            for (int x = 2; x < 6; x++) twoColumns = twoColumns && f->color(x, y) == f->color(x & 1, y);
    }

    long long ringBefore(long long y) const {
        const long long ringSide = w > 8 ? 8 : w, lastFull = h - 4 > 4 ? h - 4 : 4;
        const long long full = (y < 4 ? y : 4) + (y > lastFull ? y - lastFull : 0);
        return full * w + (y - full) * ringSide;
    }

    // A frame inside the output loads in planned runs, its border pixels made beforehand
    // (they need the samples); without a plan it is copied out first.
    bool prepareSource() {
        const uintptr_t rawBegin = (uintptr_t)raw, rawEnd = rawBegin + (uintptr_t)(2 * info.width * info.height);
        const bool overlap = rawBegin < (uintptr_t)(out + w * h) && (uintptr_t)out < rawEnd;
        if (!runs.set(h)) return false;
        inPlace = overlap && planInPlaceLoad(raw, info.width, out, crop, runs.ptr, runCount);
        if (!inPlace) runs.ptr[0] = h, runCount = 1;
        if (overlap && !inPlace) {
            if (!rawCopy.set(raw, info.width * info.height)) return false;
            raw = rawCopy.ptr;
        }
        if (!inPlace) return true;
        const long long n = ringBefore(h);
        if (!ringAt.set(n) || !ringPixel.set(n)) return false;
        return rawRowBands(0, h,
                           [&](int, long long y0, long long y1) {
                               long long k = ringBefore(y0);
                               walkBorder(4, raw, info.width, crop, f, info.flip, mul, (unsigned short)black, y0, y1,
                                          [&](long long i, unsigned long long p) {
                                              ringAt.ptr[k] = i, ringPixel.ptr[k++] = p;
                                          });
                           }) &&
               aside.set(w);
    }

    // 1. Each sample into the channel of its colour; mn and mx get the samples' range.
    bool load(unsigned int& mn, unsigned int& mx) {
        for (int i = 0; i < kMaxRawBands; i++) bandMin[i] = 65535, bandMax[i] = 0;
        // A run of one row is loaded by the caller's thread alone (rawbands.h), so `aside` is
        // never shared.
        for (long long i = 0; i < runCount; i++)
            if (!rawRowBands(i ? runs.ptr[i - 1] : 0, runs.ptr[i],
                             [this](int band, long long y0, long long y1) { loadBand(band, y0, y1); }))
                return false;
        mn = 65535, mx = 0;
        for (int i = 0; i < kMaxRawBands; i++) {
            if (bandMin[i] < mn) mn = bandMin[i];
            if (bandMax[i] > mx) mx = bandMax[i];
        }
        return true;
    }

    void loadBand(int band, long long y0, long long y1) {
        unsigned int lo = 65535, hi = 0;
        for (long long y = y0; y < y1; y++) {
            const unsigned short* row = raw + (crop.top + y) * info.width + crop.left;
            unsigned long long* o = out + y * w;
            if (inPlace && y1 - y0 == 1) row = (const unsigned short*)memcpy(aside.ptr, row, (size_t)w * 2);
            const int cs[2] = {f->color(0, (int)y), f->color(1, (int)y)};
            const double ms[2] = {mul[cs[0]], mul[cs[1]]};
            if (twoColumns && ms[0] == 1.0 && ms[1] == 1.0) {
                // Multipliers of 1 (the sample less the black level is already in range): in integers.
                const int s0 = 16 * cs[0], s1 = 16 * cs[1];
                long long x = 0;
#if defined(__SSE2__)
                x = loadRowSse2(row, w, black, s0, s1, o, lo, hi);
#endif
                for (; x + 1 < w; x += 2) {
                    const unsigned int a = row[x], b = row[x + 1];
                    lo = a < lo ? a : lo, hi = a > hi ? a : hi;
                    lo = b < lo ? b : lo, hi = b > hi ? b : hi;
                    o[x] = (unsigned long long)above(a, black) << s0;
                    o[x + 1] = (unsigned long long)above(b, black) << s1;
                }
                if (x < w) {
                    const unsigned int a = row[x];
                    lo = a < lo ? a : lo, hi = a > hi ? a : hi;
                    o[x] = (unsigned long long)above(a, black) << s0;
                }
                continue;
            }
            for (long long x = 0; x < w; x++) {
                unsigned int s = row[x];
                if (s < lo) lo = s;
                if (s > hi) hi = s;
                const int k = (int)(x & 1);
                const int c = twoColumns ? cs[k] : f->color((int)x, (int)y);
                o[x] = (unsigned long long)rawClamp16(above(s, black) * (twoColumns ? ms[k] : mul[c])) << (16 * c);
            }
        }
        if (lo < bandMin[band]) bandMin[band] = lo;
        if (hi > bandMax[band]) bandMax[band] = hi;
    }

    // The tile rows of steps 2 to 4 (steps 3 and 4 have at least as many workers as step 2).
    bool prepareTiles() {
#if defined(__SSE2__)
        if (bayer && h > 2) return tiles.set(rawBandCount(h - 2));
#endif
        return true;
    }

    // The first red or blue site of row y from column 3, its green site, its red or blue site
    // from column 1.
    long long redBlueFrom3(long long y) const { return 3 + (f->color(3, (int)y) & 1); }
    long long greenSite(long long y) const { return 1 + (f->color(2, (int)y) & 1); }
    long long redBlueSite(long long y) const { return 1 + (f->color(1, (int)y) & 1); }

    // 2. Green at red and blue sites: the gradient-smaller of the two directions.
    void greenBand(int worker, long long y0, long long y1) {
#if defined(__SSE2__)
        if (bayer) {
            // Step 2 reads only the photosites' own samples, so the order of sites is free.
            auto fill = [&](long long r, long long t0, long long t1) {
                fillTile(r, t0, t1, tiles.row(worker, r % 7, t0), nullptr);
            };
            walkTiles(y0, y1, w, 3, fill, [&](long long y, long long t0, long long end) {
                const long long x0 = redBlueFrom3(y);
                const unsigned short* v[7];
                for (int j = 0; j < 7; j++) v[j] = tiles.row(worker, (y - 3 + j) % 7, t0);
                tLane* row = lanes + 4 * y * w;
                const long long x = greenSitesSse2(v, siteFrom(x0, t0), end, row, g1);
                greenRow(row, w, g1, laneOf(f->color((int)x0, (int)y)), x, end);
            });
            return;
        }
#endif
        for (long long y = y0; y < y1; y++) {
            const long long x0 = redBlueFrom3(y);
            greenRow(lanes + 4 * y * w, w, g1, laneOf(f->color((int)x0, (int)y)), x0, w - 3);
        }
    }

    // 3. Red and blue at green sites, from the horizontal and the vertical neighbours; on a
    // Bayer pattern also 4 (see otherBand). Neither step reads what the other writes there
    // (each reads the photosites' own colours and the greens of step 2; step 3 writes at
    // green sites, step 4 the colour a red or blue site lacks), so one pass does both; other
    // patterns keep two.
    void chromaBand(int worker, long long y0, long long y1) {
#if defined(__SSE2__)
        if (bayer && tiles.rows.ptr) {
            auto fill = [&](long long r, long long t0, long long t1) {
                fillTile(r, t0, t1, tiles.row(worker, r % 3, t0), tiles.row(worker, 3 + r % 3, t0));
            };
            walkTiles(y0, y1, w, 1, fill, [&](long long y, long long t0, long long end) {
                const unsigned short* own[3];
                const unsigned short* green[3];
                for (int j = 0; j < 3; j++) {
                    own[j] = tiles.row(worker, (y - 1 + j) % 3, t0);
                    green[j] = tiles.row(worker, 3 + (y - 1 + j) % 3, t0);
                }
                long long xg = siteFrom(greenSite(y), t0), xr = siteFrom(redBlueSite(y), t0);
                const int c0 = f->color((int)xg + 1, (int)y), cr = 2 - f->color((int)xr, (int)y);
                tLane* row = lanes + 4 * y * w;
                chromaSitesSse2(own, green, xg, xr, end, row, laneOf(c0), laneOf(2 - c0), laneOf(cr));
                rbAtGreenRow(row, w, g1, laneOf(c0), laneOf(2 - c0), xg, end);
                otherAtRedBlueRow(row, w, g1, laneOf(cr), xr, end);
            });
            return;
        }
#endif
        for (long long y = y0; y < y1; y++) {
            const long long xg = greenSite(y);
            const int c0 = f->color((int)xg + 1, (int)y);
            rbAtGreenRow(lanes + 4 * y * w, w, g1, laneOf(c0), laneOf(2 - c0), xg, w - 1);
            if (bayer) otherBand(y, y + 1);
        }
    }

    // 4. Blue at red sites and red at blue sites, along the smoother diagonal.
    void otherBand(long long y0, long long y1) {
        for (long long y = y0; y < y1; y++) {
            const long long xr = redBlueSite(y);
            otherAtRedBlueRow(lanes + 4 * y * w, w, g1, laneOf(2 - f->color((int)xr, (int)y)), xr, w - 1);
        }
    }

#if defined(__SSE2__)
    // A tile's columns t0 .. t1 - 1 and 8 more each side, within the row.
    void tileColumns(long long t0, long long t1, long long& from, long long& to) const {
        from = t0 > 8 ? t0 - 8 : 0;
        to = t1 + 8 < w ? t1 + 8 : w;
    }
    // Row r's own samples over a tile's columns into a tile row, and its greens into another
    // when `green` is given.
    void fillTile(long long r, long long t0, long long t1, unsigned short* own, unsigned short* green) const {
        const tLane* in = lanes + 4 * r * w;
        const int l[2] = {laneOf(f->color(0, (int)r)), laneOf(f->color(1, (int)r))};
        long long from, to;
        tileColumns(t0, t1, from, to);
        if (!green)
            for (long long x = from; x < to; x++) own[x] = in[4 * x + l[x & 1]];
        else
            for (long long x = from; x < to; x++) own[x] = in[4 * x + l[x & 1]], green[x] = in[4 * x + g1];
    }
#endif

    // 5. Colour matrix or channel order, alpha; flipped, rows swapped in pairs on the way
    // (rows y0 .. y1 - 1 of the top half then).
    void finishBand(const double (*matrix)[3], long long y0, long long y1) {
        auto ordered = [matrix](unsigned long long p) {
            unsigned int r = chan(p, 0), g = chan(p, 1), b = chan(p, 2);
            if (matrix) {
                double R = r, G = g, B = b;
                r = rawClamp16(matrix[0][0] * R + matrix[0][1] * G + matrix[0][2] * B);
                g = rawClamp16(matrix[1][0] * R + matrix[1][1] * G + matrix[1][2] * B);
                b = rawClamp16(matrix[2][0] * R + matrix[2][1] * G + matrix[2][2] * B);
            }
            return rgbPixel(r, g, b);
        };
        for (long long y = y0; y < y1; y++) {
            unsigned long long* row = out + y * w;
            unsigned long long* other = info.flip ? out + (h - 1 - y) * w : row;
            long long x = 0;
#if defined(__SSE2__) && !(defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__)
            // Without a matrix the order is a lane shuffle (codes 0, 1, 2 to blue, green,
            // red) and alpha set, two pixels at a time.
            const __m128i alpha = _mm_set1_epi64x((long long)kAlpha);
            auto order2 = [alpha](const unsigned long long* p) {
                const __m128i v = _mm_loadu_si128((const __m128i*)p);
                const __m128i lo = _mm_shufflelo_epi16(v, _MM_SHUFFLE(3, 0, 1, 2));
                return _mm_or_si128(_mm_shufflehi_epi16(lo, _MM_SHUFFLE(3, 0, 1, 2)), alpha);
            };
            for (; !matrix && x + 1 < w; x += 2) {
                const __m128i a = order2(row + x), b = order2(other + x);
                _mm_storeu_si128((__m128i*)(row + x), b);
                _mm_storeu_si128((__m128i*)(other + x), a);
            }
#endif
            if (other == row) {
                for (; x < w; x++) row[x] = ordered(row[x]);
                continue;
            }
            for (; x < w; x++) {
                const unsigned long long t = row[x];
                row[x] = ordered(other[x]);
                other[x] = ordered(t);
            }
        }
    }

    // 6. The outer four pixels.
    void border(const sMarginInfo* margins) {
        if (inPlace)
            for (long long k = 0; k < ringAt.count; k++) out[ringAt.ptr[k]] = ringPixel.ptr[k];
        else
            interpolateBorder(4, raw, out, info.width, info.height, f, info.flip, mul, margins, (unsigned short)black);
    }
};

}  // namespace

void interpolateBorder(int border, const unsigned short* raw, unsigned long long* pixels, long long width,
                       long long height, const cBayerFilter* filter, bool flip, const double* mulIn,
                       const sMarginInfo* margins, unsigned short black) {
    sCrop crop;
    if (!raw || !pixels || !filter || border < 1 || width < 1 || height < 1 || !crop.set(width, height, margins))
        return;
    double mul[4];
    safeMuls(mulIn, mul);
    walkBorder(border, raw, width, crop, filter, flip, mul, black, 0, crop.h,
               [pixels](long long i, unsigned long long p) { pixels[i] = p; });
}

bool interpolatePPG(sInterpolateInfo& info, const sMarginInfo* margins, const double (*matrix)[3]) {
    if (!usable(info, true)) return false;
    // Code 3 would address a channel that does not exist in the three-colour passes.
    if (info.filter->usesFourthColor()) return false;
    sCrop crop;
    if (!openCrop(info, margins, crop)) return true;
    sPpg p(info, crop);
    const long long h = crop.h;
    if (!p.prepareSource()) return false;
    unsigned int mn, mx;
    if (!p.load(mn, mx) || !report(info.progress, 20.0) || !p.prepareTiles()) return false;
    if (!rawRowBands(3, h - 3, [&p](int worker, long long y0, long long y1) { p.greenBand(worker, y0, y1); }) ||
        !report(info.progress, 40.0))
        return false;
    if (!rawRowBands(1, h - 1, [&p](int worker, long long y0, long long y1) { p.chromaBand(worker, y0, y1); }) ||
        !report(info.progress, 60.0))
        return false;
    if (!p.bayer && !rawRowBands(1, h - 1, [&p](int, long long y0, long long y1) { p.otherBand(y0, y1); }))
        return false;
    if (!report(info.progress, 80.0)) return false;
    if (!rawRowBands(0, info.flip ? (h + 1) / 2 : h,
                     [&p, matrix](int, long long y0, long long y1) { p.finishBand(matrix, y0, y1); }) ||
        !report(info.progress, 100.0))
        return false;
    info.minRaw = mn;
    info.maxRaw = mx;
    p.border(margins);
    return true;
}

bool interpolateLinear(sInterpolateInfo& info, const sMarginInfo* margins) {
    if (!usable(info, true)) return false;
    sCrop crop;
    if (!openCrop(info, margins, crop)) return true;
    double mul[4];
    safeMuls(info.mul, mul);
    scanMinMax(info, crop, info.minRaw, info.maxRaw);
    return walkBlocks(info, crop, mul, [](int own, double ownScaled, const double* sum, const int* count) {
        unsigned int v[3];
        for (int c = 0; c < 3; c++)
            v[c] = c == own ? rawClamp16(ownScaled) : count[c] ? rawClamp16(sum[c] / count[c]) : 0;
        return rgbPixel(v[0], v[1], v[2]);
    });
}

bool interpolateLinearNonRGB(sInterpolateInfo& info, const double (&mix)[3][4], const sMarginInfo* margins) {
    if (!usable(info, true)) return false;
    sCrop crop;
    if (!openCrop(info, margins, crop)) return true;
    double mul[4];
    safeMuls(info.mul, mul);
    scanMinMax(info, crop, info.minRaw, info.maxRaw);
    // Per photosite of a differing colour the weight counts once, so the sums run over
    // colours with their counts.
    return walkBlocks(info, crop, mul, [&mix](int own, double ownScaled, const double* sum, const int* count) {
        unsigned int v[3];
        for (int k = 0; k < 3; k++) {
            double acc = mix[k][own] * ownScaled, wsum = mix[k][own];
            for (int c = 0; c < 4; c++) {
                if (c == own) continue;
                acc += mix[k][c] * sum[c];
                wsum += mix[k][c] * count[c];
            }
            v[k] = rawClamp16(wsum != 0.0 ? acc / wsum : acc);
        }
        return rgbPixel(v[0], v[1], v[2]);
    });
}

bool interpolateRawAsIs(sInterpolateInfo& info, double scale, const sMarginInfo* margins) {
    if (!usable(info, false)) return false;
    sCrop crop;
    if (!openCrop(info, margins, crop)) return true;
    scanMinMax(info, crop, info.minRaw, info.maxRaw);
    if (scale == 0.0) scale = 1.0;
    scale = rawClampMul(scale);
    for (long long y = 0; y < crop.h; y++) {
        const unsigned short* row = info.raw + (crop.top + y) * info.width + crop.left;
        unsigned long long* o = info.pixels + (info.flip ? crop.h - 1 - y : y) * crop.w;
        for (long long x = 0; x < crop.w; x++) {
            unsigned int v = rawClamp16(above(row[x], info.black) * scale);
            o[x] = rgbPixel(v, v, v);
        }
        if (!report(info.progress, 100.0 * (double)y / (double)crop.h)) return false;
    }
    return true;
}

bool interpolateNone(sInterpolateInfo& info, const sMarginInfo* margins) {
    if (!usable(info, true)) return false;
    sCrop crop;
    if (!openCrop(info, margins, crop)) return true;
    double mul[4];
    safeMuls(info.mul, mul);
    scanMinMax(info, crop, info.minRaw, info.maxRaw);
    for (long long y = 0; y < crop.h; y++) {
        const unsigned short* row = info.raw + (crop.top + y) * info.width + crop.left;
        unsigned long long* o = info.pixels + (info.flip ? crop.h - 1 - y : y) * crop.w;
        for (long long x = 0; x < crop.w; x++) {
            int c = info.filter->color((int)x, (int)y) & 3;
            unsigned int v = rawClamp16(above(row[x], info.black) * mul[c]);
            unsigned int ch[3] = {0, 0, 0};
            ch[c == 3 ? 1 : c] = v;
            o[x] = rgbPixel(ch[0], ch[1], ch[2]);
        }
        if (!report(info.progress, 100.0 * (double)y / (double)crop.h)) return false;
    }
    return true;
}

void interpolateBorderRaw(int border, const unsigned short* raw, unsigned long long* pixels, long long width,
                          long long height, const cBayerFilter* filter, const double* mulIn) {
    if (!raw || !pixels || !filter || border < 1 || width < 1 || height < 1) return;
    double mul[4];
    safeMuls(mulIn, mul);
    for (long long y = 0; y < height; y++) {
        const bool fullRow = y < border || y >= height - border;
        for (long long x = 0; x < width; x++) {
            if (!fullRow && x == border && width - border > x) x = width - border;
            double sum[4] = {0, 0, 0, 0};
            int count[4] = {0, 0, 0, 0};
            for (long long yy = y - 1; yy <= y + 1; yy++) {
                if (yy < 0 || yy >= height) continue;
                for (long long xx = x - 1; xx <= x + 1; xx++) {
                    if (xx < 0 || xx >= width) continue;
                    int c = filter->color((int)xx, (int)yy) & 3;
                    sum[c] += raw[yy * width + xx];
                    count[c]++;
                }
            }
            int own = filter->color((int)x, (int)y) & 3;
            unsigned long long p = 0;
            for (int c = 0; c < 4; c++) {
                double v = c == own || !count[c] ? raw[y * width + x] * mul[own] : sum[c] * mul[c] / count[c];
                if (c == 3 && !count[c] && c != own) v = 0;
                p |= (unsigned long long)rawClamp16(v) << (16 * c);
            }
            pixels[y * width + x] = p;
        }
    }
}

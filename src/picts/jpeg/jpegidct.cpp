// Accurate integer inverse DCT. The 1-D transform is the Loeffler-Ligtenberg-Moschytz
// factorisation (12 multiplies): an even part rotating coefficients 2 and 6 and an odd part
// sharing one rotation by sqrt(2)·cos(3π/16). Columns first, keeping PASS1 extra bits, then rows.
#include "picts/jpeg/jpegidct.h"

#include <atomic>
#include <cstring>

#if defined(__GNUC__) && defined(__x86_64__)
#define QMX_IDCT_AVX2 1
#include <cpuid.h>
#include <immintrin.h>
#endif

const unsigned char kJZigzag[64 + 16] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33,
    40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36,
    29, 22, 15, 23, 30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54,
    47, 55, 62, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63};

namespace {

const int kConstBits = 13;

// round(x · 2^13) of the rotation factors.
constexpr int fix(double x) { return (int)(x * (1 << kConstBits) + 0.5); }
const int F0_298 = fix(0.298631336);
const int F0_390 = fix(0.390180644);
const int F0_541 = fix(0.541196100);
const int F0_765 = fix(0.765366865);
const int F0_899 = fix(0.899976223);
const int F1_175 = fix(1.175875602);
const int F1_501 = fix(1.501321110);
const int F1_847 = fix(1.847759065);
const int F1_961 = fix(1.961570560);
const int F2_053 = fix(2.053119869);
const int F2_562 = fix(2.562915447);
const int F3_072 = fix(3.072711026);

// 64-bit arithmetic: hostile coefficients cannot overflow, and scalar multiplies cost the same.
typedef long long tAcc;
inline tAcc descale(tAcc x, int n) { return (x + ((tAcc)1 << (n - 1))) >> n; }

// One 1-D pass over 8 inputs (already dequantised) giving 8 outputs before descaling.
struct sIdct1D {
    tAcc o[8];
    inline void run(tAcc i0, tAcc i1, tAcc i2, tAcc i3, tAcc i4, tAcc i5, tAcc i6, tAcc i7) {
        // Even part.
        tAcc z1 = (i2 + i6) * F0_541;
        tAcc t2 = z1 - i6 * F1_847;
        tAcc t3 = z1 + i2 * F0_765;
        tAcc t0 = (i0 + i4) * (1 << kConstBits);
        tAcc t1 = (i0 - i4) * (1 << kConstBits);
        tAcc e10 = t0 + t3, e13 = t0 - t3, e11 = t1 + t2, e12 = t1 - t2;
        // Odd part.
        tAcc a0 = i7, a1 = i5, a2 = i3, a3 = i1;
        tAcc y1 = a0 + a3, y2 = a1 + a2, y3 = a0 + a2, y4 = a1 + a3;
        tAcc y5 = (y3 + y4) * F1_175;
        a0 *= F0_298;
        a1 *= F2_053;
        a2 *= F3_072;
        a3 *= F1_501;
        y1 *= -F0_899;
        y2 *= -F2_562;
        y3 = y3 * -F1_961 + y5;
        y4 = y4 * -F0_390 + y5;
        a0 += y1 + y3;
        a1 += y2 + y4;
        a2 += y2 + y3;
        a3 += y1 + y4;
        o[0] = e10 + a3;
        o[7] = e10 - a3;
        o[1] = e11 + a2;
        o[6] = e11 - a2;
        o[2] = e12 + a1;
        o[5] = e12 - a1;
        o[3] = e13 + a0;
        o[4] = e13 - a0;
    }
};

inline unsigned short clampSample(tAcc v, int maxv) {
    return (unsigned short)(v < 0 ? 0 : (v > maxv ? maxv : v));
}

// 8-bit samples: the same transform on a whole row of 8 columns at once (one 8 x 32-bit
// vector), in unsigned arithmetic that wraps instead of overflowing on hostile coefficients
// (valid data never comes near). Built for AVX2 and for the baseline instruction set.
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wpsabi"  // the vectors never cross a non-inlined call
#elif defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wpsabi"  // the vectors never cross a non-inlined call
#endif
typedef unsigned int tVecU __attribute__((vector_size(32)));
typedef int tVecS __attribute__((vector_size(32)));


__attribute__((always_inline)) inline tVecU splat(unsigned v) { return tVecU{v, v, v, v, v, v, v, v}; }

// v[k] holds coefficient row k (lanes = the 8 positions across); out[r] the transformed rows.
__attribute__((always_inline)) inline void idctRows(const tVecU* v, tVecU* out, int shift, unsigned round) {
    tVecU z1 = (v[2] + v[6]) * splat(F0_541);
    tVecU t2 = z1 - v[6] * splat(F1_847);
    tVecU t3 = z1 + v[2] * splat(F0_765);
    tVecU t0 = (v[0] + v[4]) << kConstBits;
    tVecU t1 = (v[0] - v[4]) << kConstBits;
    tVecU r = splat(round);
    tVecU e10 = t0 + t3 + r, e13 = t0 - t3 + r, e11 = t1 + t2 + r, e12 = t1 - t2 + r;
    tVecU y1 = v[7] + v[1], y2 = v[5] + v[3], y3 = v[7] + v[3], y4 = v[5] + v[1];
    tVecU y5 = (y3 + y4) * splat(F1_175);
    tVecU a0 = v[7] * splat(F0_298), a1 = v[5] * splat(F2_053), a2 = v[3] * splat(F3_072),
          a3 = v[1] * splat(F1_501);
    y1 *= splat((unsigned)-F0_899);
    y2 *= splat((unsigned)-F2_562);
    y3 = y3 * splat((unsigned)-F1_961) + y5;
    y4 = y4 * splat((unsigned)-F0_390) + y5;
    a0 += y1 + y3;
    a1 += y2 + y4;
    a2 += y2 + y3;
    a3 += y1 + y4;
    out[0] = (tVecU)((tVecS)(e10 + a3) >> shift);
    out[7] = (tVecU)((tVecS)(e10 - a3) >> shift);
    out[1] = (tVecU)((tVecS)(e11 + a2) >> shift);
    out[6] = (tVecU)((tVecS)(e11 - a2) >> shift);
    out[2] = (tVecU)((tVecS)(e12 + a1) >> shift);
    out[5] = (tVecU)((tVecS)(e12 - a1) >> shift);
    out[3] = (tVecU)((tVecS)(e13 + a0) >> shift);
    out[4] = (tVecU)((tVecS)(e13 - a0) >> shift);
}

// 8 x 8 transpose in three steps of swapping off-diagonal blocks (4, 2, then 1 wide).
__attribute__((always_inline)) inline void transpose(tVecU* m) {
    for (int i = 0; i < 4; i++) {
        tVecU a = m[i], b = m[i + 4];
        m[i] = __builtin_shufflevector(a, b, 0, 1, 2, 3, 8, 9, 10, 11);
        m[i + 4] = __builtin_shufflevector(a, b, 4, 5, 6, 7, 12, 13, 14, 15);
    }
    static const int kPairs2[4] = {0, 1, 4, 5};
    for (int i : kPairs2) {
        tVecU a = m[i], b = m[i + 2];
        m[i] = __builtin_shufflevector(a, b, 0, 1, 8, 9, 4, 5, 12, 13);
        m[i + 2] = __builtin_shufflevector(a, b, 2, 3, 10, 11, 6, 7, 14, 15);
    }
    static const int kPairs1[4] = {0, 2, 4, 6};
    for (int i : kPairs1) {
        tVecU a = m[i], b = m[i + 1];
        m[i] = __builtin_shufflevector(a, b, 0, 8, 2, 10, 4, 12, 6, 14);
        m[i + 1] = __builtin_shufflevector(a, b, 1, 9, 3, 11, 5, 13, 7, 15);
    }
}

// kClear: the coefficients are left zero once loaded (the caller's block is ready for the next).
template <bool kClear>
__attribute__((always_inline)) inline void idct8bitBody(short* coef, const unsigned short* quant,
                                                       unsigned short* out, long long stride) {
    const int pass1 = 2;
    tVecU in[8], mid[8], res[8];
    typedef short tHalfS __attribute__((vector_size(16)));
    typedef unsigned short tHalfU __attribute__((vector_size(16)));
    for (int k = 0; k < 8; k++) {
        tHalfS c;
        tHalfU q;
        memcpy(&c, coef + k * 8, sizeof(c));
        memcpy(&q, quant + k * 8, sizeof(q));
        in[k] = (tVecU)(__builtin_convertvector(c, tVecS) * __builtin_convertvector(q, tVecS));
        if (kClear) memset(coef + k * 8, 0, sizeof(c));
    }
    // Columns (lanes) first; mid[r] is then row r of the half-transformed block.
    idctRows(in, mid, kConstBits - pass1, 1u << (kConstBits - pass1 - 1));
    transpose(mid);
    // Rows; the level shift rides on the rounding term.
    const int shift = kConstBits + pass1 + 3;
    idctRows(mid, res, shift, (1u << (shift - 1)) + (128u << shift));
    transpose(res);
    const tVecS zero = {0, 0, 0, 0, 0, 0, 0, 0};
    const tVecS top = {255, 255, 255, 255, 255, 255, 255, 255};
    for (int r = 0; r < 8; r++) {
        tVecS v = (tVecS)res[r];
        v &= ~(v < zero);
        tVecS over = v > top;
        v = (v & ~over) | (top & over);
        typedef unsigned short tHalfU __attribute__((vector_size(16)));
        tHalfU h = __builtin_convertvector(v, tHalfU);
        memcpy(out + r * stride, &h, sizeof(h));
    }
}

typedef void (*tIdct8)(const short*, const unsigned short*, unsigned short*, long long);
typedef void (*tIdct8Clear)(short*, const unsigned short*, unsigned short*, long long);

// The same transform built for the baseline instruction set and for AVX2, chosen at run time.
void idct8bitBase(const short* coef, const unsigned short* quant, unsigned short* out, long long stride) {
    idct8bitBody<false>(const_cast<short*>(coef), quant, out, stride);
}
void idct8bitClearBase(short* coef, const unsigned short* quant, unsigned short* out, long long stride) {
    idct8bitBody<true>(coef, quant, out, stride);
}

#ifdef QMX_IDCT_AVX2
__attribute__((target("avx2"))) void idct8bitAvx2(const short* coef, const unsigned short* quant,
                                                  unsigned short* out, long long stride) {
    idct8bitBody<false>(const_cast<short*>(coef), quant, out, stride);
}
__attribute__((target("avx2"))) void idct8bitClearAvx2(short* coef, const unsigned short* quant,
                                                       unsigned short* out, long long stride) {
    idct8bitBody<true>(coef, quant, out, stride);
}
#endif

#ifdef QMX_IDCT_AVX2
// Two blocks at once on 16-bit lanes: each 128-bit half of a register holds one row of one block,
// so that every step works on the halves alike. The rotations are folded into pairs of factors
// (a·x + b·y, one multiply-add), exact modulo 2^32 like the 32-bit transform; pass one's results
// fit 16 bits for coefficients of real 8-bit pictures (dequantised within ±1023 the sums stay
// below 2^15), so both transforms give the same samples there.
// Factors of coefficients 1, 3, 5 and 7 (rows) in the odd part's outputs for output rows 0/7,
// 1/6, 2/5 and 3/4 (columns): the products and sums of the 12-multiply form multiplied out.
const short kOdd[4][4] = {
    {F1_501 - F0_899 - F0_390 + F1_175, F1_175, F1_175 - F0_390, F1_175 - F0_899},
    {F1_175, F3_072 - F2_562 - F1_961 + F1_175, F1_175 - F2_562, F1_175 - F1_961},
    {F1_175 - F0_390, F1_175 - F2_562, F2_053 - F2_562 - F0_390 + F1_175, F1_175},
    {F1_175 - F0_899, F1_175 - F1_961, F1_175, F0_298 - F0_899 - F1_961 + F1_175},
};

__attribute__((target("avx2"), always_inline)) inline __m256i pairOf(int a, int b) {
    return _mm256_set1_epi32((int)((unsigned)(unsigned short)a | (unsigned)b << 16));
}

// One 1-D pass over v[0..7] (16-bit rows), the 32-bit sums descaled by `shift` after `round`.
__attribute__((target("avx2"), always_inline)) inline void idctPass16(const __m256i* v, __m256i* out, int shift,
                                                                   int round) {
    const __m128i sh = _mm_cvtsi32_si128(shift);
    const __m256i rnd = _mm256_set1_epi32(round);
    __m256i o[2][8];
    for (int h = 0; h < 2; h++) {
        // Coefficient pairs side by side for the multiply-adds: columns 0-3, then 4-7.
        __m256i p04 = h ? _mm256_unpackhi_epi16(v[0], v[4]) : _mm256_unpacklo_epi16(v[0], v[4]);
        __m256i p26 = h ? _mm256_unpackhi_epi16(v[2], v[6]) : _mm256_unpacklo_epi16(v[2], v[6]);
        __m256i p13 = h ? _mm256_unpackhi_epi16(v[1], v[3]) : _mm256_unpacklo_epi16(v[1], v[3]);
        __m256i p57 = h ? _mm256_unpackhi_epi16(v[5], v[7]) : _mm256_unpacklo_epi16(v[5], v[7]);
        __m256i t0 = _mm256_add_epi32(_mm256_madd_epi16(p04, pairOf(1 << kConstBits, 1 << kConstBits)), rnd);
        __m256i t1 = _mm256_add_epi32(_mm256_madd_epi16(p04, pairOf(1 << kConstBits, -(1 << kConstBits))), rnd);
        __m256i t2 = _mm256_madd_epi16(p26, pairOf(F0_541, F0_541 - F1_847));
        __m256i t3 = _mm256_madd_epi16(p26, pairOf(F0_541 + F0_765, F0_541));
        __m256i e10 = _mm256_add_epi32(t0, t3), e13 = _mm256_sub_epi32(t0, t3);
        __m256i e11 = _mm256_add_epi32(t1, t2), e12 = _mm256_sub_epi32(t1, t2);
        __m256i a[4];
        for (int j = 0; j < 4; j++)
            a[j] = _mm256_add_epi32(_mm256_madd_epi16(p13, pairOf(kOdd[0][j], kOdd[1][j])),
                                    _mm256_madd_epi16(p57, pairOf(kOdd[2][j], kOdd[3][j])));
        o[h][0] = _mm256_sra_epi32(_mm256_add_epi32(e10, a[0]), sh);
        o[h][7] = _mm256_sra_epi32(_mm256_sub_epi32(e10, a[0]), sh);
        o[h][1] = _mm256_sra_epi32(_mm256_add_epi32(e11, a[1]), sh);
        o[h][6] = _mm256_sra_epi32(_mm256_sub_epi32(e11, a[1]), sh);
        o[h][2] = _mm256_sra_epi32(_mm256_add_epi32(e12, a[2]), sh);
        o[h][5] = _mm256_sra_epi32(_mm256_sub_epi32(e12, a[2]), sh);
        o[h][3] = _mm256_sra_epi32(_mm256_add_epi32(e13, a[3]), sh);
        o[h][4] = _mm256_sra_epi32(_mm256_sub_epi32(e13, a[3]), sh);
    }
    for (int r = 0; r < 8; r++) out[r] = _mm256_packs_epi32(o[0][r], o[1][r]);
}

// 8 x 8 transpose of 16-bit values within each 128-bit half.
__attribute__((target("avx2"), always_inline)) inline void transpose16(__m256i* m) {
    __m256i a[8], b[8];
    for (int i = 0; i < 4; i++) {
        a[2 * i] = _mm256_unpacklo_epi16(m[2 * i], m[2 * i + 1]);
        a[2 * i + 1] = _mm256_unpackhi_epi16(m[2 * i], m[2 * i + 1]);
    }
    for (int i = 0; i < 2; i++) {
        b[4 * i] = _mm256_unpacklo_epi32(a[4 * i], a[4 * i + 2]);
        b[4 * i + 1] = _mm256_unpackhi_epi32(a[4 * i], a[4 * i + 2]);
        b[4 * i + 2] = _mm256_unpacklo_epi32(a[4 * i + 1], a[4 * i + 3]);
        b[4 * i + 3] = _mm256_unpackhi_epi32(a[4 * i + 1], a[4 * i + 3]);
    }
    for (int i = 0; i < 4; i++) {
        m[2 * i] = _mm256_unpacklo_epi64(b[i], b[i + 4]);
        m[2 * i + 1] = _mm256_unpackhi_epi64(b[i], b[i + 4]);
    }
}

template <bool kClear>
__attribute__((target("avx2"))) void idct8bitPairAvx2(short* ca, const unsigned short* qa, unsigned short* oa,
                                                      long long sa, short* cb, const unsigned short* qb,
                                                      unsigned short* ob, long long sb) {
    __m256i v[8];
    const __m128i zero = _mm_setzero_si128();
    for (int k = 0; k < 8; k++) {
        __m256i c = _mm256_setr_m128i(_mm_loadu_si128((const __m128i*)(ca + 8 * k)),
                                      _mm_loadu_si128((const __m128i*)(cb + 8 * k)));
        __m256i q = _mm256_setr_m128i(_mm_loadu_si128((const __m128i*)(qa + 8 * k)),
                                      _mm_loadu_si128((const __m128i*)(qb + 8 * k)));
        v[k] = _mm256_mullo_epi16(c, q);
        if (kClear) {
            _mm_storeu_si128((__m128i*)(ca + 8 * k), zero);
            _mm_storeu_si128((__m128i*)(cb + 8 * k), zero);
        }
    }
    const int pass1 = 2;
    idctPass16(v, v, kConstBits - pass1, 1 << (kConstBits - pass1 - 1));
    transpose16(v);
    const int shift = kConstBits + pass1 + 3;
    idctPass16(v, v, shift, (1 << (shift - 1)) + (128 << shift));
    transpose16(v);
    const __m256i lo = _mm256_setzero_si256(), hi = _mm256_set1_epi16(255);
    for (int r = 0; r < 8; r++) {
        __m256i x = _mm256_min_epi16(_mm256_max_epi16(v[r], lo), hi);
        _mm_storeu_si128((__m128i*)(oa + r * sa), _mm256_castsi256_si128(x));
        _mm_storeu_si128((__m128i*)(ob + r * sb), _mm256_extracti128_si256(x, 1));
    }
}
#endif

// AVX2 on the processor and its registers saved by the system (OSXSAVE, XCR0 bits 1 and 2),
// asked once when first needed rather than by a constructor at every start of the program.
bool cpuHasAvx2() {
#ifdef QMX_IDCT_AVX2
    static const bool has = [] {
        unsigned int a, b, c, d;
        if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_OSXSAVE) || !(c & bit_AVX)) return false;
        unsigned int xcr0, xcr0High;
        __asm__("xgetbv" : "=a"(xcr0), "=d"(xcr0High) : "c"(0));
        if ((xcr0 & 6) != 6 || __get_cpuid_max(0, nullptr) < 7) return false;
        __cpuid_count(7, 0, a, b, c, d);
        return (b & bit_AVX2) != 0;
    }();
    return has;
#else
    return false;
#endif
}

tIdct8 pickIdct8(bool portable) {
#ifdef QMX_IDCT_AVX2
    if (!portable && cpuHasAvx2()) return idct8bitAvx2;
#endif
    return idct8bitBase;
}

tIdct8Clear pickIdct8Clear(bool portable) {
#ifdef QMX_IDCT_AVX2
    if (!portable && cpuHasAvx2()) return idct8bitClearAvx2;
#endif
    return idct8bitClearBase;
}

// Chosen on the first block (null until then); tests may force the portable build.
std::atomic<tIdct8> gIdct8{nullptr};
std::atomic<tIdct8Clear> gIdct8Clear{nullptr};

}  // namespace

bool jIdctHasAvx2() { return cpuHasAvx2(); }

void jIdctForcePortable(bool portable) {
    gIdct8.store(pickIdct8(portable), std::memory_order_relaxed);
    gIdct8Clear.store(pickIdct8Clear(portable), std::memory_order_relaxed);
}

void jIdct8x8PairClear(short* coefA, const unsigned short* quantA, unsigned short* outA, long long strideA,
                       short* coefB, const unsigned short* quantB, unsigned short* outB, long long strideB,
                       int precision) {
#ifdef QMX_IDCT_AVX2
    if (precision == 8 && gIdct8Clear.load(std::memory_order_relaxed) == idct8bitClearAvx2) {
        idct8bitPairAvx2<true>(coefA, quantA, outA, strideA, coefB, quantB, outB, strideB);
        return;
    }
#endif
    jIdct8x8Clear(coefA, quantA, outA, strideA, precision);
    jIdct8x8Clear(coefB, quantB, outB, strideB, precision);
}

void jIdct8x8Pair(const short* coefA, const unsigned short* quantA, unsigned short* outA, long long strideA,
                  const short* coefB, const unsigned short* quantB, unsigned short* outB, long long strideB,
                  int precision) {
#ifdef QMX_IDCT_AVX2
    if (precision == 8 && gIdct8.load(std::memory_order_relaxed) == idct8bitAvx2) {
        idct8bitPairAvx2<false>(const_cast<short*>(coefA), quantA, outA, strideA, const_cast<short*>(coefB), quantB,
                                outB, strideB);
        return;
    }
#endif
    jIdct8x8(coefA, quantA, outA, strideA, precision);
    jIdct8x8(coefB, quantB, outB, strideB, precision);
}

void jIdct8x8Clear(short* coef, const unsigned short* quant, unsigned short* out, long long stride, int precision) {
    if (precision == 8) {
        tIdct8Clear idct = gIdct8Clear.load(std::memory_order_relaxed);
        if (!idct) {
            idct = pickIdct8Clear(false);
            gIdct8Clear.store(idct, std::memory_order_relaxed);
        }
        idct(coef, quant, out, stride);
        return;
    }
    jIdct8x8Portable(coef, quant, out, stride, precision);
    memset(coef, 0, 64 * sizeof(short));
}

void jIdct8x8(const short* coef, const unsigned short* quant, unsigned short* out, long long stride,
              int precision) {
    if (precision == 8) {
        tIdct8 idct = gIdct8.load(std::memory_order_relaxed);
        if (!idct) {
            idct = pickIdct8(false);
            gIdct8.store(idct, std::memory_order_relaxed);
        }
        idct(coef, quant, out, stride);
        return;
    }
    jIdct8x8Portable(coef, quant, out, stride, precision);
}

void jIdct8x8Portable(const short* coef, const unsigned short* quant, unsigned short* out, long long stride,
                      int precision) {
    // 12-bit samples keep one fewer guard bit so that the products stay within 32 bits.
    const int pass1 = precision > 8 ? 1 : 2;
    const int center = 1 << (precision - 1);
    const int maxv = (1 << precision) - 1;
    tAcc ws[64];
    for (int c = 0; c < 8; c++) {
        const short* in = coef + c;
        const unsigned short* q = quant + c;
        if (!(in[8] | in[16] | in[24] | in[32] | in[40] | in[48] | in[56])) {
            tAcc dc = (tAcc)in[0] * q[0] * (1 << pass1);
            for (int r = 0; r < 8; r++) ws[r * 8 + c] = dc;
            continue;
        }
        sIdct1D t;
        t.run((tAcc)in[0] * q[0], (tAcc)in[8] * q[8], (tAcc)in[16] * q[16], (tAcc)in[24] * q[24],
              (tAcc)in[32] * q[32], (tAcc)in[40] * q[40], (tAcc)in[48] * q[48], (tAcc)in[56] * q[56]);
        for (int r = 0; r < 8; r++) ws[r * 8 + c] = descale(t.o[r], kConstBits - pass1);
    }
    const int shift = kConstBits + pass1 + 3;
    for (int r = 0; r < 8; r++) {
        const tAcc* w = ws + r * 8;
        unsigned short* o = out + r * stride;
        if (!(w[1] | w[2] | w[3] | w[4] | w[5] | w[6] | w[7])) {
            unsigned short v = clampSample(descale(w[0], pass1 + 3) + center, maxv);
            for (int x = 0; x < 8; x++) o[x] = v;
            continue;
        }
        sIdct1D t;
        t.run(w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7]);
        for (int x = 0; x < 8; x++) o[x] = clampSample(descale(t.o[x], shift) + center, maxv);
    }
}

void jIdctDC(int dc, int quant, unsigned short* out, long long stride, int precision) {
    const int pass1 = precision > 8 ? 1 : 2;
    const int center = 1 << (precision - 1);
    const int maxv = (1 << precision) - 1;
    unsigned short v = clampSample(descale((tAcc)dc * quant * (1 << pass1), pass1 + 3) + center, maxv);
    for (int r = 0; r < 8; r++) {
        unsigned short* o = out + r * stride;
        for (int x = 0; x < 8; x++) o[x] = v;
    }
}

// Histogram, curve and saturation passes over 64-bit raw pixels, and the finishing sequence.
#include "picts/rawcore/rawtone.h"

#include <atomic>
#include <cstdint>
#include <type_traits>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "picts/rawcore/rawbands.h"

#include "picts/tone.h"

namespace {

inline unsigned int red16(unsigned long long p) { return (unsigned int)(p >> 32) & 0xFFFF; }
inline unsigned int green16(unsigned long long p) { return (unsigned int)(p >> 16) & 0xFFFF; }
inline unsigned int blue16(unsigned long long p) { return (unsigned int)p & 0xFFFF; }

// A progress point every 64 KiB of source buffer.
template <class T>
inline bool progressPoint(const T* at, long long index, long long count, cProgressNotifyTarget* progress) {
    if (!progress || ((uintptr_t)at & 0xFFFF) != 0) return true;
    return progress->notifyProgress((double)index * 100.0 / (double)count);
}

inline unsigned long long withRgb(unsigned long long p, long long r, long long g, long long b) {
    return (p & 0xFFFF000000000000ULL) | (unsigned long long)r << 32 | (unsigned long long)g << 16 |
           (unsigned long long)b;
}

inline long long clamp16(long long v) { return v < 0 ? 0 : v > 65535 ? 65535 : v; }

inline unsigned long long curved(unsigned long long p, const unsigned int* c) {
    unsigned int r = c[red16(p)], g = c[green16(p)], b = c[blue16(p)];
    return withRgb(p, r > 65535 ? 65535 : r, g > 65535 ? 65535 : g, b > 65535 ? 65535 : b);
}

inline unsigned long long saturated(unsigned long long p, double factor) {
    long long r = red16(p), g = green16(p), b = blue16(p);
    long long y = (long long)((0.3 * r + 0.59 * g) + 0.11 * b);
    auto sat = [&](long long v) {
        double s = (double)(v - y) * factor + (double)y;
        return s < 0.0 ? 0LL : s > 65535.0 ? 65535LL : (long long)s;
    };
    return withRgb(p, clamp16(sat(r)), clamp16(sat(g)), clamp16(sat(b)));
}

#if defined(__SSE2__)
// saturated() for four pixels given as red, green, blue and alpha lanes (each channel
// already through the curve), written to out (alpha kept): lane by lane the same double operations in
// the same order as saturated(), so the same results; max against 0 first turns NaN into 0
// as the scalar clamp does. byHalves, for the factor 1.5 (the raw decoders' own), goes in
// integers: (v - y) * 1.5 + y is exactly (3v - y) / 2 in doubles (every term a multiple of
// 0.5 far below 2^53), so its clamped truncation is (3v - y) >> 1 clamped.
template <bool byHalves>
inline void saturated4(__m128i R, __m128i G, __m128i B, __m128i A, double factor, unsigned long long* out) {
    const __m128d f = _mm_set1_pd(factor), zero = _mm_setzero_pd(), top = _mm_set1_pd(65535.0);
    const __m128d kr = _mm_set1_pd(0.3), kg = _mm_set1_pd(0.59), kb = _mm_set1_pd(0.11);
    __m128i sr[2], sg[2], sb[2], ys[2];
    for (int half = 0; half < 2; half++) {
        const __m128d vr = _mm_cvtepi32_pd(half ? _mm_unpackhi_epi64(R, R) : R);
        const __m128d vg = _mm_cvtepi32_pd(half ? _mm_unpackhi_epi64(G, G) : G);
        const __m128d vb = _mm_cvtepi32_pd(half ? _mm_unpackhi_epi64(B, B) : B);
        ys[half] =
            _mm_cvttpd_epi32(_mm_add_pd(_mm_add_pd(_mm_mul_pd(kr, vr), _mm_mul_pd(kg, vg)), _mm_mul_pd(kb, vb)));
        if (byHalves) continue;
        const __m128d y = _mm_cvtepi32_pd(ys[half]);
        auto sat = [&](__m128d v) {
            const __m128d s = _mm_add_pd(_mm_mul_pd(_mm_sub_pd(v, y), f), y);
            return _mm_cvttpd_epi32(_mm_min_pd(_mm_max_pd(s, zero), top));
        };
        sr[half] = sat(vr), sg[half] = sat(vg), sb[half] = sat(vb);
    }
    if (byHalves) {
        const __m128i y = _mm_unpacklo_epi64(ys[0], ys[1]), none = _mm_setzero_si128(), full = _mm_set1_epi32(65535);
        auto sat = [&](__m128i v) {
            __m128i s = _mm_srai_epi32(_mm_sub_epi32(_mm_add_epi32(_mm_add_epi32(v, v), v), y), 1);
            s = _mm_andnot_si128(_mm_cmpgt_epi32(none, s), s);
            const __m128i over = _mm_cmpgt_epi32(s, full);
            return _mm_or_si128(_mm_and_si128(over, full), _mm_andnot_si128(over, s));
        };
        R = sat(R), G = sat(G), B = sat(B);
    } else {
        R = _mm_unpacklo_epi64(sr[0], sr[1]), G = _mm_unpacklo_epi64(sg[0], sg[1]);
        B = _mm_unpacklo_epi64(sb[0], sb[1]);
    }
    const __m128i bg = _mm_or_si128(B, _mm_slli_epi32(G, 16)), ra = _mm_or_si128(R, _mm_slli_epi32(A, 16));
    _mm_storeu_si128((__m128i*)out, _mm_unpacklo_epi32(bg, ra));
    _mm_storeu_si128((__m128i*)(out + 2), _mm_unpackhi_epi32(bg, ra));
}
#endif

// A 4096-bin histogram's counting shift.
const unsigned int kToneBins = 4096, kToneShift = 4;

}  // namespace

template <>
bool buildHystogram<unsigned long long>(const unsigned long long* pixels, long long count, sHystogram& out,
                                        long long bins, cProgressNotifyTarget* progress) {
    if (!pixels || count == 0 || bins <= 0 || (bins & (bins - 1)) != 0 || bins > 65536) return false;
    _typebuf<unsigned int>* arrays[4] = {&out.combined, &out.red, &out.green, &out.blue};
    for (auto* a : arrays) {
        if (!a->set(bins)) return false;
        a->zero();
    }
    const unsigned int shift = [bins] {
        unsigned int s = 0;
        while ((65536LL >> s) > bins) s++;
        return s;
    }();
    for (long long i = 0; i < count; i++) {
        unsigned long long p = pixels[i];
        unsigned int r = red16(p) >> shift, g = green16(p) >> shift, b = blue16(p) >> shift;
        out.red.ptr[r]++;
        out.green.ptr[g]++;
        out.blue.ptr[b]++;
        out.combined.ptr[r]++;
        out.combined.ptr[g]++;
        out.combined.ptr[b]++;
        if (!progressPoint(pixels + i, i, count, progress)) return false;
    }
    return true;
}

template <>
bool adjustToCurve<unsigned long long>(const unsigned long long* src, unsigned long long* dst, long long count,
                                       _typebuf<unsigned int>& curve, cProgressNotifyTarget* progress) {
    if (!src || !dst || count == 0 || curve.count != 65536 || !curve.ptr) return false;
    const unsigned int* c = curve.ptr;
    for (long long i = 0; i < count; i++) {
        dst[i] = curved(src[i], c);
        if (!progressPoint(src + i, i, count, progress)) return false;
    }
    return true;
}

template <>
bool setSaturation<unsigned long long>(const unsigned long long* src, unsigned long long* dst, long long count,
                                       double factor, cProgressNotifyTarget* progress) {
    if (!src || !dst || count == 0) return false;
    // A factor from a file: NaN would make every channel undefined; it leaves pixels as they are.
    if (factor != factor) factor = 1.0;
    for (long long i = 0; i < count; i++) {
        dst[i] = saturated(src[i], factor);
        if (!progressPoint(src + i, i, count, progress)) return false;
    }
    return true;
}

// The finishing runs in bands of pixels side by side (rawbands.h): each worker counts its
// own histogram, summed afterwards, and the curve and the saturation go in one pass (each
// pixel depends on itself only, so the result is that of the passes one after the other).
// The caller's worker asks `progress` at its 64 KiB points as the single routines do; a stop
// there stops the other workers at their next such point.
bool finishRawTone(unsigned long long* pixels, long long count, double fraction, double gamma, double saturation,
                   cProgressNotifyTarget* progress, cProgressNotifyTarget* saturationProgress, unsigned int whiteCap) {
    if (!pixels || count <= 0) return false;
    if (saturation != saturation) saturation = 1.0;  // as setSaturation reads a NaN factor
    const long long rowsOf64 = (count + 63) / 64;     // bands of whole 64-pixel runs
    std::atomic<bool> stopped{false};
    auto point = [&](int worker, const unsigned long long* at, long long i, cProgressNotifyTarget* target) {
        if (((uintptr_t)at & 0xFFFF) != 0) return true;
        if (worker != 0) return !stopped.load(std::memory_order_relaxed);
        if (!target || target->notifyProgress((double)i * 100.0 / (double)count)) return true;
        stopped = true;
        return false;
    };
    // Pixels i0 .. i1 - 1 in spans, each ending at the next pixel on a 64 KiB point (or at
    // i1): span(a, b) works on pixels a .. b - 1 and asks progress about b - 1 (`point` passes
    // pixels off the points), false ending the walk.
    const bool pointsFall = ((uintptr_t)pixels & 7) == 0;  // else no pixel starts on a 64 KiB point
    auto walkSpans = [&](long long i0, long long i1, auto span) {
        while (i0 < i1) {
            long long e = i1;
            if (pointsFall) {
                const uintptr_t next = ((uintptr_t)(pixels + i0) + 0xFFFF) & ~(uintptr_t)0xFFFF;
                const long long k = (long long)((next - (uintptr_t)pixels) / 8);
                if (k < i1) e = k + 1;
            }
            if (!span(i0, e)) return;
            i0 = e;
        }
    };
    auto bandRange = [&](long long y0, long long y1, long long& i0, long long& i1) {
        i0 = y0 * 64;
        i1 = y1 * 64 < count ? y1 * 64 : count;
    };

    sHystogram h;
    _typebuf<unsigned int>* arrays[4] = {&h.combined, &h.red, &h.green, &h.blue};
    for (auto* a : arrays) {
        if (!a->set(kToneBins)) return false;
        a->zero();
    }
    _typebuf<unsigned int> counts;  // per worker: red, green, blue
    const int workers = rawBandCount(rowsOf64);
    if (!counts.set((long long)workers * 3 * kToneBins)) return false;
    counts.zero();
    const bool done = rawRowBands(0, rowsOf64, [&](int worker, long long y0, long long y1) {
        long long i0, i1;
        bandRange(y0, y1, i0, i1);
        unsigned int* red = counts.ptr + (long long)worker * 3 * kToneBins;
        unsigned int *green = red + kToneBins, *blue = green + kToneBins;
        walkSpans(i0, i1, [&](long long a, long long b) {
            for (long long i = a; i < b; i++) {
                unsigned long long p = pixels[i];
                red[red16(p) >> kToneShift]++;
                green[green16(p) >> kToneShift]++;
                blue[blue16(p) >> kToneShift]++;
            }
            return point(worker, pixels + b - 1, b - 1, progress);
        });
    });
    if (!done || stopped) return false;
    for (int b = 0; b < workers; b++)
        for (unsigned k = 0; k < kToneBins; k++) {
            const unsigned int* c = counts.ptr + (long long)b * 3 * kToneBins;
            h.red.ptr[k] += c[k];
            h.green.ptr[k] += c[kToneBins + k];
            h.blue.ptr[k] += c[2 * kToneBins + k];
        }
    for (unsigned k = 0; k < kToneBins; k++) h.combined.ptr[k] = h.red.ptr[k] + h.green.ptr[k] + h.blue.ptr[k];
    counts.clear();  // before the curves: the finishing's memory stays as small as the single passes'

    unsigned int low, middle, high;
    _typebuf<unsigned int> curve;
    // No levels (everything in one place): there is no contrast to stretch, keep it linear.
    const bool levels = getHystogramParams(h.combined, 16, low, middle, high, fraction);
    if (levels && whiteCap && high > whiteCap) high = whiteCap;
    const bool toCurve = levels && makeDeCurveFromGamma(curve, 16, gamma, low, high);
    if (toCurve && curve.count != 65536) return false;
    const bool toSaturate = saturation != 0.0;
    if (!toCurve && !toSaturate) return true;
    // The curve capped to 16 bits once (half the cache footprint of the 32-bit one).
    _typebuf<unsigned short> c16;
    if (toCurve && !c16.set(65536)) return false;
    for (long long k = 0; toCurve && k < 65536; k++)
        c16.ptr[k] = (unsigned short)(curve.ptr[k] > 65535 ? 65535 : curve.ptr[k]);
    curve.clear();
    auto curved16 = [&c16](unsigned long long p) {
        return withRgb(p, c16.ptr[red16(p)], c16.ptr[green16(p)], c16.ptr[blue16(p)]);
    };
    // Pixels a .. b - 1, no progress point among them but perhaps the last.
    auto finishSpan = [&](long long a, long long b) {
#if defined(__SSE2__)
        auto fours = [&](auto byHalves) {
            int r[4], g[4], bl[4], al[4];
            for (; a + 3 < b; a += 4) {
                for (int k = 0; k < 4; k++) {
                    const unsigned long long p = pixels[a + k];
                    r[k] = red16(p), g[k] = green16(p), bl[k] = blue16(p), al[k] = (int)(p >> 48);
                    if (toCurve) r[k] = c16.ptr[r[k]], g[k] = c16.ptr[g[k]], bl[k] = c16.ptr[bl[k]];
                }
                saturated4<decltype(byHalves)::value>(
                    _mm_set_epi32(r[3], r[2], r[1], r[0]), _mm_set_epi32(g[3], g[2], g[1], g[0]),
                    _mm_set_epi32(bl[3], bl[2], bl[1], bl[0]), _mm_set_epi32(al[3], al[2], al[1], al[0]), saturation,
                    pixels + a);
            }
        };
        if (toSaturate && saturation == 1.5)
            fours(std::true_type());
        else if (toSaturate)
            fours(std::false_type());
#endif
        for (; a < b; a++) {
            unsigned long long p = pixels[a];
            if (toCurve) p = curved16(p);
            if (toSaturate) p = saturated(p, saturation);
            pixels[a] = p;
        }
    };
    const bool finished = rawRowBands(0, rowsOf64, [&](int worker, long long y0, long long y1) {
        long long i0, i1;
        bandRange(y0, y1, i0, i1);
        walkSpans(i0, i1, [&](long long a, long long b) {
            finishSpan(a, b);
            return (!toCurve || point(worker, pixels + b - 1, b - 1, progress)) &&
                   (!toSaturate || point(worker, pixels + b - 1, b - 1, saturationProgress));
        });
    });
    return finished && !stopped;
}

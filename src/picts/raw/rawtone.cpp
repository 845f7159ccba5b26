// Histogram, curve and saturation passes over 64-bit raw pixels, and the finishing sequence.
#include "picts/raw/rawtone.h"

#include <cstdint>

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
        unsigned long long p = src[i];
        unsigned int r = c[red16(p)], g = c[green16(p)], b = c[blue16(p)];
        dst[i] = withRgb(p, r > 65535 ? 65535 : r, g > 65535 ? 65535 : g, b > 65535 ? 65535 : b);
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
        unsigned long long p = src[i];
        long long r = red16(p), g = green16(p), b = blue16(p);
        long long y = (long long)((0.3 * r + 0.59 * g) + 0.11 * b);
        auto sat = [&](long long v) {
            double s = (double)(v - y) * factor + (double)y;
            return s < 0.0 ? 0LL : s > 65535.0 ? 65535LL : (long long)s;
        };
        dst[i] = withRgb(p, clamp16(sat(r)), clamp16(sat(g)), clamp16(sat(b)));
        if (!progressPoint(src + i, i, count, progress)) return false;
    }
    return true;
}

bool finishRawTone(unsigned long long* pixels, long long count, double fraction, double gamma, double saturation,
                   cProgressNotifyTarget* progress, cProgressNotifyTarget* saturationProgress) {
    if (!pixels || count <= 0) return false;
    sHystogram h;
    if (!buildHystogram(pixels, count, h, 4096, progress)) return false;
    unsigned int low, middle, high;
    _typebuf<unsigned int> curve;
    // No levels (everything in one place): there is no contrast to stretch, keep it linear.
    if (getHystogramParams(h.combined, 16, low, middle, high, fraction) &&
        makeDeCurveFromGamma(curve, 16, gamma, low, high)) {
        if (!adjustToCurve(pixels, pixels, count, curve, progress)) return false;
    }
    if (saturation != 0.0 && !setSaturation(pixels, pixels, count, saturation, saturationProgress)) return false;
    return true;
}

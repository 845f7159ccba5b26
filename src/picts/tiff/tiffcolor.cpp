// cPictTIFF colour stage: samples of 1 to 64 bits (integer or float) into 8- or 16-bit
// channels, and grey, RGB, palette, CMYK, CIELab and the raw decoders' packed colour-filter
// samples into pixels. Samples are scaled to the full range (v * max / (2^bits - 1)).
#include <cmath>
#include <cstring>

#include "picts/byteorder.h"
#include "picts/tiff/picttiff.h"
#include "picts/tiff/variablelengthaccess.h"

namespace {
enum { phWhiteIsZero = 0, phBlackIsZero = 1, phRGB = 2, phPalette = 3, phCMYK = 5, phCIELab = 8,
       phLinearRaw = 34892, phPackedCFA = 65534 };

// The whole bytes of a sample of 16, 32 or 64 bits in host order of significance.
inline unsigned long long wideSample(const unsigned char* p, int bytes, bool be) {
    unsigned long long v = 0;
    for (int i = 0; i < bytes; i++) v = v << 8 | p[be ? i : bytes - 1 - i];
    return v;
}

// Three bytes at p (and the byte after them, which must exist) as 0x00RRGGBB.
inline unsigned rgbAt(const unsigned char* p) {
    unsigned v;
    memcpy(&v, p, 4);
    const bool hostLittle = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
    return (hostLittle ? __builtin_bswap32(v) : v) >> 8;
}

inline unsigned to8(unsigned long long v, int bits) {
    if (bits == 8) return (unsigned)v;
    if (bits > 8) return (unsigned)(v >> (bits - 8));
    unsigned long long range = (1ULL << bits) - 1;
    return (unsigned)((v * 255 + range / 2) / range);
}

inline unsigned to16(unsigned long long v, int bits) {
    if (bits == 16) return (unsigned)v;
    if (bits > 32) return (unsigned)(v >> (bits - 16));
    unsigned long long range = bits == 64 ? ~0ULL : (1ULL << bits) - 1;
    return (unsigned)((v * 65535 + range / 2) / range);
}

inline unsigned clampInt(double v, unsigned max) {
    if (!(v > 0)) return 0;  // negative and NaN
    if (v >= max) return max;
    return (unsigned)v;
}

// CIE L*a*b* (D65) to linear sRGB (IEC 61966-2-1 matrix), channels 0..max.
void labToRGB(double L, double a, double b, double xw, double yw, double zw, unsigned max, unsigned rgb[3]) {
    double fy = (L + 16) / 116, fx = fy + a * 0.002, fz = fy - b * 0.005;
    auto inv = [](double t) { return t > 0.2068965517241379 ? t * t * t : (t - 4.0 / 29) * 0.1284185493460166; };
    double X = inv(fx) * xw, Y = inv(fy) * yw, Z = inv(fz) * zw;
    double r = 3.240479 * X - 1.53715 * Y - 0.498535 * Z;
    double g = -0.969256 * X + 1.875992 * Y + 0.041556 * Z;
    double bl = 0.055648 * X - 0.204043 * Y + 1.057311 * Z;
    rgb[0] = clampInt(r + 0.5, max), rgb[1] = clampInt(g + 0.5, max), rgb[2] = clampInt(bl + 0.5, max);
}
}  // namespace

// 8-bit samples into 0xAARRGGBB; 0 (transparent black) for what has no colour meaning here.
static unsigned int getColor32(const unsigned* s, int count, int ph) {
    unsigned rgb[3];
    switch (count) {
        case 1:
        case 2: {
            if (ph == phPalette || ph == phRGB) return 0;
            unsigned g = ph == phWhiteIsZero ? 255 - s[0] : s[0];
            unsigned a = count == 2 ? s[1] : 255;
            return a << 24 | g << 16 | g << 8 | g;
        }
        case 3:
        case 4:
        case 5:
            if (ph == phRGB || ph == phLinearRaw)
                return (count > 3 ? s[3] : 255) << 24 | s[0] << 16 | s[1] << 8 | s[2];
            if (ph == phCMYK && count >= 4) {
                unsigned k = 255 - s[3];
                unsigned r = (255 - s[0]) * k / 255, g = (255 - s[1]) * k / 255, b = (255 - s[2]) * k / 255;
                return (count == 5 ? s[4] : 255) << 24 | r << 16 | g << 8 | b;
            }
            if (ph == phCIELab && count <= 4) {
                double xw = count == 3 ? 235.875 : 242.36628, zw = count == 3 ? 266.03895 : 277.63227;
                labToRGB(s[0] * 0.3921568627451, (signed char)s[1], (signed char)s[2], xw, 255, zw, 255, rgb);
                return (count == 4 ? s[3] : 255) << 24 | rgb[0] << 16 | rgb[1] << 8 | rgb[2];
            }
            if (ph == phPackedCFA && count == 4) return s[3] << 24 | s[2] << 16 | s[1] << 8 | s[0];
            return 0;
        default: return 0;
    }
}

static unsigned long long getColor64(const unsigned* s, int count, int ph) {
    typedef unsigned long long u64;
    unsigned rgb[3];
    switch (count) {
        case 1:
        case 2: {
            if (ph == phPalette || ph == phRGB) return 0;
            u64 g = ph == phWhiteIsZero ? 65535 - s[0] : s[0];
            u64 a = count == 2 ? s[1] : 65535;
            return a << 48 | g << 32 | g << 16 | g;
        }
        case 3:
        case 4:
        case 5:
            if (ph == phRGB || ph == phLinearRaw)
                return (u64)(count > 3 ? s[3] : 65535) << 48 | (u64)s[0] << 32 | (u64)s[1] << 16 | s[2];
            if (ph == phCMYK && count >= 4) {
                u64 k = 65535 - s[3];
                // Rounded, as the wide peers do (the 8-bit form truncates, as tiff2rgba does).
                u64 r = ((65535 - s[0]) * k + 32767) / 65535, g = ((65535 - s[1]) * k + 32767) / 65535,
                    b = ((65535 - s[2]) * k + 32767) / 65535;
                return (u64)(count == 5 ? s[4] : 65535) << 48 | r << 32 | g << 16 | b;
            }
            if (ph == phCIELab && count <= 4) {
                double a = ((s[1] + 32768) & 0xFFFF) / 255.0 - 128, b = ((s[2] + 32768) & 0xFFFF) / 255.0 - 128;
                labToRGB(s[0] * 0.0015378700499808, a, b, 60619.875, 65535, 68372.01015, 65535, rgb);
                return (u64)(count == 4 ? s[3] : 65535) << 48 | (u64)rgb[0] << 32 | (u64)rgb[1] << 16 | rgb[2];
            }
            if (ph == phPackedCFA && count == 4) return (u64)s[3] << 48 | (u64)s[2] << 32 | (u64)s[1] << 16 | s[0];
            return 0;
        default: return 0;
    }
}

bool cPictTIFF::getFloatVal(unsigned long long v, int width, float& out) {
    switch (width) {
        case 16: {
            // IEEE 754 half precision.
            int sign = (int)(v >> 15) & 1, exp = (int)(v >> 10) & 31, man = (int)v & 1023;
            float f;
            if (exp == 0)
                f = std::ldexp((float)man, -24);
            else if (exp == 31)
                f = man ? NAN : INFINITY;
            else
                f = std::ldexp((float)(man | 1024), exp - 25);
            out = sign ? -f : f;
            return true;
        }
        case 24: {
            // Sign, 7-bit exponent biased by 63, 16-bit fraction.
            int sign = (int)(v >> 23) & 1, exp = (int)(v >> 16) & 127;
            unsigned man = (unsigned)v & 0xFFFF;
            float f;
            if (exp == 0)
                f = std::ldexp((float)man, -62 - 16);
            else if (exp == 127)
                f = man ? NAN : INFINITY;
            else
                f = std::ldexp((float)(man | 0x10000), exp - 63 - 16);
            out = sign ? -f : f;
            return true;
        }
        case 32: {
            unsigned int u = (unsigned int)v;
            memcpy(&out, &u, 4);
            return true;
        }
        case 64: {
            double d;
            memcpy(&d, &v, 8);
            out = (float)d;
            return true;
        }
        default: return false;
    }
}

namespace {
// One sample of a row as a 16-bit value; false for a sample format we do not read.
struct sSampleReader16 {
    int bits;
    int format;
    bool be;
    bool raw;  // sensor samples: kept in their own units (up to 16 bits), not scaled
    bool read(const unsigned char* row, long long idx, unsigned& out) const {
        if (raw && format != 3 && bits <= 16) {
            out = bits == 16 ? (unsigned)wideSample(row + idx * 2, 2, be)
                             : (unsigned)cVariableLengthAccess::getValue(row, idx * bits, bits);
            return true;
        }
        if (format == 3) {
            unsigned long long v;
            if (bits % 8 == 0)
                v = wideSample(row + idx * (bits / 8), bits / 8, be);
            else
                return false;
            float f;
            if (!cPictTIFF::getFloatVal(v, bits, f)) return false;
            // Values outside 0..1 (and NaN) are clamped before they become integers.
            out = clampInt((double)f * 65535.0 + 0.5, 65535);
            return true;
        }
        if (bits == 16 || bits == 32 || bits == 64) {
            out = to16(wideSample(row + idx * (bits / 8), bits / 8, be), bits);
            return true;
        }
        if (bits == 24) {
            out = to16(wideSample(row + idx * 3, 3, be), 24);
            return true;
        }
        out = to16(cVariableLengthAccess::getValue(row, idx * bits, bits), bits);
        return true;
    }
};

inline unsigned scaleTo8(const unsigned char* row, long long idx, int bits) {
    if (bits == 8) return row[idx];
    return to8(cVariableLengthAccess::getValue(row, idx * bits, bits), bits);
}
}  // namespace

bool cPictTIFF::decodeColors8bpp(long long firstRow, long long x0, long long cols, sDecomress& rec) {
    if (rec.sampleFormat > 1 || !myPixels.count) return false;
    const int spp = (int)rec.samples, bits = (int)rec.bits, ph = (int)rec.photometric;
    if (spp < 1 || spp > kMaxSamples) return false;
    for (long long r = 0; r < rec.rows; r++) {
        const unsigned char* src = rec.output.ptr + r * rec.bytesPerRow;
        long long y = firstRow + r;
        unsigned int* dst = myPixels.ptr + (myRowsBottomUp ? myImageH - 1 - y : y) * myImageW + x0;
        if (bits == 8 && spp == 3 && (ph == phRGB || ph == phLinearRaw)) {
            // One 4-byte load a pixel; the last pixel of a row has no byte after it.
            long long x = 0;
            for (; x + 1 < cols; x++, src += 3) dst[x] = 0xFF000000u | rgbAt(src);
            if (x < cols) dst[x] = 0xFF000000u | (unsigned)src[0] << 16 | (unsigned)src[1] << 8 | src[2];
        } else if (bits == 8 && spp == 4 && ph == phRGB) {
            for (long long x = 0; x < cols; x++, src += 4)
                dst[x] = (unsigned)src[3] << 24 | (unsigned)src[0] << 16 | (unsigned)src[1] << 8 | src[2];
        } else if (spp == 1 && (ph == phWhiteIsZero || ph == phBlackIsZero)) {
            const unsigned inv = ph == phWhiteIsZero ? 255 : 0;
            if (bits == 1) {
                // Eight pixels a byte; a 0 bit is black (after the min-is-white inversion).
                const unsigned on = inv ? 0xFF000000u : 0xFFFFFFFFu, off = inv ? 0xFFFFFFFFu : 0xFF000000u;
                long long x = 0;
                for (; x + 8 <= cols; x += 8) {
                    unsigned b = src[x >> 3];
                    for (int k = 0; k < 8; k++) dst[x + k] = (b >> (7 - k)) & 1 ? on : off;
                }
                for (; x < cols; x++) dst[x] = ((src[x >> 3] >> (7 - (x & 7))) & 1) ? on : off;
            } else {
                for (long long x = 0; x < cols; x++) {
                    unsigned g = scaleTo8(src, x, bits) ^ inv;
                    dst[x] = 0xFF000000u | g * 0x10101u;
                }
            }
        } else {
            unsigned s[kMaxSamples];
            for (long long x = 0; x < cols; x++) {
                for (int k = 0; k < spp; k++) s[k] = scaleTo8(src, x * spp + k, bits);
                dst[x] = getColor32(s, spp, ph);
            }
        }
    }
    return true;
}

bool cPictTIFF::decodeColors16bpp(long long firstRow, long long x0, long long cols, sDecomress& rec) {
    if ((rec.sampleFormat != 1 && rec.sampleFormat != 3) || !myPixels16.count) return false;
    const int spp = (int)rec.samples, ph = (int)rec.photometric;
    if (spp < 1 || spp > kMaxSamples) return false;
    sSampleReader16 rd = {(int)rec.bits, rec.sampleFormat, rec.bigEndian, myRawSamples};
    if (rd.format == 3 && rd.bits != 16 && rd.bits != 24 && rd.bits != 32 && rd.bits != 64) return false;
    unsigned s[kMaxSamples];
    // 16-bit integer samples of grey pictures and of the raw decoders' packed sensor frames
    // (four samples a pixel): what the general loop below makes, without its per-sample choices.
    const bool plain16 = rd.bits == 16 && rd.format == 1;
    const bool grey16 = plain16 && spp == 1 && ph != phPalette && ph != phRGB && ph != phWhiteIsZero;
    const bool cfa16 = plain16 && spp == 4 && ph == phPackedCFA;
    auto at16 = [&rd](const unsigned char* p) -> unsigned long long { return rawGet16(p, rd.be); };
    for (long long r = 0; r < rec.rows; r++) {
        const unsigned char* src = rec.output.ptr + r * rec.bytesPerRow;
        long long y = firstRow + r;
        unsigned long long* dst = myPixels16.ptr + (myRowsBottomUp ? myImageH - 1 - y : y) * myImageW + x0;
        if (grey16) {
            for (long long x = 0; x < cols; x++) {
                const unsigned long long g = at16(src + 2 * x);
                dst[x] = 0xFFFFULL << 48 | g << 32 | g << 16 | g;
            }
            continue;
        }
        if (cfa16) {
            for (long long x = 0; x < cols; x++) {
                const unsigned char* p = src + 8 * x;
                dst[x] = at16(p + 6) << 48 | at16(p + 4) << 32 | at16(p + 2) << 16 | at16(p);
            }
            continue;
        }
        for (long long x = 0; x < cols; x++) {
            for (int k = 0; k < spp; k++)
                if (!rd.read(src, x * spp + k, s[k])) return false;
            dst[x] = getColor64(s, spp, ph);
        }
    }
    return true;
}

bool cPictTIFF::decodeColorsPalette(long long firstRow, long long x0, long long cols, sDecomress& rec) {
    if (myColorMap.count < 3 || rec.samples != 1 || rec.bits > 16 || !myPixels.count) return false;
    const long long n = myColorMap.count / 3;
    // Some writers store 8-bit values in the 16-bit map; a map without a value above 255 is one.
    int shift = 0;
    for (long long i = 0; i < myColorMap.count; i++)
        if (myColorMap.ptr[i] > 255) shift = 8;
    const unsigned short* m = myColorMap.ptr;
    for (long long r = 0; r < rec.rows; r++) {
        const unsigned char* src = rec.output.ptr + r * rec.bytesPerRow;
        long long y = firstRow + r;
        unsigned int* dst = myPixels.ptr + (myRowsBottomUp ? myImageH - 1 - y : y) * myImageW + x0;
        for (long long x = 0; x < cols; x++) {
            long long i =
                rec.bits == 8 ? src[x] : (long long)cVariableLengthAccess::getValue(src, x * rec.bits, (int)rec.bits);
            if (i >= n) return false;
            dst[x] = 0xFF000000u | (unsigned)(m[i] >> shift) << 16 | (unsigned)(m[n + i] >> shift) << 8 |
                     (unsigned)(m[2 * n + i] >> shift);
        }
    }
    return true;
}

// Planar pictures: plane p's samples are kept in channel p (red, green, blue, alpha) and
// turned into colours by finalizeColorTransform once every plane is in.
bool cPictTIFF::decodeColorsMargePlane8bpp(long long firstRow, long long x0, long long cols, int plane,
                                           sDecomress& rec) {
    if (rec.sampleFormat > 1 || plane < 0 || plane > 3 || !myPixels.count) return false;
    static const int shifts[4] = {16, 8, 0, 24};
    const int sh = shifts[plane], bits = (int)rec.bits;
    const unsigned keep = ~(0xFFu << sh);
    for (long long r = 0; r < rec.rows; r++) {
        const unsigned char* src = rec.output.ptr + r * rec.bytesPerRow;
        long long y = firstRow + r;
        unsigned int* dst = myPixels.ptr + (myRowsBottomUp ? myImageH - 1 - y : y) * myImageW + x0;
        for (long long x = 0; x < cols; x++) dst[x] = (dst[x] & keep) | scaleTo8(src, x, bits) << sh;
    }
    return true;
}

bool cPictTIFF::decodeColorsMargePlane16bpp(long long firstRow, long long x0, long long cols, int plane,
                                            sDecomress& rec) {
    if ((rec.sampleFormat != 1 && rec.sampleFormat != 3) || plane < 0 || plane > 3 || !myPixels16.count) return false;
    static const int shifts[4] = {32, 16, 0, 48};
    const int sh = shifts[plane];
    const unsigned long long keep = ~(0xFFFFULL << sh);
    sSampleReader16 rd = {(int)rec.bits, rec.sampleFormat, rec.bigEndian, myRawSamples};
    for (long long r = 0; r < rec.rows; r++) {
        const unsigned char* src = rec.output.ptr + r * rec.bytesPerRow;
        long long y = firstRow + r;
        unsigned long long* dst = myPixels16.ptr + (myRowsBottomUp ? myImageH - 1 - y : y) * myImageW + x0;
        for (long long x = 0; x < cols; x++) {
            unsigned v;
            if (!rd.read(src, x, v)) return false;
            dst[x] = (dst[x] & keep) | (unsigned long long)v << sh;
        }
    }
    return true;
}

bool cPictTIFF::finalizeColorTransform() {
    const int spp = (int)mySamples, ph = myPhotometric;
    if (spp > 4) return false;
    const long long n = myImageW * myImageH;
    unsigned s[4];
    if (my16Bpp && myPixels16.count >= n) {
        for (long long i = 0; i < n; i++) {
            unsigned long long p = myPixels16.ptr[i];
            s[0] = (unsigned)(p >> 32) & 0xFFFF, s[1] = (unsigned)(p >> 16) & 0xFFFF, s[2] = (unsigned)p & 0xFFFF,
            s[3] = (unsigned)(p >> 48);
            myPixels16.ptr[i] = getColor64(s, spp, ph);
        }
        return true;
    }
    if (!my16Bpp && myPixels.count >= n) {
        for (long long i = 0; i < n; i++) {
            unsigned p = myPixels.ptr[i];
            s[0] = (p >> 16) & 255, s[1] = (p >> 8) & 255, s[2] = p & 255, s[3] = p >> 24;
            myPixels.ptr[i] = getColor32(s, spp, ph);
        }
        return true;
    }
    return false;
}

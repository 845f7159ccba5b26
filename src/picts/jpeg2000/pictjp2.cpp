// The JPEG 2000 picture classes and the image-to-pixels stage: components are brought to
// 8 bits by component 0's precision and combined by count and colour space.
#include "picts/jpeg2000/pictjp2.h"

#include <cstring>

#include "picts/jpeg2000/jp2decode.h"
#include "picts/sizecheck.h"

namespace {

inline unsigned int clamp255(long long v) { return v < 0 ? 0 : v > 255 ? 255 : (unsigned int)v; }

// The 12-byte JP2 signature box, or SOC followed by SIZ.
bool startsWith(cFileIOTarget* io, const unsigned char* sig, long long n) {
    unsigned char b[12];
    unsigned long long pos = io->get_fp();
    bool ok = io->read(b, n) == n && memcmp(b, sig, (size_t)n) == 0;
    io->set_fp(pos);
    return ok;
}
const unsigned char kJp2Sig[12] = {0, 0, 0, 12, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};
const unsigned char kJ2kSig[4] = {0xFF, 0x4F, 0xFF, 0x51};

void fillInfo(cPictBase::sPictInfo* info, const cJP2Image& img) {
    if (!info) return;
    info->width = (long long)img.x1 - img.x0;
    info->height = (long long)img.y1 - img.y0;
    info->hasPreview = false;
}

// CIELab to RGB (D50 white, no transfer curve).
void labToRgb(const cJP2Image& img, const double range[6], long long c0, long long c1, long long c2,
              unsigned int& r, unsigned int& g, unsigned int& b) {
    double maxv[3], minv[3];
    for (int i = 0; i < 3; i++) {
        double denom = (double)((1ULL << img.comps.ptr[i].prec) - 1);
        minv[i] = -(range[2 * i] * range[2 * i + 1]) / denom;
        maxv[i] = minv[i] + range[2 * i];
    }
    auto val = [&](int i, long long c) {
        return minv[i] + (double)c * (maxv[i] - minv[i]) / (double)((1ULL << img.comps.ptr[i].prec) - 1);
    };
    double L = val(0, c0), A = val(1, c1), B = val(2, c2);
    double fy = (L + 16) / 116, fx = fy + A / 500, fz = fy - B / 200;
    auto f = [](double t) { return t > 6.0 / 29 ? t * t * t : (t - 4.0 / 29) * 3 * (6.0 / 29) * (6.0 / 29); };
    double X = f(fx) * 235.875, Y = f(fy) * 255.0, Z = f(fz) * 266.03895;
    double R = 3.240479 * X - 1.53715 * Y - 0.498535 * Z;
    double G = -0.969256 * X + 1.875992 * Y + 0.041556 * Z;
    double Bl = 0.055648 * X - 0.204043 * Y + 1.057311 * Z;
    auto q = [](double v) {
        v += 0.5;
        return v < 0 ? 0u : v > 255 ? 255u : (unsigned int)v;
    };
    r = q(R), g = q(G), b = q(Bl);
}

}  // namespace

bool cPictJP2Base::jp2ImageToThis(cJP2Image& img) {
    if (!img.x1 || !img.y1 || !img.numcomps || !img.comps.count || img.comps.count < (long long)img.numcomps)
        return false;
    unsigned int nc = img.numcomps;
    int cs = img.colorSpace;
    if (nc == 2 || nc > 4 || (cs == 6 && nc < 3)) return false;
    const unsigned int prec0 = img.comps.ptr[0].prec;
    if (prec0 < 8 || prec0 > 31) return false;
    const unsigned int s = prec0 - 8;
    long long w = (long long)img.x1 - img.x0, h = (long long)img.y1 - img.y0;
    // Each component is read through its own sub-sampling, so every pixel has a sample.
    struct sSrc {
        const int* data;
        long long w, h;
        int bias;
        _typebuf<long long> col;
        unsigned long long releasedTo;
    };
    sSrc src[4];
    for (unsigned int c = 0; c < nc; c++) {
        const sJP2ImageComp& ic = img.comps.ptr[c];
        if (!ic.data.ptr || !ic.w || !ic.h || ic.data.count < (long long)ic.w * ic.h || ic.prec > 31) return false;
        src[c].data = ic.data.ptr;
        src[c].w = ic.w;
        src[c].h = ic.h;
        src[c].releasedTo = 0;
        // Signed samples are centred for display.
        src[c].bias = ic.sgnd ? (int)(1u << (ic.prec - 1)) : 0;
        if (!src[c].col.set(w)) return false;
        for (long long x = 0; x < w; x++) {
            long long cx = ((long long)img.x0 + x) / ic.dx - ic.x0;
            src[c].col.ptr[x] = cx < 0 ? 0 : cx >= ic.w ? ic.w - 1 : cx;
        }
    }
    double lab[6] = {};
    if (cs == 6) {
        unsigned int* L = img.cielab;
        if (L[0] == 0x44454600) {
            unsigned int p1 = img.comps.ptr[1].prec, p2 = img.comps.ptr[2].prec;
            L[1] = 100, L[2] = 0, L[3] = 170, L[4] = (unsigned int)(1ULL << (p1 - 1)), L[5] = 200;
            L[6] = (unsigned int)((1ULL << (p2 - 2)) + (p2 >= 3 ? (1ULL << (p2 - 3)) : 0));
        }
        lab[0] = L[1], lab[1] = L[2], lab[2] = L[3], lab[3] = L[4], lab[4] = L[5], lab[5] = L[6];
        for (unsigned int i = 0; i < 3; i++)
            if (img.comps.ptr[i].prec > 31) return false;
    }
    if (!beginEveryRow(w, h, false)) return false;
    _typebuf<unsigned int> buf;
    if (!buf.set(w)) return false;
    // Grey, RGB and RGBA with every component at full size: straight from the samples' rows.
    bool whole = nc == 1 || (cs != 3 && cs != 4 && cs != 6);
    for (unsigned int c = 0; c < nc; c++) {
        const sJP2ImageComp& ic = img.comps.ptr[c];
        whole = whole && ic.dx == 1 && ic.dy == 1 && ic.x0 == img.x0 && ic.y0 == img.y0 && ic.w == w && ic.h == h;
    }
    if (whole) {
        for (long long y = 0; y < h; y++) {
            unsigned int* out = target32(y);
            if (!out) out = buf.ptr;
            const int* p[4];
            for (unsigned int c = 0; c < nc; c++) {
                p[c] = src[c].data + y * w;
                pictReleaseConsumed(src[c].data, w * y * (long long)sizeof(int), src[c].releasedTo);
            }
            // Samples are within their precision (at most 31 bits) once centred: no wrap.
            auto ch = [&](unsigned int c, long long x) {
                return (((unsigned int)p[c][x] + (unsigned int)src[c].bias) >> s) & 0xFF;
            };
            if (nc == 1)
                for (long long x = 0; x < w; x++) out[x] = 0xFF000000u + ch(0, x) * 0x010101u;
            else if (nc == 3)
                for (long long x = 0; x < w; x++) out[x] = pictArgb(ch(0, x), ch(1, x), ch(2, x));
            else
                for (long long x = 0; x < w; x++) out[x] = pictArgb(ch(0, x), ch(1, x), ch(2, x), ch(3, x));
            if (out == buf.ptr) row32(y, out);
        }
        return true;
    }
    const double cmykMax = (double)((1ULL << prec0) - 1);
    for (long long y = 0; y < h; y++) {
        const int* row[4];
        for (unsigned int c = 0; c < nc; c++) {
            const sJP2ImageComp& ic = img.comps.ptr[c];
            long long cy = ((long long)img.y0 + y) / ic.dy - ic.y0;
            cy = cy < 0 ? 0 : cy >= src[c].h ? src[c].h - 1 : cy;
            row[c] = src[c].data + cy * src[c].w;
            pictReleaseConsumed(src[c].data, src[c].w * cy * (long long)sizeof(int), src[c].releasedTo);
        }
        unsigned int* out = target32(y);
        if (!out) out = buf.ptr;
        auto sample = [&](unsigned int c, long long x) { return (long long)row[c][src[c].col.ptr[x]] + src[c].bias; };
        for (long long x = 0; x < w; x++) {
            unsigned int px;
            if (nc == 1) {
                unsigned int g = (unsigned int)(sample(0, x) >> s) & 0xFF;
                px = 0xFF000000u + g * 0x010101u;
            } else if (nc == 3 && cs == 3) {
                float Y = (float)sample(0, x), cb = (float)sample(1, x) - 128, cr = (float)sample(2, x) - 128;
                long long r = (long long)(Y + 1.402f * cr);
                long long g = (long long)(Y - 0.34414f * cb - 0.71414f * cr);
                long long b = (long long)(Y + 1.772f * cb);
                px = pictArgb(clamp255(r >> s), clamp255(g >> s), clamp255(b >> s));
            } else if (cs == 6) {
                unsigned int r, g, b;
                labToRgb(img, lab, sample(0, x), sample(1, x), sample(2, x), r, g, b);
                px = pictArgb(r, g, b, nc == 4 ? (unsigned int)(sample(3, x) >> s) & 0xFF : 255);
            } else if (nc == 4 && cs == 4) {
                double k = (cmykMax - (double)sample(3, x)) / cmykMax;
                auto ch = [&](unsigned int c) {
                    return (unsigned int)(long long)((cmykMax - (double)sample(c, x)) / cmykMax * k * 255) & 0xFF;
                };
                px = pictArgb(ch(0), ch(1), ch(2));
            } else {
                unsigned int r = (unsigned int)(sample(0, x) >> s) & 0xFF;
                unsigned int g = (unsigned int)(sample(1, x) >> s) & 0xFF;
                unsigned int b = (unsigned int)(sample(2, x) >> s) & 0xFF;
                px = pictArgb(r, g, b, nc == 4 ? (unsigned int)(sample(3, x) >> s) & 0xFF : 255);
            }
            out[x] = px;
        }
        if (out == buf.ptr) row32(y, out);
    }
    return true;
}

bool cPictJP2::validFor(cFileIOTarget* io, sPictInfo* info) {
    if (!io || !startsWith(io, kJp2Sig, 12)) return false;
    cJP2FileIOTarget s(io);
    cJP2Decode d;
    cPtr<cJP2Image> img;
    if (!d.setup(0) || !d.readHeader(&s, img)) return false;
    fillInfo(info, *img.ptr);
    return true;
}

bool cPictJP2::decode(cFileIOTarget* io) {
    startRows();
    if (!io) return endRows(false);
    cJP2FileIOTarget s(io);
    cJP2Decode d;
    cPtr<cJP2Image> img;
    bool ok = d.setup(0) && d.readHeader(&s, img) && d.setArea(img.ptr, img->x0, img->y0, img->x1, img->y1) &&
              d.decode(&s, img.ptr) && d.endDecompress(&s) && jp2ImageToThis(*img.ptr);
    return endRows(ok);
}

bool cPictJ2K::validFor(cFileIOTarget* io, sPictInfo* info) {
    if (!io || !startsWith(io, kJ2kSig, 4)) return false;
    cJP2FileIOTarget s(io);
    cJ2KDecode d;
    cPtr<cJP2Image> img;
    if (!d.readHeader(&s, img)) return false;
    fillInfo(info, *img.ptr);
    return true;
}

bool cPictJ2K::decode(cFileIOTarget* io) {
    startRows();
    if (!io) return endRows(false);
    cJP2FileIOTarget s(io);
    cJ2KDecode d;
    cPtr<cJP2Image> img;
    bool ok = d.readHeader(&s, img) && d.decode(&s, img.ptr) && jp2ImageToThis(*img.ptr);
    return endRows(ok);
}

// Rendering into caller buffers (fit, centre, area averaging), resampling, tone
// stretching and previews.
#include <cmath>
#include <cstring>

#include "picts/pictbase.h"

// Source pixels map to target pixels per axis: on an axis that shrinks every source pixel
// goes to the target pixel holding its centre (so the target averages the area it covers);
// on an axis that does not shrink every target pixel takes the source pixel holding its
// centre.
struct sExtRenderState {
    unsigned int* dst = nullptr;
    long long tw = 0, th = 0;
    long long sw = 0, sh = 0;  // picture size
    long long pw = 0, ph = 0;  // placed size in target pixels
    long long ox = 0, oy = 0;  // placed origin (may lie outside the target)
    bool accumulate = false;   // some axis shrinks: sums and counts per target pixel
    bool alphaSeen = false;    // a direct render got an alpha channel through setExtComp
    _typebuf<unsigned int> sums;        // 4 channels (B, G, R, A) per target pixel
    _typebuf<unsigned int> counts;      // whole pixels added per target pixel
    _typebuf<unsigned int> compCounts;  // single channels added, 4 per target pixel (lazy)
};

namespace {
const unsigned int kMaxSamples = 1u << 24;  // keeps 8-bit sums within 32 bits

long long ceilDiv(long long a, long long b) { return a >= 0 ? (a + b - 1) / b : -((-a) / b); }

// Target range [t0, t1) (before the origin is added) of source coordinate s.
void mapAxis(long long s, long long srcN, long long pN, long long& t0, long long& t1) {
    if (pN < srcN) {
        t0 = ((2 * s + 1) * pN) / (2 * srcN);
        t1 = t0 + 1;
    } else {
        t0 = ceilDiv(2 * s * pN - srcN, 2 * srcN);
        t1 = ceilDiv(2 * (s + 1) * pN - srcN, 2 * srcN);
    }
}

void clipToTarget(const sExtRenderState* st, long long& tx0, long long& tx1, long long& ty0, long long& ty1) {
    if (tx0 < 0) tx0 = 0;
    if (ty0 < 0) ty0 = 0;
    if (tx1 > st->tw) tx1 = st->tw;
    if (ty1 > st->th) ty1 = st->th;
}

// The target pixels [tx0, tx1) x [ty0, ty1) that source pixel (x, y) lands on, clipped to the target.
void pixelSpan(const sExtRenderState* st, long long x, long long y, long long& tx0, long long& tx1, long long& ty0,
               long long& ty1) {
    mapAxis(x, st->sw, st->pw, tx0, tx1);
    mapAxis(y, st->sh, st->ph, ty0, ty1);
    tx0 += st->ox, tx1 += st->ox, ty0 += st->oy, ty1 += st->oy;
    clipToTarget(st, tx0, tx1, ty0, ty1);
}
}  // namespace

bool cPictBase::setExtTarget(sExtPictDef* def) {
    if (!def) {
        if (myExtState) endExtRender();
        myHasExt = false;
        myExt = sExtPictDef();
        return true;
    }
    if (!def->pixels || def->width < 1 || def->height < 1) return false;
    if (myExtState) endExtRender();
    myExt = *def;
    myHasExt = true;
    return true;
}

bool cPictBase::startExtRender() {
    if (!myHasExt) return false;
    if (myExtState) {
        delete myExtState;
        myExtState = nullptr;
    }
    long long tw = myExt.width, th = myExt.height, sw = myWidth, sh = myHeight;
    long long bytes;
    if (sw < 1 || sh < 1 || !checkedImageBytes(tw, th, 4, bytes)) return false;
    double scale = myExt.scale > 0 ? myExt.scale : 1.0;
    double pwf, phf;
    if (myExt.mode == 1) {
        pwf = (double)tw;
        phf = (double)th;
    } else if (myExt.mode == 2) {
        pwf = sw * scale;
        phf = sh * scale;
    } else {
        double f = (double)tw / sw;
        if ((double)th / sh < f) f = (double)th / sh;
        pwf = sw * f * scale;
        phf = sh * f * scale;
    }
    // Placed sizes up to 2^31 keep the mapping's products within 64 bits.
    if (!(pwf < 2147483648.0) || !(phf < 2147483648.0)) return false;
    sExtRenderState* st = new sExtRenderState;
    st->dst = myExt.pixels;
    st->tw = tw;
    st->th = th;
    st->sw = sw;
    st->sh = sh;
    st->pw = (long long)(pwf + 0.5);
    st->ph = (long long)(phf + 0.5);
    if (st->pw < 1) st->pw = 1;
    if (st->ph < 1) st->ph = 1;
    if (myExt.mode == 2) {
        st->ox = myExt.offsetX;
        st->oy = myExt.offsetY;
    } else {
        st->ox = (tw - st->pw) / 2 + myExt.offsetX;
        st->oy = (th - st->ph) / 2 + myExt.offsetY;
    }
    st->accumulate = st->pw < sw || st->ph < sh;
    if (st->accumulate) {
        if (!checkedImageBytes(tw, th, 20, bytes) || !st->sums.set(tw * th * 4) || !st->counts.set(tw * th)) {
            delete st;
            return false;
        }
        st->sums.zero();
        st->counts.zero();
    }
    for (long long i = 0; i < tw * th; i++) st->dst[i] = myExt.background;
    myExtState = st;
    return true;
}

bool cPictBase::canExtRender(long long x0, long long x1, long long y0, long long y1) {
    sExtRenderState* st = myExtState;
    if (!st) return false;
    if (x0 < 0) x0 = 0;
    if (y0 < 0) y0 = 0;
    if (x1 > st->sw) x1 = st->sw;
    if (y1 > st->sh) y1 = st->sh;
    if (x0 >= x1 || y0 >= y1) return false;
    long long a0, a1, b0, b1, c0, c1, d0, d1;
    mapAxis(x0, st->sw, st->pw, a0, a1);
    mapAxis(x1 - 1, st->sw, st->pw, b0, b1);
    mapAxis(y0, st->sh, st->ph, c0, c1);
    mapAxis(y1 - 1, st->sh, st->ph, d0, d1);
    long long tx0 = a0 + st->ox, tx1 = b1 + st->ox, ty0 = c0 + st->oy, ty1 = d1 + st->oy;
    clipToTarget(st, tx0, tx1, ty0, ty1);
    return tx0 < tx1 && ty0 < ty1;
}

void cPictBase::setExtPix(long long x, long long y, unsigned int argb) {
    sExtRenderState* st = myExtState;
    if (!st || x < 0 || y < 0 || x >= st->sw || y >= st->sh) return;
    long long tx0, tx1, ty0, ty1;
    pixelSpan(st, x, y, tx0, tx1, ty0, ty1);
    for (long long ty = ty0; ty < ty1; ty++)
        for (long long tx = tx0; tx < tx1; tx++) {
            long long i = ty * st->tw + tx;
            if (!st->accumulate) {
                st->dst[i] = argb;
            } else if (st->counts.ptr[i] < kMaxSamples) {
                unsigned int* s = st->sums.ptr + i * 4;
                s[0] += argb & 0xFF;
                s[1] += (argb >> 8) & 0xFF;
                s[2] += (argb >> 16) & 0xFF;
                s[3] += argb >> 24;
                st->counts.ptr[i]++;
            }
        }
}

void cPictBase::setExtPix16(long long x, long long y, unsigned long long pix16) { setExtPix(x, y, to8Bpp(pix16)); }

void cPictBase::setExtComp(long long x, long long y, unsigned char value, int comp) {
    sExtRenderState* st = myExtState;
    if (!st || comp < 0 || comp > 3 || x < 0 || y < 0 || x >= st->sw || y >= st->sh) return;
    if (st->accumulate && !st->compCounts.ptr) {
        if (!st->compCounts.set(st->tw * st->th * 4)) return;
        st->compCounts.zero();
    }
    if (comp == 3) st->alphaSeen = true;
    long long tx0, tx1, ty0, ty1;
    pixelSpan(st, x, y, tx0, tx1, ty0, ty1);
    int shift = comp * 8;
    for (long long ty = ty0; ty < ty1; ty++)
        for (long long tx = tx0; tx < tx1; tx++) {
            long long i = ty * st->tw + tx;
            if (!st->accumulate) {
                unsigned int v = (st->dst[i] & ~(0xFFu << shift)) | ((unsigned int)value << shift);
                // Channel-wise delivery without alpha gives opaque pixels.
                if (!st->alphaSeen) v |= 0xFF000000u;
                st->dst[i] = v;
            } else if (st->compCounts.ptr[i * 4 + comp] < kMaxSamples) {
                st->sums.ptr[i * 4 + comp] += value;
                st->compCounts.ptr[i * 4 + comp]++;
            }
        }
}

void cPictBase::setExtComp16(long long x, long long y, unsigned short value, int comp) {
    setExtComp(x, y, (unsigned char)(value >> 8), comp);
}

void cPictBase::endExtRender() {
    sExtRenderState* st = myExtState;
    myExtState = nullptr;
    if (st && st->accumulate) {
        long long n = st->tw * st->th;
        for (long long i = 0; i < n; i++) {
            unsigned int whole = st->counts.ptr[i];
            unsigned int cnt[4];
            bool any = whole > 0;
            for (int c = 0; c < 4; c++) {
                cnt[c] = whole + (st->compCounts.ptr ? st->compCounts.ptr[i * 4 + c] : 0);
                if (cnt[c]) any = true;
            }
            if (!any) continue;  // outside the picture: background stays
            unsigned int v = 0;
            for (int c = 0; c < 4; c++) {
                unsigned int ch = cnt[c] ? (st->sums.ptr[i * 4 + c] + cnt[c] / 2) / cnt[c] : (c == 3 ? 0xFF : 0);
                v |= ch << (8 * c);
            }
            st->dst[i] = v;
        }
    }
    delete st;
    myHasExt = false;
    myExt = sExtPictDef();
}

bool cPictBase::toExtTarget(sExtPictDef* def) {
    if (!def || !holdsPixels()) return false;
    // Pages of other kinds are rendered a converted row at a time.
    const bool direct = pageKind() == pgArgb32;
    _typebuf<unsigned int> line;
    if (!direct && !line.set(myWidth)) return false;
    // A registered target belongs to the next decode; keep it across this render.
    sExtPictDef saved = myExt;
    bool hadExt = myHasExt;
    sExtRenderState* savedState = myExtState;
    myExtState = nullptr;
    bool ok = setExtTarget(def) && startExtRender();
    if (ok) {
        for (long long y = 0; y < myHeight; y++) {
            if (!canExtRender(0, myWidth, y, y + 1)) continue;
            const unsigned int* px = direct ? myPixels.ptr + y * myWidth : line.ptr;
            if (!direct) pixelRow32(y, line.ptr);
            for (long long x = 0; x < myWidth; x++) setExtPix(x, y, px[x]);
        }
        endExtRender();
    }
    myExt = saved;
    myHasExt = hadExt;
    myExtState = savedState;
    return ok;
}

namespace {
// Per-axis resampling weights: target t takes sum of weight * source[first + k].
struct sAxisWeights {
    _typebuf<long long> first;
    _typebuf<int> n;
    _typebuf<long long> start;  // index of t's first weight in w
    _typebuf<double> w;

    bool build(long long src, long long dst) {
        // Shrinking: each target covers src/dst source pixels, at most ceil(ratio) + 1 of them.
        long long per = dst < src ? src / dst + 2 : 2;
        long long total;
        if (!checkedMul(per, dst, total) || total > (1LL << 31)) return false;
        if (!first.set(dst) || !n.set(dst) || !start.set(dst) || !w.set(total)) return false;
        long long k = 0;
        for (long long t = 0; t < dst; t++) {
            start.ptr[t] = k;
            if (dst < src) {
                double a = (double)t * src / dst, b = (double)(t + 1) * src / dst;
                long long i0 = (long long)a, i1 = (long long)std::ceil(b);
                if (i1 > src) i1 = src;
                first.ptr[t] = i0;
                int m = 0;
                for (long long i = i0; i < i1; i++) {
                    double lo = i > a ? (double)i : a, hi = i + 1 < b ? (double)(i + 1) : b;
                    w.ptr[k + m++] = hi > lo ? (hi - lo) / (b - a) : 0.0;
                }
                n.ptr[t] = m;
                k += m;
            } else {
                double c = (t + 0.5) * src / dst - 0.5;
                if (c < 0) c = 0;
                if (c > src - 1) c = (double)(src - 1);
                long long i0 = (long long)c;
                double f = c - i0;
                first.ptr[t] = i0;
                w.ptr[k] = 1.0 - f;
                if (i0 + 1 < src && f > 0) {
                    w.ptr[k + 1] = f;
                    n.ptr[t] = 2;
                    k += 2;
                } else {
                    n.ptr[t] = 1;
                    k += 1;
                }
            }
        }
        return true;
    }
};

inline double channelOf(const unsigned int* p32, const unsigned long long* p64, long long i, int c) {
    return p64 ? (double)((p64[i] >> (16 * c)) & 0xFFFF) : (double)((p32[i] >> (8 * c)) & 0xFF);
}

// Stored rows of a picture as 32-bit (8-bit pictures) or 64-bit pixels: the picture's own rows
// where it holds that buffer, else the last row asked for, converted.
struct sRowSource {
    cPictBase& pict;
    const bool sixteen;
    _typebuf<unsigned int> r32;
    _typebuf<unsigned long long> r64;
    long long cached = -1;

    sRowSource(cPictBase& p, bool wide) : pict(p), sixteen(wide) {}
    bool init() {
        if (pict.pageKind() == (sixteen ? cPictBase::pgArgb64 : cPictBase::pgArgb32)) return true;
        return sixteen ? r64.set(pict.width()) : r32.set(pict.width());
    }
    const unsigned int* row32(long long y) {
        if (!r32.ptr) return pict.raw8Bpp() + y * pict.width();
        if (y != cached) pict.pixelRow32(y, r32.ptr), cached = y;
        return r32.ptr;
    }
    const unsigned long long* row64(long long y) {
        if (!r64.ptr) return pict.raw16Bpp() + y * pict.width();
        if (y != cached) pict.pixelRow64(y, r64.ptr), cached = y;
        return r64.ptr;
    }
};
}  // namespace

bool cPictBase::stretchTo(long long w, long long h, cPictBase& target) {
    if (&target == this || w < 1 || h < 1 || !holdsPixels()) return false;
    sRowSource src(*this, my16Bpp);
    if (!src.init()) return false;
    sAxisWeights ax, ay;
    _typebuf<double> row, acc;
    long long bytes;
    if (!checkedImageBytes(w, 1, 32, bytes) || !ax.build(myWidth, w) || !ay.build(myHeight, h) ||
        !row.set(w * 4) || !acc.set(w * 4))
        return false;
    bool sixteen = my16Bpp;
    if (!target.allocPixels(w, h, sixteen)) return false;
    double maxv = sixteen ? 65535.0 : 255.0;
    for (long long ty = 0; ty < h; ty++) {
        acc.zero();
        for (int ky = 0; ky < ay.n.ptr[ty]; ky++) {
            long long sy = ay.first.ptr[ty] + ky;
            double wy = ay.w.ptr[ay.start.ptr[ty] + ky];
            if (wy == 0.0) continue;
            const unsigned int* s32 = sixteen ? nullptr : src.row32(sy);
            const unsigned long long* s64 = sixteen ? src.row64(sy) : nullptr;
            for (long long tx = 0; tx < w; tx++) {
                double v[4] = {0, 0, 0, 0};
                for (int kx = 0; kx < ax.n.ptr[tx]; kx++) {
                    double wx = ax.w.ptr[ax.start.ptr[tx] + kx];
                    long long i = ax.first.ptr[tx] + kx;
                    for (int c = 0; c < 4; c++) v[c] += wx * channelOf(s32, s64, i, c);
                }
                for (int c = 0; c < 4; c++) acc.ptr[tx * 4 + c] += wy * v[c];
            }
        }
        for (long long tx = 0; tx < w; tx++) {
            unsigned long long px = 0;
            for (int c = 0; c < 4; c++) {
                double v = std::floor(acc.ptr[tx * 4 + c] + 0.5);
                if (v < 0) v = 0;
                if (v > maxv) v = maxv;
                px |= (unsigned long long)v << ((sixteen ? 16 : 8) * c);
            }
            if (sixteen)
                target.myPixels16.ptr[ty * w + tx] = px;
            else
                target.myPixels.ptr[ty * w + tx] = (unsigned int)px;
        }
    }
    return true;
}

bool cPictBase::autoScaleFrom(cPictBase& source) {
    if (&source == this || !source.holdsPixels()) return false;
    long long w = source.myWidth, h = source.myHeight;
    bool sixteen = source.my16Bpp;
    sRowSource src(source, sixteen);
    if (!src.init()) return false;
    int bits = sixteen ? 16 : 8;
    unsigned long long mask = sixteen ? 0xFFFF : 0xFF;
    unsigned long long lo = mask, hi = 0;
    for (long long y = 0; y < h; y++) {
        const unsigned int* s32 = sixteen ? nullptr : src.row32(y);
        const unsigned long long* s64 = sixteen ? src.row64(y) : nullptr;
        for (long long x = 0; x < w; x++) {
            unsigned long long p = sixteen ? s64[x] : s32[x];
            for (int c = 0; c < 3; c++) {
                unsigned long long v = (p >> (bits * c)) & mask;
                if (v < lo) lo = v;
                if (v > hi) hi = v;
            }
        }
    }
    if (!allocPixels(w, h, sixteen)) return false;
    for (long long y = 0; y < h; y++) {
        const unsigned int* s32 = sixteen ? nullptr : src.row32(y);
        const unsigned long long* s64 = sixteen ? src.row64(y) : nullptr;
        for (long long x = 0; x < w; x++) {
            unsigned long long p = sixteen ? s64[x] : s32[x];
            unsigned long long r = p & (mask << (bits * 3));  // alpha kept
            for (int c = 0; c < 3; c++) {
                unsigned long long v = (p >> (bits * c)) & mask;
                if (hi > lo) v = ((v - lo) * mask + (hi - lo) / 2) / (hi - lo);
                r |= v << (bits * c);
            }
            if (sixteen)
                myPixels16.ptr[y * w + x] = r;
            else
                myPixels.ptr[y * w + x] = (unsigned int)r;
        }
    }
    return true;
}

bool cPictBase::imgToPreview(cPictBase* picture, cPictBase* target, long long maxWidth, long long maxHeight,
                             unsigned int background) {
    if (!picture || !target || picture == target || maxWidth < 1 || maxHeight < 1) return false;
    long long w = picture->myWidth, h = picture->myHeight;
    if (w < 1 || h < 1) return false;
    if (w <= maxWidth && h <= maxHeight) {
        if (!picture->holdsPixels() || !target->allocPixels(w, h, false)) return false;
        for (long long y = 0; y < h; y++) picture->pixelRow32(y, target->myPixels.ptr + y * w);
        return true;
    }
    double f = (double)maxWidth / w;
    if ((double)maxHeight / h < f) f = (double)maxHeight / h;
    long long fw = (long long)(w * f + 0.5), fh = (long long)(h * f + 0.5);
    if (fw < 1) fw = 1;
    if (fh < 1) fh = 1;
    if (fw > maxWidth) fw = maxWidth;
    if (fh > maxHeight) fh = maxHeight;
    if (!target->allocPixels(fw, fh, false)) return false;
    for (long long i = 0; i < fw * fh; i++) target->myPixels.ptr[i] = background;
    sExtPictDef def(target);
    def.background = background;
    return picture->toExtTarget(&def);
}

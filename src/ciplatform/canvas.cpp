// The software canvas: region bookkeeping, shapes, pictures and copies. Text lives in
// canvastext.cpp.
#include "ciplatform/canvas.h"

#include <climits>
#include <cmath>
#include <cstring>

#include "ciplatform/fontobject.h"
#include "ciplatform/picture.h"

namespace {

// 0x00BBGGRR (or -1 / the unresolved theme default) to an opaque 0xAARRGGBB; false for "none".
bool toArgb(unsigned int colour, unsigned int& argb) {
    if ((colour & 0xFF000000u) == 0xFF000000u) return false;
    argb = 0xFF000000u | ((colour & 0xFF) << 16) | (colour & 0xFF00) | ((colour >> 16) & 0xFF);
    return true;
}

inline long long clampLL(long long v, long long lo, long long hi) { return v < lo ? lo : (v > hi ? hi : v); }

// Writes what of p lies outside [l, r) x [t, b) to out (at most four rectangles: the bands
// above and below, then the sides); answers how many.
int subtractRect(const sRect& p, int l, int t, int r, int b, sRect* out) {
    int pl = p.x, pt = p.y, pr = p.x + p.w, pb = p.y + p.h;
    if (l >= pr || r <= pl || t >= pb || b <= pt) {
        out[0] = p;
        return 1;
    }
    int m = 0;
    if (t > pt) out[m++] = {pl, pt, pr - pl, t - pt};
    if (b < pb) out[m++] = {pl, b, pr - pl, pb - b};
    int mt = t > pt ? t : pt, mb = b < pb ? b : pb;
    if (l > pl) out[m++] = {pl, mt, l - pl, mb - mt};
    if (r < pr) out[m++] = {r, mt, pr - r, mb - mt};
    return m;
}

}  // namespace

cCanvas::cCanvas() {}

cCanvas::cCanvas(int w, int h, unsigned int argb) { create(w, h, argb); }

cCanvas::~cCanvas() {}

bool cCanvas::create(int w, int h, unsigned int argb) {
    myPixels.clear();
    myWidth = myHeight = 0;
    myRegionCount = 0;
    myOX = myOY = 0;
    myFrame = {0, 0, 0, 0};
    if (!cPicture::sizeOk(w, h)) return false;
    if (!myPixels.set((long long)w * h)) return false;
    myWidth = w;
    myHeight = h;
    myOX = myOY = 0;
    myFrame = {0, 0, w, h};
    fillAll(argb);
    resetClip();
    return true;
}

unsigned int cCanvas::pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= myWidth || y >= myHeight) return 0;
    return myPixels.ptr[(long long)y * myWidth + x];
}

void cCanvas::fillAll(unsigned int argb) {
    for (long long i = 0; i < myPixels.count; i++) myPixels.ptr[i] = argb;
}

// --- region ---

void cCanvas::resetClip() { regionToFrame(); }

// The region becomes the frame: one rectangle, without allocating once the region has room.
void cCanvas::regionToFrame() {
    myRegionCount = 0;
    if (myFrame.left >= myFrame.right || myFrame.top >= myFrame.bottom) return;
    if (myRegion.count < 1 && !myRegion.reset(16)) return;
    myRegion.ptr[0] = {myFrame.left, myFrame.top, myFrame.right - myFrame.left, myFrame.bottom - myFrame.top};
    myRegionCount = 1;
}

// Clamped only where the sum leaves int: a tighter clamp would move a far-off rectangle whose
// far edge comes back into range onto the canvas.
int cCanvas::devX(long long x) const { return (int)clampLL(x + myOX, INT_MIN, INT_MAX); }
int cCanvas::devY(long long y) const { return (int)clampLL(y + myOY, INT_MIN, INT_MAX); }

void cCanvas::enterFrame(int dx, int dy, const sRect& r, sFrameState& saved) {
    saved = {myOX, myOY, myFrame, myFont, myTextColour, myTextBg, myLineColour, myLineWidth};
    myOX = clampLL(myOX + dx, -0x3FFFFFFF, 0x3FFFFFFF);
    myOY = clampLL(myOY + dy, -0x3FFFFFFF, 0x3FFFFFFF);
    long long l = myOX + r.x, t = myOY + r.y;
    long long rr = l + (r.w > 0 ? r.w : 0), b = t + (r.h > 0 ? r.h : 0);
    sArea f = myFrame;
    f.left = (int)clampLL(l, f.left, f.right);
    f.top = (int)clampLL(t, f.top, f.bottom);
    f.right = (int)clampLL(rr, f.left, f.right);
    f.bottom = (int)clampLL(b, f.top, f.bottom);
    myFrame = f;
    // Each element starts with the line mode a fresh canvas has, as it did on its own canvas.
    myLineColour = 0;
    myLineWidth = 1;
    regionToFrame();
}

void cCanvas::leaveFrame(const sFrameState& saved) {
    myOX = saved.ox;
    myOY = saved.oy;
    myFrame = saved.frame;
    myFont = saved.font;
    myTextColour = saved.textColour;
    myTextBg = saved.textBg;
    myLineColour = saved.lineColour;
    myLineWidth = saved.lineWidth;
    regionToFrame();
}

bool cCanvas::inRegion(int x, int y) const {
    for (long long i = 0; i < myRegionCount; i++) {
        const sRect& r = myRegion.ptr[i];
        if (x >= r.x && y >= r.y && x < r.x + r.w && y < r.y + r.h) return true;
    }
    return false;
}

// Appends [l, r) x [t, b) minus every rectangle already in the region.
bool cCanvas::regionAdd(int l, int t, int r, int b) {
    if (l < myFrame.left) l = myFrame.left;
    if (t < myFrame.top) t = myFrame.top;
    if (r > myFrame.right) r = myFrame.right;
    if (b > myFrame.bottom) b = myFrame.bottom;
    if (l >= r || t >= b) return true;
    // The pieces of the new rectangle not yet covered; each existing rectangle splits
    // every piece into at most four.
    _typebuf<sRect> pieces, next;
    long long n = 1;
    if (!pieces.set(4)) return false;
    pieces.ptr[0] = {l, t, r - l, b - t};
    for (long long e = 0; e < myRegionCount && n > 0; e++) {
        const sRect& o = myRegion.ptr[e];
        if (!next.set(n * 4)) return false;
        long long m = 0;
        for (long long i = 0; i < n; i++)
            m += subtractRect(pieces.ptr[i], o.x, o.y, o.x + o.w, o.y + o.h, next.ptr + m);
        pieces.swap(next);
        n = m;
    }
    if (myRegionCount + n > myRegion.count) {
        long long want = (myRegionCount + n) * 2;
        if (!myRegion.reset(want < 16 ? 16 : want)) return false;
    }
    for (long long i = 0; i < n; i++) myRegion.ptr[myRegionCount++] = pieces.ptr[i];
    return true;
}

void cCanvas::regionSubtract(int l, int t, int r, int b) {
    if (l >= r || t >= b || myRegionCount == 0) return;
    _typebuf<sRect> out;
    if (!out.set(myRegionCount * 4)) return;
    long long m = 0;
    for (long long i = 0; i < myRegionCount; i++) m += subtractRect(myRegion.ptr[i], l, t, r, b, out.ptr + m);
    myRegion.swap(out);
    myRegionCount = m;
}

static void rectToEdges(const sRect* r, int w, int h, int& l, int& t, int& rr, int& b) {
    long long x0 = r->x, y0 = r->y, x1 = (long long)r->x + (r->w > 0 ? r->w : 0),
              y1 = (long long)r->y + (r->h > 0 ? r->h : 0);
    l = (int)clampLL(x0, 0, w);
    t = (int)clampLL(y0, 0, h);
    rr = (int)clampLL(x1, 0, w);
    b = (int)clampLL(y1, 0, h);
}

void cCanvas::clip(sRect* r) {
    if (!r) return;
    sRect d = {devX(r->x), devY(r->y), r->w, r->h};
    int l, t, rr, b;
    rectToEdges(&d, myWidth, myHeight, l, t, rr, b);
    regionSubtract(l, t, rr, b);
}

void cCanvas::unclip(sRect* r) {
    if (!r) return;
    sRect d = {devX(r->x), devY(r->y), r->w, r->h};
    int l, t, rr, b;
    rectToEdges(&d, myWidth, myHeight, l, t, rr, b);
    regionAdd(l, t, rr, b);
}

// --- pixel primitives (coordinates already inside the canvas) ---

void cCanvas::fillArea(int l, int t, int r, int b, unsigned int argb) {
    for (long long i = 0; i < myRegionCount; i++) {
        const sRect& g = myRegion.ptr[i];
        int x0 = l > g.x ? l : g.x, x1 = r < g.x + g.w ? r : g.x + g.w;
        int y0 = t > g.y ? t : g.y, y1 = b < g.y + g.h ? b : g.y + g.h;
        for (int y = y0; y < y1; y++) {
            unsigned int* p = myPixels.ptr + (long long)y * myWidth;
            for (int x = x0; x < x1; x++) p[x] = argb;
        }
    }
}

// src over dst with coverage alpha 0..255.
static inline unsigned int blendOver(unsigned int dst, unsigned int src, int a) {
    if (a >= 255) return src | 0xFF000000u;
    if (a <= 0) return dst;
    unsigned int out = 0;
    for (int c = 0; c < 24; c += 8) {
        int s = (src >> c) & 0xFF, d = (dst >> c) & 0xFF;
        out |= (unsigned int)((s * a + d * (255 - a) + 127) / 255) << c;
    }
    int da = (dst >> 24) & 0xFF;
    out |= (unsigned int)(a + (da * (255 - a) + 127) / 255) << 24;
    return out;
}

void cCanvas::blendArea(int l, int t, int r, int b, unsigned int argb, int alpha) {
    for (long long i = 0; i < myRegionCount; i++) {
        const sRect& g = myRegion.ptr[i];
        int x0 = l > g.x ? l : g.x, x1 = r < g.x + g.w ? r : g.x + g.w;
        int y0 = t > g.y ? t : g.y, y1 = b < g.y + g.h ? b : g.y + g.h;
        for (int y = y0; y < y1; y++) {
            unsigned int* p = myPixels.ptr + (long long)y * myWidth;
            for (int x = x0; x < x1; x++) p[x] = blendOver(p[x], argb, alpha);
        }
    }
}

void cCanvas::blendPixel(int x, int y, unsigned int argb, int alpha) {
    if (x < 0 || y < 0 || x >= myWidth || y >= myHeight || !inRegion(x, y)) return;
    unsigned int* p = myPixels.ptr + (long long)y * myWidth + x;
    *p = blendOver(*p, argb, alpha);
}

// --- shapes ---

void cCanvas::drawRect(sRect* local, unsigned int fill, unsigned int frame) {
    if (!local || local->w <= 0 || local->h <= 0 || !myPixels.ptr) return;
    sRect dev = {devX(local->x), devY(local->y), local->w, local->h};
    sRect* r = &dev;
    unsigned int argb;
    int l, t, rr, b;
    rectToEdges(r, myWidth, myHeight, l, t, rr, b);
    if (toArgb(fill, argb)) fillArea(l, t, rr, b, argb);
    if (toArgb(frame, argb)) {
        long long x0 = r->x, y0 = r->y, x1 = (long long)r->x + r->w - 1, y1 = (long long)r->y + r->h - 1;
        auto edge = [&](long long a, long long bb, long long c, long long d) {
            fillArea((int)clampLL(a, 0, myWidth), (int)clampLL(bb, 0, myHeight), (int)clampLL(c + 1, 0, myWidth),
                     (int)clampLL(d + 1, 0, myHeight), argb);
        };
        edge(x0, y0, x1, y0);
        edge(x0, y1, x1, y1);
        edge(x0, y0, x0, y1);
        edge(x1, y0, x1, y1);
    }
}

void cCanvas::setLineMode(unsigned int colour, int width) {
    myLineColour = colour;
    myLineWidth = width < 1 ? 1 : (width > 1000 ? 1000 : width);
}

void cCanvas::drawLine(sPoint* from, sPoint* to) {
    unsigned int argb;
    if (!from || !to || !myPixels.ptr || !toArgb(myLineColour, argb)) return;
    long long x0 = (long long)from->x + myOX, y0 = (long long)from->y + myOY, x1 = (long long)to->x + myOX,
              y1 = (long long)to->y + myOY;
    long long dx = x1 - x0, dy = y1 - y0;
    int lw = myLineWidth, before = (lw - 1) / 2, after = lw / 2;
    bool xMajor = (dx < 0 ? -dx : dx) >= (dy < 0 ? -dy : dy);
    long long a0 = xMajor ? x0 : y0, a1 = xMajor ? x1 : y1;
    long long lo = a0 < a1 ? a0 : a1, hi = a0 < a1 ? a1 : a0;
    // Only the part of the major axis that can touch the canvas is walked.
    long long limit = xMajor ? myWidth : myHeight;
    lo = lo < -lw ? -lw : lo;
    hi = hi > limit + lw ? limit + lw : hi;
    long long da = xMajor ? dx : dy, db = xMajor ? dy : dx, b0 = xMajor ? y0 : x0;
    for (long long i = lo; i <= hi; i++) {
        long long j = da == 0 ? b0 : b0 + (long long)std::floor((double)(i - a0) * (double)db / (double)da + 0.5);
        long long px = xMajor ? i : j, py = xMajor ? j : i;
        fillArea((int)clampLL(px - before, 0, myWidth), (int)clampLL(py - before, 0, myHeight),
                 (int)clampLL(px + after + 1, 0, myWidth), (int)clampLL(py + after + 1, 0, myHeight), argb);
    }
}

// --- pictures ---

void cCanvas::drawPicture(int lx, int ly, cPicture* picture, int w, int h, bool blend) {
    if (!picture || !picture->raw() || !myPixels.ptr) return;
    int x = devX(lx), y = devY(ly);
    long long pw = picture->width(), ph = picture->height();
    long long tw = w < 0 ? pw : w, th = h < 0 ? ph : h;
    if (tw <= 0 || th <= 0) return;
    const unsigned int* src = picture->raw();
    long long X1 = (long long)x + tw, Y1 = (long long)y + th;
    for (long long i = 0; i < myRegionCount; i++) {
        const sRect& g = myRegion.ptr[i];
        long long x0 = x > g.x ? x : g.x, x1 = X1 < g.x + g.w ? X1 : g.x + g.w;
        long long y0 = y > g.y ? y : g.y, y1 = Y1 < g.y + g.h ? Y1 : g.y + g.h;
        for (long long py = y0; py < y1; py++) {
            // Each target pixel takes the source pixel under its centre.
            long long sy = ((2 * (py - y) + 1) * ph) / (2 * th);
            const unsigned int* srow = src + sy * pw;
            unsigned int* d = myPixels.ptr + py * myWidth;
            for (long long px = x0; px < x1; px++) {
                long long sx = ((2 * (px - x) + 1) * pw) / (2 * tw);
                unsigned int s = srow[sx];
                d[px] = blend ? blendOver(d[px], s & 0xFFFFFF, (int)(s >> 24)) : (s | 0xFF000000u);
            }
        }
    }
}

void cCanvas::drawBitmap(int x, int y, cPicture* picture, int w, int h) { drawPicture(x, y, picture, w, h, false); }

void cCanvas::drawBitmap(sPoint* at, cPicture* picture, sSize* size) {
    if (!at) return;
    drawPicture(at->x, at->y, picture, size ? size->cx : -1, size ? size->cy : -1, false);
}

void cCanvas::drawTransparent(sPoint* at, cPicture* picture, sSize* size) {
    if (!at) return;
    drawPicture(at->x, at->y, picture, size ? size->cx : -1, size ? size->cy : -1, true);
}

// --- canvases ---

cCanvas* cCanvas::offscreen(int w, int h, int, int) {
    cCanvas* c = new cCanvas();
    if (!c->create(w, h, 0xFFFFFFFFu)) {
        delete c;
        return nullptr;
    }
    c->myScale = myScale;
    c->myFont = myFont;
    c->myTextColour = myTextColour;
    c->myTextBg = myTextBg;
    return c;
}

void cCanvas::draw(int x, int y, cCanvas* source, int sx, int sy, int w, int h) {
    if (!source || !source->myPixels.ptr || !myPixels.ptr) return;
    // Each side's coordinates through its own origin.
    long long SX = (long long)sx + source->myOX, SY = (long long)sy + source->myOY;
    long long W = w < 0 ? (long long)source->myWidth - SX : w, H = h < 0 ? (long long)source->myHeight - SY : h;
    long long X = (long long)x + myOX, Y = (long long)y + myOY;
    // Trim the source rectangle to the source canvas, moving the target with it.
    if (SX < 0) W += SX, X -= SX, SX = 0;
    if (SY < 0) H += SY, Y -= SY, SY = 0;
    if (SX + W > source->myWidth) W = source->myWidth - SX;
    if (SY + H > source->myHeight) H = source->myHeight - SY;
    if (W <= 0 || H <= 0) return;
    _typebuf<unsigned int> copy;  // a copy within one canvas may overlap
    const unsigned int* src = source->myPixels.ptr;
    long long stride = source->myWidth;
    if (source == this) {
        if (!copy.set(W * H)) return;
        for (long long r = 0; r < H; r++)
            memcpy(copy.ptr + r * W, src + (SY + r) * stride + SX, (size_t)W * 4);
        src = copy.ptr;
        stride = W;
        SX = SY = 0;
    }
    for (long long i = 0; i < myRegionCount; i++) {
        const sRect& g = myRegion.ptr[i];
        long long x0 = X > g.x ? X : g.x, x1 = X + W < g.x + g.w ? X + W : g.x + g.w;
        long long y0 = Y > g.y ? Y : g.y, y1 = Y + H < g.y + g.h ? Y + H : g.y + g.h;
        if (x0 >= x1) continue;
        for (long long py = y0; py < y1; py++)
            memcpy(myPixels.ptr + py * myWidth + x0, src + (SY + py - Y) * stride + SX + (x0 - X),
                   (size_t)(x1 - x0) * 4);
    }
}

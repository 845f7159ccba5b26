// The canvas's text operations: one-line, cut and wrapped text, measuring and rulers.
// Measuring and drawing add the same per-glyph advances, so what is measured is drawn.
#include <cstring>

#include "ciplatform/canvas.h"
#include "ciplatform/fontobject.h"
#include "ciplatform/linebreak.h"
#include "ciplatform/textcodec.h"

namespace {

bool toArgb(unsigned int colour, unsigned int& argb) {
    if ((colour & 0xFF000000u) == 0xFF000000u) return false;
    argb = 0xFF000000u | ((colour & 0xFF) << 16) | (colour & 0xFF00) | ((colour >> 16) & 0xFF);
    return true;
}

inline unsigned int blendText(unsigned int dst, unsigned int src, int a) {
    if (a >= 255) return src;
    unsigned int out = 0;
    for (int c = 0; c < 24; c += 8) {
        int s = (src >> c) & 0xFF, d = (dst >> c) & 0xFF;
        out |= (unsigned int)((s * a + d * (255 - a) + 127) / 255) << c;
    }
    int da = (dst >> 24) & 0xFF;
    return out | (unsigned int)(a + (da * (255 - a) + 127) / 255) << 24;
}

inline long long clampLL(long long v, long long lo, long long hi) { return v < lo ? lo : (v > hi ? hi : v); }

inline bool isSpace(unsigned int c) { return c == ' ' || c == '\t' || c == 0xA0 || c == 0x3000; }

const unsigned int kEllipsis[3] = {'.', '.', '.'};

}  // namespace

void cCanvas::setTextMode(cFontObject* font) { myFont = font; }

cFontObject* cCanvas::textMode() {
    if (!myFont) myFont = cFontObject::get(5, 13, _glbalStdFont(), false, false, false);
    return myFont;
}

void cCanvas::setTextColors(unsigned int text, unsigned int background) {
    myTextColour = text;
    myTextBg = background;
}

// Fills [l, r) x [t, b) inside the region and the text box limit.
void cCanvas::fillLimited(long long l, long long t, long long r, long long b, unsigned int argb) {
    if (myLimited) {
        if (l < myLimit.left) l = myLimit.left;
        if (t < myLimit.top) t = myLimit.top;
        if (r > myLimit.right) r = myLimit.right;
        if (b > myLimit.bottom) b = myLimit.bottom;
    }
    if (l < 0) l = 0;
    if (t < 0) t = 0;
    if (r > myWidth) r = myWidth;
    if (b > myHeight) b = myHeight;
    if (l < r && t < b) fillArea((int)l, (int)t, (int)r, (int)b, argb);
}

// Blends a glyph's coverage whose bitmap's top-left lands at (x, y).
void cCanvas::blitGlyph(int x, int y, const sGlyph* g, unsigned int argb) {
    if (!g->coverage) return;
    long long gl = x, gt = y, gr = (long long)x + g->width, gb = (long long)y + g->rows;
    if (myLimited) {
        if (gl < myLimit.left) gl = myLimit.left;
        if (gt < myLimit.top) gt = myLimit.top;
        if (gr > myLimit.right) gr = myLimit.right;
        if (gb > myLimit.bottom) gb = myLimit.bottom;
    }
    for (long long i = 0; i < myRegionCount; i++) {
        const sRect& r = myRegion.ptr[i];
        long long x0 = gl > r.x ? gl : r.x, x1 = gr < r.x + r.w ? gr : r.x + r.w;
        long long y0 = gt > r.y ? gt : r.y, y1 = gb < r.y + r.h ? gb : r.y + r.h;
        for (long long py = y0; py < y1; py++) {
            const unsigned char* cov = g->coverage + (py - y) * g->width - x;
            unsigned int* d = myPixels.ptr + py * myWidth;
            for (long long px = x0; px < x1; px++)
                if (cov[px]) d[px] = blendText(d[px], argb, cov[px]);
        }
    }
}

int cCanvas::runWidth(const unsigned int* cps, long long count) {
    cFontObject* f = textMode();
    if (!f) return 0;
    long long w = 0;
    for (long long i = 0; i < count; i++) w += f->advance(cps[i]);
    return w > 0x3FFFFFFF ? 0x3FFFFFFF : (int)w;
}

// One line whose line box starts at (x, y); justified lines add extraPerSpace to every
// space and one more pixel to the first extraRest spaces.
void cCanvas::drawRun(int x, int y, const unsigned int* cps, long long count, int extraPerSpace, int extraRest) {
    cFontObject* f = textMode();
    unsigned int argb;
    if (!f || !myPixels.ptr || !toArgb(myTextColour, argb)) return;
    long long pen = x, base = (long long)y + f->ascent();
    for (long long i = 0; i < count; i++) {
        if (pen > myWidth + 0x10000LL) break;  // far past the right edge: nothing more shows
        const sGlyph* g = f->glyph(cps[i]);
        long long gx = pen + g->left, gy = base - g->top;
        if (g->coverage && gx + g->width > 0 && gx < myWidth && gy + g->rows > 0 && gy < myHeight)
            blitGlyph((int)gx, (int)gy, g, argb);
        pen += g->advance;
        if (isSpace(cps[i]) && (extraPerSpace || extraRest)) {
            pen += extraPerSpace;
            if (extraRest > 0) pen++, extraRest--;
        }
    }
    if (f->underline() && pen > x) {
        long long ut = base + f->underlinePos();
        fillLimited(x, ut, pen, ut + f->underlineThickness(), argb);
    }
}

bool cCanvas::textSize(const char* text, long long length, sSize& out) {
    out.cx = out.cy = 0;
    cFontObject* f = textMode();
    if (!f) return false;
    _typebuf<unsigned int> cps;
    _typebuf<long long> units;
    long long n;
    if (!decodeUtf8(text, length, cps, units, n)) return false;
    out.cx = runWidth(cps.ptr, n);
    out.cy = f->lineHeight();
    return true;
}

bool cCanvas::textSize(const unsigned short* text, long long length, sSize& out) {
    out.cx = out.cy = 0;
    cFontObject* f = textMode();
    if (!f) return false;
    _typebuf<unsigned int> cps;
    _typebuf<long long> units;
    long long n;
    if (!decodeUtf16(text, length, cps, units, n)) return false;
    out.cx = runWidth(cps.ptr, n);
    out.cy = f->lineHeight();
    return true;
}

int cCanvas::textRuler(const char* text, long long length, int* edges) {
    cFontObject* f = textMode();
    if (!f || !edges) return 0;
    _typebuf<unsigned int> cps;
    _typebuf<long long> units;
    long long n;
    if (!decodeUtf8(text, length, cps, units, n)) return 0;
    long long pen = 0;
    for (long long i = 0; i < n; i++) {
        pen += f->advance(cps.ptr[i]);
        edges[i] = pen > 0x3FFFFFFF ? 0x3FFFFFFF : (int)pen;
    }
    return (int)n;
}

int cCanvas::textRuler(const unsigned short* text, long long length, int* edges) {
    cFontObject* f = textMode();
    if (!f || !edges) return 0;
    _typebuf<unsigned int> cps;
    _typebuf<long long> units;
    long long n;
    if (!decodeUtf16(text, length, cps, units, n)) return 0;
    long long pen = 0;
    for (long long i = 0; i < n; i++) {
        pen += f->advance(cps.ptr[i]);
        int e = pen > 0x3FFFFFFF ? 0x3FFFFFFF : (int)pen;
        for (long long u = units.ptr[i]; u < units.ptr[i + 1]; u++) edges[u] = e;
    }
    return (int)units.ptr[n];
}

void cCanvas::drawText(int lx, int ly, bool transparent, const char* text, long long length) {
    int x = devX(lx), y = devY(ly);
    _typebuf<unsigned int> cps;
    _typebuf<long long> units;
    long long n;
    cFontObject* f = textMode();
    if (!f || !decodeUtf8(text, length, cps, units, n)) return;
    unsigned int bg = 0;
    if (!transparent && toArgb(myTextBg, bg))
        fillLimited(x, y, (long long)x + runWidth(cps.ptr, n), (long long)y + f->lineHeight(), bg);
    drawRun(x, y, cps.ptr, n, 0, 0);
}

void cCanvas::drawText(int lx, int ly, bool transparent, const unsigned short* text, long long length) {
    int x = devX(lx), y = devY(ly);
    _typebuf<unsigned int> cps;
    _typebuf<long long> units;
    long long n;
    cFontObject* f = textMode();
    if (!f || !decodeUtf16(text, length, cps, units, n)) return;
    unsigned int bg = 0;
    if (!transparent && toArgb(myTextBg, bg))
        fillLimited(x, y, (long long)x + runWidth(cps.ptr, n), (long long)y + f->lineHeight(), bg);
    drawRun(x, y, cps.ptr, n, 0, 0);
}

int cCanvas::drawTextLimitedU(int x, int y, int w, int h, int alignment, bool transparent, int leftMargin,
                              int rightMargin, const unsigned int* cps, long long count, const long long* units,
                              long long* shown, bool noEllipsis) {
    if (shown) *shown = 0;
    cFontObject* f = textMode();
    if (!f) return x;
    long long avail = (long long)w - leftMargin - rightMargin;
    long long full = runWidth(cps, count);
    long long keep = count;  // code points drawn before the ellipsis
    bool cut = false;
    long long drawnWidth = full;
    if (full > avail && !noEllipsis) {
        cut = true;
        long long ew = runWidth(kEllipsis, 3), pen = 0;
        keep = 0;
        while (keep < count && pen + f->advance(cps[keep]) + ew <= avail) pen += f->advance(cps[keep++]);
        drawnWidth = pen + ew;
    }
    long long start = (long long)x + leftMargin;
    if (alignment == taCenter)
        start += (avail - drawnWidth) / 2;
    else if (alignment == taRight)
        start = (long long)x + w - rightMargin - drawnWidth;
    if (start < (long long)x + leftMargin && !cut && alignment != taLeft) start = (long long)x + leftMargin;
    long long top = (long long)y + ((long long)h - f->lineHeight()) / 2;
    if (shown) *shown = units[keep];
    if (w <= 0 || h <= 0) return (int)start;
    bool wasLimited = myLimited;
    sArea was = myLimit;
    sArea box = {x, y, (int)(x + (long long)w > 0x7FFFFFFF ? 0x7FFFFFFF : x + (long long)w),
                 (int)(y + (long long)h > 0x7FFFFFFF ? 0x7FFFFFFF : y + (long long)h)};
    if (myLimited) {
        if (box.left < was.left) box.left = was.left;
        if (box.top < was.top) box.top = was.top;
        if (box.right > was.right) box.right = was.right;
        if (box.bottom > was.bottom) box.bottom = was.bottom;
    }
    myLimited = true;
    myLimit = box;
    unsigned int bg = 0;
    if (!transparent && toArgb(myTextBg, bg)) fillLimited(start, top, start + drawnWidth, top + f->lineHeight(), bg);
    if (start > 0x3FFFFFFF || start < -0x3FFFFFFF || top > 0x3FFFFFFF || top < -0x3FFFFFFF) {
        myLimited = wasLimited;
        myLimit = was;
        return (int)(start > 0x3FFFFFFF ? 0x3FFFFFFF : (start < -0x3FFFFFFF ? -0x3FFFFFFF : start));
    }
    drawRun((int)start, (int)top, cps, keep, 0, 0);
    if (cut) drawRun((int)(start + drawnWidth - runWidth(kEllipsis, 3)), (int)top, kEllipsis, 3, 0, 0);
    myLimited = wasLimited;
    myLimit = was;
    return (int)start;
}

int cCanvas::drawTextLimited(int x, int y, int w, int h, int alignment, bool transparent, int leftMargin,
                             int rightMargin, const char* text, long long length, long long* shown, bool noEllipsis) {
    _typebuf<unsigned int> cps;
    _typebuf<long long> units;
    long long n;
    if (!decodeUtf8(text, length, cps, units, n)) return x;
    // The box in device pixels; the start handed back in the caller's coordinates.
    int start = drawTextLimitedU(devX(x), devY(y), w, h, alignment, transparent, leftMargin, rightMargin, cps.ptr, n, units.ptr,
                            shown, noEllipsis);
    return (int)clampLL((long long)start - myOX, -0x3FFFFFFF, 0x3FFFFFFF);
}

int cCanvas::drawTextLimited(int x, int y, int w, int h, int alignment, bool transparent, int leftMargin,
                             int rightMargin, const unsigned short* text, long long length, long long* shown,
                             bool noEllipsis) {
    _typebuf<unsigned int> cps;
    _typebuf<long long> units;
    long long n;
    if (!decodeUtf16(text, length, cps, units, n)) return x;
    // The box in device pixels; the start handed back in the caller's coordinates.
    int start = drawTextLimitedU(devX(x), devY(y), w, h, alignment, transparent, leftMargin, rightMargin, cps.ptr, n, units.ptr,
                            shown, noEllipsis);
    return (int)clampLL((long long)start - myOX, -0x3FFFFFFF, 0x3FFFFFFF);
}

int cCanvas::drawTextLimited(sRect* box, int alignment, bool transparent, int leftMargin, int rightMargin,
                             const char* text, long long length, long long* shown, bool noEllipsis) {
    if (!box) return 0;
    return drawTextLimited(box->x, box->y, box->w, box->h, alignment, transparent, leftMargin, rightMargin, text,
                           length, shown, noEllipsis);
}

int cCanvas::drawTextLimited(sRect* box, int alignment, bool transparent, int leftMargin, int rightMargin,
                             const unsigned short* text, long long length, long long* shown, bool noEllipsis) {
    if (!box) return 0;
    return drawTextLimited(box->x, box->y, box->w, box->h, alignment, transparent, leftMargin, rightMargin, text,
                           length, shown, noEllipsis);
}

// Greedy wrapping: a line takes words while they fit (East Asian text breaks between its
// characters, see linebreak.h); a word wider than the box is broken between characters;
// '\n' ends a paragraph. Trailing spaces do not count.
bool cCanvas::drawWrappedU(int x, int y, int w, int h, int align, const unsigned int* cps, long long count,
                           sSize& used, bool transparent, double lineFactor) {
    used.cx = used.cy = 0;
    cFontObject* f = textMode();
    if (!f || count <= 0) return false;
    if (!(lineFactor > 0)) lineFactor = textWrapYFactor();  // NaN too
    // Bounded before the conversion: a huge factor must neither overflow nor wrap.
    double spacing = f->lineHeight() * lineFactor + 0.5;
    long long lh = spacing >= 0x3FFFFFFF ? 0x3FFFFFFF : (long long)spacing;
    if (lh < 1) lh = 1;
    long long limitW = w > 0 ? w : 0x3FFFFFFF;
    unsigned int bg = 0;
    bool fillBg = !transparent && toArgb(myTextBg, bg);
    long long lineTop = y, maxW = 0, i = 0;
    while (i <= count) {
        // One line: [i, end) is drawn, the next line starts at `next`.
        // The last place the line may end: at a blank (which the next line skips) or
        // between two characters of East Asian text.
        long long end = i, pen = 0, lastBreak = -1, breakNext = -1;
        bool hardBreak = false;
        long long j = i;
        while (j < count && cps[j] != '\n') {
            unsigned int c = cps[j];
            int adv = c == '\r' ? 0 : f->advance(c == '\t' ? ' ' : c);
            if (isSpace(c)) {
                lastBreak = j;
                breakNext = j + 1;
            } else {
                if (j > i && !isSpace(cps[j - 1]) && canBreakBetween(cps[j - 1], c)) {
                    lastBreak = j;
                    breakNext = j;
                }
                if (pen + adv > limitW && j > i) break;
            }
            pen += adv;
            j++;
        }
        long long next;
        if (j >= count || cps[j] == '\n') {
            end = j;
            next = j + 1;
            hardBreak = true;
        } else if (lastBreak > i) {
            end = lastBreak;
            next = breakNext;
        } else {
            end = j;  // a word longer than the line: break inside it
            next = j;
        }
        while (next < count && cps[next] == ' ' && !hardBreak) next++;
        // Trailing spaces take no room.
        long long e = end;
        while (e > i && (isSpace(cps[e - 1]) || cps[e - 1] == '\r')) e--;
        long long lw = 0, spaces = 0;
        for (long long k = i; k < e; k++) {
            unsigned int c = cps[k];
            lw += c == '\r' ? 0 : f->advance(c == '\t' ? ' ' : c);
            if (isSpace(c)) spaces++;
        }
        if (lw > maxW) maxW = lw;
        // Only whole lines: one whose glyphs would pass the box's bottom is not drawn, so
        // no cut letter tops show below the box.
        long long bottom = (long long)y + h;
        bool visible = h < 0 || lineTop + f->lineHeight() <= bottom;
        if (visible && lineTop > -0x3FFFFFFF && lineTop < 0x3FFFFFFF) {
            long long lx = x;
            int perSpace = 0, rest = 0;
            if (align == taCenter)
                lx += (limitW - lw) / 2;
            else if (align == taRight)
                lx += limitW - lw;
            else if (align == taJustify && !hardBreak && spaces > 0 && lw < limitW && w > 0) {
                perSpace = (int)((limitW - lw) / spaces);
                rest = (int)((limitW - lw) % spaces);
            }
            if (w <= 0 && align != taLeft && align != taJustify) lx = x;
            long long fillEnd = h >= 0 && lineTop + lh > bottom ? bottom : lineTop + lh;
            if (fillBg) fillLimited(x, lineTop, (long long)x + (w > 0 ? w : lw), fillEnd, bg);
            // Tabs and carriage returns draw as what they measured as.
            _typebuf<unsigned int> line;
            if (e > i && line.set(e - i)) {
                for (long long k = i; k < e; k++) {
                    unsigned int c = cps[k];
                    line.ptr[k - i] = c == '\t' ? ' ' : (c == '\r' ? 0x200B : c);
                }
                if (lx > -0x3FFFFFFF && lx < 0x3FFFFFFF) drawRun((int)lx, (int)lineTop, line.ptr, e - i, perSpace, rest);
            }
        }
        lineTop += lh;
        if (next > count) break;
        if (next == count && !hardBreak) break;
        i = next;
        if (i == count && hardBreak) break;  // a final '\n' adds no empty line
    }
    used.cx = maxW > 0x3FFFFFFF ? 0x3FFFFFFF : (int)maxW;
    long long hh = lineTop - y;
    used.cy = hh > 0x3FFFFFFF ? 0x3FFFFFFF : (int)hh;
    return true;
}

bool cCanvas::drawTextWrapped(int x, int y, int w, int h, eTextAlign align, const char* text, sSize& used,
                              bool transparent, double lineFactor) {
    _typebuf<unsigned int> cps;
    _typebuf<long long> units;
    long long n;
    used.cx = used.cy = 0;
    if (!decodeUtf8(text, -1, cps, units, n)) return false;
    return drawWrappedU(devX(x), devY(y), w, h, align, cps.ptr, n, used, transparent, lineFactor);
}

bool cCanvas::drawTextWrapped(sRect* box, eTextAlign align, const char* text, sSize& used, bool transparent,
                              double lineFactor) {
    used.cx = used.cy = 0;
    if (!box) return false;
    return drawTextWrapped(box->x, box->y, box->w, box->h, align, text, used, transparent, lineFactor);
}

bool cCanvas::drawTextWrapped(int x, int y, int w, int h, eTextAlign align, const unsigned short* text, sSize& used,
                              bool transparent, double lineFactor) {
    _typebuf<unsigned int> cps;
    _typebuf<long long> units;
    long long n;
    used.cx = used.cy = 0;
    if (!decodeUtf16(text, -1, cps, units, n)) return false;
    return drawWrappedU(devX(x), devY(y), w, h, align, cps.ptr, n, used, transparent, lineFactor);
}

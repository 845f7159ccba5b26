// Measuring and drawing of document boxes: words and pictures clipped to their limits,
// containers that flow their children into aligned lines, links that report their zones.
// Positions are summed in 64 bits and clamped (kSiDocMaxExtent); container nesting past
// kSiDocMaxNesting is refused, so recursion stays bounded for any tree.
#include <climits>
#include <cstring>

#include "cihlpdoc/sidocbox.h"
#include "ciplatform/canvas.h"
#include "ciplatform/fontobject.h"
#include "ciplatform/linebreak.h"
#include "ciplatform/picture.h"
#include "ciplatform/textcodec.h"

namespace {

const unsigned int kNone = 0xFFFFFFFFu;

int clampInt(long long v) {
    if (v > kSiDocMaxExtent) return kSiDocMaxExtent;
    if (v < -kSiDocMaxExtent) return -kSiDocMaxExtent;
    return (int)v;
}

// (int)v of the layout rules, kept in range.
int truncInt(double v) {
    if (v > kSiDocMaxExtent) return kSiDocMaxExtent;
    if (v < -kSiDocMaxExtent) return -kSiDocMaxExtent;
    // Fractions of justified spaces add up to whole pixels; keep rounding noise out.
    return (int)(v + (v >= 0 ? 1e-7 : -1e-7));
}

int lineHeight(int h) { return clampInt((long long)(h * textWrapYFactor() + 0.5)); }

bool measuresOnly(const sSiDocDrawProps& p) { return p.paintTop >= p.paintBottom; }

bool overWorked(const sSiDocDrawProps& p) { return p.work && *p.work > kSiDocMaxLayoutWork; }

void fill(cCanvas* canvas, long long x, long long y, long long w, long long h, unsigned int colour) {
    if (w <= 0 || h <= 0 || colour == kNone) return;
    sRect r = {clampInt(x), clampInt(y), clampInt(w), clampInt(h)};
    canvas->drawRect(&r, colour, colour);
}

cFontObject* fontOf(cSiDocFontProvider* provider, unsigned int id, const sSiDocDrawProps& props) {
    cFontObject* f = provider && id != kNone ? provider->font(id) : nullptr;
    return f ? f : props.font;
}

// Words are text or link boxes with text: one space goes between neighbouring words.
bool isWord(cSiDocBox* box) {
    cSiDocText* t = dynamic_cast<cSiDocText*>(box);
    return t && t->text();
}

}  // namespace

// ---- text and links ----

bool cSiDocText::part(const sSiDocDrawProps& props, const char*& text, long long& length) const {
    text = nullptr;
    length = 0;
    if (!myText.ptr) return false;
    long long all = (long long)strlen(myText.ptr);
    long long from = props.textFrom > 0 ? props.textFrom : 0;
    long long to = props.textTo >= 0 && props.textTo < all ? props.textTo : all;
    if (from >= to) return false;
    text = myText.ptr + from;
    length = to - from;
    return true;
}

long long cSiDocText::breakWithin(cCanvas* canvas, const sSiDocDrawProps& props, long long from, long long room,
                                  bool atLeastOne) {
    if (!canvas || !myText.ptr || myWidth > 0 || from < 0) return -1;
    long long all = (long long)strlen(myText.ptr);
    if (from >= all) return -1;
    // A character is at least a pixel wide, so no more than room + 2 of them are looked at.
    long long n = all - from, cap = room < 0 ? 8 : (room + 2) * 4;
    if (n > cap) n = cap;
    _typebuf<unsigned int> cps;
    _typebuf<long long> units;
    _typebuf<int> edges;
    long long count;
    if (!decodeUtf8(myText.ptr + from, n, cps, units, count) || count < 2 || !edges.set(count)) return -1;
    canvas->setTextMode(fontOf(myFontProvider, myFontId, props));
    if (canvas->textRuler(myText.ptr + from, n, edges.ptr) != count) return -1;
    long long best = -1;
    for (long long k = 1; k < count; k++) {
        if (cps.ptr[k - 1] == ' ' || cps.ptr[k] == ' ' || !canBreakBetween(cps.ptr[k - 1], cps.ptr[k])) continue;
        if (edges.ptr[k - 1] > room) {
            if (best < 0 && atLeastOne) best = k;
            break;
        }
        best = k;
    }
    return best < 0 ? -1 : from + units.ptr[best];
}

bool cSiDocText::wantsSize(cCanvas* canvas, const sSiDocDrawProps& props, sSize& wanted) {
    if (myWidth > 0 && myHeight > 0) {
        wanted.cx = myWidth;
        wanted.cy = myHeight;
        return true;
    }
    wanted.cx = wanted.cy = 0;
    if (!canvas) return false;
    canvas->setTextMode(fontOf(myFontProvider, myFontId, props));
    sSize s = {0, 0};
    canvas->textSize(" ", 1, s);
    wanted.cy = lineHeight(s.cy);
    const char* text;
    long long length;
    if (!part(props, text, length)) return true;
    canvas->textSize(text, length, s);
    wanted.cx = s.cx;
    wanted.cy = lineHeight(s.cy);
    if (myWidth > 0) wanted.cx = myWidth;
    if (myHeight > 0) wanted.cy = myHeight;
    return true;
}

bool cSiDocText::draw(cCanvas* canvas, const sSiDocDrawProps& props, sSize& drawn) {
    drawn.cx = drawn.cy = 0;
    if (!canvas) return false;
    canvas->setTextMode(fontOf(myFontProvider, myFontId, props));
    sSize t = {0, 0};
    canvas->textSize(" ", 1, t);
    drawn.cy = lineHeight(t.cy);
    const char* text;
    long long length;
    if (!part(props, text, length) || props.rightLimit == 0 || props.bottomLimit == 0) return false;
    canvas->textSize(text, length, t);
    drawn.cx = myWidth > 0 ? myWidth : t.cx;
    drawn.cy = myHeight > 0 ? myHeight : lineHeight(t.cy);
    // A box that starts past its limit keeps no width (never a negative one).
    if (props.rightLimit > 0 && (long long)props.x + drawn.cx > props.rightLimit)
        drawn.cx = props.rightLimit > props.x ? props.rightLimit - props.x : 0;
    if (props.bottomLimit > 0 && (long long)props.y + drawn.cy > props.bottomLimit)
        drawn.cy = props.bottomLimit > props.y ? props.bottomLimit - props.y : 0;
    if (measuresOnly(props)) return true;

    unsigned int colour = myColor != kNone ? myColor : props.textColor;
    unsigned int bg = myBgColor != kNone ? myBgColor : props.bgColor;
    canvas->setTextColors(colour, bg);
    // The box beyond the glyph rectangle takes the background: the strip to its right
    // and the one below it (filled directly, which leaves the canvas's region alone).
    if (t.cx < drawn.cx) fill(canvas, (long long)props.x + t.cx, props.y, drawn.cx - t.cx, drawn.cy, bg);
    if (t.cy < drawn.cy)
        fill(canvas, props.x, (long long)props.y + t.cy, t.cx < drawn.cx ? t.cx : drawn.cx, drawn.cy - t.cy, bg);
    canvas->drawTextLimited(props.x, props.y, drawn.cx, drawn.cy, 0, false, 0, 0, text, length, nullptr, true);
    return true;
}

bool cSiDocLink::draw(cCanvas* canvas, const sSiDocDrawProps& props, sSize& drawn) {
    bool ok = cSiDocText::draw(canvas, props, drawn);
    if (ok && props.activeTarget && myRef && !measuresOnly(props))
        props.activeTarget->setActive(myRef, props.x, props.y, drawn.cx, drawn.cy);
    return ok;
}

// ---- pictures ----

bool cSiDocImage::wantsSize(cCanvas* canvas, const sSiDocDrawProps& props, sSize& wanted) {
    if (myWidth > 0 && myHeight > 0) {
        wanted.cx = myWidth;
        wanted.cy = myHeight;
        return true;
    }
    wanted.cx = wanted.cy = 0;
    if (!myPicture) return false;
    wanted.cx = myPicture->width();
    wanted.cy = myPicture->height();
    return true;
}

bool cSiDocImage::draw(cCanvas* canvas, const sSiDocDrawProps& props, sSize& drawn) {
    drawn.cx = drawn.cy = 0;
    if (!canvas || !myPicture || props.rightLimit == 0 || props.bottomLimit == 0) return false;
    int pw = myPicture->width(), ph = myPicture->height();
    int w = myWidth > 0 ? myWidth : pw, h = myHeight > 0 ? myHeight : ph;
    if (props.rightLimit > 0 && (long long)props.x + w > props.rightLimit)
        w = props.rightLimit > props.x ? props.rightLimit - props.x : 0;
    if (props.bottomLimit > 0 && (long long)props.y + h > props.bottomLimit)
        h = props.bottomLimit > props.y ? props.bottomLimit - props.y : 0;
    drawn.cx = w;
    drawn.cy = h;
    if (myPlacement != ipNatural && myPlacement != ipStretch) return false;
    if (measuresOnly(props)) return true;
    // Pictures keep their alpha: transparent parts show the box's background.
    unsigned int bg = myBgColor != kNone ? myBgColor : props.bgColor;
    sPoint at = {props.x, props.y};
    if (myPlacement == ipStretch) {
        sSize size = {w, h};
        fill(canvas, props.x, props.y, w, h, bg);
        if (w > 0 && h > 0) canvas->drawTransparent(&at, myPicture, &size);
        return true;
    }
    fill(canvas, props.x, props.y, w < pw ? w : pw, h < ph ? h : ph, bg);
    if (w < pw || h < ph) {
        // Natural size, but only inside the box.
        sRect whole = {props.x, props.y, pw, ph}, box = {props.x, props.y, w, h};
        canvas->clip(&whole);
        canvas->unclip(&box);
        canvas->select();
        canvas->drawTransparent(&at, myPicture);
        canvas->unclip(&whole);
        canvas->select();
    } else {
        canvas->drawTransparent(&at, myPicture);
    }
    if (w > pw) fill(canvas, (long long)props.x + pw, props.y, w - pw, h, bg);
    if (h > ph) fill(canvas, props.x, (long long)props.y + ph, w, h - ph, bg);
    return true;
}

bool cSiDocImageLink::draw(cCanvas* canvas, const sSiDocDrawProps& props, sSize& drawn) {
    bool ok = cSiDocImage::draw(canvas, props, drawn);
    if (ok && props.activeTarget && myRef && !measuresOnly(props))
        props.activeTarget->setActive(myRef, props.x, props.y, drawn.cx, drawn.cy);
    return ok;
}

// ---- containers ----

bool cSiDocContainer::wantsSize(cCanvas* canvas, const sSiDocDrawProps& props, sSize& wanted) {
    return layout(canvas, props, wanted, false);
}

bool cSiDocContainer::draw(cCanvas* canvas, const sSiDocDrawProps& props, sSize& drawn) {
    return layout(canvas, props, drawn, true);
}

namespace {

typedef _List<cPtr<cSiDocBox> >::sItem sDocItem;

// One line of a container: boxes first..last, its text from byte firstFrom of the first
// box's text to lastTo of the last's (-1: the whole text). A line may start and end
// inside a word of East Asian text.
struct sDocLine {
    sDocItem* first = nullptr;
    sDocItem* last = nullptr;
    long long firstFrom = 0;
    long long lastTo = -1;
    double end = 0;        // x after the last box
    bool wrapped = false;  // the line ended because the next box did not fit
    int gaps = 0;          // spaces between words
    bool single = true;    // one box alone
};

// What one container's layout keeps for all its lines: its props P, the props Q it hands
// down, its right and bottom limits, the width of a space, and the widest line so far.
struct sDocFlow {
    cCanvas* canvas;
    const sSiDocDrawProps& P;
    sSiDocDrawProps Q;
    long long R, Bt;
    double S;
    bool drawing;
    long long widest;

    void gather(sDocLine& line) const;
    bool align(const sDocLine& line, cSiDocContainer::eAlign how, double& x0, double& sp) const;
    long long estimate(const sDocLine& line) const;
    long long place(const sDocLine& line, long long y, double x0, double sp, bool paint);
};

// Gathers the children that fit between P.x and R, starting at line.first.
void sDocFlow::gather(sDocLine& line) const {
    double x = P.x;
    line.last = line.first;
    line.lastTo = -1;
    line.wrapped = false;
    line.gaps = 0;
    bool prevWord = false;
    for (sDocItem* it = line.first; it; it = it->next) {
        cSiDocBox* b = it->value.ptr;
        if (!b) continue;
        if (it != line.first && b->isBreak()) break;
        if (it != line.first && overWorked(P)) break;
        if (P.work) ++*P.work;
        sSiDocDrawProps m = Q;
        m.x = truncInt(x + b->leftMargin());
        m.y = P.y;
        m.rightLimit = clampInt(R - b->rightMargin());
        m.bottomLimit = clampInt(Bt);
        long long from = it == line.first ? line.firstFrom : 0;
        m.textFrom = (int)from;
        bool word = isWord(b);
        double margins = (double)b->leftMargin() + b->rightMargin() + (word && prevWord ? S : 0);
        long long room = (long long)(R - x - margins);
        // A long word is first measured only as far as the room reaches (a character
        // is at least a pixel wide): when that part is too wide already, the line ends
        // inside the word or before it, and the rest is not measured on every line.
        bool over = false;
        if (word && b->width() <= 0 && room >= 0 && room < kSiDocMaxExtent) {
            long long probe = (room + 2) * 4;
            if (from + probe < INT_MAX && (long long)strlen(static_cast<cSiDocText*>(b)->text()) - from > probe) {
                m.textTo = (int)(from + probe);
                b->wantsSize(canvas, m, b->wantedSize);
                over = b->wantedSize.cx > room;
                m.textTo = -1;
            }
        }
        if (!over) b->wantsSize(canvas, m, b->wantedSize);
        double advance = margins + b->wantedSize.cx;
        if ((over || x + advance > R) && word) {
            // East Asian text ends the line inside the word, where it may break; an
            // unbreakable word goes to the next line (or alone, cut, when it is first).
            long long to = static_cast<cSiDocText*>(b)->breakWithin(canvas, m, from, room, it == line.first);
            if (over && to <= from) {
                b->wantsSize(canvas, m, b->wantedSize);  // the whole word after all
                advance = margins + b->wantedSize.cx;
            }
            if (to > from) {
                m.textTo = (int)to;
                b->wantsSize(canvas, m, b->wantedSize);
                if (word && prevWord) line.gaps++;
                x += margins + b->wantedSize.cx;
                line.last = it;
                line.lastTo = to;
                line.wrapped = true;
                break;
            }
        }
        // The first box always goes on the line, alone when it does not fit.
        if (it != line.first && x + advance > R) {
            line.wrapped = true;
            break;
        }
        if (it == line.first && x + advance > R) line.wrapped = true;
        if (word && prevWord) line.gaps++;
        x += advance;
        prevWord = word;
        line.last = it;
    }
    line.end = x;
    line.single = true;
    for (sDocItem* it = line.first->next; it != line.last->next; it = it->next)
        if (it->value.ptr) line.single = false;
}

// Where the line starts (x0) and the space between its words (sp); false for an unknown
// alignment. Offsets never move a line left of P.x: a box too wide for the line starts at
// the left edge and is cut at the right limit.
bool sDocFlow::align(const sDocLine& line, cSiDocContainer::eAlign how, double& x0, double& sp) const {
    sp = S;
    x0 = P.x;
    switch (how) {
    case cSiDocContainer::alLeft: break;
    case cSiDocContainer::alRight: x0 = (double)R - (line.end - P.x); break;
    case cSiDocContainer::alCenter: x0 = P.x + (R - line.end) * 0.5; break;
    case cSiDocContainer::alJustify:
        if (line.wrapped && line.gaps > 0) sp = S + (R - line.end) / line.gaps;
        break;
    default: return false;
    }
    if (x0 < P.x) x0 = P.x;
    return true;
}

// Height of the line by the wanted sizes of its boxes.
long long sDocFlow::estimate(const sDocLine& line) const {
    long long most = 0;
    for (sDocItem* it = line.first; it != line.last->next; it = it->next) {
        cSiDocBox* b = it->value.ptr;
        if (!b) continue;
        long long h = (long long)b->topMargin() + b->wantedSize.cy + (line.single ? 0 : b->bottomMargin());
        if (h > most) most = h;
    }
    return most;
}

// Lays the line out at row y from x0, sp between words; draws its boxes when drawing, and
// fills the margins and gaps when paint. Gives the row below the line.
long long sDocFlow::place(const sDocLine& line, long long y, double x0, double sp, bool paint) {
    sSiDocDrawProps c = Q;
    c.rightLimit = clampInt(R);
    c.bottomLimit = clampInt(Bt);
    if (!paint) c.paintTop = c.paintBottom = 0;
    if (line.single) {
        cSiDocBox* b = line.first->value.ptr;
        c.textFrom = (int)line.firstFrom;
        c.textTo = (int)line.lastTo;
        c.x = truncInt(x0 + b->leftMargin());
        c.y = clampInt(y + b->topMargin());
        sSize d = b->wantedSize;
        if (P.work) ++*P.work;
        if (drawing) b->draw(canvas, c, d);
        if (d.cx > widest) widest = d.cx;
        return y + b->topMargin() + d.cy;
    }
    double xd = x0;
    long long row = 0;
    bool prev = false;
    for (sDocItem* it = line.first; it != line.last->next; it = it->next) {
        cSiDocBox* b = it->value.ptr;
        if (!b) continue;
        double pos = xd + b->leftMargin();
        bool word = isWord(b);
        if (word && prev) pos += sp;
        prev = word;
        c.x = truncInt(pos);
        c.y = clampInt(y + b->topMargin());
        c.textFrom = it == line.first ? (int)line.firstFrom : 0;
        c.textTo = it == line.last ? (int)line.lastTo : -1;
        sSize d = b->wantedSize;
        if (P.work) ++*P.work;
        int l = b->leftMargin(), t = b->topMargin(), r = b->rightMargin(), bm = b->bottomMargin();
        if (drawing) b->draw(canvas, c, d);
        if (paint) {
            long long full = (long long)t + d.cy + bm;
            fill(canvas, truncInt(xd), y, l, full, Q.bgColor);
            fill(canvas, truncInt(xd + l), y, d.cx, t, Q.bgColor);
            fill(canvas, truncInt(xd + l + d.cx), y, r, full, Q.bgColor);
            fill(canvas, truncInt(xd + l), y + t + d.cy, d.cx, bm, Q.bgColor);
            // The space before a word takes the background too, so that a tinted
            // container shows no holes between its words.
            int gapFrom = truncInt(xd + l);
            if (c.x > gapFrom) fill(canvas, gapFrom, c.y, c.x - gapFrom, d.cy, Q.bgColor);
        }
        xd = pos + d.cx + r;
        long long h = (long long)t + d.cy + bm;
        if (h > row) row = h;
    }
    long long w = truncInt(xd - P.x);
    if (w > widest) widest = w;
    return y + row;
}

}  // namespace

bool cSiDocContainer::layout(cCanvas* canvas, const sSiDocDrawProps& P, sSize& out, bool drawing) {
    out.cx = out.cy = 0;
    if (!drawing && myWidth > 0 && myHeight > 0) {
        out.cx = myWidth;
        out.cy = myHeight;
        return true;
    }
    if (!canvas || P.depth > kSiDocMaxNesting || overWorked(P)) return false;

    long long R = myWidth > 0 ? (long long)P.x + myWidth : INT_MAX;
    long long Bt = myHeight > 0 ? (long long)P.y + myHeight : INT_MAX;
    if (P.rightLimit >= 0 && P.rightLimit < R) R = P.rightLimit;
    if (P.bottomLimit >= 0 && P.bottomLimit < Bt) Bt = P.bottomLimit;

    sDocItem* first = myChildren.head;
    while (first && !first->value.ptr) first = first->next;
    if (!first) {
        if (drawing && !measuresOnly(P) && myWidth > 0 && myHeight > 0)
            fill(canvas, P.x, P.y, myWidth, myHeight, myBgColor);
        out.cx = myWidth > 0 ? myWidth : 0;
        out.cy = myHeight > 0 ? myHeight : 0;
        return false;
    }

    sDocFlow flow{canvas, P, P, R - myRightMargin, Bt - myBottomMargin, 0, drawing, 0};
    sSiDocDrawProps& Q = flow.Q;
    Q.font = fontOf(myFontProvider, myFontId, P);
    if (myColor != kNone) Q.textColor = myColor;
    if (myBgColor != kNone) Q.bgColor = myBgColor;
    Q.depth = P.depth + 1;
    Q.textFrom = 0;
    Q.textTo = -1;
    canvas->setTextMode(Q.font);
    sSize space = {0, 0};
    canvas->textSize(" ", 1, space);
    flow.S = space.cx;
    const bool topLevel = P.depth == 0;

    long long y = P.y;
    sDocLine line;
    line.first = first;
    while (line.first) {
        if (drawing && topLevel && P.stopBelowPaint && y >= P.paintBottom) break;
        if (overWorked(P)) break;
        flow.gather(line);
        double x0, sp;
        if (!flow.align(line, myAlign, x0, sp)) {
            out.cx = out.cy = 0;
            return false;
        }

        // Place. A line that begins below the painted rows, or ends above them, is only
        // measured (drawing is deterministic: measuring and painting give the same sizes).
        // The wanted sizes tell whether the line may reach the painted rows; should the
        // drawn line turn out taller, it is painted after all.
        bool visible = drawing && !measuresOnly(P) && y < P.paintBottom;
        bool painted = visible && y + flow.estimate(line) > P.paintTop;
        long long rowEnd = flow.place(line, y, x0, sp, painted);
        if (visible && !painted && rowEnd > P.paintTop) flow.place(line, y, x0, sp, true);
        y = rowEnd;
        if (y > (long long)P.y + kSiDocMaxExtent) y = (long long)P.y + kSiDocMaxExtent;
        if (line.lastTo >= 0) {
            line.first = line.last;  // the rest of the word starts the next line
            line.firstFrom = line.lastTo;
            continue;
        }
        line.firstFrom = 0;
        line.first = line.last->next;
        while (line.first && !line.first->value.ptr) line.first = line.first->next;
    }

    out.cy = myHeight > 0 ? myHeight : clampInt(y - P.y);
    out.cx = myWidth > 0 ? myWidth : clampInt(flow.widest);
    return true;
}

// The theme's pictures and the language flags, drawn in code: shapes are sampled 4 x 4
// per pixel for smooth edges, so one routine serves every size.
#include <cmath>

#include "ui/themedraw.h"

namespace {

// Flat palette as 0xAARRGGBB (pictures use the pixel order, not the colour order).
const unsigned int kAccent = 0xFF2F80ED;
const unsigned int kAccentDark = 0xFF1F6AD1;
const unsigned int kInk = 0xFF1F2933;
const unsigned int kMuted = 0xFF9AA5B1;
const unsigned int kLine = 0xFFC9D2DC;
const unsigned int kPaper = 0xFFFFFFFF;
const unsigned int kFolder = 0xFFF2B84B;
const unsigned int kFolderDark = 0xFFD99A2B;
const unsigned int kGreen = 0xFF2EA44F;
const unsigned int kRed = 0xFFD93B3B;
const unsigned int kAmber = 0xFFF0A500;

struct sPx {
    unsigned int* p;
    int w, h;

    // Source-over blend of `argb` with coverage 0..1.
    void blend(int x, int y, unsigned int argb, double cover) {
        if (x < 0 || y < 0 || x >= w || y >= h || cover <= 0) return;
        double a = ((argb >> 24) & 0xFF) / 255.0 * (cover > 1 ? 1 : cover);
        unsigned int& d = p[(long long)y * w + x];
        double da = ((d >> 24) & 0xFF) / 255.0;
        double oa = a + da * (1 - a);
        if (oa <= 0) return;
        unsigned int out = (unsigned int)(oa * 255 + 0.5) << 24;
        for (int s = 0; s < 24; s += 8) {
            double sc = ((argb >> s) & 0xFF), dc = ((d >> s) & 0xFF);
            double c = (sc * a + dc * da * (1 - a)) / oa;
            out |= (unsigned int)(c + 0.5) << s;
        }
        d = out;
    }

    // Fills what `inside(x, y)` accepts, in pixel units (pixel centres at +0.5).
    template <class F>
    void shape(unsigned int argb, F inside) {
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++) {
                int n = 0;
                for (int sy = 0; sy < 4; sy++)
                    for (int sx = 0; sx < 4; sx++)
                        if (inside(x + (sx + 0.5) / 4.0, y + (sy + 0.5) / 4.0)) n++;
                if (n) blend(x, y, argb, n / 16.0);
            }
    }

    void rect(double x0, double y0, double x1, double y1, unsigned int c) {
        shape(c, [=](double x, double y) { return x >= x0 && x < x1 && y >= y0 && y < y1; });
    }
    void frame(double x0, double y0, double x1, double y1, double t, unsigned int c) {
        shape(c, [=](double x, double y) {
            return x >= x0 && x < x1 && y >= y0 && y < y1 && !(x >= x0 + t && x < x1 - t && y >= y0 + t && y < y1 - t);
        });
    }
    void roundRect(double x0, double y0, double x1, double y1, double r, unsigned int c) {
        shape(c, [=](double x, double y) { return inRound(x, y, x0, y0, x1, y1, r); });
    }
    void roundFrame(double x0, double y0, double x1, double y1, double r, double t, unsigned int c) {
        shape(c, [=](double x, double y) {
            return inRound(x, y, x0, y0, x1, y1, r) && !inRound(x, y, x0 + t, y0 + t, x1 - t, y1 - t, r - t);
        });
    }
    void disc(double cx, double cy, double r, unsigned int c) {
        shape(c, [=](double x, double y) { return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r; });
    }
    void ring(double cx, double cy, double r, double t, unsigned int c) {
        shape(c, [=](double x, double y) {
            double d = (x - cx) * (x - cx) + (y - cy) * (y - cy);
            return d <= r * r && d >= (r - t) * (r - t);
        });
    }
    void line(double x0, double y0, double x1, double y1, double width, unsigned int c) {
        shape(c, [=](double x, double y) { return segDist(x, y, x0, y0, x1, y1) <= width / 2; });
    }
    void poly(const double* xy, int n, unsigned int c) {
        shape(c, [=](double x, double y) { return inPoly(x, y, xy, n); });
    }
    void tri(double x0, double y0, double x1, double y1, double x2, double y2, unsigned int c) {
        double xy[6] = {x0, y0, x1, y1, x2, y2};
        shape(c, [&](double x, double y) { return inPoly(x, y, xy, 3); });
    }
    void star(double cx, double cy, double r, double rotate, unsigned int c) {
        double xy[20];
        for (int i = 0; i < 10; i++) {
            double a = -M_PI / 2 + rotate + i * M_PI / 5;
            double rr = (i % 2) ? r * 0.382 : r;
            xy[2 * i] = cx + rr * cos(a);
            xy[2 * i + 1] = cy + rr * sin(a);
        }
        poly(xy, 10, c);
    }

    static bool inRound(double x, double y, double x0, double y0, double x1, double y1, double r) {
        if (x < x0 || x >= x1 || y < y0 || y >= y1) return false;
        if (r <= 0) return true;
        double cx = x < x0 + r ? x0 + r : (x > x1 - r ? x1 - r : x);
        double cy = y < y0 + r ? y0 + r : (y > y1 - r ? y1 - r : y);
        return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r;
    }
    static double segDist(double x, double y, double x0, double y0, double x1, double y1) {
        double dx = x1 - x0, dy = y1 - y0, l = dx * dx + dy * dy;
        double t = l > 0 ? ((x - x0) * dx + (y - y0) * dy) / l : 0;
        t = t < 0 ? 0 : (t > 1 ? 1 : t);
        double px = x0 + t * dx - x, py = y0 + t * dy - y;
        return sqrt(px * px + py * py);
    }
    static bool inPoly(double x, double y, const double* xy, int n) {
        bool in = false;
        for (int i = 0, j = n - 1; i < n; j = i++) {
            double xi = xy[2 * i], yi = xy[2 * i + 1], xj = xy[2 * j], yj = xy[2 * j + 1];
            if ((yi > y) != (yj > y) && x < (xj - xi) * (y - yi) / (yj - yi) + xi) in = !in;
        }
        return in;
    }
};

unsigned int stateInk(int state) {
    switch (state) {
        case 1: return kAccent;
        case 2: return kAccentDark;
        case 3: return kMuted;
        default: return kInk;
    }
}

// An arrow pointing in direction d (0 left, 1 up, 2 right, 3 down) inside a box.
void arrow(sPx& c, double x0, double y0, double x1, double y1, int d, unsigned int col) {
    double cx = (x0 + x1) / 2, cy = (y0 + y1) / 2;
    double hw = (x1 - x0) / 2, hh = (y1 - y0) / 2;
    switch (d & 3) {
        case 0: c.tri(cx - hw * 0.5, cy, cx + hw * 0.4, cy - hh * 0.8, cx + hw * 0.4, cy + hh * 0.8, col); break;
        case 1: c.tri(cx, cy - hh * 0.5, cx - hw * 0.8, cy + hh * 0.4, cx + hw * 0.8, cy + hh * 0.4, col); break;
        case 2: c.tri(cx + hw * 0.5, cy, cx - hw * 0.4, cy - hh * 0.8, cx - hw * 0.4, cy + hh * 0.8, col); break;
        default: c.tri(cx, cy + hh * 0.5, cx - hw * 0.8, cy - hh * 0.4, cx + hw * 0.8, cy - hh * 0.4, col); break;
    }
}

void folder(sPx& c, double w, double h, bool open) {
    c.roundRect(w * 0.06, h * 0.18, w * 0.45, h * 0.34, 1, kFolderDark);
    c.roundRect(w * 0.06, h * 0.28, w * 0.94, h * 0.86, 1.2, open ? kFolderDark : kFolder);
    if (open) {
        double xy[8] = {w * 0.18, h * 0.44, w * 0.98, h * 0.44, w * 0.86, h * 0.86, w * 0.06, h * 0.86};
        c.poly(xy, 4, kFolder);
    }
}

void page(sPx& c, double w, double h) {
    double x0 = w * 0.18, x1 = w * 0.82, y0 = h * 0.06, y1 = h * 0.94, f = w * 0.22;
    double xy[10] = {x0, y0, x1 - f, y0, x1, y0 + f, x1, y1, x0, y1};
    c.poly(xy, 5, kLine);
    double in[10] = {x0 + 1, y0 + 1, x1 - f, y0 + 1, x1 - 1, y0 + f, x1 - 1, y1 - 1, x0 + 1, y1 - 1};
    c.poly(in, 5, kPaper);
    c.tri(x1 - f, y0, x1 - f, y0 + f, x1, y0 + f, kMuted);
}

void drive(sPx& c, double w, double h, bool removable) {
    c.roundRect(w * 0.06, h * 0.3, w * 0.94, h * 0.74, 2, removable ? kMuted : 0xFF6B7785);
    c.roundRect(w * 0.1, h * 0.34, w * 0.9, h * 0.56, 1.5, 0xFFB9C3CE);
    c.disc(w * 0.78, h * 0.64, w * 0.05, kGreen);
    if (removable) c.rect(w * 0.3, h * 0.74, w * 0.7, h * 0.86, kMuted);
}

void badge(sPx& c, double w, double h, unsigned int col, bool round) {
    if (round)
        c.disc(w / 2, h / 2, w / 2 - 0.5, col);
    else
        c.roundRect(0.5, 0.5, w - 0.5, h - 0.5, w * 0.15, col);
}

// The message-box icons: information, question, warning, error.
void messageIcon(sPx& c, double w, double h, int kind) {
    if (kind == tgWarning) {
        double xy[6] = {w / 2, h * 0.06, w * 0.97, h * 0.92, w * 0.03, h * 0.92};
        c.poly(xy, 3, kAmber);
        c.line(w / 2, h * 0.36, w / 2, h * 0.62, w * 0.1, kPaper);
        c.disc(w / 2, h * 0.77, w * 0.06, kPaper);
        return;
    }
    badge(c, w, h, kind == tgError ? kRed : (kind == tgQuestion ? kGreen : kAccent), true);
    if (kind == tgInfo) {
        c.disc(w / 2, h * 0.28, w * 0.07, kPaper);
        c.line(w / 2, h * 0.44, w / 2, h * 0.76, w * 0.12, kPaper);
    } else if (kind == tgError) {
        c.line(w * 0.33, h * 0.33, w * 0.67, h * 0.67, w * 0.1, kPaper);
        c.line(w * 0.67, h * 0.33, w * 0.33, h * 0.67, w * 0.1, kPaper);
    } else {
        c.shape(kPaper, [=](double x, double y) {
            double dx = x - w / 2, dy = y - h * 0.38, r = w * 0.16;
            double d = sqrt(dx * dx + dy * dy);
            bool arc = d <= r + w * 0.05 && d >= r - w * 0.05 && !(dx < 0 && dy > 0);
            return arc;
        });
        c.line(w / 2, h * 0.54, w / 2, h * 0.64, w * 0.1, kPaper);
        c.disc(w / 2, h * 0.77, w * 0.06, kPaper);
    }
}

// One stroke of a glyph drawn from the table below. Coordinates are fractions of the
// glyph's width (x) and height (y). The size (line width, corner radius, disc radius, ring
// thickness) is in pixels when positive and a fraction of the width when negative.
enum eStrokeOp : unsigned char {
    soEnd = 0,
    soLine,       // a[0..3] from, to
    soRect,       // a[0..3] corners
    soRound,      // a[0..3] corners, size the radius
    soRoundFrame, // a[0..3] corners, size the radius, a[4] the thickness in pixels
    soDisc,       // a[0..1] centre, size the radius
    soRing,       // a[0..1] centre, a[2] radius (of the width), size the thickness
    soTri,        // a[0..5] corners
    soArrow,      // a[0..3] box, size the direction as for arrow()
    soStar,       // a[0..1] centre, size the radius
    soFolder,     // the closed folder filling the glyph
    soFolderOpen, // the open folder
    soPage,       // the page of a file
};

const unsigned int kStateInk = 1;  // the ink of the glyph's state

struct sStroke {
    eStrokeOp op;
    double a[6];
    double size;
    unsigned int col;
};

// Glyphs that are strokes only. A dimming glyph turns all its colours muted when disabled.
struct sStrokeGlyph {
    unsigned char kind;
    bool dims;
    sStroke strokes[5];
};

const sStrokeGlyph kStrokeGlyphs[] = {
    {tgOk, true,
     {{soLine, {0.15, 0.55, 0.4, 0.8}, -0.16, kGreen}, {soLine, {0.4, 0.8, 0.86, 0.22}, -0.16, kGreen}}},
    {tgCancel, true,
     {{soLine, {0.22, 0.22, 0.78, 0.78}, -0.15, kRed}, {soLine, {0.78, 0.22, 0.22, 0.78}, -0.15, kRed}}},
    {tgFolder, false, {{soFolder, {}, 0, 0}}},
    {tgFolderOpen, false, {{soFolderOpen, {}, 0, 0}}},
    {tgFile, false, {{soPage, {}, 0, 0}}},
    {tgPicture, false,
     {{soPage, {}, 0, 0},
      {soTri, {0.28, 0.82, 0.48, 0.5, 0.68, 0.82}, 0, kGreen},
      {soDisc, {0.62, 0.45}, -0.07, kAmber}}},
    {tgLink, false,
     {{soPage, {}, 0, 0},
      {soRound, {0.04, 0.52, 0.5, 0.98}, 1.5, kPaper},
      {soRoundFrame, {0.04, 0.52, 0.5, 0.98, 1}, 1.5, kAccent},
      {soLine, {0.15, 0.88, 0.38, 0.64}, 1.4, kAccent},
      {soTri, {0.42, 0.58, 0.26, 0.62, 0.4, 0.76}, 0, kAccent}}},
    {tgComputer, false,
     {{soRound, {0.06, 0.1, 0.94, 0.7}, 1.5, 0xFF4A5563},
      {soRect, {0.12, 0.16, 0.88, 0.62}, 0, 0xFF9CC3F5},
      {soRect, {0.42, 0.7, 0.58, 0.82}, 0, 0xFF4A5563},
      {soRect, {0.26, 0.82, 0.74, 0.9}, 0, 0xFF4A5563}}},
    {tgHome, false,
     {{soTri, {0.5, 0.08, 0.96, 0.5, 0.04, 0.5}, 0, kAccent},
      {soRect, {0.18, 0.46, 0.82, 0.92}, 0, kAccent},
      {soRect, {0.42, 0.62, 0.58, 0.92}, 0, kPaper}}},
    {tgPlaces, false, {{soStar, {0.5, 0.54}, -0.48, kAmber}}},
    {tgStar, false, {{soStar, {0.5, 0.54}, -0.48, kAmber}}},
    {tgNewFolder, false,
     {{soFolder, {}, 0, 0},
      {soLine, {0.72, 0.02, 0.72, 0.42}, -0.12, kGreen},
      {soLine, {0.52, 0.22, 0.92, 0.22}, -0.12, kGreen}}},
    {tgSave, false,
     {{soRound, {0.08, 0.08, 0.92, 0.92}, 1.5, kAccent},
      {soRect, {0.26, 0.08, 0.74, 0.36}, 0, kPaper},
      {soRect, {0.22, 0.56, 0.78, 0.92}, 0, 0xFFDCE9FB}}},
    {tgOpen, false, {{soFolderOpen, {}, 0, 0}, {soLine, {0.5, 0.05, 0.5, 0.4}, -0.12, kAccent}}},
    {tgDropArrow, false, {{soArrow, {0, 0.25, 1, 0.75}, 3, kStateInk}}},
    {tgStop, false, {{soRound, {0.15, 0.15, 0.85, 0.85}, -0.1, kRed}}},
    {tgUp, false,
     {{soFolder, {}, 0, 0},
      {soLine, {0.5, 0.78, 0.5, 0.42}, -0.12, kInk},
      {soArrow, {0.3, 0.26, 0.7, 0.6}, 1, kInk}}},
    {tgSearch, false,
     {{soRing, {0.42, 0.42, 0.3}, -0.1, kStateInk}, {soLine, {0.62, 0.62, 0.9, 0.9}, -0.14, kStateInk}}},
    {tgClose, false,
     {{soLine, {0.2, 0.2, 0.8, 0.8}, 1.4, kStateInk}, {soLine, {0.8, 0.2, 0.2, 0.8}, 1.4, kStateInk}}},
    {tgPlus, false,
     {{soLine, {0.5, 0.15, 0.5, 0.85}, -0.16, kStateInk}, {soLine, {0.15, 0.5, 0.85, 0.5}, -0.16, kStateInk}}},
    {tgMinus, false, {{soLine, {0.15, 0.5, 0.85, 0.5}, -0.16, kStateInk}}},
    {tgLock, false,
     {{soRing, {0.5, 0.38, 0.24}, -0.09, kMuted}, {soRound, {0.18, 0.42, 0.82, 0.92}, 1.5, kAmber}}},
    {tgDownload, false,
     {{soLine, {0.5, 0.08, 0.5, 0.56}, -0.14, kAccent},
      {soArrow, {0.2, 0.36, 0.8, 0.8}, 3, kAccent},
      {soRect, {0.12, 0.84, 0.88, 0.94}, 0, kInk}}},
    {tgTrash, false,
     {{soRect, {0.14, 0.18, 0.86, 0.28}, 0, kMuted},
      {soRect, {0.38, 0.08, 0.62, 0.18}, 0, kMuted},
      {soRound, {0.22, 0.3, 0.78, 0.94}, 1, kMuted}}},
    {tgPackage, false,
     {{soRound, {0.08, 0.2, 0.92, 0.92}, 1, 0xFFC8955A},
      {soRect, {0.08, 0.2, 0.92, 0.34}, 0, 0xFFA97740},
      {soRect, {0.44, 0.2, 0.56, 0.92}, 0, 0xFFF3E2C7}}},
    {tgClock, false,
     {{soDisc, {0.5, 0.5}, -0.45, kPaper},
      {soRing, {0.5, 0.5, 0.45}, -0.09, kStateInk},
      {soLine, {0.5, 0.5, 0.5, 0.24}, 1.3, kStateInk},
      {soLine, {0.5, 0.5, 0.7, 0.5}, 1.3, kStateInk}}},
};

void drawStrokes(sPx& c, double W, double H, const sStrokeGlyph& g, int state) {
    unsigned int ink = stateInk(state);
    for (const sStroke& s : g.strokes) {
        const double* a = s.a;
        double size = s.size < 0 ? W * -s.size : s.size;
        unsigned int col = g.dims && state == 3 ? kMuted : (s.col == kStateInk ? ink : s.col);
        switch (s.op) {
            case soEnd: return;
            case soLine: c.line(W * a[0], H * a[1], W * a[2], H * a[3], size, col); break;
            case soRect: c.rect(W * a[0], H * a[1], W * a[2], H * a[3], col); break;
            case soRound: c.roundRect(W * a[0], H * a[1], W * a[2], H * a[3], size, col); break;
            case soRoundFrame: c.roundFrame(W * a[0], H * a[1], W * a[2], H * a[3], size, a[4], col); break;
            case soDisc: c.disc(W * a[0], H * a[1], size, col); break;
            case soRing: c.ring(W * a[0], H * a[1], W * a[2], size, col); break;
            case soTri: c.tri(W * a[0], H * a[1], W * a[2], H * a[3], W * a[4], H * a[5], col); break;
            case soArrow: arrow(c, W * a[0], H * a[1], W * a[2], H * a[3], (int)s.size, col); break;
            case soStar: c.star(W * a[0], H * a[1], size, 0, col); break;
            case soFolder: folder(c, W, H, false); break;
            case soFolderOpen: folder(c, W, H, true); break;
            case soPage: page(c, W, H); break;
        }
    }
}

// Glyphs whose shape follows their state or size.

void checkBox(sPx& c, double W, double H, int state, bool on) {
    unsigned int border = state == 3 ? 0xFFDDE3E9 : (state == 1 ? kAccent : kLine);
    unsigned int fill = on ? (state == 3 ? kMuted : kAccent) : (state == 3 ? 0xFFF0F2F5 : kPaper);
    c.roundRect(0, 0, W, H, 2, on ? fill : border);
    if (!on) c.roundRect(1, 1, W - 1, H - 1, 1.2, fill);
    // A ticked box is all accent: the focus shows as a dark rim round it.
    if (on && state == 1) {
        c.roundRect(0, 0, W, H, 2, kInk);
        c.roundRect(1.5, 1.5, W - 1.5, H - 1.5, 1.2, fill);
    }
    if (on) {
        c.line(W * 0.25, H * 0.52, W * 0.43, H * 0.7, 1.6, kPaper);
        c.line(W * 0.43, H * 0.7, W * 0.76, H * 0.3, 1.6, kPaper);
    }
}

void radio(sPx& c, double W, double H, int state, bool on) {
    c.disc(W / 2, H / 2, W / 2, state == 1 || on ? kAccent : (state == 3 ? 0xFFDDE3E9 : kLine));
    c.disc(W / 2, H / 2, W / 2 - 1, state == 3 ? 0xFFF0F2F5 : kPaper);
    if (on) c.disc(W / 2, H / 2, W * 0.22, state == 3 ? kMuted : kAccent);
}

// The expand or collapse box of a tree: small glyphs are all box; larger ones leave room.
void expandBox(sPx& c, double W, double H, bool plus) {
    double m = W < H ? W : H, s = m < 12 ? m : m * 0.6, x0 = (W - s) / 2, y0 = (H - s) / 2;
    x0 = floor(x0);
    y0 = floor(y0);
    s = (double)((int)s | 1);
    c.frame(x0, y0, x0 + s, y0 + s, 1, kMuted);
    c.rect(x0 + 2, y0 + floor(s / 2), x0 + s - 2, y0 + floor(s / 2) + 1, kInk);
    if (plus) c.rect(x0 + floor(s / 2), y0 + 2, x0 + floor(s / 2) + 1, y0 + s - 2, kInk);
}

void treeLine(sPx& c, double W, double H, bool end) {
    c.rect(floor(W / 2), 0, floor(W / 2) + 1, end ? floor(H / 2) + 1 : H, kLine);
    c.rect(floor(W / 2), floor(H / 2), W, floor(H / 2) + 1, kLine);
}

void backForward(sPx& c, double W, double H, bool back, unsigned int ink) {
    c.line(W * 0.2, H / 2, W * 0.8, H / 2, H * 0.14, ink);
    c.line(back ? W * 0.2 : W * 0.8, H / 2, W / 2, H * 0.22, H * 0.14, ink);
    c.line(back ? W * 0.2 : W * 0.8, H / 2, W / 2, H * 0.78, H * 0.14, ink);
}

void refresh(sPx& c, double W, double H) {
    c.shape(kAccent, [=](double x, double y) {
        double dx = x - W / 2, dy = y - H / 2, d = sqrt(dx * dx + dy * dy);
        return d <= W * 0.38 && d >= W * 0.24 && !(dx > 0 && dy < 0);
    });
    c.tri(W * 0.5, H * 0.02, W * 0.76, H * 0.19, W * 0.5, H * 0.36, kAccent);
}

void gear(sPx& c, double W, double H) {
    for (int i = 0; i < 8; i++) {
        double a = i * M_PI / 4;
        c.line(W / 2, H / 2, W / 2 + W * 0.44 * cos(a), H / 2 + H * 0.44 * sin(a), W * 0.16, kMuted);
    }
    c.disc(W / 2, H / 2, W * 0.32, kMuted);
    c.disc(W / 2, H / 2, W * 0.13, kPaper);
}

void globe(sPx& c, double W, double H) {
    c.disc(W / 2, H / 2, W * 0.45, kAccent);
    c.ring(W / 2, H / 2, W * 0.45, 1, kAccentDark);
    c.rect(W * 0.06, H / 2 - 0.5, W * 0.94, H / 2 + 0.5, kPaper);
    c.shape(kPaper, [=](double x, double y) {
        double dx = (x - W / 2) / (W * 0.2), dy = (y - H / 2) / (H * 0.45);
        double d = dx * dx + dy * dy;
        return d <= 1 && d >= 0.6;
    });
}

void user(sPx& c, double W, double H) {
    c.disc(W / 2, H * 0.32, W * 0.2, kMuted);
    c.shape(kMuted, [=](double x, double y) {
        double dx = (x - W / 2) / (W * 0.4), dy = (y - H * 0.95) / (H * 0.4);
        return dx * dx + dy * dy <= 1 && y <= H * 0.95;
    });
}

}  // namespace

void drawGlyph(unsigned int* px, int w, int h, int arg) {
    sPx c{px, w, h};
    int kind = arg & 0xFF, state = (arg >> 8) & 0xF, dir = (arg >> 12) & 3;
    bool on = (arg & 0x4000) != 0;
    unsigned int ink = stateInk(state);
    double W = w, H = h;
    for (const sStrokeGlyph& g : kStrokeGlyphs)
        if (g.kind == kind) {
            drawStrokes(c, W, H, g, state);
            return;
        }
    switch (kind) {
        case tgArrow: arrow(c, 0, 0, W, H, dir, ink); break;
        case tgCheckBox: checkBox(c, W, H, state, on); break;
        case tgRadio: radio(c, W, H, state, on); break;
        case tgFileText:
        case tgDocLines:
            page(c, W, H);
            for (int i = 0; i < 3; i++) c.rect(W * 0.3, H * (0.42 + 0.14 * i), W * 0.7, H * (0.42 + 0.14 * i) + 1, kMuted);
            break;
        case tgDrive: drive(c, W, H, false); break;
        case tgDriveRemovable: drive(c, W, H, true); break;
        case tgInfo:
        case tgQuestion:
        case tgWarning:
        case tgError: messageIcon(c, W, H, kind); break;
        case tgPlusBox:
        case tgMinusBox: expandBox(c, W, H, kind == tgPlusBox); break;
        case tgTreeLine:
        case tgTreeLineEnd: treeLine(c, W, H, kind == tgTreeLineEnd); break;
        case tgEllipsis:
            for (int i = 0; i < 3; i++) c.disc(W * (0.2 + 0.3 * i), H * 0.6, W * 0.09, ink);
            break;
        case tgSegment:
            c.line(W * 0.3, H * 0.1, W * 0.7, H * 0.5, 1.2, state ? kAccent : kMuted);
            c.line(W * 0.7, H * 0.5, W * 0.3, H * 0.9, 1.2, state ? kAccent : kMuted);
            break;
        case tgRefresh: refresh(c, W, H); break;
        case tgBack:
        case tgForward: backForward(c, W, H, kind == tgBack, ink); break;
        case tgGrip:
            for (int y = 1; y + 1 < h; y += 3)
                for (int x = 1; x + 1 < w; x += 3) c.rect(x, y, x + 1, y + 1, kMuted);
            break;
        case tgGear: gear(c, W, H); break;
        case tgGlobe: globe(c, W, H); break;
        case tgUser: user(c, W, H); break;
        default: break;
    }
}

void drawScrollPiece(unsigned int* px, int w, int h, int arg) {
    sPx c{px, w, h};
    int piece = arg & 0xFF, state = (arg >> 8) & 0xF;
    bool vertical = (arg >> 12) & 1;
    const unsigned int track = 0xFFF1F3F6;
    const unsigned int thumb = state == 2 ? 0xFF7E8A97 : (state == 1 ? 0xFFA4AEB9 : 0xFFC4CCD5);
    const unsigned int ink = state == 2 ? kAccentDark : (state == 1 ? kAccent : 0xFF6B7785);
    double W = w, H = h;
    // Thickness runs across the bar: height of a horizontal piece, width of a vertical one.
    double across0 = 3, across1 = (vertical ? W : H) - 3;
    auto band = [&](double a0, double a1, unsigned int col) {
        if (vertical)
            c.rect(across0, a0, across1, a1, col);
        else
            c.rect(a0, across0, a1, across1, col);
    };
    double len = vertical ? H : W;
    c.rect(0, 0, W, H, track);
    switch (piece) {
        case spEndCap:
        case spSeparator:
        case spTrack:
        case spJoint: break;
        case spThumbMiddle: band(0, len, thumb); break;
        case spThumbStart:
        case spThumbEnd: {
            // A rounded end: a disc clipped to the cap's own length.
            double r = (across1 - across0) / 2, mid = (vertical ? W : H) / 2;
            double centre = piece == spThumbStart ? len : 0;
            c.shape(thumb, [=](double x, double y) {
                double a = vertical ? y : x, b = vertical ? x : y;
                return (a - centre) * (a - centre) + (b - mid) * (b - mid) <= r * r;
            });
            break;
        }
        default: {
            // Arrows: start arrows point left/up, end arrows right/down.
            bool start = piece == spArrowStart || piece == spSmallStart;
            int d = vertical ? (start ? 1 : 3) : (start ? 0 : 2);
            double m = (piece == spSmallStart || piece == spSmallEnd) ? 0.5 : 3.5;
            if (state) c.roundRect(1, 1, W - 1, H - 1, 2, state == 2 ? 0xFFD6E4F8 : 0xFFE6EEF9);
            if (vertical)
                arrow(c, 2.5, m, W - 2.5, H - m, d, ink);
            else
                arrow(c, m, 2.5, W - m, H - 2.5, d, ink);
            break;
        }
    }
}

void drawButtonFace(unsigned int* px, int w, int h, int state) {
    sPx c{px, w, h};
    unsigned int top, bottom;
    switch (state) {
        case 1: top = 0xFFFFFFFF, bottom = 0xFFF2F7FE; break;    // focused
        case 2: top = 0xFFEEF5FE, bottom = 0xFFE2EDFC; break;    // hover
        case 3: top = 0xFFD6E4F8, bottom = 0xFFCBDCF5; break;    // pressed
        case 4: top = 0xFFF3F5F8, bottom = 0xFFF3F5F8; break;    // disabled
        default: top = 0xFFFFFFFF, bottom = 0xFFF6F8FA; break;   // normal
    }
    for (int y = 0; y < h; y++) {
        double t = h > 1 ? (double)y / (h - 1) : 0;
        unsigned int col = 0xFF000000;
        for (int s = 0; s < 24; s += 8) {
            double a = (top >> s) & 0xFF, b = (bottom >> s) & 0xFF;
            col |= (unsigned int)(a + (b - a) * t + 0.5) << s;
        }
        c.rect(0, y, w, y + 1, col);
    }
}

void drawLanguageFlag(unsigned int* px, int w, int h, int lang) {
    sPx c{px, w, h};
    double W = w, H = h;
    auto hbands = [&](const unsigned int* cols, const double* parts, int n) {
        double total = 0, y = 0;
        for (int i = 0; i < n; i++) total += parts[i];
        for (int i = 0; i < n; i++) {
            double y1 = y + H * parts[i] / total;
            c.rect(0, y, W, y1, cols[i]);
            y = y1;
        }
    };
    auto vbands = [&](const unsigned int* cols, int n) {
        for (int i = 0; i < n; i++) c.rect(W * i / n, 0, W * (i + 1) / n, H, cols[i]);
    };
    const double eq[3] = {1, 1, 1};
    switch (lang) {
        case 0: {  // crosses on blue
            c.rect(0, 0, W, H, 0xFF012169);
            double k = H / W;
            c.shape(0xFFFFFFFF, [=](double x, double y) { return fabs(y - x * k) < H * 0.12 || fabs(y - (H - x * k)) < H * 0.12; });
            c.shape(0xFFC8102E, [=](double x, double y) { return fabs(y - x * k) < H * 0.04 || fabs(y - (H - x * k)) < H * 0.04; });
            c.rect(W / 2 - H * 0.2, 0, W / 2 + H * 0.2, H, 0xFFFFFFFF);
            c.rect(0, H * 0.3, W, H * 0.7, 0xFFFFFFFF);
            c.rect(W / 2 - H * 0.12, 0, W / 2 + H * 0.12, H, 0xFFC8102E);
            c.rect(0, H * 0.38, W, H * 0.62, 0xFFC8102E);
            break;
        }
        case 1: {
            const unsigned int cols[3] = {0xFFFFFFFF, 0xFF0039A6, 0xFFD52B1E};
            hbands(cols, eq, 3);
            break;
        }
        case 2: {
            const unsigned int cols[3] = {0xFF000000, 0xFFDD0000, 0xFFFFCE00};
            hbands(cols, eq, 3);
            break;
        }
        case 3:
            c.rect(0, 0, W, H, 0xFFFFFFFF);
            c.disc(W / 2, H / 2, H * 0.3, 0xFFBC002D);
            break;
        case 4: {
            c.rect(0, 0, W, H, 0xFFFFFFFF);
            double r = H * 0.25, cx = W / 2, cy = H / 2;
            c.shape(0xFFCD2E3A, [=](double x, double y) { return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r && y < cy; });
            c.shape(0xFF0047A0, [=](double x, double y) { return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r && y >= cy; });
            // The four trigrams, reduced to short bars in the corners.
            double bw = W * 0.14, bh = H * 0.06;
            const double at[4][2] = {{0.17, 0.2}, {0.83, 0.2}, {0.17, 0.8}, {0.83, 0.8}};
            for (auto& a : at)
                for (int i = -1; i <= 1; i++)
                    c.rect(W * a[0] - bw / 2, H * a[1] + i * bh * 1.8 - bh / 2, W * a[0] + bw / 2, H * a[1] + i * bh * 1.8 + bh / 2,
                           0xFF000000);
            break;
        }
        case 5: {
            const unsigned int cols[3] = {0xFF0055A4, 0xFFFFFFFF, 0xFFEF4135};
            vbands(cols, 3);
            break;
        }
        case 6: {
            const unsigned int cols[2] = {0xFF0057B7, 0xFFFFD700};
            const double parts[2] = {1, 1};
            hbands(cols, parts, 2);
            break;
        }
        case 7: {
            const unsigned int cols[3] = {0xFFAA151B, 0xFFF1BF00, 0xFFAA151B};
            const double parts[3] = {1, 2, 1};
            hbands(cols, parts, 3);
            break;
        }
        case 8:
            c.rect(0, 0, W, H, 0xFFEE1C25);
            c.star(W * 0.17, H * 0.28, H * 0.16, 0, 0xFFFFFF00);
            c.star(W * 0.33, H * 0.1, H * 0.06, 0.3, 0xFFFFFF00);
            c.star(W * 0.4, H * 0.2, H * 0.06, 0.6, 0xFFFFFF00);
            c.star(W * 0.4, H * 0.34, H * 0.06, 0.9, 0xFFFFFF00);
            c.star(W * 0.33, H * 0.44, H * 0.06, 1.2, 0xFFFFFF00);
            break;
        case 9:
            c.rect(0, 0, W, H, 0xFFFE0000);
            c.rect(0, 0, W / 2, H / 2, 0xFF000095);
            c.star(W / 4, H / 4, H * 0.19, 0, 0xFFFFFFFF);
            c.disc(W / 4, H / 4, H * 0.1, 0xFFFFFFFF);
            c.disc(W / 4, H / 4, H * 0.075, 0xFF000095);
            c.disc(W / 4, H / 4, H * 0.06, 0xFFFFFFFF);
            break;
        case 10: {
            c.rect(0, 0, W, H, 0xFFE30A17);
            double cx = W * 0.38, cy = H / 2, r = H * 0.25;
            c.shape(0xFFFFFFFF, [=](double x, double y) {
                double d1 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
                double d2 = (x - cx - r * 0.25) * (x - cx - r * 0.25) + (y - cy) * (y - cy);
                return d1 <= r * r && d2 > (r * 0.8) * (r * 0.8);
            });
            c.star(W * 0.56, H / 2, H * 0.12, -M_PI / 2, 0xFFFFFFFF);
            break;
        }
        default: c.rect(0, 0, W, H, 0xFFC9D2DC); break;
    }
    // A faint edge so light flags stand out on light backgrounds.
    c.frame(0, 0, W, H, 1, 0x33000000);
}

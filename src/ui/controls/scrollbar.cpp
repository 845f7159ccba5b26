// The scroll bars: layout by length (small arrows, arrows only, the full bar with a
// thumb), hit zones, clicks that act once on release, thumb dragging and keys.
#include "ui/controls/scrollbar.h"

#include <cmath>

#include "ciplatform/canvas.h"
#include "ciplatform/picture.h"
#include "ciplatform/windowmaker.h"
#include "ui/theme.h"

namespace {

int dim(int n) { return cCITheme::theme()->getDimension(n, 0); }

// Default / hover / pressed theme pictures per piece; -1 where the piece has one look.
const int kHNumbers[12 * 3] = {
    87, -1, -1,    88, 89, 90,     94, 95, 96,     97, 98, 99,     91, 92, 93,     100, 101, 102,
    103, 104, 105, 106, 107, 108,  106, 107, 108,  109, -1, -1,    110, 111, 112,  113, 114, 115,
};
const int kVNumbers[12 * 3] = {
    116, -1, -1,   117, 118, 119,  123, 124, 125,  126, 127, 128,  120, 121, 122,  129, 130, 131,
    132, 133, 134, 135, 136, 137,  135, 136, 137,  138, -1, -1,    139, 140, 141,  142, 143, 144,
};

cPicturesList gHLists[3];
cPicturesList gVLists[3];

// The part whose state selects a piece's list: 0 track, 1 thumb, 2 start arrow,
// 3 end arrow, -1 always the default list.
int partOf(int piece) {
    static const int parts[12] = {-1, 0, 1, 1, 1, 2, 3, 2, 3, -1, 2, 3};
    return piece >= 0 && piece < 12 ? parts[piece] : -1;
}

void fillLists(cPicturesList* lists, const int* numbers) {
    if (lists[0].image(0)) return;
    for (int piece = 0; piece < 12; piece++)
        for (int s = 0; s < 3; s++) {
            int n = numbers[piece * 3 + s];
            if (n >= 0) lists[s].refImage(piece, cCITheme::theme()->getPict(n));
        }
}

// Thumb length and scale of a track of length k: S = max(k*k / (max + k), shortest thumb)
// with k*k a 32-bit product; F = max / (k - S) when k > S, else 1.
void thumbOf(long long k, unsigned long long maximum, int& s, double& f) {
    s = dim(22);
    f = 1.0;
    if (k <= 0) return;
    unsigned int sq = (unsigned int)k * (unsigned int)k;
    unsigned long long den = maximum + (unsigned long long)k;
    unsigned long long t = den ? sq / den : 0;
    if ((long long)t > s) s = (int)t;
    if (k > s) f = (double)maximum / (double)(k - s);
}

}  // namespace

cPicturesList* cHScroll::lists() { return gHLists; }
const int* cHScroll::themeNumbers() { return kHNumbers; }
cPicturesList* cVScroll::lists() { return gVLists; }
const int* cVScroll::themeNumbers() { return kVNumbers; }

void cHScroll::setMax(unsigned long long m) {
    if (m == 0) return;
    storeMax(m);
}

void cHScroll::onInitData() {
    cScrollBarCore::onInitData();
    setMinSize(dim(22), dim(19));
    setMaxSize(0x7FFFFFFF, dim(19));
}

void cVScroll::onInitData() {
    cScrollBarCore::onInitData();
    setMinSize(dim(19), dim(22));
    setMaxSize(dim(19), 0x7FFFFFFF);
}

void cScrollBarCore::onInitData() {
    cChildElement::onInitData();
    fillLists(lists(), themeNumbers());
    myPos = 0;
    myMax = 100;
    myVisQuantum = myValQuantum = 1;
    myPageQuantum = 10;
    myDragging = myStartArmed = myEndArmed = myPageBackArmed = myPageForwardArmed = myButtonDown = false;
    for (unsigned int& s : myStates) s = 0;
}

// ---- values ----

void cScrollBarCore::post(unsigned long long p) { notifyAction(new cScrollAction(p)); }

void cScrollBarCore::storeMax(unsigned long long m) {
    if (m == myMax) return;
    myMax = m;
    if (myPos > m) {
        myPos = m;
        post(m);
    }
    repaint();
}

void cScrollBarCore::storePos(unsigned long long p, bool notify) {
    if (p > myMax) p = myMax;
    if (p == myPos) return;
    myPos = p;
    if (notify) post(p);
    repaint();
}

void cScrollBarCore::moveTo(unsigned long long p) {
    if (p > myMax) p = myMax;
    if (p == myPos) return;
    myPos = p;
    post(p);
}

void cScrollBarCore::setVisQuantum(unsigned int q) {
    if (!q || q == myVisQuantum) return;
    myVisQuantum = q;
    repaint();
}

void cScrollBarCore::setValQuantum(unsigned int q) {
    if (q) myValQuantum = q;
}

void cScrollBarCore::setPageQuantum(unsigned int q) {
    if (q) myPageQuantum = q;
}

void cScrollBarCore::valUp() { moveTo(myPos > myValQuantum ? myPos - myValQuantum : 0); }
void cScrollBarCore::pageUp() { moveTo(myPos > myPageQuantum ? myPos - myPageQuantum : 0); }
void cScrollBarCore::valDown() { moveTo(myMax - myPos > myValQuantum ? myPos + myValQuantum : myMax); }
void cScrollBarCore::pageDown() { moveTo(myMax - myPos > myPageQuantum ? myPos + myPageQuantum : myMax); }

// ---- pictures and layout ----

cPicture* cScrollBarCore::image(int piece) {
    if (piece < 0 || piece >= seCount) return nullptr;
    int part = partOf(piece);
    unsigned int state = part >= 0 ? myStates[part] : 0;
    cPicturesList* l = lists();
    cPicture* p = l[state == 2 ? 2 : state == 1 ? 1 : 0].image(piece);
    return p && p->raw() ? p : nullptr;
}

int cScrollBarCore::thickness() { return dim(19); }

int cScrollBarCore::pieceLength(int piece) {
    cPicture* p = image(piece);
    if (!p) return 0;
    if (piece == seJointStart || piece == seJointEnd) return 5;
    return myVertical ? p->height() : p->width();
}

bool cScrollBarCore::layout(sLayout& l) {
    int len = along();
    if (len <= dim(21)) return false;
    l.endCap = pieceLength(seEndCap);
    l.arrowEndLen = pieceLength(seArrowEnd);
    l.separatorLen = pieceLength(seSeparator);
    l.arrowStartLen = pieceLength(seArrowStart);
    l.arrowEnd = len - l.arrowEndLen;
    l.jointEnd = l.arrowEnd - pieceLength(seJointEnd);
    l.separator = l.jointEnd - l.separatorLen;
    l.jointStart = l.separator - pieceLength(seJointStart);
    l.arrowStart = l.jointStart - l.arrowStartLen;
    l.trackStart = l.endCap;
    l.track = l.arrowStart - l.endCap;
    // A theme whose end pieces fill the bar leaves no track: no thumb is drawn then.
    if (l.track < 0) l.track = 0;
    double f;
    thumbOf(l.track, myMax, l.thumbLength, f);
    if (l.track <= 0) l.thumbLength = 0;
    l.thumbStart = l.endCap + (int)std::trunc((double)myPos / f + 0.5);
    return true;
}

void cScrollBarCore::drawPiece(cCanvas* canvas, int piece, int at, int length) {
    cPicture* p = image(piece);
    if (!p || length <= 0) return;
    int t = thickness();
    if (myVertical)
        canvas->drawBitmap(0, at, p, t, length);
    else
        canvas->drawBitmap(at, 0, p, length, t);
}

void cScrollBarCore::onPaint(cCanvas* canvas) {
    int len = along();
    if (len <= dim(21)) {
        bool small = len <= dim(20);
        int s = small ? seSmallStart : seArrowStart, e = small ? seSmallEnd : seArrowEnd;
        int a = pieceLength(s), b = pieceLength(e);
        drawPiece(canvas, s, 0, a);
        drawPiece(canvas, e, len - b, b);
        int r = len - a - b, r1 = r / 2;
        drawPiece(canvas, seJointStart, a, r1);
        drawPiece(canvas, seJointEnd, a + r1, r - r1);
        return;
    }
    sLayout l;
    layout(l);
    drawPiece(canvas, seEndCap, 0, l.endCap);
    drawPiece(canvas, seArrowEnd, l.arrowEnd, l.arrowEndLen);
    drawPiece(canvas, seJointEnd, l.jointEnd, l.arrowEnd - l.jointEnd);
    drawPiece(canvas, seSeparator, l.separator, l.separatorLen);
    drawPiece(canvas, seJointStart, l.jointStart, l.separator - l.jointStart);
    drawPiece(canvas, seArrowStart, l.arrowStart, l.arrowStartLen);
    drawPiece(canvas, seTrack, l.trackStart, l.track);
    if (l.thumbLength <= 0) return;
    int c2 = pieceLength(seThumbStart), c3 = pieceLength(seThumbEnd);
    drawPiece(canvas, seThumbStart, l.thumbStart, c2);
    drawPiece(canvas, seThumbEnd, l.thumbStart + l.thumbLength - c3, c3);
    drawPiece(canvas, seThumbMiddle, l.thumbStart + c2, l.thumbLength - c2 - c3);
}

int cScrollBarCore::hit(int x) {
    int len = along();
    if (len <= dim(21)) return x < len / 2 ? zArrowStart : zArrowEnd;
    sLayout l;
    layout(l);
    if (x < l.endCap) return zNone;
    if (x >= l.jointEnd) return zArrowEnd;
    if (x >= l.separator) return zNone;
    if (x >= l.arrowStart) return zArrowStart;
    if (x < l.thumbStart) return zPageBack;
    if (x < l.thumbStart + l.thumbLength) return zThumb;
    return zPageForward;
}

// ---- input ----

void cScrollBarCore::setStates(unsigned int track, unsigned int thumb, unsigned int start, unsigned int end) {
    unsigned int want[4] = {track, thumb, start, end};
    bool changed = false;
    for (int i = 0; i < 4; i++)
        if (myStates[i] != want[i]) myStates[i] = want[i], changed = true;
    if (changed) repaint();
}

void cScrollBarCore::onMouseButton(int x, int y, int button, bool down) {
    if (button != kMouseLeft) return;
    int a = myVertical ? y : x, cross = myVertical ? x : y;
    if (down) {
        capturePointer();
        myButtonDown = true;
        switch (hit(a)) {
            case zPageBack:
            case zPageForward:
                setStates(2, 0, 0, 0);
                (hit(a) == zPageBack ? myPageBackArmed : myPageForwardArmed) = true;
                break;
            case zThumb:
                setStates(0, 2, 0, 0);
                myDragging = true;
                myDragOrigin = a;
                myDragStartPos = myPos;
                break;
            case zArrowStart:
                setStates(0, 0, 2, 0);
                myStartArmed = true;
                break;
            case zArrowEnd:
                setStates(0, 0, 0, 2);
                myEndArmed = true;
                break;
            default:
                setStates(0, 0, 0, 0);
        }
        repaint();
        return;
    }
    myButtonDown = myDragging = false;
    releasePointer();
    if (cross >= 0 && cross <= thickness()) {
        switch (hit(a)) {
            case zPageBack:
                if (myPageBackArmed) pageUp();
                setStates(1, 0, 0, 0);
                break;
            case zPageForward:
                if (myPageForwardArmed) pageDown();
                setStates(1, 0, 0, 0);
                break;
            case zThumb:
                setStates(0, 1, 0, 0);
                break;
            case zArrowStart:
                if (myStartArmed) valUp();
                setStates(0, 0, 1, 0);
                break;
            case zArrowEnd:
                if (myEndArmed) valDown();
                setStates(0, 0, 0, 1);
                break;
            default:
                setStates(0, 0, 0, 0);
        }
    } else {
        setStates(0, 0, 0, 0);
    }
    myStartArmed = myEndArmed = myPageBackArmed = myPageForwardArmed = false;
    repaint();
}

void cScrollBarCore::onMouseMoving(int x, int y) {
    cChildElement::onMouseMoving(x, y);
    int a = myVertical ? y : x;
    if (myDragging) {
        // The drag uses a fixed allowance of 35 pixels for the end pieces.
        long long k = (long long)along() - 35;
        int s;
        double f;
        thumbOf(k, myMax, s, f);
        double v = (double)myDragStartPos + std::trunc((double)(a - myDragOrigin) * f + 0.5);
        unsigned long long p = v <= 0 ? 0 : v >= (double)myMax ? myMax : (unsigned long long)v;
        moveTo(p);
        repaint();
        return;
    }
    int part = -1;
    switch (hit(a)) {
        case zPageBack:
        case zPageForward: part = 0; break;
        case zThumb: part = 1; break;
        case zArrowStart: part = 2; break;
        case zArrowEnd: part = 3; break;
    }
    if (part < 0) {
        setStates(0, 0, 0, 0);
        return;
    }
    if (myStates[part] != 0) return;
    unsigned int s[4] = {0, 0, 0, 0};
    s[part] = 1;
    setStates(s[0], s[1], s[2], s[3]);
}

void cScrollBarCore::onMouseLeft() {
    cChildElement::onMouseLeft();
    if (myDragging || myStartArmed || myEndArmed || myPageBackArmed || myPageForwardArmed) return;
    setStates(0, 0, 0, 0);
}

bool cScrollBarCore::onKey(int key, bool shift, bool ctrl, bool alt) {
    switch (key) {
        case kKeyHome: moveTo(0); break;
        case kKeyEnd: moveTo(myMax); break;
        case kKeyLeft:
        case kKeyUp: valUp(); break;
        case kKeyRight:
        case kKeyDown: valDown(); break;
        case kKeyPageUp: pageUp(); break;
        case kKeyPageDown: pageDown(); break;
        default: return false;
    }
    repaint();
    return true;
}

// cSplitterChild: layout in both modes, separator painting and dragging. "Length" is the
// width of a horizontal splitter and the height of a vertical one. Stored fractions change
// only by attach, resizeItem and dragging, never by a layout, so a transient small size
// (a window being built or shrunk to nothing) cannot destroy the proportions.
#include "ui/controls/splitter.h"

#include "ciplatform/canvas.h"
#include "ciplatform/windowmaker.h"
#include "ui/theme.h"

namespace {
void fill(cCanvas* canvas, int x, int y, int w, int h, unsigned int colour) {
    if (w <= 0 || h <= 0) return;
    sRect r = {x, y, w, h};
    canvas->drawRect(&r, colour, colour);
}
// Proportional lengths are fractions of at least this many pixels, so an item attached
// to a splitter that has no size yet does not claim the whole of it.
const int kFractionFloor = 100;
}  // namespace

cSplitterChild::~cSplitterChild() {
    mySizes.destroy();
    myItems.destroy();
}

void cSplitterChild::onInitData() {
    cChildElement::onInitData();
    myFixed = false;
    myDragOrigin = -1;
    myDragItem = -1;
    myLocked = false;
    myFiller = nullptr;
    myBand = cCITheme::theme()->getColor(42);
    myLine = cCITheme::theme()->getColor(43);
    myTopTrim = myBottomTrim = 0;
    mySplitWidth = 3;
}

bool cSplitterChild::attach(int id, cChildElement* element, int size) {
    if (id < 0 || !element) return false;
    cChildElement** old = myItems.find(id);
    if (old && *old && *old != element) dettach(*old);
    if (size < 0) size = 0;
    bool ok = myVertical ? cChildElement::attach(element, 0, 0, width(), size)
                         : cChildElement::attach(element, 0, 0, size, 1);
    *myItems.insert(id) = element;
    double* stored = mySizes.insert(id);
    if (myFixed) {
        *stored = size;
    } else {
        int M = length() > kFractionFloor ? length() : kFractionFloor;
        *stored = (double)(size < M - 1 ? size : M - 1) / M;
    }
    rebuild(0);
    notifyAction(new cChildAction(eActSizesChanged));
    return ok;
}

bool cSplitterChild::resizeItem(int id, int size) {
    if (id < 0 || size < 0) return false;
    double* stored = mySizes.find(id);
    if (!stored || !myItems.find(id)) return false;
    double v = size;
    if (!myFixed) v = (double)size / (length() > kFractionFloor ? length() : kFractionFloor);
    if (v == *stored) return true;
    *stored = v;
    rebuild(myFixed ? id : 0);
    return true;
}

bool cSplitterChild::removeItem(int id) {
    if (!myItems.find(id)) return false;
    myItems.dettach(id);
    mySizes.dettach(id);
    if (myDragItem == id) myDragOrigin = myDragItem = -1;
    return true;
}

int cSplitterChild::itemSize(int id) {
    double* stored = mySizes.find(id);
    if (!stored || !myItems.find(id)) return 0;
    return myFixed ? (int)*stored : (int)(length() * *stored);
}

cChildElement* cSplitterChild::item(int id) {
    cChildElement** e = myItems.find(id);
    return e ? *e : nullptr;
}

double cSplitterChild::storedSize(int id) {
    double* stored = mySizes.find(id);
    return stored ? *stored : 0;
}

void cSplitterChild::setScalable(bool scalable) {
    myFixed = !scalable;
    rebuild(0);
}

void cSplitterChild::setMinSplittingSize(int size, cChildElement* filler) {
    myMinSplitting = size;
    if (!myFiller && !filler) return;
    myFiller = filler;
    rebuild(0);
}

void cSplitterChild::setSplitWidth(int w) {
    if (w < 3) w = 3;
    if (w == mySplitWidth) return;
    mySplitWidth = w;
    rebuild(0);
}

void cSplitterChild::setLineTrims(int top, int bottom) {
    if (top < 0) top = 0;
    if (bottom < 0) bottom = 0;
    if (top == myTopTrim && bottom == myBottomTrim) return;
    myTopTrim = top;
    myBottomTrim = bottom;
    repaint();
}

void cSplitterChild::setColors(unsigned int line, unsigned int band) {
    if (line == myLine && band == myBand) return;
    myLine = line;
    myBand = band;
    if (!myVertical) repaint();
}

void cSplitterChild::fix(bool lock) {
    myLocked = lock;
    if (lock) {
        releasePointer();
        myDragOrigin = -1;
        setPointer(eMPArrow);
    } else {
        setPointer(myVertical ? eMPSizeNS : eMPSizeWE);
    }
}

void cSplitterChild::place(cChildElement* e, int pos, int len) {
    if (myVertical)
        e->move(0, pos, width(), len);
    else
        e->move(pos, 0, len, height());
}

void cSplitterChild::setOwnLength(int len) {
    if (myVertical)
        move(x(), y(), width(), len);
    else
        move(x(), y(), len, height());
    notifyAction(new cResizeRequestAction(len));
}

void cSplitterChild::rebuild(int from) {
    if (length() == 0) return;
    if (myFixed)
        rebuildFixed(from);
    else
        rebuildProportional();
}

void cSplitterChild::rebuildProportional() {
    int L = length(), s = gap();
    if (!myVertical) {
        int sumMin = 0, maxMinH = 0;
        for (auto* e = myItems.first(); e; e = myItems.next(e)) {
            sumMin += e->value()->minWidth();
            if (e->value()->minHeight() > maxMinH) maxMinH = e->value()->minHeight();
        }
        if (sumMin || maxMinH) setMinSize(sumMin, maxMinH);
        if (L < sumMin) L = sumMin;
    }
    long long n = myItems.count();
    double F = 0;
    for (auto* e = myItems.first(); e; e = myItems.next(e)) {
        double* f = mySizes.find(e->key());
        if (f) F += *f;
    }
    // Nothing to share out: no items, no weights, or no room left after the separators.
    long long room = (long long)L - s * (n - 1);
    if (n == 0 || F <= 0 || room <= 0) return;
    double Q = room / F;
    int p = 0;
    for (auto* e = myItems.first(); e; e = myItems.next(e)) {
        double* f = mySizes.find(e->key());
        int w = (int)((f ? *f : 0) * Q);
        if (w < minLength(e->value())) w = minLength(e->value());
        place(e->value(), p, w);
        p += w + s;
    }
    repaint();
}

void cSplitterChild::rebuildFixed(int from) {
    int L = length(), s = gap();
    int p = 0;
    for (auto* e = myItems.first(); e && e->key() < from; e = myItems.next(e)) {
        double* f = mySizes.find(e->key());
        int w = f ? (int)*f : 0;
        if (w < minLength(e->value())) w = minLength(e->value());
        p += w + s;
    }
    for (auto* e = myItems.find_ge(from); e; e = myItems.next(e)) {
        double* f = mySizes.find(e->key());
        int w = f ? (int)*f : 0;
        if (w < minLength(e->value())) w = minLength(e->value());
        place(e->value(), p, w);
        p += w + s;
    }
    int X = p;
    if (X != 0 && X != L) {
        if (myMinSplitting <= X) {
            if (myFiller) {
                if (myVertical)
                    myFiller->move(0, L, thickness(), 0);
                else
                    myFiller->move(L, 0, 0, thickness());
            }
            setOwnLength(X);
        } else if (myFiller) {
            place(myFiller, X, myMinSplitting - X);
            if (myMinSplitting != L) setOwnLength(myMinSplitting);
        } else {
            setOwnLength(X);
        }
    } else if (X < myMinSplitting && myFiller) {
        if (L < myMinSplitting) setOwnLength(myMinSplitting);
        place(myFiller, X, length() - X);
    }
    repaint();
}

void cSplitterChild::onSizeChanged() {
    cChildElement::onSizeChanged();
    rebuild(0);
}

void cSplitterChild::onPaint(cCanvas* canvas) {
    if (myVertical)
        paintVertical(canvas);
    else
        paintHorizontal(canvas);
}

void cSplitterChild::paintHorizontal(cCanvas* canvas) {
    int L = width(), H = height(), s = gap();
    int h1 = (s - 1) / 2, h2 = s - 1 - h1;
    int p = 0;
    for (auto* e = myItems.first(); e; e = myItems.next(e)) {
        p += e->value()->width();
        if (p >= 0 && p < L) {
            int next;
            if (s == 3 || s == 4) {
                fill(canvas, p, 0, 1, H, myBand);
                next = p + 2;
            } else {
                fill(canvas, p, 0, h1, H, myBand);
                next = p + h1 + 1;
            }
            fill(canvas, next, 0, h2, H, myBand);
            int mid = next - 1;
            if (myTopTrim + myBottomTrim >= H) {
                fill(canvas, mid, 0, 1, H, myBand);
            } else {
                fill(canvas, mid, 0, 1, myTopTrim, myBand);
                fill(canvas, mid, myTopTrim, 1, H - myTopTrim - myBottomTrim, myLine);
                fill(canvas, mid, H - myBottomTrim, 1, myBottomTrim, myBand);
            }
        }
        p += s;
    }
}

void cSplitterChild::paintVertical(cCanvas* canvas) {
    int W = width(), H = height();
    int y = 0;
    for (auto* e = myItems.first(); e; e = myItems.next(e)) {
        y += e->value()->height();
        if (y >= 0 && y < H) {
            fill(canvas, 0, y, W, 1, myBand);
            fill(canvas, 0, y + 1, W, 1, myLine);
            fill(canvas, 0, y + 2, W, 1, myBand);
        }
        y += 3;
    }
}

void cSplitterChild::onMouseButton(int x, int y, int button, bool down) {
    if (button != kMouseLeft || myLocked) return;
    int at = myVertical ? y : x;
    if (!down) {
        releasePointer();
        myDragOrigin = -1;
        return;
    }
    capturePointer();
    myDragOrigin = at;
    myDragItem = -1;
    int s = gap(), p = 0;
    for (auto* e = myItems.first(); e; e = myItems.next(e)) {
        int len = myVertical ? e->value()->height() : e->value()->width();
        int end = p + len;
        if (end <= at && at <= end + s) {
            auto* nx = myItems.next(e);
            if (!nx && !myFixed) break;  // the last item has no neighbour to share with
            myDragItem = e->key();
            myDragStart = end - len;
            myDragEnd = end;
            if (nx) myDragEnd += myVertical ? nx->value()->height() : nx->value()->width();
            return;
        }
        p = end + s;
    }
    myDragOrigin = -1;
}

void cSplitterChild::onMouseMoving(int x, int y) {
    cChildElement::onMouseMoving(x, y);
    if (myDragOrigin < 0 || myLocked) return;
    int at = myVertical ? y : x;
    double* f = mySizes.find(myDragItem);
    auto* de = myItems.findEntry(myDragItem);
    if (!f || !de) return;
    if (myFixed) {
        int len = (at > myDragStart ? at : myDragStart) - myDragStart;
        if ((double)len == *f) return;
        *f = len;
        rebuild(myDragItem);
    } else {
        auto* je = myItems.next(de);
        double* fj = je ? mySizes.find(je->key()) : nullptr;
        int D = myDragEnd - myDragStart;
        if (!fj || D == 0) return;
        if (at < myDragStart + minLength(de->value())) at = myDragStart + minLength(de->value());
        if (at > myDragEnd - minLength(je->value())) at = myDragEnd - minLength(je->value());
        double T = *f + *fj;
        double nf = (double)(at - myDragStart) * T / D;
        if (nf == *f) return;
        *f = nf;
        *fj = T - nf;
        rebuild(0);
    }
    notifyAction(new cChildAction(eActSizesChanged));
}

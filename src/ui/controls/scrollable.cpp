// cScrollableElement: which bars show, where they go, the offsets they drive, the corner
// between them, the wheel, and scrolling rectangles and focused children into view.
#include "ui/controls/scrollable.h"

#include "ciplatform/canvas.h"
#include "ciplatform/picture.h"
#include "ui/theme.h"

namespace {
int barThickness() { return cCITheme::theme()->getDimension(19, 0); }
}  // namespace

cScrollableElement::~cScrollableElement() { myPins.destroy(); }

void cScrollableElement::onInitData() {
    cChildElement::onInitData();
    attach(&myHBar, 0, 0, 1, 1, eCPTFixed);
    attach(&myVBar, 0, 0, 1, 1, eCPTFixed);
    myHBar.hide(false);
    myVBar.hide(false);
    myMinVisualWidth = myMinVisualHeight = myShiftX = myShiftY = 0;
}

void cScrollableElement::setMinVisualWidth(int w) {
    if (w < 0 || w == myMinVisualWidth) return;
    myMinVisualWidth = w;
    rebuild();
    processSizeChanges(width(), height(), true);
}

void cScrollableElement::setMinVisualHeight(int h) {
    if (h < 0 || h == myMinVisualHeight) return;
    myMinVisualHeight = h;
    rebuild();
    processSizeChanges(width(), height(), true);
}

void cScrollableElement::setPageSize(int h, int v) {
    myHBar.setPageQuantum((unsigned int)h);
    myVBar.setPageQuantum((unsigned int)v);
}

void cScrollableElement::setQuantumSize(int h, int v) {
    myHBar.setValQuantum((unsigned int)h);
    myHBar.setVisQuantum((unsigned int)h);
    myVBar.setValQuantum((unsigned int)v);
    myVBar.setVisQuantum((unsigned int)v);
}

int cScrollableElement::getHScrollRes() { return myHBar.visible_child() ? myHBar.height() : 0; }
int cScrollableElement::getVScrollRes() { return myVBar.visible_child() ? myVBar.width() : 0; }

void cScrollableElement::rebuild() {
    int W = width(), H = height(), T = barThickness(), B = borderWidth();
    bool hWas = myHBar.visible_child(), vWas = myVBar.visible_child();
    bool repaintNeeded = false;
    if (W >= myMinVisualWidth && H >= myMinVisualHeight) {
        if (myShiftX || myShiftY) repaintNeeded = true;
        myShiftX = myShiftY = 0;
        if (hWas) {
            myHBar.setPos(0);
            myHBar.hide(false);
        }
        if (vWas) {
            myVBar.setPos(0, true);
            myVBar.hide(false);
        }
    } else {
        // Which bars the content needs: one bar's thickness can make the other needed.
        bool needH = W < myMinVisualWidth || (H < myMinVisualHeight && W - T < myMinVisualWidth);
        bool needV = H < myMinVisualHeight || (W < myMinVisualWidth && H - T < myMinVisualHeight);
        // Shown bars are placed on every rebuild, so that they follow a resize.
        if (needH) {
            myHBar.move(B, H - T - B, needV ? W - 2 * B - T : W - 2 * B, T);
            if (!hWas) {
                myHBar.show(false);
                myHBar.setPos(0);
            }
        } else if (hWas) {
            myHBar.hide(false);
            myHBar.setPos(0);
        }
        if (needV) {
            myVBar.move(W - T - B, B, T, needH ? H - 2 * B - T : H - 2 * B);
            if (!vWas) {
                myVBar.show(false);
                myVBar.setPos(0, true);
            }
        } else if (vWas) {
            myVBar.hide(false);
            myVBar.setPos(0, true);
        }
    }
    int v = getVScrollRes(), h = getHScrollRes();
    if (myHBar.visible_child()) {
        long long m = (long long)myMinVisualWidth - (W - v);
        myHBar.setMax(m > 0 ? (unsigned long long)m : 0);
        myHBar.setPageQuantum((unsigned int)(W - v > 0 ? W - v : 0));
    }
    if (myVBar.visible_child()) {
        long long m = (long long)myMinVisualHeight - (H - h);
        myVBar.setMax(m > 0 ? (unsigned long long)m : 0);
        myVBar.setPageQuantum((unsigned int)(H - h > 0 ? H - h : 0));
    }
    bool changed = hWas != myHBar.visible_child() || vWas != myVBar.visible_child();
    if (changed) processSizeChanges(W, H, true);
    if (changed || repaintNeeded) repaint();
}

bool cScrollableElement::virtualSize(sSize* size) {
    if (!size) return false;
    int v = getVScrollRes(), h = getHScrollRes();
    size->cx = width() - v > myMinVisualWidth ? width() - v : myMinVisualWidth;
    size->cy = height() - h > myMinVisualHeight ? height() - h : myMinVisualHeight;
    return true;
}

bool cScrollableElement::virtualOffset(sPoint* offset) {
    if (!offset) return false;
    offset->x = -myShiftX;
    offset->y = -myShiftY;
    return true;
}

bool cScrollableElement::clientRect(sRect* r) {
    if (!r) return false;
    *r = {0, 0, width() - getVScrollRes(), height() - getHScrollRes()};
    return true;
}

void cScrollableElement::onPaint(cCanvas* canvas) {
    if (!(myHBar.visible_child() && myVBar.visible_child())) {
        onPaintArea(canvas);
        return;
    }
    int T = barThickness(), B = borderWidth();
    sRect corner = {width() - T - B, height() - T - B, T, T};
    canvas->clip(&corner);
    canvas->select();
    onPaintArea(canvas);
    canvas->unclip(&corner);
    canvas->select();
    cCITheme* theme = cCITheme::theme();
    cPicture* p = theme->getPict(86);
    sSize sz;
    const unsigned int* px = theme->getImage(86, sz);
    if (p && !(sz.cx == 1 && sz.cy == 1)) {
        canvas->drawBitmap(corner.x, corner.y, p, T, T);
    } else if (px && sz.cx == 1 && sz.cy == 1) {
        // A solid entry holds 0xAARRGGBB; the canvas takes 0x00BBGGRR.
        unsigned int c = *px;
        unsigned int bgr = ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
        canvas->drawRect(&corner, bgr, bgr);
    } else {
        unsigned int c = theme->getColor(14);
        canvas->drawRect(&corner, c, c);
    }
}

// Scrolled children stop at the bars: a row wider or lower than the view must not paint
// across them (nor the corner between them).
bool cScrollableElement::childPaintArea(sRect* r) {
    int v = getVScrollRes(), h = getHScrollRes();
    if (!r || (!v && !h)) return false;
    int B = borderWidth();
    *r = {0, 0, v ? width() - B - v : width(), h ? height() - B - h : height()};
    return true;
}

void cScrollableElement::onSizeChanged() {
    cChildElement::onSizeChanged();
    rebuild();
}

bool cScrollableElement::onMouseWheel(int x, int y, bool towardsStart, bool horizontal, int notches) {
    cScrollBarCore* bar = horizontal ? (cScrollBarCore*)&myHBar : (cScrollBarCore*)&myVBar;
    if (!bar->visible_child()) return true;
    unsigned long long step = (unsigned long long)bar->valQuantum() * (unsigned long long)(notches > 0 ? notches : 1);
    unsigned long long p = bar->pos();
    unsigned long long np = towardsStart ? (step > p ? 0 : p - step) : p + step;
    if (horizontal)
        myHBar.setPos(np);
    else
        myVBar.setPos(np, true);
    return true;
}

bool cScrollableElement::onAction(cChildElement* sender, cChildAction* action) {
    if (sender == &myHBar || sender == &myVBar) {
        bool horizontal = sender == &myHBar;
        cScrollBarCore* bar = horizontal ? (cScrollBarCore*)&myHBar : (cScrollBarCore*)&myVBar;
        cScrollBarCore::cScrollAction* a = dynamic_cast<cScrollBarCore::cScrollAction*>(action);
        if (a && action->type == 6 && a->pos <= bar->maxval()) {
            int& shift = horizontal ? myShiftX : myShiftY;
            if ((unsigned long long)shift != a->pos) {
                shift = (int)a->pos;
                repaint();
            }
        }
        return true;
    }
    if (action->type == eActFocus && sender && isChild(sender)) scrollToChild(sender);
    return false;
}

bool cScrollableElement::adjustScrollTo(sRect& r, bool keepX, bool keepY) {
    sRect k;
    if (!clientRect(&k)) return false;
    int vw = k.w - getVScrollRes(), vh = k.h - getHScrollRes();
    if (vw < 0) vw = 0;
    if (vh < 0) vh = 0;
    int B = borderWidth();
    // The offsets follow the bars one turn later; several calls in one turn must measure
    // from where the bars already are, or each adds its step to the last and overshoots.
    int sx = myHBar.visible_child() ? (int)myHBar.pos() : myShiftX;
    int sy = myVBar.visible_child() ? (int)myVBar.pos() : myShiftY;
    int left = r.x - sx + B, right = r.x - sx - B + r.w;
    int top = r.y - sy + B, bottom = r.y - sy - B + r.h;
    long long dy = 0, dx = 0;
    if (bottom > vh && top > 0) dy = bottom - vh < top ? bottom - vh : top;
    if (top < k.y) dy = top - k.y;
    if (right > vw && left > 0) dx = right - vw < left ? right - vw : left;
    if (left < k.x) dx = left - k.x;
    long long ny = (long long)myVBar.pos() + dy, nx = (long long)myHBar.pos() + dx;
    if (ny < 0) ny = 0;
    if (nx < 0) nx = 0;
    bool moved = false;
    if (dy && myVBar.visible_child() && !keepY) {
        unsigned long long old = myVBar.pos();
        myVBar.setPos((unsigned long long)ny, true);
        moved = myVBar.pos() != old;
    }
    if (dx && myHBar.visible_child() && !keepX) {
        unsigned long long old = myHBar.pos();
        myHBar.setPos((unsigned long long)nx);
        moved = moved || myHBar.pos() != old;
    }
    return moved;
}

bool cScrollableElement::scrollToChild(cChildElement* child) {
    sRect r;
    if (!child || !childRect(child, &r)) return false;
    // childRect gives the place on screen; adjustScrollTo wants content coordinates.
    cChildElement* direct = child;
    while (direct->parent() != this) direct = direct->parent();
    if (direct->partType() != eCPTFixed) {
        r.x += myShiftX;
        if (direct->partType() == eCPTScrolled) r.y += myShiftY;
    }
    sPinMode* pin = myPins.find(child);
    return adjustScrollTo(r, pin ? pin->pinX : false, pin ? pin->pinY : false);
}

void cScrollableElement::pinChild(cChildElement* child, bool pinX, bool pinY) {
    sPinMode* pin = myPins.insert(child);
    if (!pin) return;
    pin->pinX = pinX;
    pin->pinY = pinY;
}

void cScrollableElement::scrollMinX() {
    if (myHBar.visible_child()) myHBar.setPos(0);
}
void cScrollableElement::scrollMaxX() {
    if (myHBar.visible_child()) myHBar.setPos(myHBar.maxval());
}
void cScrollableElement::scrollMinY() {
    if (myVBar.visible_child()) myVBar.setPos(0, true);
}
void cScrollableElement::scrollMaxY() {
    if (myVBar.visible_child()) myVBar.setPos(myVBar.maxval(), true);
}

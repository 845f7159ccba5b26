// cChildElement's painting: elements paint in place into their window's canvas through a
// drawing origin and a frame (the element's rectangle within the dirty area), so a deep
// tree costs no canvas per element; an element that asks for double buffering paints
// into an offscreen canvas of its size, seeded with what lies beneath, copied back after.
#include "base/lists.h"
#include "ciplatform/canvas.h"
#include "ui/childelement.h"
#include "ui/theme.h"

bool cChildElement::onBackgroundRequest(cCanvas* canvas, sRect* rect) {
    if (!canvas || !rect || !myParent) return false;
    int ex, ey;
    effectivePos(ex, ey);
    sRect r = {rect->x + ex, rect->y + ey, rect->w, rect->h};
    return myParent->onBackgroundRequest(canvas, &r);
}

bool cChildElement::requestBackground(cCanvas* canvas) {
    if (!myParent) return false;
    int ex, ey;
    effectivePos(ex, ey);
    sRect r = {ex, ey, myW, myH};
    return myParent->onBackgroundRequest(canvas, &r);
}

// (ex, ey) and clip are in the target's current coordinates.
void cChildElement::paintInto(cCanvas* target, int ex, int ey, const sRect& clip) {
    if (!myVisible || myW <= 0 || myH <= 0) return;
    long long l = ex > clip.x ? ex : clip.x;
    long long t = ey > clip.y ? ey : clip.y;
    long long r = (long long)ex + myW, cr = (long long)clip.x + clip.w;
    long long b = (long long)ey + myH, cb = (long long)clip.y + clip.h;
    if (cr < r) r = cr;
    if (cb < b) b = cb;
    if (r <= l || b <= t) return;
    // The dirty part in this element's own coordinates.
    sRect local = {(int)(l - ex), (int)(t - ey), (int)(r - l), (int)(b - t)};

    cCanvas::sFrameState saved;
    target->enterFrame(ex, ey, local, saved);
    if (myDoubleBuffer || wantDoubleBuffer()) {
        cPtr<cCanvas> off(target->offscreen(myW, myH));
        if (off.ptr) {
            // What lies beneath: the parent's drawing shows through wherever this one paints nothing.
            off->draw(local.x, local.y, target, local.x, local.y, local.w, local.h);
            paintContent(off.ptr, local);
            target->draw(local.x, local.y, off.ptr, local.x, local.y, local.w, local.h);
        }
    } else {
        paintContent(target, local);
    }
    target->leaveFrame(saved);
}

// This element and its children, the canvas's origin at the element's top-left.
void cChildElement::paintContent(cCanvas* canvas, const sRect& local) {
    if (myTransparent) requestBackground(canvas);
    onPaint(canvas);
    sRect area, inner = local;
    if (childPaintArea(&area)) {
        long long l = local.x > area.x ? local.x : area.x, t = local.y > area.y ? local.y : area.y;
        long long r = (long long)local.x + local.w, ar = (long long)area.x + area.w;
        long long b = (long long)local.y + local.h, ab = (long long)area.y + area.h;
        if (ar < r) r = ar;
        if (ab < b) b = ab;
        inner = {(int)l, (int)t, (int)(r > l ? r - l : 0), (int)(b > t ? b - t : 0)};
    }
    for (cChildElement* c = myFirst; c; c = c->myNext) {
        if (!c->myVisible) continue;
        int cx, cy;
        c->effectivePos(cx, cy);
        c->paintInto(canvas, cx, cy, c->myPart == eCPTFixed ? local : inner);
    }
    int ring = wantFocusRing();
    if (ring > 0 && focused()) paintFocusRing(canvas, ring);
}

void cChildElement::paintFocusRing(cCanvas* canvas, int ring) {
    cCITheme* theme = cCITheme::theme();
    unsigned int c = theme ? theme->getColor(23) : 0xED802F;
    for (int i = 0; i < ring && 2 * i < myW && 2 * i < myH; i++) {
        sRect r = {i, i, myW - 2 * i, myH - 2 * i};
        canvas->drawRect(&r, 0xFFFFFFFFu, c);
    }
}

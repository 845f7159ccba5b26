// cChildElement's painting: each element draws into its own offscreen canvas, seeded with
// what its parent drew beneath it, and is copied back within the dirty rectangle.
#include "base/lists.h"
#include "ciplatform/canvas.h"
#include "ui/childelement.h"

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

void cChildElement::paintInto(cCanvas* target, int ex, int ey, const sRect& clip) {
    if (!myVisible || myW <= 0 || myH <= 0) return;
    long long l = ex > clip.x ? ex : clip.x;
    long long t = ey > clip.y ? ey : clip.y;
    long long r = (long long)ex + myW, cr = (long long)clip.x + clip.w;
    long long b = (long long)ey + myH, cb = (long long)clip.y + clip.h;
    if (cr < r) r = cr;
    if (cb < b) b = cb;
    if (r <= l || b <= t) return;
    sRect dirty = {(int)l, (int)t, (int)(r - l), (int)(b - t)};

    cPtr<cCanvas> off(target->offscreen(myW, myH));
    if (!off.ptr) return;
    sRect local = {dirty.x - ex, dirty.y - ey, dirty.w, dirty.h};
    // What lies beneath: the parent's drawing shows through wherever this one paints nothing.
    off->draw(local.x, local.y, target, dirty.x, dirty.y, dirty.w, dirty.h);
    if (myTransparent) requestBackground(off.ptr);
    onPaint(off.ptr);
    for (cChildElement* c = myFirst; c; c = c->myNext) {
        if (!c->myVisible) continue;
        int cx, cy;
        c->effectivePos(cx, cy);
        c->paintInto(off.ptr, cx, cy, local);
    }
    target->draw(dirty.x, dirty.y, off.ptr, local.x, local.y, dirty.w, dirty.h);
}

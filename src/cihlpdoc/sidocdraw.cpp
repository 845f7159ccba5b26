// Measuring and drawing of document boxes. Until the layout engine is in place a box
// measures as empty and draws nothing; the box model and the loader do not depend on it.
#include "cihlpdoc/sidocbox.h"

bool cSiDocText::wantsSize(cCanvas* canvas, const sSiDocDrawProps& props, sSize& wanted) {
    wanted.cx = wanted.cy = 0;
    return false;
}

bool cSiDocText::draw(cCanvas* canvas, const sSiDocDrawProps& props, sSize& drawn) {
    drawn.cx = drawn.cy = 0;
    return false;
}

bool cSiDocLink::draw(cCanvas* canvas, const sSiDocDrawProps& props, sSize& drawn) {
    return cSiDocText::draw(canvas, props, drawn);
}

bool cSiDocImage::wantsSize(cCanvas* canvas, const sSiDocDrawProps& props, sSize& wanted) {
    wanted.cx = wanted.cy = 0;
    return false;
}

bool cSiDocImage::draw(cCanvas* canvas, const sSiDocDrawProps& props, sSize& drawn) {
    drawn.cx = drawn.cy = 0;
    return false;
}

bool cSiDocImageLink::draw(cCanvas* canvas, const sSiDocDrawProps& props, sSize& drawn) {
    return cSiDocImage::draw(canvas, props, drawn);
}

bool cSiDocContainer::wantsSize(cCanvas* canvas, const sSiDocDrawProps& props, sSize& wanted) {
    wanted.cx = wanted.cy = 0;
    return false;
}

bool cSiDocContainer::draw(cCanvas* canvas, const sSiDocDrawProps& props, sSize& drawn) {
    drawn.cx = drawn.cy = 0;
    return false;
}

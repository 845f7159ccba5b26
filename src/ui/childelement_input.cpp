// cChildElement's focus and input: key and character routing, tab and arrow navigation,
// pointer presses, capture and pointer shapes.
#include "ciplatform/windowmaker.h"
#include "ui/childelement.h"
#include "ui/elementhost.h"

namespace {

// Tab candidates of a window in tree order (hidden and disabled subtrees left out).
void collectTabStops(cChildElement* e, _typebuf<cChildElement*>& out, long long& n, int depth) {
    if (depth > 256 || !e->visible_child() || !e->enabled()) return;
    if (e->isTabStop() && e->acceptsFocus()) {
        if (n >= out.count && !out.reset(out.count ? out.count * 2 : 16)) return;
        out.ptr[n++] = e;
    }
    for (cChildElement* c = e->firstChild(); c; c = c->nextSibling()) collectTabStops(c, out, n, depth + 1);
}

bool arrowCandidate(cChildElement* e) {
    return e->isArrowTabStop() && e->visible_child() && e->enabled() && e->acceptsFocus();
}

// The direct child of `ancestor` on the way down to `e`.
cChildElement* childToward(cChildElement* ancestor, cChildElement* e) {
    while (e && e->parent() != ancestor) e = e->parent();
    return e;
}

}  // namespace

void cChildElement::focus() { processFocusDirect(); }

bool cChildElement::focused() {
    cElementHost* h = host();
    return h && h->focusElement() == this;
}

cChildElement* cChildElement::getFocused() {
    cElementHost* h = host();
    cChildElement* f = h ? h->focusElement() : nullptr;
    return f && (f == this || isChild(f)) ? f : nullptr;
}

void cChildElement::gainFocus(int origin, int a, int b) {
    if (wantFocusRing() > 0) repaint();
    onSetFocus();
    onSetFocusEvent(origin, a, b);
    notifyAction(new cChildAction(eActFocus));
}

void cChildElement::processFocus(int origin, int a, int b) { gainFocus(origin, a, b); }

void cChildElement::processFocusDirect() {
    cElementHost* h = host();
    if (!h || !h->changeFocus(this)) return;
    gainFocus(eEOProgram, 0, 0);
}

void cChildElement::processFocusLost() {
    if (wantFocusRing() > 0) repaint();
    onLooseFocus();
}

void cChildElement::processOSFocus() {
    cChildElement* f = getFocused();
    if (f) f->repaint();
}

void cChildElement::processOSFocusLost() {
    cChildElement* f = getFocused();
    if (f) f->repaint();
}

bool cChildElement::moveTab(bool backwards) {
    cElementHost* h = host();
    if (!h) return false;
    _typebuf<cChildElement*> stops;
    long long n = 0;
    collectTabStops(root(), stops, n, 0);
    if (n == 0) return false;
    cChildElement* current = h->focusElement();
    long long at = -1;
    for (long long i = 0; i < n; i++)
        if (stops.ptr[i] == current) at = i;
    long long next;
    if (at < 0)
        next = backwards ? n - 1 : 0;
    else
        next = backwards ? (at + n - 1) % n : (at + 1) % n;
    if (stops.ptr[next] == current) return true;
    h->moveFocus(stops.ptr[next], eEOKeyboard, backwards ? 1 : 0, 0);
    return true;
}

bool cChildElement::moveArrow(bool backwards) {
    cElementHost* h = host();
    if (!h || !myParent) return false;
    cChildElement* c = backwards ? myPrev : myNext;
    while (c && !arrowCandidate(c)) c = backwards ? c->myPrev : c->myNext;
    if (!c && myParent->wantCyclicArrowTabStop()) {
        c = backwards ? myParent->myLast : myParent->myFirst;
        while (c && c != this && !arrowCandidate(c)) c = backwards ? c->myPrev : c->myNext;
        if (c == this) c = nullptr;
    }
    if (!c) return false;
    h->moveFocus(c, eEOKeyboard, 0, 0);
    return true;
}

bool cChildElement::processKey(int key, bool shift, bool ctrl, bool alt) {
    if (!myVisible || !myEnabled) return false;
    cElementHost* h = host();
    cChildElement* f = h ? h->focusElement() : nullptr;
    if (f && f != this && isChild(f)) {
        // The focused element (and the levels between) see the key first.
        cChildElement* c = childToward(this, f);
        if (c && c->processKey(key, shift, ctrl, alt)) return true;
        if (!alive(this)) return true;
        return onKey(key, shift, ctrl, alt);
    }
    if (!ctrl && !alt) {
        if (key == kKeyTab && moveTab(shift)) return true;
        bool arrow = key == kKeyLeft || key == kKeyUp || key == kKeyRight || key == kKeyDown;
        if (arrow && f == this && myArrowTabStop && !wantCaptureArrows() &&
            moveArrow(key == kKeyLeft || key == kKeyUp))
            return true;
    }
    if (key == kKeyMenu) notifyAction(new cContextAction(myW / 2, myH / 2));
    return onKey(key, shift, ctrl, alt);
}

bool cChildElement::processChar(unsigned int codePoint) {
    if (!myVisible || !myEnabled) return false;
    // Control characters arrive as keys, never as characters.
    if (codePoint < 32 || codePoint == 127 || (codePoint >= 0x80 && codePoint < 0xA0)) return false;
    cElementHost* h = host();
    cChildElement* f = h ? h->focusElement() : nullptr;
    if (f && f != this && isChild(f)) {
        cChildElement* c = childToward(this, f);
        if (c && c->processChar(codePoint)) return true;
        if (!alive(this)) return true;
    }
    return onChar(codePoint);
}

void cChildElement::processMouseBtn(int x, int y, int button, bool pressed, bool ctrl, bool shift) {
    if (!myVisible || !myEnabled) return;
    cElementHost* h = host();
    if (!h || h->captureElement() != this) {
        for (cChildElement* c = myLast; c; c = c->myPrev) {
            if (!c->myVisible) continue;
            int cx, cy;
            c->effectivePos(cx, cy);
            if (x >= cx && y >= cy && x - cx < c->myW && y - cy < c->myH) {
                c->processMouseBtn(x - cx, y - cy, button, pressed, ctrl, shift);
                return;
            }
        }
    }
    if (pressed && h && acceptsFocus()) {
        h->moveFocus(this, eEOPointer, x, y);
        if (!alive(this)) return;
    }
    onMouseButton(x, y, button, pressed);
}

void cChildElement::capturePointer(bool outside) {
    cElementHost* h = host();
    if (h) h->setCapture(this, outside);
}

void cChildElement::releasePointer() {
    cElementHost* h = host();
    if (h && h->captureElement() == this) h->clearCapture();
}

bool cChildElement::hasCapture() {
    cElementHost* h = host();
    return h && h->captureElement() == this;
}

void cChildElement::setPointer(int kind) {
    myPointer = kind;
    cElementHost* h = host();
    if (h && h->overElement() == this && h->window()) h->window()->setPointer(pointerKind());
}

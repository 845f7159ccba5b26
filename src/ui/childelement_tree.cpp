// cChildElement: the tree, geometry, anchors, visibility, text, hints, fonts and language.
#include "ui/childelement.h"

#include "ciplatform/canvas.h"
#include "ciplatform/fontobject.h"
#include "ui/elementhost.h"
#include "ui/hintholder.h"
#include "ui/lang.h"
#include "ui/theme.h"

namespace {

tHintMaker gHintMaker = nullptr;

int clampSize(int v, int lo, int hi) {
    if (lo < 0) lo = 0;
    if (v > hi) v = hi;
    if (v < lo) v = lo;
    return v;
}

}  // namespace

void setHintMaker(tHintMaker maker) { gHintMaker = maker; }
tHintMaker hintMaker() { return gHintMaker; }

cChildElement::cChildElement() { registerLive(this); }

cChildElement::~cChildElement() {
    myDying = true;
    // First: no action reaches this element any more, whatever its children do.
    unregisterLive(this);
    removeHint();
    forgetInHost();
    while (myFirst) delete myFirst;  // a child's destructor unlinks it from here
    if (myParent) {
        if (!myParent->myDying) invalidateInParent();
        myParent->unlink(this);
    }
    if (myHost) myHost->releaseRoot();
}

cChildElement* cChildElement::root() {
    cChildElement* e = this;
    while (e->myParent) e = e->myParent;
    return e;
}

void cChildElement::unlink(cChildElement* child) {
    if (child->myPrev)
        child->myPrev->myNext = child->myNext;
    else
        myFirst = child->myNext;
    if (child->myNext)
        child->myNext->myPrev = child->myPrev;
    else
        myLast = child->myPrev;
    child->myNext = child->myPrev = nullptr;
    child->myParent = nullptr;
}

bool cChildElement::attach(cChildElement* child, int x, int y, int w, int h, eControlPartType part) {
    if (!child || child == this || child->isChild(this) || child->myHost) return false;
    if (child->myParent == this) {
        child->myPart = part;
        child->move(x, y, w, h);
        return true;
    }
    if (child->myParent) child->myParent->dettach(child);
    child->myParent = this;
    child->myPrev = myLast;
    child->myNext = nullptr;
    if (myLast)
        myLast->myNext = child;
    else
        myFirst = child;
    myLast = child;
    child->myPart = part;
    child->myHasAnchor = false;
    child->myX = x;
    child->myY = y;
    child->myW = clampSize(w, child->myMinW, child->myMaxW);
    child->myH = clampSize(h, child->myMinH, child->myMaxH);
    if (!child->myInitDone) {
        child->myInitDone = true;
        child->myBorderWidth = child->wantBorderWidth();
    }
    child->onInitData();
    if (child->myParent != this) return true;  // onInitData moved it elsewhere
    child->onSizeChanged();
    if (child->myParent == this && host()) child->constructTree();
    if (child->myParent == this) child->invalidateInParent();
    return true;
}

void cChildElement::dettach(cChildElement* child) {
    if (!child || child->myParent != this) return;
    child->invalidateInParent();
    child->forgetInHost();
    unlink(child);
}

void cChildElement::constructTree() {
    if (!myConstructed) {
        myConstructed = true;
        onConstruct();
    }
    for (cChildElement* c = myFirst; c;) {
        cChildElement* next = c->myNext;
        c->constructTree();
        c = next;
    }
}

void cChildElement::setMinSize(int w, int h) {
    myMinW = w;
    myMinH = h;
    if (myParent && (myW < minWidth() || myH < minHeight())) move(myX, myY, myW, myH);
}

void cChildElement::setMaxSize(int w, int h) {
    myMaxW = w < 0 ? 0x7FFFFFFF : w;
    myMaxH = h < 0 ? 0x7FFFFFFF : h;
    if (myParent && (myW > myMaxW || myH > myMaxH)) move(myX, myY, myW, myH);
}

void cChildElement::move(int x, int y, int w, int h) {
    w = clampSize(w, myMinW, myMaxW);
    h = clampSize(h, myMinH, myMaxH);
    if (x == myX && y == myY && w == myW && h == myH) return;
    bool sized = w != myW || h != myH;
    invalidateInParent();
    myX = x;
    myY = y;
    myW = w;
    myH = h;
    invalidateInParent();
    if (sized) onSizeChanged();
}

void cChildElement::onSizeChanged() { processSizeChanges(myW, myH, false); }

bool cChildElement::anchor(cChildElement* child, int x, int y, int w, int h) {
    if (!child || child->myParent != this) return false;
    child->myHasAnchor = true;
    child->myAnchorX = x;
    child->myAnchorY = y;
    child->myAnchorW = w;
    child->myAnchorH = h;
    child->applyAnchor();
    return true;
}

void cChildElement::applyAnchor() {
    if (!myParent || !myHasAnchor) return;
    sRect cr = {0, 0, myParent->myW, myParent->myH};
    myParent->clientRect(&cr);
    // Computed in 64 bits: huge anchors must not wrap.
    long long x = myAnchorX < 0 ? (long long)myAnchorX + cr.w + 1 : myAnchorX;
    long long y = myAnchorY < 0 ? (long long)myAnchorY + cr.h + 1 : myAnchorY;
    long long w = myAnchorW < 0 ? (long long)myAnchorW + cr.w + 1 : myAnchorW;
    long long h = myAnchorH < 0 ? (long long)myAnchorH + cr.h + 1 : myAnchorH;
    x += cr.x;
    y += cr.y;
    auto fit = [](long long v) { return (int)(v < -0x3FFFFFFF ? -0x3FFFFFFF : v > 0x3FFFFFFF ? 0x3FFFFFFF : v); };
    move(fit(x), fit(y), fit(w < 0 ? 0 : w), fit(h < 0 ? 0 : h));
}

void cChildElement::processSizeChanges(int w, int h, bool force) {
    if (!force && w == myAnchoredW && h == myAnchoredH) return;
    myAnchoredW = w;
    myAnchoredH = h;
    for (cChildElement* c = myFirst; c;) {
        cChildElement* next = c->myNext;
        if (c->myHasAnchor) c->applyAnchor();
        c = next;
    }
}

bool cChildElement::virtualSize(sSize* size) {
    if (!size) return false;
    size->cx = myW;
    size->cy = myH;
    return true;
}

bool cChildElement::virtualOffset(sPoint* offset) {
    if (!offset) return false;
    offset->x = offset->y = 0;
    return true;
}

bool cChildElement::clientRect(sRect* r) {
    if (!r) return false;
    r->x = r->y = 0;
    r->w = myW;
    r->h = myH;
    return true;
}

void cChildElement::effectivePos(int& x, int& y) {
    x = myX;
    y = myY;
    if (!myParent || myPart == eCPTFixed) return;
    sPoint off = {0, 0};
    myParent->virtualOffset(&off);
    x += off.x;
    if (myPart == eCPTScrolled) y += off.y;
}

void cChildElement::childRect(sRect* r) {
    if (!r) return;
    effectivePos(r->x, r->y);
    r->w = myW;
    r->h = myH;
}

bool cChildElement::childRect(cChildElement* descendant, sRect* r) {
    if (!r || !isChild(descendant)) return false;
    int x = 0, y = 0;
    for (cChildElement* e = descendant; e != this; e = e->myParent) {
        int ex, ey;
        e->effectivePos(ex, ey);
        x += ex;
        y += ey;
    }
    r->x = x;
    r->y = y;
    r->w = descendant->myW;
    r->h = descendant->myH;
    return true;
}

bool cChildElement::isChild(cChildElement* element) const {
    if (!element) return false;
    for (cChildElement* e = element->myParent; e; e = e->myParent)
        if (e == this) return true;
    return false;
}

void cChildElement::windowPos(sPoint& at) {
    at.x = at.y = 0;
    for (cChildElement* e = this; e->myParent; e = e->myParent) {
        int ex, ey;
        e->effectivePos(ex, ey);
        at.x += ex;
        at.y += ey;
    }
}

bool cChildElement::absPos(sPoint& at) {
    windowPos(at);
    cPlatformWindow* w = platformWindow();
    if (!w) return false;
    sPoint s = {0, 0};
    w->screenPos(s);
    at.x += s.x;
    at.y += s.y;
    return true;
}

cChildElement* cChildElement::elementAt(int x, int y, int* lx, int* ly) {
    if (!inme(x, y)) return nullptr;
    cChildElement* e = this;
    // Descend iteratively: the topmost (last attached) visible child under the point.
    for (;;) {
        cChildElement* hit = nullptr;
        for (cChildElement* c = e->myLast; c; c = c->myPrev) {
            if (!c->myVisible) continue;
            int cx, cy;
            c->effectivePos(cx, cy);
            if (x >= cx && y >= cy && x - cx < c->myW && y - cy < c->myH) {
                x -= cx;
                y -= cy;
                hit = c;
                break;
            }
        }
        if (!hit) break;
        e = hit;
    }
    if (lx) *lx = x;
    if (ly) *ly = y;
    return e;
}

void cChildElement::show(bool repaint) {
    if (myVisible) return;
    myVisible = true;
    if (repaint) invalidateInParent();
}

void cChildElement::hide(bool repaint) {
    if (!myVisible) return;
    if (repaint) invalidateInParent();
    myVisible = false;
    cElementHost* h = host();
    if (h) h->forget(this, true);
}

bool cChildElement::visible() {
    for (cChildElement* e = this; e; e = e->myParent)
        if (!e->myVisible) return false;
    return true;
}

void cChildElement::enable() {
    if (myEnabled) return;
    myEnabled = true;
    onEnableChanged();
    repaint();
}

void cChildElement::disable(bool repaint) {
    if (!myEnabled) return;
    myEnabled = false;
    // A disabled element takes no keys: keeping the focus would leave Tab nowhere to start.
    cElementHost* h = host();
    if (h && h->focusElement() && (h->focusElement() == this || isChild(h->focusElement()))) h->changeFocus(nullptr);
    onEnableChanged();
    if (repaint) this->repaint();
}

bool cChildElement::enabledInTree() {
    for (cChildElement* e = this; e; e = e->myParent)
        if (!e->myEnabled) return false;
    return true;
}

void cChildElement::setTransparent(bool on) {
    if (myTransparent == on) return;
    myTransparent = on;
    repaint();
}

int cChildElement::borderWidth() {
    if (myBorderWidth < 0) myBorderWidth = wantBorderWidth();
    return myBorderWidth;
}

void cChildElement::invalidateInParent() {
    cElementHost* h = host();
    if (!h) return;
    if (!myParent) {
        h->invalidate(nullptr);
        return;
    }
    if (!myParent->visible() || !myVisible) return;
    sPoint p;
    myParent->windowPos(p);
    int ex, ey;
    effectivePos(ex, ey);
    sRect r = {p.x + ex, p.y + ey, myW, myH};
    if (r.w > 0 && r.h > 0) h->invalidate(&r);
}

void cChildElement::forgetInHost() {
    cElementHost* h = host();
    if (h) h->forget(this, true);
}

cElementHost* cChildElement::host() { return root()->myHost; }

cPlatformWindow* cChildElement::platformWindow() {
    cElementHost* h = host();
    return h ? h->window() : nullptr;
}

cWindowMaker* cChildElement::windowMaker() {
    cElementHost* h = host();
    return h ? h->maker() : nullptr;
}

// ---- text and hints ----

const char* cChildElement::text() { return myText.ptr; }

long long cChildElement::text(char* buffer, long long size) {
    cSafeCriticalSectionAccess lock(&myTextLock);
    long long n = myText.length();
    if (buffer && size > 0) {
        long long k = n < size - 1 ? n : size - 1;
        if (k > 0) memcpy(buffer, myText.ptr, (size_t)k);
        buffer[k] = 0;
    }
    return n;
}

void cChildElement::setText(const char* text, long long length, bool repaint) {
    {
        cSafeCriticalSectionAccess lock(&myTextLock);
        myText.set(text, length);
    }
    if (repaint) this->repaint();
}

void cChildElement::wipeText() {
    {
        cSafeCriticalSectionAccess lock(&myTextLock);
        myText.clear();
    }
    repaint();
}

void cChildElement::setHint(const char* text, int placement) {
    myHint.set(text);
    myHintPlacement = placement;
}

void cChildElement::displayHint() {
    if (myHint.empty() || !gHintMaker) return;
    removeHint();
    myHintElement = gHintMaker(this);
}

void cChildElement::removeHint() {
    cChildElement* h = myHintElement;
    myHintElement = nullptr;
    delete h;
}

void cChildElement::onMouseOver() { displayHint(); }

void cChildElement::onMouseMoving(int, int) {
    if (!myHintElement) displayHint();
}

void cChildElement::onMouseLeft() { removeHint(); }

// ---- fonts and language ----

cFontObject* cChildElement::createFont(int width, int height, const char* face, bool bold, bool underline,
                                       bool italic) {
    return cFontObject::get(width, height, face ? face : _glbalStdFont(), bold, underline, italic);
}

cFontObject* cChildElement::stdFont() { return cFontObject::get(5, 13, _glbalStdFont(), false, false, false); }
cFontObject* cChildElement::stdFontBold() { return cFontObject::get(6, 13, _glbalStdFont(), true, false, false); }
cFontObject* cChildElement::stdFontUnderlined() {
    return cFontObject::get(5, 13, _glbalStdFont(), false, true, false);
}

bool cChildElement::sizeOf(const char* text, sSize& size, cFontObject* font) {
    size.cx = size.cy = 0;
    if (!text) return false;
    if (!font) font = stdFont();
    if (!font) return false;
    cCanvas c(1, 1);
    c.setTextMode(font);
    return c.textSize(text, -1, size);
}

namespace {

const char* sectionOf(cChildElement* e) {
    for (; e; e = e->parent()) {
        const char* section = e->wantLangResource();
        if (section) return section;
    }
    return nullptr;
}

}  // namespace

const char* cChildElement::string(int index) {
    const char* section = sectionOf(this);
    return section ? cCiomLangData::string(section, index) : nullptr;
}

const char* cChildElement::string(cChildElement* other, int index) {
    const char* section = sectionOf(this);
    if (!section) section = sectionOf(other);
    return section ? cCiomLangData::string(section, index) : nullptr;
}

unsigned int cChildElement::resolveColour(unsigned int colour, int themeIndex) {
    if (colour != 0xFF000000u) return colour;
    cCITheme* theme = cCITheme::theme();
    return theme ? theme->getColor(themeIndex) & 0xFFFFFF : 0xFFFFFF;
}

// cElementHost: window callbacks routed into the element tree; the modal runs, popups
// and window services of cChildElement; cWindowHolder.
#include "ui/elementhost.h"

#include "ciplatform/canvas.h"
#include "ui/customform.h"

void uiHostCreated(cWindowMaker* maker);
void uiHostDestroyed(cWindowMaker* maker);
int uiLiveHosts();

// Keeps a host alive while one of its callbacks runs; a window destroyed meanwhile is
// finished when the outermost callback returns.
class cBusyScope {
public:
    explicit cBusyScope(cElementHost* h) : myHost(h) { h->enter(); }
    ~cBusyScope() { myHost->leave(); }

private:
    cElementHost* myHost;
};

cElementHost::cElementHost(cWindowMaker* maker, cChildElement* root, bool ownsRoot)
    : myMaker(maker), myRoot(root), myOwnsRoot(ownsRoot) {
    uiHostCreated(maker);
}

cElementHost::~cElementHost() {
    if (myHolder) myHolder->myHost = nullptr;
    releaseRoot();
    uiHostDestroyed(myMaker);
}

int cElementHost::liveHosts() { return uiLiveHosts(); }

void cElementHost::leave() {
    if (--myBusy > 0 || !myDead) return;
    cChildElement* root = myOwnsRoot ? myRoot : nullptr;
    releaseRoot();
    delete root;
    delete this;
}

void cElementHost::bind(cPlatformWindow* window) {
    cBusyScope busy(this);
    myWindow = window;
    window->userData = this;
    if (!myRoot) return;
    cChildElement* r = myRoot;
    r->myHost = this;
    r->myX = r->myY = 0;
    r->myW = window->width();
    r->myH = window->height();
    if (!r->myInitDone) {
        r->myInitDone = true;
        r->myBorderWidth = r->wantBorderWidth();
    }
    r->onInitData();
    if (myRoot != r) return;
    r->onSizeChanged();
    r->processSizeChanges(r->myW, r->myH, true);
    r->constructTree();
    if (myRoot != r) return;
    cCustomForm* form = dynamic_cast<cCustomForm*>(r);
    if (form) form->onAfterConstruct();
    if (myRoot != r) return;
    // The user cannot shrink the window below what its content needs.
    if (r->minWidth() > 0 || r->minHeight() > 0) window->setMinSize(r->minWidth(), r->minHeight());
    if (!myFocus) r->moveTab(false);
    invalidate(nullptr);
}

void cElementHost::releaseRoot() {
    if (myCapture && myWindow) myWindow->releasePointer();
    myFocus = myCapture = myOver = nullptr;
    if (myRoot) myRoot->myHost = nullptr;
    myRoot = nullptr;
    myOwnsRoot = false;
}

bool cElementHost::changeFocus(cChildElement* element) {
    if (element == myFocus) return false;
    cChildElement* old = myFocus;
    myFocus = element;
    // An ancestor is not told when one of its descendants takes the focus over.
    if (old && !old->isChild(element)) old->processFocusLost();
    return myFocus == element;
}

void cElementHost::moveFocus(cChildElement* element, int origin, int a, int b) {
    if (!changeFocus(element)) return;
    if (element && cChildElement::alive(element)) element->processFocus(origin, a, b);
}

void cElementHost::setCapture(cChildElement* element, bool outside) {
    myCapture = element;
    if (myWindow) myWindow->capturePointer(outside);
}

void cElementHost::clearCapture() {
    myCapture = nullptr;
    if (myWindow) myWindow->releasePointer();
}

void cElementHost::forget(cChildElement* element, bool focusToo) {
    if (!element) return;
    auto within = [element](cChildElement* e) { return e && (e == element || element->isChild(e)); };
    if (within(myCapture)) clearCapture();
    if (within(myOver)) myOver = nullptr;
    if (focusToo && within(myFocus)) {
        // A dying element is not told; a hidden one loses the focus normally.
        if (element->myDying)
            myFocus = nullptr;
        else
            changeFocus(nullptr);
    }
}

void cElementHost::invalidate(const sRect* area) {
    if (myWindow) myWindow->invalidate(area);
}

// ---- window callbacks ----

void cElementHost::onWindowPaint(cPlatformWindow*, cCanvas* canvas, const sRect* dirty) {
    cBusyScope busy(this);
    if (!myRoot || !canvas) return;
    sRect clip = dirty ? *dirty : sRect{0, 0, canvas->width(), canvas->height()};
    myRoot->paintInto(canvas, 0, 0, clip);
}

cChildElement* cElementHost::pointerTarget(int x, int y, int& lx, int& ly) {
    if (myCapture) {
        sPoint p;
        myCapture->windowPos(p);
        lx = x - p.x;
        ly = y - p.y;
        return myCapture;
    }
    if (!myRoot) return nullptr;
    cChildElement* e = myRoot->elementAt(x, y, &lx, &ly);
    if (!e) {
        // Outside the root (a grabbing popup's outside press): the root in its own terms.
        lx = x;
        ly = y;
        e = myRoot;
    }
    return e;
}

void cElementHost::trackOver(cChildElement* element) {
    if (element == myOver) return;
    cChildElement* old = myOver;
    myOver = element;
    if (old && cChildElement::alive(old)) old->onMouseLeft();
    if (myOver != element) return;
    if (element && cChildElement::alive(element)) element->onMouseOver();
    if (myWindow) myWindow->setPointer(myOver ? myOver->pointerKind() : 0);
}

void cElementHost::onWindowMouseButton(cPlatformWindow*, int x, int y, int button, bool pressed,
                                       unsigned int modifiers) {
    cBusyScope busy(this);
    bool ctrl = (modifiers & kModCtrl) != 0, shift = (modifiers & kModShift) != 0;
    if (myCapture) {
        int lx, ly;
        cChildElement* c = pointerTarget(x, y, lx, ly);
        if (c->enabledInTree()) c->processMouseBtn(lx, ly, button, pressed, ctrl, shift);
        return;
    }
    if (myRoot) myRoot->processMouseBtn(x, y, button, pressed, ctrl, shift);
}

void cElementHost::onWindowMouseDoubleClick(cPlatformWindow*, int x, int y, int button, unsigned int) {
    cBusyScope busy(this);
    int lx, ly;
    cChildElement* e = pointerTarget(x, y, lx, ly);
    if (e && e->visible() && e->enabledInTree()) e->onMouseDoubleClick(lx, ly, button);
}

void cElementHost::onWindowMouseMove(cPlatformWindow*, int x, int y, unsigned int) {
    cBusyScope busy(this);
    int lx, ly;
    cChildElement* e = pointerTarget(x, y, lx, ly);
    if (e && !e->enabledInTree()) e = nullptr;
    if (!myCapture && myRoot && !myRoot->inme(x, y)) e = nullptr;
    trackOver(e);
    if (e && cChildElement::alive(e)) e->onMouseMoving(lx, ly);
}

void cElementHost::onWindowMouseLeave(cPlatformWindow*) {
    cBusyScope busy(this);
    if (!myCapture) trackOver(nullptr);
}

void cElementHost::onWindowMouseWheel(cPlatformWindow*, int x, int y, bool towardsStart, bool horizontal,
                                      int notches, unsigned int) {
    cBusyScope busy(this);
    int lx, ly;
    cChildElement* e = pointerTarget(x, y, lx, ly);
    if (notches < 1) notches = 1;
    // Unconsumed turns go up to the parents, in their coordinates.
    for (int depth = 0; e && depth < 4096; depth++) {
        if (e->enabledInTree() && e->onMouseWheel(lx, ly, towardsStart, horizontal, notches)) return;
        if (!cChildElement::alive(e)) return;
        int ex, ey;
        e->effectivePos(ex, ey);
        lx += ex;
        ly += ey;
        e = e->parent();
    }
}

void cElementHost::onWindowKey(cPlatformWindow*, int key, bool pressed, unsigned int modifiers) {
    cBusyScope busy(this);
    if (!pressed || !myRoot) return;
    myRoot->processKey(key, (modifiers & kModShift) != 0, (modifiers & kModCtrl) != 0, (modifiers & kModAlt) != 0);
}

void cElementHost::onWindowChar(cPlatformWindow*, unsigned int codePoint) {
    cBusyScope busy(this);
    if (myRoot) myRoot->processChar(codePoint);
}

void cElementHost::onWindowFocus(cPlatformWindow*, bool gained) {
    cBusyScope busy(this);
    if (!myRoot) return;
    if (gained)
        myRoot->processOSFocus();
    else
        myRoot->processOSFocusLost();
}

void cElementHost::onWindowClose(cPlatformWindow* window) {
    cBusyScope busy(this);
    if (myRoot && !myRoot->onClose()) return;
    if (!myWindow) return;
    if (myWindow->inModal())
        myWindow->endModal(kCloseCode);
    else
        myMaker->destroy(myWindow);
}

void cElementHost::onWindowResize(cPlatformWindow*, int w, int h) {
    cBusyScope busy(this);
    if (myRoot) myRoot->move(0, 0, w, h);
}

void cElementHost::onWindowWake(cPlatformWindow*) {
    cBusyScope busy(this);
    cChildElement::processActions();
}

void cElementHost::onWindowDestroyed(cPlatformWindow*) {
    if (myHolder) {
        myHolder->myHost = nullptr;
        myHolder = nullptr;
    }
    if (myCapture) myCapture = nullptr;  // the window's grab goes with it
    myWindow = nullptr;
    myDead = true;
    enter();
    leave();  // finishes now unless a callback of this host is still running
}

// ---- cChildElement's window services ----

int cChildElement::modalWindow(cWindowMaker* maker, const char* caption, int w, int h, cChildElement* form,
                               cChildElement* owner, unsigned int flags) {
    if (!form) return -1;
    if (!maker || form->myParent || form->myHost) return -1;
    cElementHost* host = new cElementHost(maker, form, true);
    // A dialog stands over a window the user sees: one that stepped aside (a carrier form
    // hidden while its dialogs run) hands it on to the window it stands over, or to none
    // (a top-level window), so that no click on a visible window can bury the dialog.
    cPlatformWindow* ownerWindow = owner ? owner->platformWindow() : nullptr;
    while (ownerWindow && !ownerWindow->visible()) ownerWindow = ownerWindow->owner();
    cPlatformWindow* window = maker->createWindow(host, caption, w, h, ownerWindow, flags);
    if (!window) {
        delete host;
        delete form;
        return -1;
    }
    host->bind(window);
    int code = maker->modal(window);
    maker->destroy(window);  // deletes the form with the window
    return code;
}

int cChildElement::modal(const char* caption, int w, int h, cChildElement* form, bool resizable) {
    cWindowMaker* maker = windowMaker();
    if (!maker || !platformWindow()) return -1;
    return modalWindow(maker, caption, w, h, form, this, resizable ? kWFResizable : 0);
}

void cChildElement::end_modal(int code) {
    cPlatformWindow* w = platformWindow();
    if (w) w->endModal(code);
}

int cChildElement::modal_popup(int x, int y, int w, int h, cChildElement* element) {
    cWindowMaker* maker = windowMaker();
    cPlatformWindow* owner = platformWindow();
    if (!maker || !owner || !element || element->myParent || element->myHost) return -1;
    double scale = maker->screenScale();
    cElementHost* host = new cElementHost(maker, element, true);
    cPlatformWindow* window =
        maker->createPopup(host, (int)(x * scale), (int)(y * scale), w, h, owner, true);
    if (!window) {
        delete host;
        delete element;
        return -1;
    }
    host->bind(window);
    int code = maker->modal(window);
    maker->destroy(window);
    return code;
}

cWindowHolder* cChildElement::popup(int x, int y, int w, int h, cChildElement* content, bool modal) {
    cWindowMaker* maker = windowMaker();
    cPlatformWindow* owner = platformWindow();
    if (!maker || !owner || !content || content->myParent || content->myHost) return nullptr;
    // The content stays its creator's: the window only shows it.
    cElementHost* host = new cElementHost(maker, content, false);
    cPlatformWindow* window = modal ? maker->createPopup(host, x, y, w, h, owner, true)
                                    : maker->createHint(host, x, y, w, h, owner);
    if (!window) {
        delete host;
        return nullptr;
    }
    host->bind(window);
    cWindowHolder* holder = new cWindowHolder(host);
    host->myHolder = holder;
    return holder;
}

bool cChildElement::desktopSize(sSize& size) {
    cWindowMaker* maker = windowMaker();
    return maker && maker->desktopSize(size);
}

bool cChildElement::clipboardCopyText(const char* text, long long bytes) {
    cWindowMaker* maker = windowMaker();
    return maker && text && maker->clipboardCopyText(text, bytes);
}

bool cChildElement::clipboardRequestText(_guardchar<char>& out) {
    cWindowMaker* maker = windowMaker();
    return maker && maker->clipboardRequestText(out);
}

// ---- cWindowHolder ----

cWindowHolder::~cWindowHolder() { close(false); }

void cWindowHolder::dispose(bool contentGoing) {
    close(!contentGoing);
    delete this;
}

void cWindowHolder::close(bool deleteContent) {
    cElementHost* h = myHost;
    if (!h) return;
    myHost = nullptr;
    h->myHolder = nullptr;
    cChildElement* content = h->rootElement();
    h->releaseRoot();
    if (h->window()) h->maker()->destroy(h->window());
    if (deleteContent) delete content;
}

cPlatformWindow* cWindowHolder::window() { return myHost ? myHost->window() : nullptr; }

cChildElement* cWindowHolder::content() { return myHost ? myHost->rootElement() : nullptr; }

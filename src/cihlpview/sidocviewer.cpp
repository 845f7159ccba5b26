// cSiDocViewer: laying a document out to the viewer's width, rendering the band of rows
// around the view into an offscreen canvas, scrolling, link zones and opening links.
#include "cihlpview/sidocviewer.h"

#include <sys/stat.h>

#include <cstring>

#include "base/process.h"
#include "base/strings.h"
#include "ciplatform/canvas.h"
#include "ciplatform/windowmaker.h"

namespace {

// Rows rendered at once: a few views' worth, so that scrolling mostly copies, but never
// in proportion to the document.
const int kBandMin = 1024;
const int kBandMax = 4096;
// And at most this many pixels, however wide the viewer (never less than the view itself).
const long long kBandMaxPixels = 8LL << 20;
// Re-layouts that the vertical bar may cause by showing or hiding before the width is
// kept as it is (a document whose height straddles the view could flip it for ever).
const int kMaxWidthFlips = 2;

bool startsWith(const char* s, const char* prefix) { return __stricmp(s, prefix, (long long)strlen(prefix)) == 0; }

void fillRect(cCanvas* canvas, int x, int y, int w, int h, unsigned int colour) {
    if (w <= 0 || h <= 0) return;
    sRect r = {x, y, w, h};
    canvas->drawRect(&r, colour, colour);
}

}  // namespace

bool siDocOpenLink(const char* target) {
    if (!target || !*target) return false;
    // Control characters have no place in an address or a path of a document's link.
    for (const unsigned char* p = (const unsigned char*)target; *p; p++)
        if (*p < 0x20 || *p == 0x7F) return false;
    bool web = (startsWith(target, "http://") && target[7]) || (startsWith(target, "https://") && target[8]) ||
               (startsWith(target, "mailto:") && target[7]);
    _guardchar<char> arg;
    if (!web) {
        struct stat st;
        if (stat(target, &st) != 0) return false;
        // A path is never taken for one of the opener's options.
        if (target[0] == '-') {
            size_t n = strlen(target);
            if (!arg.set(n + 2)) return false;
            memcpy(arg.ptr, "./", 2);
            memcpy(arg.ptr + 2, target, n);
        }
    }
    const char* argv[] = {"xdg-open", arg.ptr ? arg.ptr : target, nullptr};
    return startDetached(argv);
}

cSiDocViewer::~cSiDocViewer() {
    myZones.destroy();
    delete myRendering;
}

bool cSiDocViewer::refSiDoc(cSiDocBox* doc, unsigned int background) {
    myBg = background;
    if (doc == myDoc) return false;
    myDoc = doc;
    myPressed = nullptr;
    myWidthFlips = 0;
    rebuild();
    // A new document starts at its top; without one there is nothing to scroll.
    if (vScroll()->visible_child()) vScroll()->setPos(0, true);
    if (!doc) setMinVisualHeight(0);
    return true;
}

void cSiDocViewer::rebuild() {
    dropRendering();
    myDocHeight = -1;
    repaint();
}

void cSiDocViewer::dropRendering() {
    delete myRendering;
    myRendering = nullptr;
    resetActive();
}

int cSiDocViewer::layoutWidth() {
    // The document never runs under the vertical bar.
    int w = width() - getVScrollRes();
    return w > 0 ? w : 0;
}

int cSiDocViewer::renderedHeight() const { return myRendering ? myRendering->height() : 0; }

void cSiDocViewer::onSizeChanged() {
    cScrollableElement::onSizeChanged();
    // A new size may settle the bar differently: let it flip again.
    myWidthFlips = 0;
    // A change of height alone keeps the rendering (painting renders more rows if needed).
    if (myRendering && layoutWidth() != myRenderWidth) {
        dropRendering();
        myDocHeight = -1;
        repaint();
    }
}

bool cSiDocViewer::renderBand(cCanvas* canvas, int top, int W) {
    int H = height();
    if (W <= 0 || H <= 0) return false;
    sSiDocDrawProps props;
    props.font = stdFont();
    props.bgColor = myBg;
    props.textColor = 0;
    props.x = 0;
    props.rightLimit = W;
    props.activeTarget = this;

    bool known = myDocHeight >= 0;
    long long band = (long long)H * 3;
    if (band < kBandMin) band = kBandMin;
    if (band > kBandMax) band = kBandMax;
    if (band * W > kBandMaxPixels) band = kBandMaxPixels / W;
    if (band < H) band = H;
    long long work = 0;
    props.work = &work;
    if (!known) {
        sSize want = {0, 0};
        if (!myDoc->wantsSize(canvas, props, want) || want.cx <= 0 || want.cy <= 0) return false;
        if (want.cy < band) band = want.cy < H ? H : want.cy;
    } else if (myDocHeight < band) {
        band = myDocHeight < H ? H : myDocHeight;
    }
    long long bandTop = (long long)top - (band - H) / 2;
    if (known && bandTop > (long long)myDocHeight - band) bandTop = (long long)myDocHeight - band;
    if (bandTop < 0) bandTop = 0;

    cCanvas* off = canvas->offscreen(W, (int)band, -1, -1);
    if (!off) return false;
    fillRect(off, 0, 0, W, (int)band, myBg);
    dropRendering();
    myBandTop = (int)bandTop;
    props.y = -myBandTop;
    props.paintTop = 0;
    props.paintBottom = (int)band;
    props.stopBelowPaint = known;
    work = 0;
    sSize drawn = {0, 0};
    myDoc->draw(off, props, drawn);
    myRendering = off;
    myRenderWidth = W;
    if (!known) myDocHeight = drawn.cy > 0 ? drawn.cy : 0;
    return true;
}

void cSiDocViewer::onPaintArea(cCanvas* canvas) {
    int H = height();
    if (!myDoc) {
        fillRect(canvas, 0, 0, width(), H, myBg);
        return;
    }
    int W = layoutWidth();
    if (myRendering && myRenderWidth != W) {
        // The bar came or went: lay out again, unless that keeps flipping it.
        if (myWidthFlips < kMaxWidthFlips) {
            myWidthFlips++;
            dropRendering();
            myDocHeight = -1;
        } else {
            W = myRenderWidth;
        }
    }
    int top = shiftY();
    bool fresh = false;
    if (!myRendering || top < myBandTop ||
        ((long long)top + H > (long long)myBandTop + myRendering->height() &&
         (long long)myBandTop + myRendering->height() < myDocHeight)) {
        bool wasKnown = myDocHeight >= 0;
        if (!renderBand(canvas, top, W)) {
            fillRect(canvas, 0, 0, width(), H, myBg);
            return;
        }
        fresh = !wasKnown;
    }
    // Copy the rendered rows; the rest takes the background.
    int srcY = top - myBandTop;
    int rows = myRendering->height() - srcY;
    if (rows > H) rows = H;
    if (rows < 0) rows = 0;
    if (rows > 0) canvas->draw(0, 0, myRendering, 0, srcY, myRendering->width(), rows);
    fillRect(canvas, 0, rows, width(), H - rows, myBg);
    fillRect(canvas, myRendering->width(), 0, width() - myRendering->width(), rows, myBg);
    if (fresh) {
        setQuantumSize(10, 15);
        setMinVisualHeight(myDocHeight);
    }
}

bool cSiDocViewer::onKey(int key, bool shift, bool ctrl, bool alt) {
    cVScroll* bar = vScroll();
    // Without the bar there is nothing to scroll (its position and maximum are stale).
    bool shown = bar->visible_child();
    switch (key) {
    case 336:
        if (shown && bar->pos() != 0) {
            bar->setPos(0, true);
            repaint();
        }
        return true;
    case 337:
    case 338:
        if (shown) bar->valUp();
        repaint();
        return true;
    case 339:
    case 340:
        if (shown) bar->valDown();
        repaint();
        return true;
    case 341:
        if (shown) bar->pageUp();
        repaint();
        return true;
    case 342:
        if (shown) bar->pageDown();
        repaint();
        return true;
    case 343:
        if (shown && bar->pos() != bar->maxval()) {
            bar->setPos(bar->maxval(), true);
            repaint();
        }
        return true;
    default: return false;
    }
}

char* cSiDocViewer::getRef(int x, int y) {
    long long dx = (long long)x + shiftX(), dy = (long long)y + shiftY();
    for (auto* e = myZones.first(); e; e = myZones.next(e)) {
        for (auto* it = e->value().head; it; it = it->next) {
            const sArea& a = it->value;
            if (a.left <= dx && dx <= a.right && a.top <= dy && dy <= a.bottom) return e->key();
        }
    }
    return nullptr;
}

void cSiDocViewer::onMouseMoving(int x, int y) {
    cScrollableElement::onMouseMoving(x, y);
    setPointer(getRef(x, y) ? eMPHand : eMPArrow);
}

void cSiDocViewer::onMouseButton(int x, int y, int button, bool down) {
    if (button != kMouseLeft) return;
    if (down) {
        capturePointer();
        myPressed = getRef(x, y);
        return;
    }
    releasePointer();
    char* pressed = myPressed;
    myPressed = nullptr;
    // Moving off the link before the release cancels the click.
    if (pressed && getRef(x, y) == pressed) onActiveZone(pressed);
}

bool cSiDocViewer::onActiveZone(char* target) { return siDocOpenLink(target); }

void cSiDocViewer::resetActive() { myZones.destroy(); }

bool cSiDocViewer::setActive(char* target, int x, int y, int w, int h) {
    if (!target || w <= 0 || h <= 0) return true;
    _List<sArea>* list = myZones.insert(target);
    if (!list) return false;
    sArea* a = list->add();
    if (!a) return false;
    // The band's rows are document rows from myBandTop on.
    long long top = (long long)y + myBandTop;
    a->left = x;
    a->top = (int)top;
    a->right = (int)((long long)x + w - 1);
    a->bottom = (int)(top + h - 1);
    return true;
}

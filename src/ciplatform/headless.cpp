// The headless window maker: windows in memory, injected input, an explicit pump,
// scripted modal answers and PNG snapshots.
#include "ciplatform/headless.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <zlib.h>

#include "base/byteorder.h"
#include "base/fileops.h"
#include "base/memio.h"
#include "base/strings.h"
#include "compression/zlibstreams.h"
#include "ciplatform/canvas.h"
#include "ciplatform/textcodec.h"

class cHeadlessWindow : public cPlatformWindow {
public:
    cHeadlessWindowMaker* myMaker = nullptr;
    cWindowClient* myClient = nullptr;
    int myKind = kWindowTop;
    cHeadlessWindow* myOwner = nullptr;
    _guardchar<char> myCaption;
    int myX = 0, myY = 0;
    cCanvas myCanvas;
    bool myVisible = true;
    bool myEverShown = false;
    bool myMadeHidden = false;
    bool myDirty = true;
    sArea myDirtyArea = {0, 0, 0, 0};
    int myPointer = 0;
    bool myModal = false;
    bool myEnded = false;
    int myCode = -1;
    long long mySeq = 0;
    bool myDead = false;
    int myMinW = 0, myMinH = 0;  // what a user's resize stops at

    cWindowMaker* maker() override { return myMaker; }
    cWindowClient* client() override { return myClient; }
    int kind() override { return myKind; }
    cPlatformWindow* owner() override { return myOwner; }
    int width() override { return myCanvas.width(); }
    int height() override { return myCanvas.height(); }
    void screenPos(sPoint& at) override {
        at.x = myX;
        at.y = myY;
    }
    void setCaption(const char* caption) override { myCaption.set(caption); }
    const char* caption() override { return myCaption.ptr ? myCaption.ptr : ""; }
    void move(int x, int y, int w, int h) override {
        myX = x;
        myY = y;
        if (w > 0 && h > 0 && (w != width() || h != height())) {
            if (!myCanvas.create(w, h)) return;
            if (myClient && !myDead) myClient->onWindowResize(this, w, h);
            invalidate(nullptr);
        }
    }
    void setMinSize(int w, int h) override {
        myMinW = w > 0 ? w : 0;
        myMinH = h > 0 ? h : 0;
    }
    void show(bool visible) override {
        if (visible && !myVisible) invalidate(nullptr);
        myVisible = visible;
        myEverShown = myEverShown || visible;
    }
    bool visible() override { return myVisible; }
    void invalidate(const sRect* area) override {
        addDirtyArea(myDirtyArea, myDirty, area, width(), height());
    }
    // Paints the dirty area now; true when it painted.
    bool paint() {
        if (!myDirty || myDead || !myVisible || !myClient) return false;
        myDirty = false;
        sRect r = {myDirtyArea.left, myDirtyArea.top, myDirtyArea.right - myDirtyArea.left,
                   myDirtyArea.bottom - myDirtyArea.top};
        myCanvas.resetClip();
        myCanvas.setTextMode(nullptr);
        myClient->onWindowPaint(this, &myCanvas, &r);
        return true;
    }
    void update() override {
        myMaker->myDispatchDepth++;
        paint();
        myMaker->myDispatchDepth--;
    }
    cCanvas* canvas() override { return &myCanvas; }
    void setPointer(int kind) override { myPointer = kind; }
    void capturePointer(bool outside) override {
        if (!myDead) myMaker->myGrab = this;
    }
    void releasePointer() override {
        if (myMaker->myGrab == this) myMaker->myGrab = nullptr;
    }
    void focus() override {
        if (!myDead && myKind != kWindowHint) myMaker->setFocus(this);
    }
    bool focused() override { return myMaker->myFocus == this; }
    void endModal(int code) override {
        if (!myModal || myEnded) return;
        myEnded = true;
        myCode = code;
        myMaker->myWakes.channel().signal();
    }
    bool inModal() override { return myModal && !myEnded; }
};

cHeadlessWindowMaker::cHeadlessWindowMaker() {}

cHeadlessWindowMaker::~cHeadlessWindowMaker() {
    while (myWindows.count() > 0) destroy(myWindows.at(myWindows.count() - 1));
    myWindows.freeDead();
}

cHeadlessWindow* cHeadlessWindowMaker::live(cPlatformWindow* window) { return myWindows.live(window); }

bool cHeadlessWindowMaker::alive(cPlatformWindow* window) { return live(window) != nullptr; }

bool cHeadlessWindowMaker::everShown(cPlatformWindow* window) {
    cHeadlessWindow* w = live(window);
    return w && w->myEverShown;
}

cHeadlessWindow* cHeadlessWindowMaker::addWindow(cWindowClient* client, int kind, const char* caption, int x, int y,
                                                 int w, int h, cPlatformWindow* owner, unsigned int flags) {
    cHeadlessWindow* win = new cHeadlessWindow();
    if (!win->myCanvas.create(w, h)) {
        delete win;
        return nullptr;
    }
    win->myMaker = this;
    win->myClient = client;
    win->myKind = kind;
    win->myOwner = live(owner);
    win->myCaption.set(caption);
    win->myX = x;
    win->myY = y;
    win->myVisible = win->myEverShown = !(flags & kWFHidden);
    win->myMadeHidden = (flags & kWFHidden) != 0;
    win->myDirty = true;
    win->myDirtyArea = {0, 0, w, h};
    win->mySeq = ++mySequence;
    if (!myWindows.add(win)) {
        delete win;
        return nullptr;
    }
    return win;
}

cPlatformWindow* cHeadlessWindowMaker::createWindow(cWindowClient* client, const char* caption, int w, int h,
                                                    cPlatformWindow* owner, unsigned int flags) {
    cHeadlessWindow* o = live(owner);
    long long cx = o ? o->myX + o->width() / 2 : myDesktopW / 2, cy = o ? o->myY + o->height() / 2 : myDesktopH / 2;
    cHeadlessWindow* win = addWindow(client, o ? kWindowModal : kWindowTop, caption, (int)(cx - w / 2),
                                     (int)(cy - h / 2), w, h, o, flags);
    if (win && win->myVisible) setFocus(win);
    return win;
}

cPlatformWindow* cHeadlessWindowMaker::createPopup(cWindowClient* client, int x, int y, int w, int h,
                                                   cPlatformWindow* owner, bool grab) {
    cHeadlessWindow* win = addWindow(client, kWindowPopup, "", x, y, w, h, owner, 0);
    if (win && grab) myGrab = win;
    return win;
}

cPlatformWindow* cHeadlessWindowMaker::createHint(cWindowClient* client, int x, int y, int w, int h,
                                                  cPlatformWindow* owner) {
    return addWindow(client, kWindowHint, "", x, y, w, h, owner, 0);
}

void cHeadlessWindowMaker::destroy(cPlatformWindow* window) {
    cHeadlessWindow* w = live(window);
    if (!w) return;
    myWindows.unlist(w);
    w->myDead = true;
    if (w->myModal && !w->myEnded) {
        w->myEnded = true;  // its run ends with the code it had (-1)
    }
    if (myGrab == w) myGrab = nullptr;
    if (myPointerOver == w) myPointerOver = nullptr;
    myWindows.disown(w);
    myTimers.forget(w);
    myWakes.forget(w);
    if (myFocus == w) {
        myFocus = nullptr;
        // The focus goes back to the owner, else to the newest remaining window.
        cHeadlessWindow* next = w->myOwner;
        if (!next)
            for (long long i = myWindows.count() - 1; i >= 0 && !next; i--)
                if (myWindows.at(i)->myKind != kWindowHint && myWindows.at(i)->myVisible) next = myWindows.at(i);
        if (next) setFocus(next);
    }
    myWindows.bury(w);
    if (w->myClient) {
        sDispatch d(myDispatchDepth);
        w->myClient->onWindowDestroyed(w);
    }
    if (myDispatchDepth == 0) freeDead();
}

bool cHeadlessWindowMaker::freeDead() {
    // Windows still being run modally stay until their run returns.
    if (myDispatchDepth == 0) myWindows.freeDead();
    return false;
}

void cHeadlessWindowMaker::setFocus(cHeadlessWindow* window) {
    if (window == myFocus) return;
    cHeadlessWindow* old = myFocus;
    myFocus = window;
    sDispatch d(myDispatchDepth);
    if (old && !old->myDead && old->myClient) old->myClient->onWindowFocus(old, false);
    if (window && !window->myDead && window->myClient && myFocus == window)
        window->myClient->onWindowFocus(window, true);
}

void cHeadlessWindowMaker::activate(cPlatformWindow* window) {
    cHeadlessWindow* w = live(window);
    if (w && w->myKind != kWindowHint && !blocked(w)) setFocus(w);
}

cPlatformWindow* cHeadlessWindowMaker::focusedWindow() { return myFocus; }
cPlatformWindow* cHeadlessWindowMaker::grabWindow() { return myGrab; }

int cHeadlessWindowMaker::pointerShape(cPlatformWindow* window) {
    cHeadlessWindow* w = live(window);
    return w ? w->myPointer : -1;
}

bool cHeadlessWindowMaker::blocked(cHeadlessWindow* window) { return myWindows.blocked(window); }

cHeadlessWindow* cHeadlessWindowMaker::inputTarget(cPlatformWindow* window, int& x, int& y) {
    cHeadlessWindow* w = live(window);
    if (!w) return nullptr;
    if (myGrab && myGrab != w && !myGrab->myDead) {
        long long sx = (long long)w->myX + x - myGrab->myX, sy = (long long)w->myY + y - myGrab->myY;
        x = (int)(sx < -0x3FFFFFFF ? -0x3FFFFFFF : (sx > 0x3FFFFFFF ? 0x3FFFFFFF : sx));
        y = (int)(sy < -0x3FFFFFFF ? -0x3FFFFFFF : (sy > 0x3FFFFFFF ? 0x3FFFFFFF : sy));
        w = myGrab;
    }
    if (blocked(w) || w->myKind == kWindowHint) return nullptr;
    return w;
}

void cHeadlessWindowMaker::pointerAt(cHeadlessWindow* window) {
    if (myPointerOver == window) return;
    cHeadlessWindow* old = myPointerOver;
    myPointerOver = window;
    if (old && !old->myDead && old->myClient) old->myClient->onWindowMouseLeave(old);
}

void cHeadlessWindowMaker::blockedInput(cPlatformWindow* window) {
    cHeadlessWindow* w = live(window);
    if (!w || !blocked(w) || (myGrab && !myGrab->myDead)) return;
    if (cHeadlessWindow* m = myWindows.shownModal()) setFocus(m);
}

void cHeadlessWindowMaker::injectPress(cPlatformWindow* window, int x, int y, int button, unsigned int modifiers) {
    blockedInput(window);
    cHeadlessWindow* w = inputTarget(window, x, y);
    if (!w || !w->myClient) return;
    sDispatch d(myDispatchDepth);
    pointerAt(w);
    if (w->myKind != kWindowPopup && myFocus != w) setFocus(w);
    if (w->myDead) return;
    bool dbl = myClicks.press(w->myX + x, w->myY + y, button, myClock);
    w->myClient->onWindowMouseButton(w, x, y, button, true, modifiers);
    if (dbl && !w->myDead) w->myClient->onWindowMouseDoubleClick(w, x, y, button, modifiers);
}

void cHeadlessWindowMaker::injectRelease(cPlatformWindow* window, int x, int y, int button, unsigned int modifiers) {
    cHeadlessWindow* w = inputTarget(window, x, y);
    if (!w || !w->myClient) return;
    sDispatch d(myDispatchDepth);
    w->myClient->onWindowMouseButton(w, x, y, button, false, modifiers);
}

void cHeadlessWindowMaker::injectClick(cPlatformWindow* window, int x, int y, int button, unsigned int modifiers) {
    injectPress(window, x, y, button, modifiers);
    if (live(window)) injectRelease(window, x, y, button, modifiers);
}

void cHeadlessWindowMaker::injectMove(cPlatformWindow* window, int x, int y, unsigned int modifiers) {
    cHeadlessWindow* w = inputTarget(window, x, y);
    if (!w || !w->myClient) return;
    sDispatch d(myDispatchDepth);
    pointerAt(w);
    if (!w->myDead) w->myClient->onWindowMouseMove(w, x, y, modifiers);
}

void cHeadlessWindowMaker::injectWheel(cPlatformWindow* window, int x, int y, bool towardsStart, bool horizontal,
                                       int notches, unsigned int modifiers) {
    cHeadlessWindow* w = inputTarget(window, x, y);
    if (!w || !w->myClient || notches < 1) return;
    sDispatch d(myDispatchDepth);
    w->myClient->onWindowMouseWheel(w, x, y, towardsStart, horizontal, notches, modifiers);
}

// Keys go to the grabbing popup when there is one, else to the window given.
void cHeadlessWindowMaker::injectKeyDown(cPlatformWindow* window, int key, unsigned int modifiers) {
    blockedInput(window);
    int x = 0, y = 0;
    cHeadlessWindow* w = inputTarget(window, x, y);
    if (!w || !w->myClient) return;
    sDispatch d(myDispatchDepth);
    w->myClient->onWindowKey(w, key, true, modifiers);
}

void cHeadlessWindowMaker::injectKeyUp(cPlatformWindow* window, int key, unsigned int modifiers) {
    int x = 0, y = 0;
    cHeadlessWindow* w = inputTarget(window, x, y);
    if (!w || !w->myClient) return;
    sDispatch d(myDispatchDepth);
    w->myClient->onWindowKey(w, key, false, modifiers);
}

void cHeadlessWindowMaker::injectKey(cPlatformWindow* window, int key, unsigned int modifiers) {
    injectKeyDown(window, key, modifiers);
    if (live(window)) injectKeyUp(window, key, modifiers);
}

void cHeadlessWindowMaker::injectChar(cPlatformWindow* window, unsigned int codePoint) {
    int x = 0, y = 0;
    cHeadlessWindow* w = inputTarget(window, x, y);
    if (!w || !w->myClient) return;
    sDispatch d(myDispatchDepth);
    w->myClient->onWindowChar(w, codePoint);
}

void cHeadlessWindowMaker::injectText(cPlatformWindow* window, const char* text) {
    _typebuf<unsigned int> cps;
    _typebuf<long long> units;
    long long n;
    if (!text || !decodeUtf8(text, -1, cps, units, n)) return;
    for (long long i = 0; i < n && live(window); i++) injectChar(window, cps.ptr[i]);
}

void cHeadlessWindowMaker::injectClose(cPlatformWindow* window) {
    cHeadlessWindow* w = live(window);
    if (!w || !w->myClient) return;
    if (blocked(w)) {
        blockedInput(w);
        return;
    }
    sDispatch d(myDispatchDepth);
    w->myClient->onWindowClose(w);
}

void cHeadlessWindowMaker::injectResize(cPlatformWindow* window, int w, int h) {
    cHeadlessWindow* win = live(window);
    if (!win) return;
    sDispatch d(myDispatchDepth);
    // As a window manager does, the window's minimum size holds.
    win->move(win->myX, win->myY, w > win->myMinW ? w : win->myMinW, h > win->myMinH ? h : win->myMinH);
}

// --- the loop ---

bool cHeadlessWindowMaker::runWakeups() { return runWakeRequests(myWakes, myWindows, myDispatchDepth); }

bool cHeadlessWindowMaker::setTimer(cPlatformWindow* window, int id, int ms, bool repeat) {
    cHeadlessWindow* w = live(window);
    return w && ms >= 1 && myTimers.set(w, id, ms, repeat, myClock);
}

void cHeadlessWindowMaker::killTimer(cPlatformWindow* window, int id) { myTimers.kill(window, id); }

bool cHeadlessWindowMaker::runTimers() { return fireDueTimers(myTimers, myClock, myDispatchDepth); }

int cHeadlessWindowMaker::pump() {
    int done = 0;
    if (runWakeups()) done++;
    if (runTimers()) done++;
    done += paintLiveWindows(myWindows, myDispatchDepth);
    freeDead();
    return done;
}

int cHeadlessWindowMaker::pumpAll(int maxRounds) {
    int rounds = 0;
    while (rounds < maxRounds && pump() > 0) rounds++;
    return rounds;
}

int cHeadlessWindowMaker::loopTurn(sLoopRun& run) {
    bool woke = myWakes.pending();
    int done = pump();
    if (done > 0 && woke) run.idleMs = 0;
    return done;
}

void cHeadlessWindowMaker::loopWait(sLoopRun& run) {
    if (myIdleTimeout >= 0 && run.idleMs >= myIdleTimeout) {
        run.end(-1);
        return;
    }
    long long waitMs = loopWaitMs(200, myTimers.nextDue(), myClock);
    if (myIdleTimeout >= 0 && myIdleTimeout - run.idleMs < waitMs) waitMs = myIdleTimeout - run.idleMs;
    long long t0 = monotonicMs();
    bool signalled = myWakes.channel().wait((int)waitMs);
    long long spent = monotonicMs() - t0;
    myClock += spent;
    if (!signalled) run.idleMs += spent > 0 ? spent : 1;
}

int cHeadlessWindowMaker::modal(cPlatformWindow* window) {
    cHeadlessWindow* w = live(window);
    if (!w) return -1;
    sDispatch d(myDispatchDepth);  // keeps w allocated until the run returns
    w->myModal = true;
    w->myEnded = false;
    w->myCode = -1;
    if (!myWindows.pushModal(w)) {
        w->myModal = false;
        return -1;
    }
    myModalDepth++;
    // A window made hidden stays so (a carrier that only stands under its dialogs).
    if (!w->myMadeHidden) w->show(true);
    if (w->myVisible) setFocus(w);
    pump();
    if (!w->myEnded) {
        if (myAnswerCount > 0) {
            int code = myAnswers.ptr[0];
            removeFrom(myAnswers, myAnswerCount, 0);
            w->endModal(code);
        } else if (myScript) {
            myScript->onModal(this, w, myModalDepth);
        }
    }
    int code = runLoop(w->myEnded, w->myCode);
    w->myModal = false;
    myModalDepth--;
    myWindows.popModal(w);
    return code;
}

void cHeadlessWindowMaker::pushModalAnswer(int code) { appendTo(myAnswers, myAnswerCount, code); }

// --- inspection ---

void cHeadlessWindowMaker::setDesktopSize(int w, int h) {
    if (w > 0 && h > 0) myDesktopW = w, myDesktopH = h;
}

bool cHeadlessWindowMaker::desktopSize(sSize& size) {
    size.cx = myDesktopW;
    size.cy = myDesktopH;
    return true;
}

bool cHeadlessWindowMaker::recommendedMainWindowSize(sSize& size) {
    size.cx = myDesktopW < 800 ? myDesktopW : 800;
    size.cy = myDesktopH < 600 ? myDesktopH : 600;
    return true;
}

int cHeadlessWindowMaker::windowCount() { return (int)myWindows.count(); }

cPlatformWindow* cHeadlessWindowMaker::windowAt(int index) {
    return index >= 0 && index < myWindows.count() ? myWindows.at(index) : nullptr;
}

cPlatformWindow* cHeadlessWindowMaker::lastWindow(int kind) {
    for (long long i = myWindows.count() - 1; i >= 0; i--)
        if (kind < 0 || myWindows.at(i)->myKind == kind) return myWindows.at(i);
    return nullptr;
}

cPlatformWindow* cHeadlessWindowMaker::findWindow(const char* caption) {
    if (!caption) return nullptr;
    for (long long i = myWindows.count() - 1; i >= 0; i--)
        if (strcmp(myWindows.at(i)->caption(), caption) == 0) return myWindows.at(i);
    return nullptr;
}

// --- clipboard ---

bool cHeadlessWindowMaker::clipboardCopyText(const char* text, long long bytes) {
    if (!text) return false;
    const long long n = clipboardTextLength(text, bytes);
    if (!myClipboard.set(text, n)) return false;
    myHaveClipboard = true;
    return true;
}

bool cHeadlessWindowMaker::clipboardRequestText(_guardchar<char>& out) {
    if (!myHaveClipboard || !myClipboard.ptr) return false;
    return out.set(myClipboard.ptr);
}

// --- snapshots ---

// Appends one chunk: length, type, data, CRC-32 of type and data.
static bool putChunk(_typebuf<unsigned char>& out, long long& n, const char* type, const unsigned char* data,
                     long long size) {
    if (size < 0 || size > 0x7FFFFFFF) return false;
    if (!out.reset(n + 12 + size)) return false;
    unsigned char* p = out.ptr + n;
    putBe32(p, (unsigned int)size);
    memcpy(p + 4, type, 4);
    if (size) memcpy(p + 8, data, (size_t)size);
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, p + 4, 4);
    // zlib's crc32 takes a 32-bit length; feed big data in pieces.
    for (long long off = 0; off < size;) {
        long long piece = size - off > (1 << 30) ? (1 << 30) : size - off;
        crc = crc32(crc, data + off, (uInt)piece);
        off += piece;
    }
    putBe32(p + 8 + size, (unsigned int)crc);
    n += 12 + size;
    return true;
}

bool cHeadlessWindowMaker::encodePNG(const unsigned int* pixels, int w, int h, bool alpha,
                                     _typebuf<unsigned char>& out) {
    out.clear();
    if (!pixels || w < 1 || h < 1 || (long long)w * h > (1LL << 28)) return false;
    int bpp = alpha ? 4 : 3;
    long long stride = (long long)w * bpp + 1;
    _typebuf<unsigned char> raw;
    if (!raw.set(stride * h)) return false;
    for (long long y = 0; y < h; y++) {
        unsigned char* r = raw.ptr + y * stride;
        r[0] = 0;  // filter: none
        const unsigned int* s = pixels + y * w;
        for (long long x = 0; x < w; x++) {
            unsigned int p = s[x];
            unsigned char* d = r + 1 + x * bpp;
            d[0] = (unsigned char)(p >> 16);
            d[1] = (unsigned char)(p >> 8);
            d[2] = (unsigned char)p;
            if (alpha) d[3] = (unsigned char)(p >> 24);
        }
    }
    _typebuf<unsigned char> z;
    if (!cZDeflate::compress(raw.ptr, raw.count, z, 6)) return false;
    static const unsigned char sig[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    long long n = 8;
    if (!out.set(8)) return false;
    memcpy(out.ptr, sig, 8);
    unsigned char ihdr[13];
    putBe32(ihdr, (unsigned int)w);
    putBe32(ihdr + 4, (unsigned int)h);
    ihdr[8] = 8;                 // bit depth
    ihdr[9] = alpha ? 6 : 2;     // RGBA or RGB
    ihdr[10] = ihdr[11] = ihdr[12] = 0;  // deflate, adaptive filtering, no interlace
    bool ok = putChunk(out, n, "IHDR", ihdr, 13) && putChunk(out, n, "IDAT", z.ptr, z.count) &&
              putChunk(out, n, "IEND", nullptr, 0);
    if (!ok) out.clear();
    return ok;
}

bool cHeadlessWindowMaker::snapshotPNG(cPlatformWindow* window, _typebuf<unsigned char>& out) {
    cHeadlessWindow* w = live(window);
    out.clear();
    if (!w) return false;
    w->update();
    return encodePNG(w->myCanvas.pixels(), w->width(), w->height(), false, out);
}

bool cHeadlessWindowMaker::snapshotPNG(cPlatformWindow* window, const char* path) {
    _typebuf<unsigned char> png;
    if (!path || !snapshotPNG(window, png)) return false;
    // Written beside the target, then renamed into place.
    _guardchar<char> tmp;
    if (!concatText(path, ".tmp~", tmp)) return false;
    int r = replaceFile(path, tmp, 0644, [&](int fd) { return writeAll(fd, png.ptr, png.count); });
    return r == eReplaceDone || r == eReplaceNotFlushed;
}

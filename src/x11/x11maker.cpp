// The X11 window maker: the connection, windows of each kind, the event loop and input.
// Xlib is called on the UI thread only; other threads reach the loop through wake(),
// which touches nothing but a lock and an eventfd.
#include "x11/x11maker.h"

#include <X11/Xatom.h>
#include <X11/cursorfont.h>
#include <X11/extensions/scrnsaver.h>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <unistd.h>

#include "x11/x11window.h"

namespace {

// Errors of requests on windows that went away meanwhile (or a refused MIT-SHM attach)
// are expected: they are noted, never fatal.
int gLastXError = 0;
int onXError(Display*, XErrorEvent* e) {
    gLastXError = e->error_code ? e->error_code : 1;
    return 0;
}

// The pointer shapes of the toolkit (0-9) from the cursor font.
const unsigned int kCursorShapes[10] = {XC_left_ptr,         XC_xterm,           XC_crosshair, XC_hand2,
                                        XC_sb_h_double_arrow, XC_sb_v_double_arrow, XC_sb_h_double_arrow,
                                        XC_sb_v_double_arrow, XC_fleur,           XC_fleur};

}  // namespace

// ---------------------------------------------------------------- the connection

cX11WindowMaker::cX11WindowMaker() {}

cWindowMaker* cX11WindowMaker::displayFactory(const unsigned char* iconData, unsigned int iconSize, int iconDim) {
    return open(nullptr, iconData, iconSize, iconDim);
}

cX11WindowMaker* cX11WindowMaker::open(const char* display, const unsigned char* iconData, unsigned int iconSize,
                                       int iconDim) {
    cX11WindowMaker* m = new cX11WindowMaker();
    if (!m->connect(display, iconData, iconSize, iconDim)) {
        delete m;
        return nullptr;
    }
    return m;
}

bool cX11WindowMaker::connect(const char* display, const unsigned char* iconData, unsigned int iconSize,
                              int iconDim) {
    // Typed text comes through an input method only in a locale it supports.
    const char* ctype = setlocale(LC_CTYPE, nullptr);
    if (!ctype || strcmp(ctype, "C") == 0 || strcmp(ctype, "POSIX") == 0)
        if (!setlocale(LC_CTYPE, "")) setlocale(LC_CTYPE, "C.UTF-8");
    Display* dpy = XOpenDisplay(display);
    if (!dpy) return false;
    XSetErrorHandler(onXError);
    myX = new sX11Display();
    sX11Display& x = *myX;
    x.dpy = dpy;
    x.screen = DefaultScreen(dpy);
    x.root = RootWindow(dpy, x.screen);
    x.visual = DefaultVisual(dpy, x.screen);
    x.depth = DefaultDepth(dpy, x.screen);
    x.colormap = DefaultColormap(dpy, x.screen);
    // The canvas's 0xAARRGGBB words go out unchanged when the visual has the same layout.
    int count = 0;
    XPixmapFormatValues* formats = XListPixmapFormats(dpy, &count);
    int bpp = 0;
    for (int i = 0; formats && i < count; i++)
        if (formats[i].depth == x.depth) bpp = formats[i].bits_per_pixel;
    if (formats) XFree(formats);
    x.directPixels = (x.depth == 24 || x.depth == 32) && bpp == 32 && x.visual->red_mask == 0xFF0000 &&
                     x.visual->green_mask == 0xFF00 && x.visual->blue_mask == 0xFF;
    int major, minor;
    Bool pixmaps;
    x.shm = XShmQueryVersion(dpy, &major, &minor, &pixmaps) && getenv("QMX_X11_NOSHM") == nullptr;
    if (x.shm) x.shmCompletion = XShmGetEventBase(dpy) + ShmCompletion;
    int evBase, errBase;
    x.screenSaverExt = XScreenSaverQueryExtension(dpy, &evBase, &errBase) != 0;

    struct {
        Atom* atom;
        const char* name;
    } atoms[] = {{&x.aProtocols, "WM_PROTOCOLS"},
                 {&x.aDelete, "WM_DELETE_WINDOW"},
                 {&x.aNetName, "_NET_WM_NAME"},
                 {&x.aUtf8, "UTF8_STRING"},
                 {&x.aText, "TEXT"},
                 {&x.aTargets, "TARGETS"},
                 {&x.aClipboard, "CLIPBOARD"},
                 {&x.aPasteProp, "QMX_PASTE"},
                 {&x.aTransient, "WM_TRANSIENT_FOR"},
                 {&x.aNetState, "_NET_WM_STATE"},
                 {&x.aNetModal, "_NET_WM_STATE_MODAL"},
                 {&x.aNetType, "_NET_WM_WINDOW_TYPE"},
                 {&x.aTypeDialog, "_NET_WM_WINDOW_TYPE_DIALOG"},
                 {&x.aTypeNormal, "_NET_WM_WINDOW_TYPE_NORMAL"},
                 {&x.aTypePopup, "_NET_WM_WINDOW_TYPE_POPUP_MENU"},
                 {&x.aTypeTooltip, "_NET_WM_WINDOW_TYPE_TOOLTIP"},
                 {&x.aNetWorkArea, "_NET_WORKAREA"},
                 {&x.aNetIcon, "_NET_WM_ICON"},
                 {&x.aNetPid, "_NET_WM_PID"},
                 {&x.aNetActive, "_NET_ACTIVE_WINDOW"},
                 {&x.aNetSupportingWm, "_NET_SUPPORTING_WM_CHECK"},
                 {&x.aIncr, "INCR"},
                 {&x.aAtom, "ATOM"},
                 {&x.aString, "STRING"},
                 {&x.aSkipTaskbar, "_NET_WM_STATE_SKIP_TASKBAR"}};
    for (auto& a : atoms) *a.atom = XInternAtom(dpy, a.name, False);

    XSetWindowAttributes wa = {};
    wa.event_mask = PropertyChangeMask;
    x.utility = XCreateWindow(dpy, x.root, -10, -10, 1, 1, 0, CopyFromParent, InputOnly, CopyFromParent,
                              CWEventMask, &wa);
    if (XSupportsLocale()) {
        XSetLocaleModifiers("");
        x.im = XOpenIM(dpy, nullptr, nullptr, nullptr);
        if (!x.im) {
            XSetLocaleModifiers("@im=none");
            x.im = XOpenIM(dpy, nullptr, nullptr, nullptr);
        }
    }
    for (int i = 0; i < 10; i++) x.cursors[i] = XCreateFontCursor(dpy, kCursorShapes[i]);

    // The application icon: raw 0xAARRGGBB pixels of iconDim x iconDim.
    if (iconData && iconDim > 0 && iconDim <= 1024 && iconSize == (unsigned int)iconDim * iconDim * 4) {
        long long n = (long long)iconDim * iconDim;
        if (x.icon.set(n + 2)) {
            x.icon.ptr[0] = (unsigned long)iconDim;
            x.icon.ptr[1] = (unsigned long)iconDim;
            const unsigned char* p = iconData;
            for (long long i = 0; i < n; i++, p += 4) {
                unsigned int v;
                memcpy(&v, p, 4);
                x.icon.ptr[2 + i] = v;
            }
            x.iconCount = n + 2;
        }
    }
    return true;
}

cX11WindowMaker::~cX11WindowMaker() {
    if (!myX) return;
    blockDisplaySleep(false);
    while (myWindows.count() > 0) destroy(myWindows.at(myWindows.count() - 1));
    myDispatchDepth = 0;
    freeDead();
    sX11Display& x = *myX;
    for (int i = 0; i < 10; i++)
        if (x.cursors[i]) XFreeCursor(x.dpy, x.cursors[i]);
    if (x.im) XCloseIM(x.im);
    if (x.utility) XDestroyWindow(x.dpy, x.utility);
    XCloseDisplay(x.dpy);
    delete myX;
    myX = nullptr;
}

bool cX11WindowMaker::sharedMemory() const { return myX && myX->shm; }

long long cX11WindowMaker::clockMs() { return monotonicMs(); }

unsigned long cX11WindowMaker::lastTime() { return myX->lastTime; }

// ---------------------------------------------------------------- windows

cWindowMaker* cX11Window::maker() { return myMaker; }

cX11Window* cX11WindowMaker::live(cPlatformWindow* window) { return myWindows.live(window); }

bool cX11WindowMaker::alive(cPlatformWindow* window) { return live(window) != nullptr; }

bool cX11WindowMaker::shown(cPlatformWindow* window) {
    cX11Window* w = live(window);
    return w && w->myMapped && w->myPainted && !w->myDirty;
}

cPlatformWindow* cX11WindowMaker::focusedWindow() { return myFocus; }

unsigned long cX11WindowMaker::xid(cPlatformWindow* window) {
    cX11Window* w = live(window);
    return w ? w->myXid : 0;
}

cX11Window* cX11WindowMaker::byXid(unsigned long xid) {
    for (long long i = 0; i < myWindows.count(); i++)
        if (myWindows.at(i)->myXid == xid) return myWindows.at(i);
    return nullptr;
}

cX11Window* cX11WindowMaker::addWindow(cWindowClient* client, int kind, const char* caption, int x, int y, int w,
                                       int h, cPlatformWindow* owner, unsigned int flags) {
    sX11Display& X = *myX;
    cX11Window* win = new cX11Window();
    if (!win->myCanvas.create(w, h)) {
        delete win;
        return nullptr;
    }
    win->myMaker = this;
    win->myClient = client;
    win->myKind = kind;
    win->myOwner = live(owner);
    win->myCaption.set(caption ? caption : "");
    win->myX = x;
    win->myY = y;
    win->myFlags = flags;
    win->myDirtyArea = {0, 0, w, h};
    win->mySeq = ++mySequence;

    bool bare = kind == kWindowPopup || kind == kWindowHint;
    XSetWindowAttributes wa = {};
    wa.background_pixmap = None;
    wa.border_pixel = 0;
    wa.colormap = X.colormap;
    wa.override_redirect = bare ? True : False;
    wa.save_under = bare ? True : False;
    wa.event_mask = ExposureMask | StructureNotifyMask | FocusChangeMask | PointerMotionMask | LeaveWindowMask |
                    EnterWindowMask | ButtonPressMask | ButtonReleaseMask | KeyPressMask | KeyReleaseMask;
    if (kind == kWindowHint) wa.event_mask = ExposureMask | StructureNotifyMask;
    win->myXid = XCreateWindow(X.dpy, X.root, x, y, (unsigned)w, (unsigned)h, 0, X.depth, InputOutput, X.visual,
                               CWBackPixmap | CWBorderPixel | CWColormap | CWOverrideRedirect | CWSaveUnder |
                                   CWEventMask,
                               &wa);
    if (!win->myXid) {
        delete win;
        return nullptr;
    }
    win->myGc = XCreateGC(X.dpy, win->myXid, 0, nullptr);
    if (X.im && kind != kWindowHint)
        win->myIc = XCreateIC(X.im, XNInputStyle, XIMPreeditNothing | XIMStatusNothing, XNClientWindow, win->myXid,
                              XNFocusWindow, win->myXid, nullptr);

    // What the window manager needs: protocols, size hints, kind, owner, name, icon.
    XWMHints hints = {};
    hints.flags = InputHint;
    hints.input = kind == kWindowHint ? False : True;
    XSetWMHints(X.dpy, win->myXid, &hints);
    XSizeHints size = {};
    size.flags = PPosition | USPosition;
    size.x = x;
    size.y = y;
    if (!(flags & kWFResizable)) {
        size.flags |= PMinSize | PMaxSize;
        size.min_width = size.max_width = w;
        size.min_height = size.max_height = h;
    }
    XSetWMNormalHints(X.dpy, win->myXid, &size);
    XClassHint cls = {(char*)"softmgr", (char*)"Softmgr"};
    XSetClassHint(X.dpy, win->myXid, &cls);
    Atom protocols[1] = {X.aDelete};
    XSetWMProtocols(X.dpy, win->myXid, protocols, 1);
    long pid = (long)getpid();
    XChangeProperty(X.dpy, win->myXid, X.aNetPid, XA_CARDINAL, 32, PropModeReplace, (unsigned char*)&pid, 1);
    Atom type = kind == kWindowPopup ? X.aTypePopup
                : kind == kWindowHint ? X.aTypeTooltip
                : win->myOwner        ? X.aTypeDialog
                                      : X.aTypeNormal;
    XChangeProperty(X.dpy, win->myXid, X.aNetType, XA_ATOM, 32, PropModeReplace, (unsigned char*)&type, 1);
    if (win->myOwner) {
        Window t = win->myOwner->myXid;
        XSetTransientForHint(X.dpy, win->myXid, t);
        if (kind == kWindowModal) {
            Atom st[2] = {X.aNetModal, X.aSkipTaskbar};
            XChangeProperty(X.dpy, win->myXid, X.aNetState, XA_ATOM, 32, PropModeReplace, (unsigned char*)st, 2);
        }
    }
    if (X.iconCount > 0 && !bare)
        XChangeProperty(X.dpy, win->myXid, X.aNetIcon, XA_CARDINAL, 32, PropModeReplace,
                        (unsigned char*)X.icon.ptr, (int)X.iconCount);
    win->setCaption(caption);
    XDefineCursor(X.dpy, win->myXid, X.cursors[0]);

    if (!win->makeImage() || !myWindows.add(win)) {
        win->freeImage();
        if (win->myIc) XDestroyIC(win->myIc);
        XFreeGC(X.dpy, win->myGc);
        XDestroyWindow(X.dpy, win->myXid);
        delete win;
        return nullptr;
    }
    if (!(flags & kWFHidden)) win->show(true);
    return win;
}

cPlatformWindow* cX11WindowMaker::createWindow(cWindowClient* client, const char* caption, int w, int h,
                                               cPlatformWindow* owner, unsigned int flags) {
    if (w < 1 || h < 1) return nullptr;
    cX11Window* o = live(owner);
    sSize desk;
    desktopSize(desk);
    long long cx = desk.cx / 2, cy = desk.cy / 2;
    if (o) {
        sPoint at;
        o->screenPos(at);
        cx = (long long)at.x + o->width() / 2;
        cy = (long long)at.y + o->height() / 2;
    }
    long long x = cx - w / 2, y = cy - h / 2;
    // Over an owner near an edge, a window that fits the desktop stays on it.
    if (x + w > desk.cx) x = desk.cx - w;
    if (y + h > desk.cy) y = desk.cy - h;
    if (x < 0) x = 0;
    if (y < 0) y = 0;
    return addWindow(client, o ? kWindowModal : kWindowTop, caption, (int)x, (int)y, w, h, o, flags);
}

cPlatformWindow* cX11WindowMaker::createPopup(cWindowClient* client, int x, int y, int w, int h,
                                              cPlatformWindow* owner, bool grab) {
    if (w < 1 || h < 1) return nullptr;
    cX11Window* win = addWindow(client, kWindowPopup, "", x, y, w, h, owner, kWFHidden);
    if (!win) return nullptr;
    win->myWantGrab = grab;
    win->show(true);
    return win;
}

cPlatformWindow* cX11WindowMaker::createHint(cWindowClient* client, int x, int y, int w, int h,
                                             cPlatformWindow* owner) {
    if (w < 1 || h < 1) return nullptr;
    return addWindow(client, kWindowHint, "", x, y, w, h, owner, 0);
}

void cX11WindowMaker::destroy(cPlatformWindow* window) {
    cX11Window* w = live(window);
    if (!w) return;
    sX11Display& X = *myX;
    myWindows.unlist(w);
    w->myDead = true;
    w->ungrab();
    if (myFocus == w) myFocus = nullptr;
    if (myPointerOver == w) myPointerOver = nullptr;
    myTimers.forget(w);
    myWakes.forget(w);
    // Windows it owns go first (dialogs and popups of a closing window).
    for (long long i = myWindows.count() - 1; i >= 0; i--)
        if (i < myWindows.count() && myWindows.at(i)->myOwner == w) destroy(myWindows.at(i));
    myWindows.disown(w);
    if (w->myEnded == false && w->myModal) {
        w->myEnded = true;
        w->myCode = -1;
    }
    cWindowClient* client = w->myClient;
    w->myClient = nullptr;
    if (client) {
        sDispatch d(myDispatchDepth);
        client->onWindowDestroyed(w);
    }
    w->freeImage();
    if (w->myIc) XDestroyIC(w->myIc);
    w->myIc = nullptr;
    XFreeGC(X.dpy, w->myGc);
    XDestroyWindow(X.dpy, w->myXid);
    XFlush(X.dpy);
    w->myXid = 0;
    myWindows.bury(w);
    myWakes.channel().signal();
    if (myDispatchDepth == 0) freeDead();
}

void cX11WindowMaker::freeDead() {
    if (myDispatchDepth == 0) myWindows.freeDead();
}

bool cX11WindowMaker::blocked(cX11Window* window) { return myWindows.blocked(window); }

// --- cX11Window ---

void cX11Window::screenPos(sPoint& at) {
    if (!myDead && myKind != kWindowPopup && myKind != kWindowHint) {
        // Top-level windows move with the window manager; ask the server.
        Window child;
        int x, y;
        if (XTranslateCoordinates(myMaker->myX->dpy, myXid, myMaker->myX->root, 0, 0, &x, &y, &child)) {
            myX = x;
            myY = y;
        }
    }
    at.x = myX;
    at.y = myY;
}

void cX11Window::setCaption(const char* caption) {
    myCaption.set(caption ? caption : "");
    if (!myXid) return;
    sX11Display& X = *myMaker->myX;
    const char* c = caption ? caption : "";
    XChangeProperty(X.dpy, myXid, X.aNetName, X.aUtf8, 8, PropModeReplace, (const unsigned char*)c, (int)strlen(c));
    XTextProperty tp;
    char* list[1] = {(char*)c};
    if (Xutf8TextListToTextProperty(X.dpy, list, 1, XStdICCTextStyle, &tp) >= Success) {
        XSetWMName(X.dpy, myXid, &tp);
        XFree(tp.value);
    }
}

void cX11Window::setMinSize(int w, int h) {
    if (myDead || !(myFlags & kWFResizable)) return;  // fixed windows keep min = max
    XSizeHints size = {};  // replaces the hints: keep the position asked for at creation
    size.flags = PMinSize | PPosition | USPosition;
    size.x = myX;
    size.y = myY;
    size.min_width = w > 0 ? w : 1;
    size.min_height = h > 0 ? h : 1;
    XSetWMNormalHints(myMaker->myX->dpy, myXid, &size);
}

void cX11Window::move(int x, int y, int w, int h) {
    if (myDead) return;
    sX11Display& X = *myMaker->myX;
    myX = x;
    myY = y;
    bool resize = w > 0 && h > 0 && (w != width() || h != height());
    if (resize) {
        if (!(myFlags & kWFResizable)) {
            XSizeHints size = {};
            size.flags = PMinSize | PMaxSize;
            size.min_width = size.max_width = w;
            size.min_height = size.max_height = h;
            XSetWMNormalHints(X.dpy, myXid, &size);
        }
        XMoveResizeWindow(X.dpy, myXid, x, y, (unsigned)w, (unsigned)h);
        if (!resizeCanvas(w, h)) return;
        if (myClient) myClient->onWindowResize(this, w, h);
        invalidate(nullptr);
    } else {
        XMoveWindow(X.dpy, myXid, x, y);
    }
}

bool cX11Window::resizeCanvas(int w, int h) {
    if (w == width() && h == height()) return true;
    freeImage();
    if (!myCanvas.create(w, h)) return false;
    myPainted = false;
    return makeImage();
}

void cX11Window::show(bool visible) {
    if (myDead || visible == myVisible) return;
    sX11Display& X = *myMaker->myX;
    myVisible = visible;
    if (visible) {
        invalidate(nullptr);
        XMapRaised(X.dpy, myXid);
    } else {
        ungrab();
        // Withdrawn as the window manager's conventions ask (ICCCM 4.1.4): the unmap alone
        // does nothing while the manager has not yet handled the map request, which it then
        // maps for good; the synthetic UnmapNotify on the root tells it in either case.
        XUnmapWindow(X.dpy, myXid);
        XUnmapEvent un = {};
        un.type = UnmapNotify;
        un.event = X.root;
        un.window = myXid;
        un.from_configure = False;
        XSendEvent(X.dpy, X.root, False, SubstructureRedirectMask | SubstructureNotifyMask, (XEvent*)&un);
        myMapped = false;
    }
}

void cX11Window::raise() {
    if (myDead || !myVisible) return;
    sX11Display& X = *myMaker->myX;
    XRaiseWindow(X.dpy, myXid);
    // A window manager restacks and focuses on its own terms: asked as the application,
    // with the time of the user's input that called for it.
    XClientMessageEvent cm = {};
    cm.type = ClientMessage;
    cm.window = myXid;
    cm.message_type = X.aNetActive;
    cm.format = 32;
    cm.data.l[0] = 1;
    cm.data.l[1] = (long)X.lastTime;
    XSendEvent(X.dpy, X.root, False, SubstructureRedirectMask | SubstructureNotifyMask, (XEvent*)&cm);
    focus();
    XFlush(X.dpy);
}

void cX11Window::invalidate(const sRect* area) {
    addDirtyArea(myDirtyArea, myDirty, area, width(), height());
}

bool cX11Window::paint() {
    if (!myDirty || myDead || !myVisible || !myClient) return false;
    myDirty = false;
    sRect r = {myDirtyArea.left, myDirtyArea.top, myDirtyArea.right - myDirtyArea.left,
               myDirtyArea.bottom - myDirtyArea.top};
    myCanvas.resetClip();
    myCanvas.setTextMode(nullptr);
    myClient->onWindowPaint(this, &myCanvas, &r);
    myPainted = true;
    if (myMapped) present(r.x, r.y, r.w, r.h);
    return true;
}

void cX11Window::update() {
    myMaker->myDispatchDepth++;
    paint();
    myMaker->myDispatchDepth--;
    XFlush(myMaker->myX->dpy);
}

void cX11Window::setPointer(int kind) {
    if (kind < 0 || kind > 9) kind = 0;
    if (myDead || kind == myPointer) return;
    myPointer = kind;
    sX11Display& X = *myMaker->myX;
    XDefineCursor(X.dpy, myXid, X.cursors[kind]);
}

bool cX11Window::grab() {
    sX11Display& X = *myMaker->myX;
    // All pointer input is reported to this window, in its coordinates, wherever it happens.
    int r = XGrabPointer(X.dpy, myXid, False,
                         ButtonPressMask | ButtonReleaseMask | PointerMotionMask | EnterWindowMask | LeaveWindowMask,
                         GrabModeAsync, GrabModeAsync, None, None, CurrentTime);
    if (r != GrabSuccess) return false;
    if (myKind == kWindowPopup) XGrabKeyboard(X.dpy, myXid, False, GrabModeAsync, GrabModeAsync, CurrentTime);
    myGrabbed = true;
    myMaker->myGrab = this;
    return true;
}

void cX11Window::ungrab() {
    if (!myGrabbed) return;
    sX11Display& X = *myMaker->myX;
    XUngrabPointer(X.dpy, CurrentTime);
    if (myKind == kWindowPopup) XUngrabKeyboard(X.dpy, CurrentTime);
    XFlush(X.dpy);
    myGrabbed = false;
    if (myMaker->myGrab == this) myMaker->myGrab = nullptr;
}

void cX11Window::capturePointer(bool outside) {
    if (myDead) return;
    myCaptured = true;
    // Inside the window the press's own implicit grab already follows the pointer.
    if (outside && !myGrabbed && myMapped) grab();
}

void cX11Window::releasePointer() {
    myCaptured = false;
    // A grabbing popup keeps its grab until it goes.
    if (myKind != kWindowPopup || !myWantGrab) ungrab();
}

void cX11Window::focus() {
    if (myDead || myKind == kWindowHint || !myMapped) return;
    sX11Display& X = *myMaker->myX;
    XSetInputFocus(X.dpy, myXid, RevertToParent, CurrentTime);
}

bool cX11Window::focused() { return myMaker->myFocus == this; }

void cX11Window::endModal(int code) {
    if (!myModal || myEnded) return;
    myEnded = true;
    myCode = code;
    myMaker->myWakes.channel().signal();
}

// ---------------------------------------------------------------- the loop

bool cX11WindowMaker::runWakeups() { return runWakeRequests(myWakes, myWindows, myDispatchDepth); }

bool cX11WindowMaker::setTimer(cPlatformWindow* window, int id, int ms, bool repeat) {
    cX11Window* w = live(window);
    return w && ms >= 1 && myTimers.set(w, id, ms, repeat, monotonicMs());
}

void cX11WindowMaker::killTimer(cPlatformWindow* window, int id) { myTimers.kill(window, id); }

bool cX11WindowMaker::runTimers() { return fireDueTimers(myTimers, monotonicMs(), myDispatchDepth); }

int cX11WindowMaker::paintAll() { return paintLiveWindows(myWindows, myDispatchDepth); }

int cX11WindowMaker::pumpOnce() {
    int done = dispatchEvents();
    if (runWakeups()) done++;
    if (runTimers()) done++;
    done += paintAll();
    freeDead();
    XFlush(myX->dpy);
    return done;
}

void cX11WindowMaker::waitForEvents(int ms) {
    if (XPending(myX->dpy) > 0) return;
    struct pollfd p[2] = {{ConnectionNumber(myX->dpy), POLLIN, 0}, {myWakes.channel().fd(), POLLIN, 0}};
    poll(p, myWakes.channel().fd() >= 0 ? 2 : 1, ms);
}

int cX11WindowMaker::loopTurn(sLoopRun&) { return pumpOnce(); }

void cX11WindowMaker::loopWait(sLoopRun&) { waitForEvents((int)loopWaitMs(1000, myTimers.nextDue(), monotonicMs())); }

bool cX11WindowMaker::runUntil(bool (*until)(void*), void* arg, int ms) {
    long long end = monotonicMs() + ms;
    for (;;) {
        pumpOnce();
        if (until(arg)) return true;
        long long left = end - monotonicMs();
        if (left <= 0) return false;
        waitForEvents(left < 20 ? (int)left : 20);
    }
}

int cX11WindowMaker::modal(cPlatformWindow* window) {
    cX11Window* w = live(window);
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
    if (!(w->myFlags & kWFHidden)) w->show(true);
    int code = runLoop(w->myEnded, w->myCode);
    w->myModal = false;
    myModalDepth--;
    myWindows.popModal(w);
    // The owner takes the focus back.
    if (!w->myDead && w->myOwner && !w->myOwner->myDead) {
        w->show(false);
        w->myOwner->focus();
    }
    return code;
}

// ---------------------------------------------------------------- desktop

bool cX11WindowMaker::desktopSize(sSize& size) {
    sX11Display& X = *myX;
    size.cx = DisplayWidth(X.dpy, X.screen);
    size.cy = DisplayHeight(X.dpy, X.screen);
    // The work area (the desktop less panels) where the window manager gives one.
    Atom type;
    int format;
    unsigned long n, after;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(X.dpy, X.root, X.aNetWorkArea, 0, 4, False, XA_CARDINAL, &type, &format, &n, &after,
                           &data) == Success &&
        data) {
        if (type == XA_CARDINAL && format == 32 && n >= 4) {
            long* v = (long*)data;
            if (v[2] > 0 && v[3] > 0 && v[2] <= size.cx && v[3] <= size.cy) {
                size.cx = (int)v[2];
                size.cy = (int)v[3];
            }
        }
        XFree(data);
    }
    return true;
}

bool cX11WindowMaker::recommendedMainWindowSize(sSize& size) {
    sSize d;
    desktopSize(d);
    size.cx = d.cx < 800 ? d.cx : 800;
    size.cy = d.cy < 600 ? d.cy : 600;
    return true;
}

bool cX11WindowMaker::blockDisplaySleep(bool block) {
    if (!myX || !myX->screenSaverExt) return false;
    if (block == mySleepBlocked) return true;
    // Suspension nests in the server per client; one suspend is undone by one resume.
    XScreenSaverSuspend(myX->dpy, block ? True : False);
    XFlush(myX->dpy);
    mySleepBlocked = block;
    return true;
}

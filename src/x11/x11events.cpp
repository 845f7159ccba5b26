// The X11 maker's event dispatch: windows' events to their clients, keys (keysyms to the
// toolkit's codes, text through the input method), pointer buttons, the wheel, double
// clicks, the close button; input to windows behind a modal run is dropped.
#include <X11/keysym.h>
#include <unistd.h>

#include "ciplatform/textcodec.h"
#include "x11/x11keys.h"
#include "x11/x11window.h"

int cX11WindowMaker::dispatchEvents() {
    int n = 0;
    Display* dpy = myX->dpy;
    // Bounded per turn so that wake-ups and repaints are not starved by a flood.
    while (n < 4096 && XPending(dpy) > 0) {
        XEvent ev;
        XNextEvent(dpy, &ev);
        n++;
        if (XFilterEvent(&ev, None)) continue;
        // Only the last of a run of motions matters.
        if (ev.type == MotionNotify)
            while (XCheckTypedWindowEvent(dpy, ev.xmotion.window, MotionNotify, &ev)) {
            }
        sDispatch d(myDispatchDepth);
        dispatch(&ev);
    }
    return n;
}

void cX11WindowMaker::setFocusWindow(cX11Window* w) {
    if (w == myFocus) return;
    cX11Window* old = myFocus;
    myFocus = w;
    if (old && !old->myDead && old->myClient) old->myClient->onWindowFocus(old, false);
    if (w && !w->myDead && w->myClient && myFocus == w) w->myClient->onWindowFocus(w, true);
}

void cX11WindowMaker::dispatch(void* event) {
    XEvent& ev = *(XEvent*)event;
    sX11Display& X = *myX;
    switch (ev.type) {
        case KeyPress:
        case KeyRelease:
            X.lastTime = ev.xkey.time;
            break;
        case ButtonPress:
        case ButtonRelease:
            X.lastTime = ev.xbutton.time;
            break;
        case MotionNotify:
            X.lastTime = ev.xmotion.time;
            break;
        case PropertyNotify:
            X.lastTime = ev.xproperty.time;
            break;
        default:
            break;
    }
    if (ev.type == SelectionRequest) {
        selectionRequest(event);
        return;
    }
    if (ev.type == SelectionClear) {
        if (ev.xselectionclear.selection == X.aClipboard && ev.xselectionclear.window == X.utility) {
            myOwnClipboard = false;
            myClipboard.clear();
        }
        return;
    }
    if (X.shm && ev.type == X.shmCompletion) {
        XShmCompletionEvent& c = *(XShmCompletionEvent*)event;
        if (cX11Window* w = byXid(c.drawable)) w->myPresent.pending = false;
        return;
    }
    cX11Window* w = byXid(ev.xany.window);
    if (!w || w->myDead) return;
    switch (ev.type) {
        case Expose: {
            // The canvas still holds what was painted: send it again, no repaint.
            sRect r = {ev.xexpose.x, ev.xexpose.y, ev.xexpose.width, ev.xexpose.height};
            if (w->myPainted)
                w->present(r.x, r.y, r.w, r.h);
            else
                w->invalidate(&r);
            break;
        }
        case MapNotify:
            w->myMapped = true;
            if (w->myPainted) w->present(0, 0, w->width(), w->height());
            if (w->myWantGrab && !w->myGrabbed) {
                // Another client may hold a grab for a moment (a press being released).
                for (int i = 0; i < 50 && !w->grab(); i++) usleep(2000);
            }
            if (w->myKind == kWindowTop || w->myKind == kWindowModal) w->focus();
            break;
        case UnmapNotify:
            w->myMapped = false;
            break;
        case ConfigureNotify:
            if (ev.xconfigure.width != w->width() || ev.xconfigure.height != w->height()) {
                if (w->resizeCanvas(ev.xconfigure.width, ev.xconfigure.height)) {
                    if (w->myClient) w->myClient->onWindowResize(w, w->width(), w->height());
                    w->invalidate(nullptr);
                }
            }
            if (!ev.xconfigure.send_event && (w->myKind == kWindowPopup || w->myKind == kWindowHint)) {
                w->myX = ev.xconfigure.x;
                w->myY = ev.xconfigure.y;
            }
            break;
        case FocusIn:
            if (ev.xfocus.mode == NotifyGrab || ev.xfocus.mode == NotifyUngrab) break;
            if (w->myIc) XSetICFocus(w->myIc);
            if (w->myKind != kWindowPopup && w->myKind != kWindowHint) setFocusWindow(w);
            break;
        case FocusOut:
            if (ev.xfocus.mode == NotifyGrab || ev.xfocus.mode == NotifyUngrab) break;
            if (w->myIc) XUnsetICFocus(w->myIc);
            if (myFocus == w) setFocusWindow(nullptr);
            break;
        case KeyPress:
        case KeyRelease:
            keyEvent(w, event);
            break;
        case ButtonPress:
        case ButtonRelease:
            buttonEvent(w, event);
            break;
        case MotionNotify:
            if (blocked(w) || !w->myClient) break;
            myPointerOver = w;
            w->myClient->onWindowMouseMove(w, ev.xmotion.x, ev.xmotion.y, x11Modifiers(ev.xmotion.state));
            break;
        case LeaveNotify:
            if (ev.xcrossing.mode != NotifyNormal || blocked(w) || !w->myClient) break;
            if (myPointerOver == w) myPointerOver = nullptr;
            w->myClient->onWindowMouseLeave(w);
            break;
        case ClientMessage:
            clientMessage(w, event);
            break;
        default:
            break;
    }
}

void cX11WindowMaker::keyEvent(cX11Window* w, void* event) {
    XKeyEvent& k = *(XKeyEvent*)event;
    if (!w->myClient || w->myKind == kWindowHint) return;
    // Keys go to the grabbing popup while there is one.
    if (myGrab && myGrab != w && !myGrab->myDead) w = myGrab;
    bool pressed = k.type == KeyPress;
    if (blocked(w)) {
        if (pressed) blockedInput();
        return;
    }
    unsigned int mods = x11Modifiers(k.state);
    // The key code from the unshifted level; a non-Latin layout falls back to any level
    // that names a Latin key, so Ctrl+C works in every layout.
    KeySym sym = XLookupKeysym(&k, 0);
    int code = x11KeyCode(sym);
    for (int i = 1; code == 0 && i < 4; i++) {
        KeySym s = XLookupKeysym(&k, i);
        if (s >= XK_a && s <= XK_z) code = x11KeyCode(s);
    }
    // Autorepeat comes as release+press pairs with one time stamp; only presses repeat.
    if (!pressed && XEventsQueued(myX->dpy, QueuedAfterReading) > 0) {
        XEvent next;
        XPeekEvent(myX->dpy, &next);
        if (next.type == KeyPress && next.xkey.time == k.time && next.xkey.keycode == k.keycode) return;
    }
    if (code) w->myClient->onWindowKey(w, code, pressed, mods);
    if (!pressed || !live(w) || w->myDead || !w->myClient) return;

    char buf[64];
    KeySym textSym = 0;
    int n = 0;
    unsigned int single = 0;
    if (w->myIc) {
        Status st = 0;
        n = Xutf8LookupString(w->myIc, &k, buf, (int)sizeof(buf) - 1, &textSym, &st);
        if (st == XBufferOverflow) {
            // Long compositions (an input method's commit) get a buffer of their size.
            _guardchar<char> big;
            if (n > 0 && n < 65536 && big.set((long long)n + 1)) {
                n = Xutf8LookupString(w->myIc, &k, big.ptr, n, &textSym, &st);
                _typebuf<unsigned int> cps;
                _typebuf<long long> units;
                long long count = 0;
                if ((st == XLookupChars || st == XLookupBoth) && decodeUtf8(big.ptr, n, cps, units, count))
                    for (long long i = 0; i < count && live(w) && w->myClient; i++)
                        w->myClient->onWindowChar(w, cps.ptr[i]);
            }
            return;
        }
        if (st != XLookupChars && st != XLookupBoth) n = 0;
    } else {
        n = XLookupString(&k, buf, (int)sizeof(buf) - 1, &textSym, nullptr);
        single = x11KeysymChar(textSym);
        n = 0;
    }
    // Ctrl and Alt combinations are shortcuts, not text.
    if (mods & (kModCtrl | kModAlt)) return;
    if (n > 0) {
        _typebuf<unsigned int> cps;
        _typebuf<long long> units;
        long long count = 0;
        if (decodeUtf8(buf, n, cps, units, count))
            for (long long i = 0; i < count && live(w) && w->myClient; i++) w->myClient->onWindowChar(w, cps.ptr[i]);
    } else if (single) {
        w->myClient->onWindowChar(w, single);
    }
}

void cX11WindowMaker::buttonEvent(cX11Window* w, void* event) {
    XButtonEvent& b = *(XButtonEvent*)event;
    if (!w->myClient || w->myKind == kWindowHint) return;
    // A grab reports every press in the grabbing window's coordinates; a press that
    // still names another of ours is turned into them.
    if (myGrab && myGrab != w && !myGrab->myDead) {
        Window child;
        int gx, gy;
        XTranslateCoordinates(myX->dpy, w->myXid, myGrab->myXid, b.x, b.y, &gx, &gy, &child);
        b.x = gx;
        b.y = gy;
        w = myGrab;
    }
    bool pressed = b.type == ButtonPress;
    if (blocked(w)) {
        if (pressed && b.button <= 3) blockedInput();
        return;
    }
    unsigned int mods = x11Modifiers(b.state);
    if (b.button >= 4 && b.button <= 7) {
        // Each wheel notch is one press (and a release, ignored) of buttons 4-7.
        if (!pressed) return;
        bool towardsStart = b.button == 4 || b.button == 6;
        bool horizontal = b.button >= 6;
        w->myClient->onWindowMouseWheel(w, b.x, b.y, towardsStart, horizontal, 1, mods);
        return;
    }
    int button = b.button == 1 ? kMouseLeft : b.button == 3 ? kMouseRight : b.button == 2 ? kMouseMiddle : -1;
    if (button < 0) return;
    myPointerOver = w;
    bool dbl = pressed && myClicks.press(b.x_root, b.y_root, button, (long long)b.time);
    w->myClient->onWindowMouseButton(w, b.x, b.y, button, pressed, mods);
    if (dbl && live(w) && w->myClient) w->myClient->onWindowMouseDoubleClick(w, b.x, b.y, button, mods);
}

void cX11WindowMaker::clientMessage(cX11Window* w, void* event) {
    XClientMessageEvent& c = *(XClientMessageEvent*)event;
    sX11Display& X = *myX;
    if (c.message_type == X.aProtocols && (Atom)c.data.l[0] == X.aDelete) {
        // The close button: the client may refuse; a window behind a modal one stays and
        // shows the dialog it waits for.
        if (blocked(w)) {
            blockedInput();
            return;
        }
        if (w->myClient) w->myClient->onWindowClose(w);
    }
}

void cX11WindowMaker::blockedInput() {
    if (cX11Window* m = myWindows.shownModal()) m->raise();
}

// The clipboard on the CLIPBOARD selection (ICCCM section 2): we own it and answer
// TARGETS, UTF8_STRING and TEXT; a paste converts the owner's selection with a bounded wait.
#include <X11/Xatom.h>
#include <poll.h>

#include <ctime>

#include "x11/x11window.h"

namespace {

// Text larger than this is not put on or taken from the clipboard (a paste from a
// hostile owner could otherwise name any size).
const long long kMaxClipboardBytes = 64LL * 1024 * 1024;

long long nowMs() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

struct sSelWait {
    Window window;
    Atom selection;
};

Bool isSelectionNotify(Display*, XEvent* ev, XPointer arg) {
    sSelWait* s = (sSelWait*)arg;
    return ev->type == SelectionNotify && ev->xselection.requestor == s->window &&
           ev->xselection.selection == s->selection;
}

struct sPropWait {
    Window window;
    Atom property;
};

Bool isNewValue(Display*, XEvent* ev, XPointer arg) {
    sPropWait* s = (sPropWait*)arg;
    return ev->type == PropertyNotify && ev->xproperty.window == s->window && ev->xproperty.atom == s->property &&
           ev->xproperty.state == PropertyNewValue;
}

// Latin-1 (the STRING type) to UTF-8.
bool latin1ToUtf8(const unsigned char* s, long long n, _guardchar<char>& out) {
    if (!out.set(n * 2)) return false;
    long long k = 0;
    for (long long i = 0; i < n; i++) {
        unsigned char c = s[i];
        if (c < 0x80) {
            out.ptr[k++] = (char)c;
        } else {
            out.ptr[k++] = (char)(0xC0 | (c >> 6));
            out.ptr[k++] = (char)(0x80 | (c & 0x3F));
        }
    }
    out.ptr[k] = 0;
    return true;
}

}  // namespace

bool cX11WindowMaker::clipboardCopyText(const char* text, long long bytes) {
    if (!text) return false;
    const long long n = clipboardTextLength(text, bytes);
    // Without INCR transfers one property holds the whole answer.
    long long maxRequest = (long long)XExtendedMaxRequestSize(myX->dpy);
    if (maxRequest == 0) maxRequest = (long long)XMaxRequestSize(myX->dpy);
    if (n > kMaxClipboardBytes || n > maxRequest * 4 - 1024) return false;
    if (!myClipboard.set(text, n)) return false;
    sX11Display& X = *myX;
    XSetSelectionOwner(X.dpy, X.aClipboard, X.utility, X.lastTime);
    myOwnClipboard = XGetSelectionOwner(X.dpy, X.aClipboard) == X.utility;
    if (!myOwnClipboard) myClipboard.clear();
    return myOwnClipboard;
}

void cX11WindowMaker::selectionRequest(void* event) {
    XSelectionRequestEvent& r = ((XEvent*)event)->xselectionrequest;
    sX11Display& X = *myX;
    XSelectionEvent reply = {};
    reply.type = SelectionNotify;
    reply.display = X.dpy;
    reply.requestor = r.requestor;
    reply.selection = r.selection;
    reply.target = r.target;
    reply.time = r.time;
    reply.property = None;
    // Obsolete clients name no property: the target's name serves (ICCCM 2.2).
    Atom property = r.property != None ? r.property : r.target;
    if (r.selection == X.aClipboard && myOwnClipboard && myClipboard.ptr) {
        if (r.target == X.aTargets) {
            Atom targets[3] = {X.aTargets, X.aUtf8, X.aText};
            XChangeProperty(X.dpy, r.requestor, property, XA_ATOM, 32, PropModeReplace, (unsigned char*)targets, 3);
            reply.property = property;
        } else if (r.target == X.aUtf8 || r.target == X.aText) {
            // TEXT is answered in the encoding we choose: UTF-8.
            XChangeProperty(X.dpy, r.requestor, property, X.aUtf8, 8, PropModeReplace,
                            (unsigned char*)myClipboard.ptr, (int)myClipboard.length());
            reply.property = property;
        }
    }
    XSendEvent(X.dpy, r.requestor, False, NoEventMask, (XEvent*)&reply);
    XFlush(X.dpy);
}

bool cX11WindowMaker::clipboardRequestText(_guardchar<char>& out) {
    sX11Display& X = *myX;
    Window owner = XGetSelectionOwner(X.dpy, X.aClipboard);
    if (owner == None) return false;
    // Our own selection: no round trip through the server.
    if (owner == X.utility) return myOwnClipboard && myClipboard.ptr && out.set(myClipboard.ptr);
    if (waitSelection(X.aUtf8, out)) return true;
    return waitSelection(XA_STRING, out);
}

// Asks the owner to convert the selection to `target` into our property and waits
// (bounded) for its answer; INCR transfers are followed chunk by chunk.
bool cX11WindowMaker::waitSelection(unsigned long target, _guardchar<char>& out) {
    sX11Display& X = *myX;
    Display* dpy = X.dpy;
    XDeleteProperty(dpy, X.utility, X.aPasteProp);
    XConvertSelection(dpy, X.aClipboard, target, X.aPasteProp, X.utility, X.lastTime);
    XFlush(dpy);
    long long end = nowMs() + myPasteTimeout;
    sSelWait sw = {X.utility, X.aClipboard};
    XEvent ev;
    bool got = false;
    while (!got) {
        if (XCheckIfEvent(dpy, &ev, isSelectionNotify, (XPointer)&sw)) {
            got = true;
            break;
        }
        long long left = end - nowMs();
        if (left <= 0) return false;
        struct pollfd p = {ConnectionNumber(dpy), POLLIN, 0};
        poll(&p, 1, left > 50 ? 50 : (int)left);
        XEventsQueued(dpy, QueuedAfterReading);
    }
    if (ev.xselection.property == None) return false;

    Atom type;
    int format;
    unsigned long n, after;
    unsigned char* data = nullptr;
    // Read the size first, then the whole value at once.
    if (XGetWindowProperty(dpy, X.utility, X.aPasteProp, 0, 0, False, AnyPropertyType, &type, &format, &n, &after,
                           &data) != Success)
        return false;
    if (data) XFree(data);
    data = nullptr;
    _typebuf<unsigned char> all;
    long long have = 0;
    if (type == X.aIncr) {
        // The owner sends chunks as new values of the property; an empty one ends it.
        sPropWait pw = {X.utility, X.aPasteProp};
        XDeleteProperty(dpy, X.utility, X.aPasteProp);
        XFlush(dpy);
        for (;;) {
            bool chunk = false;
            while (!chunk) {
                if (XCheckIfEvent(dpy, &ev, isNewValue, (XPointer)&pw)) {
                    chunk = true;
                    break;
                }
                long long left = end - nowMs();
                if (left <= 0) return false;
                struct pollfd p = {ConnectionNumber(dpy), POLLIN, 0};
                poll(&p, 1, left > 50 ? 50 : (int)left);
                XEventsQueued(dpy, QueuedAfterReading);
            }
            if (XGetWindowProperty(dpy, X.utility, X.aPasteProp, 0, (long)(kMaxClipboardBytes / 4), True,
                                   AnyPropertyType, &type, &format, &n, &after, &data) != Success)
                return false;
            long long bytes = format == 8 ? (long long)n : 0;
            bool last = bytes == 0;
            if (bytes > 0 && have + bytes <= kMaxClipboardBytes && all.reset(have + bytes)) {
                memcpy(all.ptr + have, data, (size_t)bytes);
                have += bytes;
            } else if (bytes > 0) {
                XFree(data);
                return false;
            }
            if (data) XFree(data);
            data = nullptr;
            XFlush(dpy);
            if (last) break;
            end = nowMs() + myPasteTimeout;  // each chunk gets the full wait
        }
    } else {
        if (format != 8 || (long long)after > kMaxClipboardBytes) {
            XDeleteProperty(dpy, X.utility, X.aPasteProp);
            return false;
        }
        if (XGetWindowProperty(dpy, X.utility, X.aPasteProp, 0, (long)((after + 3) / 4), True, AnyPropertyType,
                               &type, &format, &n, &after, &data) != Success)
            return false;
        if (format == 8 && n > 0 && all.set((long long)n)) {
            memcpy(all.ptr, data, n);
            have = (long long)n;
        }
        if (data) XFree(data);
        if (format != 8) return false;
    }
    if (type == XA_STRING) return latin1ToUtf8(all.ptr, have, out);
    if (type != X.aUtf8 && type != X.aText) return false;
    // A 0 inside ends the text, as it would for any reader of the clipboard.
    return have == 0 ? out.set("") : out.set((const char*)all.ptr, have) && true;
}

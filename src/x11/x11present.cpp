// Presenting a window's canvas: XPutImage straight from the canvas pixels when the
// visual has their layout, through MIT-SHM when the server offers it, converted otherwise.
#include <sys/ipc.h>
#include <sys/shm.h>

#include <poll.h>

#include "x11/x11window.h"

namespace {

inline int shiftOf(unsigned long mask) {
    int s = 0;
    while (mask && !(mask & 1)) mask >>= 1, s++;
    return s;
}

inline int bitsOf(unsigned long mask) {
    int n = 0;
    for (; mask; mask >>= 1) n += (int)(mask & 1);
    return n;
}

bool gShmFailed = false;
int onShmError(Display*, XErrorEvent*) {
    gShmFailed = true;
    return 0;
}

int gCompletionType = -1;
Bool isCompletionOf(Display*, XEvent* ev, XPointer arg) {
    cX11Window* w = (cX11Window*)arg;
    return ev->type == gCompletionType && ((XShmCompletionEvent*)ev)->drawable == w->myXid;
}

}  // namespace

void x11ConvertPixels(const unsigned int* src, unsigned int* dst, long long n, const Visual* visual) {
    unsigned long masks[3] = {visual->red_mask, visual->green_mask, visual->blue_mask};
    int shift[3], bits[3];
    for (int c = 0; c < 3; c++) shift[c] = shiftOf(masks[c]), bits[c] = bitsOf(masks[c]);
    for (long long i = 0; i < n; i++) {
        unsigned int p = src[i], out = 0;
        for (int c = 0; c < 3; c++) {
            unsigned int v = (p >> (16 - 8 * c)) & 0xFF;
            v = bits[c] >= 8 ? v << (bits[c] - 8) : v >> (8 - bits[c]);
            out |= (v << shift[c]) & (unsigned int)masks[c];
        }
        dst[i] = out;
    }
}

bool cX11Window::makeImage() {
    sX11Display& X = *myMaker->myX;
    int w = myCanvas.width(), h = myCanvas.height();
    if (w < 1 || h < 1) return false;
    sX11Present& p = myPresent;
    p.useShm = false;
    if (X.shm) {
        p.image = XShmCreateImage(X.dpy, X.visual, (unsigned)X.depth, ZPixmap, nullptr, &p.shm, (unsigned)w,
                                  (unsigned)h);
        if (p.image) {
            p.shm.shmid = shmget(IPC_PRIVATE, (size_t)p.image->bytes_per_line * h, IPC_CREAT | 0600);
            if (p.shm.shmid >= 0) {
                p.shm.shmaddr = p.image->data = (char*)shmat(p.shm.shmid, nullptr, 0);
                if (p.shm.shmaddr != (char*)-1) {
                    p.shm.readOnly = False;
                    // A remote or sandboxed server refuses the attach: note it and go on without.
                    XSync(X.dpy, False);
                    gShmFailed = false;
                    int (*old)(Display*, XErrorEvent*) = XSetErrorHandler(onShmError);
                    XShmAttach(X.dpy, &p.shm);
                    XSync(X.dpy, False);
                    XSetErrorHandler(old);
                    // The segment goes once both sides let go of it.
                    shmctl(p.shm.shmid, IPC_RMID, nullptr);
                    if (!gShmFailed) {
                        p.useShm = true;
                        return true;
                    }
                    shmdt(p.shm.shmaddr);
                } else {
                    shmctl(p.shm.shmid, IPC_RMID, nullptr);
                }
            }
            p.image->data = nullptr;
            XDestroyImage(p.image);
            p.image = nullptr;
        }
        X.shm = false;  // do not try again for every window
    }
    char* data;
    if (X.directPixels) {
        data = (char*)myCanvas.pixels();
    } else {
        if (!p.convert.set((long long)w * h)) return false;
        data = (char*)p.convert.ptr;
    }
    p.image = XCreateImage(X.dpy, X.visual, (unsigned)X.depth, ZPixmap, 0, data, (unsigned)w, (unsigned)h, 32,
                           w * 4);
    if (!p.image) return false;
    // The words are in this machine's order; Xlib swaps for a server of the other order.
    unsigned int one = 1;
    p.image->byte_order = *(unsigned char*)&one ? LSBFirst : MSBFirst;
    return true;
}

void cX11Window::freeImage() {
    sX11Display& X = *myMaker->myX;
    sX11Present& p = myPresent;
    if (!p.image) return;
    if (p.useShm) {
        XShmDetach(X.dpy, &p.shm);
        XSync(X.dpy, False);
        shmdt(p.shm.shmaddr);
    }
    p.image->data = nullptr;  // the canvas or the segment owns the pixels
    XDestroyImage(p.image);
    p.image = nullptr;
    p.useShm = false;
    p.pending = false;
    p.convert.clear();
}

void cX11Window::present(int x, int y, int w, int h) {
    sX11Present& p = myPresent;
    if (!p.image || myDead || !myXid) return;
    int cw = myCanvas.width(), ch = myCanvas.height();
    if (x < 0) w += x, x = 0;
    if (y < 0) h += y, y = 0;
    if (x + w > cw) w = cw - x;
    if (y + h > ch) h = ch - y;
    if (w <= 0 || h <= 0) return;
    sX11Display& X = *myMaker->myX;
    const unsigned int* src = myCanvas.pixels();
    if (p.useShm) {
        // The server may still read the segment from the last put: wait for its answer.
        gCompletionType = X.shmCompletion;
        for (int i = 0; p.pending && i < 200; i++) {
            XEvent ev;
            if (XCheckIfEvent(X.dpy, &ev, isCompletionOf, (XPointer)this)) break;
            struct pollfd pf = {ConnectionNumber(X.dpy), POLLIN, 0};
            XFlush(X.dpy);
            poll(&pf, 1, 5);
            XEventsQueued(X.dpy, QueuedAfterReading);
        }
        p.pending = false;
        unsigned int* dst = (unsigned int*)p.image->data;
        long long stride = p.image->bytes_per_line / 4;
        for (int r = y; r < y + h; r++) {
            if (X.directPixels)
                memcpy(dst + (long long)r * stride + x, src + (long long)r * cw + x, (size_t)w * 4);
            else
                x11ConvertPixels(src + (long long)r * cw + x, dst + (long long)r * stride + x, w, X.visual);
        }
        XShmPutImage(X.dpy, myXid, myGc, p.image, x, y, x, y, (unsigned)w, (unsigned)h, True);
        p.pending = true;
        return;
    }
    if (!X.directPixels && p.convert.ptr)
        for (int r = y; r < y + h; r++)
            x11ConvertPixels(src + (long long)r * cw + x, p.convert.ptr + (long long)r * cw + x, w, X.visual);
    XPutImage(X.dpy, myXid, myGc, p.image, x, y, x, y, (unsigned)w, (unsigned)h);
}

void cX11WindowMaker::presentAll(cPlatformWindow* window) {
    cX11Window* w = live(window);
    if (!w) return;
    w->present(0, 0, w->width(), w->height());
    XSync(myX->dpy, False);
}

void cX11WindowMaker::sync() { XSync(myX->dpy, False); }

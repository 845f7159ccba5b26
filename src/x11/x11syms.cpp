// Xlib and its shared-memory and screen-saver extensions, opened when a display is first
// opened (see ciplatform/sharedsyms.h): without them no display opens and the program runs
// as it does without one.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/scrnsaver.h>

#include <cstdarg>

#include "ciplatform/sharedsyms.h"

namespace {

#define QMX_X11_FUNCTIONS(F)      \
    F(XChangeProperty)            \
    F(XCheckIfEvent)              \
    F(XCheckTypedWindowEvent)     \
    F(XCloseDisplay)              \
    F(XCloseIM)                   \
    F(XConvertSelection)          \
    F(XCreateFontCursor)          \
    F(XCreateGC)                  \
    F(XCreateIC)                  \
    F(XCreateImage)               \
    F(XCreateWindow)              \
    F(XDefineCursor)              \
    F(XDeleteProperty)            \
    F(XDestroyIC)                 \
    F(XDestroyWindow)             \
    F(XEventsQueued)              \
    F(XExtendedMaxRequestSize)    \
    F(XFilterEvent)               \
    F(XFlush)                     \
    F(XFree)                      \
    F(XFreeCursor)                \
    F(XFreeGC)                    \
    F(XGetSelectionOwner)         \
    F(XGetWindowProperty)         \
    F(XGrabKeyboard)              \
    F(XGrabPointer)               \
    F(XInternAtom)                \
    F(XListPixmapFormats)         \
    F(XLookupKeysym)              \
    F(XLookupString)              \
    F(XMapRaised)                 \
    F(XMaxRequestSize)            \
    F(XMoveResizeWindow)          \
    F(XMoveWindow)                \
    F(XNextEvent)                 \
    F(XOpenDisplay)               \
    F(XOpenIM)                    \
    F(XPeekEvent)                 \
    F(XPending)                   \
    F(XPutImage)                  \
    F(XRaiseWindow)               \
    F(XScreenSaverQueryExtension) \
    F(XScreenSaverSuspend)        \
    F(XSendEvent)                 \
    F(XSetClassHint)              \
    F(XSetErrorHandler)           \
    F(XSetICFocus)                \
    F(XSetInputFocus)             \
    F(XSetLocaleModifiers)        \
    F(XSetSelectionOwner)         \
    F(XSetTransientForHint)       \
    F(XSetWMHints)                \
    F(XSetWMName)                 \
    F(XSetWMNormalHints)          \
    F(XSetWMProtocols)            \
    F(XShmAttach)                 \
    F(XShmCreateImage)            \
    F(XShmDetach)                 \
    F(XShmGetEventBase)           \
    F(XShmPutImage)               \
    F(XShmQueryVersion)           \
    F(XSupportsLocale)            \
    F(XSync)                      \
    F(XTranslateCoordinates)      \
    F(XUngrabKeyboard)            \
    F(XUngrabPointer)             \
    F(XUnmapWindow)               \
    F(XUnsetICFocus)              \
    F(Xutf8LookupString)          \
    F(Xutf8TextListToTextProperty)

enum {
#define QMX_SLOT(name) k_##name,
    QMX_X11_FUNCTIONS(QMX_SLOT)
#undef QMX_SLOT
        kX11Functions
};

const char* const kX11Names[] = {
#define QMX_NAME(name) #name,
    QMX_X11_FUNCTIONS(QMX_NAME)
#undef QMX_NAME
};

const char* const kX11Libs[] = {"libX11.so.6", "libXext.so.6", "libXss.so.1"};

void* const* x11Table() {
    static void* slots[kX11Functions];
    static const bool loaded = loadSharedSymbols(kX11Libs, 3, kX11Names, slots, kX11Functions);
    return loaded ? slots : nullptr;
}

}  // namespace

// The name and value pairs up to a null name, read as Xlib reads them (every value a pointer's
// width), passed on as a fixed list; more pairs than the program ever gives are refused.
XIC XCreateIC(XIM im, ...) {
    void* const* slots = x11Table();
    if (!slots) return nullptr;
    const int kMaxPairs = 6;
    char* names[kMaxPairs] = {};
    XPointer values[kMaxPairs] = {};
    va_list ap;
    va_start(ap, im);
    bool fits = true;
    for (int n = 0;; n++) {
        char* name = va_arg(ap, char*);
        if (!name) break;
        if (n == kMaxPairs) {
            fits = false;
            break;
        }
        names[n] = name;
        values[n] = va_arg(ap, XPointer);
    }
    va_end(ap);
    if (!fits) return nullptr;
    return reinterpret_cast<decltype(&::XCreateIC)>(slots[k_XCreateIC])(
        im, names[0], values[0], names[1], values[1], names[2], values[2], names[3], values[3], names[4], values[4],
        names[5], values[5], nullptr);
}

QMX_FORWARD_FROM(x11Table, int, XChangeProperty,
                 (Display * a0, Window a1, Atom a2, Atom a3, int a4, int a5, const unsigned char* a6, int a7),
                 (a0, a1, a2, a3, a4, a5, a6, a7))
QMX_FORWARD_FROM(x11Table, int, XCheckIfEvent,
                 (Display * a0, XEvent* a1, int (*a2)(Display*, XEvent*, XPointer), XPointer a3), (a0, a1, a2, a3))
QMX_FORWARD_FROM(x11Table, int, XCheckTypedWindowEvent, (Display * a0, Window a1, int a2, XEvent* a3), (a0, a1, a2, a3))
QMX_FORWARD_FROM(x11Table, int, XCloseDisplay, (Display * a0), (a0))
QMX_FORWARD_FROM(x11Table, int, XCloseIM, (XIM a0), (a0))
QMX_FORWARD_FROM(x11Table, int, XConvertSelection, (Display * a0, Atom a1, Atom a2, Atom a3, Window a4, Time a5),
                 (a0, a1, a2, a3, a4, a5))
QMX_FORWARD_FROM(x11Table, Cursor, XCreateFontCursor, (Display * a0, unsigned int a1), (a0, a1))
QMX_FORWARD_FROM(x11Table, GC, XCreateGC, (Display * a0, Drawable a1, long unsigned int a2, XGCValues* a3),
                 (a0, a1, a2, a3))
QMX_FORWARD_FROM(x11Table, XImage*, XCreateImage,
                 (Display * a0, Visual* a1, unsigned int a2, int a3, int a4, char* a5, unsigned int a6, unsigned int a7,
                  int a8, int a9),
                 (a0, a1, a2, a3, a4, a5, a6, a7, a8, a9))
QMX_FORWARD_FROM(x11Table, Window, XCreateWindow,
                 (Display * a0, Window a1, int a2, int a3, unsigned int a4, unsigned int a5, unsigned int a6, int a7,
                  unsigned int a8, Visual* a9, long unsigned int a10, XSetWindowAttributes* a11),
                 (a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11))
QMX_FORWARD_FROM(x11Table, int, XDefineCursor, (Display * a0, Window a1, Cursor a2), (a0, a1, a2))
QMX_FORWARD_FROM(x11Table, int, XDeleteProperty, (Display * a0, Window a1, Atom a2), (a0, a1, a2))
QMX_FORWARD_FROM(x11Table, void, XDestroyIC, (XIC a0), (a0))
QMX_FORWARD_FROM(x11Table, int, XDestroyWindow, (Display * a0, Window a1), (a0, a1))
QMX_FORWARD_FROM(x11Table, int, XEventsQueued, (Display * a0, int a1), (a0, a1))
QMX_FORWARD_FROM(x11Table, long int, XExtendedMaxRequestSize, (Display * a0), (a0))
QMX_FORWARD_FROM(x11Table, int, XFilterEvent, (XEvent * a0, Window a1), (a0, a1))
QMX_FORWARD_FROM(x11Table, int, XFlush, (Display * a0), (a0))
QMX_FORWARD_FROM(x11Table, int, XFree, (void* a0), (a0))
QMX_FORWARD_FROM(x11Table, int, XFreeCursor, (Display * a0, Cursor a1), (a0, a1))
QMX_FORWARD_FROM(x11Table, int, XFreeGC, (Display * a0, GC a1), (a0, a1))
QMX_FORWARD_FROM(x11Table, Window, XGetSelectionOwner, (Display * a0, Atom a1), (a0, a1))
QMX_FORWARD_FROM(x11Table, int, XGetWindowProperty,
                 (Display * a0, Window a1, Atom a2, long int a3, long int a4, int a5, Atom a6, Atom* a7, int* a8,
                  long unsigned int* a9, long unsigned int* a10, unsigned char** a11),
                 (a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11))
QMX_FORWARD_FROM(x11Table, int, XGrabKeyboard, (Display * a0, Window a1, int a2, int a3, int a4, Time a5),
                 (a0, a1, a2, a3, a4, a5))
QMX_FORWARD_FROM(x11Table, int, XGrabPointer,
                 (Display * a0, Window a1, int a2, unsigned int a3, int a4, int a5, Window a6, Cursor a7, Time a8),
                 (a0, a1, a2, a3, a4, a5, a6, a7, a8))
QMX_FORWARD_FROM(x11Table, Atom, XInternAtom, (Display * a0, const char* a1, int a2), (a0, a1, a2))
QMX_FORWARD_FROM(x11Table, XPixmapFormatValues*, XListPixmapFormats, (Display * a0, int* a1), (a0, a1))
QMX_FORWARD_FROM(x11Table, KeySym, XLookupKeysym, (XKeyEvent * a0, int a1), (a0, a1))
QMX_FORWARD_FROM(x11Table, int, XLookupString, (XKeyEvent * a0, char* a1, int a2, KeySym* a3, XComposeStatus* a4),
                 (a0, a1, a2, a3, a4))
QMX_FORWARD_FROM(x11Table, int, XMapRaised, (Display * a0, Window a1), (a0, a1))
QMX_FORWARD_FROM(x11Table, long int, XMaxRequestSize, (Display * a0), (a0))
QMX_FORWARD_FROM(x11Table, int, XMoveResizeWindow,
                 (Display * a0, Window a1, int a2, int a3, unsigned int a4, unsigned int a5), (a0, a1, a2, a3, a4, a5))
QMX_FORWARD_FROM(x11Table, int, XMoveWindow, (Display * a0, Window a1, int a2, int a3), (a0, a1, a2, a3))
QMX_FORWARD_FROM(x11Table, int, XNextEvent, (Display * a0, XEvent* a1), (a0, a1))
QMX_FORWARD_FROM(x11Table, Display*, XOpenDisplay, (const char* a0), (a0))
QMX_FORWARD_FROM(x11Table, XIM, XOpenIM, (Display * a0, struct _XrmHashBucketRec* a1, char* a2, char* a3),
                 (a0, a1, a2, a3))
QMX_FORWARD_FROM(x11Table, int, XPeekEvent, (Display * a0, XEvent* a1), (a0, a1))
QMX_FORWARD_FROM(x11Table, int, XPending, (Display * a0), (a0))
QMX_FORWARD_FROM(x11Table, int, XPutImage,
                 (Display * a0, Drawable a1, GC a2, XImage* a3, int a4, int a5, int a6, int a7, unsigned int a8,
                  unsigned int a9),
                 (a0, a1, a2, a3, a4, a5, a6, a7, a8, a9))
QMX_FORWARD_FROM(x11Table, int, XRaiseWindow, (Display * a0, Window a1), (a0, a1))
QMX_FORWARD_FROM(x11Table, int, XScreenSaverQueryExtension, (Display * a0, int* a1, int* a2), (a0, a1, a2))
QMX_FORWARD_FROM(x11Table, void, XScreenSaverSuspend, (Display * a0, int a1), (a0, a1))
QMX_FORWARD_FROM(x11Table, int, XSendEvent, (Display * a0, Window a1, int a2, long int a3, XEvent* a4),
                 (a0, a1, a2, a3, a4))
QMX_FORWARD_FROM(x11Table, int, XSetClassHint, (Display * a0, Window a1, XClassHint* a2), (a0, a1, a2))
QMX_FORWARD_FROM(x11Table, XErrorHandler, XSetErrorHandler, (XErrorHandler a0), (a0))
QMX_FORWARD_FROM(x11Table, void, XSetICFocus, (XIC a0), (a0))
QMX_FORWARD_FROM(x11Table, int, XSetInputFocus, (Display * a0, Window a1, int a2, Time a3), (a0, a1, a2, a3))
QMX_FORWARD_FROM(x11Table, char*, XSetLocaleModifiers, (const char* a0), (a0))
QMX_FORWARD_FROM(x11Table, int, XSetSelectionOwner, (Display * a0, Atom a1, Window a2, Time a3), (a0, a1, a2, a3))
QMX_FORWARD_FROM(x11Table, int, XSetTransientForHint, (Display * a0, Window a1, Window a2), (a0, a1, a2))
QMX_FORWARD_FROM(x11Table, int, XSetWMHints, (Display * a0, Window a1, XWMHints* a2), (a0, a1, a2))
QMX_FORWARD_FROM(x11Table, void, XSetWMName, (Display * a0, Window a1, XTextProperty* a2), (a0, a1, a2))
QMX_FORWARD_FROM(x11Table, void, XSetWMNormalHints, (Display * a0, Window a1, XSizeHints* a2), (a0, a1, a2))
QMX_FORWARD_FROM(x11Table, int, XSetWMProtocols, (Display * a0, Window a1, Atom* a2, int a3), (a0, a1, a2, a3))
QMX_FORWARD_FROM(x11Table, int, XShmAttach, (Display * a0, XShmSegmentInfo* a1), (a0, a1))
QMX_FORWARD_FROM(x11Table, XImage*, XShmCreateImage,
                 (Display * a0, Visual* a1, unsigned int a2, int a3, char* a4, XShmSegmentInfo* a5, unsigned int a6,
                  unsigned int a7),
                 (a0, a1, a2, a3, a4, a5, a6, a7))
QMX_FORWARD_FROM(x11Table, int, XShmDetach, (Display * a0, XShmSegmentInfo* a1), (a0, a1))
QMX_FORWARD_FROM(x11Table, int, XShmGetEventBase, (Display * a0), (a0))
QMX_FORWARD_FROM(x11Table, int, XShmPutImage,
                 (Display * a0, Drawable a1, GC a2, XImage* a3, int a4, int a5, int a6, int a7, unsigned int a8,
                  unsigned int a9, int a10),
                 (a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10))
QMX_FORWARD_FROM(x11Table, int, XShmQueryVersion, (Display * a0, int* a1, int* a2, int* a3), (a0, a1, a2, a3))
QMX_FORWARD_FROM(x11Table, int, XSupportsLocale, (), ())
QMX_FORWARD_FROM(x11Table, int, XSync, (Display * a0, int a1), (a0, a1))
QMX_FORWARD_FROM(x11Table, int, XTranslateCoordinates,
                 (Display * a0, Window a1, Window a2, int a3, int a4, int* a5, int* a6, Window* a7),
                 (a0, a1, a2, a3, a4, a5, a6, a7))
QMX_FORWARD_FROM(x11Table, int, XUngrabKeyboard, (Display * a0, Time a1), (a0, a1))
QMX_FORWARD_FROM(x11Table, int, XUngrabPointer, (Display * a0, Time a1), (a0, a1))
QMX_FORWARD_FROM(x11Table, int, XUnmapWindow, (Display * a0, Window a1), (a0, a1))
QMX_FORWARD_FROM(x11Table, void, XUnsetICFocus, (XIC a0), (a0))
QMX_FORWARD_FROM(x11Table, int, Xutf8LookupString,
                 (XIC a0, XKeyPressedEvent* a1, char* a2, int a3, KeySym* a4, int* a5), (a0, a1, a2, a3, a4, a5))
QMX_FORWARD_FROM(x11Table, int, Xutf8TextListToTextProperty,
                 (Display * a0, char** a1, int a2, XICCEncodingStyle a3, XTextProperty* a4), (a0, a1, a2, a3, a4))

// The X11 maker's inner types: the display state and one window with its canvas and the
// image it is presented through. Only the x11 sources include this.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>

#include "ciplatform/canvas.h"
#include "x11/x11maker.h"

struct sX11Display {
    Display* dpy = nullptr;
    int screen = 0;
    Window root = 0;
    Visual* visual = nullptr;
    int depth = 0;
    Colormap colormap = 0;
    bool directPixels = false;  // 32 bits per pixel, masks 0xFF0000/0xFF00/0xFF: the canvas is sent as it is
    bool shm = false;           // MIT-SHM usable
    int shmCompletion = -1;     // event type of ShmCompletion
    XIM im = nullptr;
    Window utility = 0;         // a hidden window: selections, the clipboard
    Time lastTime = CurrentTime;
    Cursor cursors[10] = {};
    bool screenSaverExt = false;
    _typebuf<unsigned long> icon;  // _NET_WM_ICON: width, height, pixels
    long long iconCount = 0;

    Atom aProtocols, aDelete, aNetName, aUtf8, aText, aTargets, aClipboard, aPasteProp, aTransient, aNetState,
        aNetModal, aNetType, aTypeDialog, aTypeNormal, aTypePopup, aTypeTooltip, aNetWorkArea, aNetIcon, aNetPid,
        aNetActive, aNetSupportingWm, aIncr, aAtom, aString, aSkipTaskbar;
};

// The image one window is presented through, over the canvas pixels or a shared segment.
struct sX11Present {
    XImage* image = nullptr;
    XShmSegmentInfo shm = {};
    bool useShm = false;
    bool pending = false;  // a shared-memory put the server has not finished
    _typebuf<unsigned int> convert;  // pixels turned to the visual's layout when not direct
};

class cX11Window : public cPlatformWindow {
public:
    cX11WindowMaker* myMaker = nullptr;
    cWindowClient* myClient = nullptr;
    int myKind = kWindowTop;
    cX11Window* myOwner = nullptr;
    Window myXid = 0;
    GC myGc = nullptr;
    XIC myIc = nullptr;
    _guardchar<char> myCaption;
    int myX = 0, myY = 0;  // last known screen position of the client area
    cCanvas myCanvas;
    sX11Present myPresent;
    bool myVisible = false;
    bool myMapped = false;
    bool myPainted = false;
    bool myDirty = true;
    sArea myDirtyArea = {0, 0, 0, 0};
    int myPointer = 0;
    bool myModal = false;
    bool myEnded = false;
    int myCode = -1;
    long long mySeq = 0;
    bool myDead = false;
    bool myWantGrab = false;   // a grabbing popup: grab once mapped
    bool myGrabbed = false;
    bool myCaptured = false;   // an element's explicit pointer capture
    unsigned int myFlags = 0;

    cWindowMaker* maker() override;
    cWindowClient* client() override { return myClient; }
    int kind() override { return myKind; }
    cPlatformWindow* owner() override { return myOwner; }
    int width() override { return myCanvas.width(); }
    int height() override { return myCanvas.height(); }
    void screenPos(sPoint& at) override;
    void setCaption(const char* caption) override;
    const char* caption() override { return myCaption.ptr ? myCaption.ptr : ""; }
    void move(int x, int y, int w, int h) override;
    void setMinSize(int w, int h) override;
    void show(bool visible) override;
    bool visible() override { return myVisible; }
    void invalidate(const sRect* area) override;
    void update() override;
    cCanvas* canvas() override { return &myCanvas; }
    void setPointer(int kind) override;
    void capturePointer(bool outside) override;
    void releasePointer() override;
    void focus() override;
    bool focused() override;
    void endModal(int code) override;
    bool inModal() override { return myModal && !myEnded; }

    // Paints the dirty area and presents it; true when it painted.
    bool paint();
    // Sends a canvas rectangle to the window.
    void present(int x, int y, int w, int h);
    // (Re)makes the image for the canvas's size.
    bool makeImage();
    void freeImage();
    bool resizeCanvas(int w, int h);
    bool grab();
    void ungrab();
    // Brings the window to the front and gives it the focus.
    void raise();
};

// Pixels of an 0xAARRGGBB canvas for a visual with other masks.
void x11ConvertPixels(const unsigned int* src, unsigned int* dst, long long n, const Visual* visual);

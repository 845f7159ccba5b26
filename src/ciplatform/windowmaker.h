// cWindowMaker: the platform window factory (windows, modal runs, popups, hints, the
// event loop, wake-ups, clipboard, pointer shapes), and cWindowClient, the interface
// through which a window hands painting and input to the UI layer.
#pragma once

#include "base/buffers.h"
#include "base/geometry.h"
#include "base/sync.h"
#include "ciplatform/looptables.h"

class cCanvas;
class cPlatformWindow;
class cWindowMaker;

// Toolkit key codes handed to onWindowKey (letters and digits as upper-case ASCII).
enum eKeyCodes {
    kKeySpace = 32,
    kKeyBackspace = 264,
    kKeyTab = 265,
    kKeyEscape = 283,
    kKeyHome = 336,
    kKeyLeft = 337,
    kKeyUp = 338,
    kKeyRight = 339,
    kKeyDown = 340,
    kKeyPageUp = 341,
    kKeyPageDown = 342,
    kKeyEnd = 343,
    kKeyInsert = 355,
    kKeyMenu = 359,
    kKeyEnter = 397,
    kKeyPadPlus = 427,
    kKeyPadMinus = 429,
    kKeyF1 = 446,  // F1..F12 = 446..457
    kKeyF4 = 449,
    kKeyF5 = 450,
    kKeyDelete = 511
};

// Modifier bits of input events (Ctrl stands for the native Command key).
enum eKeyModifiers { kModShift = 1, kModCtrl = 2, kModAlt = 4 };

// Pointer buttons.
enum eMouseButtons { kMouseLeft = 0, kMouseRight = 1, kMouseMiddle = 2 };

// What a window needs of the UI layer. All calls come on the UI thread from the loop.
class cWindowClient {
public:
    virtual ~cWindowClient() {}
    // Paint `dirty` (window coordinates) into the window's canvas.
    virtual void onWindowPaint(cPlatformWindow* window, cCanvas* canvas, const sRect* dirty) = 0;
    // Pointer input in window coordinates (a grabbing popup also gets presses outside it,
    // in its own coordinates, possibly negative).
    virtual void onWindowMouseButton(cPlatformWindow* window, int x, int y, int button, bool pressed,
                                     unsigned int modifiers) {}
    // The second press of a double click (after its onWindowMouseButton).
    virtual void onWindowMouseDoubleClick(cPlatformWindow* window, int x, int y, int button,
                                          unsigned int modifiers) {}
    virtual void onWindowMouseMove(cPlatformWindow* window, int x, int y, unsigned int modifiers) {}
    virtual void onWindowMouseLeave(cPlatformWindow* window) {}
    // towardsStart: up or left; notches >= 1.
    virtual void onWindowMouseWheel(cPlatformWindow* window, int x, int y, bool towardsStart, bool horizontal,
                                    int notches, unsigned int modifiers) {}
    // Toolkit key codes (eKeyCodes); pressed false for a release.
    virtual void onWindowKey(cPlatformWindow* window, int key, bool pressed, unsigned int modifiers) {}
    // A typed character (Unicode code point).
    virtual void onWindowChar(cPlatformWindow* window, unsigned int codePoint) {}
    virtual void onWindowFocus(cPlatformWindow* window, bool gained) {}
    // The user asked to close the window; the client decides (end its modal run, destroy).
    virtual void onWindowClose(cPlatformWindow* window) {}
    // The client area changed size; a repaint of everything follows.
    virtual void onWindowResize(cPlatformWindow* window, int w, int h) {}
    // A wake-up reached the loop: drain the action queues.
    virtual void onWindowWake(cPlatformWindow* window) {}
    virtual void onWindowTimer(cPlatformWindow* window, int id) {}
    // The window is going away (last call the client gets for it).
    virtual void onWindowDestroyed(cPlatformWindow* window) {}
};

// Window kinds.
enum eWindowKinds { kWindowTop = 0, kWindowModal = 1, kWindowPopup = 2, kWindowHint = 3 };

// Flags of createWindow.
enum eWindowFlags { kWFResizable = 1, kWFHidden = 2 };

// A window of a window maker; made and destroyed by the maker.
class cPlatformWindow {
public:
    virtual ~cPlatformWindow() {}
    virtual cWindowMaker* maker() = 0;
    virtual cWindowClient* client() = 0;
    virtual int kind() = 0;
    virtual cPlatformWindow* owner() = 0;
    // Client area size in pixels.
    virtual int width() = 0;
    virtual int height() = 0;
    // The client area's top-left corner on the screen.
    virtual void screenPos(sPoint& at) = 0;
    virtual void setCaption(const char* caption) = 0;
    virtual const char* caption() = 0;
    // Moves (screen coordinates) and resizes the client area (w, h <= 0 keep the size).
    virtual void move(int x, int y, int w, int h) = 0;
    // The smallest client area the user may resize a resizable window to (the window
    // manager keeps it); fixed-size windows ignore it.
    virtual void setMinSize(int w, int h) {}
    virtual void show(bool visible) = 0;
    virtual bool visible() = 0;
    // Marks an area (null: all) for repainting on a later turn of the loop.
    virtual void invalidate(const sRect* area) = 0;
    // Repaints what is invalid now.
    virtual void update() = 0;
    // The window's own canvas (what is presented on screen).
    virtual cCanvas* canvas() = 0;
    // Pointer shape over the window: 0 arrow, 1 text beam, 2 crosshair, 3 pointing hand,
    // 4 and 6 left-right, 5 and 7 up-down, 8 and 9 closed hand.
    virtual void setPointer(int kind) = 0;
    // Routes all pointer input to this window (outside: presses outside it too).
    virtual void capturePointer(bool outside) = 0;
    virtual void releasePointer() = 0;
    virtual void focus() = 0;
    virtual bool focused() = 0;
    // Ends this window's modal run with the code (nothing when it has none).
    virtual void endModal(int code) = 0;
    virtual bool inModal() = 0;
    // UI data the client hangs on the window.
    void* userData = nullptr;
};

class cWindowMaker {
public:
    // The lock every element's action queue is guarded by.
    static cCriticalSection gActionSync;

    // The maker for this process: the display maker when DISPLAY is set, one was
    // registered (setDisplayFactory) and it connects; the headless maker otherwise or
    // with forceHeadless.
    // The icon is picture resource data (any factory format) of iconDim x iconDim.
    static cWindowMaker* newWindowMaker(const unsigned char* iconData, unsigned int iconSize, int iconDim,
                                        bool forceHeadless = false);
    typedef cWindowMaker* (*tMakerFactory)(const unsigned char* iconData, unsigned int iconSize, int iconDim);
    static void setDisplayFactory(tMakerFactory factory);

    cWindowMaker() {}
    virtual ~cWindowMaker() {}
    cWindowMaker(const cWindowMaker&) = delete;
    cWindowMaker& operator=(const cWindowMaker&) = delete;

    virtual bool headless() = 0;

    // A top-level window of the client size, centred over its owner (or the desktop), and
    // on a display kept on the desktop where it fits; shown unless kWFHidden. With an owner
    // it is that owner's transient dialog.
    virtual cPlatformWindow* createWindow(cWindowClient* client, const char* caption, int w, int h,
                                          cPlatformWindow* owner, unsigned int flags) = 0;
    // A borderless popup at screen coordinates; with grab it takes the pointer grab
    // (presses outside reach it) until destroyed.
    virtual cPlatformWindow* createPopup(cWindowClient* client, int x, int y, int w, int h,
                                         cPlatformWindow* owner, bool grab) = 0;
    // A hint window at screen coordinates; it never takes the focus.
    virtual cPlatformWindow* createHint(cWindowClient* client, int x, int y, int w, int h,
                                        cPlatformWindow* owner) = 0;
    // Calls the client's onWindowDestroyed and frees the window. Safe inside its own
    // callbacks (the window is freed once the loop is back in control).
    virtual void destroy(cPlatformWindow* window) = 0;
    // Shows the window (unless it was made with kWFHidden) and runs a nested loop until
    // window->endModal(code); returns the code. Windows made before it get no pointer and
    // key input meanwhile: a press or close request there brings the innermost shown modal
    // window to the front instead. -1 for a null window.
    virtual int modal(cPlatformWindow* window) = 0;
    // The main loop: runs until quit(code); returns the code.
    int messageLoop();
    void quit(int code);
    // Callable from any thread: makes the loop call onWindowWake of that window's client
    // (null: of every window's) on a later turn.
    void wake(cPlatformWindow* window) { myWakes.add(window); }
    // A one-shot or repeating timer of the window (ms >= 1) delivered as onWindowTimer.
    virtual bool setTimer(cPlatformWindow* window, int id, int ms, bool repeat) = 0;
    virtual void killTimer(cPlatformWindow* window, int id) = 0;
    // A canvas not shown anywhere, deleted by the caller; null when the size is refused.
    virtual cCanvas* offscreen(int w, int h);

    virtual bool recommendedMainWindowSize(sSize& size) = 0;
    virtual bool desktopSize(sSize& size) = 0;
    virtual double screenScale() { return 1.0; }
    // UTF-8 text; bytes counts the terminating 0 (-1: up to the 0).
    virtual bool clipboardCopyText(const char* text, long long bytes) = 0;
    virtual bool clipboardRequestText(_guardchar<char>& out) = 0;
    // Keeps the display from sleeping (the screen saver suspended) while on; false when
    // the platform cannot.
    virtual bool blockDisplaySleep(bool block) { return false; }

    // Milliseconds of the maker's clock (double clicks and timers use it).
    virtual long long clockMs() = 0;

protected:
    // One run of the loop, the main loop's or a modal window's, until `ended` is set.
    struct sLoopRun {
        bool& ended;
        int& code;
        long long idleMs;  // waited with nothing to do and no wake-up (for a maker that counts it)
        void end(int result) {
            code = result;
            ended = true;
        }
    };
    // Turns the loop until the run has ended; its code. Each turn does what is waiting
    // (loopTurn); a turn that did nothing, in a run still going, waits (loopWait).
    int runLoop(bool& ended, int& code);
    // Input, wake-ups, due timers, repaints and deferred frees once; how many things it did.
    virtual int loopTurn(sLoopRun& run) = 0;
    // Waits for input, a wake-up (myWakes' channel) or the next timer; may end the run.
    virtual void loopWait(sLoopRun& run) = 0;

    // Windows woken from any thread; its channel, signalled from any thread, ends a loopWait.
    cWakeRequests myWakes;

private:
    bool myQuit = false;
    int myQuitCode = 0;
};

// Decides which press of a button is the second of a double click: a press of the same
// button within the interval and distance of the previous one; a third press starts over.
class cDoubleClickTracker {
public:
    static const int kIntervalMs = 500;
    static const int kDistance = 4;

    // True when this press completes a double click.
    bool press(int x, int y, int button, long long timeMs);
    void reset() { myHave = false; }

private:
    bool myHave = false;
    int myX = 0, myY = 0, myButton = 0;
    long long myTime = 0;
};

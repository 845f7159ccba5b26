// cX11WindowMaker: the window maker on an X server through Xlib: top-level windows,
// transient modal dialogs, grabbing popups, hint windows, one event loop for X events,
// wake-ups (an eventfd), timers and coalesced repaints presented from the software canvas.
#pragma once

#include "base/buffers.h"
#include "ciplatform/looptables.h"
#include "ciplatform/windowmaker.h"

class cX11Window;
struct sX11Display;

class cX11WindowMaker : public cWindowMaker {
public:
    // Opens the display (null: $DISPLAY); null when no connection opens.
    static cX11WindowMaker* open(const char* display = nullptr, const unsigned char* iconData = nullptr,
                                 unsigned int iconSize = 0, int iconDim = 0);
    // open() on $DISPLAY as a display factory of cWindowMaker::newWindowMaker.
    static cWindowMaker* displayFactory(const unsigned char* iconData, unsigned int iconSize, int iconDim);
    ~cX11WindowMaker() override;

    // --- cWindowMaker ---
    bool headless() override { return false; }
    cPlatformWindow* createWindow(cWindowClient* client, const char* caption, int w, int h,
                                  cPlatformWindow* owner, unsigned int flags) override;
    cPlatformWindow* createPopup(cWindowClient* client, int x, int y, int w, int h, cPlatformWindow* owner,
                                 bool grab) override;
    cPlatformWindow* createHint(cWindowClient* client, int x, int y, int w, int h,
                                cPlatformWindow* owner) override;
    void destroy(cPlatformWindow* window) override;
    int modal(cPlatformWindow* window) override;
    bool setTimer(cPlatformWindow* window, int id, int ms, bool repeat) override;
    void killTimer(cPlatformWindow* window, int id) override;
    bool recommendedMainWindowSize(sSize& size) override;
    bool desktopSize(sSize& size) override;
    bool clipboardCopyText(const char* text, long long bytes) override;
    bool clipboardRequestText(_guardchar<char>& out) override;
    long long clockMs() override;
    bool blockDisplaySleep(bool block) override;

    // --- for tests and the benchmark ---
    // Runs the loop until `until` answers true or ms pass (X events, wake-ups, timers,
    // repaints); true when it answered true.
    bool runUntil(bool (*until)(void*), void* arg, int ms);
    // Runs everything pending once (no waiting); returns how much it did.
    int pumpOnce();
    // Presents the window's whole canvas and waits until the server has it.
    void presentAll(cPlatformWindow* window);
    // Waits until the server has handled every request sent so far.
    void sync();
    bool sharedMemory() const;
    bool alive(cPlatformWindow* window);
    // Mapped, painted and presented with nothing left to repaint.
    bool shown(cPlatformWindow* window);
    cPlatformWindow* focusedWindow();
    // The X window id of a window (0 for none).
    unsigned long xid(cPlatformWindow* window);
    // Milliseconds a paste waits for the selection owner's answer (default 2000).
    void setPasteTimeout(int ms) { myPasteTimeout = ms < 1 ? 1 : ms; }
    int modalDepth() const { return myModalDepth; }

private:
    friend class cX11Window;
    cX11WindowMaker();
    bool connect(const char* display, const unsigned char* iconData, unsigned int iconSize, int iconDim);
    cX11Window* live(cPlatformWindow* window);
    cX11Window* byXid(unsigned long xid);
    cX11Window* addWindow(cWindowClient* client, int kind, const char* caption, int x, int y, int w, int h,
                          cPlatformWindow* owner, unsigned int flags);
    bool blocked(cX11Window* window);
    // Input that reached a window behind a modal run: the run's window comes to the front
    // (the user is looking for it), the input itself is dropped.
    void blockedInput();
    int loopTurn(sLoopRun& run) override;
    void loopWait(sLoopRun& run) override;
    int dispatchEvents();
    void dispatch(void* event);
    void keyEvent(cX11Window* w, void* event);
    void buttonEvent(cX11Window* w, void* event);
    void clientMessage(cX11Window* w, void* event);
    void selectionRequest(void* event);
    bool runWakeups();
    bool runTimers();
    int paintAll();
    void freeDead();
    void setFocusWindow(cX11Window* w);
    void waitForEvents(int ms);
    bool waitSelection(unsigned long target, _guardchar<char>& out);
    unsigned long lastTime();

    sX11Display* myX = nullptr;  // Xlib state (kept out of this header)

    cWindowBook<cX11Window> myWindows;
    int myModalDepth = 0;
    int myDispatchDepth = 0;
    cX11Window* myFocus = nullptr;
    cX11Window* myGrab = nullptr;
    cX11Window* myPointerOver = nullptr;
    long long mySequence = 0;

    cTimerTable<cX11Window> myTimers;

    cDoubleClickTracker myClicks;
    _guardchar<char> myClipboard;
    bool myOwnClipboard = false;
    int myPasteTimeout = 2000;
    bool mySleepBlocked = false;
};

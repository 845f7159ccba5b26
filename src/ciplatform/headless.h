// cHeadlessWindowMaker: windows kept in memory, each with its own canvas, driven by an
// event injector and an explicit pump; modal runs answer from a script. Tests and the
// console verbs use it.
#pragma once

#include "base/buffers.h"
#include "ciplatform/looptables.h"
#include "ciplatform/windowmaker.h"

class cHeadlessWindow;
class cHeadlessWindowMaker;

// Answers modal runs: called once each modal window has opened and painted.
class cHeadlessScript {
public:
    virtual ~cHeadlessScript() {}
    // May inject input, open further modal runs, or end the window's run (endModal).
    // depth: 1 for the outermost run.
    virtual void onModal(cHeadlessWindowMaker* maker, cPlatformWindow* window, int depth) = 0;
};

class cHeadlessWindowMaker : public cWindowMaker {
public:
    cHeadlessWindowMaker();
    ~cHeadlessWindowMaker() override;

    // --- cWindowMaker ---
    bool headless() override { return true; }
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
    long long clockMs() override { return myClock; }

    // --- input injection (window coordinates; dropped for a window that does not exist
    // or is blocked by a modal run; a grabbing popup takes all pointer input) ---
    void injectPress(cPlatformWindow* window, int x, int y, int button = kMouseLeft, unsigned int modifiers = 0);
    void injectRelease(cPlatformWindow* window, int x, int y, int button = kMouseLeft, unsigned int modifiers = 0);
    void injectClick(cPlatformWindow* window, int x, int y, int button = kMouseLeft, unsigned int modifiers = 0);
    void injectMove(cPlatformWindow* window, int x, int y, unsigned int modifiers = 0);
    void injectWheel(cPlatformWindow* window, int x, int y, bool towardsStart, bool horizontal = false,
                     int notches = 1, unsigned int modifiers = 0);
    // Key down and up (injectKey does both); toolkit key codes.
    void injectKeyDown(cPlatformWindow* window, int key, unsigned int modifiers = 0);
    void injectKeyUp(cPlatformWindow* window, int key, unsigned int modifiers = 0);
    void injectKey(cPlatformWindow* window, int key, unsigned int modifiers = 0);
    void injectChar(cPlatformWindow* window, unsigned int codePoint);
    // Each code point of a UTF-8 text as injectChar.
    void injectText(cPlatformWindow* window, const char* text);
    // The user's close button.
    void injectClose(cPlatformWindow* window);
    // The user resized the window (to no less than its minimum size).
    void injectResize(cPlatformWindow* window, int w, int h);
    // Gives the window the focus (as a click on its frame would).
    void activate(cPlatformWindow* window);

    // --- the loop ---
    // Runs wake-ups (onWindowWake), due timers, deferred frees and repaints once;
    // returns how many of those it did.
    int pump();
    // Pumps until nothing is left to do (bounded); returns the rounds run.
    int pumpAll(int maxRounds = 100);
    // Moves the clock forward (double clicks, timers). Idle waits in loops also move it.
    void advanceClock(long long ms) { myClock += ms > 0 ? ms : 0; }

    // --- scripted modal answers ---
    // Each modal run that opens takes the next queued code (first in, first out) and
    // ends with it; with no code queued the script (if any) is asked.
    void pushModalAnswer(int code);
    int pendingModalAnswers() const { return (int)myAnswerCount; }
    void setModalScript(cHeadlessScript* script) { myScript = script; }
    // Whether modal runs have someone to answer them (a script or queued codes).
    bool scripted() const { return myScript != nullptr || myAnswerCount > 0; }
    // A loop with nothing to do and no wake-up for this long ends: a modal run with -1,
    // the message loop with -1. Negative: wait for ever. Default 30000 ms.
    void setIdleTimeout(int ms) { myIdleTimeout = ms; }
    int modalDepth() const { return myModalDepth; }

    // --- inspection ---
    void setDesktopSize(int w, int h);
    int windowCount();
    cPlatformWindow* windowAt(int index);
    // The last created live window of that kind (-1: any kind), or null.
    cPlatformWindow* lastWindow(int kind = -1);
    cPlatformWindow* findWindow(const char* caption);
    bool alive(cPlatformWindow* window);
    // Whether the window was ever shown since it was made.
    bool everShown(cPlatformWindow* window);
    cPlatformWindow* focusedWindow();
    cPlatformWindow* grabWindow();
    int pointerShape(cPlatformWindow* window);
    long long wakeCount() { return myWakes.total(); }

    // --- snapshots ---
    // Repaints what is invalid, then encodes the window's canvas as an RGB PNG.
    bool snapshotPNG(cPlatformWindow* window, _typebuf<unsigned char>& out);
    bool snapshotPNG(cPlatformWindow* window, const char* path);
    // Encodes top-down 0xAARRGGBB pixels as an 8-bit PNG (RGB, or RGBA with alpha).
    static bool encodePNG(const unsigned int* pixels, int w, int h, bool alpha, _typebuf<unsigned char>& out);

private:
    friend class cHeadlessWindow;
    cHeadlessWindow* live(cPlatformWindow* window);
    cHeadlessWindow* addWindow(cWindowClient* client, int kind, const char* caption, int x, int y, int w, int h,
                               cPlatformWindow* owner, unsigned int flags);
    cHeadlessWindow* inputTarget(cPlatformWindow* window, int& x, int& y);
    bool blocked(cHeadlessWindow* window);
    // A press, key or close request for a window behind a modal run: the innermost shown
    // modal window takes the focus (the user is looking for it).
    void blockedInput(cPlatformWindow* window);
    void setFocus(cHeadlessWindow* window);
    void pointerAt(cHeadlessWindow* window);
    bool runWakeups();
    bool runTimers();
    bool freeDead();
    int loopTurn(sLoopRun& run) override;
    void loopWait(sLoopRun& run) override;

    cWindowBook<cHeadlessWindow> myWindows;  // live, destroyed (freed by the next pump), modal runs
    int myDispatchDepth = 0;                   // windows are freed only at depth 0
    cHeadlessWindow* myGrab = nullptr;
    cHeadlessWindow* myFocus = nullptr;
    cHeadlessWindow* myPointerOver = nullptr;
    long long mySequence = 0;

    cTimerTable<cHeadlessWindow> myTimers;

    _typebuf<int> myAnswers;
    long long myAnswerCount = 0;
    cHeadlessScript* myScript = nullptr;
    int myIdleTimeout = 30000;
    int myModalDepth = 0;

    long long myClock = 1000000;
    cDoubleClickTracker myClicks;
    int myDesktopW = 1920, myDesktopH = 1080;
    _guardchar<char> myClipboard;
    bool myHaveClipboard = false;
};

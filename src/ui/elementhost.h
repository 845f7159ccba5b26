// cElementHost: ties one platform window to the element tree it shows (painting, input
// routing, focus, capture, pointer tracking); cWindowHolder: a popup window held by code.
#pragma once

#include "ciplatform/windowmaker.h"
#include "ui/childelement.h"

class cElementHost : public cWindowClient {
public:
    // The host owns its root unless released (popups that merely show an element).
    cElementHost(cWindowMaker* maker, cChildElement* root, bool ownsRoot);
    ~cElementHost() override;

    cWindowMaker* maker() const { return myMaker; }
    cPlatformWindow* window() const { return myWindow; }
    cChildElement* rootElement() const { return myRoot; }
    cChildElement* focusElement() const { return myFocus; }
    cChildElement* captureElement() const { return myCapture; }
    cChildElement* overElement() const { return myOver; }

    // Binds the window (made by the caller with this host as client), sizes the root to it,
    // gives the root onInitData and onConstruct, and focuses the first tab stop.
    void bind(cPlatformWindow* window);
    // Lets go of the root without deleting it (the window may still be destroyed later).
    void releaseRoot();

    // Moves the focus (nothing when unchanged); the old holder gets processFocusLost.
    bool changeFocus(cChildElement* element);
    void moveFocus(cChildElement* element, int origin, int a, int b);
    void setCapture(cChildElement* element, bool outside);
    void clearCapture();
    // An element of this window is going away (or hiding): drop every reference to it
    // and its descendants.
    void forget(cChildElement* element, bool focusToo);
    // Marks a window rectangle for repainting.
    void invalidate(const sRect* area);

    // --- cWindowClient ---
    void onWindowPaint(cPlatformWindow* window, cCanvas* canvas, const sRect* dirty) override;
    void onWindowMouseButton(cPlatformWindow* window, int x, int y, int button, bool pressed,
                             unsigned int modifiers) override;
    void onWindowMouseDoubleClick(cPlatformWindow* window, int x, int y, int button, unsigned int modifiers) override;
    void onWindowMouseMove(cPlatformWindow* window, int x, int y, unsigned int modifiers) override;
    void onWindowMouseLeave(cPlatformWindow* window) override;
    void onWindowMouseWheel(cPlatformWindow* window, int x, int y, bool towardsStart, bool horizontal, int notches,
                            unsigned int modifiers) override;
    void onWindowKey(cPlatformWindow* window, int key, bool pressed, unsigned int modifiers) override;
    void onWindowChar(cPlatformWindow* window, unsigned int codePoint) override;
    void onWindowFocus(cPlatformWindow* window, bool gained) override;
    void onWindowClose(cPlatformWindow* window) override;
    void onWindowResize(cPlatformWindow* window, int w, int h) override;
    void onWindowWake(cPlatformWindow* window) override;
    void onWindowDestroyed(cPlatformWindow* window) override;

    // The code a close request ends a modal run with.
    static const int kCloseCode = 0;
    // Number of live hosts (the first one fixes the UI thread and the maker woken by actions).
    static int liveHosts();

private:
    friend class cBusyScope;
    friend class cWindowHolder;
    friend class cChildElement;
    void enter() { myBusy++; }
    void leave();
    cChildElement* pointerTarget(int x, int y, int& lx, int& ly);
    void trackOver(cChildElement* element);

    cWindowMaker* myMaker;
    cPlatformWindow* myWindow = nullptr;
    cChildElement* myRoot;
    bool myOwnsRoot;
    cChildElement* myFocus = nullptr;
    cChildElement* myCapture = nullptr;
    cChildElement* myOver = nullptr;
    int myBusy = 0;
    bool myDead = false;  // the window went away while a callback ran
    cWindowHolder* myHolder = nullptr;
};

// A popup window shown for some code: deleting the holder closes the window and leaves
// the content alone; dispose(true) does the same from a content that is being destroyed
// and frees the holder; dispose(false) deletes the content too.
class cWindowHolder {
public:
    cWindowHolder(cElementHost* host) : myHost(host) {}
    ~cWindowHolder();
    cWindowHolder(const cWindowHolder&) = delete;
    cWindowHolder& operator=(const cWindowHolder&) = delete;

    void dispose(bool contentGoing);
    cPlatformWindow* window();
    cChildElement* content();

private:
    friend class cElementHost;
    void close(bool deleteContent);
    cElementHost* myHost;
};

// The window maker's shared parts: the action lock, the choice of maker, the main loop and
// the turns of every loop run, offscreen canvases and double-click detection.
#include "ciplatform/windowmaker.h"

#include <cstdlib>

#include "ciplatform/canvas.h"
#include "ciplatform/headless.h"

cCriticalSection cWindowMaker::gActionSync;

static cWindowMaker::tMakerFactory gDisplayFactory = nullptr;

void cWindowMaker::setDisplayFactory(tMakerFactory factory) { gDisplayFactory = factory; }

cWindowMaker* cWindowMaker::newWindowMaker(const unsigned char* iconData, unsigned int iconSize, int iconDim,
                                           bool forceHeadless) {
    const char* display = getenv("DISPLAY");
    if (!forceHeadless && display && *display && gDisplayFactory)
        if (cWindowMaker* maker = gDisplayFactory(iconData, iconSize, iconDim)) return maker;
    return new cHeadlessWindowMaker();
}

int cWindowMaker::messageLoop() {
    myQuit = false;
    myQuitCode = 0;
    int code = runLoop(myQuit, myQuitCode);
    myQuit = false;
    return code;
}

void cWindowMaker::quit(int code) {
    myQuitCode = code;
    myQuit = true;
    myWakes.channel().signal();
}

int cWindowMaker::runLoop(bool& ended, int& code) {
    sLoopRun run{ended, code, 0};
    while (!ended) {
        int done = loopTurn(run);
        if (!ended && done == 0) loopWait(run);
    }
    return code;
}

cCanvas* cWindowMaker::offscreen(int w, int h) {
    cCanvas* c = new cCanvas();
    if (!c->create(w, h)) {
        delete c;
        return nullptr;
    }
    c->setScale(screenScale());
    return c;
}

bool cDoubleClickTracker::press(int x, int y, int button, long long timeMs) {
    long long dx = (long long)x - myX, dy = (long long)y - myY;
    bool dbl = myHave && button == myButton && timeMs - myTime >= 0 && timeMs - myTime <= kIntervalMs &&
               dx <= kDistance && dx >= -kDistance && dy <= kDistance && dy >= -kDistance;
    if (dbl) {
        myHave = false;  // a third press starts a new pair
    } else {
        myHave = true;
        myX = x;
        myY = y;
        myButton = button;
        myTime = timeMs;
    }
    return dbl;
}

// What every window maker's loop keeps besides its windows: the wake-up requests that
// any thread may post, and the window timers that fire on the UI thread; and the steps of
// a loop pass both makers take alike.
#pragma once

#include <cstring>
#include <ctime>

#include "base/buffers.h"
#include "base/geometry.h"
#include "base/sync.h"
#include "ciplatform/wakeup.h"

class cPlatformWindow;

template <class T>
bool appendTo(_typebuf<T>& buf, long long& n, T v) {
    if (n >= buf.count && !buf.reset(buf.count ? buf.count * 2 : 8)) return false;
    buf.ptr[n++] = v;
    return true;
}

template <class T>
void removeFrom(_typebuf<T>& buf, long long& n, long long i) {
    for (long long k = i + 1; k < n; k++) buf.ptr[k - 1] = buf.ptr[k];
    n--;
}

// Adds `area` (null: the whole w x h window), cut to the window, to what a window must
// repaint: `dirty` grows to the bounding box of both; an empty cut changes nothing.
inline void addDirtyArea(sArea& dirty, bool& isDirty, const sRect* area, int w, int h) {
    sArea a = {0, 0, w, h};
    if (area) {
        long long l = area->x, t = area->y, r = l + (area->w > 0 ? area->w : 0), b = t + (area->h > 0 ? area->h : 0);
        a.left = (int)(l < 0 ? 0 : (l > a.right ? a.right : l));
        a.top = (int)(t < 0 ? 0 : (t > a.bottom ? a.bottom : t));
        a.right = (int)(r < a.left ? a.left : (r > a.right ? a.right : r));
        a.bottom = (int)(b < a.top ? a.top : (b > a.bottom ? a.bottom : b));
    }
    if (a.left >= a.right || a.top >= a.bottom) return;
    if (!isDirty) {
        dirty = a;
        isDirty = true;
        return;
    }
    if (a.left < dirty.left) dirty.left = a.left;
    if (a.top < dirty.top) dirty.top = a.top;
    if (a.right > dirty.right) dirty.right = a.right;
    if (a.bottom > dirty.bottom) dirty.bottom = a.bottom;
}

// The bytes of a text handed to clipboardCopyText: up to its 0, or (bytes >= 0) a count
// that includes the terminator, never read past it or past a 0.
inline long long clipboardTextLength(const char* text, long long bytes) {
    long long n = 0;
    if (bytes < 0) {
        while (text[n]) n++;
    } else {
        long long limit = bytes > 0 ? bytes - 1 : 0;
        while (n < limit && text[n]) n++;
    }
    return n;
}

// Windows woken since the loop last looked. Every member is safe from any thread.
class cWakeRequests {
public:
    // Records a wake-up of `window` (null: every window) and signals the loop. A window
    // that cannot be listed (no memory) turns the request into one for every window.
    void add(cPlatformWindow* window) {
        {
            cSafeCriticalSectionAccess guard(&myLock);
            myTotal++;
            if (!window) {
                myAll = true;
            } else {
                bool have = false;
                for (long long i = 0; i < myCount && !have; i++) have = myList.ptr[i] == window;
                if (!have && !appendTo(myList, myCount, window)) myAll = true;
            }
        }
        myChannel.signal();
    }
    // Takes what was asked since the last take; false when nothing was.
    bool take(bool& all, _typebuf<cPlatformWindow*>& list, long long& n) {
        myChannel.drain();
        cSafeCriticalSectionAccess guard(&myLock);
        all = myAll;
        myAll = false;
        list.swap(myList);
        n = myCount;
        myCount = 0;
        return all || n > 0;
    }
    // A destroyed window is never handed out.
    void forget(cPlatformWindow* window) {
        cSafeCriticalSectionAccess guard(&myLock);
        for (long long i = myCount - 1; i >= 0; i--)
            if (myList.ptr[i] == window) removeFrom(myList, myCount, i);
    }
    bool pending() {
        cSafeCriticalSectionAccess guard(&myLock);
        return myAll || myCount > 0;
    }
    // Requests ever made, for tests that wait for one.
    long long total() {
        cSafeCriticalSectionAccess guard(&myLock);
        return myTotal;
    }
    cWakeChannel& channel() { return myChannel; }

private:
    cWakeChannel myChannel;
    cCriticalSection myLock;
    bool myAll = false;
    _typebuf<cPlatformWindow*> myList;
    long long myCount = 0;
    long long myTotal = 0;
};

// Timers of the windows of one maker, by window and id, on the loop's own clock (ms).
template <class W>
class cTimerTable {
public:
    // Sets or resets the timer; the first firing is `ms` from `now`.
    bool set(W* window, int id, int ms, bool repeat, long long now) {
        for (long long i = 0; i < myCount; i++)
            if (myTimers.ptr[i].window == window && myTimers.ptr[i].id == id) {
                myTimers.ptr[i] = {window, id, ms, repeat, now + ms};
                return true;
            }
        return appendTo(myTimers, myCount, sTimer{window, id, ms, repeat, now + ms});
    }
    void kill(const cPlatformWindow* window, int id) {
        for (long long i = myCount - 1; i >= 0; i--)
            if (myTimers.ptr[i].window == window && myTimers.ptr[i].id == id) removeFrom(myTimers, myCount, i);
    }
    // Every timer of the window.
    void forget(const cPlatformWindow* window) {
        for (long long i = myCount - 1; i >= 0; i--)
            if (myTimers.ptr[i].window == window) removeFrom(myTimers, myCount, i);
    }
    // The earliest due time, or -1 without timers.
    long long nextDue() const {
        long long due = -1;
        for (long long i = 0; i < myCount; i++)
            if (due < 0 || myTimers.ptr[i].due < due) due = myTimers.ptr[i].due;
        return due;
    }
    // Fires the timers due at `now`, earliest first, through fire(window, id). The callbacks
    // may set or kill timers; a repeating timer that fell behind is due a period from now,
    // and a pass fires at most 1000 times, so a 1 ms timer cannot hold the loop.
    template <class F>
    bool runDue(long long now, F fire) {
        bool any = false;
        for (int guard = 0; guard < 1000; guard++) {
            long long pick = -1;
            for (long long i = 0; i < myCount; i++)
                if (myTimers.ptr[i].due <= now && (pick < 0 || myTimers.ptr[i].due < myTimers.ptr[pick].due)) pick = i;
            if (pick < 0) break;
            sTimer t = myTimers.ptr[pick];
            if (t.repeat) {
                long long due = t.due + t.period;
                myTimers.ptr[pick].due = due <= now ? now + t.period : due;
            } else {
                removeFrom(myTimers, myCount, pick);
            }
            any = true;
            fire(t.window, t.id);
        }
        return any;
    }

private:
    struct sTimer {
        W* window;
        int id;
        int period;
        bool repeat;
        long long due;
    };
    _typebuf<sTimer> myTimers;
    long long myCount = 0;
};

// The windows of one maker: the live ones in creation order, the destroyed ones kept until
// no callback can hold them any more, and the stack of modal runs. W has myDead, myEnded
// (its modal run has ended), myVisible, mySeq (creation order) and myOwner.
template <class W>
class cWindowBook {
public:
    long long count() const { return myCount; }
    W* at(long long i) const { return myLive.ptr[i]; }
    bool add(W* window) { return appendTo(myLive, myCount, window); }
    // The live window `window` is, or null for a destroyed or unknown one.
    W* live(const cPlatformWindow* window) const {
        if (!window) return nullptr;
        for (long long i = 0; i < myCount; i++)
            if (myLive.ptr[i] == window) return myLive.ptr[i];
        return nullptr;
    }
    // Takes a window off the live list: the first step of destroying it.
    void unlist(W* window) {
        for (long long i = 0; i < myCount; i++)
            if (myLive.ptr[i] == window) {
                removeFrom(myLive, myCount, i);
                return;
            }
    }
    // Windows owned by `window` lose their owner.
    void disown(const W* window) {
        for (long long i = 0; i < myCount; i++)
            if (myLive.ptr[i]->myOwner == window) myLive.ptr[i]->myOwner = nullptr;
    }
    // Keeps a destroyed window until freeDead.
    void bury(W* window) { appendTo(myDead, myDeadCount, window); }
    // Frees the destroyed windows; the maker calls it when no callback is running.
    void freeDead() {
        for (long long i = 0; i < myDeadCount; i++) delete myDead.ptr[i];
        myDeadCount = 0;
    }
    // Calls f(window) for each window live now that is still live when its turn comes
    // (callbacks may create and destroy windows).
    template <class F>
    void forEachLive(F f) {
        _typebuf<W*> copy;
        long long m = myCount;
        if (m <= 0 || !copy.set(m)) return;
        memcpy(copy.ptr, myLive.ptr, (size_t)m * sizeof(W*));
        for (long long i = 0; i < m; i++)
            if (W* w = live(copy.ptr[i])) f(w);
    }

    // A modal run of `window` begins; false without memory.
    bool pushModal(W* window) { return appendTo(myModal, myModalCount, window); }
    // The run of `window` has returned (nested runs have already left the stack).
    void popModal(const W* window) {
        for (long long i = myModalCount - 1; i >= 0; i--)
            if (myModal.ptr[i] == window) {
                removeFrom(myModal, myModalCount, i);
                return;
            }
    }
    // The innermost running modal window that is shown (null when none is).
    W* shownModal() const {
        for (long long i = myModalCount - 1; i >= 0; i--) {
            W* m = myModal.ptr[i];
            if (!m->myDead && !m->myEnded && m->myVisible) return m;
        }
        return nullptr;
    }
    // Windows older than the innermost running modal window get no input.
    bool blocked(const W* window) const {
        if (!window) return false;
        for (long long i = myModalCount - 1; i >= 0; i--) {
            const W* m = myModal.ptr[i];
            if (m->myDead || m->myEnded) continue;
            return window != m && window->mySeq < m->mySeq;
        }
        return false;
    }

private:
    _typebuf<W*> myLive;
    long long myCount = 0;
    _typebuf<W*> myDead;
    long long myDeadCount = 0;
    _typebuf<W*> myModal;
    long long myModalCount = 0;
};

// The loops' clock: milliseconds of the monotonic clock.
inline long long monotonicMs() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

// How long a loop with nothing to do waits: at most `most` ms, less when the next timer
// (due, -1: none) is due sooner after `now`.
inline long long loopWaitMs(long long most, long long due, long long now) {
    if (due >= 0 && due - now < most) return due < now ? 0 : due - now;
    return most;
}

// Keeps windows from being freed while a client callback runs.
struct sDispatch {
    int& depth;
    explicit sDispatch(int& d) : depth(d) { depth++; }
    ~sDispatch() { depth--; }
};

// Calls onWindowWake for the windows of `book` woken since the last call (all of them for
// a request without a window); false when none was.
template <class W>
bool runWakeRequests(cWakeRequests& wakes, cWindowBook<W>& book, int& depth) {
    bool all;
    _typebuf<cPlatformWindow*> list;
    long long n;
    if (!wakes.take(all, list, n)) return false;
    sDispatch d(depth);
    if (all) {
        book.forEachLive([](W* w) {
            if (w->myClient) w->myClient->onWindowWake(w);
        });
    } else {
        for (long long i = 0; i < n; i++)
            if (W* w = book.live(list.ptr[i]))
                if (w->myClient) w->myClient->onWindowWake(w);
    }
    return true;
}

// Calls onWindowTimer for the timers due at `now` (see cTimerTable::runDue); false when
// none was.
template <class W>
bool fireDueTimers(cTimerTable<W>& timers, long long now, int& depth) {
    return timers.runDue(now, [&depth](W* w, int id) {
        if (w->myClient && !w->myDead) {
            sDispatch d(depth);
            w->myClient->onWindowTimer(w, id);
        }
    });
}

// Repaints what is dirty in the live windows; how many painted.
template <class W>
int paintLiveWindows(cWindowBook<W>& book, int& depth) {
    int done = 0;
    sDispatch d(depth);
    book.forEachLive([&done](W* w) {
        if (w->paint()) done++;
    });
    return done;
}

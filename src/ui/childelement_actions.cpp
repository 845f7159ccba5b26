// cChildElement's cross-thread actions: one FIFO of queued actions and a registry of
// live elements, both under cWindowMaker::gActionSync; the UI thread drains the FIFO.
#include <pthread.h>

#include "base/fastertreelist.h"
#include "ciplatform/windowmaker.h"
#include "ui/childelement.h"
#include "ui/elementhost.h"

// What a blocked sender waits on; lives on the sender's stack.
struct sWait {
    cEvent event{true, false};
    bool handled = false;
};

// A repaint asked for off the UI thread, carried to it through the queue.
class cRepaintRequest : public cChildElement::cChildAction {
public:
    explicit cRepaintRequest(const sRect* area) : cChildAction(-1) {
        if (area) {
            all = false;
            rect = *area;
        }
    }
    bool all = true;
    sRect rect = {0, 0, 0, 0};
};

struct sActionQueue {
    cFasterTreeList<cChildElement*, char> live;
    // The maker of every live host (one entry per host): wake-ups go to the newest
    // maker that still has a host, never to one whose hosts are all gone.
    _typebuf<cWindowMaker*> hostMakers;
    long long hostMakerCount = 0;
    cChildElement::cChildAction* head = nullptr;
    cChildElement::cChildAction* tail = nullptr;
    long long seq = 0;
    cWindowMaker* wakeMaker = nullptr;
    int hosts = 0;
    bool haveUI = false;
    pthread_t uiThread;

    // Kept for the life of the process: elements may outlive static destruction order.
    static sActionQueue& get() {
        static sActionQueue* q = new sActionQueue;
        return *q;
    }
    static cChildElement::cChildAction* nextOf(cChildElement::cChildAction* a) {
        return static_cast<cChildElement::cChildAction*>(a->next);
    }
    static void drop(cChildElement::cChildAction* a) {
        if (a->sent()) static_cast<cChildElement::cSentChildAction*>(a)->release(false);
        delete a;
    }
    static void hostCreated(cWindowMaker* maker);
    static void hostDestroyed(cWindowMaker* maker);
};

void sActionQueue::hostCreated(cWindowMaker* maker) {
    sActionQueue& q = get();
    cSafeCriticalSectionAccess lock(&cWindowMaker::gActionSync);
    q.hosts++;
    q.wakeMaker = maker;
    if (q.hostMakerCount < q.hostMakers.count ||
        q.hostMakers.reset(q.hostMakers.count ? q.hostMakers.count * 2 : 8))
        q.hostMakers.ptr[q.hostMakerCount++] = maker;
    if (!q.haveUI) {
        q.haveUI = true;
        q.uiThread = pthread_self();
    }
}

void sActionQueue::hostDestroyed(cWindowMaker* maker) {
    sActionQueue& q = get();
    cSafeCriticalSectionAccess lock(&cWindowMaker::gActionSync);
    if (q.hosts > 0) q.hosts--;
    for (long long i = q.hostMakerCount - 1; i >= 0; i--)
        if (q.hostMakers.ptr[i] == maker) {
            for (long long k = i + 1; k < q.hostMakerCount; k++) q.hostMakers.ptr[k - 1] = q.hostMakers.ptr[k];
            q.hostMakerCount--;
            break;
        }
    q.wakeMaker = q.hosts > 0 && q.hostMakerCount > 0 ? q.hostMakers.ptr[q.hostMakerCount - 1] : nullptr;
}

// Bridges for the host (it may not see sActionQueue's layout elsewhere).
void uiHostCreated(cWindowMaker* maker) { sActionQueue::hostCreated(maker); }
void uiHostDestroyed(cWindowMaker* maker) { sActionQueue::hostDestroyed(maker); }
int uiLiveHosts() {
    cSafeCriticalSectionAccess lock(&cWindowMaker::gActionSync);
    return sActionQueue::get().hosts;
}

cChildElement::cSentChildAction::~cSentChildAction() { release(false); }

void cChildElement::cSentChildAction::release(bool handled) {
    sWait* w = myWait;
    if (!w) return;
    myWait = nullptr;
    w->handled = handled;
    w->event.set();  // the sender may return (and free w) from here on
}

void cChildElement::registerLive(cChildElement* element) {
    cSafeCriticalSectionAccess lock(&cWindowMaker::gActionSync);
    sActionQueue::get().live.insert(element);
}

void cChildElement::unregisterLive(cChildElement* element) {
    sActionQueue& q = sActionQueue::get();
    cChildAction* dropped = nullptr;
    {
        cSafeCriticalSectionAccess lock(&cWindowMaker::gActionSync);
        q.live.dettach(element);
        cChildAction* prev = nullptr;
        for (cChildAction* a = q.head; a;) {
            cChildAction* next = sActionQueue::nextOf(a);
            if (a->myTarget == element) {
                if (prev)
                    prev->next = next;
                else
                    q.head = next;
                if (q.tail == a) q.tail = prev;
                a->next = dropped;
                dropped = a;
            } else {
                prev = a;
            }
            a = next;
        }
    }
    // Outside the lock: a destructor may queue actions itself.
    while (dropped) {
        cChildAction* next = sActionQueue::nextOf(dropped);
        dropped->next = nullptr;
        sActionQueue::drop(dropped);
        dropped = next;
    }
}

bool cChildElement::alive(cChildElement* element) {
    if (!element) return false;
    cSafeCriticalSectionAccess lock(&cWindowMaker::gActionSync);
    return sActionQueue::get().live.find(element) != nullptr;
}

bool cChildElement::isUIThread() {
    sActionQueue& q = sActionQueue::get();
    cSafeCriticalSectionAccess lock(&cWindowMaker::gActionSync);
    return q.haveUI && pthread_equal(q.uiThread, pthread_self());
}

bool cChildElement::queueAction(cChildElement* target, cChildAction* action, bool ownOnly) {
    sActionQueue& q = sActionQueue::get();
    {
        cSafeCriticalSectionAccess lock(&cWindowMaker::gActionSync);
        // `target` is only compared until the registry vouches for it.
        if (q.live.find(target)) {
            action->myTarget = target;
            action->myOwnOnly = ownOnly;
            action->mySeq = ++q.seq;
            action->next = nullptr;
            if (q.tail)
                q.tail->next = action;
            else
                q.head = action;
            q.tail = action;
            if (q.wakeMaker) q.wakeMaker->wake(nullptr);
            return true;
        }
    }
    sActionQueue::drop(action);
    return false;
}

bool cChildElement::notifyAction(cChildAction* action) {
    if (!action) action = new cChildAction(eActClick);
    return queueAction(this, action, false);
}

bool cChildElement::postAction(cChildAction* action) {
    if (!action) action = new cChildAction(eActClick);
    return queueAction(this, action, true);
}

bool cChildElement::sendAction(cSentChildAction* action) {
    if (!action) return false;
    sWait wait;
    action->myWait = &wait;
    bool onUI = isUIThread();
    if (!queueAction(this, action, false)) return false;
    if (onUI) {
        // Blocking here would wait for ourselves: deliver what is queued (in order) instead.
        for (int round = 0; round < 64 && !wait.event.isSet(); round++) processActions();
        if (!wait.event.isSet()) wait.event.wait(-1);
    } else {
        wait.event.wait(-1);
    }
    return wait.handled;
}

int cChildElement::processActions() {
    sActionQueue& q = sActionQueue::get();
    long long last;
    {
        cSafeCriticalSectionAccess lock(&cWindowMaker::gActionSync);
        if (!q.haveUI) {
            q.haveUI = true;
            q.uiThread = pthread_self();
        }
        last = q.seq;
    }
    int delivered = 0;
    // Only what was queued before this call: actions queued by handlers wait for the next
    // turn, so a handler that re-posts itself cannot starve the loop.
    for (;;) {
        cChildAction* a;
        {
            cSafeCriticalSectionAccess lock(&cWindowMaker::gActionSync);
            a = q.head;
            if (!a || a->mySeq > last) break;
            q.head = sActionQueue::nextOf(a);
            if (!q.head) q.tail = nullptr;
            a->next = nullptr;
        }
        deliver(a);
        delivered++;
    }
    return delivered;
}

void cChildElement::deliver(cChildAction* a) {
    // Finishes the action on every way out, an exception from a handler included.
    struct sFinish {
        cChildAction* a;
        bool handled;
        ~sFinish() {
            if (a->sent()) static_cast<cSentChildAction*>(a)->release(handled);
            delete a;
        }
    } finish{a, false};

    cChildElement* target = a->myTarget;
    if (!alive(target)) return;
    finish.handled = true;
    if (a->myInternal) {
        cRepaintRequest* r = static_cast<cRepaintRequest*>(a);
        target->invalidateArea(r->all ? nullptr : &r->rect);
        return;
    }
    for (cChildElement* cur = target; cur;) {
        cChildElement* up = cur->myParent;
        if (cur->onAction(target, a)) break;
        // A handler may have deleted the sender (or its whole branch): parents would be
        // handed a dangling sender, so the action ends where it is.
        if (a->myOwnOnly || !up || !alive(target) || !alive(up)) break;
        // The element may have been re-parented by its handler; go on from where it was.
        cur = up;
    }
    a->actionDone();
}

void cChildElement::repaint(sRect* area) {
    if (isUIThread()) {
        invalidateArea(area);
        return;
    }
    // Off the UI thread: never touch the tree or the window, let the UI thread do it.
    cRepaintRequest* r = new cRepaintRequest(area);
    r->myInternal = true;
    queueAction(this, r, true);
}

void cChildElement::invalidateArea(const sRect* area) {
    if (!visible()) return;
    cElementHost* h = host();
    if (!h) return;
    sRect r = {0, 0, myW, myH};
    if (area) {
        int l = area->x > 0 ? area->x : 0, t = area->y > 0 ? area->y : 0;
        long long rr = (long long)area->x + area->w, bb = (long long)area->y + area->h;
        int ri = rr < myW ? (int)rr : myW, bi = bb < myH ? (int)bb : myH;
        if (ri <= l || bi <= t) return;
        r = {l, t, ri - l, bi - t};
    }
    if (r.w <= 0 || r.h <= 0) return;
    sPoint p;
    windowPos(p);
    r.x += p.x;
    r.y += p.y;
    h->invalidate(&r);
}

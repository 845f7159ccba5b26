// cNavigationChild, its provider, history and estimated progress.
#include "ui/controls/navigation.h"

#include <cmath>
#include <cstring>

#include "base/folders.h"
#include "ui/theme.h"

namespace {
cPicturesList* toolsPicts() {
    static cPicturesList* list = new cPicturesList;
    return list;
}
cPicturesList* toolsPictsActive() {
    static cPicturesList* list = new cPicturesList;
    return list;
}
bool gPictsFilled = false;
}  // namespace

// ---- history ----

void cNavigationHistory::init() {
    myByVisit.destroy();
    myByPath.destroy();
}

void cNavigationHistory::setVisited(const char* path) {
    if (!path) return;
    cStringKey key(path);
    int* old = myByPath.find(key);
    if (old) {
        myByVisit.dettach(*old);
        myByPath.dettach(key);
    }
    auto* last = myByVisit.last();
    int visit = last ? last->key() + 1 : 0;
    myByVisit.insert(visit)->set(path);
    *myByPath.insert(key) = visit;
}

void* cNavigationHistory::next(void* iterator, _guardchar<char>& path) {
    typedef cFasterTreeList<int, _guardchar<char> >::sEntry tEntry;
    tEntry* e = iterator ? myByVisit.prev((tEntry*)iterator) : myByVisit.last();
    path.set(e ? e->value().ptr : nullptr);
    return e;
}

// ---- estimated progress ----

cFakeNavigationProgressJob::~cFakeNavigationProgressJob() { terminate(4000); }

void cFakeNavigationProgressJob::startProgress(cChildElement* target) {
    myTarget.store(target);
    myRun.fetch_add(1);
    myValue.store(0.0);
    if (!runs()) start();
}

bool cFakeNavigationProgressJob::endProgress() {
    myValue.store(-1.0);
    int run = myRun.fetch_add(1) + 1;
    cChildElement* target = myTarget.load();
    if (target) target->postAction(new cNavigationChild::cNaviFakeProgressRecvAction(1.0, run));
    return true;
}

unsigned int cFakeNavigationProgressJob::job() {
    int sleeps = 0;
    while (!haveToStop()) {
        sleep(5);
        if (haveToStop()) break;
        if (++sleeps < 40) continue;
        sleeps = 0;
        int run = myRun.load();
        double v = myValue.load();
        if (v < 0) continue;
        cChildElement* target = myTarget.load();
        if (v >= 0.25 && target)
            target->postAction(
                new cNavigationChild::cNaviFakeProgressRecvAction(0.6366197723675814 * std::atan(v - 0.25), run));
        // Only this run's value grows: an end (-1) or a restart (0) meanwhile stands.
        if (myRun.load() == run) myValue.compare_exchange_strong(v, v + 0.05);
    }
    return 0;
}

// ---- provider ----

cNavigationProvider::~cNavigationProvider() { terminate(4000); }

bool cNavigationProvider::asyncNavigate(cNavigationChild* bar, const char* path) {
    if (!path || busy()) return false;
    myBar = bar;
    myPath.set(path);
    myFinished.store(false);
    if (start()) return true;
    myFinished.store(true);
    return false;
}

unsigned int cNavigationProvider::job() { return navigationProc(myPath.ptr ? myPath.ptr : ""); }

void cNavigationProvider::onJobEnd(unsigned int result) {
    myFinished.store(true);
    if (myBar) myBar->postAction(new cNavigationChild::cNaviDoneAction((int)result));
    onNavigationDone((int)result);
}

// ---- the bar ----

cNavigationChild::~cNavigationChild() {
    myJob.terminate(4000);
    myTokens.destroy();
}

void cNavigationChild::setFolderIncon(cPicture* picture) {
    toolsPicts()->storeImage(0, picture);
    toolsPictsActive()->refImage(0, picture);
}

void cNavigationChild::refFolderIncon(cPicture* picture) {
    toolsPicts()->refImage(0, picture);
    toolsPictsActive()->refImage(0, picture);
}

void cNavigationChild::onInitData() {
    cChildElement::onInitData();
    if (!gPictsFilled) {
        gPictsFilled = true;
        cCITheme* t = cCITheme::theme();
        toolsPicts()->refImage(0, t->getPict(48));
        toolsPicts()->refImage(1, t->getPict(145));
        toolsPictsActive()->refImage(0, t->getPict(48));
        toolsPictsActive()->refImage(1, t->getPict(146));
    }
    myProvider = nullptr;
    myMode = nmNormal;
    setMinSize(0, 22);
    setMaxSize(0x7FFFFFFF, 22);
    attach(&myEdit, 0, 0, 1, 1);
    anchor(&myEdit, 0, 0, -1, -1);
    attach(&myProgress, 0, 0, 1, 1);
    anchor(&myProgress, 0, 0, -1, -1);
    myEdit.hide(false);
    myProgress.setRange(1000);
    myProgress.attach(&mySegments, 0, 0, 1, 1);
    myProgress.anchor(&mySegments, 0, 0, -1, -1);
    mySegments.setTransparent(true);
    mySegments.setImageList(cButtonChild::stNormal, toolsPicts());
    mySegments.setImageList(cButtonChild::stFocused, toolsPictsActive());
    mySegments.setSmallerSizeBehavior(cToolBarChild::ssbCollapseMiddle);
    mySegments.setHideFrom(1);
    myRootSlash = true;
    myHistory.init();
}

const char* cNavigationChild::segmentPath(int id) {
    sStrToken* t = myTokens.find(id);
    return t ? t->path.ptr : nullptr;
}

const char* cNavigationChild::segmentText(int id) {
    sStrToken* t = myTokens.find(id);
    return t ? t->text.ptr : nullptr;
}

void cNavigationChild::build() {
    mySegments.removeAll(true);
    myTokens.destroy();
    const char* p = myPath.ptr;
    if (!p) return;
    int id = 1;
    long long i = 0, n = (long long)strlen(p);
    if (p[0] == '/') {
        if (myRootSlash) {
            sStrToken* t = myTokens.insert(1);
            t->text.set("/");
            t->path.set("/");
        }
        id = 2;
        while (i < n && p[i] == '/') i++;
    }
    while (i < n) {
        long long s = i;
        while (i < n && p[i] != '/') i++;
        sStrToken* t = myTokens.insert(id++);
        t->text.set(p + s, i - s);
        t->path.set(p, i);
        while (i < n && p[i] == '/') i++;
    }
    mySegments.setButton(0, "", 0);
    for (auto* e = myTokens.first(); e; e = myTokens.next(e)) mySegments.setButton(e->key(), e->value().text.ptr, 1);
    repaint();
}

bool cNavigationChild::setPath(const char* path) {
    myPath.set(path);
    if (path) myHistory.setVisited(path);
    build();
    return true;
}

void cNavigationChild::setShowRootSlash(bool on) {
    myRootSlash = on;
    build();
}

void cNavigationChild::setPassiveColor(unsigned int colour, bool repaint) {
    myProgress.setPassiveBgColor(colour, repaint);
}

void cNavigationChild::clearHist() {
    myEdit.clear();
    myHistory.init();
}

bool cNavigationChild::navigate(const char* path) {
    // The path may be the caller's own copy of ours (a segment's): copied first. Every way
    // in (typed, stored, a row) shows the folder as it is meant, never a ".." segment.
    _guardchar<char> copy(path);
    resolveDotParts(copy.ptr);
    if (myProvider) {
        if (!myProvider->canAcceptPath(copy.ptr)) return false;
        if (!myProvider->asyncNavigate(this, copy.ptr)) return false;
    } else {
        notifyAction(new cNaviSetPathAction(copy.ptr));
    }
    setPath(copy.ptr);
    goProgressMode();
    return true;
}

void cNavigationChild::goProgressMode() {
    myMode = nmProgress;
    myProgress.show();
    myEdit.hide();
    mySegments.disable();
    myJob.startProgress(this);
}

void cNavigationChild::goNormalMode() {
    myMode = nmNormal;
    myJob.endProgress();
    myEdit.hide();
    mySegments.enable();
    myProgress.show();
}

void cNavigationChild::goEditMode() {
    myMode = nmEdit;
    myProgress.hide();
    myEdit.clear();
    _guardchar<char> p;
    int i = 0;
    for (void* it = myHistory.next(nullptr, p); it; it = myHistory.next(it, p)) myEdit.setItem(i++, p.ptr, nullptr, -1);
    if (myPath.ptr) myEdit.select(0, false);
    myEdit.show();
    myEdit.focus();
}

bool cNavigationChild::onAction(cChildElement* sender, cChildAction* action) {
    if (!action) return false;
    if (sender == &mySegments) {
        auto* b = dynamic_cast<cToolBarChild::cTbButtonAction*>(action);
        if (action->type == 6 && b) {
            if (b->id == 0) {
                goEditMode();
            } else if (sStrToken* t = myTokens.find(b->id)) {
                _guardchar<char> p;
                p.set(t->path.ptr);
                navigate(p.ptr);
            }
            return true;
        }
        if (action->type == 7) {
            goEditMode();
            return true;
        }
        return false;
    }
    if (sender == &myEdit) {
        if (action->type == 6) {
            _guardchar<char> p;
            p.set(myEdit.text());
            if (p.ptr) cFolderContents::adjustPath(p.ptr);
            navigate(p.ptr);
            return true;
        }
        if (action->type == 7) {
            goNormalMode();
            return true;
        }
        return cChildElement::onAction(sender, action);
    }
    if (sender == this) {
        if (action->type == 7 && dynamic_cast<cNaviDoneAction*>(action)) {
            notifyAction(new cNaviSetPathAction(nullptr));
            return true;
        }
        if (action->type == 9) {
            goNormalMode();
            return true;
        }
        if (auto* f = dynamic_cast<cNaviFakeProgressRecvAction*>(action)) {
            // A fraction of a run that has ended (or been replaced) is stale.
            if (f->run != myJob.run()) return true;
            int pos = (int)(f->fraction * 1000);
            if (f->fraction >= 1.0)
                myProgress.stopProgress(false);
            else if (pos <= 0)
                myProgress.startProgress();
            else
                myProgress.setPos(pos, true);
            return true;
        }
    }
    return cChildElement::onAction(sender, action);
}

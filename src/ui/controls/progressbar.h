// cProgressChild: the horizontal progress bar meant to be driven from job threads. Its
// setters only leave a command for its own animation thread (cProgressViewUpdateJob),
// which slides the position and fades between the passive and the active look by
// posting actions that the UI thread applies.
#pragma once

#include "base/job.h"
#include "base/sync.h"
#include "ciplatform/picture.h"
#include "ui/childelement.h"

class cProgressViewUpdateJob : public cJob {
public:
    enum eCommands { cmdNone = 0, cmdStart = 1, cmdStop = 2, cmdSetPos = 3 };

    cProgressViewUpdateJob() {}
    ~cProgressViewUpdateJob() override;

    void setTarget(cChildElement* target) { myTarget = target; }
    // A start (posting position 0 at once) unless already started.
    void startProgress();
    // Starts, then (unless noWait) waits a bounded time for a pending start or stop to be
    // taken by the thread - not at all when the thread is not running - and leaves the
    // position for it. A set-position command not yet taken is replaced.
    void setPos(int p, bool noWait);
    // Immediate: fade out now. Otherwise fill the bar first (about 200 ms), then fade.
    void stopProgress(bool immediate);
    int setCmd(int cmd);
    void setPosInt(int p);
    void setRangeInt(int r);
    int cmd();
    int currentPos();
    bool started();

    // The longest setPos waits for the thread to take a pending start or stop.
    static const int kMaxWaitMs = 1000;

protected:
    unsigned int job() override;

private:
    bool tick();  // false once the job is asked to stop
    void postPos(int p);
    void postOpacity(double o);

    cChildElement* myTarget = nullptr;
    int myCurrent = 0;
    int myRange = 0;
    volatile int myCmd = cmdNone;
    int myAnimTarget = 0;
    int myRequested = 0;
    bool myStarted = false;
    cCriticalSection myLock;
};

class cProgressChild : public cChildElement {
public:
    class cSetProgressRequestAction : public cChildAction {
    public:
        explicit cSetProgressRequestAction(int pos) : cChildAction(6), pos(pos) {}
        int pos;
    };
    class cSetOpacityRequestAction : public cChildAction {
    public:
        explicit cSetOpacityRequestAction(double opacity) : cChildAction(7), opacity(opacity) {}
        double opacity;
    };

    cProgressChild() {}
    ~cProgressChild() override;

    // Any thread. A range of 0 or less is refused.
    void setRange(int r);
    int range() const { return myRange; }
    void setPos(int p, bool noWait = false);
    // The position the animation last completed (not the shown one).
    int getPos();
    void startProgress() { myJob.startProgress(); }
    void stopProgress(bool immediate) { myJob.stopProgress(immediate); }
    // UI thread.
    void setPassiveBgColor(unsigned int colour, bool repaint);
    void setPassiveBorderColor(unsigned int colour, bool repaint);

    // What is shown now (set only by the animation's actions).
    int shownPos() const { return myPos; }
    double shownOpacity() const { return myOpacity; }
    bool animating() { return myJob.runs(); }
    cPicture* barPicture() { return &myBar; }

    void onPaint(cCanvas* canvas) override;
    bool onBackgroundRequest(cCanvas* canvas, sRect* rect) override;
    void onSizeChanged() override;
    bool onAction(cChildElement* sender, cChildAction* action) override;
    bool wantAcceptFoucs() override { return false; }
    void onInitData() override;

private:
    void buildProgressMap();
    void paintAt(cCanvas* canvas, int x, int y, unsigned int frame);

    cProgressViewUpdateJob myJob;
    int myRange = 0;
    int myPos = 0;
    double myOpacity = 1.0;
    cPicture myBar;
    cPicture myProgressColumn;
    cPicture myBackColumn;
    unsigned int myPassiveBg = 0xFFFFFF;
    unsigned int myPassiveBorder = 0;
};

// Ready-made ways to run a long job with a progress bar, a Stop button and a status line
// (stage, percentage, time used and left): cStdBasicProgressForm is a modal form that is
// itself the job and ends with the job's result; cStdBasicProgressChild is the same as an
// embeddable element that reports the end as action 6. The "unknown" variants add a
// second thread feeding an ever-slowing fake percentage.
//
// Both stop their job and wait for it in their own destructors, before their members go;
// a derived class whose job() uses its own members calls terminate() in its destructor.
#pragma once

#include "base/fastertreelist.h"
#include "base/job.h"
#include "base/progress.h"
#include "base/sync.h"
#include "base/timeutil.h"
#include "ciplatform/picture.h"
#include "ui/controls/progressbar.h"
#include "ui/controls/toolbar.h"
#include "ui/customform.h"
#include "ui/staticelement.h"

// The status-line arithmetic and formatting shared by the form and the child.
class cProgressStatus {
public:
    // A translated format is used only when its conversions are exactly those of the
    // English one; otherwise (or when it is missing) the English one is.
    static const char* checkedFormat(const char* candidate, const char* reference);
    // The line for a report: percent in 0..100, elapsed milliseconds; at most 255 bytes.
    static void format(char* out, long long size, const char* stage, double percent, int barPos,
                       unsigned int elapsed, bool estimate, const char* withEstimate, const char* without);
};

// The stage names and times behind the status line, one per form or child: names are
// set on the UI thread and read on the job's, under one lock.
struct sProgressStages {
    void setName(int stage, const char* name);
    // An own copy: replacing a stored name cannot pull the current one away.
    void setCurrent(const char* name);
    void restart(unsigned int now) {
        start = now;
        updates.restart(0);  // the first report is shown at once
    }
    // Job thread: the stage's stored name (or the owner's word for one) becomes current.
    void enter(cChildElement* owner, int stage, unsigned int now);
    // Job thread: percent (0..100) to the bar and the status line, at most every 501 ms.
    void report(cChildElement* owner, double percent, unsigned int now, bool estimate, cProgressChild& bar,
                cStaticElement& status);

private:
    volatile unsigned int start = 0;
    cTimeGate<unsigned int> updates{501};
    cFasterTreeList<int, _guardchar<char> > myNames;
    _guardchar<char> myCurrent;
    cCriticalSection myLock;
};

class cStdBasicProgressForm : public cCustomForm, public cJob, public cProgressNotifyTarget {
public:
    class cProgressAction : public cChildAction {
    public:
        explicit cProgressAction(int result) : cChildAction(7), result(result) {}
        int result;
    };

    cStdBasicProgressForm();
    ~cStdBasicProgressForm() override;

    // Runs the form modally over the parent (600 x 106); the job's result, or 0 when the
    // parent is null or has no window (the form is then freed).
    int runUIJob(cChildElement* parent, const char* title);
    static int runUIJob(cChildElement* parent, cStdBasicProgressForm* form, const char* title);
    void setStageName(int stage, const char* name);

    // Job thread.
    bool notifyProgress(double percent) override;
    bool notifyStage(int stage) override;

    cStaticElement* statusLine() { return &myStatus; }
    cProgressChild* progressBar() { return &myBar; }
    cToolBarChild* toolBar() { return &myToolBar; }
    void setEstimate(bool on) { myEstimate = on; }

    void onConstruct() override;
    bool onAction(cChildElement* sender, cChildAction* action) override;
    bool onClose() override;
    const char* wantLangResource() override { return "ciom::progress"; }
    void onInitData() override;
    bool onFormCancel() override;

protected:
    void onJobEnd(unsigned int result) override;
    // Milliseconds of the clock the times are measured on (tests replace it).
    virtual unsigned int clockMs();

private:
    cStaticElement myStatus;
    // The tool bar sits inside the bar: it is declared after it, so it goes first.
    cProgressChild myBar;
    cToolBarChild myToolBar;
    sProgressStages myStages;
    bool myEstimate = true;
};

class cStdBasicProgressChild : public cChildElement, public cJob, public cProgressNotifyTarget {
public:
    class cProgressAction : public cChildAction {
    public:
        explicit cProgressAction(int result) : cChildAction(6), result(result) {}
        int result;
    };

    cStdBasicProgressChild();
    ~cStdBasicProgressChild() override;

    // Shows the child, resets the times, takes the title as the stage name and starts the
    // job; whether the thread started.
    bool runUIJob(const char* title);
    static bool runUIJob(cStdBasicProgressChild* child, const char* title);
    void setStageName(int stage, const char* name);

    bool notifyProgress(double percent) override;
    bool notifyStage(int stage) override;

    cStaticElement* statusLine() { return &myStatus; }
    cProgressChild* progressBar() { return &myBar; }
    cToolBarChild* toolBar() { return &myToolBar; }

    bool onAction(cChildElement* sender, cChildAction* action) override;
    bool onClose() override;
    const char* wantLangResource() override { return "ciom::progress"; }
    void onInitData() override;

protected:
    void onJobEnd(unsigned int result) override;
    virtual unsigned int clockMs();
    // Whether runUIJob shows an estimate (a fake percentage gives none worth showing).
    virtual bool wantsEstimate() { return true; }
    bool myEstimate = true;

private:
    cProgressChild myBar;
    cToolBarChild myToolBar;
    sProgressStages myStages;
    cStaticElement myStatus;
};

// Feeds atan(x) * 2 / pi * 100 every 400 ms to its target, x growing by 0.1.
class cUnknownProgressFakeJob : public cJob {
public:
    cUnknownProgressFakeJob() {}
    ~cUnknownProgressFakeJob() override { terminate(4000); }
    void reset() { myX = 0; }
    void setTarget(cProgressNotifyTarget* target) { myTarget = target; }

protected:
    unsigned int job() override;

private:
    volatile double myX = 0;
    cProgressNotifyTarget* volatile myTarget = nullptr;
};

class cStdUnknownProgressForm : public cStdBasicProgressForm {
public:
    cStdUnknownProgressForm() {}
    ~cStdUnknownProgressForm() override;
    void onConstruct() override;

private:
    cUnknownProgressFakeJob myFake;
};

class cStdUnknownProgressChild : public cStdBasicProgressChild {
public:
    cStdUnknownProgressChild() {}
    ~cStdUnknownProgressChild() override;
    void onInitData() override;
    bool notifyStage(int stage) override;

protected:
    void onJobStart() override;
    void onJobEnd(unsigned int result) override;
    bool wantsEstimate() override { return false; }

private:
    cUnknownProgressFakeJob myFake;
};

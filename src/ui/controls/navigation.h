// cNavigationChild: the one-line path bar: path segments as buttons, an edit of visited
// paths, and an estimated progress while a cNavigationProvider reads a folder on its
// worker. cFakeNavigationProgressJob feeds that estimate; cNavigationHistory keeps the
// visited paths, newest first.
#pragma once

#include <atomic>

#include "base/buffers.h"
#include "base/fastertreelist.h"
#include "base/job.h"
#include "base/stringkey.h"
#include "ui/controls/combobox.h"
#include "ui/controls/progressbar.h"
#include "ui/controls/toolbar.h"

class cNavigationChild;

class cNavigationHistory {
public:
    ~cNavigationHistory() { init(); }
    void init();
    // Records the path as the newest visit (an earlier visit of it is forgotten).
    void setVisited(const char* path);
    // Null iterator: the newest entry; then older ones; null after the oldest.
    void* next(void* iterator, _guardchar<char>& path);
    long long count() const { return myByVisit.count(); }

private:
    cFasterTreeList<int, _guardchar<char> > myByVisit;
    cFasterTreeList<cStringKey, int> myByPath;
};

// The estimate: after about 1.2 s it posts fractions rising along (2/pi) atan(v - 0.25),
// v growing by 0.05 every 200 ms. The value, target and run number are atomics, so the
// UI thread's start and end never race the job; every fraction carries the run it
// belongs to and the bar drops those of an ended run.
class cFakeNavigationProgressJob : public cJob {
public:
    cFakeNavigationProgressJob() {}
    ~cFakeNavigationProgressJob() override;
    void startProgress(cChildElement* target);
    bool endProgress();
    int run() const { return myRun.load(); }
    double value() const { return myValue.load(); }

protected:
    unsigned int job() override;

private:
    std::atomic<double> myValue{-1.0};
    std::atomic<cChildElement*> myTarget{nullptr};
    std::atomic<int> myRun{0};
};

// Reads a folder on its own worker; the bar's parent reads the result after the bar
// reported the end.
class cNavigationProvider : public cJob {
public:
    cNavigationProvider() {}
    ~cNavigationProvider() override;
    // False for a null path or while a navigation is still under way.
    virtual bool asyncNavigate(cNavigationChild* bar, const char* path);
    // UI thread, before a navigation starts.
    virtual bool canAcceptPath(const char* path) = 0;
    // Worker thread: reads the path into the provider's own state.
    virtual unsigned int navigationProc(const char* path) = 0;
    // Worker thread, after the done action was posted.
    virtual void onNavigationDone(int result) {}
    bool busy() const { return runs() && !myFinished.load(); }

protected:
    unsigned int job() override;
    void onJobEnd(unsigned int result) override;

private:
    cNavigationChild* myBar = nullptr;
    _guardchar<char> myPath;
    std::atomic<bool> myFinished{true};
};

class cNavigationChild : public cChildElement {
public:
    enum eModes { nmNormal = 0, nmEdit = 1, nmProgress = 2 };

    // Type 6 to the parents: the path to read (navigation without a provider), or null
    // when the provider's navigation ended.
    class cNaviSetPathAction : public cChildAction {
    public:
        explicit cNaviSetPathAction(const char* p) : cChildAction(6) { path.set(p); }
        _guardchar<char> path;
    };
    class cNaviFakeProgressRecvAction : public cChildAction {
    public:
        cNaviFakeProgressRecvAction(double fraction, int run) : cChildAction(8), fraction(fraction), run(run) {}
        double fraction;
        int run;
    };
    class cNaviDoneAction : public cChildAction {
    public:
        explicit cNaviDoneAction(int result) : cChildAction(7), result(result) {}
        int result;
    };
    struct sStrToken {
        _guardchar<char> text;
        _guardchar<char> path;
    };

    cNavigationChild() {}
    ~cNavigationChild() override;

    // After the bar is attached (onInitData forgets the provider).
    void setNavigationProvider(cNavigationProvider* provider) { myProvider = provider; }
    bool navigate(const char* path);
    bool setPath(const char* path);
    const char* path() const { return myPath.ptr; }
    int naviMode() const { return myMode; }
    void setShowRootSlash(bool on);
    void setPassiveColor(unsigned int colour, bool repaint);
    void clearHist();
    static void setFolderIncon(cPicture* picture);
    static void refFolderIncon(cPicture* picture);

    void build();
    void goEditMode();
    void goProgressMode();
    void goNormalMode();

    cToolBarChild* segmentRow() { return &mySegments; }
    cComboBoxChild* pathEdit() { return &myEdit; }
    cProgressChild* progressBar() { return &myProgress; }
    cNavigationHistory* history() { return &myHistory; }
    cFakeNavigationProgressJob* progressJob() { return &myJob; }
    // Segment id -> full path; null when absent.
    const char* segmentPath(int id);
    const char* segmentText(int id);
    int segmentCount() const { return (int)myTokens.count(); }

    bool onAction(cChildElement* sender, cChildAction* action) override;
    bool wantAcceptFoucs() override { return false; }
    void onInitData() override;

private:
    // The row is a child of the bar's progress display, so it is declared after it and
    // destroyed before it.
    cProgressChild myProgress;
    cToolBarChild mySegments;
    cComboBoxChild myEdit;
    bool myRootSlash = true;
    cNavigationHistory myHistory;
    _guardchar<char> myPath;
    cFakeNavigationProgressJob myJob;
    cNavigationProvider* myProvider = nullptr;
    cFasterTreeList<int, sStrToken> myTokens;
    int myMode = nmNormal;
};

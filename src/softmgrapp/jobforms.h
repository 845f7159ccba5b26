// The windowed side of installation and uninstallation: the job panel with its stages
// and progress bar, the installation job panel, the loading form of the installation
// start, the uninstallation form, the windowless message form, and the message boxes they
// show. Jobs never open a window: their questions are sent actions to the form that hosts
// them, answered on the UI thread (the language question by cLangSelectionForm).
#pragma once

#include <atomic>

#include "base/job.h"
#include "base/progress.h"
#include "base/strings.h"
#include "base/timeutil.h"
#include "instengine/installctx.h"
#include "instengine/journalrecovery.h"
#include "instengine/uninstall.h"
#include "softmgrapp/appboxes.h"
#include "softmgrapp/appcontrols.h"
#include "softmgrapp/appmessages.h"
#include "ui/customform.h"
#include "ui/panelchild.h"
#include "ui/staticelement.h"

class cApplicationConfig;
class cWindowMaker;

// Action types of the jobs' traffic. A type is read by the form it is sent to, so one
// number can stand for another question at another form: each name has one meaning.
enum eJobActionTypes {
    eJobStarted = 6,
    eJobEnded = 7,
    eJobAskLang = 8,            // the language question (cRespondLangAction)
    eJobAskInstallRelease = 8,  // the installation job's busy file, to the wizard (cAskReleaseAction)
    eJobConfirmRemoval = 8,     // the manager removal's question, to its form (cJobConfirmAction)
    eJobConfirm = 9,            // the uninstallation's yes/no question (cJobConfirmAction)
    eJobAskRelease = 10,        // the uninstallation's busy file (cAskReleaseAction)
    eJobApplyLang = 11,         // a job asks the UI thread to apply a language (cApplyLangAction)
    eCarrierShow = 12,          // a carrier form shows itself again (posted to itself)
    eJobOwnRemoval = 13,        // the removal panel's job asks for a removal in this process
};

// The jobs' questions, sent actions answered by the hosting form through their pointers.

// The language question (type 8): the form overwrites *lang with the user's choice, a
// number above 10 when the question was cancelled.
class cRespondLangAction : public cChildElement::cSentChildAction {
public:
    cRespondLangAction(int* lang, const _List<int>* langs, const char* code)
        : cSentChildAction(eJobAskLang), lang(lang), langs(langs), code(code) {}
    int* lang;                // in: preselected; out: chosen
    const _List<int>* langs;  // offered languages
    const char* code;         // the package's code name
};

// A file that could not be moved or removed (eJobAskInstallRelease from the installation
// job to the wizard, eJobAskRelease from the uninstallation to its form): the form asks
// whether to try again and sets *giveUp when the user declines; without a path it gives
// up at once.
class cAskReleaseAction : public cChildElement::cSentChildAction {
public:
    cAskReleaseAction(int type, bool* giveUp, const char* path) : cSentChildAction(type), giveUp(giveUp) {
        this->path.set(path);
    }
    bool* giveUp;
    _guardchar<char> path;
};

// A yes/no question of the uninstallation (eJobConfirm) or of the manager's removal
// (eJobConfirmRemoval): *yes gets the answer to the question (an eJobQuestion).
class cJobConfirmAction : public cChildElement::cSentChildAction {
public:
    cJobConfirmAction(int type, bool* yes, int question) : cSentChildAction(type), yes(yes), question(question) {}
    bool* yes;
    int question;
};

// A job asks the UI thread to apply a language (type 11); *applied becomes that
// language when it was applied.
class cApplyLangAction : public cChildElement::cSentChildAction {
public:
    cApplyLangAction(int lang, int* applied) : cSentChildAction(eJobApplyLang), lang(lang), applied(applied) {}
    int lang;
    int* applied;
};

// A job's end, posted with its result.
class cJobEndAction : public cChildElement::cChildAction {
public:
    explicit cJobEndAction(unsigned int result) : cChildAction(eJobEnded), result(result) {}
    unsigned int result;
};

// Sends a job's questions to a hosting element and waits for the UI thread's answer.
class cSentAsker : public cJobAsker {
public:
    explicit cSentAsker(cChildElement* host = nullptr) : host(host) {}
    int askLang(const _List<int>& langs, int current, const char* code) override;
    bool applyLang(int lang) override;
    bool askRetry(const char* path, bool removing) override;
    bool confirm(int question) override;
    cChildElement* host;
    int releaseType = eJobAskRelease;  // the installation job's busy file: eJobAskInstallRelease
    int confirmType = eJobConfirm;     // the manager removal's question: eJobConfirmRemoval
};

// Applies the language a job asks for (cApplyLangAction) on the UI thread; false for
// any other action.
bool applyAskedLang(cChildElement::cChildAction* action);

// The display names of packages ("A, B"), from `store`, else their code names; those
// whose journal is in `except` are left out (said on their own).
void packageNames(cApplicationConfig* store, const _List<_guardchar<char> >& codes, _guardchar<char>& out,
                  const _List<sUnreadJournal>* except = nullptr);
// The message that the interrupted work of the packages `names` could not be finished.
void unfinishedMessage(const char* names, _guardchar<char>& out);
// The message that the interrupted work of each package in `setAside` could not be
// checked and was set aside (one line each, under its display name).
void setAsideMessage(cApplicationConfig* store, const _List<sSetAsideJournal>& setAside, _guardchar<char>& out);
// The message that the journal of package `name` at `path` could not be read (`error` the
// system's errno) and stays; for a list, one paragraph each under its display name.
void unreadableMessage(const char* name, const char* path, int error, _guardchar<char>& out);
void unreadableMessage(cApplicationConfig* store, const _List<sUnreadJournal>& unreadable, _guardchar<char>& out);
// Names one a line, the first `shown` of them, then "and N more" for the others; empty
// for none. Every list a message names is cut this way.
void namesList(const _List<_guardchar<char> >& names, long long shown, _guardchar<char>& out);
// The uninstallation's result `result` (removed, or de-registered) with what stayed: that
// files shared with the packages `keptFor` were kept, then the names left as they may be
// the user's (the first dozen, as namesList).
void uninstalledMessage(unsigned int result, const _List<_guardchar<char> >& leftovers,
                        const _List<_guardchar<char> >& keptFor, _guardchar<char>& out);
// The installer's "an interrupted run may have left these names" with the names in the
// run's way (namesList with `shown`).
void leftoversMessage(const _List<_guardchar<char> >& leftovers, long long shown, _guardchar<char>& out);
// Appends to a successful installation's message, line by line, what it left of the
// earlier version: the files kept for the packages whose records list them too, then those
// left as they may be the user's, `shown` names in all (each list one first, the rest to
// the first list; each as namesList). A list that gets no name is left out, its heading
// too; nothing when it left nothing.
void appendEarlierLeft(const sPkgInstallContext& ctx, long long shown, _guardchar<char>& out);
// A failed installation's message: the names in its way, or the files of the earlier
// version it could not remove once the new ones were in place, else its result's own
// text; then, for a run that failed once committed, the earlier version's lists as
// appendEarlierLeft. `shown` names in all, shared as there (the error's own list first).
void installFailedMessage(const sPkgInstallContext& ctx, long long shown, _guardchar<char>& out);

// A small carrier form (350x110) with a status line, for a job or a message box. It
// steps aside (hides) whenever a dialog stands in front of it, so that no empty window
// with a stale status stands behind a question or a result.
class cCarrierForm : public cCustomForm {
public:
    ~cCarrierForm() override;
    void onConstruct() override;
    // Refused while the carried job runs.
    bool onClose() override;
    bool onAction(cChildElement* sender, cChildAction* action) override;

protected:
    // The job the form carries, if any.
    virtual cJob* carried() { return nullptr; }
    // Starts the job; without one, or when it does not start, the form ends with 0.
    void startCarried(cJob* job);
    // A message box (`kind` an eBoxKind) with the form stepped aside; `restore` shows
    // the form again afterwards, while its job goes on.
    int boxAside(int kind, const char* text, bool restore);
    // Hides the form for a dialog; comeBackLater shows it again after a moment, when its
    // job still works then (a window shown and hidden at once may still be mapped by the
    // window manager after it was hidden).
    void stepAside();
    void comeBackLater();
    unsigned int myStatusFrame = (unsigned)-1;
    cStaticElement* myStatus = nullptr;

private:
    class cShowLater : public cJob {
    public:
        ~cShowLater() override { terminate(4000); }
        cCarrierForm* form = nullptr;

    protected:
        unsigned int job() override;
    };
    cShowLater myLater;
    bool myAside = false;  // a dialog stands in front (or the form stays hidden)
};

// A carrier form that shows one message box over itself and ends with its answer.
class cWLMsgForm : public cCarrierForm {
public:
    static int modal(int kind, const char* text, cWindowMaker* maker = nullptr);
    static void info(const char* text) { modal(eBoxInfo, text); }
    static void error(const char* text) { modal(eBoxError, text); }
    static int warning(const char* text) { return modal(eBoxWarning, text); }
    static bool warnconfirm(const char* text) { return modal(eBoxWarnQuestion, text) == 1; }

    void onConstruct() override;
    bool onAction(cChildElement* sender, cChildAction* action) override;
    const char* wantLangResource() override { return "pkgm::resp"; }

private:
    int myKind = 0;
};

class cProgressChild;

// A panel that is a job and its own progress target, in numbered stages.
class cJobPanel : public cPanelChild, public cProgressNotifyTarget, public cJob {
public:
    cJobPanel();
    ~cJobPanel() override;

    // Starts the stages over: `count` of them, none described.
    void setNumStages(int count);
    // A stage's description, copied; or (setStageShared) held as it is, for a text that
    // outlives the job (a file's target in its context's list).
    void setStageDescr(int stage, const char* text);
    void setStageShared(int stage, const char* text);
    int numStages() const { return (int)myStages.count; }
    int currentStage() const { return myStage; }
    const char* statusText() { return myStatus ? myStatus->text() : nullptr; }
    // The position last given to the bar (0-100), -1 before the panel is built.
    int barPos() const { return myBar ? myBarPos.load() : -1; }

    bool notifyProgress(double percent) override;
    bool notifyStage(int stage) override;
    void notifyLastStage();
    void onInitData() override;

protected:
    void onJobStart() override;
    void onJobEnd(unsigned int result) override;
    cStaticElement* statusLine() const { return myStatus; }
    // The line a stage shows, made when it is shown: its description as it stands; null
    // keeps the line shown.
    virtual const char* stageLine(int stage, const char* descr, _guardchar<char>& scratch);

private:
    void showStage(int stage);
    cStaticElement* myStatus = nullptr;
    cProgressChild* myBar = nullptr;
    std::atomic<int> myBarPos{0};
    _typebuf<const char*> myStages;  // a stage's description, or null
    cTextArena myStageTexts;         // the copied ones
    int myStage = 0;
    cTimeGate<unsigned long long> myBarUpdates{100001};  // microseconds
};

// The Install page's panel: the installation job of a context.
class cInstallerJobPanel : public cJobPanel {
public:
    ~cInstallerJobPanel() override;
    // Sets the stages and starts the job; false without a context.
    bool startInstall(sPkgInstallContext* ctx);
    const char* wantLangResource() override { return "pkgm::instp"; }
    // The file operations the job uses (the plain ones when null).
    cInstallFS* fileOps = nullptr;

protected:
    unsigned int job() override;
    // A file's stage keeps its bare path: it is fitted to the line only when shown.
    const char* stageLine(int stage, const char* descr, _guardchar<char>& scratch) override;

private:
    sPkgInstallContext* myCtx = nullptr;
    cSentAsker myAsker;
    _guardchar<char> myPathPattern;
    cFontObject* myPathFont = nullptr;
    int myPathRoom = 0;  // 0: the line had no width when the job started
    int myPathEnd = 1;   // the file stages are 1 .. myPathEnd - 1
    cTimeGate<unsigned long long> myPathLines{40000};  // microseconds
};

// The removal panel: deprecated packages removed by their commands; this manager's own
// "uninstall" commands run in this process, over the panel's window and in its language.
class cSoftUninstallerPanel : public cJobPanel {
public:
    ~cSoftUninstallerPanel() override;
    bool startRemoval(_List<sPackageForRemoval>& list);
    bool onAction(cChildElement* sender, cChildAction* action) override;
    // The store of the packages (the application's when null).
    cApplicationConfig* store = nullptr;
    // The code name whose run lock the installer holds (its own package).
    const char* heldCode = nullptr;

protected:
    unsigned int job() override;

private:
    _List<sPackageForRemoval>* myList = nullptr;
};

class cInstallInitUI;

class cInstallInitJob : public cJob {
public:
    cInstallInitJob(cInstallInitUI* form, sPkgInstallContext* ctx) : myForm(form), myCtx(ctx) {}
    ~cInstallInitJob() override { terminate(4000); }
    // The pause before the checks (500 ms; tests shorten it).
    static int gPauseMs;

protected:
    unsigned int job() override;
    void onJobEnd(unsigned int result) override;

private:
    cInstallInitUI* myForm;
    sPkgInstallContext* myCtx;
};

// The loading form of the installation start.
class cInstallInitUI : public cCarrierForm {
public:
    // Runs the form and its job; true when the job's result was 0. The result goes to
    // `result` when given.
    static bool runLoadScen(sPkgInstallContext& ctx, cWindowMaker* maker = nullptr, unsigned int* result = nullptr);
    ~cInstallInitUI() override;

    void onConstruct() override;
    bool onAction(cChildElement* sender, cChildAction* action) override;
    const char* wantLangResource() override { return "pkgm::iini"; }

    sPkgInstallContext* ctx = nullptr;
    cInstallInitJob* job = nullptr;
    unsigned int* resultOut = nullptr;  // where the job's result goes (the form goes with its run)

protected:
    cJob* carried() override { return job; }
};

// Runs the installer: the loading form, then `wizard` (the installer wizard) when given,
// else the installation job panel in a form of its own with the earlier installation's
// folder or "$HOME/Applications/<name>", with the package's record in `store`. The exit code.
typedef int (*tWizardRunner)(sPkgInstallContext& ctx);
int install(const char* executablePath, const char* packagePath, unsigned int offset, tWizardRunner wizard,
            cApplicationConfig* store);

class cUninstallInitUI;

class cUninstallInitJob : public cJob {
public:
    cUninstallInitJob(cUninstallInitUI* form, sPkgUninstallContext* ctx) : myForm(form), myCtx(ctx) {}
    ~cUninstallInitJob() override { terminate(4000); }
    static int gPauseMs;

protected:
    unsigned int job() override;
    void onJobEnd(unsigned int result) override;

private:
    cUninstallInitUI* myForm;
    sPkgUninstallContext* myCtx;
};

class cUninstallInitUI : public cCarrierForm {
public:
    static int runUninstall(sPkgUninstallContext& ctx, cChildElement* parent, cWindowMaker* maker = nullptr,
                            cApplicationConfig* store = nullptr, bool keepLanguage = false);
    cUninstallInitUI() { myStatusFrame = 0xFFFFFF; }
    ~cUninstallInitUI() override;

    void onConstruct() override;
    bool onAction(cChildElement* sender, cChildAction* action) override;
    const char* wantLangResource() override { return "pkgm::unin"; }

    sPkgUninstallContext* ctx = nullptr;
    cUninstallInitJob* job = nullptr;
    // The store the package is removed from (uninstall() passes the application's when it
    // was given none).
    cApplicationConfig* store = nullptr;
    // Run inside another form: keeps the language shown, never asks for one.
    bool keepLanguage = false;

protected:
    cJob* carried() override { return job; }

private:
    // The display name of the package removed, else its code name.
    void displayName(_guardchar<char>& out) const;
};

// The "uninstall" verb: the code name's package removed behind the progress form, which
// also answers an unknown one (after the language question where one is asked).
// `heldCode`: a code name whose run lock the caller holds (an installer's own package).
int uninstall(const char* code, cChildElement* parent, cWindowMaker* maker = nullptr,
              cApplicationConfig* store = nullptr, bool keepLanguage = false, const char* heldCode = nullptr);

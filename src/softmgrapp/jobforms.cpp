// The windowed side of installation and uninstallation: forms, panels and the sent
// actions through which jobs ask their questions.
#include "softmgrapp/jobforms.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/folders.h"
#include "base/strings.h"
#include "base/timeutil.h"
#include "ciplatform/canvas.h"
#include "ciplatform/fontobject.h"
#include "ciplatform/windowmaker.h"
#include "instengine/installinit.h"
#include "instengine/installjob.h"
#include "instengine/pkgregistry.h"
#include "instengine/updateinstall.h"
#include "softmgr/ossupport.h"
#include "softmgrapp/langselect.h"
#include "softmgrapp/sopkglang.h"
#include "ui/application.h"
#include "ui/controls/messageform.h"
#include "ui/controls/progressbar.h"
#include "ui/lang.h"

bool gConsoleMessages = false;

namespace {

const char* str(const char* section, int index, const char* fallback = "") {
    const char* s = cCiomLangData::string(section, index);
    return s ? s : fallback;
}

// Appends a paragraph to a message of several.
void appendParagraph(_guardchar<char>& out, const char* text) {
    _guardchar<char> joined;
    concatText(out.ptr, out.empty() ? "" : "\n\n", joined);
    concatText(joined.ptr, text, out);
}

// Appends a line to a text of several.
void appendLine(_guardchar<char>& out, const char* text) {
    if (!out.empty()) concatText(out.ptr, "\n", out);
    concatText(out.ptr, text, out);
}

// The display name of a package, else its code name.
void displayNameOf(cApplicationConfig* store, const char* code, _guardchar<char>& out) {
    if (!getInstalledPackageName(store, code, out) || out.empty()) out.set(code ? code : "");
}

// The most names a message lists one a line.
const int kLeftoversShown = 12;

// Appends `item` to a list of names shown as "A, B".
bool appendListed(_guardchar<char>& list, const char* item) {
    _guardchar<char> joined;
    return concatText(list.ptr, list.empty() ? "" : ", ", joined) && concatText(joined.ptr, item, list);
}

// A pattern's "%s" filled with the names of packages, "A, B".
void fillNames(const char* pattern, const _List<_guardchar<char> >& names, _guardchar<char>& out) {
    _guardchar<char> listed;
    for (auto* it = names.head; it; it = it->next)
        if (!appendListed(listed, it->value.ptr)) break;
    fillText(pattern, {listed.ptr}, out);
}

}  // namespace

cWindowMaker* appWindowMaker() {
    cCIApplication* app = cCIApplication::appRef();
    return app ? app->windowMaker() : nullptr;
}

int appMessageBox(cChildElement* over, cWindowMaker* maker, int kind, const char* text) {
    if (gConsoleMessages) {
        // No display: the message goes to the console; questions are answered "no".
        fprintf(stderr, "%s %s\n", kind == eBoxError ? "(e)" : kind >= eBoxWarning ? "(w)" : "(i)", text ? text : "");
        return asksYesNo(kind) ? 0 : 1;
    }
    // A box runs over a window: without one, a small carrier form opens first.
    if (!over || !over->platformWindow()) {
        int r = cWLMsgForm::modal(kind, text, maker);
        return asksYesNo(kind) ? r : 1;
    }
    switch (kind) {
        case eBoxError: return cMessageForm::errorbox(over, text ? text : "");
        case eBoxWarning: return cMessageForm::warningbox(over, text ? text : "");
        case eBoxWarnQuestion: return cMessageForm::warnconfirmbox(over, text ? text : "") ? 1 : 0;
        case eBoxQuestion: return cMessageForm::confirmbox(over, text ? text : "") ? 1 : 0;
        default: return cMessageForm::infobox(over, text ? text : "");
    }
}

void packageNames(cApplicationConfig* store, const _List<_guardchar<char> >& codes, _guardchar<char>& out,
                  const _List<sUnreadJournal>* except) {
    out.set("");
    for (auto* it = codes.head; it; it = it->next) {
        bool said = false;
        for (auto* u = except ? except->head : nullptr; u && !said; u = u->next)
            said = strcmp(u->value.code.ptr, it->value.ptr) == 0;
        _guardchar<char> name;
        displayNameOf(store, it->value.ptr, name);
        if (!said && !appendListed(out, name.ptr)) return;
    }
}

void unfinishedMessage(const char* names, _guardchar<char>& out) {
    fillText(str("pkgm::softm", eSoftmUnfinished, "The interrupted installation or removal of %s could not be finished."),
             {names}, out);
}

void setAsideMessage(cApplicationConfig* store, const _List<sSetAsideJournal>& setAside, _guardchar<char>& out) {
    out.set("");
    const char* pattern = str("pkgm::softm", eSoftmSetAside,
                              "The unfinished work of %s could not be checked and was set aside as\n%s");
    for (auto* it = setAside.head; it; it = it->next) {
        _guardchar<char> name, text;
        displayNameOf(store, it->value.code.ptr, name);
        fillText(pattern, {name.ptr, it->value.path.ptr}, text);
        appendParagraph(out, text.ptr);
    }
}

void unreadableMessage(const char* name, const char* path, int error, _guardchar<char>& out) {
    fillText(str("pkgm::softm", eSoftmUnreadable, "The unfinished work of %s could not be read:\n%s\n%s"),
               {name, path, strerror(error ? error : EIO)}, out);
}

void unreadableMessage(cApplicationConfig* store, const _List<sUnreadJournal>& unreadable, _guardchar<char>& out) {
    out.set("");
    for (auto* it = unreadable.head; it; it = it->next) {
        _guardchar<char> name, text;
        displayNameOf(store, it->value.code.ptr, name);
        unreadableMessage(name.ptr, it->value.path.ptr, it->value.error, text);
        appendParagraph(out, text.ptr);
    }
}

void uninstalledMessage(unsigned int result, const _List<_guardchar<char> >& leftovers,
                        const _List<_guardchar<char> >& keptFor, _guardchar<char>& out) {
    const sMessageRef* named = leftovers.empty() ? nullptr : resultMessage(eAtUninstallNamed, result);
    out.set(messageOf(named ? named : resultMessage(eAtUninstall, result)));
    // Next to what the result says of the remaining files: those another package still
    // lists are that package's.
    if (!keptFor.empty()) {
        _guardchar<char> kept;
        fillNames(str("pkgm::unin", eUninKeptFor,
                      "Files it shares with %s were kept: they belong to that package too, so do not delete them."),
                  keptFor, kept);
        appendLine(out, kept.ptr);
    }
    if (leftovers.empty()) return;
    appendLine(out, str("pkgm::unin", eUninLeftAsTheyWere, "Left as they were, since they may be your own:"));
    _guardchar<char> list;
    namesList(leftovers, kLeftoversShown, list);
    appendLine(out, list.ptr);
}

void namesList(const _List<_guardchar<char> >& names, long long shown, _guardchar<char>& out) {
    out.set("");
    long long listed = 0;
    for (auto* it = names.head; it && listed < shown; it = it->next, listed++) appendLine(out, it->value.ptr);
    if (names.count() > listed) {
        char n[24];
        _sprintf_s(n, sizeof n, "%lld", names.count() - listed);
        _guardchar<char> more;
        fillText(str("pkgm::iini", eIiniMore, "and %s more"), {n}, more);
        appendLine(out, more.ptr);
    }
}

void leftoversMessage(const _List<_guardchar<char> >& leftovers, long long shown, _guardchar<char>& out) {
    _guardchar<char> list;
    namesList(leftovers, shown, list);
    fillText(messageOf(resultMessage(eAtInstallStart, eIILeftover)), {list.ptr}, out);
}

namespace {

// Shares `shown` names among lists of `counts` names, in order: one each first, as far as
// they go, then the rest to the first lists. A list that gets none is left out, heading and
// all, so that no heading stands over "and N more" alone.
template <int N>
void shareNames(const long long (&counts)[N], long long shown, long long (&own)[N]) {
    for (int i = 0; i < N; i++) {
        own[i] = counts[i] > 0 && shown > 0 ? 1 : 0;
        shown -= own[i];
    }
    for (int i = 0; i < N; i++) {
        long long more = counts[i] - own[i] < shown ? counts[i] - own[i] : shown;
        if (more <= 0) continue;
        own[i] += more;
        shown -= more;
    }
}

// The earlier version's files a run left, under their headings: `kept` names of those kept
// for another package, `refused` of those left as they were; a list of none is left out.
void appendEarlier(const sPkgInstallContext& ctx, long long kept, long long refused, _guardchar<char>& out) {
    auto part = [&](const char* heading, const _List<_guardchar<char> >& files, long long own) {
        if (own <= 0) return;
        _guardchar<char> list;
        namesList(files, own, list);
        appendLine(out, heading);
        appendLine(out, list.ptr);
    };
    _guardchar<char> keptHeading;
    fillNames(str("pkgm::fin", eFinKeptFor, "Files of the earlier version kept for %s, which still uses them:"),
              ctx.keptFor, keptHeading);
    part(keptHeading.ptr, ctx.keptFiles, kept);
    part(str("pkgm::fin", eFinLeftAsTheyWere, "Files of the earlier version left as they were:"), ctx.refusedFiles,
         refused);
}

}  // namespace

void appendEarlierLeft(const sPkgInstallContext& ctx, long long shown, _guardchar<char>& out) {
    const long long counts[2] = {ctx.keptFiles.count(), ctx.refusedFiles.count()};
    long long own[2];
    shareNames(counts, shown, own);
    appendEarlier(ctx, own[0], own[1], out);
}

void installFailedMessage(const sPkgInstallContext& ctx, long long shown, _guardchar<char>& out) {
    const _List<_guardchar<char> >* named = nullptr;
    if (ctx.result == eIJBadObject && !ctx.leftovers.empty())
        named = &ctx.leftovers;
    else if (ctx.result == eIJCannotWrite && !ctx.notRemoved.empty())
        named = &ctx.notRemoved;
    // Failed once committed: what stays of the earlier version stays all the same, after
    // the names of the error itself.
    const long long counts[3] = {named ? named->count() : 0, ctx.keptFiles.count(), ctx.refusedFiles.count()};
    long long own[3];
    shareNames(counts, shown, own);
    _guardchar<char> list;
    if (named == &ctx.leftovers) {
        leftoversMessage(ctx.leftovers, own[0], out);
    } else if (named) {
        namesList(ctx.notRemoved, own[0], list);
        fillText(str("pkgm::fin", eFinNotRemoved, "These files of the earlier version could not be removed:\n%s"),
                 {list.ptr}, out);
    } else {
        fillText(messageOf(resultMessage(eAtInstallEnd, ctx.result)), {ctx.messagePath.ptr}, out);
    }
    appendEarlier(ctx, own[1], own[2], out);
}

// ---- the sent questions ----

int cSentAsker::askLang(const _List<int>& langs, int current, const char* code) {
    int answer = current;
    if (!host || !host->sendAction(new cRespondLangAction(&answer, &langs, code))) return 11;
    return answer;
}

bool cSentAsker::applyLang(int lang) {
    int done = -1;
    return host && host->sendAction(new cApplyLangAction(lang, &done)) && done == lang;
}

bool cSentAsker::askRetry(const char* path, bool removing) {
    bool giveUp = false;
    if (!host || !host->sendAction(new cAskReleaseAction(releaseType, &giveUp, path))) return false;
    return !giveUp;
}

bool cSentAsker::confirm(int question) {
    bool yes = false;
    return host && host->sendAction(new cJobConfirmAction(confirmType, &yes, question)) && yes;
}

bool applyAskedLang(cChildElement::cChildAction* action) {
    cApplyLangAction* a = dynamic_cast<cApplyLangAction*>(action);
    if (!a) return false;
    if (cSOPKGLang::applyLang(a->lang) && a->applied) *a->applied = a->lang;
    return true;
}

// ---- cCarrierForm ----

void cCarrierForm::onConstruct() {
    cCustomForm::onConstruct();
    myStatus = new cStaticElement;
    clientArea()->attach(myStatus, 0, 0, 340, 16);
    myStatus->setColorSchema(0x655654, 0xFFFFFF, myStatusFrame);
    // Every carrier's section has its waiting line at one index.
    static_assert(eRespWaiting == (int)eIiniLoading && eRespWaiting == (int)eUninProcessing &&
                      eRespWaiting == (int)eRemRemoving,
                  "the carriers' waiting lines");
    myStatus->setText(string(eRespWaiting), cCanvas::taCenter);
}

bool cCarrierForm::onClose() {
    cJob* job = carried();
    return !(job && job->runs());
}

void cCarrierForm::startCarried(cJob* job) {
    if (!job || !job->start()) end_modal(0);
}

cCarrierForm::~cCarrierForm() { myLater.terminate(4000); }

unsigned int cCarrierForm::cShowLater::job() {
    // Long enough for a window manager to have mapped what it was asked to map, so that
    // hiding it again works; a job that ends sooner never shows its form again.
    for (int waited = 0; waited < 300 && !haveToStop(); waited += 10) sleep(10);
    if (!haveToStop()) form->notifyAction(new cChildAction(eCarrierShow));
    return 0;
}

void cCarrierForm::stepAside() {
    myLater.terminate(4000);
    // A show already on its way is not taken while a dialog stands in front.
    myAside = true;
    cPlatformWindow* w = platformWindow();
    if (w && w->visible()) w->show(false);
}

void cCarrierForm::comeBackLater() {
    cJob* job = carried();
    myAside = false;
    if (job && job->runs()) {
        myLater.form = this;
        myLater.start();
    }
}

int cCarrierForm::boxAside(int kind, const char* text, bool restore) {
    stepAside();
    int r = appMessageBox(this, nullptr, kind, text);
    if (restore) comeBackLater();
    return r;
}

bool cCarrierForm::onAction(cChildElement* sender, cChildAction* action) {
    if (sender == this && action->type == eCarrierShow && !action->sent()) {
        cJob* job = carried();
        cPlatformWindow* w = platformWindow();
        if (job && job->runs() && w && !myAside) w->show(true);
        return true;
    }
    return cCustomForm::onAction(sender, action);
}

// ---- cWLMsgForm ----

int cWLMsgForm::modal(int kind, const char* text, cWindowMaker* maker) {
    if (!cCiomLangData::string("pkgm::resp", eRespTitle)) return 0;
    cWLMsgForm* f = new cWLMsgForm;
    f->myKind = kind;
    f->setText(text ? text : "");
    if (gConsoleMessages) {
        int r = appMessageBox(nullptr, nullptr, kind, text);
        delete f;
        return asksYesNo(kind) ? r : 0;
    }
    // The form only carries the box: it is never shown, so no window manager can map it
    // behind the box (the box itself is a top-level window then).
    return cChildElement::modalWindow(maker ? maker : appWindowMaker(), str("pkgm::resp", eRespTitle), 350, 110, f,
                                      nullptr, kWFHidden);
}

void cWLMsgForm::onConstruct() {
    cCarrierForm::onConstruct();
    postAction(new cChildAction(0));
}

bool cWLMsgForm::onAction(cChildElement* sender, cChildAction* action) {
    if (sender == this && action->type == 0) {
        int r = boxAside(myKind, text(), false);
        end_modal(asksYesNo(myKind) ? r : 0);
        return true;
    }
    return cCarrierForm::onAction(sender, action);
}

// ---- cJobPanel ----

cJobPanel::cJobPanel() {}

cJobPanel::~cJobPanel() { terminate(4000); }

void cJobPanel::onInitData() {
    cPanelChild::onInitData();
    myStage = 0;
    if (!myStatus) {
        myStatus = new cStaticElement;
        attach(myStatus, 20, 50, 10, 18);
        myStatus->setColorSchema(0x655654, 0xFFFFFF, (unsigned)-1);
        myBar = new cProgressChild;
        attach(myBar, 20, 80, 10, 22);
        myBar->setRange(100);
    }
    anchor(myStatus, 20, 50, -41, 18);
    anchor(myBar, 20, 80, -41, 22);
}

void cJobPanel::setNumStages(int count) {
    myStageTexts.clear();
    if (myStages.set(count > 0 ? count : 0)) myStages.zero();
}

void cJobPanel::setStageDescr(int stage, const char* text) {
    if (stage >= 0 && stage < myStages.count) myStages.ptr[stage] = text ? myStageTexts.add(text) : nullptr;
}

void cJobPanel::setStageShared(int stage, const char* text) {
    if (stage >= 0 && stage < myStages.count) myStages.ptr[stage] = text;
}

const char* cJobPanel::stageLine(int, const char* descr, _guardchar<char>&) { return descr ? descr : ""; }

void cJobPanel::showStage(int stage) {
    if (!myStatus) return;
    _guardchar<char> scratch;
    if (const char* line = stageLine(stage, myStages.ptr[stage], scratch)) myStatus->setText(line);
}

void cJobPanel::onJobStart() {
    myStage = 0;
    if (myStages.count)
        showStage(0);
    else if (myStatus)
        myStatus->setText("");
    myBarUpdates.restart(ticks_us());
    notifyAction(new cChildAction(eJobStarted));
}

void cJobPanel::onJobEnd(unsigned int result) { notifyAction(new cJobEndAction(result)); }

bool cJobPanel::notifyStage(int stage) {
    if (stage >= 0 && stage < myStages.count) {
        myStage = stage;
        showStage(stage);
    }
    return notifyProgress(0.0);
}

void cJobPanel::notifyLastStage() {
    if (!myStages.count) return;
    myStage = (int)myStages.count - 1;
    showStage(myStage);
    notifyProgress(0.0);
}

bool cJobPanel::notifyProgress(double p) {
    if (myBarUpdates.pass(ticks_us())) {
        long long s = myStages.count;
        int pos = s ? (int)(p / s + myStage * 100.0 / s) : (int)(p + 0.5);
        pos = pos < 0 ? 0 : pos > 100 ? 100 : pos;
        myBarPos = pos;
        // From the job's thread: the bar's own animation takes the position.
        if (myBar) myBar->setPos(pos, true);
    }
    return !haveToStop();
}

// ---- cInstallerJobPanel ----

cInstallerJobPanel::~cInstallerJobPanel() { terminate(4000); }

bool cInstallerJobPanel::startInstall(sPkgInstallContext* ctx) {
    if (!ctx) return false;
    int stages = installStageCount(*ctx), n = stages - 4;
    setNumStages(stages);
    setStageDescr(0, string(eInstpPreparing));
    // The pattern, font and room of the path lines are taken here, on the UI thread.
    myPathPattern.set(string(eInstpUnpacking));
    cStaticElement* line = statusLine();
    myPathFont = line ? line->font() : nullptr;
    myPathRoom = line && line->width() > 0 ? line->width() - 2 * line->textMargin() : 0;
    int i = 1;
    for (auto* it = ctx->copiedFiles.head; it; it = it->next)
        if (it->value.others != kUnchangedFile) setStageShared(i++, it->value.target);
    myPathEnd = i;
    setStageDescr(n + 1, string(eInstpBackup));
    setStageDescr(n + 2, string(eInstpApplying));
    setStageDescr(n + 3, string(eInstpCleaning));
    myCtx = ctx;
    // Busy files are asked by the form that hosts the panel.
    myAsker.host = root();
    myAsker.releaseType = eJobAskInstallRelease;
    return start();
}

const char* cInstallerJobPanel::stageLine(int stage, const char* descr, _guardchar<char>& scratch) {
    if (stage < 1 || stage >= myPathEnd) return descr ? descr : "";
    // Files follow each other faster than anyone reads: after the first, a file's line
    // waits until the shown one has stood a while (fitting a line measures its text).
    if (stage == 1)
        myPathLines.restart(ticks_us());
    else if (!myPathLines.pass(ticks_us()))
        return nullptr;
    // A long path gives way in its middle: the words of the line stay whole.
    if (myPathRoom > 0)
        fitPathLine(myPathPattern.ptr, descr, myPathFont, myPathRoom, scratch);
    else
        fillText(myPathPattern.ptr, {descr}, scratch);
    return scratch.ptr;
}

unsigned int cInstallerJobPanel::job() { return myCtx ? runInstallJob(*myCtx, this, &myAsker, fileOps) : 1; }

// ---- cSoftUninstallerPanel ----

cSoftUninstallerPanel::~cSoftUninstallerPanel() { terminate(4000); }

bool cSoftUninstallerPanel::startRemoval(_List<sPackageForRemoval>& list) {
    if (list.empty()) return false;
    setNumStages((int)list.count());
    notifyStage(0);
    int i = 0;
    for (auto* it = list.head; it; it = it->next) setStageDescr(i++, it->value.name.ptr);
    myList = &list;
    return start();
}

namespace {

// A removal this program does itself, asked on the UI thread (type 13 to the panel).
class cOwnRemovalAction : public cChildElement::cSentChildAction {
public:
    cOwnRemovalAction(const char* code, int* status) : cSentChildAction(eJobOwnRemoval), status(status) {
        this->code.set(code);
    }
    _guardchar<char> code;
    int* status;
};

}  // namespace

unsigned int cSoftUninstallerPanel::job() {
    if (!myList) return 0;
    // This manager's own commands are run here, in this window and its language, not by a
    // second process; other programs' commands run as child processes.
    auto run = [](const char* command, bool& started, void* panel) {
        _guardchar<char> code;
        if (!ownRemovalCode(command, code)) return runRemovalCommand(command, started);
        int status = -1;
        started = static_cast<cSoftUninstallerPanel*>(panel)->sendAction(new cOwnRemovalAction(code.ptr, &status));
        return started ? status : -1;
    };
    return runRemovalCommands(*myList, this, run, this);
}

bool cSoftUninstallerPanel::onAction(cChildElement* sender, cChildAction* action) {
    if (cOwnRemovalAction* a = dynamic_cast<cOwnRemovalAction*>(action)) {
        int lang = cLibLang::appliedLang();
        int r = uninstall(a->code.ptr, this, nullptr, store, true, heldCode);
        cSOPKGLang::applyLang(lang);
        if (a->status) *a->status = r;
        return true;
    }
    return cJobPanel::onAction(sender, action);
}

// ---- the installation start ----

int cInstallInitJob::gPauseMs = 500;

unsigned int cInstallInitJob::job() {
    cJob::sleep(gPauseMs);
    cSentAsker asker(myForm);
    return installChecks(*myCtx, &asker);
}

void cInstallInitJob::onJobEnd(unsigned int result) { myForm->notifyAction(new cJobEndAction(result)); }

cInstallInitUI::~cInstallInitUI() { delete job; }

bool cInstallInitUI::runLoadScen(sPkgInstallContext& ctx, cWindowMaker* maker, unsigned int* result) {
    if (!cCiomLangData::string("pkgm::iini", eIiniTitle)) return false;
    cInstallInitUI* f = new cInstallInitUI;
    f->ctx = &ctx;
    f->resultOut = result;
    f->job = new cInstallInitJob(f, &ctx);
    int r = cChildElement::modalWindow(maker ? maker : appWindowMaker(), str("pkgm::iini", eIiniTitle), 350, 110, f,
                                       nullptr, 0);
    return r == 1;
}

void cInstallInitUI::onConstruct() {
    cCarrierForm::onConstruct();
    startCarried(job);
}

bool cInstallInitUI::onAction(cChildElement* sender, cChildAction* action) {
    if (applyAskedLang(action)) return true;
    if (cRespondLangAction* q = dynamic_cast<cRespondLangAction*>(action)) {
        stepAside();
        if (q->lang && q->langs) *q->lang = cLangSelectionForm::chooseLang(*q->langs, *q->lang, q->code, this);
        comeBackLater();
        return true;
    }
    if (action->type == eJobEnded && !action->sent()) {
        unsigned int r = static_cast<cJobEndAction*>(action)->result;
        const sMessageRef* message = resultMessage(eAtInstallStart, r);
        if (!message) return true;
        if (resultOut) *resultOut = r;
        if (message->kind != eBoxNone) {
            _guardchar<char> m;
            const char* name = ctx ? ctx->getStr("name") : nullptr;
            if (!name || !*name) name = ctx && ctx->codeName.ptr ? ctx->codeName.ptr : "";
            if (r == eIIUnfinished) {
                unfinishedMessage(name, m);
            } else if (r == eIIUnreadable) {
                unreadableMessage(name, ctx ? ctx->messagePath.ptr : "", ctx ? ctx->messageError : 0, m);
            } else if (r == eIILeftover && ctx) {
                leftoversMessage(ctx->leftovers, kLeftoversShown, m);
            } else {
                fillText(messageOf(message), {ctx ? ctx->messagePath.ptr : ""}, m);
            }
            boxAside(message->kind, m.ptr, false);
        }
        end_modal(r == eIIOk ? 1 : 0);
        return true;
    }
    return cCarrierForm::onAction(sender, action);
}

namespace {

// Without the wizard: the job panel in a form of its own, ended by the job's end.
class cPlainInstallForm : public cCustomForm {
public:
    sPkgInstallContext* ctx = nullptr;
    cInstallerJobPanel* panel = nullptr;
    void onConstruct() override {
        cCustomForm::onConstruct();
        panel = new cInstallerJobPanel;
        clientArea()->attach(panel, 0, 0, 10, 10);
        clientArea()->anchor(panel, 0, 0, -1, -1);
        if (!panel->startInstall(ctx)) end_modal(1);
    }
    bool onClose() override { return !(panel && panel->runs()); }
    bool onAction(cChildElement* sender, cChildAction* action) override {
        if (cAskReleaseAction* q = dynamic_cast<cAskReleaseAction*>(action)) {
            _guardchar<char> m;
            fillText(str("pkgm::instw", eInstwAskRetryUpdate, "Failed to update the existing file!\n%s\n\nTry again?"),
                     {q->path.ptr}, m);
            if (q->giveUp) *q->giveUp = q->path.empty() || appMessageBox(this, nullptr, eBoxWarnQuestion, m.ptr) != 1;
            return true;
        }
        if (action->type == eJobEnded && !action->sent()) {
            unsigned int r = ctx->result;
            const sMessageRef* message = resultMessage(eAtInstallEnd, r);
            _guardchar<char> m;
            if (r != eIJOk) {
                installFailedMessage(*ctx, kLeftoversShown, m);
                appMessageBox(this, nullptr, message ? message->kind : eBoxError, m.ptr);
            } else if (!ctx->keptFiles.empty() || !ctx->refusedFiles.empty()) {
                // Installed: what it left of the earlier version is named all the same.
                m.set(str("pkgm::fin", eFinDone));
                appendEarlierLeft(*ctx, kLeftoversShown, m);
                appMessageBox(this, nullptr, eBoxInfo, m.ptr);
            }
            // Installed without its record is still installed.
            end_modal(r == eIJOk || r == eIJNotSaved ? 0 : 1);
            return true;
        }
        return cCustomForm::onAction(sender, action);
    }
};

int runPlainInstall(sPkgInstallContext& ctx) {
    if (ctx.installedVersion == ~0ULL) {
        // A first installation: the folder the wizard would propose.
        _guardchar<char> folder;
        if (!proposeInstallFolder(ctx, folder) || !setInstallFolder(ctx, folder.ptr)) return 1;
        // What lies at the targets is checked as for an update: a file that is not the
        // package's is never replaced.
        unsigned int r = checkInstallTargets(ctx);
        if (r != eIIOk) {
            const sMessageRef* message = resultMessage(eAtInstallStart, r);
            _guardchar<char> m;
            fillText(messageOf(message), {ctx.messagePath.ptr}, m);
            appMessageBox(nullptr, appWindowMaker(), message ? message->kind : eBoxError, m.ptr);
            return 1;
        }
    }
    cPlainInstallForm* f = new cPlainInstallForm;
    f->ctx = &ctx;
    return cChildElement::modalWindow(appWindowMaker(),
                                      str("pkgm::instp", eInstpTitle, "Installing software package..."), 500, 160, f,
                                      nullptr, 0);
}

}  // namespace

int install(const char* executablePath, const char* packagePath, unsigned int offset, tWizardRunner wizard,
            cApplicationConfig* store) {
    sPkgInstallContext ctx;
    ctx.store = store;
    ctx.executablePath.set(executablePath);
    ctx.packagePath.set(packagePath);
    ctx.offset = offset;
    int code = 1;
    unsigned int checks = 0;
    if (cInstallInitUI::runLoadScen(ctx, nullptr, &checks)) {
        code = wizard ? wizard(ctx) : runPlainInstall(ctx);
        // A failed installation ends with a failure code however its window was closed.
        if (code == 0 && ctx.result != 0) code = 1;
    } else if (checks == eIIFinished) {
        code = 0;
    }
    // An installer started from an unpacked update leaves nothing of it behind.
    ctx.packageFile.close();
    removeStartFolder(executablePath);
    return code;
}

// ---- uninstallation ----

int cUninstallInitJob::gPauseMs = 500;

unsigned int cUninstallInitJob::job() {
    cJob::sleep(gPauseMs);
    cSentAsker asker(myForm);
    return uninstallJob(*myCtx, myForm->store, &asker);
}

void cUninstallInitJob::onJobEnd(unsigned int result) { myForm->notifyAction(new cJobEndAction(result)); }

cUninstallInitUI::~cUninstallInitUI() { delete job; }

int cUninstallInitUI::runUninstall(sPkgUninstallContext& ctx, cChildElement* parent, cWindowMaker* maker,
                                   cApplicationConfig* store, bool keepLanguage) {
    if (!cCiomLangData::string("pkgm::unin", eUninTitle)) return 0;
    cUninstallInitUI* f = new cUninstallInitUI;
    f->ctx = &ctx;
    f->store = store;
    f->keepLanguage = keepLanguage;
    f->job = new cUninstallInitJob(f, &ctx);
    if (parent && parent->host()) return parent->modal(str("pkgm::unin", eUninTitle), 350, 110, f);
    return cChildElement::modalWindow(maker ? maker : appWindowMaker(), str("pkgm::unin", eUninTitle), 350, 110, f,
                                      nullptr, 0);
}

void cUninstallInitUI::onConstruct() {
    cCarrierForm::onConstruct();
    startCarried(job);
}

void cUninstallInitUI::displayName(_guardchar<char>& out) const { displayNameOf(store, ctx ? ctx->codeName.ptr : "", out); }

bool cUninstallInitUI::onAction(cChildElement* sender, cChildAction* action) {
    if (keepLanguage) {
        // Run inside another form: the package's language is not applied and not asked,
        // the run speaks the language already shown.
        if (cApplyLangAction* a = dynamic_cast<cApplyLangAction*>(action)) {
            if (a->applied) *a->applied = a->lang;
            return true;
        }
        if (cRespondLangAction* q = dynamic_cast<cRespondLangAction*>(action)) {
            if (q->lang) *q->lang = cLibLang::appliedLang();
            return true;
        }
    }
    if (applyAskedLang(action)) return true;
    if (cRespondLangAction* q = dynamic_cast<cRespondLangAction*>(action)) {
        stepAside();
        if (q->lang && q->langs)
            *q->lang = cLangSelectionForm::chooseLang(*q->langs, *q->lang, ctx ? ctx->codeName.ptr : "", this);
        comeBackLater();
        return true;
    }
    if (cJobConfirmAction* q = dynamic_cast<cJobConfirmAction*>(action)) {
        if (!q->yes) return true;
        const sMessageRef* question = resultMessage(eAtQuestion, (unsigned)q->question);
        *q->yes = boxAside(question ? question->kind : eBoxQuestion, messageOf(question), true) == 1;
        return true;
    }
    if (cAskReleaseAction* q = dynamic_cast<cAskReleaseAction*>(action)) {
        if (!q->giveUp) return true;
        if (q->path.empty()) {
            *q->giveUp = true;
            return true;
        }
        _guardchar<char> m;
        fillText(string(eUninAskRetry), {q->path.ptr}, m);
        *q->giveUp = boxAside(eBoxWarnQuestion, m.ptr, true) != 1;
        return true;
    }
    if (action->type == eJobEnded && !action->sent()) {
        unsigned int r = static_cast<cJobEndAction*>(action)->result;
        const sMessageRef* message = resultMessage(eAtUninstall, r);
        if ((r == eUNRemoved || r == eUNDeregistered) && message && ctx) {
            // What stayed is named: the files another package still lists, the names left.
            _guardchar<char> m;
            uninstalledMessage(r, ctx->leftovers, ctx->keptFor, m);
            boxAside(message->kind, m.ptr, false);
        } else if (r == eUNUnfinished && message) {
            // The package whose journal stays: this one's, or another's that names its files.
            _guardchar<char> name, m;
            if (ctx && !ctx->blocking.empty())
                displayNameOf(store, ctx->blocking.ptr, name);
            else
                displayName(name);
            unfinishedMessage(name.ptr, m);
            boxAside(message->kind, m.ptr, false);
        } else if (r == eUNUnreadable && message && ctx) {
            _guardchar<char> name, m;
            displayName(name);
            unreadableMessage(name.ptr, ctx->messagePath.ptr, ctx->messageError, m);
            boxAside(message->kind, m.ptr, false);
        } else if (r == eUNIncomplete && message && ctx && !ctx->messagePath.empty()) {
            // The file the removal could not take (the next run finishes it).
            _guardchar<char> m(messageOf(message));
            appendLine(m, ctx->messagePath.ptr);
            boxAside(message->kind, m.ptr, false);
        } else if (r == eUNNoRunLock && message && ctx) {
            _guardchar<char> m;
            fillText(messageOf(message), {ctx->messagePath.ptr}, m);
            boxAside(message->kind, m.ptr, false);
        } else if (message) {
            boxAside(message->kind, messageOf(message), false);
        }
        end_modal(r == eUNRemoved ? 0 : 1);
        return true;
    }
    return cCarrierForm::onAction(sender, action);
}

int uninstall(const char* code, cChildElement* parent, cWindowMaker* maker, cApplicationConfig* store,
              bool keepLanguage, const char* heldCode) {
    sPkgUninstallContext ctx;
    ctx.codeName.set(code);
    ctx.key.set(code);
    ctx.runLockHeld = heldCode && code && strcmp(heldCode, code) == 0;
    if (ctx.key.empty()) return 1;
    return cUninstallInitUI::runUninstall(ctx, parent, maker, store, keepLanguage);
}

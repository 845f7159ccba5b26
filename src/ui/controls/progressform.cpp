// The standard progress forms: the status line (throttled to one update per 501 ms, the
// remaining time estimated from the rate so far), Stop, the end of the job as the form's
// result or the child's action, and the fake-progress thread of the unknown variants.
#include "ui/controls/progressform.h"

#include <cmath>
#include <cstring>

#include "base/strings.h"
#include "base/timeutil.h"
#include "ui/panelchild.h"
#include "ui/theme.h"

namespace {

const char* const kEnglish[5] = {
    "Stop", "Starting...",
    "%s progress: %.01f%%. Time consumed: %02d:%02d:%02d. Estimated time left: %02d:%02d:%02d.", "Operation",
    "%s is in progress: time consumed: %02d:%02d:%02d."};

cPicturesList gFormTools;
cPicturesList gChildTools;

void fillTools(cPicturesList& list) {
    if (!list.image(1)) list.refImage(1, cCITheme::theme()->getPict(78));
}

// The owner's word of the applied language, or the English one.
const char* word(cChildElement* owner, int index) {
    const char* t = owner->string(index);
    return t ? t : kEnglish[index];
}

// The bar (range 0..1000) with the Stop tool bar at its right end and the status line
// saying "Starting...", once both are attached.
void setUpParts(cChildElement* owner, cProgressChild& bar, cToolBarChild& tools, cPicturesList& images,
                cStaticElement& status) {
    bar.setRange(1000);
    bar.attach(&tools, 0, 0, 1, 18);
    tools.setTransparent(true);
    tools.setImageList(cButtonChild::stNormal, &images);
    tools.setButton(1, word(owner, 0), 1);
    int tw = tools.wantsWidth();
    bar.anchor(&tools, -tw - 1, 0, tw, 18);
    unsigned int back = cCITheme::theme()->getColor(0);
    status.setColorSchema(status.textColor(), back, back);
    status.setText(word(owner, 1), cCanvas::taLeft, false);
}

// The conversion letters of a format ("%%" skipped), e.g. "sfdddddd"; false on anything
// but flags, width, precision and one of d, f, s.
bool conversions(const char* f, char* out, int size) {
    int n = 0;
    for (const char* p = f; *p; p++) {
        if (*p != '%') continue;
        p++;
        if (*p == '%') continue;
        while (*p && strchr("-+ 0#", *p)) p++;
        while (*p >= '0' && *p <= '9') p++;
        if (*p == '.') {
            p++;
            while (*p >= '0' && *p <= '9') p++;
        }
        if (!*p || !strchr("dfs", *p) || n + 1 >= size) return false;
        out[n++] = *p;
    }
    out[n] = 0;
    return true;
}

void hms(unsigned int ms, int& h, int& m, int& s) {
    unsigned int sec = ms / 1000;
    h = (int)(ms / 3600000u);
    m = (int)((sec % 3600) / 60);
    s = (int)(sec % 60);
}

}  // namespace

const char* cProgressStatus::checkedFormat(const char* candidate, const char* reference) {
    if (!candidate) return reference;
    char a[32], b[32];
    if (!conversions(candidate, a, sizeof a) || !conversions(reference, b, sizeof b) || strcmp(a, b) != 0)
        return reference;
    return candidate;
}

void cProgressStatus::format(char* out, long long size, const char* stage, double percent, int barPos,
                             unsigned int elapsed, bool estimate, const char* withEstimate, const char* without) {
    int eh, em, es;
    hms(elapsed, eh, em, es);
    if (!stage) stage = kEnglish[3];
    if (estimate) {
        // The estimate is clamped to what 32 bits of milliseconds hold before it is truncated.
        double r = (100.0 - percent) * ((double)elapsed / percent);
        if (!(r >= 0)) r = 0;
        if (r > 4294967295.0) r = 4294967295.0;
        int rh, rm, rs;
        hms((unsigned int)r, rh, rm, rs);
        _sprintf_s(out, size, checkedFormat(withEstimate, kEnglish[2]), stage, barPos / 10.0, eh, em, es, rh, rm,
                   rs);
    } else {
        _sprintf_s(out, size, checkedFormat(without, kEnglish[4]), stage, eh, em, es);
    }
}

// ---- the stages ----

void sProgressStages::setName(int stage, const char* name) {
    cSafeCriticalSectionAccess lock(&myLock);
    _guardchar<char>* slot = myNames.insert(stage);
    if (slot) slot->set(name);
}

void sProgressStages::setCurrent(const char* name) {
    cSafeCriticalSectionAccess lock(&myLock);
    myCurrent.set(name);
}

void sProgressStages::enter(cChildElement* owner, int stage, unsigned int now) {
    const char* fallback = word(owner, 3);
    {
        cSafeCriticalSectionAccess lock(&myLock);
        _guardchar<char>* name = myNames.find(stage);
        myCurrent.set(name && name->ptr ? name->ptr : fallback);
    }
    start = now;
}

void sProgressStages::report(cChildElement* owner, double percent, unsigned int now, bool estimate,
                             cProgressChild& bar, cStaticElement& status) {
    if (!(percent >= 0)) percent = 0;
    if (percent > 100) percent = 100;
    if (percent == 0 || !updates.pass(now)) return;
    int pos = (int)(10 * percent);
    bar.setPos(pos, false);
    const char* withEstimate = owner->string(2);
    const char* without = owner->string(4);
    char line[256];
    {
        cSafeCriticalSectionAccess lock(&myLock);
        cProgressStatus::format(line, sizeof line, myCurrent.ptr, percent, pos, now - start, estimate, withEstimate,
                                without);
    }
    status.setText(line, cCanvas::taLeft, true);
}

// ---- the form ----

cStdBasicProgressForm::cStdBasicProgressForm() {}

cStdBasicProgressForm::~cStdBasicProgressForm() {
    // The job reports into the members: it ends before they go.
    terminate(4000);
}

unsigned int cStdBasicProgressForm::clockMs() { return ticks_ms(); }

int cStdBasicProgressForm::runUIJob(cChildElement* parent, const char* title) { return runUIJob(parent, this, title); }

int cStdBasicProgressForm::runUIJob(cChildElement* parent, cStdBasicProgressForm* form, const char* title) {
    if (!form) return 0;
    // No window to run on: nothing runs, the form is freed and the answer is 0.
    if (!parent || !parent->platformWindow()) {
        delete form;
        return 0;
    }
    int code = parent->modal(title, 600, 106, form, false);
    return code < 0 ? 0 : code;
}

void cStdBasicProgressForm::setStageName(int stage, const char* name) { myStages.setName(stage, name); }

void cStdBasicProgressForm::onInitData() {
    cCustomForm::onInitData();
    fillTools(gFormTools);
    myEstimate = true;
}

void cStdBasicProgressForm::onConstruct() {
    cCustomForm::onConstruct();
    onInitData();
    cPanelChild* client = clientArea();
    sRect cr = {0, 0, client->width(), client->height()};
    client->clientRect(&cr);
    client->attach(&myBar, 5, 0, cr.w - 10, 18);
    client->attach(&myStatus, 5, 20, cr.w - 10, 16);
    setUpParts(this, myBar, myToolBar, gFormTools, myStatus);
    myStages.setCurrent(word(this, 3));
    myStages.restart(clockMs());
    start();
}

bool cStdBasicProgressForm::notifyProgress(double percent) {
    myStages.report(this, percent, clockMs(), myEstimate, myBar, myStatus);
    return !haveToStop();
}

bool cStdBasicProgressForm::notifyStage(int stage) {
    myBar.stopProgress(false);
    myStages.enter(this, stage, clockMs());
    return !haveToStop();
}

void cStdBasicProgressForm::onJobEnd(unsigned int result) { notifyAction(new cProgressAction((int)result)); }

bool cStdBasicProgressForm::onAction(cChildElement* sender, cChildAction* action) {
    if (sender == this) {
        if (auto* a = dynamic_cast<cProgressAction*>(action)) {
            end_modal(a->result);
            return true;
        }
    }
    if (sender == &myToolBar && action->type == 6) {
        auto* t = dynamic_cast<cToolBarChild::cTbButtonAction*>(action);
        if (t && t->id == 1) onFormCancel();
        return true;
    }
    return cCustomForm::onAction(sender, action);
}

bool cStdBasicProgressForm::onFormCancel() {
    if (runs())
        stop();
    else
        end_modal(0);
    return true;
}

bool cStdBasicProgressForm::onClose() {
    if (!runs()) return true;
    stop();
    return false;
}

// ---- the child ----

cStdBasicProgressChild::cStdBasicProgressChild() {}

cStdBasicProgressChild::~cStdBasicProgressChild() { terminate(4000); }

unsigned int cStdBasicProgressChild::clockMs() { return ticks_ms(); }

void cStdBasicProgressChild::onInitData() {
    cChildElement::onInitData();
    fillTools(gChildTools);
    attach(&myBar, 0, 0, 1, 18);
    anchor(&myBar, 0, 0, -1, 18);
    attach(&myStatus, 0, 18, 1, 1);
    anchor(&myStatus, 0, 18, -1, -1);
    setUpParts(this, myBar, myToolBar, gChildTools, myStatus);
    myStages.setCurrent(word(this, 3));
    myEstimate = true;
}

bool cStdBasicProgressChild::runUIJob(const char* title) {
    if (!visible_child()) show();
    myEstimate = wantsEstimate();
    myStages.restart(clockMs());
    if (title) myStages.setCurrent(title);
    return start();
}

bool cStdBasicProgressChild::runUIJob(cStdBasicProgressChild* child, const char* title) {
    return child && child->runUIJob(title);
}

void cStdBasicProgressChild::setStageName(int stage, const char* name) { myStages.setName(stage, name); }

bool cStdBasicProgressChild::notifyProgress(double percent) {
    myStages.report(this, percent, clockMs(), myEstimate, myBar, myStatus);
    return !haveToStop();
}

bool cStdBasicProgressChild::notifyStage(int stage) {
    myBar.stopProgress(false);
    myStages.enter(this, stage, clockMs());
    return !haveToStop();
}

void cStdBasicProgressChild::onJobEnd(unsigned int result) {
    myBar.stopProgress(false);
    notifyAction(new cProgressAction((int)result));
}

bool cStdBasicProgressChild::onAction(cChildElement* sender, cChildAction* action) {
    if (sender == &myToolBar && action->type == 6) {
        auto* t = dynamic_cast<cToolBarChild::cTbButtonAction*>(action);
        if (t && t->id == 1 && runs()) stop();
        return true;
    }
    return cChildElement::onAction(sender, action);
}

bool cStdBasicProgressChild::onClose() { return !runs(); }

// ---- fake progress ----

unsigned int cUnknownProgressFakeJob::job() {
    myX = 0;
    while (!haveToStop() && myTarget) {
        for (int i = 0; i < 80; i++) {
            sleep(5);
            if (haveToStop()) return 0;
        }
        cProgressNotifyTarget* t = myTarget;
        if (t) t->notifyProgress(std::atan(myX) * (2.0 / M_PI) * 100.0);
        myX = myX + 0.1;
    }
    return 0;
}

cStdUnknownProgressForm::~cStdUnknownProgressForm() {
    myFake.terminate(4000);
    terminate(4000);
}

void cStdUnknownProgressForm::onConstruct() {
    cStdBasicProgressForm::onConstruct();
    myFake.setTarget(this);
    setEstimate(false);
    myFake.start();
}

cStdUnknownProgressChild::~cStdUnknownProgressChild() {
    myFake.terminate(4000);
    terminate(4000);
}

void cStdUnknownProgressChild::onInitData() {
    cStdBasicProgressChild::onInitData();
    myEstimate = false;
    statusLine()->setText(word(this, 1), cCanvas::taLeft, false);
}

bool cStdUnknownProgressChild::notifyStage(int stage) {
    myFake.reset();
    return cStdBasicProgressChild::notifyStage(stage);
}

void cStdUnknownProgressChild::onJobStart() {
    myFake.setTarget(this);
    myFake.start();
}

void cStdUnknownProgressChild::onJobEnd(unsigned int result) {
    myFake.stop();
    cStdBasicProgressChild::onJobEnd(result);
}

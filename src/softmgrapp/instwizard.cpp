// The installer wizard. Pages change only through setStep: forwards with Next, back
// through the step list (completed steps only). While the removal or the installation
// job runs, step clicks, Next and closing are refused; the installation's end always
// leads to the Finish page, never to a second run of the Install page.
#include "softmgrapp/instwizard.h"

#include <cstring>
#include <initializer_list>

#include "ciplatform/canvas.h"
#include "ciplatform/fontobject.h"
#include "ciplatform/windowmaker.h"
#include "instengine/installfs.h"
#include "instengine/installjob.h"
#include "softmgrapp/docview.h"
#include "softmgrapp/wizardpics.h"
#include "ui/controls/messageform.h"
#include "ui/lang.h"

cPicture cInstWizard::myPictBg;
cPicturesList cInstWizard::myPictPoints;

namespace {

const int kContentX = 200, kContentY = 72, kContentW = 410, kContentH = 290;

}  // namespace

int cInstWizard::runWizard(sPkgInstallContext& ctx, cWindowMaker* maker) {
    if (!myPictBg.raw() && !loadWizardBackground(myPictBg)) return 1;
    const char* pattern = cCiomLangData::string("pkgm::instw", eInstwTitle);
    const char* name = ctx.getStr("name");
    _guardchar<char> caption;
    if (pattern && name)
        fillText(pattern, {name}, caption);
    else
        caption.set(name ? name : "");
    cInstWizard* w = new cInstWizard(&ctx);
    if (!maker) maker = appWindowMaker();
    return cChildElement::modalWindow(maker, caption.ptr, myPictBg.width(), myPictBg.height(), w, nullptr, 0);
}

cInstWizard::~cInstWizard() {
    // The jobs end before the pages they report to go.
    if (myRemoval) myRemoval->terminate(4000);
    if (myInstall) myInstall->terminate(4000);
}

bool cInstWizard::jobRuns() { return (myRemoval && myRemoval->runs()) || (myInstall && myInstall->runs()); }

int cInstWizard::findStep(int kind) const {
    for (int i = 0; i < myStepCount; i++)
        if (mySteps[i].kind == kind) return i;
    return -1;
}

void cInstWizard::onConstruct() {
    cChildElement::onConstruct();
    if (!myPictPoints.image(1)) loadStepIcons(myPictPoints);
    // Each page kind's title and its name in the list of steps.
    static const int kTitle[7] = {eInstwIntroTitle,    eInstwNotesTitle,   eInstwLicenceTitle, eInstwDeprecatedTitle,
                                  eInstwLocationTitle, eInstwInstallTitle, eInstwFinishTitle};
    static const int kName[7] = {eInstwIntroName,    eInstwNotesName,   eInstwLicenceName, eInstwDeprecatedName,
                                 eInstwLocationName, eInstwInstallName, eInstwFinishName};
    cSoftPkgScenario* scen = myCtx;
    for (int kind = 0; kind <= pkFinish; kind++) {
        cChildElement* page = nullptr;
        switch (kind) {
            case pkIntro:
                if (!scen || !scen->welcome()) continue;
                page = myDocs[0] = makeDocumentView(this, scen->welcome());
                break;
            case pkNotes:
            case pkLicence: {
                cSiDocContainer* doc = !scen ? nullptr : kind == pkNotes ? scen->readme() : scen->eula();
                if (!doc) continue;
                page = myDocs[kind] = makeDocumentView(this, doc);
                cCheckBoxChild* box = new cCheckBoxChild;
                attach(box, 193, 369, 10, 10);
                box->setText(string(kind == pkNotes ? eInstwNotesRead : eInstwLicenceAccepted), cCanvas::taLeft);
                sSize s = {0, 0};
                if (box->wantsSize(s)) box->move(193, 369, s.cx, s.cy);
                box->setTransparent(true);
                box->setTextColor(0x655654);
                box->hide(false);
                (kind == pkNotes ? myReadmeBox : myLicenceBox) = box;
                break;
            }
            case pkDeprecated:
                if (!myCtx || myCtx->packagesForRemoval.empty()) continue;
                page = myRemoval = new cSoftUninstallerPanel;
                myRemoval->heldCode = myCtx->runLock.held() ? myCtx->codeName.ptr : nullptr;
                attach(myRemoval, 0, 0, 10, 10);
                myDeprecated = new cListViewChild;
                attach(myDeprecated, 210, 82, 390, 270);
                myDeprecated->showHeader(false);
                myDeprecated->setColumn(1, "", 390 - 25, cCanvas::taLeft);
                myDeprecated->setCheckMode(true);
                myDeprecated->setBorderColor(0xFFFFFF, false);
                myDeprecated->setColumnFont(1, mkBtnPassFont());
                myDeprecated->setColumnTextColor(1, 0x655654, false);
                myDeprecated->setText(string(eInstwNoneDeprecated), -1, false);
                myDeprecated->hide(false);
                break;
            case pkLocation:
                if (!myCtx || myCtx->getStr("pgm")) continue;
                page = myFolder = new cFileSelectPanel;
                attach(myFolder, 0, 0, 10, 10);
                break;
            case pkInstall:
                page = myInstall = new cInstallerJobPanel;
                attach(myInstall, 0, 0, 10, 10);
                break;
            case pkFinish:
                page = myFinish = new cFinishPanel;
                attach(myFinish, 0, 0, 10, 10);
                break;
        }
        anchor(page, kContentX, kContentY, kContentW, kContentH);
        page->hide(false);
        sStep& s = mySteps[myStepCount++];
        s.kind = kind;
        s.title = string(kTitle[kind]);
        s.name = string(kName[kind]);
    }
    // Attached after the pages: Tab reaches a page's document and box before Next.
    myNext = new cWZIButton;
    attach(myNext, 0, 0, kNextWidth, 26);
    anchor(myNext, -26 - kNextWidth, -52, kNextWidth, 26);
    myTitleFont = mkWizTitleFont();
    myCurrentFont = mkBtnFont(false);
    myOtherFont = mkBtnPassFont();
    myLeft = 25;
    myTop = 85;
    myBottom = myTop + kStepHeight * myStepCount;
    myPressed = -1;
    for (int i = 0; i < myStepCount; i++)
        mySteps[i].right = 25 + textExtent(mySteps[i].name ? mySteps[i].name : "", myOtherFont).cx + 25;
    myCurrent = -1;
    setStep(0);
}

void cInstWizard::hidePages() {
    for (cChildElement* e : {myDocs[0], myDocs[1], myDocs[2], (cChildElement*)myReadmeBox, (cChildElement*)myLicenceBox,
                             (cChildElement*)myDeprecated, (cChildElement*)myFolder, (cChildElement*)myRemoval,
                             (cChildElement*)myInstall, (cChildElement*)myFinish})
        if (e) e->hide(false);
}

void cInstWizard::setStep(int index) {
    // A page change while a job runs would leave the job reporting to a page that is
    // no longer shown.
    if (jobRuns()) return;
    for (int i = index;; i++) {
        if (i == myCurrent || i >= myStepCount || i < 0) return;
        const sStep& s = mySteps[i];
        const char* label = string(s.kind == pkFinish ? eInstwClose : eInstwNext);
        myNext->setText(label, -1, true);
        hidePages();
        myNext->enable();
        switch (s.kind) {
            case pkIntro: myDocs[0]->show(false); break;
            case pkNotes:
                myDocs[1]->show(false);
                if (myCtx->readme_needs_accept()) {
                    myReadmeBox->setChecked(false, false);
                    myReadmeBox->show(false);
                    myNext->disable(false);
                }
                break;
            case pkLicence:
                myDocs[2]->show(false);
                myLicenceBox->setChecked(false, false);
                myLicenceBox->show(false);
                myNext->disable(false);
                break;
            case pkDeprecated: {
                myDeprecated->clear();
                int row = 0;
                for (auto* it = myCtx->packagesForRemoval.head; it; it = it->next, row++) {
                    myDeprecated->setItem(row, 1, it->value.name.ptr ? it->value.name.ptr : "", -1, &it->value);
                    myDeprecated->setChecked(row, true, false);
                }
                myDeprecated->show(false);
                break;
            }
            case pkLocation:
                myFolder->init(myCtx);
                myFolder->show(false);
                break;
            case pkInstall:
                // One installation a run: once started, the page only leads to Finish.
                if (!myInstallStarted && myInstall->startInstall(myCtx)) {
                    myInstallStarted = true;
                    myNext->disable(false);
                    myInstall->show(false);
                    break;
                }
                // Nothing was installed: the Finish page must not report a success.
                if (!myInstallStarted && myCtx->result == eIJOk) myCtx->result = eIJStopped;
                continue;
            case pkFinish:
                myFinish->init(myCtx);
                myFinish->show(false);
                break;
        }
        myCurrent = i;
        focusPage();
        repaint();
        return;
    }
}

void cInstWizard::focusPage() {
    // Hiding or disabling the holder drops the focus; keyboard users start on the page's
    // document (so the arrows scroll it) or on Next.
    if (getFocused()) return;
    cChildElement* doc = currentKind() >= pkIntro && currentKind() <= pkLicence ? myDocs[currentKind()] : nullptr;
    if (myNext->enabled() && currentKind() != pkNotes && currentKind() != pkLicence)
        myNext->focus();
    else if (doc)
        doc->focus();
    else if (myNext->enabled())
        myNext->focus();
}

bool cInstWizard::ask(bool warning, const char* text) {
    return warning ? cMessageForm::warnconfirmbox(this, text) : cMessageForm::confirmbox(this, text);
}

void cInstWizard::acceptDeprecated() {
    bool anyChecked = false, anyUnchecked = false;
    int rows = 0;
    for (; myDeprecated->association(rows, 1); rows++)
        (myDeprecated->checked(rows) ? anyChecked : anyUnchecked) = true;
    if (rows == 0) {
        setStep(myCurrent + 1);
        return;
    }
    if (!anyChecked) {
        if (ask(true, string(eInstwAskKeepAll))) {
            setStep(myCurrent + 1);
            return;
        }
    } else if (anyUnchecked && !ask(true, string(eInstwAskKeepSome))) {
        return;
    }
    for (int r = 0; r < rows; r++) {
        sPackageForRemoval* p = static_cast<sPackageForRemoval*>(myDeprecated->association(r, 1));
        if (p) p->selected = myDeprecated->checked(r);
    }
    myDeprecated->hide(false);
    myRemoval->store = myCtx->store;
    if (!myRemoval->startRemoval(myCtx->packagesForRemoval)) {
        setStep(myCurrent + 1);
        return;
    }
    myRemoval->show(false);
    myNext->disable(true);
    repaint();
}

bool cInstWizard::onFormAccept() {
    if (jobRuns() || myCurrent < 0 || myClosing || !myNext->enabled()) return true;
    switch (mySteps[myCurrent].kind) {
        case pkIntro: setStep(myCurrent + 1); break;
        case pkNotes:
            if (!myCtx->readme_needs_accept() || myReadmeBox->checked()) setStep(myCurrent + 1);
            break;
        case pkLicence:
            if (myLicenceBox->checked()) setStep(myCurrent + 1);
            break;
        case pkDeprecated: acceptDeprecated(); break;
        case pkLocation:
            if (myFolder->accept()) setStep(myCurrent + 1);
            break;
        case pkInstall: break;
        case pkFinish:
            myClosing = true;
            myFinish->finalize();
            // The program's end code says whether the installation was made.
            end_modal(myCtx && myCtx->result != eIJOk ? 1 : 0);
            break;
    }
    return true;
}

bool cInstWizard::onFormCancel() {
    if (myInstall && myInstall->runs() && ask(true, string(eInstwAskAbort))) {
        // Once the files are applied the job goes on to its end.
        myInstall->stop();
    }
    return true;
}

bool cInstWizard::processKey(int key, bool shift, bool ctrl, bool alt) {
    // The page's accept, whatever has the focus (Space presses a focused Browse).
    if (key == kKeyEnter && !shift && !ctrl && !alt) return onFormAccept();
    if (key == kKeyEscape && !shift && !ctrl && !alt) return onFormCancel();
    return cChildElement::processKey(key, shift, ctrl, alt);
}

bool cInstWizard::onClose() {
    if (jobRuns()) return false;
    if (currentKind() == pkFinish) return true;
    // A confirmed close before the end is a cancel: the run ends with 1, not the window's 0.
    if (ask(false, string(eInstwAskClose))) end_modal(1);
    return false;
}

int cInstWizard::active(int x, int y) {
    // Going back while a job runs would leave the job's page; refused.
    if (currentKind() == pkFinish || jobRuns()) return -1;
    if (x < myLeft || y < myTop || y >= myBottom) return -1;
    int row = (y - myTop) / kStepHeight;
    if (row >= myCurrent || x >= mySteps[row].right || mySteps[row].kind == pkInstall) return -1;
    return row;
}

void cInstWizard::onMouseButton(int x, int y, int button, bool down) {
    if (button != kMouseLeft) return;
    if (down) {
        myPressed = active(x, y);
        if (myPressed >= 0) capturePointer();
        return;
    }
    if (myPressed < 0) return;
    int pressed = myPressed;
    myPressed = -1;
    releasePointer();
    if (active(x, y) == pressed) setStep(pressed);
}

void cInstWizard::onMouseMoving(int x, int y) { setPointer(active(x, y) >= 0 ? 3 : 0); }

bool cInstWizard::onAction(cChildElement* sender, cChildAction* action) {
    if (cAskReleaseAction* q = dynamic_cast<cAskReleaseAction*>(action)) {
        // The installation job's busy file: ask whether to try again.
        if (!q->giveUp) return true;
        if (q->path.empty()) {
            *q->giveUp = true;
            return true;
        }
        _guardchar<char> m;
        fillText(string(eInstwAskRetryUpdate), {q->path.ptr}, m);
        *q->giveUp = !ask(true, m.ptr);
        return true;
    }
    if (action->type == eActClick && (sender == myReadmeBox || sender == myLicenceBox)) {
        if (static_cast<cCheckBoxChild*>(sender)->checked())
            myNext->enable();
        else
            myNext->disable(true);
        return true;
    }
    if (action->type == eActClick && sender == myNext) return onFormAccept();
    if (action->type == eJobEnded && !action->sent() && myRemoval && sender == myRemoval) {
        // The end is posted from the job's last moments: let its thread finish first.
        myRemoval->terminate(4000);
        bool failed = false;
        for (auto* it = myCtx->packagesForRemoval.head; it; it = it->next)
            failed = failed || (it->value.selected && it->value.result != 0);
        if (failed && !ask(true, string(eInstwAskPartialRemoval))) myCurrent--;
        setStep(myCurrent + 1);
        return true;
    }
    if (action->type == eJobEnded && !action->sent() && myInstall && sender == myInstall) {
        myInstall->terminate(4000);
        setStep(findStep(pkFinish));
        return true;
    }
    return cChildElement::onAction(sender, action);
}

bool cInstWizard::onBackgroundRequest(cCanvas* canvas, sRect* rect) {
    if (rect && myPictBg.raw()) canvas->drawBitmap(-rect->x, -rect->y, &myPictBg);
    return true;
}

void cInstWizard::onPaint(cCanvas* canvas) {
    if (myPictBg.raw()) canvas->drawBitmap(0, 0, &myPictBg);
    if (myCurrent >= 0 && myCurrent < myStepCount && mySteps[myCurrent].title) {
        canvas->setTextMode(myTitleFont);
        canvas->setTextColors(0x383231, 0xE7E7E7);
        sRect box = {kTitleX, kTitleY, width() - kTitleMargin, kTitleHeight};
        canvas->drawTextLimited(&box, 0, false, 0, 0, mySteps[myCurrent].title);
    }
    for (int i = 0; i < myStepCount; i++) {
        const sStep& st = mySteps[i];
        int y = myTop + kStepHeight * i;
        // Every step before the current one is passed, the installation too when it failed
        // (the finish page says how it ended).
        int icon = i < myCurrent ? 20 : i == myCurrent ? 21 : i + 1;
        canvas->setTextMode(i == myCurrent ? myCurrentFont : myOtherFont);
        canvas->setTextColors(i == myCurrent ? 0x655654 : 0xA19795, 0xE7E7E7);
        sPoint at = {25, y};
        if (cPicture* p = myPictPoints.image(icon)) canvas->drawTransparent(&at, p);
        sRect box = {50, y, kStepNameWidth, kStepNameHeight};
        canvas->drawTextLimited(&box, 0, true, 0, 0, st.name ? st.name : "");
    }
}

// cInstWizard: the window of a generated installer. A fixed background with the step
// list on the left, the page title at the top, one page at a time in the content area
// and a single Next (on the last page Close) button. Pages are chosen once, from the
// scenario and the installation context, when the wizard is constructed in its window.
#pragma once

#include "ciplatform/picture.h"
#include "softmgrapp/fileselect.h"
#include "softmgrapp/finishpanel.h"
#include "softmgrapp/jobforms.h"
#include "ui/controls/checkbox.h"
#include "ui/controls/listview.h"

class cWindowMaker;

class cInstWizard : public cChildElement {
public:
    enum ePageKind { pkIntro = 0, pkNotes = 1, pkLicence = 2, pkDeprecated = 3, pkLocation = 4, pkInstall = 5, pkFinish = 6 };
    struct sStep {
        int kind = 0;
        const char* title = nullptr;
        const char* name = nullptr;
        int right = 0;  // right edge of the step's clickable area
    };

    explicit cInstWizard(sPkgInstallContext* ctx) : myCtx(ctx) {}
    ~cInstWizard() override;

    // Shows the wizard as one modal top-level window (the application's window maker
    // unless one is given); the process result (1 when the background cannot be made).
    static int runWizard(sPkgInstallContext& ctx, cWindowMaker* maker = nullptr);

    // Shows the page of a step; refused while a job runs.
    void setStep(int index);
    bool onFormAccept();
    bool onFormCancel();
    // The step under a point that may be clicked, else -1.
    int active(int x, int y);

    // For the owner and tests.
    int stepCount() const { return myStepCount; }
    int currentStep() const { return myCurrent; }
    const sStep& step(int i) const { return mySteps[i]; }
    int currentKind() const { return myCurrent >= 0 && myCurrent < myStepCount ? mySteps[myCurrent].kind : -1; }
    bool jobRuns();
    cWZIButton* nextButton() { return myNext; }
    cCheckBoxChild* readmeBox() { return myReadmeBox; }
    cCheckBoxChild* licenceBox() { return myLicenceBox; }
    cListViewChild* deprecatedList() { return myDeprecated; }
    cSoftUninstallerPanel* removalPanel() { return myRemoval; }
    cFileSelectPanel* folderPage() { return myFolder; }
    cInstallerJobPanel* installPanel() { return myInstall; }
    cFinishPanel* finishPage() { return myFinish; }
    cChildElement* docView(int kind) { return kind >= 0 && kind <= 2 ? myDocs[kind] : nullptr; }

    // The Next button's width in the wizard's layout (every word fits it); a step's
    // row and the box its name is drawn in, one line left of the white page the background
    // draws at x 190 (every translation of a name fits it in both weights).
    static const int kNextWidth = 100, kStepHeight = 22, kStepNameWidth = 140, kStepNameHeight = 14;
    // The page title's box, right of the step list (its width is the window's less 220):
    // one line, cut where it does not fit (every translation fits).
    static const int kTitleX = 195, kTitleY = 25, kTitleMargin = 220, kTitleHeight = 25;

    static cPicture myPictBg;
    static cPicturesList myPictPoints;

    bool processKey(int key, bool shift, bool ctrl, bool alt) override;
    void onConstruct() override;
    void onPaint(cCanvas* canvas) override;
    bool onBackgroundRequest(cCanvas* canvas, sRect* rect) override;
    void onMouseButton(int x, int y, int button, bool down) override;
    void onMouseMoving(int x, int y) override;
    bool onAction(cChildElement* sender, cChildAction* action) override;
    bool onClose() override;
    bool wantDoubleBuffer() override { return true; }
    const char* wantLangResource() override { return "pkgm::instw"; }

private:
    void hidePages();
    void focusPage();
    int findStep(int kind) const;
    void acceptDeprecated();
    bool ask(bool warning, const char* text);

    cChildElement* myDocs[3] = {nullptr, nullptr, nullptr};  // welcome, readme, licence
    cCheckBoxChild* myReadmeBox = nullptr;
    cCheckBoxChild* myLicenceBox = nullptr;
    cListViewChild* myDeprecated = nullptr;
    cSoftUninstallerPanel* myRemoval = nullptr;
    cFileSelectPanel* myFolder = nullptr;
    cInstallerJobPanel* myInstall = nullptr;
    cFinishPanel* myFinish = nullptr;
    cWZIButton* myNext = nullptr;
    sPkgInstallContext* myCtx;
    int myLeft = 25, myTop = 85, myBottom = 85, myPressed = -1;
    sStep mySteps[7];
    int myStepCount = 0;
    int myCurrent = -1;
    bool myInstallStarted = false;
    // Close was accepted and the programs started: a click or Return that the window
    // handles before it goes must not start them again.
    bool myClosing = false;
    cFontObject* myTitleFont = nullptr;
    cFontObject* myCurrentFont = nullptr;
    cFontObject* myOtherFont = nullptr;
};

// The wizard's "Select location" page: the folder the software goes to, a Browse button
// with the folder dialog, and the checks of every target file before the wizard moves on.
#pragma once

#include "instengine/installctx.h"
#include "softmgrapp/appcontrols.h"
#include "ui/controls/edit.h"

class cPicture;

class cFileSelectPanel : public cChildElement {
public:
    // Remembers the context and shows its folder ("pgm", else "$HOME/Applications"); a null
    // context empties and disables the edit.
    void init(sPkgInstallContext* ctx);
    // Stores the folder as "pgm", rebuilds the file list and checks each target; false
    // (after one error box) when the wizard must stay on the page.
    bool accept();
    // Takes a folder chosen in the dialog when its volume has room for the package
    // (error box otherwise); what Browse does after the dialog.
    bool takeFolder(const char* folder);

    cEditChild* pathEdit() { return myEdit; }
    cWZIButton* browseButton() { return myBrowse; }
    // The message of the last refusal (an eFselMsg; 0 when none).
    int lastMessage() const { return myLastMessage; }
    // Free bytes of a folder's volume; tests replace it. False when unknown.
    typedef bool (*tFreeSpace)(const char* folder, unsigned long long& free);
    static tFreeSpace gFreeSpace;

    static cPicture myPictFolder;

    void onPaint(cCanvas* canvas) override;
    bool onAction(cChildElement* sender, cChildAction* action) override;
    const char* wantLangResource() override { return "pkgm::fsel"; }
    void onInitData() override;

private:
    // An error box with the page's message `message` (an eFselMsg) naming `path`.
    void refuse(int message, const char* path);
    sPkgInstallContext* myCtx = nullptr;
    cEditChild* myEdit = nullptr;
    cWZIButton* myBrowse = nullptr;
    int myLastMessage = 0;
};

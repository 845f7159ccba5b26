// The target folder page.
#include "softmgrapp/fileselect.h"

#include <cstdio>
#include <cstring>

#include "base/folders.h"
#include "ciplatform/canvas.h"
#include "ciplatform/picture.h"
#include "instengine/installfs.h"
#include "instengine/installinit.h"
#include "instengine/packagefolders.h"
#include "softmgrapp/appmessages.h"
#include "softmgrapp/wizardpics.h"
#include "ui/controls/messageform.h"
#include "ui/dialogs/folderchoose.h"

cPicture cFileSelectPanel::myPictFolder;

namespace {

// The free space of the volume the folder will be made on: a folder that does not exist yet
// (the one proposed, or chosen in the dialog as it proposed it) is measured at its nearest
// existing parent.
bool volumeFree(const char* folder, unsigned long long& free) {
    unsigned long long total = 0;
    _guardchar<char> at;
    return nearestExistingFolder(folder, at) && cFolderContents::getVolInfo(at.ptr, total, free);
}

// A message with its one "%s" (or "%lld") replaced.
void formatOne(const char* pattern, const char* value, _guardchar<char>& out) {
    if (!pattern) pattern = "";
    const char* at = strstr(pattern, "%s");
    int skip = 2;
    if (!at && (at = strstr(pattern, "%lld"))) skip = 4;
    if (!at) {
        out.set(pattern);
        return;
    }
    _guardchar<char> head, mid;
    head.set(pattern, at - pattern);
    if (!head.ptr) head.set("");
    concatText(head.ptr, value ? value : "", mid);
    concatText(mid.ptr, at + skip, out);
}

}  // namespace

cFileSelectPanel::tFreeSpace cFileSelectPanel::gFreeSpace = volumeFree;

void cFileSelectPanel::onInitData() {
    cChildElement::onInitData();
    if (!myPictFolder.raw()) loadFolderPicture(myPictFolder);
    if (!myEdit) {
        myEdit = new cEditChild;
        attach(myEdit, 20, 70, 10, 26);
        myBrowse = new cWZIButton;
        attach(myBrowse, 0, 70, 80, 26);
    }
    anchor(myEdit, 20, 70, -131, 26);
    myEdit->setReadonly(true);
    myEdit->setMaxLen(32768);
    myEdit->resetColors(0xFFFFFF, 0x655654, 0x9B6D18);
    myEdit->setStdFont(mkBtnPassFont());
    anchor(myBrowse, -101, 70, 80, 26);
    myBrowse->setText(string(eFselBrowse) ? string(eFselBrowse) : "Browse...", -1, false);
}

void cFileSelectPanel::init(sPkgInstallContext* ctx) {
    if (!myEdit) onInitData();
    myCtx = ctx;
    myLastMessage = 0;
    if (!ctx) {
        myEdit->setText("");
        myEdit->disable(false);
        return;
    }
    myEdit->enable();
    const char* pgm = ctx->getStr("pgm");
    if (pgm && *pgm) {
        myEdit->setText(pgm);
        return;
    }
    // A folder of the package's own, below the user's applications folder unless the
    // scenario names another one the user may write.
    _guardchar<char> folder;
    myEdit->setText(proposeInstallFolder(*ctx, folder) ? folder.ptr : "/Applications");
}

void cFileSelectPanel::onPaint(cCanvas* canvas) {
    sRect all = {0, 0, width(), height()};
    canvas->drawRect(&all, 0xFFFFFF, 0xFFFFFF);
    sPoint at = {20, 20};
    if (myPictFolder.raw()) canvas->drawTransparent(&at, &myPictFolder);
    if (!myCtx) return;
    sSize used;
    if (const char* name = myCtx->getStr("name")) {
        _guardchar<char> line;
        formatOne(string(eFselTarget), name, line);
        canvas->setTextMode(mkBtnPassFont());
        canvas->setTextColors(0x8E5535, 0xFFFFFF);
        canvas->drawTextWrapped(60, 25, width() - 80, 44, (cCanvas::eTextAlign)__def_block_align, line.ptr, used);
    }
    canvas->setTextMode(mkStdFont());
    canvas->setTextColors(0x655654, 0xFFFFFF);
    unsigned long long size = myCtx->requiresSize(65536);
    _guardchar<char> amount, line;
    if (size <= 0xFFFFF) {
        amount.set(string(eFselBelow1MB) ? string(eFselBelow1MB) : "");
    } else {
        char mb[32];
        snprintf(mb, sizeof mb, "%llu", (size + 0xFFFFF) / 0x100000);
        formatOne(string(eFselMegabytes), mb, amount);
    }
    formatOne(string(eFselSpace), amount.ptr, line);
    sRect box = {20, 110, width() - 40, 18};
    canvas->drawTextLimited(&box, 0, false, 0, 0, line.ptr);
    if (const char* help = string(eFselHelp))
        canvas->drawTextWrapped(20, 140, width() - 40, height() - 100, (cCanvas::eTextAlign)__def_block_align, help,
                                used);
}

void cFileSelectPanel::refuse(int message, const char* path) {
    myLastMessage = message;
    _guardchar<char> text;
    formatOne(string(message), path, text);
    cMessageForm::errorbox(this, text.ptr);
}

bool cFileSelectPanel::takeFolder(const char* folder) {
    if (!folder || !*folder || !myEdit) return false;
    unsigned long long free = 0;
    if (!gFreeSpace(folder, free)) {
        refuse(eFselNoSpaceInfo, nullptr);
        return false;
    }
    if (myCtx && free < myCtx->requiredSize) {
        refuse(eFselNoRoom, nullptr);
        return false;
    }
    myEdit->setText(folder);
    return true;
}

bool cFileSelectPanel::onAction(cChildElement* sender, cChildAction* action) {
    if (sender == myBrowse && action->type == 0) {
        _guardchar<char> path;
        path.set(myEdit->text() ? myEdit->text() : "/");
        if (cFolderChooseDialog::choose(this, string(eFselChooseTitle), path)) takeFolder(path.ptr);
        return true;
    }
    return cChildElement::onAction(sender, action);
}

bool cFileSelectPanel::accept() {
    myLastMessage = 0;
    if (!myCtx || !myEdit) return false;
    const char* folder = myEdit->text();
    if (!folder || !*folder) {
        myEdit->focus();
        return false;
    }
    _guardchar<char> chosen;
    chosen.set(folder);
    // The folder becomes "pgm" and the targets are resolved against it; each target is
    // then checked against what lies there (an identical copy is accepted).
    if (!setInstallFolder(*myCtx, chosen.ptr)) {
        // The program's own files (the store's folder, the manager's bundle) say so.
        const char* path = myCtx->messagePath.ptr;
        refuse(isProgramFolder(path, myCtx->store) ? eFselOwnFolder : eFselBadPath, path);
        return false;
    }
    unsigned int r = checkInstallTargets(*myCtx);
    if (r == eIIOk) return true;
    const sMessageRef* message = resultMessage(eAtLocationPage, r);
    refuse(message ? message->index : eFselBadPath, myCtx->messagePath.ptr);
    return false;
}

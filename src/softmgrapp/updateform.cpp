// The update form and the download. The chosen file is only ever replaced by a complete
// download: the bytes go to "<file>.part", which is renamed over it at the end.
#include "softmgrapp/updateform.h"

#include <cstring>

#include "base/appconfig.h"
#include "base/folders.h"
#include "base/job.h"
#include "base/strings.h"
#include "instengine/installfs.h"
#include "instengine/pkgregistry.h"
#include "instengine/updateinstall.h"
#include "nethttp/httprequest.h"
#include "nethttp/httptransport.h"
#include "netio/socketio.h"
#include "softmgrapp/jobforms.h"
#include "softmgrapp/mgrwidgets.h"
#include "ui/application.h"
#include "ui/controls/propdisparea.h"
#include "ui/dialogs/filechoose.h"
#include "ui/lang.h"

// ---- the transfer ----

int cUpdateTransfer::runTransfer(cProgressNotifyTarget* progress, const cJob* owner) {
    myProgress = progress;
    myOwner = owner;
    myCancelled = false;
    myResult = eDLIncomplete;
    cHttpRequest request;
    if (!myAddress.ptr || !request.create(cHttpRequest::eGet, myAddress.ptr, 1) || !initSockLib())
        return eDLNoRequest;
    myWritten = 0;
    cHttpTransport::processRequest(request, *this);
    if (myCancelled || (myOwner && myOwner->haveToStop())) return eDLCancelled;
    if (contentLength() > 0 && myWritten >= (unsigned long long)contentLength() && myResult == eDLIncomplete)
        return eDLComplete;
    return myResult;
}

bool cUpdateTransfer::abortRequested() {
    if (myOwner && myOwner->haveToStop()) myCancelled = true;
    return myCancelled;
}

bool cUpdateTransfer::onHeaderDone() {
    if (RC() == 200) return true;
    myResult = eDLStatus;
    return false;
}

bool cUpdateTransfer::onData(const void* bytes, long long length, unsigned long long offset) {
    if (abortRequested()) return false;
    if (length <= 0) return true;
    if (!myTarget.writef(bytes, length)) {
        myResult = eDLWrite;
        return false;
    }
    myWritten += (unsigned long long)length;
    if (myProgress && contentLength() > 0) {
        double percent = (double)(offset + (unsigned long long)length) * 100.0 / (double)contentLength();
        if (!myProgress->notifyProgress(percent > 100 ? 100 : percent)) {
            myCancelled = true;
            return false;
        }
    }
    return true;
}

unsigned int cUpdateUnpacker::job() {
    myReason = eArchiveUnreadable;
    if (unpackUpdateArchive(myArchive.ptr, myFolder, this, this, &myReason)) return eDLComplete;
    return myReason == eArchiveStopped ? eDLCancelled : eDLIncomplete;
}

// ---- the form ----

namespace {

bool defaultChooser(cChildElement* over, const char* caption, const char* suggested, const char* folder,
                    _guardchar<char>& path) {
    cFileChooseDialog::sFileChooseInfo info;
    info.file.set(suggested);
    if (folder && *folder) info.folder.set(folder);
    if (!info.filters.set(1)) return false;
    info.filters.ptr[0].name.set(over->string(eUpdiAllFiles));
    info.filters.ptr[0].mask.set("*");
    info.filterIndex = 0;
    if (!cFileChooseDialog::save(over, caption, info) || !info.file.ptr || !*info.file.ptr) return false;
    return path.set(info.file.ptr);
}

bool exists(const char* path) { return cFolderContents::objtype(path) != cFolderContents::eNothing; }

// The server ends its lines with CR (or CR LF); the text area breaks at LF only.
void lfLineEnds(const char* text, _guardchar<char>& out) {
    long long n = text ? (long long)strlen(text) : 0;
    if (!out.set(n)) return;
    long long k = 0;
    for (long long i = 0; i < n; i++) {
        if (text[i] == '\r' && text[i + 1] == '\n') continue;
        out.ptr[k++] = text[i] == '\r' ? '\n' : text[i];
    }
    out.ptr[k] = 0;
}

}  // namespace

cSoftUpdateInfoForm::tTargetChooser cSoftUpdateInfoForm::gChooseTarget = defaultChooser;

bool cSoftUpdateInfoForm::installUpdate(sUpdateInfoCtx& ctx, cChildElement* parent, cWindowMaker* maker) {
    cSoftUpdateInfoForm* f = new cSoftUpdateInfoForm;
    f->ctx = &ctx;
    const char* title = cCiomLangData::string("pkgm::updi", eUpdiTitle);
    int r = parent && parent->host() ? parent->modal(title ? title : "", 500, 450, f)
                                     : cChildElement::modalWindow(maker ? maker : appWindowMaker(), title ? title : "",
                                                                  500, 450, f, nullptr, 0);
    return r == 1;
}

void cSoftUpdateInfoForm::onConstruct() {
    cCustomForm::onConstruct();
    cPanelChild* client = clientArea();
    _guardchar<char> t;

    myTitle = new cStaticElement;
    client->attach(myTitle, 0, 0, 10, 10);
    client->anchor(myTitle, 10, 0, -21, 45);
    myTitle->setFont(mkWizTitleFont());
    myTitle->setColorSchema(0x734D32, 0xFFFFFF, (unsigned)-1);
    myTitle->setTextDispMode(cStaticElement::eTDMWrapped);
    fillText(string(eUpdiAvailable), {ctx ? ctx->name.ptr : nullptr}, t);
    // A name too long for the box is cut by it: the text below keeps its place.
    myTitle->setText(t.ptr, cCanvas::taLeft);

    cPropDispAreaChild* area = new cPropDispAreaChild;
    myWhatsNew = area;
    client->attach(area, 0, 0, 10, 10);
    client->anchor(area, 10, 50, -21, -151);
    area->setColorSchema(0xE4E0DC, 0xFFFFFF, 0x734D32);
    area->setExtraTitleSpacing(10);
    fillText(string(eUpdiWhatsNew), {ctx ? ctx->version.ptr : nullptr}, t);
    _guardchar<char> lines;
    lfLineEnds(ctx ? ctx->whatsNew.ptr : nullptr, lines);
    area->setText(t.ptr, lines.ptr);
    area->setQuantumSize(5, 15);

    // Each link takes its whole row.
    cLinkElement** links[2] = {&mySiteLink, &myDownloadLink};
    for (int i = 0; i < 2; i++) {
        cLinkElement* l = new cLinkElement;
        client->attach(l, 0, 0, 10, 10);
        client->anchor(l, 10, i ? -71 : -91, -21, 20);
        l->setTextColor(0xC98C2F);
        l->setFont(mkBtnFont(true));
        l->setText(string(i ? eUpdiBrowserLink : eUpdiSiteLink), cCanvas::taLeft);
        *links[i] = l;
    }

    cWZIButton** buttons[2] = {&myInstall, &myNotNow};
    for (int i = 0; i < 2; i++) {
        cWZIButton* b = new cWZIButton;
        attach(b, 0, 0, 10, 10);
        anchor(b, i ? -126 : -256, -33, 115, 25);
        b->setText(string(i ? eUpdiNotNow : eUpdiInstall));
        *buttons[i] = b;
    }
    myInstall->focus();
}

bool cSoftUpdateInfoForm::onAction(cChildElement* sender, cChildAction* action) {
    if (action->type == eActClick) {
        if (sender == myInstall) return onFormAccept(), true;
        if (sender == myNotNow) return end_modal(0), true;
        if (sender == mySiteLink) return openWebAddress(ctx ? ctx->site.ptr : nullptr), true;
        if (sender == myDownloadLink) return openWebAddress(ctx ? ctx->download.ptr : nullptr), true;
    }
    return cCustomForm::onAction(sender, action);
}

bool cSoftUpdateInfoForm::onFormCancel() {
    end_modal(0);
    return true;
}

void cSoftUpdateInfoForm::fail(int messageIndex) {
    lastOutcome = messageIndex;
    appMessageBox(this, nullptr, eBoxError, string(messageIndex));
}

// One download into the open ".part" file, repeated while the user asks for a retry.
int cSoftUpdateInfoForm::download(const char* partPath) {
    for (;;) {
        cFileIO part;
        if (!part.create(partPath, cFileIO::eWrite)) return -7;
        cUpdateDownloader* d = new cUpdateDownloader(part, ctx->download.ptr);
        int r = cStdBasicProgressForm::runUIJob(this, d, string(eUpdiDownloading));
        part.close();
        if (r != eDLIncomplete) return r;
        if (appMessageBox(this, nullptr, eBoxWarnQuestion, string(eUpdiAskRetry)) != 1) return r;
        // Yes: the next attempt starts an empty file again.
    }
}

bool cSoftUpdateInfoForm::onFormAccept() {
    if (!ctx || !ctx->download.ptr) return true;
    const char* slash = strrchr(ctx->download.ptr, '/');
    if (!slash) return true;
    lastOutcome = -1;

    cApplicationConfig* store = ctx->store;
    _guardchar<char> folder, path;
    if (store) store->getParamStr(kRegInstallerTemp, folder);
    if (!gChooseTarget || !gChooseTarget(this, string(eUpdiSaveAs), slash + 1, folder.ptr, path)) return true;
    const char* cut = strrchr(path.ptr, '/');
    if (cut && store) {
        store->setParamStr(kRegInstallerTemp, path.ptr, cut - path.ptr);
        store->saveConfig();
    }
    if (exists(path.ptr) && appMessageBox(this, nullptr, eBoxWarnQuestion, string(eUpdiAskOverwrite)) != 1) return true;

    _guardchar<char> part;
    concatText(path.ptr, ".part", part);
    int r = download(part.ptr);
    if (r != eDLComplete) {
        cFileIO::remove(part.ptr);
        switch (r) {
            case -7: fail(eUpdiCannotCreate); break;
            case eDLStatus: fail(eUpdiServerError); break;
            case eDLWrite: fail(eUpdiCannotWrite); break;
            // An address the client cannot fetch: say so instead of doing nothing.
            case eDLNoRequest: fail(eUpdiCannotStart); break;
            default: break;  // cancelled, declined retry, or closed
        }
        return true;
    }
    if (!cFileIO::move(part.ptr, path.ptr)) {
        cFileIO::remove(part.ptr);
        fail(eUpdiCannotCreate);
        return true;
    }

    // Unpacking may take a while: a job behind a progress form with Stop.
    const char* file = strrchr(path.ptr, '/');
    _guardchar<char> caption;
    fillText(cCiomLangData::string("pkgm::instp", eInstpUnpacking), {file ? file + 1 : path.ptr}, caption);
    unpackedFolder.clear();
    unpackReason = eArchiveOk;
    r = cStdBasicProgressForm::runUIJob(this, new cUpdateUnpacker(path.ptr, unpackedFolder, unpackReason),
                                        caption.ptr);
    _guardchar<char> bundle;
    if (r != eDLComplete || !findUpdateBundle(unpackedFolder.ptr, bundle) || !startUpdateInstaller(bundle.ptr)) {
        // Nothing of an update that does not start stays behind.
        removeUpdateFolder(unpackedFolder.ptr);
        unpackedFolder.clear();
        if (r == eDLCancelled)
            lastOutcome = -1;
        else
            fail(eUpdiCannotStart);
        return true;
    }
    lastOutcome = 1;
    end_modal(1);
    return true;
}

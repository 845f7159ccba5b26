// The update form: what is new in the offered version, and on "Install" the download of
// the update archive (to "<file>.part", renamed over the chosen file only when complete),
// its unpacking (a job behind a progress form, like the download) and the start of the
// installer it carries.
#pragma once

#include "base/buffers.h"
#include "base/fileio.h"
#include "base/progress.h"
#include "nethttp/httpresponse.h"
#include "softmgrapp/appcontrols.h"
#include "ui/controls/link.h"
#include "ui/controls/progressform.h"
#include "ui/customform.h"
#include "ui/staticelement.h"

class cApplicationConfig;
class cJob;

// Results of one download attempt.
enum eDownloadResult {
    eDLUnsent = 0,       // the progress form ended without a job result
    eDLNoRequest = 1,    // the address is not an "http://" address (or no socket library)
    eDLIncomplete = 2,   // no connection, no or zero Content-Length, or fewer bytes
    eDLStatus = 3,       // a status other than 200
    eDLWrite = 4,        // writing the file failed
    eDLCancelled = 5,    // the user stopped it
    eDLComplete = 10,
};

// One transfer into an open file, at its current position. Progress goes to `progress`;
// the transfer ends at once when `owner` is asked to stop.
class cUpdateTransfer : public cHttpResponse {
public:
    cUpdateTransfer(cFileIO& target, const char* address) : myTarget(target) { myAddress.set(address); }
    int runTransfer(cProgressNotifyTarget* progress, const cJob* owner);

    bool onHeaderDone() override;
    bool onData(const void* bytes, long long length, unsigned long long offset) override;
    bool abortRequested() override;

    unsigned long long written() const { return myWritten; }
    int storedResult() const { return myResult; }

private:
    cFileIO& myTarget;
    _guardchar<char> myAddress;
    int myResult = eDLIncomplete;
    unsigned long long myWritten = 0;
    cProgressNotifyTarget* myProgress = nullptr;
    const cJob* myOwner = nullptr;
    bool myCancelled = false;
};

// The download as a modal progress form that is its own job.
class cUpdateDownloader : public cStdBasicProgressForm, public cUpdateTransfer {
public:
    cUpdateDownloader(cFileIO& target, const char* address) : cUpdateTransfer(target, address) {}
    ~cUpdateDownloader() override { terminate(4000); }

protected:
    unsigned int job() override { return (unsigned int)runTransfer(this, this); }
};

// The unpacking as a modal progress form that is its own job: eDLComplete when the archive
// was unpacked into `folder`, eDLCancelled when stopped, else eDLIncomplete (`reason`
// tells why). `folder` belongs to the caller and outlives the form.
class cUpdateUnpacker : public cStdBasicProgressForm {
public:
    cUpdateUnpacker(const char* archive, _guardchar<char>& folder, int& reason) : myFolder(folder), myReason(reason) {
        myArchive.set(archive);
    }
    ~cUpdateUnpacker() override { terminate(4000); }

protected:
    unsigned int job() override;

private:
    _guardchar<char> myArchive;
    _guardchar<char>& myFolder;
    int& myReason;
};

class cSoftUpdateInfoForm : public cCustomForm {
public:
    struct sUpdateInfoCtx {
        _guardchar<char> name;
        _guardchar<char> version;   // the offered version as text
        _guardchar<char> download;  // line 2 of the answer
        _guardchar<char> site;      // line 3
        _guardchar<char> whatsNew;
        // The store that keeps the folder the last update was saved in.
        cApplicationConfig* store = nullptr;
    };
    // Asks where to save the update; the default shows the save dialog. Tests replace it.
    typedef bool (*tTargetChooser)(cChildElement* over, const char* caption, const char* suggested,
                                   const char* folder, _guardchar<char>& path);
    static tTargetChooser gChooseTarget;

    // Runs the form (a sheet of the parent, else a top-level window); true only when an
    // update installer was started.
    static bool installUpdate(sUpdateInfoCtx& ctx, cChildElement* parent, cWindowMaker* maker = nullptr);

    void onConstruct() override;
    bool onAction(cChildElement* sender, cChildAction* action) override;
    bool onFormAccept() override;
    bool onFormCancel() override;
    const char* wantLangResource() override { return "pkgm::updi"; }

    sUpdateInfoCtx* ctx = nullptr;
    // What the last Install did, for tests: 0 nothing yet, else the message shown
    // (eUpdiCannotCreate, eUpdiCannotStart, eUpdiServerError, eUpdiCannotWrite), 1 started,
    // -1 stopped without a message.
    int lastOutcome = 0;
    // Where the last Install unpacked the update (removed again unless its installer started)
    // and why unpacking failed (an eArchiveCheck code).
    _guardchar<char> unpackedFolder;
    int unpackReason = 0;
    cStaticElement* titleText() const { return myTitle; }
    cChildElement* whatsNewArea() const { return myWhatsNew; }
    cChildElement* siteLink() const { return mySiteLink; }
    cChildElement* downloadLink() const { return myDownloadLink; }
    cWZIButton* installButton() const { return myInstall; }
    cWZIButton* notNowButton() const { return myNotNow; }

private:
    int download(const char* path);
    // An error box with the form's message (an eUpdiMsg), kept as the last outcome.
    void fail(int messageIndex);

    cStaticElement* myTitle = nullptr;
    cChildElement* myWhatsNew = nullptr;
    cLinkElement* mySiteLink = nullptr;
    cLinkElement* myDownloadLink = nullptr;
    cWZIButton* myInstall = nullptr;
    cWZIButton* myNotNow = nullptr;
};

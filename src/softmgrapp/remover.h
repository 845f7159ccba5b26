// Removal of the Software Manager: the "remove" verb and the manager's link run
// cRemoverUI, whose job deletes the manager's shortcut and bundle while no package is
// registered.
#pragma once

#include "base/appconfig.h"
#include "base/job.h"
#include "instengine/installctx.h"
#include "instengine/installfs.h"
#include "softmgrapp/jobforms.h"
#include "softmgrapp/removerresult.h"
#include "ui/customform.h"
#include "ui/staticelement.h"

class cWindowMaker;

// The job's work: checks, the confirmation (eAskRemoveManager through `asker`), then the
// deletions. Whether packages are registered is read from the store on disk, before the
// question and again after it under the store folder's lock, held to the end. `ownPath`
// is the running executable (/proc/self/exe), used when no manager lies at its place.
// Deleting it, when it fails, gives eRMBadObject, never success. File operations go
// through `fs` (the plain ones when null).
unsigned int removeManager(const char* ownPath, cApplicationConfig* store, cJobAsker* asker,
                           cInstallFS* fs = nullptr);

// Removes a regular file at a path: true when nothing is there or it was removed.
bool removeRunningAppManager(const char* path);

// The enumeration callback that notices the first non-empty subsection name.
bool enHasSect(const char* name, void* flag);

class cRemoverUI;

class cRemoverJob : public cJob {
public:
    cRemoverJob(cRemoverUI* form, const char* path) : myForm(form) { myPath.set(path); }
    ~cRemoverJob() override { terminate(4000); }
    static int gPauseMs;                       // 500; tests shorten it
    cApplicationConfig* store = nullptr;

protected:
    unsigned int job() override;
    void onJobEnd(unsigned int result) override;

private:
    cRemoverUI* myForm;
    _guardchar<char> myPath;
};

class cRemoverUI : public cCarrierForm {
public:
    class cProgressAction : public cChildAction {
    public:
        explicit cProgressAction(unsigned int result) : cChildAction(eJobEnded), result(result) {}
        unsigned int result;
    };

    // True only when the form ended with 1 (removed); false at once without "pkgm::rem".
    static bool runRemoval(const char* path, cChildElement* parent, cWindowMaker* maker = nullptr,
                           cApplicationConfig* store = nullptr);
    ~cRemoverUI() override;

    void notifyEnd(unsigned int code);
    void onConstruct() override;
    bool onAction(cChildElement* sender, cChildAction* action) override;
    const char* wantLangResource() override { return "pkgm::rem"; }

    cRemoverJob* job = nullptr;

protected:
    cJob* carried() override { return job; }
};

// The "remove" verb (named apart from the C library's remove): 0 when the removal succeeded, else 1.
int remove_softmgr(const char* path, cApplicationConfig* store);

// cSoftMgrApp: the application object. It applies the stored language, chooses the mode
// from where the executable lies and from the command line, and runs that mode (the
// process-wide hooks it runs with are set before it: processhooks.h).
#pragma once

#include "base/appconfig.h"
#include "base/buffers.h"
#include "softmgrapp/appicon.h"
#include "ui/application.h"

class cCIAppConfig;

// Exit code of a mode this build does not carry yet.
const int kExitModeUnavailable = 3;
// Exit code of a mode that shows windows when there is no display to show them on: the
// toolkit's own when no window maker can be made.
const int kExitNoDisplay = 1;

class cSoftMgrApp : public cCIApplication {
public:
    // `storeObject`: the program's store, open or not (it tells why it is not).
    explicit cSoftMgrApp(cCIAppConfig* storeObject = nullptr) : myStoreObject(storeObject) {}
    ~cSoftMgrApp() override;

    bool onInit(int argc, char** argv, int& exitCode) override;
    int run() override;
    // "make" and "version" show no window.
    bool showsWindows() override;
    void onDestroy() override {}
    const unsigned int* appIconData() override;
    int appIconDim() override { return kAppIconDim; }

    // The choice made by onInit (eSoftMgrMode and its arguments).
    unsigned int mode = 0;
    _guardchar<char> executablePath;  // from /proc/self/exe
    _guardchar<char> firstArg;
    _guardchar<char> secondArg;
    unsigned int installOffset = 0;
    bool quiet = false;

private:
    cCIAppConfig* myStoreObject;
};

// Opens the store "$HOME/.<name>", creating it when opening fails; false when neither
// works (the store then tells why).
bool openProgramStore(cCIAppConfig& store, const char* name);

// Applies the UI language stored under "lang/current" when the application has a table
// for it, else English. The language applied.
int applyStoredLanguage(cApplicationConfig* store);

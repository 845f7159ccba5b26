// cCIApplication: the application object and the start-up that runs it (store, hooks,
// window maker, exit code).
#pragma once

#include "base/appconfig.h"
#include "base/buffers.h"
#include "base/cexception.h"  // cException::init, which an application installs at start-up
#include "configstore/ciappconfig.h"

class cWindowMaker;

class cCIApplication {
public:
    cCIApplication() {}
    cCIApplication(const cCIApplication&) = delete;
    cCIApplication& operator=(const cCIApplication&) = delete;

    // Before any window: false ends the run with `exitCode` (1 unless changed).
    virtual bool onInit(int argc, char** argv, int& exitCode);
    // Asked after onInit: false runs without a window maker (no display, icon or toolkit
    // texts), for work that shows no window.
    virtual bool showsWindows();
    // The application's work; its result is the process exit code.
    virtual int run();
    // After run (also after a refused onInit), before the object is deleted.
    virtual void onDestroy();
    // Deletes the window maker and the store it owns.
    virtual ~cCIApplication();
    // The application icon: appIconDim() x appIconDim() 32-bit 0xAARRGGBB pixels, rows
    // top-down, or null for none.
    virtual const unsigned int* appIconData();
    virtual int appIconDim();

    // Runs the application and deletes it: records the executable's place, opens the
    // store "$HOME/.<configName>" (creating it when opening fails), calls onInit,
    // creates the window maker (unless showsWindows() is false), calls run, then
    // onDestroy. Takes over `app` and `store`.
    static int runApp(cCIApplication* app, void* imageBase, int reserved1, int reserved2, int argc, char** argv,
                      cCIAppConfig* store, const char* configName);

    // The running application, or null outside runApp.
    static cCIApplication* appRef();

    // The store, or null when it could not be opened.
    cApplicationConfig* config();
    cCIAppConfig* store() { return myStore && myStore->isOpen() ? myStore : nullptr; }
    // The store object given to runApp, open or not (it tells why it is not).
    cCIAppConfig* storeObject() { return myStore; }
    cWindowMaker* windowMaker() { return myMaker; }
    // The executable (from /proc/self/exe) and its folder; null when unknown.
    const char* exePath() const { return myExePath.ptr; }
    const char* exeFolder() const { return myExeFolder.ptr; }
    void* imageBase() const { return myImageBase; }

private:
    void findExecutable();

    cCIAppConfig* myStore = nullptr;
    cWindowMaker* myMaker = nullptr;
    _guardchar<char> myExePath;
    _guardchar<char> myExeFolder;
    void* myImageBase = nullptr;
};

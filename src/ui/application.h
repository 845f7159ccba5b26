// cCIApplication: the application object and the start-up that runs it (hooks, window
// maker, exit code) with the store the program hands in.
#pragma once

#include "base/appconfig.h"
#include "base/buffers.h"
#include "base/cexception.h"  // cException::init, which an application installs at start-up

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
    // Deletes the window maker it owns.
    virtual ~cCIApplication();
    // The application icon: appIconDim() x appIconDim() 32-bit 0xAARRGGBB pixels, rows
    // top-down, or null for none.
    virtual const unsigned int* appIconData();
    virtual int appIconDim();

    // Runs the application and deletes it: records the executable's place, calls onInit,
    // creates the window maker (unless showsWindows() is false), calls run, then
    // onDestroy. Takes over `app`; `store` is the program's, opened by it (null when it
    // could not be), and outlives the run.
    static int runApp(cCIApplication* app, void* imageBase, int reserved1, int reserved2, int argc, char** argv,
                      cApplicationConfig* store);

    // The running application, or null outside runApp.
    static cCIApplication* appRef();

    // The store given to runApp, or null when the program could not open one.
    cApplicationConfig* config() { return myStore; }
    cWindowMaker* windowMaker() { return myMaker; }
    // The executable (from /proc/self/exe) and its folder; null when unknown.
    const char* exePath() const { return myExePath.ptr; }
    const char* exeFolder() const { return myExeFolder.ptr; }
    void* imageBase() const { return myImageBase; }

private:
    void findExecutable();

    cApplicationConfig* myStore = nullptr;
    cWindowMaker* myMaker = nullptr;
    _guardchar<char> myExePath;
    _guardchar<char> myExeFolder;
    void* myImageBase = nullptr;
};

// Start-up of an application: the order of its hooks, the window maker and the exit code.
#include "ui/application.h"

#include <stdio.h>
#include <unistd.h>

#include "ciplatform/windowmaker.h"
#include "ui/lang.h"

static cCIApplication* gApplication = nullptr;

bool cCIApplication::onInit(int argc, char** argv, int& exitCode) { return true; }

bool cCIApplication::showsWindows() { return true; }

int cCIApplication::run() { return 0; }

void cCIApplication::onDestroy() {}

cCIApplication::~cCIApplication() {
    delete myMaker;
    myMaker = nullptr;
}

const unsigned int* cCIApplication::appIconData() { return nullptr; }

int cCIApplication::appIconDim() { return 0; }

cCIApplication* cCIApplication::appRef() { return gApplication; }

void cCIApplication::findExecutable() {
    // argv[0] may be relative, a link or anything the caller chose; the kernel knows.
    _guardchar<char> path;
    for (long long size = 256; size <= 65536; size *= 2) {
        if (!path.set(size)) return;
        ssize_t n = readlink("/proc/self/exe", path.ptr, (size_t)size);
        if (n < 0) return;
        if (n < size) {
            path.ptr[n] = 0;
            myExePath.set(path.ptr);
            const char* slash = strrchr(path.ptr, '/');
            if (slash) myExeFolder.set(path.ptr, slash == path.ptr ? 1 : slash - path.ptr);
            return;
        }
    }
}

int cCIApplication::runApp(cCIApplication* app, void* imageBase, int reserved1, int reserved2, int argc, char** argv,
                           cApplicationConfig* store) {
    if (!app) return 1;
    gApplication = app;
    app->myImageBase = imageBase;
    app->myStore = store;
    app->findExecutable();

    int exitCode = 1;
    try {
        if (!app->onInit(argc, argv, exitCode)) {
            // The refused start keeps onInit's exit code.
        } else if (!app->showsWindows()) {
            // No window maker, icon or toolkit texts for a run that shows no window.
            exitCode = app->run();
        } else {
            int dim = app->appIconDim();
            const unsigned int* icon = app->appIconData();
            unsigned int iconBytes = icon && dim > 0 && dim <= 1024 ? (unsigned int)dim * (unsigned int)dim * 4 : 0;
            app->myMaker = cWindowMaker::newWindowMaker(iconBytes ? (const unsigned char*)icon : nullptr, iconBytes,
                                                        iconBytes ? dim : 0);
            if (app->myMaker) {
                // The toolkit's own texts join the tables and the applied language is
                // applied again with them (only the first time does anything).
                cCiomToolkitLang::init();
                exitCode = app->run();
            } else {
                exitCode = 1;
            }
        }
    } catch (const cException& e) {
        fprintf(stderr, "(e) %s\n", e.message());
        exitCode = 1;
    }

    try {
        app->onDestroy();
    } catch (const cException& e) {
        fprintf(stderr, "(e) %s\n", e.message());
    }
    delete app;
    gApplication = nullptr;
    return exitCode;
}

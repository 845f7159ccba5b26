// The program's entry: the configuration store is opened here, and it and the application
// object go to the toolkit's start-up, which runs the mode the command line or the bundle
// asks for.
#include <dlfcn.h>

#include "configstore/ciappconfig.h"
#include "softmgrapp/processhooks.h"
#include "softmgrapp/softmgrapp.h"
#include "x11/x11maker.h"

namespace {
// An address inside this image, for the loader's lookup of the image base.
void imageAnchor() {}
}  // namespace

int main(int argc, char** argv) {
    void* imageBase = nullptr;
    Dl_info info;
    if (dladdr((void*)&imageAnchor, &info)) imageBase = info.dli_fbase;
    // Every process-wide hook; real windows when a display is reachable, else the headless maker.
    installProcessHooks(cX11WindowMaker::displayFactory, true);
    cCIAppFullConfig store;
    openProgramStore(store, "qmx");
    return cCIApplication::runApp(new cSoftMgrApp(&store), imageBase, 0, 0, argc, argv,
                                  store.isOpen() ? &store : nullptr);
}

// Driver of bench_install.sh: installs a scenario data file as the installer's
// installation step does, without windows: the start-up checks, the install folder,
// the installation job (unpacking, digests, moving into place, registration). Every
// question is answered "no"; the store is $HOME/.qmx.
//   pkginstall FILE INSTALL-FOLDER MANAGER-PROGRAM
#include <cstdio>

#include "configstore/ciappconfig.h"
#include "instengine/installinit.h"
#include "instengine/installjob.h"

int main(int argc, char** argv) {
    if (argc < 4) {
        fprintf(stderr, "usage: %s scenario.data install-folder manager-program\n", argv[0]);
        return 2;
    }
    cCIAppConfig store;
    if (!store.create("qmx") || !store.open("qmx")) {
        fprintf(stderr, "no configuration store\n");
        return 1;
    }
    sPkgInstallContext ctx;
    ctx.packagePath.set(argv[1]);
    ctx.executablePath.set(argv[3]);
    ctx.store = &store;
    cNoQuestionsAsker asker(false);
    unsigned int r = installChecks(ctx, &asker);
    if (r == 0 && ctx.installedVersion == ~0ULL)
        r = setInstallFolder(ctx, argv[2]) ? checkInstallTargets(ctx) : 99;
    if (r != 0) {
        fprintf(stderr, "checks: %u %s\n", r, ctx.messagePath.ptr ? ctx.messagePath.ptr : "");
        return 1;
    }
    if (runInstallJob(ctx, nullptr, &asker) != 0) {
        fprintf(stderr, "install: %u %s\n", ctx.result, ctx.messagePath.ptr ? ctx.messagePath.ptr : "");
        return 1;
    }
    return 0;
}

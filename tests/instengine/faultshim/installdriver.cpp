// The installation and uninstallation jobs without windows, for the fault-layer tests:
// the store is $HOME/.qmx, the engine's language questions are answered as the
// application answers them, every question is answered as a user going ahead would (the
// confirmation yes, a busy file given up). The fault layer, when preloaded, is armed for
// the job alone; the number of file operations it counted goes to standard output.
//   installdriver install PACKAGE INSTALL-FOLDER MANAGER-PROGRAM
//   installdriver uninstall CODE-NAME
//   installdriver recover     (the Software Manager's start: every journal resolved)
// Exit code 0 when the job succeeded (or its start finished this very job, interrupted
// before), 3 when there was nothing to do (no update required, not installed), 1 when it
// failed, 2 for a usage error.
//   installdriver serve
// reads lines "MODE AT VERB ARGS..." (tab-separated; MODE and AT as QMXFAULT_MODE and
// QMXFAULT_AT, AT 0 for no fault; "MODE:PATH" sets QMXFAULT_READPATH too) and runs each
// in a child process of its own, then
// writes "end CODE" (the exit code, or -1 for a killed child): one process start and one
// sanitizer start for a whole sweep. With QMXDRIVER_ROOT set, each child runs with that
// folder as its root (a private root the caller made, holding every path it names).
#include <dlfcn.h>
#include <errno.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include <cstdio>
#include <cstring>

#include "configstore/ciappconfig.h"
#include "installtest.h"
#include "instengine/installinit.h"
#include "instengine/installjob.h"
#include "instengine/journalrecovery.h"
#include "instengine/uninstall.h"

namespace {

void arm() {
    if (auto f = (void (*)())dlsym(RTLD_DEFAULT, "qmx_fault_arm")) f();
}

void disarm() {
    if (auto f = (long long (*)())dlsym(RTLD_DEFAULT, "qmx_fault_disarm")) printf("ops %lld\n", f());
}

int install(cCIAppConfig& store, const char* package, const char* folder, const char* exe) {
    sPkgInstallContext ctx;
    ctx.packagePath.set(package);
    ctx.executablePath.set(exe);
    ctx.store = &store;
    cNoQuestionsAsker asker(true);
    arm();
    unsigned int r = installChecks(ctx, &asker);
    if (r == eIIOk && ctx.installedVersion == ~0ULL) r = setInstallFolder(ctx, folder) ? checkInstallTargets(ctx) : 99;
    unsigned int job = r == eIIOk ? runInstallJob(ctx, nullptr, &asker) : 1;
    disarm();
    printf("checks %u job %u result %u %s\n", r, job, ctx.result, ctx.messagePath.ptr ? ctx.messagePath.ptr : "");
    for (auto* it = ctx.leftovers.head; it; it = it->next) printf("left %s\n", it->value.ptr);
    if (r == eIINoUpdate) return 3;
    return (r == eIIOk && job == 0) || r == eIIFinished ? 0 : 1;
}

int uninstall(cCIAppConfig& store, const char* code) {
    sPkgUninstallContext ctx;
    ctx.codeName.set(code);
    ctx.key.set(code);
    cNoQuestionsAsker asker(true);
    arm();
    unsigned int r = uninstallJob(ctx, &store, &asker);
    disarm();
    printf("uninstall %u %s\n", r, ctx.messagePath.ptr ? ctx.messagePath.ptr : "");
    for (auto* it = ctx.leftovers.head; it; it = it->next) printf("left %s\n", it->value.ptr);
    for (auto* it = ctx.keptFor.head; it; it = it->next) printf("kept for %s\n", it->value.ptr);
    return r == eUNRemoved ? 0 : r == eUNNotInstalled ? 3 : 1;
}

int recover(cCIAppConfig& store) {
    _List<_guardchar<char> > unfinished;
    _List<sSetAsideJournal> aside;
    _List<sUnreadJournal> unread;
    arm();
    bool ok = recoverAllInterrupted(&store, nullptr, &unfinished, &aside, &unread);
    disarm();
    printf("recover %d\n", ok ? 1 : 0);
    for (auto* it = unread.head; it; it = it->next) printf("unreadable %s\n", it->value.path.ptr);
    for (auto* it = aside.head; it; it = it->next) printf("set aside %s\n", it->value.path.ptr);
    return ok ? 0 : 1;
}

}  // namespace

int runVerb(int argc, char** argv);

int serve() {
    char line[16384];
    while (fgets(line, sizeof line, stdin)) {
        line[strcspn(line, "\n")] = 0;
        char* argv[8] = {nullptr};
        int argc = 0;
        for (char* p = strtok(line, "\t"); p && argc < 8; p = strtok(nullptr, "\t")) argv[argc++] = p;
        if (argc < 3) return 2;
        fflush(stdout);
        pid_t pid = fork();
        if (pid == 0) {
            if (char* path = strchr(argv[0], ':')) {
                *path++ = 0;
                setenv("QMXFAULT_READPATH", path, 1);
            }
            const char* root = getenv("QMXDRIVER_ROOT");
            if (root && (chroot(root) != 0 || chdir("/") != 0)) _exit(2);
            setenv("QMXFAULT_MODE", argv[0], 1);
            setenv("QMXFAULT_AT", argv[1], 1);
            int r = runVerb(argc - 1, argv + 1);
            fflush(stdout);
            _exit(r);
        }
        int status = 0;
        while (pid > 0 && waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        printf("end %d\n", pid > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1);
        fflush(stdout);
    }
    return 0;
}

int runVerb(int argc, char** argv) {
    bool inst = argc == 5 && strcmp(argv[1], "install") == 0;
    bool rec = argc == 2 && strcmp(argv[1], "recover") == 0;
    if (!inst && !rec && !(argc == 3 && strcmp(argv[1], "uninstall") == 0)) {
        fprintf(stderr, "usage: %s install PACKAGE FOLDER MANAGER | uninstall CODE | recover\n", argv[0]);
        return 2;
    }
    cCIAppConfig store;
    if (!store.create("qmx") || !store.open("qmx")) {
        fprintf(stderr, "no configuration store\n");
        return 1;
    }
    if (rec) return recover(store);
    return inst ? install(store, argv[2], argv[3], argv[4]) : uninstall(store, argv[2]);
}

int main(int argc, char** argv) {
    installtest::useAppLanguages();
    int r = argc == 2 && strcmp(argv[1], "serve") == 0 ? serve() : runVerb(argc, argv);
    fflush(stdout);
    return r;
}

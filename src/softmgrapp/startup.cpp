// Start-up: the executable's place, the installer bundle test and the verbs.
#include "softmgrapp/startup.h"

#include <unistd.h>

#include <cstring>

#include "base/folders.h"
#include "base/strings.h"
#include "softmgr/bundlelayout.h"

bool selfExePath(_guardchar<char>& out) {
    // readlink does not terminate and truncates silently: grow until the answer fits.
    for (long long size = 256; size <= (1 << 20); size *= 4) {
        _typebuf<char> buf;
        if (!buf.set(size)) return false;
        ssize_t n = readlink("/proc/self/exe", buf.ptr, (size_t)size);
        if (n < 0) return false;
        if (n < size) return out.set(buf.ptr, (long long)n);
    }
    return false;
}

bool getSTInstallSrc(const char* exePath, _guardchar<char>& scenarioPath, unsigned int& offset) {
    _guardchar<char> contents, path;
    if (!bundleContentsOf(exePath, contents) || !contentsPath(contents.ptr, eBundleScenarioData, path) ||
        cFolderContents::objtype(path.ptr) != cFolderContents::eFile)
        return false;
    scenarioPath.attach(path.dettach());
    offset = 0;
    return true;
}

bool chooseMode(int argc, const char* const* argv, const char* exePath, sStartupChoice& out) {
    out.mode = eModeSoftMgr;
    out.first.clear();
    out.second.clear();
    out.offset = 0;
    out.quiet = false;

    if (getSTInstallSrc(exePath, out.first, out.offset)) {
        out.mode = eModeInstall;
        return true;
    }
    if (argc < 2 || !argv) return true;
    const char* verb = argv[1];
    if (!verb || !*verb) return false;

    if (strcmp(verb, "install") == 0) {
        if (argc < 3) return false;
        out.mode = eModeInstall;
        out.first.set(argv[2]);
        if (argc > 3) {
            unsigned long long v = strToU64(argv[3]);
            if (v < 0xFFFFFFFFULL) out.offset = (unsigned int)v;
        }
        return true;
    }
    if (strcmp(verb, "uninstall") == 0) {
        if (argc < 3) return false;
        out.mode = eModeUninstall;
        out.first.set(argv[2]);
        return true;
    }
    if (strcmp(verb, "update") == 0) {
        if (argc < 3) return false;
        out.mode = eModeUpdate;
        out.first.set(argv[2]);
        out.quiet = argc > 3 && argv[3] && strcmp(argv[3], "quite") == 0;
        return true;
    }
    if (strcmp(verb, "make") == 0) {
        if (argc != 4) return false;
        out.mode = eModeMake;
        out.first.set(argv[2]);
        out.second.set(argv[3]);
        return true;
    }
    if (strcmp(verb, "remove") == 0) {
        out.mode = eModeRemove;
        return true;
    }
    if (strcmp(verb, "version") == 0) {
        out.mode = eModeVersion;
        return true;
    }
    return false;
}

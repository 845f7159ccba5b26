// The application object: start-up (language, mode) and the dispatch of modes.
#include "softmgrapp/softmgrapp.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ciplatform/headless.h"
#include "softmgrapp/instwizard.h"
#include "softmgrapp/jobforms.h"
#include "softmgrapp/makeinstaller.h"
#include "instengine/pkgregistry.h"
#include "softmgrapp/remover.h"
#include "softmgrapp/softmgrform.h"
#include "softmgrapp/sopkglang.h"
#include "softmgrapp/startup.h"
#include "softmgrapp/updatecheck.h"
#include "instengine/version.h"
#include "ui/ciappconfig.h"

cSoftMgrApp::~cSoftMgrApp() {}

namespace {

// Every mode needs the store; without it the run ends, and says where and why.
void reportStoreFailure(cCIAppConfig* store) {
    const char* folder = store ? store->failedFolder() : nullptr;
    int error = store ? store->failedError() : 0;
    if (!folder) {
        fprintf(stderr, "(e) The configuration store could not be opened: there is no home folder (HOME).\n");
        return;
    }
    fprintf(stderr, "(e) The configuration store could not be opened: %s: %s\n", folder,
            error ? strerror(error) : "unknown error");
}

}  // namespace

int applyStoredLanguage(cApplicationConfig* store) {
    unsigned long long stored = 0;
    if (store && store->getParamInt(kRegLangCurrent, stored) && stored < (unsigned long long)eLangStdCount) {
        int id = (int)stored;
        if (cSOPKGLang::_defines(id) && cSOPKGLang::applyLang(id)) return id;
    }
    cSOPKGLang::applyLang(eLangENG);
    return eLangENG;
}

void printVerbUsage(int argc, char** argv) {
    if (argc < 2 || !argv || !argv[1]) return;
    static const char* const kUsage[][2] = {
        {"install", "usage: softmgr install <package file> [<offset of the scenario data>]"},
        {"uninstall", "usage: softmgr uninstall <package code name>"},
        {"update", "usage: softmgr update <package code name> [quite]"},
    };
    for (auto& u : kUsage)
        if (strcmp(argv[1], u[0]) == 0 && argc < 3) fprintf(stderr, "%s\n", u[1]);
}

bool cSoftMgrApp::onInit(int argc, char** argv, int& exitCode) {
    if (!cCIApplication::onInit(argc, argv, exitCode)) return false;
    if (!appRef()) return false;
    if (!config()) {
        reportStoreFailure(storeObject());
        return false;
    }
    mode = eModeSoftMgr;
    installOffset = 0;
    quiet = false;
    // The program's own path from /proc/self/exe, never argv[0].
    if (exePath())
        executablePath.set(exePath());
    else if (!selfExePath(executablePath))
        executablePath.clear();

    sStartupChoice choice;
    if (!chooseMode(argc, argv, executablePath.ptr, choice)) {
        printVerbUsage(argc, argv);
        return false;
    }
    mode = choice.mode;
    firstArg.attach(choice.first.dettach());
    secondArg.attach(choice.second.dettach());
    installOffset = choice.offset;
    quiet = choice.quiet;
    // The version query needs neither texts nor the update server.
    if (mode == eModeVersion) return true;
    applyStoredLanguage(config());
    if (!initUpdateServer()) fprintf(stderr, "(w) QMX_UPDATE_SERVER is not \"host:port\" or an http:// address; using %s.\n", kUpdateServerBase);
    return true;
}

bool cSoftMgrApp::showsWindows() { return mode != eModeMake && mode != eModeVersion; }

namespace {

int unavailable(const char* what) {
    fprintf(stderr, "(e) %s is not available in this build yet.\n", what);
    return kExitModeUnavailable;
}

// Windows can be shown on a display, or answered by the headless maker's test script.
bool windowsAvailable(cWindowMaker* maker) {
    if (!maker) return false;
    if (!maker->headless()) return true;
    cHeadlessWindowMaker* h = dynamic_cast<cHeadlessWindowMaker*>(maker);
    return h && h->scripted();
}

}  // namespace

int cSoftMgrApp::run() {
    const char* what = nullptr;
    switch (mode) {
        case eModeSoftMgr: what = "The Software Manager"; break;
        case eModeInstall: what = "Installing a package"; break;
        case eModeUninstall: what = "Uninstalling a package (\"uninstall\")"; break;
        case eModeUpdate: what = "The update check (\"update\")"; break;
        case eModeRemove: what = "Removing the Software Manager (\"remove\")"; break;
        default: break;
    }
    // Every mode but "make" and "version" shows windows.
    if (what && !windowsAvailable(windowMaker())) {
        const char* display = getenv("DISPLAY");
        fprintf(stderr, "(e) %s shows windows, but %s.\n", what,
                display && *display ? "the X display named by DISPLAY cannot be opened" : "DISPLAY is not set");
        return kExitNoDisplay;
    }
    // Under a headless test script the forms' messages go to the console too.
    gConsoleMessages = !windowMaker() || windowMaker()->headless();
    switch (mode) {
        case eModeInstall:
            return install(executablePath.ptr, firstArg.ptr, installOffset,
                           [](sPkgInstallContext& ctx) { return cInstWizard::runWizard(ctx); });
        case eModeUninstall: return uninstall(firstArg.ptr, nullptr);
        case eModeSoftMgr: return run_softmgr();
        case eModeUpdate: return check_updates(firstArg.ptr, quiet);
        // Only the real executable path (/proc/self/exe) may be deleted, never argv[0].
        case eModeRemove: return remove_softmgr(executablePath.ptr);
        case eModeMake: return makeInstaller(executablePath.ptr, firstArg.ptr, secondArg.ptr, nullptr);
        case eModeVersion: return printverinfo();
        default: return what ? unavailable(what) : 0;
    }
}

const unsigned int* cSoftMgrApp::appIconData() { return iconColorData(); }

namespace {

unsigned int blend(unsigned int under, unsigned int over, int alpha) {
    unsigned int out = 0xFF000000u;
    for (int s = 0; s < 24; s += 8) {
        int a = (int)((under >> s) & 0xFF), b = (int)((over >> s) & 0xFF);
        out |= (unsigned int)((a * (255 - alpha) + b * alpha + 127) / 255) << s;
    }
    return out;
}

// Coverage (0-255) of a rounded rectangle at a pixel, with a one-pixel soft edge.
int roundRectCover(int x, int y, int left, int top, int right, int bottom, int radius) {
    double px = x + 0.5, py = y + 0.5;
    double cx = px < left + radius ? left + radius : (px > right - radius ? right - radius : px);
    double cy = py < top + radius ? top + radius : (py > bottom - radius ? bottom - radius : py);
    double dx = px - cx, dy = py - cy;
    double d2 = dx * dx + dy * dy;
    if (px < left || px > right || py < top || py > bottom) return 0;
    if (d2 <= (radius - 1.0) * (radius - 1.0)) return 255;
    if (d2 >= (double)radius * radius) return 0;
    return 128;
}

void drawIcon(unsigned int* px) {
    const int n = cSoftMgrApp::kIconDim;
    for (int y = 0; y < n; y++) {
        for (int x = 0; x < n; x++) {
            unsigned int c = 0;  // transparent
            int cover = roundRectCover(x, y, 4, 4, n - 4, n - 4, 22);
            if (cover) {
                // A blue tile, lighter at the top.
                int g = 0x70 + (n - y) * 0x40 / n;
                unsigned int tile = 0xFF000000u | (0x20u << 16) | ((unsigned)g << 8) | 0xD8u;
                // A white box with a lid line and a downward arrow.
                int box = roundRectCover(x, y, 30, 52, n - 30, n - 22, 6);
                if (box) tile = blend(tile, 0xFFF4F6FA, box);
                if (y >= 64 && y <= 66 && x >= 32 && x <= n - 32) tile = 0xFF9AA8BC;
                int mid = n / 2;
                bool shaft = x >= mid - 6 && x <= mid + 5 && y >= 18 && y <= 54;
                // The arrow head: a triangle from y = 44 (22 wide each side) to its tip at 72.
                int dx = x >= mid ? x - mid : mid - x;
                bool tip = y >= 44 && y <= 72 && dx * 28 <= 22 * (72 - y);
                if (shaft || tip) tile = 0xFFFF9A1E;
                c = cover == 255 ? tile : ((unsigned)cover << 24) | (tile & 0xFFFFFF);
            }
            px[y * n + x] = c;
        }
    }
}

}  // namespace

const unsigned int* iconColorData() {
    static unsigned int pixels[cSoftMgrApp::kIconDim * cSoftMgrApp::kIconDim];
    static bool drawn = [] {
        drawIcon(pixels);
        return true;
    }();
    (void)drawn;
    return pixels;
}

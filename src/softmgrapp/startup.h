// Start-up: where the running program lies, whether it is a generated installer, and
// which mode its command line asks for.
#pragma once

#include "base/buffers.h"

enum eSoftMgrMode {
    eModeSoftMgr = 0,
    eModeInstall = 1,
    eModeUninstall = 2,
    eModeUpdate = 3,
    eModeMake = 4,
    eModeRemove = 5,
    eModeVersion = 6
};

// The running executable's full path, from /proc/self/exe (never argv[0]).
bool selfExePath(_guardchar<char>& out);

// Whether the executable lies in a generated installer bundle: the folder two levels
// above it ("<bundle>/Contents") holds "Resources/scenario.data" as a regular file.
// Then `scenarioPath` receives that file's path and `offset` 0.
bool getSTInstallSrc(const char* exePath, _guardchar<char>& scenarioPath, unsigned int& offset);

// What the command line asks for.
struct sStartupChoice {
    unsigned int mode = eModeSoftMgr;
    _guardchar<char> first;   // package file, code name or text scenario path
    _guardchar<char> second;  // target bundle path ("make")
    unsigned int offset = 0;  // scenario data offset inside the package file ("install")
    bool quiet = false;       // "update": report nothing when no update is needed
};

// Chooses the mode: an installer bundle first (verbs are then not looked at), then no
// verb (the Software Manager), then the verbs. False for an unknown or empty verb or
// a missing required argument: the run then ends with exit code 1.
bool chooseMode(int argc, const char* const* argv, const char* exePath, sStartupChoice& out);

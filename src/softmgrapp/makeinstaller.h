// The installer maker ("make"): a text scenario and its payload files become an
// installer bundle whose executable is a copy of the running program.
//
// The bundle (softmgr/bundlelayout.h) holds its Info.plist and PkgInfo, the scenario
// data file with its payload, the icon copied from the running bundle and, as
// "Installer" (mode 0755), a copy of the running executable.
#pragma once

// Builds the bundle and reports progress and failures on standard output (a failure
// that concerns a path or a string names it, and why, on the line after). 0 when the
// bundle is complete; 1 after a reported failure; 2, silently, when the running
// executable's path gives no bundle folder. The bundle is built in a private folder
// beside the target ("<target>.make-XXXXXX", marked as this process's) and moved into
// place at the end, so a failure leaves the earlier bundle (or nothing) at the target.
// SIGINT and SIGTERM remove that folder before they end the process; leftovers of
// makes of the same target that ended otherwise are removed first. An existing target
// is replaced only when it is a bundle this maker made (or an empty folder); the
// fourth argument is ignored.
int makeInstaller(const char* exePath, const char* scenarioPath, const char* targetPath, const char* fourth);

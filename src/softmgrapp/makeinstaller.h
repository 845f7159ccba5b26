// The installer maker ("make"): a text scenario and its payload files become an
// installer bundle whose executable is a copy of the running program.
//
// Bundle layout below the target folder:
//   Contents/Info.plist                 property list (name, version, copyright)
//   Contents/PkgInfo                    "APPL????"
//   Contents/Resources/scenario.data    the scenario data file with its payload
//   Contents/Resources/icon.icns        copied from the running bundle
//   Contents/MacOS/Installer            copy of the running executable, mode 0755
#pragma once

#include "base/buffers.h"

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

// Text made safe for an XML string value: & < > " ' become entities, control
// characters other than tab, line feed and carriage return are dropped, and bytes that
// are not UTF-8 become U+FFFD.
bool xmlEscape(const char* text, _guardchar<char>& out);

// The Info.plist text for a name, the first two version numbers and a copyright
// (null texts count as empty; both are escaped).
bool buildInfoPlist(const char* name, int major, int minor, const char* copyright, _guardchar<char>& out);

// Where things lie in an application bundle, for every part that makes, starts, copies,
// refreshes or removes one:
//   <name>.app/Contents/Info.plist                 property list (program, name, version)
//   <name>.app/Contents/PkgInfo                    "APPL????"
//   <name>.app/Contents/Resources/icon.icns        the icon
//   <name>.app/Contents/Resources/scenario.data    an installer's scenario data file
//   <name>.app/Contents/MacOS/<program>            "Installer" or "SoftManager"
// Also the property list's text and the copy of a file into a bundle being assembled.
#pragma once

#include "base/buffers.h"

enum eBundlePart {
    eBundleContents,      // "Contents"
    eBundleInfoPlist,     // "Contents/Info.plist"
    eBundlePkgInfo,       // "Contents/PkgInfo"
    eBundleResources,     // "Contents/Resources"
    eBundleIcon,          // "Contents/Resources/icon.icns"
    eBundleScenarioData,  // "Contents/Resources/scenario.data"
    eBundleMacOS,         // "Contents/MacOS"
    eBundleInstaller,     // "Contents/MacOS/Installer": a generated installer's program
    eBundleManager,       // "Contents/MacOS/SoftManager": the Software Manager copy's program
};

// A bundle folder's name ends in this (any case; see isBundleName).
extern const char kBundleSuffix[];     // ".app"
extern const char kInstallerProgram[];  // "Installer"
extern const char kManagerProgram[];    // "SoftManager"
extern const char kBundlePkgInfo[];     // the text of PkgInfo, "APPL????"

// A part's path below a bundle's root, beginning with "/" ("/Contents/Resources").
const char* bundlePart(eBundlePart part);
// `root` followed by bundlePart(part). False without memory.
bool bundlePath(const char* root, eBundlePart part, _guardchar<char>& out);
// The same from the bundle's Contents folder: `contents` followed by the part past
// "/Contents" (`contents` itself for eBundleContents). False without memory.
bool contentsPath(const char* contents, eBundlePart part, _guardchar<char>& out);

// The path cut `levels` times after its last "/" (that "/" dropped each time): the
// folder that many levels up. Empty when the last cut is the leading "/"; false for a
// path with fewer "/" than `levels`.
bool folderAbove(const char* path, int levels, _guardchar<char>& out);
// The Contents folder of the bundle a program lies in ("<root>/Contents/MacOS/<program>"):
// the folder two levels up. The names are not looked at.
bool bundleContentsOf(const char* program, _guardchar<char>& contents);
// The bundle's root: the folder three levels up. The names are not looked at.
bool bundleRootOf(const char* program, _guardchar<char>& root);
// The root of a program that lies as a bundle's does: "<folder>/<name>.app/Contents/MacOS/
// <program>", the names checked (".app" in any case, the others exactly) and <folder>
// not empty. False for any other path.
bool laidOutBundleRootOf(const char* program, _guardchar<char>& root);
// Whether a folder's name is a bundle's: it ends in ".app" (any case) after at least one
// other character.
bool isBundleName(const char* name);

// Text made safe for an XML string value: & < > " ' become entities, control
// characters other than tab, line feed and carriage return are dropped, and bytes that
// are not UTF-8 become U+FFFD.
bool xmlEscape(const char* text, _guardchar<char>& out);

// What a bundle's Info.plist says; null texts count as empty, all of them are escaped.
struct sBundleInfo {
    const char* program = nullptr;     // CFBundleExecutable
    const char* identifier = nullptr;  // CFBundleIdentifier
    const char* name = nullptr;        // CFBundleName
    const char* compiler = nullptr;    // DTCompiler
    const char* copyright = nullptr;   // NSHumanReadableCopyright
    int major = 0, minor = 0;          // CFBundleShortVersionString and CFBundleVersion
};
bool bundleInfoPlist(const sBundleInfo& info, _guardchar<char>& out);
// The Info.plist of a generated installer: "<name> Installer", the first two version
// numbers of its package and the package's copyright.
bool buildInfoPlist(const char* name, int major, int minor, const char* copyright, _guardchar<char>& out);
// The Info.plist of the Software Manager copy at this program's version.
bool managerInfoPlist(int major, int minor, _guardchar<char>& out);

// The outcome of copyIntoBundle.
enum eBundleCopy { eCopyDone = 0, eCopyNoSource, eCopyNoTarget, eCopyReadFailed, eCopyWriteFailed };
// Copies a file to a new file of a bundle being assembled (never in place of a file
// another program may be using): the source opened, the target created, every byte
// copied, the target flushed to the disk. An eBundleCopy.
int copyIntoBundle(const char* from, const char* to);

// The package registry in the configuration store: its keys, one package's record,
// writing a record (ctxToConfig) and reading it back.
//
// Keys ("/"-separated, the first component is the top-level section):
//   install/<code>/ver        64-bit  package version ID
//   install/<code>/lang       16-bit  language chosen for the installation
//   install/<code>/path       text    target folder
//   install/<code>/name       text    display name
//   install/<code>/updates, support, publisher   text  addresses
//   install/<code>/icon       text    package icon path (only when there is one)
//   install/<code>/utime      32-bit  installation time, seconds since 1970 (UTC)
//   install/<code>/files      32-bit  F, then file0 .. file<F-1> (text)
//   install/<code>/shortc     32-bit  S, then shortc0 .. shortc<S-1> (text)
//   install/<code>/bases      32-bit  B, then base0 .. base<B-1>: folders outside "path"
//                                     that hold files of the package (absolute bases)
//   install/<code>/dirs       32-bit  D, then dir0 .. dir<D-1>: folders the installation
//                                     made (records without them made none)
//   install/<code>/cplns<j>, cplcs<j>   text  label and command of on-completion j (the
//                                     path alone, or "\"path\" arguments")
//   lang/current              16-bit  the application's UI language
//   installer/app, installer/shortcut, installer/temp   text
#pragma once

#include "base/appconfig.h"
#include "base/buffers.h"
#include "base/fastertreelist.h"
#include "base/lists.h"
#include "base/stringkey.h"
#include "base/strings.h"

class cSoftPkgScenario;

extern const char kRegInstallRoot[];        // "install"
extern const char kRegLangCurrent[];        // "lang/current"
extern const char kRegInstallerApp[];       // "installer/app"
extern const char kRegInstallerShortcut[];  // "installer/shortcut"
extern const char kRegInstallerTemp[];      // "installer/temp"

// Names below a package section.
extern const char kRegVer[], kRegLang[], kRegPath[], kRegName[], kRegUpdates[], kRegSupport[],
    kRegPublisher[], kRegIcon[], kRegUTime[], kRegFiles[], kRegFile[], kRegShortcuts[], kRegShortcut[],
    kRegRunLabel[], kRegRunCommand[], kRegBases[], kRegBase[], kRegDirs[], kRegDir[];

// Most files, shortcuts or commands a record may list; a larger stored count is damage.
const long long kRegMaxEntries = 1 << 20;

// "install/<code>" for a code name that is safe as a section name (the package
// engine's rule); false otherwise.
bool regSectionName(const char* codeName, _guardchar<char>& out);
// "<section>/<name>" and "<section>/<name><index>".
bool regKey(const char* section, const char* name, _guardchar<char>& out);
bool regKey(const char* section, const char* name, long long index, _guardchar<char>& out);

struct sPkgRunCommand {
    _guardchar<char> label;
    _guardchar<char> command;
};

// One package's record.
struct sPkgRegistryRecord {
    unsigned long long ver = ~0ULL;
    unsigned short lang = 0;
    _guardchar<char> path, name, updates, support, publisher;
    _guardchar<char> icon;  // empty: no icon key
    unsigned int utime = 0;
    cTextList files;  // an installation's own record holds its copied files' paths
    _List<_guardchar<char> > shortcuts;
    _List<_guardchar<char> > bases;  // folders outside `path` holding files of the package
    _List<_guardchar<char> > dirs;   // folders the installation made
    _List<sPkgRunCommand> commands;
};

// Fills a record from a loaded scenario (version, current language, "pgm", "name",
// addresses, icon, on-completion commands with a path and a label) and the current
// time. Files and shortcuts are the installation's and are added by the caller.
bool fillRegistryRecord(cSoftPkgScenario& scenario, sPkgRegistryRecord& out);

// Writes a record into the section "install/<code>" in the fixed key order, and sets
// "lang/current" to the record's language. The caller removes the section first and
// saves the store afterwards. False (nothing written) for a null store or a section
// that is not "install/<safe code name>"; false also when a write is refused.
bool ctxToConfig(const sPkgRegistryRecord& record, cApplicationConfig* store, const char* section);

// A recorded command as an argument vector: `argv` holds the path, then the arguments,
// then null; its texts live in `path` and `words`.
struct sRunCommandLine {
    _guardchar<char> path;
    _typebuf<char> words;
    _typebuf<char*> argv;
};

// Reads a recorded command: "\"path\"" followed by a blank and the arguments (or by
// nothing), the form earlier versions wrote ('/path' with '\'' for a quote inside,
// alone or followed by the arguments), or else the whole text as a path alone. The
// arguments are split as a command line (splitCommandLine). Reads text only: whether
// the path exists is the caller's to ask. False for an empty text or path.
bool splitRunCommand(const char* command, sRunCommandLine& out);

// Reads the record of a code name back. False when the code name is unsafe, "ver" is
// missing, or a listed file, shortcut or count is missing or out of range (damage).
bool readRegistryRecord(cApplicationConfig* store, const char* codeName, sPkgRegistryRecord& out);

// What the other installed packages' records hold, so that an uninstallation or an
// update of one package never removes what another lists. Records that cannot be read
// are left out.
class cOtherRecords {
public:
    // Every package record of the store but `ownCode`'s.
    cOtherRecords(cApplicationConfig* store, const char* ownCode);
    // The display name (else the code name) of a record that lists the file; null when none.
    const char* fileOwner(const char* path);
    // Leaves out of a list of folders to remove those another record lists.
    void dropListed(_List<_guardchar<char> >& folders);
    // The folders an uninstalled package made that still stand go to the records of the
    // packages still in them, so that they go with the last of those; saves the store.
    bool handOver(cApplicationConfig* store, const _List<_guardchar<char> >& made);

private:
    // Whether another record lists the folder: as made by it, or as its installation
    // folder or a base.
    bool listsFolder(const char* folder);
    struct sOther {
        _guardchar<char> code, name;
        _List<_guardchar<char> > roots;  // installation folder and bases
    };
    // Whether the record's installation folder or a base is the folder or lies below it.
    static bool rootsIn(const sOther& other, const char* folder);
    _List<sOther> myCodes;
    cFasterTreeList<cStringKey, const char*> myFiles;  // path -> display name
    cFasterTreeList<cStringKey, int> myFolders;        // made folders, paths and bases
};

// Adds folders to the list of folders a package's record says its installation made (an
// uninstalled package hands the ones it made to the packages still in them, so that they
// go with the last of them); the caller saves the store.
bool addRecordDirs(cApplicationConfig* store, const char* codeName, const _List<_guardchar<char> >& dirs);

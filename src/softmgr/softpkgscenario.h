// cSoftPkgScenario: one package in memory (identity, strings per language, documents,
// files with their payload, menu entries, programs to run, replaced packages and
// parameters), its queries, and its two readers (text scenario, scenario data file)
// and its writer (scenario data file).
#pragma once

#include "base/buffers.h"
#include "base/fastertreelist.h"
#include "base/fileiotarget.h"
#include "base/lists.h"
#include "base/stringkey.h"
#include "base/strings.h"
#include "softmgr/softpkg.h"
#include "softmgr/sopkgdoc.h"

typedef cFasterTreeList<cStringKey, _guardchar<char> > tSoftPkgStrings;

class cSoftPkgScenario {
public:
    // Results of loadTextConfig. 22 is not used; 28 and above refuse packages that
    // could not be installed safely.
    enum eTextResult {
        eTxtOK = 0,
        eTxtNoFile = 1,
        eTxtUnknownSection = 2,
        eTxtAfterHeader = 3,
        eTxtNoSection = 4,
        eTxtUnknownKey = 5,
        eTxtSyntax = 6,
        eTxtBadString = 7,
        eTxtBadNumber = 8,
        eTxtNoLangs = 9,
        eTxtNoCodename = 10,
        eTxtNoEula = 11,
        eTxtEulaLang = 12,
        eTxtWelcomeLang = 13,
        eTxtReadmeLang = 14,
        eTxtPartialString = 15,
        eTxtBadLang = 16,
        eTxtEmptyId = 17,
        eTxtShortVersion = 18,
        eTxtBadWelcome = 19,
        eTxtBadReadme = 20,
        eTxtBadEula = 21,
        eTxtBadPathDef = 23,
        eTxtBadArch = 24,
        eTxtBadInstallLine = 25,
        eTxtBadSource = 26,       // a source that cannot be packed (see errorPath, errorReason)
        eTxtBadPermissions = 27,
        eTxtEmptySource = 28,     // an empty file: the payload cannot carry it (see errorPath)
        eTxtFolderCycle = 29,     // a folder reached again through a link (see errorPath)
        eTxtBadCodeName = 30,     // a code name outside letters, digits, ".", "_", "-" (1-128 bytes)
        eTxtVersionRange = 31,    // a version part outside 0-65535
        eTxtTooMany = 32,         // more records of one kind than a package may carry (see errorPath)
        eTxtSideName = 33,        // a target is another's with ".tmp" or ".bkp" appended (see errorPath)
    };

    struct sPathDef {
        _guardchar<char> id;    // string id of the base (may be empty)
        _guardchar<char> path;  // relative path (may be empty)
    };
    struct sInMenuDef {
        _guardchar<char> name;
        _guardchar<char> comment;
        sPathDef target;
        _guardchar<char> args;
        sPathDef icon;
        unsigned char flags = 0;
    };
    // A base id and a relative path kept by the scenario (keepFileId, keepFilePath);
    // null or "" when empty.
    struct sPathRef {
        const char* id = nullptr;
        const char* path = nullptr;
    };
    // Language numbers in file records and string tables run to 11, one past the standard
    // languages: a package may carry strings for a language the program has no texts of.
    static constexpr int kMaxLangNumber = 11;
    // The languages a file record is for (none: every one) in the order given, each
    // 0-kMaxLangNumber at most once: four bits each in one word.
    class cFileLangs {
    public:
        int count() const { return (int)(myWord & 15); }
        bool empty() const { return count() == 0; }
        int operator[](int i) const { return (int)(myWord >> (4 * i + 4)) & 15; }
        bool has(int lang) const;
        // False for a language outside 0-11 or one already there.
        bool add(int lang);

    private:
        unsigned long long myWord = 0;  // the count, then the languages from bit 4 up
    };
    // 40 bytes, its texts in the scenario's arena: a package of a hundred thousand files
    // keeps one for each, most of them of one base.
    struct sIntFileDef {
        unsigned int item = 0;
        unsigned char x32 = 1;
        unsigned char x64 = 1;
        unsigned char owner = 8, group = 8, others = 8;
        sPathRef target;
        cFileLangs langs;
    };
    struct sOnCompletionRunInt {
        _guardchar<char> name;
        sPathDef target;
        _guardchar<char> args;
        unsigned char checked = 0;
    };
    struct sDeprecateItem {
        _guardchar<char> codename;
        unsigned short version = 0;  // 65535: any
    };
    struct sDefineParam {
        _guardchar<char> name;
        _typebuf<unsigned char> data;
    };
    struct sMenuItemDef {
        _guardchar<char> name;
        _guardchar<char> target;
        _guardchar<char> args;
        _guardchar<char> icon;
        _guardchar<char> comment;
        bool elevated = false;
    };
    // A file to install; its digest is its payload item's (digest(item)), its target path
    // its list's (cCopiedFiles).
    struct sCopiedFile {
        const char* target = nullptr;
        unsigned int item = 0;
        unsigned char owner = 8, group = 8, others = 8;
    };
    // The files to install, their target paths in one arena: a hundred thousand files
    // make a few hundred allocations, not one each.
    class cCopiedFiles : public _List<sCopiedFile> {
    public:
        // A file at the end whose target is a copy of `target`; null without memory.
        sCopiedFile* add(const char* target);
        void destroy() {
            _List<sCopiedFile>::destroy();
            myPaths.clear();
        }

    private:
        cTextArena myPaths;
    };
    struct sOnCompletionRun {
        _guardchar<char> target;
        _guardchar<char> args;
        _guardchar<char> name;
        unsigned char checked = 0;
        // The command as the package registry records it: the path alone without
        // arguments, else "\"path\" arguments". False for an empty path and for a path
        // holding a double quote when there are arguments (no reader could find where
        // such a path ends).
        bool command(_guardchar<char>& out) const;
    };

    cSoftPkgScenario();
    ~cSoftPkgScenario();
    cSoftPkgScenario(const cSoftPkgScenario&) = delete;
    cSoftPkgScenario& operator=(const cSoftPkgScenario&) = delete;

    // --- strings and languages ---
    const char* getStr(const char* id);
    bool setStr(int lang, const char* id, const char* text);
    static bool isKnownConstantID(const char* id);
    bool isValidDef(const char* id, int& missingLang);
    void clearStr(const char* id);
    bool defToPath(const sPathDef& def, _guardchar<char>& out) { return defToPath(def.id.ptr, def.path.ptr, out); }
    bool defToPath(const sPathRef& def, _guardchar<char>& out) { return defToPath(def.id, def.path, out); }
    bool defToPath(const char* id, const char* path, _guardchar<char>& out);
    // A file record's text, kept until close() in one arena for all of them (an id like
    // the one kept before is shared); null without memory. n < 0: up to the terminator.
    const char* keepFileId(const char* id, long long n = -1);
    const char* keepFilePath(const char* path, long long n = -1);
    int currLangID() const { return currLang; }
    bool setCurrLangID(int lang);
    void getSupportedLangs(_List<int>& out);

    // --- identity ---
    void getVer(int& major, int& minor, int& third, int& fourth) const;
    unsigned long long getVerID() const;
    void getStrVer(_guardchar<char>& out, bool full) const;
    bool getIconPath(_guardchar<char>& out);
    const sPathDef& icon() const { return myIcon; }
    const char* supportURL() const { return mySupportURL.ptr; }
    const char* publisherURL() const { return myPublisherURL.ptr; }
    const char* updatesURL() const { return myUpdatesURL.ptr; }
    const char* manualURL() const { return myManualURL.ptr; }

    // --- documents ---
    cSiDocContainer* welcome() { return myWelcome.forLang(currLang); }
    cSiDocContainer* readme() { return myReadme.forLang(currLang); }
    cSiDocContainer* eula() { return myEula.forLang(currLang); }
    unsigned char readme_needs_accept() const { return myReadmeNeedsAccept; }
    cSoftPkgDoc& welcomeDoc() { return myWelcome; }
    cSoftPkgDoc& readmeDoc() { return myReadme; }
    cSoftPkgDoc& eulaDoc() { return myEula; }

    // --- lists (each empties its output first) ---
    bool getParams(_List<sDefineParam>& out);
    bool getMenuItems(_List<sMenuItemDef>& out);
    bool getCopiedFiles(cCopiedFiles& out);
    bool getOnCompletionRun(_List<sOnCompletionRun>& out);
    bool getDepractesList(_List<sDeprecateItem>& out);
    unsigned long long requiresSize(unsigned int cluster);

    // --- payload ---
    cFileIOTarget* file(int index) { return pkg.item(index); }
    bool digest(int index, unsigned char out[32]) { return pkg.digest(index, out); }
    cSoftPkg& payload() { return pkg; }

    void close();

    // --- files ---
    bool saveBinConfig(cFileIOTarget* target);
    bool loadBinConfig(cFileIOTarget* source);
    int loadTextConfig(const char* path, int& line);
    // What a failed save or text load was about (a string id, a source path, the start
    // of a string), or null; and why, when the system or the loader said (or null).
    const char* errorPath() const { return myErrorPath.ptr; }
    const char* errorReason() const { return myErrorReason.ptr; }

    // The processor width the file queries select for (64 by default on 64-bit builds).
    void setSystemBits(int bits) { mySystemBits = bits == 32 ? 32 : 64; }

    // Rules shared by "make" and the data file reader.
    static bool isSafeCodeName(const char* name, long long n = -1);
    static bool isSafeRelPath(const char* path, long long n = -1);
    // Whether a target's base gives an absolute place: a base id that is "pgm" (the
    // folder chosen at install time) or whose text is an absolute path (isAbsBase) in
    // every language. Any other base would leave the target relative to wherever the
    // installer runs.
    bool hasBase(const sPathDef& def) { return hasBase(def.id.ptr); }
    bool hasBase(const sPathRef& def) { return hasBase(def.id); }
    bool hasBase(const char* id);
    // A base text that names an absolute place: it starts with "/" and has no "." or
    // ".." part and no control character.
    static bool isAbsBase(const char* text);
    // Longest string the data file carries.
    static constexpr long long kMaxStringBytes = 65535;
    // Caps of the data file reader.
    static const unsigned long long kMaxBodyBytes = 0xFFFFFFFFULL;  // the format's own limit: the body is streamed
    static const unsigned long long kMaxInflateRatio = 1032;
    // Most records of each kind a package carries, kept by "make", the writer and the
    // reader alike. A record costs ten times its bytes and more in memory, so these, not
    // the body's length, bound what a loaded package takes; none is near a real package.
    // File records match the payload's items (cSoftPkg::kMaxItems), one per file; a
    // file record names each of its languages (0-10) at most once.
    static constexpr long long kMaxFileRecords = 1000000;
    static constexpr long long kMaxStrings = 65536;  // per string table (the default one, each language's)
    static constexpr long long kMaxEntries = 4096;   // menu entries, programs to run, parameters, replaced packages

    // Fields, in the order of the model.
    _List<sInMenuDef> menu;
    _List<sIntFileDef> files;
    _List<sOnCompletionRunInt> onCompletion;
    _List<sDeprecateItem> deprecates;
    tSoftPkgStrings strings;
    cFasterTreeList<int, tSoftPkgStrings> langStrings;
    int currLang = 0;
    int version[4] = {0, 0, 0, 0};

private:
    friend class cSoftPkgTextLoader;
    friend class cSoftPkgBinReader;
    friend class cSoftPkgBinWriter;

    bool checkCodeNames();
    // Whether a string table defines "pgm", the folder only the installer may set.
    bool definesInstallFolder();
    bool fileKept(const sIntFileDef& f) const;
    // The section a record count breaks a cap of (or a file record repeats or misnames a
    // language), or null.
    const char* overLimit();

    _guardchar<char> mySupportURL, myPublisherURL, myUpdatesURL, myManualURL;
    sPathDef myIcon;
    cSoftPkgDoc myWelcome;
    cSoftPkgDoc myReadme;
    unsigned char myReadmeNeedsAccept = 0;
    cSoftPkgDoc myEula;
    cSoftPkg pkg;
    _List<sDefineParam> params;
    tSoftPkgStrings literals;
    int literalCount = 0;
    int section = 0;
    int mySystemBits = sizeof(void*) == 8 ? 64 : 32;
    _guardchar<char> myErrorPath;
    _guardchar<char> myErrorReason;
    cTextArena myFileTexts;
    const char* myLastFileId = nullptr;
};

// Finds targets of which one is another with ".tmp" or ".bkp" appended. An installation
// writes each file as "<target>.tmp" and keeps the file it replaces as "<target>.bkp"
// until it ends, so a package that ships both would overwrite or remove its own file.
// Every name is given twice: all of them to note(), then each to find().
class cSideNameClash {
public:
    // Keeps a name that ends in ".tmp" or ".bkp" by the name it lies beside; false
    // without memory.
    bool note(const char* name, long long index);
    // The index of a noted name that lies beside `name`, or -1.
    long long find(const char* name) const;

private:
    cFasterTreeList<cStringKey, long long> myBeside;
};

// The three-letter code of a language number 0-10 ("ENG", "RUS", ...), null otherwise;
// and back (exact case), -1 when unknown.
const char* softPkgLangCode(int lang);
int softPkgLangFromCode(const char* code3);

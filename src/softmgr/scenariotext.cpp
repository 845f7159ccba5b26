// The text scenario ("make"): lines and sections, quoted strings, string references,
// path definitions, the package sections and the checks after the last line.
#include <errno.h>
#include <sys/stat.h>

#include <cstring>

#include "base/fileio.h"
#include "base/folders.h"
#include "base/strings.h"
#include "base/textfileio.h"
#include "softmgr/softpkgscenario.h"

namespace {

const int kMaxFolderDepth = 256;

bool isWs(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }
bool atEnd(const char* p) { return !*p || *p == '#'; }
void skipSpace(const char*& p) {
    while (isWs(*p)) p++;
}
// Skips white space, "=" and the white space after it.
bool findSkipEq(const char*& p) {
    skipSpace(p);
    if (*p != '=') return false;
    p++;
    skipSpace(p);
    return true;
}
// A quoted string with backslash escapes; white space after it is skipped.
bool readQuoted(const char*& p, _guardchar<char>& out) {
    skipSpace(p);
    if (*p != '"') return false;
    const char* q = p + 1;
    long long n = 0;
    for (const char* s = q;; s++) {
        if (!*s) return false;
        if (*s == '"') break;
        if (*s == '\\') {
            s++;
            if (!*s) return false;
        }
        n++;
    }
    _guardchar<char> r;
    if (!r.set(n)) return false;
    long long at = 0;
    while (*q != '"') {
        if (*q == '\\') q++;
        r.ptr[at++] = *q++;
    }
    p = q + 1;
    skipSpace(p);
    out.attach(r.dettach());
    return true;
}
bool startsWith(const char* p, const char* word) { return strncmp(p, word, strlen(word)) == 0; }

struct sDirId {
    dev_t dev;
    ino_t ino;
};

const char* nameOf(const sFolderItemInfo* item) { return item->name.ptr ? item->name.ptr : ""; }

// Why something below an [Install] source is not a file or folder we can pack.
const char* whyNotPacked(const char* path) {
    struct stat st;
    if (stat(path, &st) != 0) {
        int err = errno;
        if (err == ENOENT && lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) return "a link to nothing";
        return strerror(err);
    }
    if (S_ISFIFO(st.st_mode)) return "a FIFO";
    if (S_ISSOCK(st.st_mode)) return "a socket";
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return "a device";
    return "neither a file nor a folder";
}

}  // namespace

class cSoftPkgTextLoader {
public:
    explicit cSoftPkgTextLoader(cSoftPkgScenario& s) : sc(s) {}

    int load(const char* path, int& line);

private:
    int parseLine(const char* p);
    int parseGen(const char* p);
    int parseStrs(const char* p);
    int parseSoft(const char* p);
    int parseInst(const char* p);
    int parseMenu(const char* p);
    int parseSett(const char* p);
    int parseRun(const char* p);
    int parseDeprecate(const char* p);
    int finalChecks();
    int checkSideNames(int& line);
    int sideNamesIn(int& line);
    bool landing(const cSoftPkgScenario::sIntFileDef& f, _guardchar<char>& out, bool* plain = nullptr);

    bool parseStrVal(const char*& p, _guardchar<char>& out);
    bool getStrVID(const char*& p, _guardchar<char>& id);
    // A target (needBase) must have a base that is not empty; an icon may have none.
    bool getPathDef(cSoftPkgScenario::sPathDef& def, const char*& p, bool needBase = false);
    int checkBases();
    int refuse(int code, const char* what, const char* why);
    // `listedFile`: the folder listing has just found a regular file there (no second look).
    int processSiObj(const cSoftPkgScenario::sIntFileDef& tpl, const char* source, int depth, bool listedFile = false);
    int addFile(const cSoftPkgScenario::sIntFileDef& tpl, const char* source);
    int readLang(const char*& p, int& lang);
    bool roomForString(tSoftPkgStrings& t, const char* id);
    bool roomFor(long long count, const char* section);

    cSoftPkgScenario& sc;
    bool myTooMany = false;  // a cap was reached: the failing line reports eTxtTooMany
    bool myTooLong = false;  // a string the data file cannot carry: the line reports eTxtBadString
    _typebuf<sDirId> myWalk;  // folders being visited, outermost first
    int myWalkDepth = 0;
    int myLine = 0;             // of the line being parsed
    _typebuf<int> myFileLines;  // the line of each file record
};

int cSoftPkgScenario::loadTextConfig(const char* path, int& line) {
    close();
    section = 0;
    cSoftPkgTextLoader l(*this);
    return l.load(path, line);
}

int cSoftPkgTextLoader::load(const char* path, int& line) {
    cTextFileIO f;
    if (!path || !f.open(path, cFileIO::eRead)) return cSoftPkgScenario::eTxtNoFile;
    _typebuf<char> buf;
    static const char* const kSections[8] = {"General]", "Software]", "Strings]", "Install]",
                                             "Menu]",    "Settings]", "Run]",     "Deprecates]"};
    while (f.gets(buf)) {
        const char* p = buf.ptr ? buf.ptr : "";
        skipSpace(p);
        if (atEnd(p)) {
            line++;
            continue;
        }
        if (*p == '[') {
            int found = 0;
            for (int i = 0; i < 8 && !found; i++)
                if (startsWith(p + 1, kSections[i])) {
                    found = i + 1;
                    p += 1 + strlen(kSections[i]);
                }
            if (!found) return cSoftPkgScenario::eTxtUnknownSection;
            skipSpace(p);
            if (!atEnd(p)) return cSoftPkgScenario::eTxtAfterHeader;
            sc.section = found;
            line++;
            continue;
        }
        myLine = line;
        int r = parseLine(p);
        if (r) return r;
        line++;
    }
    // A read error or an overlong line stops the lines early: never parse half a scenario.
    if (!f.valid()) return cSoftPkgScenario::eTxtNoFile;
    line = -1;
    int r = finalChecks();
    return r ? r : checkSideNames(line);
}

int cSoftPkgTextLoader::parseLine(const char* p) {
    int r;
    switch (sc.section) {
    case 1: r = parseGen(p); break;
    case 2: r = parseSoft(p); break;
    case 3: r = parseStrs(p); break;
    case 4: r = parseInst(p); break;
    case 5: r = parseMenu(p); break;
    case 6: r = parseSett(p); break;
    case 7: r = parseRun(p); break;
    case 8: r = parseDeprecate(p); break;
    default: return cSoftPkgScenario::eTxtNoSection;
    }
    // A cap met deep inside (a literal string of a menu line) fails the line as such.
    if (r && myTooMany) return cSoftPkgScenario::eTxtTooMany;
    if (r && myTooLong) return cSoftPkgScenario::eTxtBadString;
    return r;
}

// Names what failed (a path, a string) and why, for the maker's second error line.
int cSoftPkgTextLoader::refuse(int code, const char* what, const char* why) {
    sc.myErrorPath.set(what);
    sc.myErrorReason.set(why);
    return code;
}

// Quoted strings are written with a 16-bit length: a longer one is refused at its line,
// named by its start, instead of failing the save without a line.
bool cSoftPkgTextLoader::parseStrVal(const char*& p, _guardchar<char>& out) {
    const char* start = p;
    if (!readQuoted(p, out)) return false;
    if (out.length() <= cSoftPkgScenario::kMaxStringBytes) return true;
    skipSpace(start);
    // Its first 40 bytes, cut before a UTF-8 continuation byte.
    long long n = 40;
    while (n > 0 && ((unsigned char)start[n] & 0xC0) == 0x80) n--;
    char head[48];
    memcpy(head, start, (size_t)n);
    memcpy(head + n, "...", 4);
    refuse(0, head, "a string longer than 65535 bytes");
    myTooLong = true;
    return false;
}

// The data file reader refuses a package over its caps: it is refused here already,
// with the section named, rather than built and written.
bool cSoftPkgTextLoader::roomFor(long long count, const char* section) {
    if (count < cSoftPkgScenario::kMaxEntries) return true;
    sc.myErrorPath.set(section);
    myTooMany = true;
    return false;
}

bool cSoftPkgTextLoader::roomForString(tSoftPkgStrings& t, const char* id) {
    if (t.count() < cSoftPkgScenario::kMaxStrings || t.find(cStringKey(id))) return true;
    sc.myErrorPath.set("[Strings]");
    myTooMany = true;
    return false;
}

// Three letters naming a language; -1 when they name none.
int cSoftPkgTextLoader::readLang(const char*& p, int& lang) {
    if (!p[0] || !p[1] || !p[2]) return -1;
    lang = softPkgLangFromCode(p);
    if (lang < 0) return -1;
    p += 3;
    return 0;
}

int cSoftPkgTextLoader::parseGen(const char* p) {
    if (!startsWith(p, "langs")) return cSoftPkgScenario::eTxtUnknownKey;
    p += 5;
    if (!findSkipEq(p)) return cSoftPkgScenario::eTxtSyntax;
    if (!*p) return cSoftPkgScenario::eTxtNoLangs;
    while (!atEnd(p)) {
        int lang;
        if (readLang(p, lang) < 0) return cSoftPkgScenario::eTxtBadLang;
        if (!sc.langStrings.insert(lang)) return cSoftPkgScenario::eTxtBadLang;
        skipSpace(p);
    }
    return 0;
}

int cSoftPkgTextLoader::parseStrs(const char* p) {
    const char* key = p;
    const char* idStart = p;
    int lang = -1;
    const char* q = p;
    for (; *q && !isWs(*q) && *q != '='; q++) {
        if (*q != '.') continue;
        if (q - key != 3 || lang >= 0) return cSoftPkgScenario::eTxtBadLang;
        const char* c = key;
        if (readLang(c, lang) < 0) return cSoftPkgScenario::eTxtBadLang;
        idStart = q + 1;
    }
    if (q == idStart) return cSoftPkgScenario::eTxtEmptyId;
    _guardchar<char> id;
    if (!id.set(idStart, q - idStart)) return cSoftPkgScenario::eTxtBadString;
    p = q;
    _guardchar<char> val;
    if (!findSkipEq(p) || !parseStrVal(p, val) || !atEnd(p)) return cSoftPkgScenario::eTxtBadString;
    if (lang >= 0 && !sc.langStrings.find(lang)) return cSoftPkgScenario::eTxtBadLang;
    // "pgm" is the folder chosen at install time; the data file reader refuses a package that sets it.
    if (cSoftPkgScenario::isKnownConstantID(id.ptr)) return cSoftPkgScenario::eTxtBadString;
    if (!roomForString(lang < 0 ? sc.strings : *sc.langStrings.find(lang), id.ptr))
        return cSoftPkgScenario::eTxtTooMany;
    if (!sc.setStr(lang, id.ptr, val.ptr)) return cSoftPkgScenario::eTxtBadString;
    return 0;
}

bool cSoftPkgTextLoader::getStrVID(const char*& p, _guardchar<char>& id) {
    if (*p == '$') {
        const char* s = ++p;
        while (*p && !isWs(*p) && *p != ',' && *p != '=') p++;
        if (p == s || *s == '.' || !id.set(s, p - s)) return false;
        int lang;
        if (!sc.isValidDef(id.ptr, lang)) {
            refuse(0, id.ptr, "a string that is not defined (for every language) before this line");
            return false;
        }
    } else if (*p == '"') {
        _guardchar<char> lit;
        if (!parseStrVal(p, lit)) return false;
        cStringKey key(lit.ptr ? lit.ptr : "");
        _guardchar<char>* known = sc.literals.find(key);
        if (known) {
            if (!id.set(known->ptr)) return false;
        } else {
            char gen[32];
            _sprintf_s(gen, sizeof(gen), ".%04d", sc.literalCount++);
            cStringKey gk(gen);
            if (sc.strings.find(gk) || !roomForString(sc.strings, gen)) return false;
            _guardchar<char>* v = sc.strings.insert(gk);
            _guardchar<char>* l = sc.literals.insert(key);
            if (!v || !l || !v->set(lit.ptr) || !l->set(gen) || !id.set(gen)) return false;
        }
        if (id.empty()) return false;
    } else {
        return false;
    }
    skipSpace(p);
    return true;
}

bool cSoftPkgTextLoader::getPathDef(cSoftPkgScenario::sPathDef& def, const char*& p, bool needBase) {
    if (!getStrVID(p, def.id)) return false;
    _guardchar<char> path;
    if (!parseStrVal(p, path)) return false;
    // Targets stay below their base: no "..", no empty segment, no control character.
    if (!cSoftPkgScenario::isSafeRelPath(path.ptr)) {
        refuse(0, path.ptr,
               "not a path below its base (\"..\", an empty part, a leading \"/\" or a control character)");
        return false;
    }
    def.path.attach(path.dettach());
    if (needBase && !sc.hasBase(def)) {
        refuse(0, def.path.ptr ? def.path.ptr : "", "a target whose base is not an absolute path would be relative");
        return false;
    }
    return true;
}

// Bases may be redefined after the lines that use them: checked again at the end.
int cSoftPkgTextLoader::checkBases() {
    const char* why = "a target whose base is not an absolute path would be relative";
    for (auto* it = sc.files.head; it; it = it->next)
        if (!sc.hasBase(it->value.target))
            return refuse(cSoftPkgScenario::eTxtBadPathDef, it->value.target.path, why);
    for (auto* it = sc.menu.head; it; it = it->next)
        if (!sc.hasBase(it->value.target))
            return refuse(cSoftPkgScenario::eTxtBadPathDef, it->value.target.path.ptr, why);
    for (auto* it = sc.onCompletion.head; it; it = it->next)
        if (!sc.hasBase(it->value.target))
            return refuse(cSoftPkgScenario::eTxtBadPathDef, it->value.target.path.ptr, why);
    return 0;
}

int cSoftPkgTextLoader::parseSoft(const char* p) {
    static const char* const kKeys[] = {"codename",    "name",        "publisher",   "copyright",   "group",
                                        "folder",      "version",     "manual_URL",  "publish_URL", "support_URL",
                                        "updates_URL", "welcome",     "readme",      "eula",        "icon"};
    int k = -1;
    for (int i = 0; i < (int)(sizeof(kKeys) / sizeof(kKeys[0])) && k < 0; i++)
        if (startsWith(p, kKeys[i])) k = i;
    if (k < 0) return cSoftPkgScenario::eTxtUnknownKey;
    p += strlen(kKeys[k]);
    if (!findSkipEq(p)) return cSoftPkgScenario::eTxtSyntax;
    if (k == 14) {
        cSoftPkgScenario::sPathDef def;
        if (!getPathDef(def, p)) return cSoftPkgScenario::eTxtBadPathDef;
        if (!atEnd(p)) return cSoftPkgScenario::eTxtSyntax;
        sc.myIcon.id.attach(def.id.dettach());
        sc.myIcon.path.attach(def.path.dettach());
        return 0;
    }
    _guardchar<char> val;
    if (!parseStrVal(p, val)) return cSoftPkgScenario::eTxtBadString;
    int accept = 0;
    if (k == 12 && *p == ',') {
        p++;
        skipSpace(p);
        if (startsWith(p, "yes")) {
            accept = 1;
            p += 3;
        } else if (startsWith(p, "no")) {
            p += 2;
        }
        skipSpace(p);
    }
    if (!atEnd(p)) return cSoftPkgScenario::eTxtBadString;
    switch (k) {
    case 0:
        if (!cSoftPkgScenario::isSafeCodeName(val.ptr)) return cSoftPkgScenario::eTxtBadCodeName;
        // fallthrough
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
        if (!roomForString(sc.strings, kKeys[k])) return cSoftPkgScenario::eTxtTooMany;
        return sc.setStr(-1, kKeys[k], val.ptr ? val.ptr : "") ? 0 : cSoftPkgScenario::eTxtBadString;
    case 6: {
        // Up to four numbers "a.b.c.d"; parts not given keep their value.
        const char* s = val.ptr ? val.ptr : "";
        int got = 0;
        bool range = true;
        long long parts[4];
        while (got < 4) {
            skipSpace(s);
            bool neg = *s == '-';
            if (*s == '-' || *s == '+') s++;
            if (*s < '0' || *s > '9') break;
            long long v = 0;
            while (*s >= '0' && *s <= '9') {
                if (v <= 65535) v = v * 10 + (*s - '0');
                s++;
            }
            if (neg || v > 65535) range = false;
            parts[got++] = v;
            if (*s != '.') break;
            s++;
        }
        if (got < 2) return cSoftPkgScenario::eTxtShortVersion;
        // Parts are packed into 16 bits; larger ones would compare wrongly.
        if (!range) return cSoftPkgScenario::eTxtVersionRange;
        for (int i = 0; i < got; i++) sc.version[i] = (int)parts[i];
        return 0;
    }
    case 7: sc.myManualURL.attach(val.dettach()); return 0;
    case 8: sc.myPublisherURL.attach(val.dettach()); return 0;
    case 9: sc.mySupportURL.attach(val.dettach()); return 0;
    case 10: sc.myUpdatesURL.attach(val.dettach()); return 0;
    default: {
        int code = k == 11 ? cSoftPkgScenario::eTxtBadWelcome
                   : k == 12 ? cSoftPkgScenario::eTxtBadReadme
                             : cSoftPkgScenario::eTxtBadEula;
        cSoftPkgDoc& doc = k == 11 ? sc.myWelcome : k == 12 ? sc.myReadme : sc.myEula;
        _typebuf<unsigned char> compiled;
        if (!cSoftPkgDoc::compileDocument(val.ptr, compiled) || compiled.count <= 0 || !doc.take(compiled)) {
            sc.myErrorPath.set(val.ptr);
            return code;
        }
        if (k == 12) sc.myReadmeNeedsAccept = (unsigned char)accept;
        return 0;
    }
    }
}

int cSoftPkgTextLoader::parseInst(const char* p) {
    cSoftPkgScenario::sIntFileDef tpl;
    if (*p == 'x') {
        if (startsWith(p, "x64."))
            tpl.x32 = 0;
        else if (startsWith(p, "x32."))
            tpl.x64 = 0;
        else
            return cSoftPkgScenario::eTxtBadArch;
        p += 4;
    } else if (*p != '"') {
        return cSoftPkgScenario::eTxtBadInstallLine;
    }
    _guardchar<char> source;
    if (!parseStrVal(p, source)) return cSoftPkgScenario::eTxtBadString;
    int kind = source.empty() ? 0 : cFolderContents::objtype(source.ptr);
    if (kind != cFolderContents::eFile && kind != cFolderContents::eFolder) {
        const char* path = source.ptr ? source.ptr : "";
        return refuse(cSoftPkgScenario::eTxtBadSource, path, whyNotPacked(path));
    }
    if (!findSkipEq(p)) return cSoftPkgScenario::eTxtSyntax;
    cSoftPkgScenario::sPathDef target;
    if (!getPathDef(target, p, true) || !(tpl.target.id = sc.keepFileId(target.id.ptr)) ||
        !(tpl.target.path = sc.keepFilePath(target.path.ptr)))
        return cSoftPkgScenario::eTxtBadPathDef;
    if (!atEnd(p)) {
        if (*p != ',') return cSoftPkgScenario::eTxtSyntax;
        p++;
        skipSpace(p);
        if (*p >= '0' && *p <= '7') {
            for (int i = 0; i < 3; i++)
                if (p[i] < '0' || p[i] > '7') return cSoftPkgScenario::eTxtBadPermissions;
            tpl.owner = (unsigned char)(p[0] - '0');
            tpl.group = (unsigned char)(p[1] - '0');
            tpl.others = (unsigned char)(p[2] - '0');
            p += 3;
            skipSpace(p);
        }
        if (!atEnd(p)) {
            if (*p != ',') return cSoftPkgScenario::eTxtBadPermissions;
            p++;
            skipSpace(p);
            if (*p == '*') {
                p++;
                skipSpace(p);
                if (!atEnd(p)) return cSoftPkgScenario::eTxtBadLang;
            } else {
                while (!atEnd(p)) {
                    int lang;
                    if (readLang(p, lang) < 0 || !sc.langStrings.find(lang)) return cSoftPkgScenario::eTxtBadLang;
                    skipSpace(p);
                    // A language named twice is kept once, as the data file requires.
                    if (!tpl.langs.has(lang) && !tpl.langs.add(lang)) return cSoftPkgScenario::eTxtBadLang;
                }
            }
        }
    }
    myWalkDepth = 0;
    return processSiObj(tpl, source.ptr, 0);
}

int cSoftPkgTextLoader::addFile(const cSoftPkgScenario::sIntFileDef& tpl, const char* source) {
    // Checked before the file is read, so a huge tree stops at the cap.
    if (sc.files.count() >= cSoftPkgScenario::kMaxFileRecords || sc.pkg.count() >= cSoftPkg::kMaxItems) {
        sc.myErrorPath.set(source);
        return cSoftPkgScenario::eTxtTooMany;
    }
    // An empty file gets no item: its record says so (cSoftPkg::kEmptyItem).
    int openError;
    int index = sc.pkg.addPkgFile(source, openError);
    if (index < 0 && openError) return refuse(cSoftPkgScenario::eTxtBadSource, source, strerror(openError));
    if (index < 0) return refuse(cSoftPkgScenario::eTxtBadSource, source, "cannot be read or is too large");
    long long at = sc.files.count();
    if (at >= myFileLines.count && !myFileLines.reset(at ? at * 2 : 64)) return cSoftPkgScenario::eTxtBadSource;
    cSoftPkgScenario::sIntFileDef* r = sc.files.add();
    if (!r) return cSoftPkgScenario::eTxtBadSource;
    *r = tpl;
    r->item = (unsigned int)index;
    myFileLines.ptr[at] = myLine;
    return 0;
}

int cSoftPkgTextLoader::processSiObj(const cSoftPkgScenario::sIntFileDef& tpl, const char* source, int depth,
                                     bool listedFile) {
    // Everything below a source is packed or the make fails: nothing is left out unsaid.
    int kind = listedFile ? (int)cFolderContents::eFile : cFolderContents::objtype(source);
    if (kind == cFolderContents::eFile) return addFile(tpl, source);
    if (kind != cFolderContents::eFolder) return refuse(cSoftPkgScenario::eTxtBadSource, source, whyNotPacked(source));
    if (depth > kMaxFolderDepth) return refuse(cSoftPkgScenario::eTxtBadSource, source, "folders nested too deeply");
    // A folder met again on the way down is a link cycle.
    struct stat st;
    if (stat(source, &st) != 0) return refuse(cSoftPkgScenario::eTxtBadSource, source, strerror(errno));
    for (int i = 0; i < myWalkDepth; i++)
        if (myWalk.ptr[i].dev == st.st_dev && myWalk.ptr[i].ino == st.st_ino)
            return refuse(cSoftPkgScenario::eTxtFolderCycle, source, "a link back to a folder above it");
    if (myWalkDepth >= myWalk.count && !myWalk.reset(myWalk.count ? myWalk.count * 2 : 16))
        return cSoftPkgScenario::eTxtBadSource;
    myWalk.ptr[myWalkDepth++] = sDirId{st.st_dev, st.st_ino};

    // Every entry is listed, links, FIFOs and devices too, so what cannot be packed fails.
    cFolderContents dir;
    if (!dir.init(source, false)) {
        int err = errno;
        myWalkDepth--;
        return refuse(cSoftPkgScenario::eTxtBadSource, source, err ? strerror(err) : "cannot be listed");
    }
    // In the order the folder is read.
    int result = 0;
    for (int i = 0; i < dir.count() && !result; i++) {
        const sFolderItemInfo* item = dir.info(i);
        const char* name = nameOf(item);
        _guardchar<char> full, rel;
        if (!joinPath(source, name, full) || !joinPath(tpl.target.path, name, rel)) {
            result = cSoftPkgScenario::eTxtBadSource;
            break;
        }
        if (!cSoftPkgScenario::isSafeRelPath(rel.ptr)) {
            result = refuse(cSoftPkgScenario::eTxtBadPathDef, full.ptr, "a name with a control character");
            break;
        }
        // The file's record takes the child's texts as they are.
        cSoftPkgScenario::sIntFileDef child = tpl;
        if (!(child.target.path = sc.keepFilePath(rel.ptr))) {
            result = cSoftPkgScenario::eTxtBadSource;
            break;
        }
        result = processSiObj(child, full.ptr, depth + 1, item->type == cFolderContents::eFile);
    }
    myWalkDepth--;
    return result;
}

int cSoftPkgTextLoader::parseMenu(const char* p) {
    cSoftPkgScenario::sInMenuDef m;
    if (!getStrVID(p, m.name)) return cSoftPkgScenario::eTxtBadString;
    if (!findSkipEq(p)) return cSoftPkgScenario::eTxtSyntax;
    if (!getPathDef(m.target, p, true)) return cSoftPkgScenario::eTxtBadPathDef;
    skipSpace(p);
    if (*p != ',') return cSoftPkgScenario::eTxtSyntax;
    p++;
    skipSpace(p);
    if (!getPathDef(m.icon, p)) return cSoftPkgScenario::eTxtBadPathDef;
    if (!atEnd(p)) {
        if (*p != ',') return cSoftPkgScenario::eTxtSyntax;
        p++;
        skipSpace(p);
        if (*p >= '0' && *p <= '8') m.flags = (unsigned char)(*p++ - '0');
        skipSpace(p);
        if (!atEnd(p)) {
            if (*p != ',') return cSoftPkgScenario::eTxtSyntax;
            p++;
            skipSpace(p);
            if (!getStrVID(p, m.comment)) return cSoftPkgScenario::eTxtBadString;
            if (!atEnd(p)) {
                if (*p != ',') return cSoftPkgScenario::eTxtSyntax;
                p++;
                skipSpace(p);
                if (!getStrVID(p, m.args)) return cSoftPkgScenario::eTxtBadString;
                if (!atEnd(p)) return cSoftPkgScenario::eTxtSyntax;
            }
        }
    }
    if (!roomFor(sc.menu.count(), "[Menu]")) return cSoftPkgScenario::eTxtTooMany;
    cSoftPkgScenario::sInMenuDef* r = sc.menu.add();
    if (!r) return cSoftPkgScenario::eTxtBadString;
    r->name.attach(m.name.dettach());
    r->comment.attach(m.comment.dettach());
    r->args.attach(m.args.dettach());
    r->target.id.attach(m.target.id.dettach());
    r->target.path.attach(m.target.path.dettach());
    r->icon.id.attach(m.icon.id.dettach());
    r->icon.path.attach(m.icon.path.dettach());
    r->flags = m.flags;
    return 0;
}

int cSoftPkgTextLoader::parseSett(const char* p) {
    _guardchar<char> name, val;
    if (!parseStrVal(p, name) || name.empty()) return cSoftPkgScenario::eTxtSyntax;
    if (!findSkipEq(p)) return cSoftPkgScenario::eTxtSyntax;
    char type = *p;
    int bytes = type == 'w' ? 2 : type == 'd' ? 4 : type == 'q' ? 8 : type == 't' ? 0 : -1;
    if (bytes < 0) return cSoftPkgScenario::eTxtSyntax;
    p++;
    skipSpace(p);
    if (*p != ',') return cSoftPkgScenario::eTxtSyntax;
    p++;
    if (!parseStrVal(p, val)) return cSoftPkgScenario::eTxtBadString;
    if (!atEnd(p)) return cSoftPkgScenario::eTxtSyntax;
    if (!roomFor(sc.params.count(), "[Settings]")) return cSoftPkgScenario::eTxtTooMany;
    cSoftPkgScenario::sDefineParam* r = sc.params.add();
    if (!r || !r->name.set(name.ptr)) return cSoftPkgScenario::eTxtBadString;
    if (bytes == 0) {
        long long n = val.length();
        if (n && !r->data.set((const unsigned char*)val.ptr, n)) return cSoftPkgScenario::eTxtBadString;
        return 0;
    }
    unsigned long long v = strToU64(val.ptr ? val.ptr : "");
    if (v == ~0ULL) return cSoftPkgScenario::eTxtBadNumber;
    if (!r->data.set(bytes)) return cSoftPkgScenario::eTxtBadString;
    for (int i = 0; i < bytes; i++) r->data.ptr[i] = (unsigned char)(v >> (8 * i));
    return 0;
}

int cSoftPkgTextLoader::parseRun(const char* p) {
    cSoftPkgScenario::sOnCompletionRunInt o;
    if (!getStrVID(p, o.name)) return cSoftPkgScenario::eTxtBadString;
    if (!findSkipEq(p)) return cSoftPkgScenario::eTxtSyntax;
    if (!getPathDef(o.target, p, true)) return cSoftPkgScenario::eTxtBadPathDef;
    if (!atEnd(p)) {
        if (*p != ',') return cSoftPkgScenario::eTxtSyntax;
        p++;
        skipSpace(p);
        if (!atEnd(p)) {
            if (startsWith(p, "yes")) {
                o.checked = 1;
                p += 3;
            } else if (startsWith(p, "no")) {
                p += 2;
            } else {
                return cSoftPkgScenario::eTxtSyntax;
            }
            skipSpace(p);
            if (!atEnd(p)) {
                if (*p != ',') return cSoftPkgScenario::eTxtSyntax;
                p++;
                skipSpace(p);
                if (!getStrVID(p, o.args)) return cSoftPkgScenario::eTxtBadString;
                if (!atEnd(p)) return cSoftPkgScenario::eTxtSyntax;
            }
        }
    }
    if (!roomFor(sc.onCompletion.count(), "[Run]")) return cSoftPkgScenario::eTxtTooMany;
    cSoftPkgScenario::sOnCompletionRunInt* r = sc.onCompletion.add();
    if (!r) return cSoftPkgScenario::eTxtBadString;
    r->name.attach(o.name.dettach());
    r->args.attach(o.args.dettach());
    r->target.id.attach(o.target.id.dettach());
    r->target.path.attach(o.target.path.dettach());
    r->checked = o.checked;
    return 0;
}

int cSoftPkgTextLoader::parseDeprecate(const char* p) {
    _guardchar<char> code, val;
    if (!parseStrVal(p, code) || code.empty()) return cSoftPkgScenario::eTxtSyntax;
    if (!findSkipEq(p)) return cSoftPkgScenario::eTxtSyntax;
    unsigned long long v;
    if (*p == '"') {
        if (!parseStrVal(p, val)) return cSoftPkgScenario::eTxtBadString;
        v = strToU64(val.ptr ? val.ptr : "");
        if (v > 65535) return cSoftPkgScenario::eTxtBadNumber;
    } else if (*p == '*') {
        p++;
        skipSpace(p);
        if (!atEnd(p)) return cSoftPkgScenario::eTxtSyntax;
        v = 65535;
    } else {
        return cSoftPkgScenario::eTxtBadString;
    }
    if (!cSoftPkgScenario::isSafeCodeName(code.ptr)) return cSoftPkgScenario::eTxtBadCodeName;
    if (!roomFor(sc.deprecates.count(), "[Deprecates]")) return cSoftPkgScenario::eTxtTooMany;
    cSoftPkgScenario::sDeprecateItem* d = sc.deprecates.add();
    if (!d) return cSoftPkgScenario::eTxtBadString;
    d->codename.attach(code.dettach());
    d->version = (unsigned short)v;
    return 0;
}

// Where a target lands in the scenario's current language: a fixed base's text joined with
// the relative path as the installer joins them, "." parts and runs of "/" resolved; the
// installation folder, chosen when installing, under a name no base can hold ("\n", a
// control character), so that its targets meet only each other.
// With `plain`, whether the installer takes the joined path as it is (it refuses a target
// with a "." part or a run of "/", which a base's text may hold).
bool cSoftPkgTextLoader::landing(const cSoftPkgScenario::sIntFileDef& f, _guardchar<char>& out, bool* plain) {
    bool chosen = cSoftPkgScenario::isKnownConstantID(f.target.id);
    bool joined = chosen ? joinPath("\n", f.target.path, out) : sc.defToPath(f.target.id, f.target.path, out);
    if (!joined) return false;
    if (plain) *plain = isPlainAbsPath(out.ptr + (chosen ? 1 : 0));
    resolveDotParts(out.ptr);
    return true;
}

// Two targets that land side by side, one the other's with ".tmp" or ".bkp" appended, are
// refused at the later of their lines, the other named. A base may read differently in
// each language: then every language is looked at.
int cSoftPkgTextLoader::checkSideNames(int& line) {
    bool perLanguage = false;
    const char* seen = nullptr;  // records of one base share its id
    for (auto* it = sc.files.head; it && !perLanguage; it = it->next) {
        const char* id = it->value.target.id;
        if (id == seen || cSoftPkgScenario::isKnownConstantID(id)) continue;
        seen = id;
        cStringKey key(id ? id : "");
        for (auto* e = sc.langStrings.first(); e && !perLanguage; e = sc.langStrings.next(e))
            perLanguage = e->value().find(key) != nullptr;
    }
    const int current = sc.currLang;
    int r = 0;
    for (auto* e = sc.langStrings.first(); e && !r; e = perLanguage ? sc.langStrings.next(e) : nullptr) {
        sc.currLang = e->key();
        r = sideNamesIn(line);
    }
    sc.currLang = current;
    return r;
}

int cSoftPkgTextLoader::sideNamesIn(int& line) {
    cSideNameClash clash;
    _guardchar<char> key;
    long long i = 0;
    for (auto* it = sc.files.head; it; it = it->next, i++) {
        bool plain = false;
        if (!landing(it->value, key, &plain) || !clash.note(key.ptr, i)) return cSoftPkgScenario::eTxtBadSource;
        if (!plain) {
            line = myFileLines.ptr[i];
            const cSoftPkgScenario::sPathRef& t = it->value.target;
            bool fixed = !cSoftPkgScenario::isKnownConstantID(t.id) && sc.defToPath(t.id, t.path, key);
            return refuse(cSoftPkgScenario::eTxtBadPathDef, fixed ? key.ptr : t.path,
                          "a target with a \".\" part or an empty one (\"//\") where it lands, which no installer takes");
        }
    }
    const cSoftPkgScenario::sIntFileDef* plain = nullptr;
    long long plainAt = 0, sideAt = -1;
    _guardchar<char> plainLanding;
    for (auto* it = sc.files.head; it && !plain; it = it->next, plainAt++) {
        if (!landing(it->value, plainLanding)) return cSoftPkgScenario::eTxtBadSource;
        if ((sideAt = clash.find(plainLanding.ptr)) >= 0) plain = &it->value;
    }
    if (!plain) return 0;
    auto* side = sc.files.head;
    for (long long k = 0; k < sideAt; k++) side = side->next;
    // Targets of a fixed base are named where they land; those of the installation folder
    // by their path in it.
    _guardchar<char> sideLanding;
    if (!landing(side->value, sideLanding)) return cSoftPkgScenario::eTxtBadSource;
    auto named = [](const char* at) { return at[0] == '\n' ? at + 1 + (at[1] == '/') : at; };
    const char* plainPath = named(plainLanding.ptr);
    const char* sidePath = named(sideLanding.ptr);
    int plainLine = myFileLines.ptr[plainAt - 1], sideLine = myFileLines.ptr[sideAt];
    bool backup = strcmp(sidePath + strlen(sidePath) - 4, ".bkp") == 0, sideLater = sideLine >= plainLine;
    static const char* const kWhy[2][2] = {
        {"its temporary file would take the name of ", "its backup would take the name of "},
        {"the installer's temporary name of ", "the installer's backup name of "}};
    char other[32];
    _sprintf_s(other, sizeof other, ", line %d", sideLater ? plainLine : sideLine);
    _guardchar<char> reason;
    concatText(kWhy[sideLater][backup], sideLater ? plainPath : sidePath, key);
    concatText(key.ptr, other, reason);
    line = sideLater ? sideLine : plainLine;
    return refuse(cSoftPkgScenario::eTxtSideName, sideLater ? sidePath : plainPath, reason.ptr);
}

int cSoftPkgTextLoader::finalChecks() {
    if (sc.langStrings.empty()) {
        sc.currLang = 0;
        return cSoftPkgScenario::eTxtNoLangs;
    }
    sc.currLang = sc.langStrings.first()->key();
    if (!sc.strings.find(cStringKey("codename"))) return cSoftPkgScenario::eTxtNoCodename;
    if (sc.myEula.empty()) return cSoftPkgScenario::eTxtNoEula;
    for (auto* e = sc.langStrings.first(); e; e = sc.langStrings.next(e)) {
        int lang = e->key();
        if (!sc.myEula.hasLang(lang)) return cSoftPkgScenario::eTxtEulaLang;
        if (!sc.myWelcome.empty() && !sc.myWelcome.hasLang(lang)) return cSoftPkgScenario::eTxtWelcomeLang;
        if (!sc.myReadme.empty() && !sc.myReadme.hasLang(lang)) return cSoftPkgScenario::eTxtReadmeLang;
        tSoftPkgStrings& t = e->value();
        for (auto* s = t.first(); s; s = t.next(s)) {
            if (sc.strings.find(s->key())) continue;
            for (auto* o = sc.langStrings.first(); o; o = sc.langStrings.next(o))
                if (!o->value().find(s->key())) return cSoftPkgScenario::eTxtPartialString;
        }
    }
    int r = checkBases();
    if (r) return r;
    if (!sc.checkCodeNames()) return cSoftPkgScenario::eTxtBadCodeName;
    return 0;
}

// The scenario model: string tables per language, path resolution and the queries
// the installer asks.
#include "softmgr/softpkgscenario.h"

#include <cstring>

#include "base/folders.h"
#include "base/stdlangs.h"
#include "base/strings.h"

const char* softPkgLangCode(int lang) { return lang >= 0 && lang < eLangStdCount ? ciLangID(lang) : nullptr; }

int softPkgLangFromCode(const char* code3) {
    if (!code3) return -1;
    for (int i = 0; i < eLangStdCount; i++)
        if (memcmp(code3, ciLangID(i), 3) == 0) return i;
    return -1;
}

cSoftPkgScenario::cSoftPkgScenario() {}

cSoftPkgScenario::~cSoftPkgScenario() { close(); }

void cSoftPkgScenario::close() {
    menu.destroy();
    files.destroy();
    myFileTexts.clear();
    myLastFileId = nullptr;
    onCompletion.destroy();
    deprecates.destroy();
    strings.destroy();
    langStrings.destroy();
    for (int i = 0; i < 4; i++) version[i] = 0;
    myReadmeNeedsAccept = 0;
    mySupportURL.clear();
    myPublisherURL.clear();
    myUpdatesURL.clear();
    myManualURL.clear();
    myIcon.id.clear();
    myIcon.path.clear();
    myWelcome.clear();
    myReadme.clear();
    myEula.clear();
    pkg.newPackage();
    params.destroy();
    literals.destroy();
    literalCount = 0;
    myErrorPath.clear();
    myErrorReason.clear();
}

const char* cSoftPkgScenario::getStr(const char* id) {
    if (!id) return nullptr;
    cStringKey key(id);
    tSoftPkgStrings* t = langStrings.find(currLang);
    if (t) {
        // An empty value is a defined string: "", never "undefined".
        _guardchar<char>* v = t->find(key);
        if (v) return v->ptr ? v->ptr : "";
    }
    _guardchar<char>* v = strings.find(key);
    if (!v) return nullptr;
    return v->ptr ? v->ptr : "";
}

bool cSoftPkgScenario::setStr(int lang, const char* id, const char* text) {
    if (!id) return false;
    tSoftPkgStrings* t = &strings;
    if (lang >= 0) {
        t = langStrings.find(lang);
        if (!t) return false;
    }
    _guardchar<char>* v = t->insert(cStringKey(id));
    return v && v->set(text);
}

bool cSoftPkgScenario::isKnownConstantID(const char* id) { return id && strcmp(id, "pgm") == 0; }

bool cSoftPkgScenario::isValidDef(const char* id, int& missingLang) {
    if (!id) return false;
    cStringKey key(id);
    if (strings.find(key) || isKnownConstantID(id) || langStrings.empty()) return true;
    for (auto* e = langStrings.first(); e; e = langStrings.next(e)) {
        if (!e->value().find(key)) {
            missingLang = e->key();
            return false;
        }
    }
    return true;
}

void cSoftPkgScenario::clearStr(const char* id) {
    if (!id) return;
    cStringKey key(id);
    for (auto* e = langStrings.first(); e; e = langStrings.next(e)) e->value().dettach(key);
    strings.dettach(key);
}

bool cSoftPkgScenario::defToPath(const char* id, const char* path, _guardchar<char>& out) {
    const char* rel = path ? path : "";
    if (!id || !*id) return out.set(rel);
    const char* base = getStr(id);
    if (!base) return false;
    if (!*base) return out.set(rel);
    if (!*rel) return out.set(base);
    return joinPath(base, rel, out);
}

const char* cSoftPkgScenario::keepFileId(const char* id, long long n) {
    if (!id) return "";
    if (n < 0) n = (long long)strlen(id);
    if (myLastFileId && strncmp(myLastFileId, id, (size_t)n) == 0 && myLastFileId[n] == 0) return myLastFileId;
    const char* kept = keepFilePath(id, n);
    if (kept) myLastFileId = kept;
    return kept;
}

const char* cSoftPkgScenario::keepFilePath(const char* path, long long n) {
    if (!path || n == 0 || !*path) return "";
    return myFileTexts.add(path, n);
}

static_assert(sizeof(void*) != 8 || sizeof(cSoftPkgScenario::sIntFileDef) == 40, "a file record grew");

bool cSoftPkgScenario::cFileLangs::has(int lang) const {
    for (int i = 0; i < count(); i++)
        if ((*this)[i] == lang) return true;
    return false;
}

bool cSoftPkgScenario::cFileLangs::add(int lang) {
    if (lang < 0 || lang > kMaxLangNumber || has(lang)) return false;
    int n = count();
    myWord = (myWord & ~15ULL) | (unsigned long long)(n + 1);
    myWord |= (unsigned long long)lang << (4 * n + 4);
    return true;
}

bool cSoftPkgScenario::setCurrLangID(int lang) {
    if (!langStrings.find(lang)) return false;
    currLang = lang;
    return true;
}

void cSoftPkgScenario::getSupportedLangs(_List<int>& out) {
    out.destroy();
    for (auto* e = langStrings.first(); e; e = langStrings.next(e)) {
        int* v = out.add();
        if (v) *v = e->key();
    }
}

void cSoftPkgScenario::getVer(int& major, int& minor, int& third, int& fourth) const {
    major = version[0];
    minor = version[1];
    third = version[2];
    fourth = version[3];
}

unsigned long long cSoftPkgScenario::getVerID() const {
    unsigned long long id = 0;
    for (int i = 0; i < 4; i++) id = (id << 16) | ((unsigned long long)version[i] & 0xFFFF);
    return id;
}

void cSoftPkgScenario::getStrVer(_guardchar<char>& out, bool full) const {
    char buf[64];
    if (full && version[3])
        _sprintf_s(buf, sizeof(buf), "%d.%d.%d.%d", version[0], version[1], version[2], version[3]);
    else if (version[2])
        _sprintf_s(buf, sizeof(buf), "%d.%d.%d", version[0], version[1], version[2]);
    else
        _sprintf_s(buf, sizeof(buf), "%d.%d", version[0], version[1]);
    out.set(buf);
}

bool cSoftPkgScenario::getIconPath(_guardchar<char>& out) { return defToPath(myIcon, out); }

bool cSoftPkgScenario::getParams(_List<sDefineParam>& out) {
    out.destroy();
    for (auto* it = params.head; it; it = it->next) {
        sDefineParam* p = out.add();
        if (!p || !p->name.set(it->value.name.ptr)) return false;
        if (it->value.data.count && !p->data.set(it->value.data.ptr, it->value.data.count)) return false;
    }
    return true;
}

bool cSoftPkgScenario::getMenuItems(_List<sMenuItemDef>& out) {
    out.destroy();
    for (auto* it = menu.head; it; it = it->next) {
        const sInMenuDef& m = it->value;
        const char* name = getStr(m.name.ptr);
        if (!name) return false;
        sMenuItemDef* d = out.add();
        if (!d || !d->name.set(name) || !defToPath(m.icon, d->icon) || !defToPath(m.target, d->target)) return false;
        d->args.set(getStr(m.args.ptr));
        d->comment.set(getStr(m.comment.ptr));
        d->elevated = (m.flags & 1) != 0;
    }
    return true;
}

bool cSoftPkgScenario::fileKept(const sIntFileDef& f) const {
    return mySystemBits == 64 ? f.x64 != 0 : f.x32 != 0;
}

cSoftPkgScenario::sCopiedFile* cSoftPkgScenario::cCopiedFiles::add(const char* target) {
    const char* kept = myPaths.add(target);
    sCopiedFile* c = kept ? _List<sCopiedFile>::add() : nullptr;
    if (c) c->target = kept;
    return c;
}

bool cSoftPkgScenario::getCopiedFiles(cCopiedFiles& out) {
    out.destroy();
    _guardchar<char> target;
    for (auto* it = files.head; it; it = it->next) {
        const sIntFileDef& f = it->value;
        if (!fileKept(f)) continue;
        if (!f.langs.empty() && !f.langs.has(currLang)) continue;
        sCopiedFile* c = defToPath(f.target, target) ? out.add(target.ptr) : nullptr;
        if (!c) return false;
        c->item = f.item;
        c->owner = f.owner;
        c->group = f.group;
        c->others = f.others;
        // A record without its payload item cannot be installed: fail rather than copy nothing.
        unsigned char digest[32];
        if (!pkg.digest((int)f.item, digest)) return false;
    }
    return true;
}

bool cSoftPkgScenario::getOnCompletionRun(_List<sOnCompletionRun>& out) {
    out.destroy();
    for (auto* it = onCompletion.head; it; it = it->next) {
        const sOnCompletionRunInt& r = it->value;
        const char* name = getStr(r.name.ptr);
        if (!name) return false;
        sOnCompletionRun* o = out.add();
        if (!o || !o->name.set(name) || !defToPath(r.target, o->target)) return false;
        o->args.set(getStr(r.args.ptr));
        o->checked = r.checked;
    }
    return true;
}

bool cSoftPkgScenario::sOnCompletionRun::command(_guardchar<char>& out) const {
    out.clear();
    const char* p = target.ptr ? target.ptr : "";
    if (!*p) return false;
    if (args.empty()) return out.set(p);
    // The closing quote ends the path for every reader: a path holding one has no
    // faithful form with arguments.
    if (strchr(p, '"')) return false;
    size_t n = strlen(p), an = strlen(args.ptr);
    _guardchar<char> r;
    if (!r.set((long long)(n + an + 3))) return false;
    r.ptr[0] = '"';
    memcpy(r.ptr + 1, p, n);
    memcpy(r.ptr + 1 + n, "\" ", 2);
    memcpy(r.ptr + 3 + n, args.ptr, an + 1);
    out.attach(r.dettach());
    return true;
}

bool cSoftPkgScenario::getDepractesList(_List<sDeprecateItem>& out) {
    out.destroy();
    for (auto* it = deprecates.head; it; it = it->next) {
        sDeprecateItem* d = out.add();
        if (!d || !d->codename.set(it->value.codename.ptr)) return false;
        d->version = it->value.version;
    }
    return true;
}

unsigned long long cSoftPkgScenario::requiresSize(unsigned int cluster) {
    unsigned long long total = 0;
    for (auto* it = files.head; it; it = it->next) {
        if (!fileKept(it->value)) continue;
        unsigned long long s = pkg.sizeOf((int)it->value.item);
        if (cluster) s = (s + cluster - 1) / cluster * cluster;
        total += s;
    }
    return total;
}

bool cSoftPkgScenario::isSafeCodeName(const char* name, long long n) {
    if (!name) return false;
    if (n < 0) n = (long long)strlen(name);
    if (n < 1 || n > 128) return false;
    for (long long i = 0; i < n; i++) {
        char c = name[i];
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                  c == '_' || c == '-';
        if (!ok) return false;
    }
    return true;
}

bool cSoftPkgScenario::isSafeRelPath(const char* path, long long n) {
    if (!path) return true;
    if (n < 0) n = (long long)strlen(path);
    if (n == 0) return true;
    long long segStart = 0;
    for (long long i = 0; i <= n; i++) {
        unsigned char c = i < n ? (unsigned char)path[i] : '/';
        if (i < n && (c < 0x20 || c == 0x7F)) return false;
        if (c != '/') continue;
        long long len = i - segStart;
        if (len == 0) return false;
        if (len == 2 && path[segStart] == '.' && path[segStart + 1] == '.') return false;
        segStart = i + 1;
    }
    return true;
}

bool cSoftPkgScenario::isAbsBase(const char* text) {
    if (!text || text[0] != '/') return false;
    // A "." or ".." part would let the target climb out of the place the base names.
    const char* seg = text + 1;
    for (const char* c = text + 1;; c++) {
        if (*c && ((unsigned char)*c < 0x20 || *c == 0x7F)) return false;
        if (*c && *c != '/') continue;
        long long len = c - seg;
        if ((len == 1 && seg[0] == '.') || (len == 2 && seg[0] == '.' && seg[1] == '.')) return false;
        if (!*c) return true;
        seg = c + 1;
    }
}

bool cSoftPkgScenario::hasBase(const char* id) {
    if (!id || !*id) return false;
    if (isKnownConstantID(id)) return true;
    cStringKey key(id);
    _guardchar<char>* fallback = strings.find(key);
    if (langStrings.empty()) return fallback && isAbsBase(fallback->ptr);
    // Each language sees its own value, or the default one.
    for (auto* e = langStrings.first(); e; e = langStrings.next(e)) {
        _guardchar<char>* v = e->value().find(key);
        if (!v) v = fallback;
        if (!v || !isAbsBase(v->ptr)) return false;
    }
    return true;
}

bool cSoftPkgScenario::checkCodeNames() {
    cStringKey key("codename");
    _guardchar<char>* v = strings.find(key);
    if (v && !isSafeCodeName(v->ptr)) return false;
    for (auto* e = langStrings.first(); e; e = langStrings.next(e)) {
        v = e->value().find(key);
        if (v && !isSafeCodeName(v->ptr)) return false;
    }
    for (auto* it = deprecates.head; it; it = it->next)
        if (!isSafeCodeName(it->value.codename.ptr)) return false;
    return true;
}

bool cSoftPkgScenario::definesInstallFolder() {
    // A language table would shadow the folder the installer sets in the default table.
    cStringKey key("pgm");
    if (strings.find(key)) return true;
    for (auto* e = langStrings.first(); e; e = langStrings.next(e))
        if (e->value().find(key)) return true;
    return false;
}

bool cSideNameClash::note(const char* name, long long index) {
    long long n = name ? (long long)strlen(name) : 0;
    if (n <= 4 || (strcmp(name + n - 4, ".tmp") != 0 && strcmp(name + n - 4, ".bkp") != 0)) return true;
    bool isNew = false;
    long long* at = myBeside.insert(cStringKey(name, n - 4), isNew);
    if (at && isNew) *at = index;
    return at != nullptr;
}

long long cSideNameClash::find(const char* name) const {
    const auto* e = myBeside.empty() || !name ? nullptr : myBeside.findEntry(cStringKey(name));
    return e ? e->value() : -1;
}

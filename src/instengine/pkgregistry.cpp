// The package registry: key names, writing and reading one package's record.
#include "instengine/pkgregistry.h"

#include <cstring>

#include "base/process.h"
#include "base/strings.h"
#include "base/timeutil.h"
#include "instengine/installfs.h"
#include "softmgr/softpkgscenario.h"

const char kRegInstallRoot[] = "install";
const char kRegLangCurrent[] = "lang/current";
const char kRegInstallerApp[] = "installer/app";
const char kRegInstallerShortcut[] = "installer/shortcut";
const char kRegInstallerTemp[] = "installer/temp";

const char kRegVer[] = "ver";
const char kRegLang[] = "lang";
const char kRegPath[] = "path";
const char kRegName[] = "name";
const char kRegUpdates[] = "updates";
const char kRegSupport[] = "support";
const char kRegPublisher[] = "publisher";
const char kRegIcon[] = "icon";
const char kRegUTime[] = "utime";
const char kRegFiles[] = "files";
const char kRegFile[] = "file";
const char kRegShortcuts[] = "shortc";
const char kRegShortcut[] = "shortc";
const char kRegRunLabel[] = "cplns";
const char kRegRunCommand[] = "cplcs";
const char kRegBases[] = "bases";
const char kRegBase[] = "base";
const char kRegDirs[] = "dirs";
const char kRegDir[] = "dir";

bool regSectionName(const char* codeName, _guardchar<char>& out) {
    if (!codeName || !cSoftPkgScenario::isSafeCodeName(codeName)) return false;
    long long n = (long long)strlen(kRegInstallRoot) + 1 + (long long)strlen(codeName);
    if (!out.set(n)) return false;
    _sprintf_s(out.ptr, n + 1, "%s/%s", kRegInstallRoot, codeName);
    return true;
}

bool regKey(const char* section, const char* name, _guardchar<char>& out) {
    if (!section || !name) return false;
    long long n = (long long)strlen(section) + 1 + (long long)strlen(name);
    if (!out.set(n)) return false;
    _sprintf_s(out.ptr, n + 1, "%s/%s", section, name);
    return true;
}

bool regKey(const char* section, const char* name, long long index, _guardchar<char>& out) {
    if (!section || !name || index < 0) return false;
    long long n = (long long)strlen(section) + 1 + (long long)strlen(name) + 20;
    if (!out.set(n)) return false;
    _sprintf_s(out.ptr, n + 1, "%s/%s%lld", section, name, index);
    return true;
}

namespace {

// The code name of "install/<code>", when the section is exactly that form.
bool sectionIsPackage(const char* section) {
    if (!section) return false;
    size_t root = strlen(kRegInstallRoot);
    if (strncmp(section, kRegInstallRoot, root) != 0 || section[root] != '/') return false;
    return cSoftPkgScenario::isSafeCodeName(section + root + 1);
}

bool putStr(cApplicationConfig* store, const char* section, const char* name, const char* text) {
    _guardchar<char> key;
    return regKey(section, name, key) && store->setParamStr(key.ptr, text ? text : "", -1);
}

bool putStrAt(cApplicationConfig* store, const char* section, const char* name, long long i, const char* text) {
    _guardchar<char> key;
    return regKey(section, name, i, key) && store->setParamStr(key.ptr, text ? text : "", -1);
}

bool putList(cApplicationConfig* store, const char* section, const char* countName, const char* itemName,
             const _List<_guardchar<char> >& list) {
    _guardchar<char> key;
    bool ok = regKey(section, countName, key) && store->setParamInt32(key.ptr, (unsigned int)list.count());
    long long i = 0;
    for (auto* it = list.head; ok && it; it = it->next) ok = putStrAt(store, section, itemName, i++, it->value.ptr);
    return ok;
}

// A list written by putList, each text handed to `add`; a missing count is an empty list.
template <class F>
bool getList(cApplicationConfig* store, const char* section, const char* countName, const char* itemName, F add) {
    _guardchar<char> key;
    unsigned long long count = 0;
    if (!regKey(section, countName, key)) return false;
    store->getParamInt(key.ptr, count);
    if (count > (unsigned long long)kRegMaxEntries) return false;
    for (long long i = 0; i < (long long)count; i++) {
        _guardchar<char> text;
        if (!regKey(section, itemName, i, key) || !store->getParamStr(key.ptr, text) || !add(text)) return false;
    }
    return true;
}

bool getList(cApplicationConfig* store, const char* section, const char* countName, const char* itemName,
             _List<_guardchar<char> >& out) {
    out.destroy();
    return getList(store, section, countName, itemName, [&](_guardchar<char>& text) {
        _guardchar<char>* e = out.add();
        return e && (e->attach(text.dettach()), true);
    });
}

bool getStr(cApplicationConfig* store, const char* section, const char* name, _guardchar<char>& out) {
    _guardchar<char> key;
    return regKey(section, name, key) && store->getParamStr(key.ptr, out);
}

bool getInt(cApplicationConfig* store, const char* section, const char* name, unsigned long long& out) {
    _guardchar<char> key;
    return regKey(section, name, key) && store->getParamInt(key.ptr, out);
}

}  // namespace

bool fillRegistryRecord(cSoftPkgScenario& scenario, sPkgRegistryRecord& out) {
    out.ver = scenario.getVerID();
    out.lang = (unsigned short)scenario.currLangID();
    if (!out.path.set(scenario.getStr("pgm")) || !out.name.set(scenario.getStr("name")) ||
        !out.updates.set(scenario.updatesURL()) || !out.support.set(scenario.supportURL()) ||
        !out.publisher.set(scenario.publisherURL()))
        return false;
    out.icon.clear();
    _guardchar<char> icon;
    if (scenario.getIconPath(icon) && !icon.empty()) out.icon.attach(icon.dettach());
    out.utime = (unsigned int)getCurrUnixTime();
    out.commands.destroy();
    _List<cSoftPkgScenario::sOnCompletionRun> runs;
    scenario.getOnCompletionRun(runs);
    for (auto* it = runs.head; it; it = it->next) {
        if (it->value.target.empty() || it->value.name.empty()) continue;
        // A command the record cannot hold faithfully (a path with a double quote and
        // arguments) is left out: a link that would start something else is worse than none.
        _guardchar<char> command;
        if (!it->value.command(command)) continue;
        sPkgRunCommand* c = out.commands.add();
        if (!c || !c->label.set(it->value.name.ptr)) return false;
        c->command.attach(command.dettach());
    }
    return true;
}

namespace {

// The quoted path at the head of a recorded command and where the rest begins; false
// when the text does not open with a whole quoted word. Double quotes are the record's
// form; shell single quotes (a quote inside as '\'') are what earlier versions wrote,
// always around an absolute path, so a text opening with "'" and anything but "/" is
// left to be a path as it stands.
bool quotedHead(const char* s, _guardchar<char>& path, const char*& rest) {
    const char* p;
    if (s[0] == '"') {
        const char* close = strchr(s + 1, '"');
        if (!close || !path.set(s + 1, close - s - 1)) return false;
        p = close + 1;
    } else {
        if (s[0] != '\'' || s[1] != '/') return false;
        _guardchar<char> buf;
        if (!buf.set((long long)strlen(s))) return false;
        char* out = buf.ptr;
        for (p = s + 1;;) {
            if (!*p) return false;  // no closing quote
            if (strncmp(p, "'\\''", 4) == 0) {
                *out++ = '\'';
                p += 4;
            } else if (*p == '\'') {
                break;
            } else {
                *out++ = *p++;
            }
        }
        p++;
        path.attach(buf.dettach());
    }
    if (*p && !__acp_isspace(*p)) return false;
    rest = p;
    return true;
}

}  // namespace

bool splitRunCommand(const char* command, sRunCommandLine& out) {
    out.path.clear();
    out.words.clear();
    out.argv.clear();
    if (!command || !*command) return false;
    const char* rest = "";
    if (!quotedHead(command, out.path, rest) && !out.path.set(command)) return false;
    if (out.path.empty()) return false;
    _typebuf<char*> args;
    long long n = splitCommandLine(rest, out.words, args) ? args.count - 1 : 0;
    if (!out.argv.set(n + 2)) return false;
    out.argv.ptr[0] = out.path.ptr;
    for (long long i = 0; i < n; i++) out.argv.ptr[i + 1] = args.ptr[i];
    out.argv.ptr[n + 1] = nullptr;
    return true;
}

namespace {

bool writeRecord(const sPkgRegistryRecord& r, cApplicationConfig* store, const char* section) {
    if (!store || !sectionIsPackage(section)) return false;
    _guardchar<char> key;
    bool ok = regKey(section, kRegVer, key) && store->setParamInt64(key.ptr, r.ver);
    ok = ok && regKey(section, kRegLang, key) && store->setParamInt16(key.ptr, r.lang);
    // Left untouched when it already holds the language, so that a save after the
    // caller's own save of it writes the package's hive alone.
    unsigned long long current = ~0ULL;
    if (ok && !(store->getParamInt(kRegLangCurrent, current) && current == r.lang))
        ok = store->setParamInt16(kRegLangCurrent, r.lang);
    ok = ok && putStr(store, section, kRegPath, r.path.ptr) && putStr(store, section, kRegName, r.name.ptr) &&
         putStr(store, section, kRegUpdates, r.updates.ptr) && putStr(store, section, kRegSupport, r.support.ptr) &&
         putStr(store, section, kRegPublisher, r.publisher.ptr);
    if (ok && !r.icon.empty()) ok = putStr(store, section, kRegIcon, r.icon.ptr);
    ok = ok && regKey(section, kRegUTime, key) && store->setParamInt32(key.ptr, r.utime);

    ok = ok && regKey(section, kRegFiles, key) && store->setParamInt32(key.ptr, (unsigned int)r.files.count());
    for (long long i = 0; ok && i < r.files.count(); i++) ok = putStrAt(store, section, kRegFile, i, r.files[i]);

    ok = ok && putList(store, section, kRegShortcuts, kRegShortcut, r.shortcuts);
    if (ok && !r.bases.empty()) ok = putList(store, section, kRegBases, kRegBase, r.bases);
    if (ok && !r.dirs.empty()) ok = putList(store, section, kRegDirs, kRegDir, r.dirs);

    // Only complete commands are kept; the numbering has no gaps.
    long long j = 0;
    for (auto* it = r.commands.head; ok && it; it = it->next) {
        if (it->value.label.empty() || it->value.command.empty()) continue;
        ok = putStrAt(store, section, kRegRunLabel, j, it->value.label.ptr) &&
             putStrAt(store, section, kRegRunCommand, j, it->value.command.ptr);
        j++;
    }
    return ok;
}

}  // namespace

bool ctxToConfig(const sPkgRegistryRecord& r, cApplicationConfig* store, const char* section) {
    return writeRecord(r, store, section);
}

bool readRegistryRecord(cApplicationConfig* store, const char* codeName, sPkgRegistryRecord& out) {
    _guardchar<char> section;
    if (!store || !regSectionName(codeName, section)) return false;
    out.files.clear();
    out.shortcuts.destroy();
    out.bases.destroy();
    out.dirs.destroy();
    out.commands.destroy();
    out.icon.clear();

    unsigned long long v = 0;
    if (!getInt(store, section.ptr, kRegVer, v)) return false;
    out.ver = v;
    v = 0;
    getInt(store, section.ptr, kRegLang, v);
    out.lang = (unsigned short)v;
    v = 0;
    getInt(store, section.ptr, kRegUTime, v);
    out.utime = (unsigned int)v;
    getStr(store, section.ptr, kRegPath, out.path);
    getStr(store, section.ptr, kRegName, out.name);
    getStr(store, section.ptr, kRegUpdates, out.updates);
    getStr(store, section.ptr, kRegSupport, out.support);
    getStr(store, section.ptr, kRegPublisher, out.publisher);
    getStr(store, section.ptr, kRegIcon, out.icon);

    // Counts come from a file: bounded, and every listed entry must be there.
    if (!getList(store, section.ptr, kRegFiles, kRegFile, [&](_guardchar<char>& f) { return out.files.add(f.ptr); }) ||
        !getList(store, section.ptr, kRegShortcuts, kRegShortcut, out.shortcuts) ||
        !getList(store, section.ptr, kRegBases, kRegBase, out.bases) ||
        !getList(store, section.ptr, kRegDirs, kRegDir, out.dirs))
        return false;
    _guardchar<char> key;
    for (long long j = 0; j < kRegMaxEntries; j++) {
        _guardchar<char> label, command;
        if (!regKey(section.ptr, kRegRunLabel, j, key) || !store->getParamStr(key.ptr, label)) break;
        if (!regKey(section.ptr, kRegRunCommand, j, key) || !store->getParamStr(key.ptr, command)) break;
        sPkgRunCommand* c = out.commands.add();
        if (!c) return false;
        c->label.attach(label.dettach());
        c->command.attach(command.dettach());
    }
    return true;
}

namespace {

bool collectName(const char* name, void* list) {
    if (name && *name) addUnique(*static_cast<_List<_guardchar<char> >*>(list), name);
    return true;
}

}  // namespace

cOtherRecords::cOtherRecords(cApplicationConfig* store, const char* ownCode) {
    _List<_guardchar<char> > codes;
    if (!store) return;
    store->enumSubsections(kRegInstallRoot, collectName, &codes);
    for (auto* it = codes.head; it; it = it->next) {
        sPkgRegistryRecord r;
        if ((ownCode && strcmp(it->value.ptr, ownCode) == 0) || !readRegistryRecord(store, it->value.ptr, r)) continue;
        sOther* o = myCodes.add();
        if (!o || !o->code.set(it->value.ptr) || !o->name.set(r.name.empty() ? it->value.ptr : r.name.ptr)) continue;
        auto addRoot = [&](const char* folder) {
            if (!isPlainAbsPath(folder)) return;
            addUnique(o->roots, folder);
            myFolders.insert(cStringKey(folder));
        };
        addRoot(r.path.ptr);
        for (auto* b = r.bases.head; b; b = b->next) addRoot(b->value.ptr);
        for (auto* d = r.dirs.head; d; d = d->next) myFolders.insert(cStringKey(d->value.ptr));
        for (const char* f : r.files) {
            bool isNew = false;
            const char** owner = myFiles.insert(cStringKey(f), isNew);
            if (owner && isNew) *owner = o->name.ptr;
        }
    }
}

bool cOtherRecords::rootsIn(const sOther& other, const char* folder) {
    for (auto* r = other.roots.head; r; r = r->next)
        if (strcmp(r->value.ptr, folder) == 0 || isBelow(r->value.ptr, folder)) return true;
    return false;
}

const char* cOtherRecords::fileOwner(const char* path) {
    const char** owner = path ? myFiles.find(cStringKey(path)) : nullptr;
    return owner ? *owner : nullptr;
}

bool cOtherRecords::listsFolder(const char* folder) { return folder && myFolders.find(cStringKey(folder)); }

void cOtherRecords::dropListed(_List<_guardchar<char> >& folders) {
    // A damaged record may list a folder twice: it is kept once.
    _List<_guardchar<char> > keep;
    cFasterTreeList<cStringKey, int> seen;
    for (auto* it = folders.head; it; it = it->next)
        if (!listsFolder(it->value.ptr)) addUnique(keep, seen, it->value.ptr);
    folders.destroy();
    for (auto* it = keep.head; it; it = it->next) {
        _guardchar<char>* e = folders.add();
        if (e) e->attach(it->value.dettach());
    }
}

bool cOtherRecords::handOver(cApplicationConfig* store, const _List<_guardchar<char> >& made) {
    bool changed = false, ok = true;
    for (auto* o = myCodes.head; o; o = o->next) {
        _List<_guardchar<char> > given;
        for (auto* it = made.head; it; it = it->next)
            if (rootsIn(o->value, it->value.ptr) && objKind(it->value.ptr) == eObjFolder) addUnique(given, it->value.ptr);
        if (given.empty()) continue;
        ok = addRecordDirs(store, o->value.code.ptr, given) && ok;
        changed = true;
    }
    if (!changed) return true;
    if (ok && store->saveConfig()) return true;
    store->discardChanges();
    return false;
}

bool addRecordDirs(cApplicationConfig* store, const char* codeName, const _List<_guardchar<char> >& dirs) {
    _guardchar<char> section;
    _List<_guardchar<char> > all;
    cFasterTreeList<cStringKey, int> seen;
    if (!store || !regSectionName(codeName, section) || !getList(store, section.ptr, kRegDirs, kRegDir, all))
        return false;
    for (auto* it = all.head; it; it = it->next) seen.insert(cStringKey(it->value.ptr));
    long long before = all.count();
    for (auto* it = dirs.head; it; it = it->next)
        if (!addUnique(all, seen, it->value.ptr)) return false;
    return all.count() == before || putList(store, section.ptr, kRegDirs, kRegDir, all);
}

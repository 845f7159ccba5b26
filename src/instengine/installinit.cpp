// The installation start's checks: the package, the language, the earlier installation
// and every file the package is going to write.
#include "instengine/installinit.h"

#include <sys/stat.h>

#include <cstring>

#include "base/folders.h"
#include "base/strings.h"
#include "instengine/installfs.h"
#include "instengine/leftovers.h"
#include "instengine/packageclaim.h"
#include "instengine/packagefolders.h"
#include "instengine/pkgregistry.h"
#include "softmgr/ossupport.h"

int isPossibleInstallPath(const char* path) {
    if (!path || !*path || cFolderContents::objtype(path) != cFolderContents::eNothing) return 1;
    _guardchar<char> p;
    if (!p.set(path)) return 1;
    cFolderContents::adjustPath(p.ptr);
    for (;;) {
        char* cut = strrchr(p.ptr, '/');
        if (!cut) return 1;
        bool atFirst = cut == p.ptr;
        while (cut > p.ptr + 1 && cut[-1] == '/') cut--;
        cut[atFirst ? 1 : 0] = 0;
        int kind = cFolderContents::objtype(p.ptr);
        if (kind == cFolderContents::eFolder || kind == cFolderContents::eFileSystem ||
            kind == cFolderContents::eSpecialFolder || kind == cFolderContents::eVolume)
            return cFolderContents::canWrite(p.ptr) ? 0 : 3;
        if (kind != cFolderContents::eNothing) return 2;
        if (atFirst) return 1;
    }
}

namespace {

// Whether an installed file has the permission bits its record asks for (any when the
// record leaves them to the umask).
bool modeIs(const cSoftPkgScenario::sCopiedFile& f) {
    if (f.owner == 8 && f.group == 8 && f.others == 8) return true;
    struct stat st;
    return lstat(f.target, &st) == 0 &&
           (int)(st.st_mode & 0777) == ((f.owner & 7) * 8 + (f.group & 7)) * 8 + (f.others & 7);
}

bool hashFile(const char* path, unsigned char digest[32]) {
    cFileIO f;
    return f.open(path, cFileIO::eRead) && cSoftPkg::mkDigest(&f, digest);
}

// Step 2: the package path, tried beside the executable when it begins with "./".
bool resolvePackagePath(sPkgInstallContext& ctx) {
    if (ctx.packagePath.empty()) return false;
    cFolderContents::adjustPath(ctx.packagePath.ptr);
    int kind = cFolderContents::objtype(ctx.packagePath.ptr);
    if (kind == cFolderContents::eFile) return true;
    if (kind != cFolderContents::eNothing || strncmp(ctx.packagePath.ptr, "./", 2) != 0 ||
        ctx.executablePath.empty())
        return false;
    _guardchar<char> exe, beside;
    if (!exe.set(ctx.executablePath.ptr)) return false;
    char* slash = strrchr(exe.ptr, '/');
    if (!slash) return false;
    slash[1] = 0;
    if (!concatText(exe.ptr, ctx.packagePath.ptr + 2, beside) ||
        cFolderContents::objtype(beside.ptr) != cFolderContents::eFile)
        return false;
    ctx.packagePath.attach(beside.dettach());
    return true;
}

// Step 5: the language of the run; the UI thread applies it.
unsigned int chooseLanguage(sPkgInstallContext& ctx, cJobAsker* asker, const char* section) {
    ctx.getSupportedLangs(ctx.languages);
    if (ctx.languages.empty()) return eIIBadScenario;
    int lang = ctx.languages.head->value;
    if (ctx.languages.count() > 1) {
        _guardchar<char> key;
        unsigned long long stored = 0;
        if (ctx.store && regKey(section, kRegLang, key) && ctx.store->getParamInt(key.ptr, stored)) {
            for (auto* it = ctx.languages.head; it; it = it->next)
                if ((unsigned long long)it->value == stored) lang = it->value;
        }
        if (asker) {
            asker->applyLang(lang);
            lang = asker->askLang(ctx.languages, lang, ctx.codeName.ptr);
        }
        if (lang < 0 || lang > 10) return eIILangCancelled;
    }
    if (asker) asker->applyLang(lang);
    if (!ctx.setCurrLangID(lang)) return eIIBadScenario;
    return eIIOk;
}

// Step 9: the files recorded by the earlier installation, with their digests now.
unsigned int readExistingFiles(sPkgInstallContext& ctx, const char* section) {
    _guardchar<char> key;
    unsigned long long count = 0;
    if (!regKey(section, kRegFiles, key) || !ctx.store->getParamInt(key.ptr, count) || count == 0 ||
        count > (unsigned long long)kRegMaxEntries)
        return eIIDamagedConfig;
    for (long long i = 0; i < (long long)count; i++) {
        _guardchar<char> path;
        if (!regKey(section, kRegFile, i, key) || !ctx.store->getParamStr(key.ptr, path)) return eIIDamagedConfig;
        int kind = cFolderContents::objtype(path.ptr);
        if (kind == cFolderContents::eNothing) continue;
        if (kind != cFolderContents::eFile) return eIIDamagedConfig;
        sExistingFileItem* item = ctx.existingFiles.insert_new(pathKey(path.ptr));
        if (!item) return eIIDamagedConfig;
        if (!item->path.set(path.ptr) || !hashFile(path.ptr, item->digest)) {
            ctx.messagePath.set(path.ptr);
            return eIICannotRead;
        }
    }
    return eIIOk;
}

// Step 10: the shortcuts recorded by the earlier installation.
unsigned int readExistingShortcuts(sPkgInstallContext& ctx, const char* section) {
    _guardchar<char> key;
    unsigned long long count = 0;
    if (regKey(section, kRegShortcuts, key)) ctx.store->getParamInt(key.ptr, count);
    if (count > (unsigned long long)kRegMaxEntries) return eIIDamagedConfig;
    for (long long i = 0; i < (long long)count; i++) {
        _guardchar<char> path;
        if (!regKey(section, kRegShortcut, i, key) || !ctx.store->getParamStr(key.ptr, path)) return eIIDamagedConfig;
        int kind = cFolderContents::objtype(path.ptr);
        if (kind == cFolderContents::eNothing) continue;
        if (kind != cFolderContents::eFile) return eIIDamagedConfig;
        _guardchar<char>* entry = ctx.existingShortcuts.insert_new(pathKey(path.ptr));
        if (!entry || !entry->set(path.ptr)) return eIIDamagedConfig;
    }
    return eIIOk;
}

// Whether a target is another's temporary or backup name (a package an older maker built):
// the message path names both.
bool sideNameClash(sPkgInstallContext& ctx) {
    cSideNameClash clash;
    long long i = 0;
    for (auto* it = ctx.copiedFiles.head; it; it = it->next) clash.note(it->value.target, i++);
    for (auto* it = ctx.copiedFiles.head; it; it = it->next) {
        long long side = clash.find(it->value.target);
        if (side < 0) continue;
        auto* s = ctx.copiedFiles.head;
        while (side-- > 0) s = s->next;
        _guardchar<char> head;
        concatText(it->value.target, "\n", head);
        concatText(head.ptr, s->value.target, ctx.messagePath);
        return true;
    }
    return false;
}

}  // namespace

// Step 11: every file the package writes, against the earlier installation and the disk.
unsigned int checkInstallTargets(sPkgInstallContext& ctx) {
    if (!fillCopiedFiles(ctx)) return ctx.messagePath.empty() ? eIIBadScenario : eIIBadInstallPath;
    if (ctx.copiedFiles.empty()) return eIIBadScenario;
    if (sideNameClash(ctx)) return eIISideName;
    bool allUnchanged = true;
    // Each target folder is looked at once: a new file's place needs no call of its own,
    // and whether it can be made there is the same answer for all of that folder's.
    cFolderNames names;
    cFasterTreeList<cStringKey, int> possible;
    for (auto* it = ctx.copiedFiles.head; it; it = it->next) {
        cSoftPkgScenario::sCopiedFile& f = it->value;
        unsigned char digest[32];
        if (!ctx.digest((int)f.item, digest)) return eIIBadScenario;
        sExistingFileItem* old = ctx.existingFiles.find(pathKey(f.target));
        if (old) {
            old->kept = true;
            if (memcmp(old->digest, digest, 32) == 0 && modeIs(f)) {
                f.others = kUnchangedFile;
                continue;
            }
            allUnchanged = false;
            if (!cFolderContents::canWrite(f.target)) {
                ctx.messagePath.set(f.target);
                return eIINoRights;
            }
            continue;
        }
        allUnchanged = false;
        ctx.messagePath.set(f.target);
        int kind = names.kind(f.target) == eObjNone ? cFolderContents::eNothing : cFolderContents::objtype(f.target);
        if (kind == cFolderContents::eFile) {
            unsigned char d[32];
            if (!hashFile(f.target, d)) return eIICannotRead;
            if (memcmp(d, digest, 32) != 0) return eIIForeignFile;
        } else if (kind == cFolderContents::eNothing) {
            _guardchar<char> folder;
            bool isNew = false;
            int* answer = parentFolder(f.target, folder) ? possible.insert(pathKey(folder.ptr), isNew) : nullptr;
            if (answer && isNew) *answer = isPossibleInstallPath(f.target);
            switch (answer ? *answer : isPossibleInstallPath(f.target)) {
                case 0: ctx.messagePath.clear(); break;
                case 3: return eIINoRights;
                case 2: return eIISpecialObject;
                default: return eIIBadInstallPath;
            }
        } else {
            return eIISpecialObject;
        }
    }
    ctx.messagePath.clear();
    // Identical files of the same version: nothing to do. A newer version whose files
    // are all identical still goes on, so that its version gets recorded (otherwise
    // every later check would offer it again).
    if (allUnchanged && ctx.installedVersion == ctx.packageVersion) {
        int v[4];
        if (OSGetRegistedVersion(ctx.codeName.ptr, v, nullptr, nullptr, false) ||
            OSGetRegistedVersion(ctx.codeName.ptr, v, nullptr, nullptr, true))
            return eIINoUpdate;
    }
    return eIIOk;
}

namespace {

void collectDeprecated(sPkgInstallContext& ctx) {
    _List<cSoftPkgScenario::sDeprecateItem> list;
    ctx.getDepractesList(list);
    for (auto* it = list.head; it; it = it->next) {
        int major = 0;
        _guardchar<char> command, name;
        if (!getPackageRemovalCommandLine(ctx.store, it->value.codename.ptr, major, command) || command.empty())
            continue;
        if (it->value.version != 0xFFFF && it->value.version != major) continue;
        if (!getInstalledPackageName(ctx.store, it->value.codename.ptr, name) || name.empty()) continue;
        sPackageForRemoval* r = ctx.packagesForRemoval.add();
        if (!r) continue;
        r->name.attach(name.dettach());
        r->command.attach(command.dettach());
    }
}

}  // namespace

bool fillCopiedFiles(sPkgInstallContext& ctx) {
    ctx.messagePath.clear();
    if (!ctx.getCopiedFiles(ctx.copiedFiles)) return false;
    cPackageFolders rule(ctx.store);
    for (auto* it = ctx.copiedFiles.head; it; it = it->next) {
        // A target must lie where its base says: absolute, with no part that climbs, and
        // never among the program's own files (a package in the home folder that names
        // one in the store's folder).
        if (!isPlainAbsPath(it->value.target) || rule.isOwnByName(it->value.target)) {
            ctx.messagePath.set(it->value.target ? it->value.target : "");
            if (ctx.messagePath.empty()) ctx.messagePath.set("\"\"");
            return false;
        }
    }
    return true;
}

namespace {

// A folder name from a display name or a path's last part: no "/", no control character,
// no leading dot; empty when nothing is left.
void folderName(const char* text, long long n, _guardchar<char>& out) {
    out.clear();
    if (!text || n <= 0 || (text[0] == '.' && (n == 1 || (n == 2 && text[1] == '.'))) || !out.set(text, n)) return;
    for (char* c = out.ptr; *c; c++)
        if (*c == '/' || (unsigned char)*c < 0x20) *c = '_';
    if (out.ptr[0] == '.') out.ptr[0] = '_';
}

}  // namespace

namespace {

// The folder the scenario asks for, or the one standing in for it.
bool scenarioFolder(sPkgInstallContext& ctx, _guardchar<char>& out) {
    _guardchar<char> home, apps, name;
    if (!cFolderContents::getHome(home) || home.empty() || home.ptr[0] != '/') return false;
    long long h = (long long)strlen(home.ptr);
    while (h > 1 && home.ptr[h - 1] == '/') home.ptr[--h] = 0;
    if (!concatText(h > 1 ? home.ptr : "", "/Applications", apps)) return false;
    const char* folder = ctx.getStr("folder");
    long long n = folder ? (long long)strlen(folder) : 0;
    while (n > 1 && folder[n - 1] == '/') n--;
    static const char kApps[] = "/Applications";
    const long long k = (long long)sizeof(kApps) - 1;
    _guardchar<char> rest;
    bool appsItself = n == k && strncmp(folder, kApps, (size_t)k) == 0;
    if (appsItself) {
        // The applications folder itself: a folder of the package's own below it.
    } else if (n > k && strncmp(folder, kApps, (size_t)k) == 0 && folder[k] == '/') {
        // The machine-wide applications folder stands for the user's own.
        rest.set(folder + k, n - k);
        if (concatText(apps.ptr, rest.ptr, out) && isPlainAbsPath(out.ptr)) return true;
    } else if (n > 1 && folder[0] == '/' && rest.set(folder, n) && isPlainAbsPath(rest.ptr)) {
        // A folder elsewhere is kept when the user may make or fill it and it may be a
        // package's own (not the program's own files).
        bool isFolder = cFolderContents::objtype(rest.ptr) == cFolderContents::eFolder;
        if ((isFolder ? cFolderContents::canWrite(rest.ptr) : isPossibleInstallPath(rest.ptr) == 0) &&
            mayBePackageFolder(rest.ptr, ctx.store))
            return out.set(rest.ptr);
    }
    // Else its last name below the user's applications folder, or the package's name.
    const char* last = folder;
    for (long long i = 0; i < n; i++)
        if (folder[i] == '/') last = folder + i + 1;
    if (last && !appsItself) folderName(last, n - (last - folder), name);
    if (name.empty()) {
        const char* display = ctx.getStr("name");
        folderName(display, display ? (long long)strlen(display) : 0, name);
    }
    if (name.empty()) folderName(ctx.codeName.ptr, ctx.codeName.ptr ? (long long)strlen(ctx.codeName.ptr) : 0, name);
    if (name.empty()) return false;
    _guardchar<char> sub;
    return concatText("/", name.ptr, sub) && concatText(apps.ptr, sub.ptr, out);
}

}  // namespace

bool proposeInstallFolder(sPkgInstallContext& ctx, _guardchar<char>& out) { return scenarioFolder(ctx, out); }

bool setInstallFolder(sPkgInstallContext& ctx, const char* folder) {
    // Resolved once, links and all, as far as it exists; nothing below it is ever
    // reached through a link afterwards.
    _guardchar<char> real;
    // Never the program's own files (the store's folder, the manager's bundle); any other
    // folder, the home folder and those above it included.
    if (!isPlainAbsPath(folder) || !realFolder(folder, real) || !isPlainAbsPath(real.ptr) ||
        !mayBePackageFolder(real.ptr, ctx.store) ||
        !ctx.setStr(-1, "pgm", real.ptr)) {
        ctx.messagePath.set(folder ? folder : "");
        return false;
    }
    return fillCopiedFiles(ctx);
}

namespace {

// The answer when nothing is left to install: the package is whole only when no name an
// interrupted run may have left beside its files stays (no job follows to take them).
unsigned int nothingToInstall(sPkgInstallContext& ctx, bool finished) {
    _guardchar<char> left;
    switch (takeRunLeftovers(ctx, cInstallFS::plain(), left)) {
        case eLeftoversNone: return finished ? eIIFinished : eIINoUpdate;
        case eLeftoversStay: ctx.messagePath.attach(left.dettach()); return eIILeftover;
        default: ctx.messagePath.attach(left.dettach()); return eIINoRights;
    }
}

}  // namespace

unsigned int installChecks(sPkgInstallContext& ctx, cJobAsker* asker) {
    if (!resolvePackagePath(ctx)) return eIIBadPath;
    if (!ctx.packageFile.open(ctx.packagePath.ptr, cFileIO::eRead) || !ctx.packageFile.set_fp(ctx.offset))
        return eIIBadPath;
    if (!ctx.loadBinConfig(&ctx.packageFile)) return eIIBadScenario;
    const char* code = ctx.getStr("codename");
    _guardchar<char> section;
    if (!code || !*code || !regSectionName(code, section)) return eIIBadScenario;
    ctx.packageVersion = ctx.getVerID();
    if (ctx.packageVersion == ~0ULL) return eIIBadScenario;
    ctx.codeName.set(code);
    ctx.registryName.set(code);
    if (ctx.journalPath.empty() && !defaultJournalPath(ctx.store, code, ctx.journalPath)) {
        ctx.messagePath.set("");
        return eIICannotRead;
    }
    // The package is this installer's from here to its end (the run lock stays in the
    // context), and what an interrupted run left is resolved before anything is compared
    // or answered. The store's lock is held for that alone: the job claims it again.
    bool finished = false;
    {
        cPackageClaim claim(ctx.journalPath.ptr, code, ctx.store, nullptr, &ctx.runLock);
        eClaim claimed = claim.claim(nullptr, &ctx.madeFolders);
        const sRecoveryReport& recovery = claim.recovery();
        if (claimed == eClaimBusy) return eIIBusy;
        if (claimed != eClaimed) {
            ctx.messagePath.set(claim.path());
            if (claimed == eClaimUnreadable) ctx.messageError = recovery.error;
            return claimed == eClaimUnreadable   ? eIIUnreadable
                   : claimed == eClaimUnfinished ? eIIUnfinished
                                                 : eIINoRights;  // a lock that cannot be taken, a store not read
        }
        // Nothing to update after finishing this very version's installation is its success.
        finished = recovery.outcome == sRecoveryReport::eFinished && recovery.registration == eRegister &&
                   recovery.version == ctx.packageVersion;
    }

    unsigned int r = chooseLanguage(ctx, asker, section.ptr);
    if (r != eIIOk) return r;

    _guardchar<char> key;
    unsigned long long ver = 0;
    if (ctx.store && regKey(section.ptr, kRegVer, key) && ctx.store->getParamInt(key.ptr, ver)) {
        ctx.installedVersion = ver;
        if (ctx.installedVersion > ctx.packageVersion) return eIINewerInstalled;
        _guardchar<char> path;
        if (!regKey(section.ptr, kRegPath, key) || !ctx.store->getParamStr(key.ptr, path) || path.empty() ||
            cFolderContents::objtype(path.ptr) != cFolderContents::eFolder)
            return eIIDamagedInstall;
        if (!ctx.setStr(-1, "pgm", path.ptr)) return eIIBadScenario;
        if ((r = readExistingFiles(ctx, section.ptr)) != eIIOk) return r;
        if ((r = readExistingShortcuts(ctx, section.ptr)) != eIIOk) return r;
        if ((r = checkInstallTargets(ctx)) == eIINoUpdate) return nothingToInstall(ctx, finished);
        if (r != eIIOk) return r;
    }
    ctx.requiredSize = ctx.requiresSize(65536);
    if (ctx.requiredSize == 0) return nothingToInstall(ctx, finished);
    collectDeprecated(ctx);
    return eIIOk;
}

bool getPackageRemovalCommandLine(cApplicationConfig* store, const char* code, int& major, _guardchar<char>& command) {
    if (!cSoftPkgScenario::isSafeCodeName(code)) return false;
    _guardchar<char> section, key, app;
    unsigned long long ver = 0;
    if (store && regSectionName(code, section) && regKey(section.ptr, kRegVer, key) &&
        store->getParamInt(key.ptr, ver) && store->getParamStr(kRegInstallerApp, app) &&
        cFolderContents::objtype(app.ptr) == cFolderContents::eFile) {
        long long n = (long long)strlen(app.ptr) + (long long)strlen(code) + 16;
        if (!command.set(n)) return false;
        _sprintf_s(command.ptr, n + 1, "\"%s\" uninstall \"%s\"", app.ptr, code);
        major = (int)(ver >> 48);
        return true;
    }
    int v[4];
    if (OSGetRegistedVersion(code, v, &command, nullptr, false) ||
        OSGetRegistedVersion(code, v, &command, nullptr, true)) {
        major = v[0];
        return true;
    }
    return false;
}

bool getInstalledPackageName(cApplicationConfig* store, const char* code, _guardchar<char>& name) {
    if (!cSoftPkgScenario::isSafeCodeName(code)) return false;
    _guardchar<char> section, key;
    if (store && regSectionName(code, section) && regKey(section.ptr, kRegName, key) &&
        store->getParamStr(key.ptr, name))
        return true;
    int v[4];
    return OSGetRegistedVersion(code, v, nullptr, &name, false) || OSGetRegistedVersion(code, v, nullptr, &name, true);
}

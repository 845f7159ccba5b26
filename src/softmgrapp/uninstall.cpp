// Uninstallation of one package and removal of deprecated packages.
#include "softmgrapp/uninstall.h"

#include <cstdio>
#include <cstring>

#include "base/folders.h"
#include "base/job.h"
#include "base/process.h"
#include "softmgr/ossupport.h"
#include "softmgrapp/pkgregistry.h"
#include "softmgrapp/sopkglang.h"

namespace {

unsigned int chooseLanguage(sPkgUninstallContext& ctx, cApplicationConfig* store, const char* section,
                            cJobAsker* asker) {
    _guardchar<char> key;
    unsigned long long stored = 0;
    bool read = regKey(section, kRegLang, key) && store->getParamInt(key.ptr, stored) && stored <= 10;
    int lang = read ? (int)stored : cSOPKGLang::_defaultLang();
    if (read && cSOPKGLang::_defines(lang) && (!asker || asker->applyLang(lang))) return eUNRemoved;
    ctx.languages.destroy();
    for (int id = 0; id <= 10; id++)
        if (cSOPKGLang::_defines(id)) *ctx.languages.add() = id;
    if (ctx.languages.empty()) return eUNNoLanguage;
    if (ctx.languages.count() == 1) {
        if (asker) asker->applyLang(ctx.languages.head->value);
        return eUNRemoved;
    }
    if (!asker) return eUNRemoved;
    asker->applyLang(lang);
    int chosen = asker->askLang(ctx.languages, lang, ctx.codeName.ptr);
    if (chosen < 0 || chosen > 10) return eUNCancelled;
    asker->applyLang(chosen);
    return eUNRemoved;
}

// Runs a command line without a shell and waits; -1 when it did not start.
int runCommand(const char* command, bool& started) {
    cConProcess p;
    p.setDiscardOutput(true);
    started = p.startProcess(command);
    if (!started) return -1;
    while (p.isValid()) cJob::sleep(100);
    return p.status();
}

unsigned int notRecorded(sPkgUninstallContext& ctx, cJobAsker* asker) {
    int v[4];
    _guardchar<char> command;
    bool perUser = false;
    if (!OSGetRegistedVersion(ctx.codeName.ptr, v, &command, nullptr, false)) {
        perUser = true;
        if (!OSGetRegistedVersion(ctx.codeName.ptr, v, &command, nullptr, true)) return eUNNotInstalled;
    }
    if (!command.empty()) {
        // This manager's own command for a package it has no record of.
        const char* q = command.ptr[0] == '"' ? strchr(command.ptr + 1, '"') : nullptr;
        size_t n = strlen(ctx.codeName.ptr);
        if (q && strncmp(q + 1, " uninstall \"", 12) == 0 && strncmp(q + 13, ctx.codeName.ptr, n) == 0) {
            OSDeregisterPackage(ctx.codeName.ptr, perUser);
            return eUNDeregistered;
        }
        bool started = false;
        int status = runCommand(command.ptr, started);
        if (!started) return eUNNoStart;
        return status != 0 ? eUNFailed : eUNRemoved;
    }
    if (v[0] == 0 && v[1] == 0) return eUNNotInstalled;
    if (!asker || !asker->confirm(2)) return eUNCancelled;
    if (!OSDeregisterPackage(ctx.codeName.ptr, false)) OSDeregisterPackage(ctx.codeName.ptr, true);
    return eUNRemoved;
}

void readExisting(cApplicationConfig* store, const char* section, const char* countName, const char* itemName,
                  _List<_guardchar<char> >& out) {
    _guardchar<char> key;
    unsigned long long count = 0;
    if (!regKey(section, countName, key) || !store->getParamInt(key.ptr, count)) return;
    if (count > (unsigned long long)kRegMaxEntries) count = kRegMaxEntries;
    for (long long i = 0; i < (long long)count; i++) {
        _guardchar<char> path;
        if (!regKey(section, itemName, i, key) || !store->getParamStr(key.ptr, path)) continue;
        if (cFolderContents::objtype(path.ptr) != cFolderContents::eFile) continue;
        _guardchar<char>* p = out.add();
        if (p) p->attach(path.dettach());
    }
}

// A backup name beside the file that nothing occupies ("<path>.bkp" first).
bool freeBackupName(const char* path, _guardchar<char>& out) {
    char suffix[16] = ".bkp";
    for (int i = 0; i < 100; i++) {
        if (i) snprintf(suffix, sizeof suffix, ".bkp%d", i);
        if (catStr(path, suffix, out) && objKind(out.ptr) == 0) return true;
    }
    return false;
}

}  // namespace

unsigned int uninstallJob(sPkgUninstallContext& ctx, cApplicationConfig* store, cJobAsker* asker, cInstallFS* fs) {
    if (!fs) fs = cInstallFS::plain();
    _guardchar<char> section;
    // The code name becomes a key and a command argument: only a safe one goes on.
    if (!store || !regSectionName(ctx.key.ptr, section)) return eUNNotInstalled;
    unsigned int r = chooseLanguage(ctx, store, section.ptr, asker);
    if (r != eUNRemoved) return r;
    if (!store->hasSection(section.ptr)) return notRecorded(ctx, asker);

    ctx.files.destroy();
    ctx.shortcuts.destroy();
    readExisting(store, section.ptr, kRegFiles, kRegFile, ctx.files);
    readExisting(store, section.ptr, kRegShortcuts, kRegShortcut, ctx.shortcuts);
    if (!asker || !asker->confirm(3)) return eUNCancelled;

    // Every file is moved aside first, so that a busy one leaves the package whole.
    _List<_guardchar<char> > backups;
    for (auto* it = ctx.files.head; it; it = it->next) {
        _guardchar<char>* bkp = backups.add();
        bool moved = false;
        while (bkp && freeBackupName(it->value.ptr, *bkp)) {
            if ((moved = moveFileClean(it->value.ptr, bkp->ptr, fs))) break;
            if (!asker->askRetry(it->value.ptr, true)) break;
        }
        if (!moved) {
            auto* f = ctx.files.head;
            for (auto* b = backups.head; b && f != it; b = b->next, f = f->next) fs->rename(b->value.ptr, f->value.ptr);
            return eUNCancelled;
        }
    }
    // Folders the package leaves empty go, up to its installation folder itself; without a
    // recorded folder none does.
    _guardchar<char> key, folder, stop;
    if (regKey(section.ptr, kRegPath, key) && store->getParamStr(key.ptr, folder) && isPlainAbsPath(folder.ptr) &&
        stop.set(folder.ptr))
        *strrchr(stop.ptr, '/') = 0;
    bool complete = true;
    for (auto* b = backups.head; b; b = b->next)
        if (!rmFileClean(b->value.ptr, stop.empty() ? nullptr : stop.ptr, fs)) complete = false;
    for (auto* s = ctx.shortcuts.head; s; s = s->next) rmFileClean(s->value.ptr, nullptr, fs);
    if (!OSDeregisterPackage(ctx.codeName.ptr, false)) OSDeregisterPackage(ctx.codeName.ptr, true);
    store->removeSection(section.ptr);
    if (!store->saveConfig()) complete = false;
    return complete ? eUNRemoved : eUNIncomplete;
}

unsigned int runRemovalCommands(_List<sPackageForRemoval>& list, cProgressNotifyTarget* progress) {
    int i = 0;
    for (auto* it = list.head; it; it = it->next, i++) {
        if (progress) progress->notifyStage(i);
        if (!it->value.selected) continue;
        bool started = false;
        it->value.result = runCommand(it->value.command.ptr, started);
        if (started && it->value.result == 0 && progress) progress->notifyProgress(100.0);
    }
    // The removed packages leave the list.
    _List<sPackageForRemoval> keep;
    for (auto* it = list.head; it; it = it->next) {
        if (it->value.selected && it->value.result == 0) continue;
        sPackageForRemoval* k = keep.add();
        if (!k) continue;
        k->name.attach(it->value.name.dettach());
        k->command.attach(it->value.command.dettach());
        k->selected = it->value.selected;
        k->result = it->value.result;
    }
    list.destroy();
    for (auto* it = keep.head; it; it = it->next) {
        sPackageForRemoval* k = list.add();
        if (!k) continue;
        k->name.attach(it->value.name.dettach());
        k->command.attach(it->value.command.dettach());
        k->selected = it->value.selected;
        k->result = it->value.result;
    }
    return 0;
}

// Uninstallation of one package and removal of deprecated packages.
#include "instengine/uninstall.h"

#include <cstdio>
#include <cstring>

#include "base/folders.h"
#include "base/job.h"
#include "base/process.h"
#include "base/stdlangs.h"
#include "instengine/journal.h"
#include "instengine/journalformat.h"
#include "instengine/journalrecovery.h"
#include "instengine/packageclaim.h"
#include "instengine/leftovers.h"
#include "instengine/packagefolders.h"
#include "instengine/pkgregistry.h"
#include "softmgr/ossupport.h"

namespace {

unsigned int chooseLanguage(sPkgUninstallContext& ctx, cApplicationConfig* store, const char* section,
                            cJobAsker* asker) {
    _guardchar<char> key;
    unsigned long long stored = 0;
    bool read = regKey(section, kRegLang, key) && store->getParamInt(key.ptr, stored) && stored <= 10;
    cInstallLangs* langs = installLangs();
    auto defines = [langs](int id) { return langs && langs->defines(id); };
    int lang = read ? (int)stored : langs ? langs->defaultLang() : (int)eLangENG;
    if (read && defines(lang) && (!asker || asker->applyLang(lang))) return eUNRemoved;
    ctx.languages.destroy();
    for (int id = 0; id <= 10; id++)
        if (defines(id)) *ctx.languages.add() = id;
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

// The system's registration of a package: the system-wide one, else the user's; false
// when neither has one.
bool findRegistration(const char* code, int v[4], _guardchar<char>& command, bool& perUser) {
    perUser = false;
    if (OSGetRegistedVersion(code, v, &command, nullptr, false)) return true;
    perUser = true;
    return OSGetRegistedVersion(code, v, &command, nullptr, true);
}

unsigned int notRecorded(sPkgUninstallContext& ctx, cJobAsker* asker) {
    int v[4] = {0, 0, 0, 0};
    _guardchar<char> command;
    bool perUser = false;
    if (!findRegistration(ctx.codeName.ptr, v, command, perUser)) return eUNNotInstalled;
    if (!command.empty()) {
        // This manager's own command for a package it has no record of (its whole code name:
        // another package's command that merely starts with it is not ours to drop).
        _guardchar<char> own;
        if (ownRemovalCode(command.ptr, own) && strcmp(own.ptr, ctx.codeName.ptr) == 0) {
            OSDeregisterPackage(ctx.codeName.ptr, perUser);
            return eUNDeregistered;
        }
        bool started = false;
        int status = runRemovalCommand(command.ptr, started);
        if (!started) return eUNNoStart;
        return status != 0 ? eUNFailed : eUNRemoved;
    }
    if (v[0] == 0 && v[1] == 0) return eUNNotInstalled;
    if (!asker || !asker->confirm(eAskDeregister)) return eUNCancelled;
    if (!OSDeregisterPackage(ctx.codeName.ptr, false)) OSDeregisterPackage(ctx.codeName.ptr, true);
    return eUNRemoved;
}

}  // namespace

bool uninstallKnows(const char* code, cApplicationConfig* store) {
    _guardchar<char> section, journal, command;
    if (!code || !regSectionName(code, section)) return false;
    // A record, a store that could not be read (it may hold one) or an interrupted run.
    if (store && (store->hasSection(section.ptr) || store->unreadableCount() > 0)) return true;
    if (defaultJournalPath(store, code, journal) && objKind(journal.ptr) != eObjNone) return true;
    // The system's registration: a removal command or a version above 0.0.
    int v[4] = {0, 0, 0, 0};
    bool perUser = false;
    return findRegistration(code, v, command, perUser) && (!command.empty() || v[0] || v[1]);
}

unsigned int uninstallJob(sPkgUninstallContext& ctx, cApplicationConfig* store, cJobAsker* asker, cInstallFS* fs) {
    if (!fs) fs = cInstallFS::plain();
    _guardchar<char> section;
    // The code name becomes a key and a command argument: only a safe one goes on.
    if (!store || !regSectionName(ctx.key.ptr, section)) return eUNNotInstalled;
    if (ctx.journalPath.empty() && !defaultJournalPath(store, ctx.key.ptr, ctx.journalPath)) return eUNNotInstalled;
    // The package is this run's (a running installer's journal is no interrupted run's:
    // wait for its end), and what an interrupted run left is resolved before anything is
    // answered.
    cPackageRunLock running;
    cPackageClaim claim(ctx.journalPath.ptr, ctx.key.ptr, store, fs, ctx.runLockHeld ? nullptr : &running);
    eClaim claimed = claim.claim();
    const sRecoveryReport& recovered = claim.recovery();
    switch (claimed) {
        case eClaimed: break;
        case eClaimBusy: return eUNBusy;
        case eClaimNoRunLock:
        case eClaimNoFolderLock: ctx.messagePath.set(claim.path()); return eUNNoRunLock;
        case eClaimUnreadable:
            ctx.messagePath.set(recovered.path.ptr);
            ctx.messageError = recovered.error;
            return eUNUnreadable;
        default: ctx.blocking.set(ctx.key.ptr); return eUNUnfinished;
    }
    // An interrupted uninstallation just finished is this one's removal.
    if (recovered.outcome == sRecoveryReport::eFinished && recovered.registration == eUnregister) return eUNRemoved;
    unsigned int r = chooseLanguage(ctx, store, section.ptr, asker);
    if (r != eUNRemoved) return r;
    if (!store->hasSection(section.ptr)) {
        // A store that could not be read does not say the package is not installed.
        if (store->unreadableCount() > 0) return eUNIncomplete;
        return notRecorded(ctx, asker);
    }

    sJournal journal;
    sPkgRegistryRecord& record = journal.record;
    if (!readRegistryRecord(store, ctx.key.ptr, record)) return eUNIncomplete;
    // Another package's interrupted run that names one of these files is resolved first:
    // its record may come to list a file this removal then keeps.
    sClaimFiles files;
    files.record = &record;
    claimed = claim.claim(&files);
    if (claimed != eClaimed) {
        ctx.blocking.set(claimed == eClaimOthersUnfinished ? claim.blocking() : ctx.key.ptr);
        return eUNUnfinished;
    }
    // What an interrupted run whose journal was set aside may have left beside these
    // files stays: nothing here tells it from the user's. The removal goes on and says so.
    ctx.leftovers.destroy();
    if (!findRunLeftovers(ctx.journalPath.ptr, store, ctx.key.ptr, record, ctx.leftovers)) return eUNIncomplete;
    // Only files the record may own: plain paths below its folders, reached without links.
    // A file already gone counts as removed.
    ctx.files.destroy();
    ctx.shortcuts.destroy();
    ctx.keptFor.destroy();
    cRecordScope scope(record, store);
    // What other packages' records list stays: a shared file goes with the last of them.
    cOtherRecords others(store, ctx.key.ptr);
    _List<_guardchar<char> > made;
    for (auto* it = record.dirs.head; it; it = it->next) {
        _guardchar<char>* e = made.add();
        if (!e || !e->set(it->value.ptr)) return eUNIncomplete;
    }
    others.dropListed(record.dirs);
    for (const char* f : record.files) {
        if (!scope.ownsFile(f)) continue;
        if (const char* owner = others.fileOwner(f)) {
            addUnique(ctx.keptFor, owner);
            continue;
        }
        _guardchar<char>* p = ctx.files.add();
        if (!p || !p->set(f)) return eUNIncomplete;
    }
    _guardchar<char> entries;
    desktopEntryFolder(entries);
    for (auto* it = record.shortcuts.head; it; it = it->next) {
        // Menu entries lie in the desktop entries folder.
        if (!isPlainAbsPath(it->value.ptr) || entries.empty() || !noLinkBelow(it->value.ptr, entries.ptr) ||
            objKind(it->value.ptr) != eObjFile)
            continue;
        _guardchar<char>* p = ctx.shortcuts.add();
        if (!p || !p->set(it->value.ptr)) return eUNIncomplete;
    }
    if (!asker || !asker->confirm(eAskRemovePackage)) return eUNCancelled;

    // Every file is moved aside first, so that a busy one leaves the package whole; the
    // journal names them before the first moves, with everything the commit leaves to do
    // (folders, menu entries, the record), so that any next run finishes the removal.
    // A file whose backup name belongs to someone else stays in place (checked that it
    // can be written) until the commit.
    journal.registration = eUnregister;
    if (!journal.code.set(ctx.key.ptr)) return eUNIncomplete;
    for (auto* it = ctx.files.head; it; it = it->next) {
        _guardchar<char> bkp;
        if (!concatText(it->value.ptr, ".bkp", bkp) || !journal.add(objKind(bkp.ptr) == eObjNone ? eLineReplaced : eLineObsolete, it->value.ptr, true))
            return eUNIncomplete;
    }
    for (auto* it = ctx.shortcuts.head; it; it = it->next)
        if (!journal.add(eLineGoneEntry, it->value.ptr)) return eUNIncomplete;
    if (saveJournal(ctx.journalPath.ptr, journal, false, fs) != eJournalSaved) {
        fs->unlink(ctx.journalPath.ptr);
        return eUNIncomplete;
    }
    _guardchar<char> folder;
    long long entry = 0;
    for (auto* it = ctx.files.head; it; it = it->next, entry++) {
        _guardchar<char> bkp;
        bool moved = false;
        while (concatText(it->value.ptr, ".bkp", bkp)) {
            if (journal.kind(entry) == eLineReplaced ? moveFileClean(it->value.ptr, bkp.ptr, fs) : fs->canOpenForWrite(it->value.ptr)) {
                moved = true;
                break;
            }
            if (objKind(it->value.ptr) == eObjNone) break;
            if (!asker->askRetry(it->value.ptr, true)) break;
        }
        if (!moved && objKind(it->value.ptr) != eObjNone) {
            // Everything back as it was, as the journal in place (this one) says; it stays
            // when that fails.
            sJournalOutcome out;
            return resolveJournal(ctx.journalPath.ptr, journal, fs, nullptr, nullptr, out) ? eUNCancelled
                                                                                          : eUNIncomplete;
        }
    }
    bool complete = true;
    for (auto* it = ctx.files.head; it; it = it->next)
        if (parentFolder(it->value.ptr, folder) && !fs->syncFolder(folder.ptr)) complete = false;
    eJournalSave saved = complete ? saveJournal(ctx.journalPath.ptr, journal, true, fs) : eJournalNotSaved;
    if (saved != eJournalSaved) {
        // Not in place: put back as it was (the journal stays when that fails); read back,
        // for a move into place reported as failed may still have been made (a network
        // file system retrying it), and then the committed journal stands. In place but
        // its folder not flushed: committed but not durable, and the next run finishes
        // the removal from it. Not removed either way.
        if (saved == eJournalNotSaved) recoverInterrupted(ctx.journalPath.ptr, fs, nullptr, store);
        return eUNIncomplete;
    }
    // Committed: from here the removal is finished, by this run or by the next one, with
    // the same code; the journal in place is this one.
    journal.committed = true;
    sJournalOutcome out;
    if (!resolveJournal(ctx.journalPath.ptr, journal, fs, nullptr, store, out)) return eUNIncomplete;
    others.handOver(store, made);
    // Only the registration and the package's own files went: the rest is the user's to look at.
    return ctx.leftovers.empty() ? eUNRemoved : eUNDeregistered;
}

bool ownRemovalCode(const char* command, _guardchar<char>& code) {
    static const char kVerb[] = " uninstall \"";
    const char* q = command && command[0] == '"' ? strchr(command + 1, '"') : nullptr;
    if (!q || strncmp(q + 1, kVerb, sizeof(kVerb) - 1) != 0) return false;
    const char* c = q + sizeof(kVerb);
    const char* end = strchr(c, '"');
    _guardchar<char> section;
    return end && end[1] == 0 && end > c && code.set(c, end - c) && regSectionName(code.ptr, section);
}

int runRemovalCommand(const char* command, bool& started) {
    cConProcess p;
    p.setDiscardOutput(true);
    started = p.startProcess(command);
    if (!started) return -1;
    while (p.isValid()) cJob::sleep(100);
    return p.status();
}

unsigned int runRemovalCommands(_List<sPackageForRemoval>& list, cProgressNotifyTarget* progress, tRemovalRunner run,
                                void* data) {
    int i = 0;
    for (auto* it = list.head; it; it = it->next, i++) {
        if (progress) progress->notifyStage(i);
        if (!it->value.selected) continue;
        bool started = false;
        it->value.result = run ? run(it->value.command.ptr, started, data) : runRemovalCommand(it->value.command.ptr, started);
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

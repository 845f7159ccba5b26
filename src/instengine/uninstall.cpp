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

// The language of the run's questions and answers: the package's own, else the only one
// there is, else the user's choice. eUNRemoved to go on.
unsigned int chooseLanguage(sPkgUninstallContext& ctx, cApplicationConfig* store, cJobAsker* asker) {
    _guardchar<char> section, key;
    unsigned long long stored = 0;
    bool read = store && regSectionName(ctx.key.ptr, section) && regKey(section.ptr, kRegLang, key) &&
                store->getParamInt(key.ptr, stored) && stored <= 10;
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

// Whether a run left its journal at `path`, or one it was saving (the claim takes that).
bool runLeftJournal(const char* path) {
    _guardchar<char> saving;
    return objKind(path) != eObjNone || (concatText(path, kJournalSaving, saving) && objKind(saving.ptr) != eObjNone);
}

// One uninstallation of a package in the store, phase by phase as an installation runs:
// the package claimed, the language, every file and menu entry of its record sorted
// (removed, kept for another package, or left and named), the question, the files moved
// aside under the journal, the commit, then the journal's resolution (files, folders,
// entries, record) and the result. Each phase answers false once the run ends, the result
// set.
class cUninstallRun {
public:
    cUninstallRun(sPkgUninstallContext& ctx, cApplicationConfig* store, cJobAsker* asker, cInstallFS* fs)
        : ctx(ctx), store(store), asker(asker), fs(fs),
          claim(ctx.journalPath.ptr, ctx.key.ptr, store, fs, ctx.runLockHeld ? nullptr : &running) {}

    unsigned int run() {
        if (!claimPackage() || !language() || !recorded() || !sortFiles() || !confirm() || !moveAside() ||
            !commit() || !deregister())
            return myResult;
        return result();
    }

private:
    bool end(unsigned int result) {
        myResult = result;
        return false;
    }
    bool claimPackage();
    unsigned int finishedRemoval(const sRecoveryReport& recovered);
    bool language() {
        unsigned int r = chooseLanguage(ctx, store, asker);
        return r == eUNRemoved || end(r);
    }
    bool recorded();
    bool sortFiles();
    bool add(_List<_guardchar<char> >& list, const char* text) {
        _guardchar<char>* e = list.add();
        return (e && e->set(text)) || end(eUNIncomplete);
    }
    // A file another package's record lists too stays: the result names that package.
    bool keep(const char* owner) { return addUnique(ctx.keptFor, owner) || end(eUNIncomplete); }
    // A name the record lists, or one beside its files, left as it is: the result names it.
    bool leave(const char* path) { return addUnique(left, leftSeen, path) || end(eUNIncomplete); }
    bool confirm() { return (asker && asker->confirm(eAskRemovePackage)) || end(eUNCancelled); }
    bool moveAside();
    bool commit();
    bool deregister();
    unsigned int result();

    sPkgUninstallContext& ctx;
    cApplicationConfig* store;
    cJobAsker* asker;
    cInstallFS* fs;
    cPackageRunLock running;
    // The package, the store folder's lock held for the whole run.
    cPackageClaim claim;
    // What the run does, the record it removes included.
    sJournal journal;
    // What other packages' records list stays: a shared file goes with the last of them.
    cPtr<cOtherRecords> others;
    // The folders the installation made (the record's before others' were dropped).
    _List<_guardchar<char> > made;
    // What stays and is named, as far as it is still there at the end.
    _List<_guardchar<char> > left;
    cFasterTreeList<cStringKey, int> leftSeen;
    unsigned int myResult = eUNRemoved;
};

// The package is this run's (a running installer's journal is no interrupted run's: wait
// for its end), and what an interrupted run left is resolved before anything is answered.
bool cUninstallRun::claimPackage() {
    eClaim claimed = claim.claim();
    const sRecoveryReport& recovered = claim.recovery();
    switch (claimed) {
        case eClaimed: break;
        case eClaimBusy: return end(eUNBusy);
        case eClaimNoRunLock:
        case eClaimNoFolderLock:
        case eClaimStoreNotRead: ctx.messagePath.set(claim.path()); return end(eUNNoRunLock);
        case eClaimUnreadable:
            ctx.messagePath.set(recovered.path.ptr);
            ctx.messageError = recovered.error;
            return end(eUNUnreadable);
        default: ctx.blocking.set(ctx.key.ptr); return end(eUNUnfinished);
    }
    // An interrupted uninstallation just finished is this one's removal.
    if (recovered.outcome == sRecoveryReport::eFinished && recovered.registration == eUnregister)
        return end(finishedRemoval(recovered));
    return true;
}

// The finished removal answers as the interrupted run would have: what stays of what its
// record listed is named (files another package's record lists too; files and menu entries
// a check refused, or put back since; behind a journal set aside, the names beside its
// files), and it is removed only when nothing stays.
unsigned int cUninstallRun::finishedRemoval(const sRecoveryReport& recovered) {
    if (!recovered.removal) return eUNRemoved;
    const sPkgRegistryRecord& record = recovered.removal->record;
    cInstallLangs* langs = installLangs();
    if (asker && langs && langs->defines(record.lang)) asker->applyLang(record.lang);
    ctx.keptFor.destroy();
    ctx.leftovers.destroy();
    // Everything the journal named is gone: what the record lists and is still there stayed.
    others = new cOtherRecords(store, ctx.key.ptr);
    for (const char* f : record.files) {
        if (isPlainAbsPath(f) && objKind(f) == eObjNone) continue;
        const char* owner = others->fileOwner(f);
        if (!(owner ? keep(owner) : leave(f))) return myResult;
    }
    for (auto* it = record.shortcuts.head; it; it = it->next)
        if ((!isPlainAbsPath(it->value.ptr) || objKind(it->value.ptr) != eObjNone) && !leave(it->value.ptr))
            return myResult;
    _List<_guardchar<char> > beside;
    if (recovered.asideWasInForce && !listRunLeftovers(store, ctx.key.ptr, record, beside)) return eUNIncomplete;
    for (auto* it = beside.head; it; it = it->next)
        if (!leave(it->value.ptr)) return myResult;
    return result();
}

// A package without a record in the store is the system registration's to answer; a store
// that could not be read does not say the package is not installed.
bool cUninstallRun::recorded() {
    _guardchar<char> section;
    if (regSectionName(ctx.key.ptr, section) && store->hasSection(section.ptr)) return true;
    return end(store->unreadableCount() > 0 ? (unsigned int)eUNIncomplete : notRecorded(ctx, asker));
}

// Every file and menu entry the record lists goes to one place: removed (ctx.files,
// ctx.shortcuts), kept for another package that lists it too (ctx.keptFor), gone
// already, or left as it is and named (ctx.leftovers) where a check refuses it. So does
// what an interrupted run whose journal was set aside may have left beside the files:
// nothing here tells it from the user's, and it stays.
bool cUninstallRun::sortFiles() {
    sPkgRegistryRecord& record = journal.record;
    if (!readRegistryRecord(store, ctx.key.ptr, record)) return end(eUNIncomplete);
    // Another package's interrupted run that names one of these files is resolved first:
    // its record may come to list a file this removal then keeps.
    sClaimFiles files;
    files.record = &record;
    eClaim claimed = claim.claim(&files);
    if (claimed != eClaimed) {
        ctx.blocking.set(claimed == eClaimOthersUnfinished ? claim.blocking() : ctx.key.ptr);
        return end(eUNUnfinished);
    }
    ctx.files.destroy();
    ctx.shortcuts.destroy();
    ctx.keptFor.destroy();
    ctx.leftovers.destroy();
    _List<_guardchar<char> > beside;
    if (!findRunLeftovers(ctx.journalPath.ptr, store, ctx.key.ptr, record, beside)) return end(eUNIncomplete);
    others = new cOtherRecords(store, ctx.key.ptr);
    for (auto* it = record.dirs.head; it; it = it->next)
        if (!add(made, it->value.ptr)) return false;
    others->dropListed(record.dirs);
    // Only files the record may own: plain paths below its folders, reached without links.
    cRecordScope scope(record, store);
    for (const char* f : record.files) {
        if (isPlainAbsPath(f) && objKind(f) == eObjNone) continue;
        const char* owner = others->fileOwner(f);
        if (!(owner ? keep(owner) : scope.ownsFile(f) ? add(ctx.files, f) : leave(f))) return false;
    }
    // Menu entries lie in the desktop entries folder.
    for (auto* it = record.shortcuts.head; it; it = it->next) {
        const char* e = it->value.ptr;
        if (isPlainAbsPath(e) && objKind(e) == eObjNone) continue;
        if (!(scope.ownsEntry(e) ? add(ctx.shortcuts, e) : leave(e))) return false;
    }
    // The names beside them (none that a record lists) stay.
    for (auto* it = beside.head; it; it = it->next)
        if (!leave(it->value.ptr)) return false;
    return true;
}

// Every file is moved aside first, so that a busy one leaves the package whole; the
// journal names them before the first moves, with everything the commit leaves to do
// (folders, menu entries, the record), so that any next run finishes the removal. A file
// whose backup name belongs to someone else stays in place (checked that it can be
// written) until the commit.
bool cUninstallRun::moveAside() {
    journal.registration = eUnregister;
    if (!journal.code.set(ctx.key.ptr)) return end(eUNIncomplete);
    for (auto* it = ctx.files.head; it; it = it->next) {
        _guardchar<char> bkp;
        if (!concatText(it->value.ptr, ".bkp", bkp) ||
            !journal.add(objKind(bkp.ptr) == eObjNone ? eLineReplaced : eLineObsolete, it->value.ptr, true))
            return end(eUNIncomplete);
    }
    for (auto* it = ctx.shortcuts.head; it; it = it->next)
        if (!journal.add(eLineGoneEntry, it->value.ptr)) return end(eUNIncomplete);
    if (saveJournal(ctx.journalPath.ptr, journal, false, fs) != eJournalSaved) {
        fs->unlink(ctx.journalPath.ptr);
        return end(eUNIncomplete);
    }
    long long entry = 0;
    for (auto* it = ctx.files.head; it; it = it->next, entry++) {
        _guardchar<char> bkp;
        bool moved = false;
        while (concatText(it->value.ptr, ".bkp", bkp)) {
            if (journal.kind(entry) == eLineReplaced ? moveFileClean(it->value.ptr, bkp.ptr, fs)
                                                     : fs->canOpenForWrite(it->value.ptr)) {
                moved = true;
                break;
            }
            if (objKind(it->value.ptr) == eObjNone) break;
            if (!asker->askRetry(it->value.ptr, true)) break;
        }
        if (!moved && objKind(it->value.ptr) != eObjNone) {
            // Everything back as it was, as the journal in place (this one) says; it stays
            // when that fails.
            ctx.messagePath.set(it->value.ptr);
            sJournalOutcome out;
            return end(resolveJournal(ctx.journalPath.ptr, journal, fs, nullptr, nullptr, out) ? eUNCancelled
                                                                                              : eUNIncomplete);
        }
    }
    return true;
}

bool cUninstallRun::commit() {
    _guardchar<char> folder;
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
        return end(eUNIncomplete);
    }
    // Committed: from here the removal is finished, by this run or by the next one, with
    // the same code; the journal in place is this one.
    journal.committed = true;
    return true;
}

// The backups, the emptied folders, the menu entries and the record go; the folders made
// that still stand go to the packages still in them. What could not be removed is named;
// the next run finishes the removal.
bool cUninstallRun::deregister() {
    sJournalOutcome out;
    if (!resolveJournal(ctx.journalPath.ptr, journal, fs, nullptr, store, out)) {
        ctx.messagePath.set(out.path.ptr ? out.path.ptr : "");
        return end(eUNIncomplete);
    }
    others->handOver(store, made);
    return true;
}

// Removed: every file and entry the record owned is gone. Else de-registered, naming what
// stays (the names the user removed meanwhile, or the package's own, are not named).
unsigned int cUninstallRun::result() {
    for (auto* it = left.head; it; it = it->next)
        if ((!isPlainAbsPath(it->value.ptr) || objKind(it->value.ptr) != eObjNone) && !add(ctx.leftovers, it->value.ptr))
            return eUNIncomplete;
    return ctx.leftovers.empty() ? eUNRemoved : eUNDeregistered;
}

}  // namespace

bool uninstallKnows(const char* code, cApplicationConfig* store) {
    _guardchar<char> section, journal, command;
    if (!code || !regSectionName(code, section)) return false;
    // A record, a store that could not be read (it may hold one) or an interrupted run (its
    // journal, or one it was saving).
    if (store && (store->hasSection(section.ptr) || store->unreadableCount() > 0)) return true;
    if (defaultJournalPath(store, code, journal) && runLeftJournal(journal.ptr)) return true;
    // The system's registration: a removal command or a version above 0.0.
    int v[4] = {0, 0, 0, 0};
    bool perUser = false;
    return findRegistration(code, v, command, perUser) && (!command.empty() || v[0] || v[1]);
}

unsigned int uninstallJob(sPkgUninstallContext& ctx, cApplicationConfig* store, cJobAsker* asker, cInstallFS* fs) {
    // A package nothing knows of is answered in the language the run speaks, and nothing
    // of it is claimed. The code name becomes a key and a command argument: only a safe
    // one goes on.
    if (!uninstallKnows(ctx.key.ptr, store) && (ctx.journalPath.empty() || !runLeftJournal(ctx.journalPath.ptr))) {
        unsigned int r = chooseLanguage(ctx, store, asker);
        return r == eUNRemoved ? (unsigned int)eUNNotInstalled : r;
    }
    _guardchar<char> section;
    if (!store || !regSectionName(ctx.key.ptr, section)) return eUNNotInstalled;
    if (ctx.journalPath.empty() && !defaultJournalPath(store, ctx.key.ptr, ctx.journalPath)) return eUNNotInstalled;
    cUninstallRun run(ctx, store, asker, fs ? fs : cInstallFS::plain());
    return run.run();
}

// Read from its end: a code name holds no quote, the program's path may (a home folder's
// name), and the line is ours whatever that path holds.
bool ownRemovalCode(const char* command, _guardchar<char>& code) {
    static const char kVerb[] = "\" uninstall \"";
    const size_t verb = sizeof(kVerb) - 1, n = command ? strlen(command) : 0;
    if (n < verb + 3 || command[0] != '"' || command[n - 1] != '"') return false;
    const char* c = command + n - 1;  // the code name's closing quote
    while (c > command && c[-1] != '"') c--;
    if ((size_t)(c - command) < verb + 1 || strncmp(c - verb, kVerb, verb) != 0) return false;
    const char* end = command + n - 1;
    _guardchar<char> section;
    return end > c && code.set(c, end - c) && regSectionName(code.ptr, section);
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

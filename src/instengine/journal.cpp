// The journal of the files in flight: its text written and read back, and its resolution
// (an interrupted run undone or finished, the manager copy and the registration of a
// committed one), for the installation job, the uninstallation and the manager's start.
#include "instengine/journal.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "base/fileiotarget.h"
#include "base/fileops.h"
#include "base/folders.h"
#include "base/strings.h"
#include "hash/sha256.h"
#include "instengine/journalscope.h"
#include "instengine/packagefolders.h"
#include "instengine/softmgrcopy.h"
#include "instengine/version.h"
#include "softmgr/bundlelayout.h"
#include "softmgr/ossupport.h"

namespace {

const char kJournalMagic[] = "QMXINFLIGHT 4";
// Version 1 had no folder lines ("M", "D"), version 2 no menu entry and registration
// lines, version 3 no digest; all are still read.
const char kJournalMagicV3[] = "QMXINFLIGHT 3";
const char kJournalMagicV2[] = "QMXINFLIGHT 2";
const char kJournalMagicV1[] = "QMXINFLIGHT 1";
const long long kMaxJournalBytes = 1LL << 30;
// A journal's name in its folder is this and the package's code name.
const char kJournalPrefix[] = "inflight-";
// A journal is saved beside its place under this suffix, which no code name can end in.
const char kJournalSaving[] = "~new";
// Two packages' files, the record's list of them, its entries, bases, folders, commands.
const long long kMaxJournalLines = 8 * cSoftPkgScenario::kMaxFileRecords;

// The digest line: "sha256 ", 64 hex digits, a newline.
const char kDigestWord[] = "sha256 ";
const long long kDigestLine = 7 + 64 + 1;

void hexDigest(const unsigned char digest[32], char out[65]) {
    static const char kHex[] = "0123456789abcdef";
    for (int i = 0; i < 32; i++) out[2 * i] = kHex[digest[i] >> 4], out[2 * i + 1] = kHex[digest[i] & 15];
    out[64] = 0;
}

// A growing text; with a descriptor, written out whenever 64 KiB have gathered (and
// hashed as it goes out, when there is a digest).
struct sText {
    _typebuf<char> buf;
    long long n = 0;
    bool ok = true;
    cInstallFS* fs = nullptr;
    int fd = -1;
    sha256_context* sha = nullptr;
    bool flush() {
        if (ok && fd >= 0 && n > 0) {
            if (sha) sha256_update(sha, (const unsigned char*)buf.ptr, (size_t)n);
            ok = fs->write(fd, buf.ptr, n), n = 0;
        }
        return ok;
    }
    void add(const char* s, long long len = -1) {
        if (!ok || !s) return;
        if (len < 0) len = (long long)strlen(s);
        if (fd >= 0 && n + len + 1 > 65536 && !flush()) return;
        if (n + len + 1 > buf.count && !buf.reset((n + len + 1) * 2)) {
            ok = false;
            return;
        }
        memcpy(buf.ptr + n, s, (size_t)len);
        n += len;
        buf.ptr[n] = 0;
    }
};

}  // namespace

bool sJournal::add(char kind, const char* path, bool shared) {
    long long n = paths.count();
    if (n == kinds.count && !kinds.reset(n ? n * 2 : 64)) return false;
    if (!(shared ? paths.addShared(path) : paths.add(path))) return false;
    kinds.ptr[n] = kind;
    return true;
}

namespace {

// A value of a "rec" line: control characters and the backslash as "\" and two hex digits.
void addEscaped(sText& t, const char* s) {
    static const char kHex[] = "0123456789abcdef";
    for (; s && *s; s++) {
        unsigned char c = (unsigned char)*s;
        char e[3] = {'\\', kHex[c >> 4], kHex[c & 15]};
        if (c < 0x20 || c == 0x7F || c == '\\')
            t.add(e, 3);
        else
            t.add(s, 1);
    }
}

int hexDigit(char c) {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

bool unescape(const char* s, _guardchar<char>& out) {
    if (!out.set((long long)strlen(s))) return false;
    char* o = out.ptr;
    for (; *s; s++) {
        if (*s != '\\') {
            *o++ = *s;
            continue;
        }
        int hi = hexDigit(s[1]), lo = hi < 0 ? -1 : hexDigit(s[2]);
        if (lo < 0 || (hi == 0 && lo == 0)) return false;
        *o++ = (char)(hi * 16 + lo);
        s += 2;
    }
    *o = 0;
    return true;
}

// The journal's body lines, counted.
struct sJournalText {
    sText t;
    long long lines = 0;
    void line(const char* word, const char* value = nullptr, bool escape = false) {
        t.add(word);
        if (value) {
            t.add(" ");
            if (escape)
                addEscaped(t, value);
            else
                t.add(value);
        }
        t.add("\n");
        lines++;
    }
    void field(const char* name, const char* value) {
        t.add("rec ");
        t.add(name);
        t.add(" ");
        addEscaped(t, value ? value : "");
        t.add("\n");
        lines++;
    }
    void number(const char* name, unsigned long long v) {
        char n[24];
        _sprintf_s(n, sizeof n, "%llu", v);
        field(name, n);
    }
};

void recordLines(sJournalText& j, const sPkgRegistryRecord& r) {
    j.number(kRegVer, r.ver);
    j.number(kRegLang, r.lang);
    j.number(kRegUTime, r.utime);
    j.field(kRegPath, r.path.ptr);
    j.field(kRegName, r.name.ptr);
    j.field(kRegUpdates, r.updates.ptr);
    j.field(kRegSupport, r.support.ptr);
    j.field(kRegPublisher, r.publisher.ptr);
    if (!r.icon.empty()) j.field(kRegIcon, r.icon.ptr);
    for (const char* f : r.files) j.field(kRegFile, f);
    for (auto* it = r.shortcuts.head; it; it = it->next) j.field(kRegShortcut, it->value.ptr);
    for (auto* it = r.bases.head; it; it = it->next) j.field(kRegBase, it->value.ptr);
    for (auto* it = r.dirs.head; it; it = it->next) j.field(kRegDir, it->value.ptr);
    for (auto* it = r.commands.head; it; it = it->next) {
        j.field(kRegRunLabel, it->value.label.ptr);
        j.field(kRegRunCommand, it->value.command.ptr);
    }
}

// One "rec <field> <value>" line into the record; false for an unknown field or value.
bool recordField(const char* line, sPkgRegistryRecord& r) {
    const char* blank = strchr(line, ' ');
    _guardchar<char> name, value;
    if (!blank || !name.set(line, blank - line) || !unescape(blank + 1, value)) return false;
    const char* n = name.ptr;
    struct {
        const char* name;
        _guardchar<char>* text;
    } texts[] = {{kRegPath, &r.path}, {kRegName, &r.name}, {kRegUpdates, &r.updates},
                 {kRegSupport, &r.support}, {kRegPublisher, &r.publisher}, {kRegIcon, &r.icon}};
    for (auto& t : texts)
        if (strcmp(n, t.name) == 0) return t.text->set(value.ptr);
    struct {
        const char* name;
        _List<_guardchar<char> >* list;
    } lists[] = {{kRegShortcut, &r.shortcuts}, {kRegBase, &r.bases}, {kRegDir, &r.dirs}};
    if (strcmp(n, kRegFile) == 0) return r.files.add(value.ptr);
    for (auto& l : lists) {
        if (strcmp(n, l.name) != 0) continue;
        _guardchar<char>* e = l.list->add();
        return e && e->set(value.ptr);
    }
    if (strcmp(n, kRegRunLabel) == 0) {
        sPkgRunCommand* c = r.commands.add();
        return c && c->label.set(value.ptr);
    }
    if (strcmp(n, kRegRunCommand) == 0) {
        // Follows its label.
        sPkgRunCommand* c = r.commands.tail ? &r.commands.tail->value : nullptr;
        return c && !c->command.ptr && c->command.set(value.ptr);
    }
    char* end = nullptr;
    if (!*value.ptr || value.ptr[0] < '0' || value.ptr[0] > '9') return false;
    errno = 0;
    unsigned long long v = strtoull(value.ptr, &end, 10);
    if (*end || errno) return false;
    if (strcmp(n, kRegVer) == 0) return r.ver = v, true;
    if (strcmp(n, kRegLang) == 0 && v <= 0xFFFF) return r.lang = (unsigned short)v, true;
    if (strcmp(n, kRegUTime) == 0 && v <= 0xFFFFFFFFULL) return r.utime = (unsigned int)v, true;
    return false;
}

// A version 4 journal ends in the digest of everything before it: checked, and cut off
// the text (its body then reads as version 3's). Other versions have none.
bool checkDigest(char* text, long long& size) {
    static const char kHead[] = "QMXINFLIGHT 4\n";
    if (strncmp(text, kHead, sizeof(kHead) - 1) != 0) return true;
    long long body = size - kDigestLine;
    if (body < (long long)sizeof(kHead) - 1 || text[body - 1] != '\n' || text[size - 1] != '\n' ||
        strncmp(text + body, kDigestWord, sizeof(kDigestWord) - 1) != 0)
        return false;
    sha256_context sha;
    unsigned char digest[32];
    char hex[65];
    sha256_starts(&sha);
    sha256_update(&sha, (const unsigned char*)text, (size_t)body);
    sha256_finish(&sha, digest);
    hexDigest(digest, hex);
    if (memcmp(text + body + sizeof(kDigestWord) - 1, hex, 64) != 0) return false;
    text[body] = 0;
    size = body;
    return true;
}

// Parses a journal's text (size bytes, a 0 after them). False for anything but the
// exact form.
bool parseJournal(char* text, long long size, sJournal& out) {
    if (size <= 0 || (long long)strlen(text) != size || text[size - 1] != '\n' || !checkDigest(text, size))
        return false;
    long long line = 0, lines = 0;
    bool ended = false, haveVersion = false;
    int version = 0;
    for (char* p = text; *p;) {
        char* e = strchr(p, '\n');
        *e = 0;
        if (ended) return false;
        if (line == 0) {
            version = strcmp(p, kJournalMagicV1) == 0   ? 1
                      : strcmp(p, kJournalMagicV2) == 0 ? 2
                      : strcmp(p, kJournalMagicV3) == 0 ? 3
                      : strcmp(p, kJournalMagic) == 0   ? 4  // its digest checked above
                                                        : 0;
            if (!version) return false;
            out.version = version;
        } else if (line == 1) {
            if (strcmp(p, "state committed") == 0)
                out.committed = true;
            else if (strcmp(p, "state pending") == 0)
                out.committed = false;
            else
                return false;
        } else if (strncmp(p, "end ", 4) == 0) {
            char tail[32];
            _sprintf_s(tail, sizeof tail, "end %lld", lines);
            if (strcmp(p, tail) != 0) return false;
            ended = true;
        } else {
            if (++lines > kMaxJournalLines) return false;
            const char* kinds = version == 1 ? "RNO" : version == 2 ? "RNOMD" : "RNOMDEQS";
            if (p[0] && p[1] == ' ' && strchr(kinds, p[0])) {
                if (!isPlainAbsPath(p + 2) || !out.add(p[0], p + 2)) return false;
            } else if (version < 3) {
                return false;
            } else if (strncmp(p, "rec ", 4) == 0) {
                if (!out.registration || !recordField(p + 4, out.record)) return false;
                haveVersion = haveVersion || strncmp(p + 4, "ver ", 4) == 0;
            } else if (strncmp(p, "code ", 5) == 0) {
                if (!out.code.empty() || !cSoftPkgScenario::isSafeCodeName(p + 5) || !out.code.set(p + 5)) return false;
            } else if (strcmp(p, "register") == 0 || strcmp(p, "unregister") == 0) {
                if (out.registration || out.code.empty()) return false;
                out.registration = p[0] == 'r' ? 'r' : 'u';
            } else if (strncmp(p, "manager ", 8) == 0) {
                if (out.registration != 'r' || !out.manager.empty() || !isPlainAbsPath(p + 8) || !out.manager.set(p + 8))
                    return false;
            } else {
                return false;
            }
        }
        line++;
        p = e + 1;
    }
    // A record always has its version.
    return ended && (!out.registration || haveVersion);
}

}  // namespace

eJournalRead readJournal(const char* path, sJournal& out, int* error) {
    int scratch = 0;
    int& err = error ? *error : scratch;
    err = 0;
    // Only what was read whole is judged: a failed open or read says nothing of the text.
    auto unreadable = [&](int e) {
        err = e ? e : EIO;
        return eJournalUnreadable;
    };
    int fd;
    do fd = open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) return unreadable(errno);
    struct stat st;
    if (fstat(fd, &st) != 0) {
        int e = errno;
        close(fd);
        return unreadable(e);
    }
    long long size = (long long)st.st_size;
    if (!S_ISREG(st.st_mode) || size <= 0 || size > kMaxJournalBytes) {
        close(fd);
        return eJournalDamaged;
    }
    _typebuf<char> buf;
    if (!buf.set(size + 1)) {
        close(fd);
        return unreadable(ENOMEM);
    }
    long long got = 0;
    while (got < size) {
        ssize_t n = read(fd, buf.ptr + got, (size_t)(size - got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            // A journal is replaced whole, never changed in place: one that ends early
            // was not read.
            int e = n < 0 ? errno : EIO;
            close(fd);
            return unreadable(e);
        }
        got += n;
    }
    close(fd);
    buf.ptr[size] = 0;
    return parseJournal(buf.ptr, size, out) ? eJournalReadWhole : eJournalDamaged;
}

int saveJournal(const char* path, const sJournal& j, bool committed, cInstallFS* fs) {
    if (!fs) fs = cInstallFS::plain();
    _guardchar<char> tmp, folder;
    if (!path || !concatText(path, kJournalSaving, tmp) || !parentFolder(path, folder)) return 0;
    if (!makeFolderChain(folder.ptr, fs)) return 0;
    // Written as it is made (and hashed as it goes out): the text of a large package is
    // never held whole. The saving name lies in the program's own folder: a leftover is
    // ours.
    auto fill = [&](int fd) {
        sJournalText body;
        sha256_context sha;
        sha256_starts(&sha);
        body.t.fs = fs;
        body.t.sha = &sha;
        body.t.fd = fd;
        body.t.add(kJournalMagic);
        body.t.add(committed ? "\nstate committed\n" : "\nstate pending\n");
        char kind[3] = {0, ' ', 0};
        for (long long i = 0; i < j.count(); i++) {
            kind[0] = j.kind(i);
            body.t.add(kind);
            body.line(j.path(i));
        }
        if (j.registration) {
            body.line("code", j.code.ptr);
            body.line(j.registration == 'r' ? "register" : "unregister");
            if (j.registration == 'r' && !j.manager.empty()) body.line("manager", j.manager.ptr);
            recordLines(body, j.record);
        }
        char tail[40];
        _sprintf_s(tail, sizeof tail, "end %lld\n", body.lines);
        body.t.add(tail);
        if (!body.t.flush()) return false;
        unsigned char digest[32];
        char line[kDigestLine + 1];
        sha256_finish(&sha, digest);
        memcpy(line, kDigestWord, sizeof(kDigestWord) - 1);
        hexDigest(digest, line + sizeof(kDigestWord) - 1);
        line[kDigestLine - 1] = '\n';
        return fs->write(fd, line, kDigestLine);
    };
    // In place: what it says holds from here, durable once its folder is flushed.
    int r = replaceFile(path, tmp, 0600, fill, fs);
    return r == eReplaceDone ? 1 : r == eReplaceNotFlushed ? 2 : 0;
}

namespace {

// The manager's menu-entry name in the applied language, as the application gives it.
const char* managerEntryName() {
    cInstallLangs* langs = installLangs();
    const char* s = langs ? langs->managerEntryName() : nullptr;
    return s && *s ? s : "Software Packages management";
}

// A sink that writes to a descriptor through the file operations.
class cFdSink : public cFileIOTarget {
public:
    cFdSink(cInstallFS* fs, int fd) : myFs(fs), myFd(fd) {}
    unsigned long long size() override { return myPos; }
    long long read(void*, long long) override { return -1; }
    long long write(const void* b, long long n) override {
        if (n < 0 || !myFs->write(myFd, b, n)) {
            failed = true;
            return -1;
        }
        myPos += (unsigned long long)n;
        return n;
    }
    bool set_fp(unsigned long long p) override { return p == myPos; }
    void close() override {}
    bool valid() override { return myFd >= 0; }
    unsigned long long get_fp() override { return myPos; }
    bool failed = false;

private:
    cInstallFS* myFs;
    int myFd;
    unsigned long long myPos = 0;
};

// Removes `folder` and then each parent while they are empty folders strictly below
// `stopAbove` (the folder itself only when it lies below it too), never the home folder
// or one above it. False when one could not be removed for another reason than what it
// still holds.
bool rmEmptyFolders(const char* folder, const char* stopAbove, const cPackageFolders& rule, cInstallFS* fs) {
    _guardchar<char> p;
    if (!stopAbove || !p.set(folder)) return true;
    while (isBelow(p.ptr, stopAbove) && !rule.homeOrAbove(p.ptr) && objKind(p.ptr) == 2) {
        errno = 0;
        if (!fs->rmdir(p.ptr)) return errno == ENOTEMPTY || errno == EEXIST || objKind(p.ptr) != 2;
        char* cut = strrchr(p.ptr, '/');
        if (!cut || cut == p.ptr) return true;
        *cut = 0;
    }
    return true;
}

unsigned int failAt(sJournalOutcome& out, unsigned int result, const char* path) {
    if (out.result == eIJOk) {
        out.result = result;
        out.path.set(path ? path : "");
    }
    return out.result;
}

// Names an interrupted refresh of the manager copy leaves beside its files.
void removeManagerLeftovers(const char* manager, cInstallFS* fs) {
    _guardchar<char> root, p;
    if (!bundleRootOf(manager, root)) return;
    for (eBundlePart part : {eBundleIcon, eBundlePkgInfo, eBundleInfoPlist})
        if (bundlePath(root.ptr, part, p) && concatText(p.ptr, ".tmp", p) && objKind(p.ptr) == 1) fs->unlink(p.ptr);
    if (concatText(manager, ".tmp", p) && objKind(p.ptr) == 1) fs->unlink(p.ptr);
}

// The Software Manager copy, refreshed from `source` when it is missing or older, and
// its menu entry; the manager and the entry go to `out` when there is a manager.
unsigned int managerCopy(const char* source, cApplicationConfig* store, cInstallFS* fs, sJournalOutcome& out) {
    _guardchar<char> manager;
    // Without a program to copy (a run inside another program, or one whose installer is
    // gone) and no copy in place there is no manager to register.
    if (!getAppManagerPath(manager)) return eIJOk;
    bool haveSource = source && *source && objKind(source) == 1;
    removeManagerLeftovers(manager.ptr, fs);
    if (!haveSource && objKind(manager.ptr) == 0) return eIJOk;
    unsigned long long v = objKind(manager.ptr) == 1 ? getVerID(manager.ptr) : kUnknownVerID;
    _guardchar<char> tmp, folder;
    if (haveSource && (v == kUnknownVerID || v < getCurrVerID())) {
        if (!concatText(manager.ptr, ".tmp", tmp) || !parentFolder(manager.ptr, folder))
            return failAt(out, eIJCannotCreate, manager.ptr);
        if (!makeFolderChain(folder.ptr, fs)) return failAt(out, eIJCannotMakeFolder, folder.ptr);
        // Moved over the earlier copy in one step: there is always a manager at its place.
        int r = replaceFile(manager.ptr, tmp, 0755, [&](int fd) {
            cFdSink sink(fs, fd);
            return saveSoftMgr(source, &sink, folder.ptr) && !sink.failed;
        }, fs);
        if (r == eReplaceCannotCreate) return failAt(out, eIJCannotCreate, tmp.ptr);
        if (r != eReplaceDone) return failAt(out, eIJCannotWrite, manager.ptr);
    }
    if (objKind(manager.ptr) != 1) return failAt(out, eIJCannotWrite, manager.ptr);
    // The entry shows the icon of the manager's own bundle.
    _guardchar<char> icon, root, entry;
    if (!bundleRootOf(manager.ptr, root) || !bundlePath(root.ptr, eBundleIcon, icon) || objKind(icon.ptr) != 1)
        icon.clear();
    const char* name = managerEntryName();
    if (!createSysShortcut(entry, name, "PackageManager;System;Settings;", manager.ptr, icon.ptr, nullptr, true,
                           nullptr, "qmx-softmgr"))
        return failAt(out, eIJCannotCreate, name);
    // An entry of an earlier copy under another name goes.
    _guardchar<char> old;
    if (store && store->getParamStr(kRegInstallerShortcut, old) && !old.empty() && strcmp(old.ptr, entry.ptr) != 0 &&
        !rmFileClean(old.ptr, nullptr, fs))
        return failAt(out, eIJCannotWrite, old.ptr);
    out.manager.attach(manager.dettach());
    out.managerEntry.attach(entry.dettach());
    return eIJOk;
}

unsigned int registerRecord(sJournal& j, cApplicationConfig* store, sJournalOutcome& out) {
    _guardchar<char> section;
    if (!store || !regSectionName(j.code.ptr, section)) return failAt(out, eIJNotSaved, "");
    // The manager and the language first, the package's record last (alone in its hive):
    // a record never names a manager that is not registered.
    bool ok = store->setParamInt16(kRegLangCurrent, j.record.lang);
    if (ok && !out.managerEntry.empty()) ok = store->setParamStr(kRegInstallerShortcut, out.managerEntry.ptr);
    if (ok && !out.manager.empty()) ok = store->setParamStr(kRegInstallerApp, out.manager.ptr);
    if (!ok || !store->saveConfig()) {
        store->discardChanges();
        return failAt(out, eIJNotSaved, "");
    }
    // The folders made that still stand (obsolete files may have emptied some).
    _List<_guardchar<char> > standing;
    cFasterTreeList<cStringKey, int> seen;
    for (auto* it = j.record.dirs.head; ok && it; it = it->next)
        if (objKind(it->value.ptr) == 2) ok = addUnique(standing, seen, it->value.ptr);
    j.record.dirs.destroy();
    for (auto* it = standing.head; ok && it; it = it->next) {
        _guardchar<char>* d = j.record.dirs.add();
        ok = d && d->set(it->value.ptr);
    }
    store->removeSection(section.ptr);
    if (!ok || !ctxToConfig(j.record, store, section.ptr) || !store->saveConfig()) {
        store->discardChanges();
        return failAt(out, eIJNotSaved, "");
    }
    return eIJOk;
}

// Removes `folder` and each parent while they are empty folders that the package may
// remove: below its installation folder, or made by the installation. False when one of
// them could not be removed for another reason than what it still holds.
bool rmPackageFolders(const char* folder, const cRecordScope& scope, cInstallFS* fs) {
    _guardchar<char> p;
    if (!p.set(folder)) return false;
    for (;;) {
        if (!scope.mayRemoveFolder(p.ptr) || objKind(p.ptr) != 2) return true;
        errno = 0;
        if (!fs->rmdir(p.ptr)) return errno == ENOTEMPTY || errno == EEXIST || objKind(p.ptr) != 2;
        char* cut = strrchr(p.ptr, '/');
        if (!cut || cut == p.ptr) return true;
        *cut = 0;
    }
}

// The package's folders, menu entries and record go (its files are gone already).
unsigned int unregisterRecord(const sJournal& j, cApplicationConfig* store, cInstallFS* fs, sJournalOutcome& out) {
    _guardchar<char> section, folder;
    if (!store || !regSectionName(j.code.ptr, section)) return failAt(out, eIJNotSaved, "");
    // Folders the package leaves empty: up to its installation folder, and those it made.
    cRecordScope scope(j.record, store);
    for (const char* f : j.record.files)
        if (isPlainAbsPath(f) && parentFolder(f, folder) && !rmPackageFolders(folder.ptr, scope, fs))
            failAt(out, eIJCannotWrite, folder.ptr);
    for (auto* it = j.record.dirs.head; it; it = it->next)
        if (isPlainAbsPath(it->value.ptr) && !rmPackageFolders(it->value.ptr, scope, fs))
            failAt(out, eIJCannotWrite, it->value.ptr);
    for (long long i = 0; i < j.count(); i++)
        if (j.kind(i) == 'Q' && !rmFileClean(j.path(i), nullptr, fs)) failAt(out, eIJCannotWrite, j.path(i));
    if (out.result != eIJOk) return out.result;
    if (!OSDeregisterPackage(j.code.ptr, false)) OSDeregisterPackage(j.code.ptr, true);
    store->removeSection(section.ptr);
    if (!store->saveConfig()) {
        store->discardChanges();
        return failAt(out, eIJNotSaved, "");
    }
    return eIJOk;
}

// Undoes a pending journal; true when everything is as before the run.
bool undoJournal(const sJournal& j, cInstallFS* fs) {
    bool ok = true;
    _List<_guardchar<char> > folders;
    for (long long i = 0; i < j.count(); i++) {
        const char* target = j.path(i);
        char kind = j.kind(i);
        _guardchar<char> tmp, bkp;
        if (!concatText(target, ".tmp", tmp) || !concatText(target, ".bkp", bkp)) return false;
        if (kind == 'M' || kind == 'S') {
            // Made by the run: removed when empty.
            if (objKind(target) == 2) ok = addUnique(folders, target) && ok;
            continue;
        }
        if (kind == 'E' && objKind(tmp.ptr) == 1 && !fs->unlink(tmp.ptr)) ok = false;
        if (kind != 'R' && kind != 'N') continue;
        // An uninstallation makes no temporary files: one there is the user's.
        if (j.registration != 'u' && objKind(tmp.ptr) == 1 && !fs->unlink(tmp.ptr)) ok = false;
        int t = objKind(target);
        if (objKind(bkp.ptr) == 1) {
            // The target is the new file (or gone): the backup is the earlier one.
            if (t == 1 && !fs->unlink(target))
                ok = false;
            else if (t != 0 && t != 1)
                ok = false;
            else if (!fs->rename(bkp.ptr, target))
                ok = false;
        } else if (kind == 'N' && t == 1 && !fs->unlink(target)) {
            ok = false;
        }
    }
    // Folders the undone run made, when they are empty.
    if (ok) rmMadeFolders({&folders}, fs);
    return ok;
}

// Finishes a committed journal in the run's own order: temporary files, menu entries,
// the manager copy, obsolete files, the record, backups; an uninstallation's files, then
// its folders, entries and record. Stops at the first step that fails.
unsigned int finishJournal(sJournal& j, cInstallFS* fs, _List<_guardchar<char> >* made,
                           cApplicationConfig* store, sJournalOutcome& out) {
    _List<_guardchar<char> > roots;
    for (long long i = 0; i < j.count(); i++) {
        const char* target = j.path(i);
        char kind = j.kind(i);
        _guardchar<char> tmp;
        if (kind == 'D' && !addUnique(roots, target)) failAt(out, eIJCannotRecover, target);
        // Kept (and reported) once committed.
        if (kind == 'M' && made && objKind(target) == 2 && !addUnique(*made, target))
            failAt(out, eIJCannotRecover, target);
        if ((kind == 'R' || kind == 'N') && j.registration != 'u' && concatText(target, ".tmp", tmp) &&
            objKind(tmp.ptr) == 1 && !fs->unlink(tmp.ptr))
            failAt(out, eIJCannotWrite, tmp.ptr);
    }
    if (j.registration == 'r') {
        // Written whole before the commit: moved in unless that happened already (an
        // entry the user removed since stays removed).
        for (long long i = 0; out.result == eIJOk && i < j.count(); i++) {
            _guardchar<char> tmp;
            if (j.kind(i) == 'E' && concatText(j.path(i), ".tmp", tmp) && objKind(tmp.ptr) == 1 &&
                !fs->rename(tmp.ptr, j.path(i)))
                failAt(out, eIJCannotCreate, j.path(i));
        }
        for (long long i = 0; out.result == eIJOk && i < j.count(); i++)
            if (j.kind(i) == 'Q' && !rmFileClean(j.path(i), nullptr, fs)) failAt(out, eIJCannotWrite, j.path(i));
        if (out.result == eIJOk) managerCopy(j.manager.ptr, store, fs, out);
    }
    // Files of the earlier version that this one no longer has (an uninstallation's files
    // that stayed in place), with the folders below a "D" folder they leave empty; before
    // the registration, so that the record lists only the folders that stay.
    cPackageFolders rule(store);
    for (long long i = 0; out.result == eIJOk && i < j.count(); i++) {
        const char* target = j.path(i);
        if (j.kind(i) != 'O') continue;
        _guardchar<char> folder;
        if ((objKind(target) == 1 && !fs->unlink(target)) ||
            (parentFolder(target, folder) && !rmEmptyFolders(folder.ptr, rootOf(roots, target), rule, fs)))
            failAt(out, eIJCannotWrite, target);
    }
    if (out.result == eIJOk && j.registration == 'r') registerRecord(j, store, out);
    // The backups go once the package is registered (an uninstallation's files).
    for (long long i = 0; out.result == eIJOk && i < j.count(); i++) {
        _guardchar<char> bkp;
        if ((j.kind(i) == 'R' || j.kind(i) == 'N') && concatText(j.path(i), ".bkp", bkp) &&
            objKind(bkp.ptr) == 1 && !fs->unlink(bkp.ptr))
            failAt(out, eIJCannotWrite, bkp.ptr);
    }
    if (out.result == eIJOk && j.registration == 'u') unregisterRecord(j, store, fs, out);
    return out.result;
}

}  // namespace

// Resolves a journal read from `path` or made by the run itself; the journal goes when
// everything was resolved.
bool resolveJournal(const char* path, sJournal& j, cInstallFS* fs, _List<_guardchar<char> >* made,
                    cApplicationConfig* store, sJournalOutcome& out) {
    if (j.committed) {
        // The files are in place; the record cannot be written without a store.
        if (j.registration && !store) return failAt(out, eIJNotSaved, ""), false;
        if (finishJournal(j, fs, made, store, out) != eIJOk) return false;
    } else if (!undoJournal(j, fs)) {
        return failAt(out, eIJCannotRecover, path), false;
    }
    // Flushed before the journal goes: what it undid must not come back after a power cut
    // (a backup removed, say, with no journal left to name it). A folder that cannot be
    // flushed keeps the journal: the next run resolves it again.
    cFasterTreeList<cStringKey, int> flushed;
    for (long long i = 0; i < j.count(); i++) {
        _guardchar<char> folder;
        if (j.kind(i) == 'D' || !parentFolder(j.path(i), folder) || flushed.find(pathKey(folder.ptr)))
            continue;
        flushed.insert_new(pathKey(folder.ptr));
        if (objKind(folder.ptr) == 2 && !fs->syncFolder(folder.ptr))
            return failAt(out, eIJCannotWrite, folder.ptr), false;
    }
    if (!fs->unlink(path)) return failAt(out, eIJCannotWrite, path), false;
    // A registration resolved is the package's run completed: what a journal set aside
    // before it left is settled.
    if (j.committed && j.registration) settleSetAside(path);
    return true;
}

bool parseJournalText(const char* data, long long size, bool& committed, long long& entries) {
    entries = 0;
    if (!data || size <= 0 || size > kMaxJournalBytes) return false;
    _typebuf<char> buf;
    if (!buf.set(size + 1)) return false;
    memcpy(buf.ptr, data, (size_t)size);
    buf.ptr[size] = 0;
    sJournal j;
    if (!parseJournal(buf.ptr, size, j)) return false;
    committed = j.committed;
    entries = j.count();
    return true;
}

cJournalFolderLock::cJournalFolderLock(const char* journalPath) {
    if (!journalPath || !parentFolder(journalPath, myPath)) return;
    int fd = -1;
    for (int tries = 0; fd < 0 && tries < 2; tries++) {
        do fd = open(myPath.ptr, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        while (fd < 0 && errno == EINTR);
        // A store folder not made yet: made private, as the store makes it.
        if (fd < 0 && (errno != ENOENT || (mkdir(myPath.ptr, 0700) != 0 && errno != EEXIST))) return;
    }
    if (fd < 0) return;
    int r;
    do r = flock(fd, LOCK_SH);
    while (r != 0 && errno == EINTR);
    if (r != 0) {
        close(fd);
        return;
    }
    myFd = fd;
}

cJournalFolderLock::~cJournalFolderLock() {
    if (myFd >= 0) close(myFd);
}

namespace {

// A set-aside journal's name: "<journal>.refused", or beside an earlier one
// "<journal>.refused~<n>" (no code name holds a "~").
const char kSetAsideSuffix[] = ".refused";

// The code names of the packages with a journal in `folder` (open as `fd`), in the
// order they are listed; set-aside journals are none. False when it could not be listed
// whole.
bool listJournals(int fd, _List<_guardchar<char> >& codes) {
    int listing = dup(fd);
    DIR* d = listing >= 0 ? fdopendir(listing) : nullptr;
    if (!d && listing >= 0) close(listing);
    if (!d) return false;
    size_t n = strlen(kJournalPrefix), aside = strlen(kSetAsideSuffix);
    for (;;) {
        errno = 0;
        dirent* e = readdir(d);
        if (!e) {
            int err = errno;
            closedir(d);
            return err == 0;
        }
        if (strncmp(e->d_name, kJournalPrefix, n) != 0) continue;
        // A save that never got in place goes with its package's recovery.
        _guardchar<char> code;
        size_t len = strlen(e->d_name), saving = strlen(kJournalSaving);
        bool unsaved = len > n + saving && strcmp(e->d_name + len - saving, kJournalSaving) == 0;
        if (len > n + aside && strcmp(e->d_name + len - aside, kSetAsideSuffix) == 0) continue;
        if (!code.set(e->d_name + n, (long long)(len - n - (unsaved ? saving : 0)))) {
            closedir(d);
            return false;
        }
        if (cSoftPkgScenario::isSafeCodeName(code.ptr) && !addUnique(codes, code.ptr)) {
            closedir(d);
            return false;
        }
    }
}

// Moves a refused journal aside under a free name (the earlier ones set aside stay):
// there is always one.
bool setAsideJournal(const char* journalPath, cInstallFS* fs, _guardchar<char>& out) {
    for (unsigned long long n = 1;; n++) {
        char tail[40];
        if (n == 1)
            _sprintf_s(tail, sizeof tail, "%s", kSetAsideSuffix);
        else
            _sprintf_s(tail, sizeof tail, "%s~%llu", kSetAsideSuffix, n);
        struct stat st;
        if (!concatText(journalPath, tail, out)) return false;
        if (lstat(out.ptr, &st) == 0) continue;
        // A name that cannot be looked at is never taken for a free one.
        if (errno != ENOENT) return false;
        return fs->rename(journalPath, out.ptr);
    }
}

// Whether a journal names one of `targets` (any, without them).
bool namesTarget(const sJournal& j, const cFasterTreeList<cStringKey, int>* targets) {
    if (!targets) return true;
    for (long long i = 0; i < j.count(); i++) {
        char k = j.kind(i);
        if ((k == 'R' || k == 'N' || k == 'O') && targets->findEntry(pathKey(j.path(i)))) return true;
    }
    for (const char* f : j.record.files)
        if (targets->findEntry(pathKey(f))) return true;
    return false;
}

// What resolving the journals of several packages gathers, each list when given.
struct sGathered {
    _List<_guardchar<char> >* unfinished = nullptr;  // given: go on past one that stays
    _List<sSetAsideJournal>* setAside = nullptr;
    _List<sUnreadJournal>* unreadable = nullptr;
};

// Resolves the journals of the packages `codes` (all, or those naming one of `targets`;
// only the pending ones when `pendingOnly`): the pending ones first, then the committed
// ones. With `lockEach` each is resolved under its package's run lock, and one whose run
// is going on blocks when it names a target. One that cannot be read blocks whatever it
// may name. False with the first package whose journal stays (`blocking`); with
// `gathered->unfinished` it goes on and gathers instead.
bool resolveJournals(const char* journalPath, const _List<_guardchar<char> >& codes,
                     const cFasterTreeList<cStringKey, int>* targets, bool pendingOnly, bool lockEach,
                     cApplicationConfig* store, cInstallFS* fs, _guardchar<char>* blocking,
                     const sGathered& gathered) {
    _guardchar<char> folder;
    if (!parentFolder(journalPath, folder)) return false;
    bool ok = true;
    _List<_guardchar<char> > unread;  // stays for the whole run, even if a later read would pass
    for (int pass = 0; pass < 2; pass++) {
        for (auto* it = codes.head; it; it = it->next) {
            const char* code = it->value.ptr;
            _guardchar<char> name, path, fresh;
            bool skip = false;
            for (auto* u = unread.head; u && !skip; u = u->next) skip = strcmp(u->value.ptr, code) == 0;
            if (skip || !concatText(kJournalPrefix, code, name) || !joinPath(folder.ptr, name.ptr, path) ||
                !concatText(path.ptr, kJournalSaving, fresh))
                continue;
            cPackageRunLock lock;
            bool live = lockEach && !lock.take(journalPath, code);
            int kind = objKind(path.ptr);
            if (kind == 0 && objKind(fresh.ptr) == 0) continue;  // resolved since
            sJournal j;
            int error = 0;
            eJournalRead read = kind == 1 ? readJournal(path.ptr, j, &error) : eJournalDamaged;
            sRecoveryReport rep;
            if (read == eJournalUnreadable) {
                rep.outcome = sRecoveryReport::eUnreadable;
                rep.error = error;
            } else if (read == eJournalReadWhole
                           ? !namesTarget(j, targets) || j.committed != (pass == 1) || (j.committed && pendingOnly)
                           : pass == 1 || live) {  // a damaged one goes first; a live run's own save
                continue;
            } else if (!live && recoverInterrupted(path.ptr, fs, nullptr, store, &rep)) {
                sSetAsideJournal* a =
                    rep.outcome == sRecoveryReport::eRefused && gathered.setAside ? gathered.setAside->add() : nullptr;
                if (a) a->code.set(code), a->path.set(rep.setAside.ptr);
                continue;
            }
            if (rep.outcome == sRecoveryReport::eUnreadable) {
                addUnique(unread, code);
                sUnreadJournal* u = gathered.unreadable ? gathered.unreadable->add() : nullptr;
                if (u) u->code.set(code), u->path.set(path.ptr), u->error = rep.error;
            }
            ok = false;
            if (blocking && blocking->empty()) blocking->set(code);
            if (!gathered.unfinished) return false;
            addUnique(*gathered.unfinished, code);
        }
    }
    return ok;
}

}  // namespace

bool recoverAllInterrupted(cApplicationConfig* store, cInstallFS* fs, _List<_guardchar<char> >* unfinished,
                           _List<sSetAsideJournal>* setAside, _List<sUnreadJournal>* unreadable) {
    if (!fs) fs = cInstallFS::plain();
    _guardchar<char> any, folder;
    // The folder every package's journal lies in.
    if (!defaultJournalPath(store, "any", any) || !parentFolder(any.ptr, folder)) return false;
    int fd = open(folder.ptr, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return objKind(folder.ptr) == 0;
    // A run holds the folder shared for its whole length: its journal is its own.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return false;
    }
    _List<_guardchar<char> > codes, scratch;
    if (!listJournals(fd, codes)) {
        close(fd);
        return false;
    }
    sGathered gathered;
    gathered.unfinished = unfinished ? unfinished : &scratch;
    gathered.setAside = setAside;
    gathered.unreadable = unreadable;
    bool ok = resolveJournals(any.ptr, codes, nullptr, false, false, store, fs, nullptr, gathered);
    close(fd);
    return ok;
}

bool recoverOthersNaming(const char* journalPath, const _List<_guardchar<char> >& codes,
                         const cFasterTreeList<cStringKey, int>& targets, cApplicationConfig* store, cInstallFS* fs,
                         _guardchar<char>* blocking) {
    if (!fs) fs = cInstallFS::plain();
    return resolveJournals(journalPath, codes, &targets, false, true, store, fs, blocking, sGathered());
}

namespace {

// Calls `each` with the path and state of every journal of the package set aside beside
// `journalPath`; false when the folder could not be listed (none is known then).
template <class F>
bool eachSetAside(const char* journalPath, F each) {
    _guardchar<char> folder;
    const char* name = journalPath ? strrchr(journalPath, '/') : nullptr;
    if (!name || !parentFolder(journalPath, folder)) return false;
    DIR* d = opendir(folder.ptr);
    if (!d) return objKind(folder.ptr) == 0;
    size_t n = strlen(name + 1), aside = strlen(kSetAsideSuffix);
    for (;;) {
        errno = 0;
        dirent* e = readdir(d);
        if (!e) break;
        const char* tail = e->d_name + n;
        struct stat st;
        _guardchar<char> path;
        if (strncmp(e->d_name, name + 1, n) != 0 || strncmp(tail, kSetAsideSuffix, aside) != 0 ||
            (tail[aside] && tail[aside] != '~') || !joinPath(folder.ptr, e->d_name, path) ||
            lstat(path.ptr, &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        each(path.ptr, st);
    }
    bool listed = errno == 0;
    closedir(d);
    return listed;
}

}  // namespace

bool setAsideInForce(const char* journalPath, cApplicationConfig* store, const char* code) {
    // Set aside (the rename stamps its change time) no earlier than the registration: a
    // run completed since then. A registration time that cannot be read is none.
    _guardchar<char> section, key;
    unsigned long long registered = 0;
    bool haveRecord = store && regSectionName(code, section) && regKey(section.ptr, kRegUTime, key) &&
                      store->getParamInt(key.ptr, registered);
    bool inForce = false;
    // A folder that cannot be listed may hold one.
    bool listed = eachSetAside(journalPath, [&](const char*, const struct stat& st) {
        // Settled ones are made read-only.
        if ((st.st_mode & S_IWUSR) && (!haveRecord || (unsigned long long)st.st_ctime >= registered)) inForce = true;
    });
    return inForce || !listed;
}

void settleSetAside(const char* journalPath) {
    eachSetAside(journalPath, [](const char* path, const struct stat& st) {
        if (st.st_mode & S_IWUSR) chmod(path, S_IRUSR);
    });
}

bool otherJournals(const char* journalPath, const char* code, _List<_guardchar<char> >& codes) {
    _guardchar<char> folder;
    if (!parentFolder(journalPath, folder)) return false;
    int fd = open(folder.ptr, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return objKind(folder.ptr) == 0;
    _List<_guardchar<char> > all;
    bool listed = listJournals(fd, all);
    close(fd);
    if (!listed) return false;
    for (auto* it = all.head; it; it = it->next)
        if (!code || strcmp(it->value.ptr, code) != 0) addUnique(codes, it->value.ptr);
    return true;
}

bool recoverInterrupted(const char* journalPath, cInstallFS* fs, _List<_guardchar<char> >* made,
                        cApplicationConfig* store, sRecoveryReport* report) {
    if (!fs) fs = cInstallFS::plain();
    sRecoveryReport scratch;
    sRecoveryReport& rep = report ? *report : scratch;
    rep.outcome = sRecoveryReport::eNoJournal;
    // Refused: set aside, and the run goes on as after a crash without a journal (nothing
    // it names is taken, nothing is made for it).
    auto refuse = [&](const char* path) {
        rep.outcome = sRecoveryReport::eRefused;
        rep.path.set(path ? path : "");
        // Without the store no record vouches for anything: left for a run with it.
        if (!store) return false;
        if (setAsideJournal(journalPath, fs, rep.setAside)) return true;
        rep.outcome = sRecoveryReport::eFailed;
        return false;
    };
    // Read before anything is done: one that cannot be read stays, and so does the rest.
    int kind = objKind(journalPath);
    sJournal j;
    eJournalRead read = kind == 1 ? readJournal(journalPath, j, &rep.error) : eJournalDamaged;
    if (kind != 0 && read == eJournalUnreadable) {
        rep.outcome = sRecoveryReport::eUnreadable;
        rep.path.set(journalPath);
        return false;
    }
    // A journal that never got in place (the run ended while saving it) says nothing.
    _guardchar<char> fresh;
    if (!concatText(journalPath, kJournalSaving, fresh)) return refuse(journalPath);
    if (objKind(fresh.ptr) == 1 && !fs->unlink(fresh.ptr)) {
        rep.outcome = sRecoveryReport::eFailed;
        return false;
    }
    if (kind == 0) return true;
    if (read != eJournalReadWhole) return refuse(journalPath);
    // A journal is its package's: named after it, and a registration is for it.
    const char* name = strrchr(journalPath, '/');
    size_t prefix = strlen(kJournalPrefix);
    const char* code = name && strncmp(name + 1, kJournalPrefix, prefix) == 0 ? name + 1 + prefix : nullptr;
    if (j.registration && !(code && strcmp(code, j.code.ptr) == 0)) return refuse(journalPath);
    _guardchar<char> outside;
    if (!journalConfined(j, code ? code : j.code.ptr ? j.code.ptr : "", store, outside)) return refuse(outside.ptr);
    // A committed run removes its backups: another package's pending run that named the
    // same files (and may have moved one aside under that name) is undone first.
    _List<_guardchar<char> > others;
    if (j.committed && !otherJournals(journalPath, code, others)) {
        rep.outcome = sRecoveryReport::eFailed;
        return false;
    }
    if (!others.empty()) {
        cFasterTreeList<cStringKey, int> targets;
        for (long long i = 0; i < j.count(); i++)
            if (strchr("RNO", j.kind(i)) && !targets.find(pathKey(j.path(i)))) targets.insert_new(pathKey(j.path(i)));
        if (!resolveJournals(journalPath, others, &targets, true, true, store, fs, nullptr, sGathered())) {
            rep.outcome = sRecoveryReport::eFailed;
            return false;
        }
    }
    sJournalOutcome out;
    if (!resolveJournal(journalPath, j, fs, made, store, out)) {
        rep.outcome = sRecoveryReport::eFailed;
        rep.path.set(out.path.ptr ? out.path.ptr : "");
        return false;
    }
    rep.outcome = j.committed ? sRecoveryReport::eFinished : sRecoveryReport::eUndone;
    rep.registration = j.committed ? j.registration : 0;
    rep.version = j.record.ver;
    return true;
}

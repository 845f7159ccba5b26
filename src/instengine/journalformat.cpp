// The journal's text written and read back: its lines, the record's escaped fields and
// the digest that ends it.
#include "instengine/journalformat.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "base/folders.h"
#include "base/strings.h"
#include "hash/sha256.h"
#include "softmgr/softpkgscenario.h"

namespace {

const char kJournalMagic[] = "QMXINFLIGHT 4";
// Version 1 had no folder lines ("M", "D"), version 2 no menu entry and registration
// lines, version 3 no digest; all are still read.
const char kJournalMagicV3[] = "QMXINFLIGHT 3";
const char kJournalMagicV2[] = "QMXINFLIGHT 2";
const char kJournalMagicV1[] = "QMXINFLIGHT 1";
const long long kMaxJournalBytes = 1LL << 30;
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

bool sJournal::add(eJournalLine kind, const char* path, bool shared) {
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

// An allocation's result: one that failed says nothing of the text (`noMemory`): the
// journal was then not read, and is not damaged.
bool allocated(bool ok, bool& noMemory) {
    if (!ok) noMemory = true;
    return ok;
}

int hexDigit(char c) {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

bool unescape(const char* s, _guardchar<char>& out, bool& noMemory) {
    if (!allocated(out.set((long long)strlen(s)), noMemory)) return false;
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

// One "rec <field> <value>" line into the record; false for an unknown field or value,
// or without memory.
bool recordField(const char* line, sPkgRegistryRecord& r, bool& noMemory) {
    const char* blank = strchr(line, ' ');
    _guardchar<char> name, value;
    if (!blank || !allocated(name.set(line, blank - line), noMemory) || !unescape(blank + 1, value, noMemory))
        return false;
    const char* n = name.ptr;
    struct {
        const char* name;
        _guardchar<char>* text;
    } texts[] = {{kRegPath, &r.path}, {kRegName, &r.name}, {kRegUpdates, &r.updates},
                 {kRegSupport, &r.support}, {kRegPublisher, &r.publisher}, {kRegIcon, &r.icon}};
    for (auto& t : texts)
        if (strcmp(n, t.name) == 0) return allocated(t.text->set(value.ptr), noMemory);
    struct {
        const char* name;
        _List<_guardchar<char> >* list;
    } lists[] = {{kRegShortcut, &r.shortcuts}, {kRegBase, &r.bases}, {kRegDir, &r.dirs}};
    if (strcmp(n, kRegFile) == 0) return allocated(r.files.add(value.ptr), noMemory);
    for (auto& l : lists) {
        if (strcmp(n, l.name) != 0) continue;
        _guardchar<char>* e = l.list->add();
        return allocated(e && e->set(value.ptr), noMemory);
    }
    if (strcmp(n, kRegRunLabel) == 0) {
        sPkgRunCommand* c = r.commands.add();
        return allocated(c && c->label.set(value.ptr), noMemory);
    }
    if (strcmp(n, kRegRunCommand) == 0) {
        // Follows its label.
        sPkgRunCommand* c = r.commands.tail ? &r.commands.tail->value : nullptr;
        return c && !c->command.ptr && allocated(c->command.set(value.ptr), noMemory);
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

// The kind of line a letter stands for in a journal of `version`: version 1 knew the
// files' lines, version 2 added the folders', version 3 the menu entries'.
bool lineKind(char letter, int version, eJournalLine& kind) {
    switch (letter) {
        case eLineReplaced:
        case eLineNew:
        case eLineObsolete: break;
        case eLineMadeFolder:
        case eLineRoot:
            if (version < 2) return false;
            break;
        case eLineEntry:
        case eLineGoneEntry:
        case eLineEntryFolder:
            if (version < 3) return false;
            break;
        default: return false;
    }
    kind = (eJournalLine)letter;
    return true;
}

// Parses a journal's text (size bytes, a 0 after them). False for anything but the
// exact form, or without memory (`noMemory` then set). The lines' paths point into the
// text, which has to outlive `out`.
bool parseJournal(char* text, long long size, sJournal& out, bool& noMemory) {
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
            eJournalLine kind;
            if (p[0] && p[1] == ' ' && lineKind(p[0], version, kind)) {
                if (!isPlainAbsPath(p + 2) || !allocated(out.add(kind, p + 2, true), noMemory)) return false;
            } else if (version < 3) {
                return false;
            } else if (strncmp(p, "rec ", 4) == 0) {
                if (!out.registration || !recordField(p + 4, out.record, noMemory)) return false;
                haveVersion = haveVersion || strncmp(p + 4, "ver ", 4) == 0;
            } else if (strncmp(p, "code ", 5) == 0) {
                if (!out.code.empty() || !cSoftPkgScenario::isSafeCodeName(p + 5) ||
                    !allocated(out.code.set(p + 5), noMemory))
                    return false;
            } else if (strcmp(p, "register") == 0 || strcmp(p, "unregister") == 0) {
                if (out.registration || out.code.empty()) return false;
                out.registration = strcmp(p, "register") == 0 ? eRegister : eUnregister;
            } else if (strncmp(p, "manager ", 8) == 0) {
                if (out.registration != eRegister || !out.manager.empty() || !isPlainAbsPath(p + 8) ||
                    !allocated(out.manager.set(p + 8), noMemory))
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
    // Memory that ran out is the reader's failure, not the text's: the journal stays.
    bool noMemory = false;
    bool parsed = parseJournal(buf.ptr, size, out, noMemory);
    out.holdText(buf);
    if (parsed) return eJournalReadWhole;
    return noMemory ? unreadable(ENOMEM) : eJournalDamaged;
}

eJournalSave saveJournal(const char* path, const sJournal& j, bool committed, cInstallFS* fs) {
    if (!fs) fs = cInstallFS::plain();
    _guardchar<char> tmp, folder;
    if (!path || !concatText(path, kJournalSaving, tmp) || !parentFolder(path, folder)) return eJournalNotSaved;
    if (!makeFolderChain(folder.ptr, fs)) return eJournalNotSaved;
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
            kind[0] = (char)j.kind(i);
            body.t.add(kind);
            body.line(j.path(i));
        }
        if (j.registration) {
            body.line("code", j.code.ptr);
            body.line(j.registration == eRegister ? "register" : "unregister");
            if (j.registration == eRegister && !j.manager.empty()) body.line("manager", j.manager.ptr);
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
    return r == eReplaceDone ? eJournalSaved : r == eReplaceNotFlushed ? eJournalSavedNotFlushed : eJournalNotSaved;
}

bool parseJournalText(const char* data, long long size, bool& committed, long long& entries) {
    entries = 0;
    if (!data || size <= 0 || size > kMaxJournalBytes) return false;
    _typebuf<char> buf;
    if (!buf.set(size + 1)) return false;
    memcpy(buf.ptr, data, (size_t)size);
    buf.ptr[size] = 0;
    sJournal j;
    bool noMemory = false;
    if (!parseJournal(buf.ptr, size, j, noMemory)) return false;
    committed = j.committed;
    entries = j.count();
    return true;
}

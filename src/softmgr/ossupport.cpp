// System calls of the package engine: desktop entries, the (empty) system registration,
// the Software Manager's place and the background update check.
#include "softmgr/ossupport.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "base/appconfig.h"
#include "base/fileio.h"
#include "base/fileops.h"
#include "base/folders.h"
#include "base/process.h"
#include "base/strings.h"
#include "softmgr/bundlelayout.h"
#include "softmgr/softpkgscenario.h"

namespace {

// A growing text, appended piece by piece.
struct sText {
    _typebuf<char> buf;
    long long n = 0;
    bool ok = true;
    void add(const char* s, long long len = -1) {
        if (!ok || !s) return;
        if (len < 0) len = (long long)strlen(s);
        if (n + len + 1 > buf.count) {
            long long cap = (n + len + 1) * 2;
            _typebuf<char> b;
            if (!b.set(cap)) {
                ok = false;
                return;
            }
            if (n) memcpy(b.ptr, buf.ptr, (size_t)n);
            buf.attach(b.dettach(), cap);
        }
        memcpy(buf.ptr + n, s, (size_t)len);
        n += len;
        buf.ptr[n] = 0;
    }
    void ch(char c) { add(&c, 1); }
    bool take(_guardchar<char>& out) { return ok && out.set(n ? buf.ptr : "", n); }
};

// A string value of a desktop entry: escapes for backslash and control characters.
void addValue(sText& t, const char* s) {
    for (; s && *s; s++) {
        switch (*s) {
            case '\\': t.add("\\\\"); break;
            case '\n': t.add("\\n"); break;
            case '\r': t.add("\\r"); break;
            case '\t': t.add("\\t"); break;
            default:
                if ((unsigned char)*s >= 0x20) t.ch(*s);
        }
    }
}

// One word of Exec: quoted when it holds a reserved character, with the quote, the
// backquote, the dollar and the backslash escaped inside the quotes, and "%" doubled (field codes).
void addExecWord(sText& t, const char* w) {
    static const char kReserved[] = " \t\n\"'\\><~|&;$*?#()`=";
    bool quote = !*w;
    for (const char* c = w; *c; c++)
        if (strchr(kReserved, *c)) quote = true;
    if (quote) t.ch('"');
    for (const char* c = w; *c; c++) {
        if ((unsigned char)*c < 0x20) continue;
        if (quote && (*c == '"' || *c == '`' || *c == '$' || *c == '\\')) t.ch('\\');
        if (*c == '%') t.ch('%');
        t.ch(*c);
    }
    if (quote) t.ch('"');
}

bool fileWordChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
           c == '-';
}

// Letters, digits, ".", "_" and "-"; anything else becomes "_"; at most 96 bytes.
// True when nothing was replaced or cut.
bool addFileWord(sText& t, const char* s) {
    bool whole = true;
    int n = 0;
    for (; s && *s && n < 96; s++, n++) {
        whole = whole && fileWordChar(*s);
        t.ch(fileWordChar(*s) ? *s : '_');
    }
    return whole && !(s && *s);
}

// The part of an entry's file name that stands for its display name. Desktop file ids
// keep to ASCII letters, digits, "-" and "_" (with "." between elements), so a name with
// anything else is written with "_" and followed by a digest of the whole name: two
// names that differ only where "_" stands keep two files, and the same name gives the
// same file at every installation.
void addEntryName(sText& t, const char* name) {
    if (addFileWord(t, name)) return;
    unsigned int h = 2166136261u;  // FNV-1a, 32 bits
    for (const char* c = name; *c; c++) h = (h ^ (unsigned char)*c) * 16777619u;
    char hex[10];
    snprintf(hex, sizeof hex, "-%08x", h);
    t.add(hex);
}

bool haveProgram(const char* name) {
    const char* path = getenv("PATH");
    if (!path) return false;
    sText t;
    for (const char* p = path;;) {
        const char* e = strchr(p, ':');
        long long len = e ? e - p : (long long)strlen(p);
        t.n = 0;
        t.add(p, len);
        t.ch('/');
        t.add(name);
        if (t.ok && len > 0 && access(t.buf.ptr, X_OK) == 0) return true;
        if (!e) return false;
        p = e + 1;
    }
}

// The elevation launcher, looked up once per process.
const char* elevationLauncher() {
    static const char* launcher = haveProgram("pkexec") ? "pkexec" : nullptr;
    return launcher;
}

}  // namespace

const char* softmgrName(int index) {
    // Each long name is one literal split over lines (in parentheses: one element).
    static const char* const kNames[3] = {"QMX Software Manager",
                                          ("\xE3\x82\xBD\xE3\x83\x95\xE3\x83\x88\xE3\x82\xA6\xE3\x82\xA7\xE3\x82\xA2"
                                           "\xE3\x83\x91\xE3\x83\x83\xE3\x82\xB1\xE3\x83\xBC\xE3\x82\xB8\xE7\xAE\xA1"
                                           "\xE7\x90\x86"),
                                          ("\xEC\x86\x8C\xED\x94\x84\xED\x8A\xB8\xEC\x9B\xA8\xEC\x96\xB4 \xED\x8C\xA8"
                                           "\xED\x82\xA4\xEC\xA7\x80 \xEA\xB4\x80\xEB\xA6\xAC")};
    return index >= 0 && index < 3 ? kNames[index] : nullptr;
}

bool getAppManagerPath(_guardchar<char>& out) {
    _guardchar<char> home;
    if (!cFolderContents::getHome(home) || home.empty() || home.ptr[0] != '/') return false;
    sText t;
    t.add(home.ptr);
    while (t.n > 1 && t.buf.ptr[t.n - 1] == '/') t.buf.ptr[--t.n] = 0;
    t.add("/Applications/");
    t.add(softmgrName(0));
    t.add(kBundleSuffix);
    t.add(bundlePart(eBundleManager));
    return t.take(out);
}

bool desktopEntryFolder(_guardchar<char>& out) {
    const char* xdg = getenv("XDG_DATA_HOME");
    sText t;
    if (xdg && xdg[0] == '/') {
        t.add(xdg);
    } else {
        _guardchar<char> home;
        if (!cFolderContents::getHome(home) || home.empty() || home.ptr[0] != '/') return false;
        t.add(home.ptr);
        t.add("/.local/share");
    }
    t.add("/applications");
    return t.take(out);
}

const char* shortcutExtension() { return "desktop"; }

bool desktopExecValue(const char* launcher, const char* executable, const char* arguments, _guardchar<char>& out) {
    if (!executable || !*executable) return false;
    sText t;
    if (launcher) {
        addExecWord(t, launcher);
        t.ch(' ');
    }
    addExecWord(t, executable);
    if (arguments && *arguments) {
        _typebuf<char> storage;
        _typebuf<char*> argv;
        if (splitCommandLine(arguments, storage, argv)) {
            for (long long i = 0; argv.ptr[i]; i++) {
                t.ch(' ');
                addExecWord(t, argv.ptr[i]);
            }
        }
    }
    // The value itself is a string: its backslashes are escaped once more.
    sText v;
    addValue(v, t.ok ? t.buf.ptr : "");
    return t.ok && v.take(out);
}

bool desktopEntryText(_guardchar<char>& out, const char* executable, const char* categories, const char* name,
                      const char* icon, const char* comment, const char* launcher, const char* arguments) {
    if (!executable || !*executable || !categories || !*categories || !name || !*name) return false;
    _guardchar<char> exec;
    if (!desktopExecValue(launcher, executable, arguments, exec)) return false;
    sText t;
    t.add("[Desktop Entry]\nVersion=1.0\nType=Application\nName=");
    addValue(t, name);
    if (comment && *comment) {
        t.add("\nComment=");
        addValue(t, comment);
    }
    t.add("\nExec=");
    t.add(exec.ptr);
    if (icon && *icon) {
        t.add("\nIcon=");
        addValue(t, icon);
    }
    t.add("\nTerminal=false\nX-MultipleArgs=false\nCategories=");
    addValue(t, categories);
    if (t.n && t.buf.ptr[t.n - 1] != ';') t.ch(';');
    t.add("\nStartupNotify=false\n");
    return t.take(out);
}

bool sysShortcutText(_guardchar<char>& out, const char* name, const char* categories, const char* executable,
                     const char* icon, const char* comment, bool elevated, const char* arguments) {
    return desktopEntryText(out, executable, categories, name, icon, comment, elevated ? elevationLauncher() : nullptr,
                            arguments);
}

bool createLinShortcut(const char* path, const char* executable, const char* categories, const char* name,
                       const char* icon, const char* comment, const char* launcher, const char* arguments) {
    if (!path || !*path) return false;
    _guardchar<char> text;
    if (!desktopEntryText(text, executable, categories, name, icon, comment, launcher, arguments)) return false;

    // Written beside the entry as "<entry>.tmp" (a leftover of an interrupted run is the
    // entry's own and is replaced), flushed, then renamed over it.
    _guardchar<char> tmp;
    if (!concatText(path, ".tmp", tmp)) return false;
    long long n = (long long)strlen(text.ptr);
    return replaceFile(path, tmp, 0644, [&](int fd) { return writeAll(fd, text.ptr, n); }) == eReplaceDone;
}

namespace {

// "<folder>/<prefix>-", the start of every entry of the prefix.
bool entryPrefix(sText& t, const char* prefix) {
    _guardchar<char> folder;
    if (!prefix || !cSoftPkgScenario::isSafeCodeName(prefix) || !desktopEntryFolder(folder)) return false;
    t.add(folder.ptr);
    t.ch('/');
    addFileWord(t, prefix);
    t.ch('-');
    return true;
}

}  // namespace

bool sysShortcutPrefix(_guardchar<char>& out, const char* prefix) {
    sText t;
    return entryPrefix(t, prefix) && t.take(out);
}

bool sysShortcutPath(_guardchar<char>& out, const char* name, const char* prefix) {
    sText t;
    if (!name || !*name || !entryPrefix(t, prefix)) return false;
    addEntryName(t, name);
    t.add(".desktop");
    return t.take(out);
}

bool createSysShortcut(_guardchar<char>& outPath, const char* name, const char* categories, const char* executable,
                       const char* icon, const char* comment, bool elevated, const char* arguments,
                       const char* prefix) {
    if (!name || !*name || !executable || !*executable || !categories || !*categories) return false;
    _guardchar<char> folder, path;
    if (!sysShortcutPath(path, name, prefix) || !desktopEntryFolder(folder)) return false;
    // The folder chain below the data home may not exist yet.
    for (char* p = folder.ptr + 1;; p++) {
        if (*p != '/' && *p) continue;
        char keep = *p;
        *p = 0;
        bool ok = cFolderContents::mkdir(folder.ptr);
        *p = keep;
        if (!ok) return false;
        if (!keep) break;
    }
    if (!createLinShortcut(path.ptr, executable, categories, name, icon, comment,
                           elevated ? elevationLauncher() : nullptr, arguments))
        return false;
    outPath.attach(path.dettach());
    return true;
}

bool OSRegisterPackage(const char* managerPath, cSoftPkgScenario& scenario, bool perUser) { return true; }

bool OSDeregisterPackage(const char* codename, bool perUser) { return true; }

bool OSGetRegistedVersion(const char* codename, int version[4], _guardchar<char>* command, _guardchar<char>* name,
                          bool perUser) {
    if (version) version[0] = version[1] = version[2] = version[3] = 0;
    if (command) command->clear();
    return true;
}

bool cStartCheckUpdatesJob::setCommand(const char* program, const char* code, bool quiet) {
    if (!program || !*program || !cSoftPkgScenario::isSafeCodeName(code)) return false;
    return myArgs[0].set(program) && myArgs[1].set("update") && myArgs[2].set(code) &&
           myArgs[3].set(quiet ? "quite" : "normal");
}

unsigned int cStartCheckUpdatesJob::job() {
    const char* argv[5] = {myArgs[0].ptr, myArgs[1].ptr, myArgs[2].ptr, myArgs[3].ptr, nullptr};
    if (argv[0]) execCmd(argv);
    return 0;
}

unsigned int updateDayNumber(int year, int month, int day) {
    return (unsigned int)(((long long)year * 12 + month) * 31 + day);
}

cStartCheckUpdatesJob& updateCheckJob() {
    static cStartCheckUpdatesJob job;
    return job;
}

bool autoCheckUpdates(const char* codename, bool quiet, cApplicationConfig* store) {
    cStartCheckUpdatesJob& job = updateCheckJob();
    if (job.runs() || !cSoftPkgScenario::isSafeCodeName(codename)) return false;
    _guardchar<char> manager;
    if (!getAppManagerPath(manager) || cFolderContents::objtype(manager.ptr) != cFolderContents::eFile) return false;
    _guardchar<char> key;
    unsigned int today = 0;
    if (store) {
        time_t now = time(nullptr);
        struct tm lt;
        localtime_r(&now, &lt);
        today = updateDayNumber(lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday);
        long long n = (long long)strlen(codename) + 8;
        if (!key.set(n)) return false;
        _sprintf_s(key.ptr, n + 1, "updates/%s", codename);
        unsigned long long stored = 0;
        if (store->getParamInt(key.ptr, stored) && (unsigned int)stored == today) return true;
    }
    if (!job.setCommand(manager.ptr, codename, quiet) || !job.start()) return false;
    if (store) {
        store->setParamInt32(key.ptr, today);
        store->saveConfig();
    }
    return true;
}

// Helpers of the installation tests (the application's tests use them too): folders and
// files, packages made from file tables, a private HOME, file-tree snapshots and diffs, the
// application's languages as the engine sees them, a scripted question answerer and file
// operations that fail at the Nth call.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "base/stdlangs.h"
#include "instengine/installctx.h"
#include "instengine/installfs.h"
#include "memconfig.h"
#include "testutil.h"

struct sPkgUninstallContext;

namespace installtest {

typedef std::map<std::string, std::string> Tree;  // relative path -> content

// Makes a folder and its parents (mode 0755); false on failure.
bool makeDirs(const std::string& path);
// Copies a file with its mode bits.
bool copyFileMode(const std::string& from, const std::string& to);
bool exists(const std::string& path);
// A list of texts as strings, in order.
inline std::vector<std::string> listed(const _List<_guardchar<char> >& list) {
    std::vector<std::string> v;
    for (auto* it = list.head; it; it = it->next) v.push_back(it->value.ptr ? it->value.ptr : "");
    return v;
}

// The languages the application's tables define (its nine, English first), answered to
// the engine as the application does once its tables are in. Inline: the windowless
// driver uses it without the helpers' other files.
class cAppLangs : public cInstallLangs {
public:
    bool defines(int lang) override {
        for (int l : {eLangENG, eLangDEU, eLangRUS, eLangUKR, eLangKOR, eLangJPN, eLangCHN, eLangTWN, eLangTUR})
            if (l == lang) return true;
        return false;
    }
    int defaultLang() override { return eLangENG; }
    const char* managerEntryName() override { return "Software Packages management"; }
};
inline void useAppLanguages() {
    static cAppLangs langs;
    setInstallLangs(&langs);
}

// Writes the files and a scenario ("org.qmx.test.pkg", English, the given version, each
// file at $pgm "<relative path>" with mode 644) and compiles it into `pkgPath`.
bool makePackage(const std::string& work, const std::string& version, const Tree& files, const std::string& pkgPath,
                 const std::string& extraSections = "", const std::string& code = "org.qmx.test.pkg",
                 const std::string& softwareKeys = "");

// Every regular file below `root` (relative paths), skipping the names in `skip` at the top.
Tree snapshot(const std::string& root, const std::vector<std::string>& skip = {});
// Folders below `root` (relative paths).
std::vector<std::string> folders(const std::string& root);

std::string readTextFile(const std::string& path);
bool writeTextFile(const std::string& path, const std::string& text);

// Everything below a folder by its path from there ("/a/b", with `prefix` in front): kind
// and mode bits, then a file's content or a link's target ("f0644 text", "d0755 ",
// "o0777 target"). The names in `skip` at the top are left out.
typedef std::map<std::string, std::string> FullTree;
void walkFull(const std::string& root, FullTree& out, const std::string& prefix = "",
              const std::vector<std::string>& skip = {});
// The names whose entries differ between two trees: " name" changed or new, " -name" gone.
std::string treeDiff(const FullTree& now, const FullTree& want);

// A desktop entry's value of `key` as written, "(none)" when it has none.
std::string desktopKey(const std::string& text, const std::string& key);
// A desktop-entry string value read: "\s", "\n", "\t", "\r" and "\\" unescaped.
std::string desktopUnescaped(const std::string& value);

// A stand-in for a running installer in a bundle below `folder`: "src.app" with its
// program (a script that exits with 3) and an icon. The program's path.
std::string makeStandInBundle(const std::string& folder);

// A HOME of its own for the life of the object (HOME and XDG_DATA_HOME restored after).
class PrivateHome {
public:
    PrivateHome();
    ~PrivateHome();
    std::string path() const { return dir.path(); }
    std::string apps() const { return dir.path() + "/Applications"; }
    std::string installFolder() const { return apps() + "/Test"; }
    std::string journal() const { return dir.path() + "/.qmx/inflight-org.qmx.test.pkg"; }
    // A stand-in for the running executable inside a bundle with an icon.
    std::string fakeExe() const { return dir.path() + "/src.app/Contents/MacOS/Installer"; }

private:
    testutil::TempDir dir;
    std::string oldHome, oldXdg;
    bool hadHome = false, hadXdg = false;
};

class ScriptedAsker : public cJobAsker {
public:
    int lang = 0;                  // answer of askLang
    std::vector<bool> retries;     // answers of askRetry in order (then false)
    bool confirmAnswer = true;
    std::vector<std::string> asked;  // what was asked, in order
    std::vector<int> applied;        // languages applied

    int askLang(const _List<int>&, int current, const char*) override {
        asked.push_back("lang " + std::to_string(current));
        return lang;
    }
    bool applyLang(int l) override {
        applied.push_back(l);
        return true;
    }
    bool askRetry(const char* path, bool) override {
        asked.push_back(std::string("retry ") + path);
        if (retries.empty()) return false;
        bool r = retries.front();
        retries.erase(retries.begin());
        return r;
    }
    bool confirm(int index) override {
        asked.push_back("confirm " + std::to_string(index));
        return confirmAnswer;
    }
};

// Fails the Nth file operation.
class FaultFS : public cInstallFS {
public:
    long long failAt = -1;
    long long ops = 0;
    bool unlinksFailAfter = false;  // after the fault, every unlink fails too
    std::vector<std::string> failedOp;

    int createExclusive(const char* p, int m) override {
        return hit("create", p) ? -1 : cInstallFS::createExclusive(p, m);
    }
    bool write(int fd, const void* d, long long n) override { return !hit("write", "") && cInstallFS::write(fd, d, n); }
    bool close(int fd) override {
        bool fail = hit("close", "");
        return cInstallFS::close(fd) && !fail;
    }
    bool canOpenForWrite(const char* p) override { return !hit("open", p) && cInstallFS::canOpenForWrite(p); }
    bool rename(const char* a, const char* b) override { return !hit("rename", a) && cInstallFS::rename(a, b); }
    bool unlink(const char* p) override {
        if (unlinksFailAfter && !failedOp.empty()) return false;
        return !hit("unlink", p) && cInstallFS::unlink(p);
    }
    bool mkdir(const char* p) override { return !hit("mkdir", p) && cInstallFS::mkdir(p); }
    bool rmdir(const char* p) override { return !hit("rmdir", p) && cInstallFS::rmdir(p); }

private:
    bool hit(const char* op, const char* path);
};

// A context for the package at pkgPath, installing for `home` with `store`, before the
// start's checks.
void prepareContext(sPkgInstallContext& ctx, const std::string& pkgPath, const PrivateHome& home,
                    cApplicationConfig* store);

// One installation run as the wizard drives it: the start's checks, the folder for a
// first installation (`folder`, else the home's installation folder), then the job. The
// start's result, or 100 + the job's result.
struct RunResult {
    unsigned int init = 0, job = 0, result = 0;
    std::string message;
    // What the run says it left of the earlier version: "kept <path>", "refused <path>",
    // "not removed <path>".
    std::vector<std::string> left;
};
RunResult install(const std::string& pkgPath, const PrivateHome& home, cApplicationConfig* store,
                  cInstallFS* fs = nullptr, cJobAsker* asker = nullptr, const std::string& folder = "");

// Uninstalls a package as the manager does (code name and key `code`), with `asker`'s
// answers, else a yes to every question. `ctx`, when given, is the context used (a journal
// path set in it is kept) and holds what the run found afterwards. The job's result.
unsigned int uninstallPackage(cApplicationConfig* store, const std::string& code = "org.qmx.test.pkg",
                              cJobAsker* asker = nullptr, cInstallFS* fs = nullptr,
                              sPkgUninstallContext* ctx = nullptr);

}  // namespace installtest

// Helpers of the installation tests.
#include "installtest.h"

#include <dirent.h>
#include <errno.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "instengine/installinit.h"
#include "instengine/installjob.h"
#include "instengine/uninstall.h"

namespace installtest {

bool makeDirs(const std::string& path) {
    for (size_t i = 1; i <= path.size(); i++) {
        if (i == path.size() || path[i] == '/') {
            std::string part = path.substr(0, i);
            if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
        }
    }
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool copyFileMode(const std::string& from, const std::string& to) {
    std::vector<unsigned char> data = testutil::readFile(from);
    struct stat st;
    if (stat(from.c_str(), &st) != 0 || !testutil::writeFile(to, data)) return false;
    return chmod(to.c_str(), st.st_mode & 07777) == 0;
}

bool exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

bool makePackage(const std::string& work, const std::string& version, const Tree& files, const std::string& pkgPath,
                 const std::string& extraSections, const std::string& code, const std::string& softwareKeys) {
    std::string src = work + "/src-" + code + "-" + version;
    if (!makeDirs(src)) return false;
    std::string eula = src + "/eula_en.txt", idx = src + "/eula.idx";
    std::string s = "[General]\nlangs = ENG\n[Software]\ncodename = \"" + code + "\"\nname = \"Test Pkg\"\n"
                    "group = \"Utility;\"\nversion = \"" + version + "\"\neula = " +
                    testutil::scenarioQuoted(idx) + "\n" + softwareKeys + "[Install]\n";
    int i = 0;
    for (auto& f : files) {
        std::string p = src + "/f" + std::to_string(i++);
        if (!testutil::writeFile(p, f.second.data(), f.second.size())) return false;
        s += testutil::scenarioQuoted(p) + " = $pgm \"" + f.first + "\", 644\n";
    }
    s += extraSections;
    std::string e = "<text>Use it freely.</text>\n", x = "ENG = \"./eula_en.txt\"\n";
    if (!testutil::writeFile(eula, e.data(), e.size()) || !testutil::writeFile(idx, x.data(), x.size()) ||
        !testutil::writeFile(src + "/scenario.txt", s.data(), s.size()))
        return false;
    cSoftPkgScenario scen;
    int line = 0;
    if (scen.loadTextConfig((src + "/scenario.txt").c_str(), line) != 0) return false;
    cFileIO out;
    return out.create(pkgPath.c_str()) && scen.saveBinConfig(&out);
}

static void walk(const std::string& root, const std::string& rel, Tree* files, std::vector<std::string>* dirs,
                 const std::vector<std::string>& skip) {
    DIR* d = opendir((root + (rel.empty() ? "" : "/" + rel)).c_str());
    if (!d) return;
    while (struct dirent* e = readdir(d)) {
        std::string n = e->d_name;
        if (n == "." || n == "..") continue;
        if (rel.empty() && std::find(skip.begin(), skip.end(), n) != skip.end()) continue;
        std::string r = rel.empty() ? n : rel + "/" + n;
        struct stat st;
        if (lstat((root + "/" + r).c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            if (dirs) dirs->push_back(r);
            walk(root, r, files, dirs, skip);
        } else if (files) {
            auto v = testutil::readFile(root + "/" + r);
            (*files)[r] = std::string(v.begin(), v.end());
        }
    }
    closedir(d);
}

std::string readTextFile(const std::string& path) {
    auto v = testutil::readFile(path);
    return std::string(v.begin(), v.end());
}

bool writeTextFile(const std::string& path, const std::string& text) {
    return testutil::writeFile(path, text.data(), text.size());
}

Tree snapshot(const std::string& root, const std::vector<std::string>& skip) {
    Tree t;
    walk(root, "", &t, nullptr, skip);
    return t;
}

std::vector<std::string> folders(const std::string& root) {
    std::vector<std::string> v;
    walk(root, "", nullptr, &v, {});
    std::sort(v.begin(), v.end());
    return v;
}

static void walkFull(const std::string& root, const std::string& rel, FullTree& out, const std::string& prefix,
                     const std::vector<std::string>& skip) {
    DIR* d = opendir((root + rel).c_str());
    if (!d) return;
    while (struct dirent* e = readdir(d)) {
        std::string n = e->d_name, r = rel + "/" + n, p = root + r;
        if (n == "." || n == ".." || (rel.empty() && std::find(skip.begin(), skip.end(), n) != skip.end())) continue;
        struct stat st;
        if (lstat(p.c_str(), &st) != 0) continue;
        char head[32];
        snprintf(head, sizeof head, "%c%04o ", S_ISDIR(st.st_mode) ? 'd' : S_ISREG(st.st_mode) ? 'f' : 'o',
                 (unsigned)(st.st_mode & 07777));
        std::string v = head;
        if (S_ISREG(st.st_mode)) {
            v += readTextFile(p);
        } else if (S_ISLNK(st.st_mode)) {
            char t[4096];
            ssize_t k = readlink(p.c_str(), t, sizeof t);
            if (k > 0) v.append(t, (size_t)k);
        }
        out[prefix + r] = v;
        if (S_ISDIR(st.st_mode)) walkFull(root, r, out, prefix, skip);
    }
    closedir(d);
}

void walkFull(const std::string& root, FullTree& out, const std::string& prefix, const std::vector<std::string>& skip) {
    walkFull(root, "", out, prefix, skip);
}

std::string treeDiff(const FullTree& now, const FullTree& want) {
    std::string d;
    for (auto& e : now)
        if (!want.count(e.first) || want.at(e.first) != e.second) d += " " + e.first;
    for (auto& e : want)
        if (!now.count(e.first)) d += " -" + e.first;
    return d;
}

std::string desktopKey(const std::string& text, const std::string& key) {
    size_t at = text.find("\n" + key + "=");
    if (at == std::string::npos) return "(none)";
    at += key.size() + 2;
    return text.substr(at, text.find('\n', at) - at);
}

std::string desktopUnescaped(const std::string& value) {
    std::string s;
    for (size_t i = 0; i < value.size(); i++) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            char n = value[++i];
            s += n == 's' ? ' ' : n == 'n' ? '\n' : n == 't' ? '\t' : n == 'r' ? '\r' : n;
        } else {
            s += value[i];
        }
    }
    return s;
}

std::string makeStandInBundle(const std::string& folder) {
    const std::string contents = folder + "/src.app/Contents", exe = contents + "/MacOS/Installer";
    makeDirs(contents + "/MacOS");
    makeDirs(contents + "/Resources");
    writeTextFile(exe, "#!/bin/sh\nexit 3\n");
    chmod(exe.c_str(), 0755);
    writeTextFile(contents + "/Resources/icon.icns", "icns");
    return exe;
}

PrivateHome::PrivateHome() {
    if (const char* h = getenv("HOME")) hadHome = true, oldHome = h;
    if (const char* x = getenv("XDG_DATA_HOME")) hadXdg = true, oldXdg = x;
    setenv("HOME", dir.path().c_str(), 1);
    unsetenv("XDG_DATA_HOME");
    makeStandInBundle(dir.path());
}

PrivateHome::~PrivateHome() {
    if (hadHome)
        setenv("HOME", oldHome.c_str(), 1);
    else
        unsetenv("HOME");
    if (hadXdg) setenv("XDG_DATA_HOME", oldXdg.c_str(), 1);
}

bool FaultFS::hit(const char* op, const char* path) {
    if (++ops != failAt) return false;
    failedOp.push_back(std::string(op) + " " + path);
    return true;
}

void prepareContext(sPkgInstallContext& ctx, const std::string& pkgPath, const PrivateHome& home,
                    cApplicationConfig* store) {
    ctx.packagePath.set(pkgPath.c_str());
    ctx.store = store;
    ctx.journalPath.set(home.journal().c_str());
}

RunResult install(const std::string& pkgPath, const PrivateHome& home, cApplicationConfig* store, cInstallFS* fs,
                  cJobAsker* asker, const std::string& folder) {
    RunResult r;
    sPkgInstallContext ctx;
    prepareContext(ctx, pkgPath, home, store);
    ctx.executablePath.set(home.fakeExe().c_str());
    r.init = installChecks(ctx, asker);
    if (r.init != 0) {
        r.message = ctx.messagePath.ptr ? ctx.messagePath.ptr : "";
        return r;
    }
    if (ctx.installedVersion == ~0ULL) {
        if (!setInstallFolder(ctx, (folder.empty() ? home.installFolder() : folder).c_str())) {
            r.init = 99;
            return r;
        }
        r.init = checkInstallTargets(ctx);
        if (r.init != 0) {
            r.message = ctx.messagePath.ptr ? ctx.messagePath.ptr : "";
            return r;
        }
    }
    r.job = runInstallJob(ctx, nullptr, asker, fs);
    r.result = ctx.result;
    r.message = ctx.messagePath.ptr ? ctx.messagePath.ptr : "";
    for (auto list : {std::make_pair("kept ", &ctx.keptFiles), std::make_pair("refused ", &ctx.refusedFiles),
                      std::make_pair("not removed ", &ctx.notRemoved)})
        for (const std::string& f : listed(*list.second)) r.left.push_back(list.first + f);
    return r;
}

unsigned int uninstallPackage(cApplicationConfig* store, const std::string& code, cJobAsker* asker, cInstallFS* fs,
                              sPkgUninstallContext* ctx) {
    sPkgUninstallContext own;
    if (!ctx) ctx = &own;
    ScriptedAsker yes;
    ctx->codeName.set(code.c_str());
    ctx->key.set(code.c_str());
    return uninstallJob(*ctx, store, asker ? asker : &yes, fs);
}

}  // namespace installtest

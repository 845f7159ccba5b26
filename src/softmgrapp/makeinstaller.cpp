// The installer maker: scenario, property list, package info, scenario data, icon and
// executable, assembled beside the target and renamed into place.
#include "softmgrapp/makeinstaller.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "base/fileio.h"
#include "base/folders.h"
#include "base/strings.h"
#include "softmgr/softpkgscenario.h"

namespace {

const char kPkgInfo[] = "APPL????";

// One format, filled by a single formatted write: name, major, minor, major, minor,
// copyright.
const char kInfoPlistTemplate[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n"
    "<dict>\n"
    "\t<key>BuildMachineOSBuild</key>\n"
    "\t<string>13F34</string>\n"
    "\t<key>CFBundleDevelopmentRegion</key>\n"
    "\t<string>en</string>\n"
    "\t<key>CFBundleExecutable</key>\n"
    "\t<string>Installer</string>\n"
    "\t<key>CFBundleIconFile</key>\n"
    "\t<string>icon.icns</string>\n"
    "\t<key>CFBundleIdentifier</key>\n"
    "\t<string>org.qmx.softmgr.installer</string>\n"
    "\t<key>CFBundleInfoDictionaryVersion</key>\n"
    "\t<string>6.0</string>\n"
    "\t<key>CFBundleName</key>\n"
    "\t<string>%s Installer</string>\n"
    "\t<key>CFBundlePackageType</key>\n"
    "\t<string>APPL</string>\n"
    "\t<key>CFBundleShortVersionString</key>\n"
    "\t<string>%d.%d</string>\n"
    "\t<key>CFBundleSignature</key>\n"
    "\t<string>????" "</string>\n"
    "\t<key>CFBundleVersion</key>\n"
    "\t<string>%d.%d</string>\n"
    "\t<key>DTCompiler</key>\n"
    "\t<string>org.qmx.compilers.cxx17</string>\n"
    "\t<key>DTPlatformBuild</key>\n"
    "\t<string>6A1052d</string>\n"
    "\t<key>DTPlatformVersion</key>\n"
    "\t<string>GM</string>\n"
    "\t<key>DTSDKBuild</key>\n"
    "\t<string>13F26</string>\n"
    "\t<key>DTSDKName</key>\n"
    "\t<string>macosx10.9</string>\n"
    "\t<key>DTXcode</key>\n"
    "\t<string>0610</string>\n"
    "\t<key>DTXcodeBuild</key>\n"
    "\t<string>6A1052d</string>\n"
    "\t<key>LSApplicationCategoryType</key>\n"
    "\t<string>public.app-category.utilities</string>\n"
    "\t<key>LSMinimumSystemVersion</key>\n"
    "\t<string>10.9</string>\n"
    "\t<key>NSHumanReadableCopyright</key>\n"
    "\t<string>%s</string>\n"
    "\t<key>NSMainNibFile</key>\n"
    "\t<string>MainMenu</string>\n"
    "\t<key>NSPrincipalClass</key>\n"
    "\t<string>NSApplication</string>\n"
    "</dict>\n"
    "</plist>\n";

const int kMaxTreeDepth = 256;
const long long kCopyChunk = 256 * 1024;

// Length of a valid UTF-8 sequence at p (at most `left` bytes), 0 when invalid.
int utf8Length(const unsigned char* p, long long left) {
    unsigned char c = p[0];
    int n;
    unsigned int cp;
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (left < n) return 0;
    for (int i = 1; i < n; i++) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8; U+FFFE and
    // U+FFFF are not XML characters.
    if ((n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000) || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) ||
        cp == 0xFFFE || cp == 0xFFFF)
        return 0;
    return n;
}

bool removeTreeAt(int parentFd, const char* name, int depth) {
    struct stat st;
    if (fstatat(parentFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
    if (!S_ISDIR(st.st_mode)) return unlinkat(parentFd, name, 0) == 0 || errno == ENOENT;
    if (depth >= kMaxTreeDepth) return false;
    int fd = openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    DIR* dir = fdopendir(fd);
    if (!dir) {
        close(fd);
        return false;
    }
    bool ok = true;
    while (struct dirent* e = readdir(dir)) {
        if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
        if (!removeTreeAt(dirfd(dir), e->d_name, depth + 1)) ok = false;
    }
    closedir(dir);
    if (!ok) return false;
    return unlinkat(parentFd, name, AT_REMOVEDIR) == 0 || errno == ENOENT;
}

// "<a><b>" into a fresh text.
bool joinPath(const char* a, const char* b, _guardchar<char>& out) {
    long long na = (long long)strlen(a), nb = (long long)strlen(b);
    if (!out.set(na + nb)) return false;
    memcpy(out.ptr, a, (size_t)na);
    memcpy(out.ptr + na, b, (size_t)nb + 1);
    return true;
}

// A path inside the bundle under construction and the name it will have when done
// (the one the user is told about).
struct sBundlePath {
    _guardchar<char> work, shown;
    bool make(const char* workRoot, const char* shownRoot, const char* rel) {
        return joinPath(workRoot, rel, work) && joinPath(shownRoot, rel, shown);
    }
};

// Writes a whole text to a new file: written, flushed to the disk and closed.
bool writeWholeFile(const char* path, const char* data, long long n) {
    cFileIO f;
    if (!f.create(path, cFileIO::eWrite)) return false;
    bool ok = f.writef(data, n) && f.sync();
    f.close();
    return ok;
}

// The outcome of copying one file: 0 done, 1 source unreadable, 2 target not created,
// 3 reading failed, 4 writing failed.
int copyFile(const char* from, const char* to) {
    cFileIO in;
    if (!in.open(from, cFileIO::eRead)) return 1;
    cFileIO out;
    if (!out.create(to, cFileIO::eWrite)) return 2;
    _typebuf<unsigned char> buf;
    if (!buf.set(kCopyChunk)) return 3;
    for (;;) {
        long long got = in.read(buf.ptr, buf.count);
        if (got < 0) return 3;
        if (got == 0) break;
        if (!out.writef(buf.ptr, got)) return 4;
    }
    bool ok = out.sync();
    out.close();
    return ok ? 0 : 4;
}

// What is at the target now: 0 nothing, 1 a bundle of ours or an empty folder (may be
// replaced), 2 something else (refused).
int targetState(const char* target) {
    struct stat st;
    if (lstat(target, &st) != 0) return errno == ENOENT ? 0 : 2;
    if (!S_ISDIR(st.st_mode)) return 2;
    _guardchar<char> marker;
    if (!joinPath(target, "/Contents/Resources/scenario.data", marker)) return 2;
    struct stat ms;
    if (lstat(marker.ptr, &ms) == 0 && S_ISREG(ms.st_mode)) return 1;
    DIR* d = opendir(target);
    if (!d) return 2;
    bool empty = true;
    while (struct dirent* e = readdir(d)) {
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) {
            empty = false;
            break;
        }
    }
    closedir(d);
    return empty ? 1 : 2;
}

// Puts the finished bundle at the target, exchanging it with an earlier one in one
// step where the system allows; the earlier bundle ends up at `work` for removal.
bool moveIntoPlace(const char* work, const char* target, bool replacing) {
    if (!replacing) return rename(work, target) == 0;
    if (renameat2(AT_FDCWD, work, AT_FDCWD, target, RENAME_EXCHANGE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // No exchange on this file system: move the old bundle aside first.
    _guardchar<char> aside;
    if (!joinPath(work, ".old", aside) || rename(target, aside.ptr) != 0) return false;
    if (rename(work, target) != 0) {
        rename(aside.ptr, target);
        return false;
    }
    return rename(aside.ptr, work) == 0;
}

}  // namespace

bool xmlEscape(const char* text, _guardchar<char>& out) {
    if (!text) text = "";
    const unsigned char* p = (const unsigned char*)text;
    long long n = (long long)strlen(text);
    // Worst case: every byte becomes "&quot;" (6) or U+FFFD (3).
    _typebuf<char> buf;
    if (!buf.set(n * 6 + 1)) return false;
    long long o = 0;
    for (long long i = 0; i < n;) {
        unsigned char c = p[i];
        const char* rep = nullptr;
        switch (c) {
            case '&': rep = "&amp;"; break;
            case '<': rep = "&lt;"; break;
            case '>': rep = "&gt;"; break;
            case '"': rep = "&quot;"; break;
            case '\'': rep = "&apos;"; break;
            default: break;
        }
        if (rep) {
            size_t k = strlen(rep);
            memcpy(buf.ptr + o, rep, k);
            o += (long long)k;
            i++;
            continue;
        }
        if (c < 0x20) {
            if (c == '\t' || c == '\n' || c == '\r') buf.ptr[o++] = (char)c;
            i++;
            continue;
        }
        int len = utf8Length(p + i, n - i);
        if (len == 0) {
            memcpy(buf.ptr + o, "\xEF\xBF\xBD", 3);
            o += 3;
            i++;
            continue;
        }
        memcpy(buf.ptr + o, p + i, (size_t)len);
        o += len;
        i += len;
    }
    buf.ptr[o] = 0;
    return out.set(buf.ptr, o);
}

bool buildInfoPlist(const char* name, int major, int minor, const char* copyright, _guardchar<char>& out) {
    _guardchar<char> n, c;
    if (!xmlEscape(name, n) || !xmlEscape(copyright, c)) return false;
    long long size = (long long)sizeof(kInfoPlistTemplate) + n.length() + c.length() + 4 * 12;
    if (!out.set(size)) return false;
    int w = _sprintf_s(out.ptr, size + 1, kInfoPlistTemplate, n.ptr ? n.ptr : "", major, minor, major, minor,
                       c.ptr ? c.ptr : "");
    return w > 0 && w <= size;
}

bool removeTree(const char* path) { return path && *path && removeTreeAt(AT_FDCWD, path, 0); }

int makeInstaller(const char* exePath, const char* scenarioPath, const char* targetPath, const char* fourth) {
    (void)fourth;
    // 1. The scenario.
    printf("(i) Loading scenario... ");
    fflush(stdout);
    cSoftPkgScenario scenario;
    int line = 0;
    int rc = scenarioPath ? scenario.loadTextConfig(scenarioPath, line) : 1;
    if (rc != 0) {
        if (rc == 1)
            puts("FAIL (No source file)");
        else if (rc == 2)
            printf("ERROR:\n - at line %d: Unknown section!\n", line);
        else
            printf("ERROR:\n - at line %d: error code %d!\n", line, rc);
        fflush(stdout);
        return 1;
    }
    puts("OK!");
    fflush(stdout);

    // 2. The running bundle's Contents folder.
    if (!exePath) return 2;
    const char* cut1 = strrchr(exePath, '/');
    if (!cut1) return 2;
    long long contentsLength = -1;
    for (long long i = (cut1 - exePath) - 1; i >= 0; i--) {
        if (exePath[i] == '/') {
            contentsLength = i;
            break;
        }
    }
    if (contentsLength < 0) return 2;
    _guardchar<char> contents;
    if (!contents.set(exePath, contentsLength)) return 1;

    // 3. The target: nothing, one of our bundles (or an empty folder), else refused.
    if (!targetPath || !*targetPath) {
        printf(" (e) Unable to create %s!\n", targetPath ? targetPath : "");
        return 1;
    }
    _guardchar<char> target;
    if (!target.set(targetPath)) return 1;
    for (long long n = target.length(); n > 1 && target.ptr[n - 1] == '/'; n--) target.ptr[n - 1] = 0;
    int state = targetState(target.ptr);
    if (state == 2) {
        printf(" (e) Object will not be repleaced: %s!\n", target.ptr);
        return 1;
    }

    // 4. A private folder beside the target.
    _guardchar<char> work;
    if (!joinPath(target.ptr, ".make-XXXXXX", work) || !mkdtemp(work.ptr)) {
        printf(" (e) Unable to create %s!\n", target.ptr);
        return 1;
    }
    int result = 1;
    do {
        sBundlePath p;
        if (!p.make(work.ptr, target.ptr, "/Contents") || !cFolderContents::mkdir(p.work.ptr)) {
            printf(" (e) Unable to create %s!\n", p.shown.ptr ? p.shown.ptr : target.ptr);
            break;
        }

        // 5. Info.plist.
        int major = 0, minor = 0, third = 0, fourthPart = 0;
        scenario.getVer(major, minor, third, fourthPart);
        _guardchar<char> plist;
        if (!p.make(work.ptr, target.ptr, "/Contents/Info.plist") ||
            !buildInfoPlist(scenario.getStr("name"), major, minor, scenario.getStr("copyright"), plist) ||
            !writeWholeFile(p.work.ptr, plist.ptr, plist.length())) {
            printf(" (e) Unable to create %s!\n", p.shown.ptr ? p.shown.ptr : target.ptr);
            break;
        }

        // 6. PkgInfo.
        if (!p.make(work.ptr, target.ptr, "/Contents/PkgInfo") ||
            !writeWholeFile(p.work.ptr, kPkgInfo, (long long)strlen(kPkgInfo))) {
            printf(" (e) Unable to create %s!\n", p.shown.ptr ? p.shown.ptr : target.ptr);
            break;
        }

        // 7. Resources.
        if (!p.make(work.ptr, target.ptr, "/Contents/Resources") || !cFolderContents::mkdir(p.work.ptr)) {
            printf(" (e) Unable to create %s!\n", p.shown.ptr ? p.shown.ptr : target.ptr);
            break;
        }

        // 8. The scenario data file.
        if (!p.make(work.ptr, target.ptr, "/Contents/Resources/scenario.data")) break;
        {
            cFileIO data;
            if (!data.create(p.work.ptr, cFileIO::eWrite)) {
                printf("(e) Creating target failed: %s\n", p.shown.ptr);
                break;
            }
            bool ok = scenario.saveBinConfig(&data) && data.sync();
            data.close();
            if (!ok) {
                printf("(e) Saving scenario failed: %s\n", p.shown.ptr);
                break;
            }
        }

        // 9. The icon of the running bundle.
        _guardchar<char> iconSource;
        if (!joinPath(contents.ptr, "/Resources/icon.icns", iconSource) ||
            !p.make(work.ptr, target.ptr, "/Contents/Resources/icon.icns"))
            break;
        int copied = copyFile(iconSource.ptr, p.work.ptr);
        if (copied == 1) {
            printf("(e) Failed opening icon: %s\n", iconSource.ptr);
            break;
        } else if (copied == 2) {
            printf("(e) Creating icon failed: %s\n", p.shown.ptr);
            break;
        } else if (copied == 3) {
            printf("(e) Reading icon failed: %s\n", iconSource.ptr);
            break;
        } else if (copied == 4) {
            printf("(e) Writing icon failed: %s\n", p.shown.ptr);
            break;
        }

        // 10. The executable.
        if (!p.make(work.ptr, target.ptr, "/Contents/MacOS") || !cFolderContents::mkdir(p.work.ptr)) {
            printf(" (e) Unable to create %s!\n", p.shown.ptr ? p.shown.ptr : target.ptr);
            break;
        }
        if (!p.make(work.ptr, target.ptr, "/Contents/MacOS/Installer")) break;
        copied = copyFile(exePath, p.work.ptr);
        if (copied == 1) {
            printf("(e) Failed opening exe: %s\n", exePath);
            break;
        } else if (copied == 2) {
            printf("(e) Creating exe failed: %s\n", p.shown.ptr);
            break;
        } else if (copied == 3) {
            printf("(e) Reading exe failed: %s\n", exePath);
            break;
        } else if (copied == 4) {
            printf("(e) Writing exe failed: %s\n", p.shown.ptr);
            break;
        }

        // 11. Permissions, then the finished bundle goes into place.
        if (!cFolderContents::setPermissions(p.work.ptr, 7, 5, 5)) {
            printf("(e) Writing exe failed: %s\n", p.shown.ptr);
            break;
        }
        if (chmod(work.ptr, 0755) != 0 || !moveIntoPlace(work.ptr, target.ptr, state == 1)) {
            printf(" (e) Unable to create %s!\n", target.ptr);
            break;
        }
        // `work` now holds the earlier bundle, if there was one.
        if (state == 1 && !removeTree(work.ptr)) {
            printf(" (e) Unable to remove %s!\n", work.ptr);
            fflush(stdout);
            return 1;
        }
        result = 0;
    } while (false);

    if (result != 0) removeTree(work.ptr);
    fflush(stdout);
    return result;
}

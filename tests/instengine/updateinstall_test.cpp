// After the update's download: hostile archives (names, links, bombs, encryption, lying
// headers) refused and nothing left behind, archives written by zip unpacked in-process
// with their modes, the bundle chosen and its installer started, and web addresses opened
// only as http(s).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "base/job.h"
#include "base/progress.h"
#include "installtest.h"
#include "instengine/updateinstall.h"
#include "memconfig.h"
#include "testutil.h"

namespace {

// Writes a zip with python3's zipfile: entries as "name" (a file), "name/" (a folder),
// "link:name->target" (a symbolic link), each file holding its own name; "x:name" marks
// the entry executable.
bool makeZip(const std::string& path, const std::vector<std::string>& entries) {
    std::string script =
        "import sys, zipfile\n"
        "z = zipfile.ZipFile(sys.argv[1], 'w')\n"
        "for e in sys.argv[2:]:\n"
        "    if e.startswith('link:'):\n"
        "        name, target = e[5:].split('->')\n"
        "        i = zipfile.ZipInfo(name); i.create_system = 3; i.external_attr = 0o120777 << 16\n"
        "        z.writestr(i, target)\n"
        "    elif e.startswith('x:'):\n"
        "        i = zipfile.ZipInfo(e[2:]); i.create_system = 3; i.external_attr = 0o100755 << 16\n"
        "        z.writestr(i, '#!/bin/sh\\nprintf \"%s\\\\n\" \"$0\" > \"$QMX_TEST_MARK\"\\n')\n"
        "    elif e.endswith('/'):\n"
        "        z.writestr(zipfile.ZipInfo(e), '')\n"
        "    else:\n"
        "        z.writestr(e, e)\n"
        "z.close()\n";
    std::vector<std::string> argv = {"python3", "-c", script, path};
    argv.insert(argv.end(), entries.begin(), entries.end());
    return testutil::run(argv) == 0;
}

// Writes a one-entry archive "a.txt" with python3's zipfile and then lies in its headers
// as `kind` says (the patches go to every header of that signature).
bool makeHostileZip(const std::string& path, const std::string& kind) {
    std::string script =
        "import sys, struct, zipfile, zlib\n"
        "out, kind = sys.argv[1], sys.argv[2]\n"
        "z = zipfile.ZipFile(out, 'w', zipfile.ZIP_DEFLATED)\n"
        "if kind == 'utf8 path':\n"
        "    i = zipfile.ZipInfo('a.txt'); n = b'../evil'\n"
        "    i.extra = struct.pack('<HHBI', 0x7075, 5 + len(n), 1, zlib.crc32(b'a.txt')) + n\n"
        "    z.writestr(i, 'x')\n"
        "elif kind == 'twice':\n"
        "    z.writestr('a.txt', '1'); z.writestr('a.txt', '2')\n"
        "elif kind == 'bzip2':\n"
        "    z.writestr('a.txt', 'x' * 100, compress_type=zipfile.ZIP_BZIP2)\n"
        "else:\n"
        "    z.writestr('a.txt', b'\\0' * 100000)\n"
        "z.close()\n"
        "b = bytearray(open(out, 'rb').read())\n"
        "def patch(sig, off, fmt, value):\n"
        "    p = b.find(sig)\n"
        "    while p >= 0:\n"
        "        struct.pack_into(fmt, b, p + off, value); p = b.find(sig, p + 4)\n"
        "CD, LH = b'PK\\1\\2', b'PK\\3\\4'\n"
        "if kind == 'declares 4 GB': patch(CD, 24, '<I', 4000000000); patch(LH, 22, '<I', 4000000000)\n"
        "if kind == 'inflates past its size': patch(CD, 24, '<I', 1000); patch(LH, 22, '<I', 1000)\n"
        "if kind == 'holds less than declared': patch(CD, 24, '<I', 100001)\n"
        "if kind == 'encrypted': patch(CD, 8, '<H', 1); patch(LH, 6, '<H', 1)\n"
        "if kind == 'encrypted local only': patch(LH, 6, '<H', 1)\n"
        "if kind == 'bad crc': patch(CD, 16, '<I', 0); patch(LH, 14, '<I', 0)\n"
        "if kind == 'local name differs': b[b.find(LH) + 30] = ord('b')\n"
        "if kind == 'local header elsewhere': patch(CD, 42, '<I', 1)\n"
        "open(out, 'wb').write(b)\n";
    return testutil::run({"python3", "-c", script, path, kind}) == 0;
}

// The private unpack folders left in a temporary folder.
int unpackFoldersIn(const std::string& tmp) {
    int n = 0;
    for (const std::string& f : installtest::folders(tmp))
        if (f.rfind("qmxsopkg-", 0) == 0 && f.find('/') == std::string::npos) n++;
    return n;
}

// Stops an unpacking at its first report.
class cStopAtOnce : public cProgressNotifyTarget {
public:
    bool notifyProgress(double) override { return false; }
    bool notifyStage(int) override { return true; }
};

bool waitForFile(const std::string& path, int ms) {
    for (int i = 0; i < ms / 20; i++) {
        if (access(path.c_str(), F_OK) == 0) return true;
        usleep(20000);
    }
    return false;
}

}  // namespace

TEST(UpdateArchive, HostileEntriesAreRefusedBeforeUnpacking) {
    if (!testutil::haveTool("python3")) GTEST_SKIP() << "python3 not installed";
    testutil::TempDir dir;
    struct Case {
        const char* name;
        std::vector<std::string> entries;
        int want;
    } cases[] = {
        {"good", {"A.app/", "A.app/Contents/Resources/scenario.data", "readme.txt"}, eArchiveOk},
        {"absolute", {"ok.txt", "/tmp/evil"}, eArchiveAbsolute},
        {"parent", {"a/../../evil"}, eArchiveDotDot},
        {"leading parent", {"../evil"}, eArchiveDotDot},
        {"trailing parent", {"a/.."}, eArchiveDotDot},
        {"backslash", {"a\\..\\evil"}, eArchiveDotDot},
        {"drive", {"C:evil"}, eArchiveAbsolute},
        {"link", {"A.app/", "link:A.app/Contents->/etc"}, eArchiveLink},
        {"dots in a name are fine", {"a..b/c...txt"}, eArchiveOk},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string zip = dir.file(std::string(c.name) + ".zip");
        ASSERT_TRUE(makeZip(zip, c.entries));
        EXPECT_EQ(checkUpdateArchive(zip.c_str()), c.want);
        if (c.want != eArchiveOk) {
            _guardchar<char> folder;
            EXPECT_FALSE(unpackUpdateArchive(zip.c_str(), folder));
            EXPECT_EQ(folder.ptr, nullptr) << "nothing is made for a refused archive";
        }
    }
    // Damaged and foreign files: every prefix of a good archive, and bytes that only
    // look like an end record.
    std::string good = dir.file("good.zip");
    std::vector<unsigned char> bytes = testutil::readFile(good);
    for (size_t n = 0; n < bytes.size(); n += 7) {
        std::string cut = dir.file("cut.zip");
        ASSERT_TRUE(testutil::writeFile(cut, bytes.data(), n));
        EXPECT_NE(checkUpdateArchive(cut.c_str()), eArchiveOk) << n;
    }
    std::vector<unsigned char> fake = {'P', 'K', 5, 6, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    ASSERT_TRUE(testutil::writeFile(dir.file("fake.zip"), fake));
    EXPECT_NE(checkUpdateArchive(dir.file("fake.zip").c_str()), eArchiveOk);
    EXPECT_EQ(checkUpdateArchive(dir.file("missing.zip").c_str()), eArchiveUnreadable);
}

TEST(UpdateArchive, LyingHeadersBombsAndEncryptionLeaveNothingBehind) {
    if (!testutil::haveTool("python3")) GTEST_SKIP() << "python3 not installed";
    testutil::TempDir dir, tmp;
    setenv("TMPDIR", tmp.path().c_str(), 1);
    struct Case {
        const char* kind;
        int check;   // checkUpdateArchive
        int unpack;  // the reason unpacking gives
    } cases[] = {
        {"plain", eArchiveOk, eArchiveOk},
        {"declares 4 GB", eArchiveBomb, eArchiveBomb},
        {"inflates past its size", eArchiveOk, eArchiveDamaged},
        {"holds less than declared", eArchiveOk, eArchiveDamaged},
        {"bad crc", eArchiveOk, eArchiveDamaged},
        {"twice", eArchiveOk, eArchiveDamaged},
        {"encrypted", eArchiveEncrypted, eArchiveEncrypted},
        {"encrypted local only", eArchiveEncrypted, eArchiveEncrypted},
        {"bzip2", eArchiveMethod, eArchiveMethod},
        {"utf8 path", eArchiveBadName, eArchiveBadName},
        {"local name differs", eArchiveDamaged, eArchiveDamaged},
        {"local header elsewhere", eArchiveDamaged, eArchiveDamaged},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        std::string zip = dir.file("hostile.zip");
        ASSERT_TRUE(makeHostileZip(zip, c.kind));
        EXPECT_EQ(checkUpdateArchive(zip.c_str()), c.check);
        _guardchar<char> folder;
        int reason = -1;
        EXPECT_EQ(unpackUpdateArchive(zip.c_str(), folder, nullptr, nullptr, &reason), c.unpack == eArchiveOk);
        EXPECT_EQ(reason, c.unpack);
        if (c.unpack == eArchiveOk) {
            ASSERT_NE(folder.ptr, nullptr);
            EXPECT_EQ(testutil::readFile(std::string(folder.ptr) + "/a.txt"), std::vector<unsigned char>(100000, 0));
            // Stopped at its first report: refused and removed like any failure.
            cStopAtOnce stop;
            _guardchar<char> stopped;
            EXPECT_FALSE(unpackUpdateArchive(zip.c_str(), stopped, &stop, nullptr, &reason));
            EXPECT_EQ(reason, eArchiveStopped);
            EXPECT_EQ(stopped.ptr, nullptr);
            EXPECT_TRUE(removeUpdateFolder(folder.ptr));
        } else {
            EXPECT_EQ(folder.ptr, nullptr);
        }
        EXPECT_EQ(unpackFoldersIn(tmp.path()), 0);
    }
    // The total may not exceed the room left in the temporary folder either.
    ASSERT_TRUE(makeHostileZip(dir.file("plain.zip"), "plain"));
    EXPECT_EQ(checkUpdateArchive(dir.file("plain.zip").c_str(), 99999), eArchiveBomb);
    // A real encrypted archive never reaches a password prompt.
    if (testutil::haveTool("zip")) {
        ASSERT_EQ(testutil::run({"zip", "-q", "-j", "-P", "secret", dir.file("enc.zip"), dir.file("plain.zip")}), 0);
        EXPECT_EQ(checkUpdateArchive(dir.file("enc.zip").c_str()), eArchiveEncrypted);
    }
    unsetenv("TMPDIR");
}

TEST(UpdateArchive, ZipsArchivesUnpackWithTheirModes) {
    if (!testutil::haveTool("zip")) GTEST_SKIP() << "zip not installed";
    testutil::TempDir src, tmp;
    setenv("TMPDIR", tmp.path().c_str(), 1);
    struct File {
        std::string name;
        std::vector<unsigned char> data;
        mode_t mode;
    } files[] = {
        {"A.app/Contents/MacOS/Installer", {'#', '!', '/', 'b', 'i', 'n', '/', 's', 'h', '\n'}, 0755},
        {"A.app/Contents/Resources/scenario.data", testutil::randomBytes(200000, 3), 0644},
        {"A.app/Contents/Resources/zeros", std::vector<unsigned char>(3000000, 0), 0600},
        {"sp ace/\xC3\xBC.txt", {}, 0644},
    };
    for (const File& f : files) {
        std::string path = src.file(f.name);
        ASSERT_TRUE(installtest::makeDirs(path.substr(0, path.rfind('/'))));
        ASSERT_TRUE(testutil::writeFile(path, f.data));
        ASSERT_EQ(chmod(path.c_str(), f.mode), 0);
    }
    ASSERT_TRUE(installtest::makeDirs(src.file("empty folder")));
    std::string zip = src.file("u.zip");
    ASSERT_EQ(testutil::run({"sh", "-c", "cd \"$0\" && zip -qr u.zip A.app 'sp ace' 'empty folder'", src.path()}), 0);
    _guardchar<char> folder;
    int reason = -1;
    ASSERT_TRUE(unpackUpdateArchive(zip.c_str(), folder, nullptr, nullptr, &reason)) << reason;
    for (const File& f : files) {
        SCOPED_TRACE(f.name);
        std::string path = std::string(folder.ptr) + "/" + f.name;
        EXPECT_EQ(testutil::readFile(path), f.data);
        struct stat st;
        ASSERT_EQ(lstat(path.c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(st.st_mode & 0777, f.mode);
    }
    struct stat st;
    EXPECT_EQ(lstat((std::string(folder.ptr) + "/empty folder").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_TRUE(removeUpdateFolder(folder.ptr));
    EXPECT_EQ(unpackFoldersIn(tmp.path()), 0);
    unsetenv("TMPDIR");
}

TEST(UpdateArchive, UnpackedPrivatelyAndOnlyARealInstallerBundleStarts) {
    if (!testutil::haveTool("python3")) GTEST_SKIP() << "python3 not installed";
    testutil::TempDir dir;
    setenv("TMPDIR", dir.path().c_str(), 1);
    std::string mark = dir.file("started");
    setenv("QMX_TEST_MARK", mark.c_str(), 1);
    // "Empty.app" has no scenario data and "readme.app" is a file: only Setup.APP counts.
    std::string zip = dir.file("-u.zip");
    ASSERT_TRUE(makeZip(zip, {"Empty.app/", "Empty.app/Contents/MacOS/Installer", "readme.app",
                              "Setup.APP/Contents/Resources/scenario.data", "x:Setup.APP/Contents/MacOS/Installer"}));
    _guardchar<char> folder, bundle;
    ASSERT_TRUE(unpackUpdateArchive(zip.c_str(), folder)) << "a name starting with '-' is not an option";
    struct stat st;
    ASSERT_EQ(stat(folder.ptr, &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(std::string(folder.ptr).rfind(dir.path() + "/qmxsopkg-", 0), 0u);
    ASSERT_TRUE(findUpdateBundle(folder.ptr, bundle));
    EXPECT_EQ(std::string(bundle.ptr), std::string(folder.ptr) + "/Setup.APP");
    ASSERT_TRUE(startUpdateInstaller(bundle.ptr));
    ASSERT_TRUE(waitForFile(mark, 30000));
    std::string got;  // whole once its line has ended
    for (int i = 0; i < 1500 && (got = installtest::readTextFile(mark)).find('\n') == std::string::npos; i++)
        usleep(20000);
    EXPECT_EQ(got, std::string(bundle.ptr) + "/Contents/MacOS/Installer\n");

    // A bundle whose scenario data is a link out of it is not an installer.
    std::string linked = dir.file("linked.zip");
    testutil::TempDir other;
    ASSERT_TRUE(makeZip(linked, {"L.app/Contents/Resources/", "x:L.app/Contents/MacOS/Installer"}));
    _guardchar<char> f2, b2;
    ASSERT_TRUE(unpackUpdateArchive(linked.c_str(), f2));
    std::string data = std::string(f2.ptr) + "/L.app/Contents/Resources/scenario.data";
    ASSERT_EQ(symlink("/etc/hostname", data.c_str()), 0);
    EXPECT_FALSE(findUpdateBundle(f2.ptr, b2));
    // And a bundle without an executable installer does not start.
    EXPECT_FALSE(startUpdateInstaller((std::string(folder.ptr) + "/Empty.app").c_str()));
    unsetenv("TMPDIR");
    unsetenv("QMX_TEST_MARK");
}

// The installer removes the unpacked update it was started from when it ends, and
// nothing that only looks like one.
TEST(UpdateArchive, InstallerRemovesTheFolderItWasStartedFrom) {
    testutil::TempDir tmp, elsewhere;
    testutil::EnvScope env("TMPDIR", tmp.path());
    // A private folder as the update's unpacking makes it, with an installer bundle.
    auto unpacked = [&](const std::string& in, const char* prefix, mode_t mode, const std::string& bundle) {
        std::string pattern = in + "/" + prefix + "XXXXXX";
        if (!mkdtemp(&pattern[0]) || chmod(pattern.c_str(), mode) != 0) return std::string();
        std::string macos = pattern + "/" + bundle + "/Contents/MacOS";
        return installtest::makeDirs(macos) && installtest::writeTextFile(macos + "/Installer", "x") ? pattern : "";
    };
    struct Case {
        const char* name;
        std::string folder, exe;
        bool removed;
    } cases[] = {
        {"ours", unpacked(tmp.path(), "qmxsopkg-", 0700, "U.app"), "U.app/Contents/MacOS/Installer", true},
        {"open to others", unpacked(tmp.path(), "qmxsopkg-", 0755, "U.app"), "U.app/Contents/MacOS/Installer", false},
        {"another name", unpacked(tmp.path(), "qmxsopkh-", 0700, "U.app"), "U.app/Contents/MacOS/Installer", false},
        {"not in the temporary folder", unpacked(elsewhere.path(), "qmxsopkg-", 0700, "U.app"),
         "U.app/Contents/MacOS/Installer", false},
        {"not a bundle", unpacked(tmp.path(), "qmxsopkg-", 0700, "U"), "U/Contents/MacOS/Installer", false},
    };
    for (const Case& c : cases) {
        ASSERT_FALSE(c.folder.empty()) << c.name;
        EXPECT_EQ(removeStartFolder((c.folder + "/" + c.exe).c_str()), c.removed) << c.name;
        EXPECT_EQ(installtest::exists(c.folder), !c.removed) << c.name;
    }
    // Reached through a link in the temporary folder: the link's target is not ours.
    std::string target = unpacked(elsewhere.path(), "qmxsopkg-", 0700, "U.app");
    std::string link = tmp.path() + "/qmxsopkg-link01";
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    EXPECT_FALSE(removeStartFolder((link + "/U.app/Contents/MacOS/Installer").c_str()));
    EXPECT_TRUE(installtest::exists(target + "/U.app/Contents/MacOS/Installer"));
}

TEST(WebAddresses, OnlyHttpAndHttpsReachTheOpenerAsOneArgument) {
    testutil::TempDir dir;
    std::string recorder = dir.file("opener.sh"), log = dir.file("opened");
    ASSERT_TRUE(installtest::writeTextFile(
        recorder, "#!/bin/sh\nprintf '%s|%s\\n' \"$#\" \"$1\" >> " + testutil::shellQuoted(log) + "\n"));
    chmod(recorder.c_str(), 0755);
    setWebOpener(recorder.c_str());
    struct Case {
        const char* address;
        bool opened;
    } cases[] = {
        {"http://example.invalid/a?b=1&c=$(id)`id`;id", true},
        {"HTTPS://example.invalid/", true},
        {"file:///etc/passwd", false},
        {"javascript:alert(1)", false},
        {"http://example.invalid/a b", false},
        {"http://example.invalid/\n--x", false},
        {"-http://x", false},
        {"http://", false},
        {"", false},
        {nullptr, false},
    };
    std::string expected;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address ? c.address : "(null)");
        EXPECT_EQ(openWebAddress(c.address), c.opened);
        if (c.opened) expected += std::string("1|") + c.address + "\n";
    }
    setWebOpener(nullptr);
    for (int i = 0; i < 1500 && installtest::readTextFile(log).size() < expected.size(); i++) usleep(20000);
    // Order may differ between detached openers; compare as sorted lines.
    std::string got = installtest::readTextFile(log);
    std::multiset<std::string> a, b;
    std::istringstream ga(got), gb(expected);
    for (std::string l; std::getline(ga, l);) a.insert(l);
    for (std::string l; std::getline(gb, l);) b.insert(l);
    EXPECT_EQ(a, b);
}

TEST(UpdateArchive, RealArchivesAgreeWithPythonsZipfile) {
    if (!testutil::haveTool("python3")) GTEST_SKIP() << "python3 not installed";
    // Zip files from installed Debian packages (jar files are zip archives).
    std::string list;
    testutil::run({"sh", "-c",
                   "find /usr/share/java /usr/share/maven-repo /usr/lib/python3* -maxdepth 6 "
                   "\\( -name '*.jar' -o -name '*.zip' -o -name '*.whl' \\) -type f -size -20M 2>/dev/null | "
                   "sort | head -60"},
                  &list);
    if (list.empty()) GTEST_SKIP() << "no zip archives installed";
    // The oracle: 0 when every entry is relative, free of "..", backslashes and links.
    const char* oracle =
        "import sys, zipfile, stat\n"
        "def verdict(p):\n"
        "    try:\n"
        "        z = zipfile.ZipFile(p)\n"
        "    except Exception:\n"
        "        return 'bad'\n"
        "    for i in z.infolist():\n"
        "        n = i.filename\n"
        "        if n.startswith('/') or '\\\\' in n or '..' in n.split('/') or (len(n) > 1 and n[1] == ':'):\n"
        "            return 'name'\n"
        "        if i.create_system == 3 and stat.S_IFMT(i.external_attr >> 16) not in (0, stat.S_IFREG, stat.S_IFDIR):\n"
        "            return 'type'\n"
        "    return 'ok'\n"
        "for p in sys.stdin.read().splitlines():\n"
        "    print(verdict(p))\n";
    std::string verdicts;
    testutil::TempDir tmp;
    ASSERT_TRUE(installtest::writeTextFile(tmp.file("list"), list));
    testutil::run({"sh", "-c", "python3 -c \"$0\" < \"$1\"", oracle, tmp.file("list")}, &verdicts);
    std::istringstream in(list), vin(verdicts);
    int tried = 0;
    for (std::string path, verdict; std::getline(in, path) && std::getline(vin, verdict);) {
        if (verdict == "bad") continue;
        SCOPED_TRACE(path);
        int r = checkUpdateArchive(path.c_str());
        if (verdict == "ok")
            EXPECT_EQ(r, eArchiveOk);
        else
            EXPECT_NE(r, eArchiveOk) << verdict;
        tried++;
    }
    EXPECT_GT(tried, 0);
    std::printf("checked %d real archives\n", tried);
}

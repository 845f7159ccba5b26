// Folders: listings against what the test created, object kinds, the special places
// from a made-up mount table, rights, and the mask matcher against fnmatch(3).
#include <gtest/gtest.h>

#include <fnmatch.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <map>
#include <random>
#include <string>

#include "base/folders.h"
#include "testutil.h"

using testutil::TempDir;

namespace {

// Creates one of every kind of object in `dir`; false when the system refused one.
bool populate(const std::string& dir) {
    bool ok = testutil::writeFile(dir + "/file.txt", "12345", 5) && testutil::writeFile(dir + "/.hidden", "h", 1) &&
              mkdir((dir + "/sub").c_str(), 0755) == 0 && mkdir((dir + "/.hdir").c_str(), 0755) == 0 &&
              symlink("file.txt", (dir + "/link-file").c_str()) == 0 &&
              symlink("sub", (dir + "/link-dir").c_str()) == 0 &&
              symlink("nowhere", (dir + "/dangling").c_str()) == 0 && mkfifo((dir + "/fifo").c_str(), 0644) == 0;
    return ok && testutil::makeSocketFile(dir + "/sock");
}

std::map<std::string, unsigned> listing(cFolderContents& fc) {
    std::map<std::string, unsigned> m;
    for (int i = 0; i < fc.count(); i++) m[fc.info(i)->name.ptr] = fc.info(i)->type;
    return m;
}

}  // namespace

TEST(FolderContents, ObjectKindsFollowLinks) {
    TempDir dir;
    ASSERT_TRUE(populate(dir.path()));
    const struct {
        const char* name;
        int type;
    } cases[] = {
        {"file.txt", 1}, {"sub", 2},  {"link-file", 1}, {"link-dir", 2}, {"dangling", 3},
        {"fifo", 7},     {"sock", 6}, {"missing", 0},   {".hidden", 1},
    };
    for (const auto& c : cases) EXPECT_EQ(c.type, cFolderContents::objtype(dir.file(c.name).c_str())) << c.name;
    EXPECT_EQ(5, cFolderContents::objtype("/dev/null"));
    EXPECT_EQ(2, cFolderContents::objtype("/"));
    EXPECT_EQ(0, cFolderContents::objtype(nullptr));
    EXPECT_EQ(0, cFolderContents::objtype(""));
}

TEST(FolderContents, ListingMatchesWhatWasCreated) {
    TempDir dir;
    ASSERT_TRUE(populate(dir.path()));
    cFolderContents fc;
    ASSERT_TRUE(fc.init(dir.path().c_str(), false));
    EXPECT_STREQ(dir.path().c_str(), fc.folder());
    const std::map<std::string, unsigned> all = {
        {"file.txt", 1}, {".hidden", 1}, {"sub", 2},  {".hdir", 2}, {"link-file", 1},
        {"link-dir", 2}, {"dangling", 3}, {"fifo", 7}, {"sock", 6},
    };
    EXPECT_EQ(all, listing(fc));
    for (int i = 0; i < fc.count(); i++) {
        const sFolderItemInfo* it = fc.info(i);
        EXPECT_EQ(it->name.ptr[0] == '.', it->hidden) << it->name.ptr;
        _guardchar<char> p;
        ASSERT_TRUE(fc.path(i, p));
        EXPECT_EQ(dir.file(it->name.ptr), p.ptr);
    }
    EXPECT_EQ(nullptr, fc.info(-1));
    EXPECT_EQ(nullptr, fc.info(fc.count()));
    _guardchar<char> p;
    EXPECT_FALSE(fc.path(fc.count(), p));

    // Files and folders only: the dangling link, the FIFO and the socket go.
    ASSERT_TRUE(fc.init(dir.path().c_str(), true));
    std::map<std::string, unsigned> want = all;
    for (const char* gone : {"dangling", "fifo", "sock"}) want.erase(gone);
    EXPECT_EQ(want, listing(fc));

    // Sizes and local dates of files.
    struct utimbuf ut = {1000000000, 1000000000};  // 2001-09-09 01:46:40 UTC
    ASSERT_EQ(0, utime(dir.file("file.txt").c_str(), &ut));
    ASSERT_TRUE(fc.init(dir.path().c_str(), true));
    time_t t = 1000000000;
    struct tm tmv;
    localtime_r(&t, &tmv);
    bool seen = false;
    for (int i = 0; i < fc.count(); i++) {
        const sFolderItemInfo* it = fc.info(i);
        if (std::string(it->name.ptr) != "file.txt") continue;
        seen = true;
        EXPECT_EQ(5u, it->size);
        EXPECT_EQ(tmv.tm_year + 1900, (int)it->date.year);  // packed: copy, never bind
        EXPECT_EQ(tmv.tm_mon + 1, it->date.month);
        EXPECT_EQ(tmv.tm_mday, it->date.day);
        EXPECT_EQ(tmv.tm_hour, it->date.hour);
        EXPECT_EQ(tmv.tm_min, it->date.minute);
        EXPECT_EQ(tmv.tm_sec, it->date.second);
    }
    EXPECT_TRUE(seen);

    EXPECT_FALSE(fc.init(dir.file("missing").c_str(), false));
    EXPECT_EQ(0, fc.count());
    EXPECT_FALSE(fc.init(dir.file("file.txt").c_str(), false));
    EXPECT_FALSE(fc.init(nullptr, false));
}

TEST(FolderContents, PathsOfRootHaveOneSlash) {
    cFolderContents fc;
    ASSERT_TRUE(fc.init("/", true));
    ASSERT_GT(fc.count(), 0);
    _guardchar<char> p;
    ASSERT_TRUE(fc.path(0, p));
    EXPECT_EQ('/', p.ptr[0]);
    EXPECT_NE('/', p.ptr[1]);
}

TEST(FolderContents, JoinPathPutsOneSlashBetween) {
    const struct {
        const char *folder, *name, *want;
    } cases[] = {
        {"/a", "b", "/a/b"},   {"/a/", "b", "/a/b"}, {"/a", "/b", "/a/b"}, {"/a/", "/b", "/a/b"},
        {"/", "b", "/b"},      {"", "b", "b"},       {nullptr, "/b", "/b"}, {"a", "", "a/"},
        {"a", ".lock", "a/.lock"},
    };
    for (const auto& c : cases) {
        _guardchar<char> out;
        ASSERT_TRUE(joinPath(c.folder, c.name, out));
        EXPECT_STREQ(c.want, out.ptr) << (c.folder ? c.folder : "(null)") << " + " << c.name;
    }
    _guardchar<char> grown("/usr");  // the folder's own holder
    ASSERT_TRUE(joinPath(grown.ptr, "lib", grown));
    EXPECT_STREQ("/usr/lib", grown.ptr);
}

TEST(FolderContents, ResolveDotPartsAsTyped) {
    const struct {
        const char *path, *want;
    } cases[] = {
        {"/home/ro/../Applications", "/home/Applications"}, {"/a/b/../c/.", "/a/c"}, {"/a/..", "/"},
        {"/..", "/"}, {"/a/../../b", "/b"}, {"//a//./b/", "/a/b"}, {"/", "/"}, {"/a/..b/.c/...", "/a/..b/.c/..."},
        {"../a/../../b", "../../b"}, {"a/..", "."}, {"./", "."}, {"a/./b//", "a/b"}, {"..", ".."},
    };
    for (const auto& c : cases) {
        _guardchar<char> p(c.path);
        resolveDotParts(p.ptr);
        EXPECT_STREQ(c.want, p.ptr) << c.path;
    }
}

// Only an absolute path has a parent here: callers refuse relative ones through it.
TEST(FolderContents, ParentFolderOfAbsolutePathsOnly) {
    const struct {
        const char *path, *want;
    } cases[] = {{"/a/b/c", "/a/b"}, {"/c", "/"}, {"/", "/"}, {"/a/b/", "/a/b"}, {"a/b", nullptr}, {"", nullptr}};
    for (const auto& c : cases) {
        _guardchar<char> out;
        ASSERT_EQ(c.want != nullptr, parentFolder(c.path, out)) << c.path;
        EXPECT_STREQ(c.want, c.want ? out.ptr : nullptr) << c.path;
    }
}

TEST(FolderContents, SpecialPlacesFromMountTable) {
    TempDir dir;
    std::string vol = dir.file("My Disk"), net = dir.file("net"), dup = dir.file("usb");
    ASSERT_EQ(0, mkdir(vol.c_str(), 0755));
    ASSERT_EQ(0, mkdir(net.c_str(), 0755));
    ASSERT_EQ(0, mkdir(dup.c_str(), 0755));
    ASSERT_TRUE(testutil::writeFile(dir.file("boundfile"), "x", 1));
    // The kernel writes a blank, tab, line feed or backslash of a path as \ooo ("My\040Disk"),
    // the temporary folder's own included.
    auto escaped = [](const std::string& path) {
        std::string out;
        char octal[5];
        for (char c : path)
            out += c && strchr(" \t\n\\", c) ? (snprintf(octal, sizeof octal, "\\%03o", c), octal) : std::string(1, c);
        return out;
    };
    std::string table = "proc /proc proc rw 0 0\n"
                        "sysfs /sys sysfs rw 0 0\n"
                        "tmpfs " + escaped(dir.path()) + " tmpfs rw 0 0\n"                 // pseudo type
                        "/dev/sda1 / ext4 rw 0 0\n"                                        // the root, listed once as 8
                        "/dev/sdb1 " + escaped(vol) + " vfat rw 0 0\n"
                        "server:/export " + escaped(net) + " nfs4 rw 0 0\n"
                        "/dev/sdc1 " + escaped(dup) + " ext4 rw 0 0\n"
                        "/dev/sdc1 " + escaped(dup) + " ext4 rw 0 0\n"                     // listed twice
                        "/dev/sda1 " + escaped(dir.file("boundfile")) + " ext4 rw 0 0\n"  // a file, not a place
                        "/dev/sdd1 " + escaped(dir.file("gone")) + " ext4 rw 0 0\n"
                        "/dev/loop3 /snap/core/1 squashfs ro 0 0\n"
                        "garbage\n"
                        "\n";
    std::string tablePath = dir.file("mounts");
    ASSERT_TRUE(testutil::writeFile(tablePath, table.data(), table.size()));
    testutil::EnvScope home("HOME", dir.path());

    cFolderContents fc;
    ASSERT_TRUE(fc.enumSpecialLocations(tablePath.c_str()));
    EXPECT_EQ(nullptr, fc.folder());
    std::vector<std::pair<std::string, unsigned>> got;
    for (int i = 0; i < fc.count(); i++) got.push_back({fc.info(i)->name.ptr, fc.info(i)->type});
    std::vector<std::pair<std::string, unsigned>> want = {
        {dir.path(), 9}, {"/", 8}, {vol, 10}, {net, 10}, {dup, 10}};
    EXPECT_EQ(want, got);
    ASSERT_EQ(5, fc.count());
    EXPECT_STREQ("My Disk", fc.info(2)->displayName.ptr);
    _guardchar<char> p;
    ASSERT_TRUE(fc.path(2, p));
    EXPECT_EQ(vol, p.ptr);

    // The real table answers at least home and root, whatever is mounted here.
    ASSERT_TRUE(fc.enumSpecialLocations());
    ASSERT_GE(fc.count(), 2);
    EXPECT_EQ(9u, fc.info(0)->type);
    EXPECT_EQ(8u, fc.info(1)->type);
}

TEST(FolderContents, HomeFromEnvironmentOrPasswordDatabase) {
    testutil::EnvScope home("HOME", "/some/where");
    _guardchar<char> h;
    ASSERT_TRUE(cFolderContents::getHome(h));
    EXPECT_STREQ("/some/where", h.ptr);
    unsetenv("HOME");
    if (cFolderContents::getHome(h)) {
        EXPECT_EQ('/', h.ptr[0]);
    }
}

TEST(FolderContents, MakeRemoveAndRights) {
    TempDir dir;
    std::string sub = dir.file("new"), file = dir.file("f");
    ASSERT_TRUE(testutil::writeFile(file, "x", 1));
    EXPECT_TRUE(cFolderContents::mkdir(sub.c_str()));
    EXPECT_EQ(2, cFolderContents::objtype(sub.c_str()));
    EXPECT_TRUE(cFolderContents::mkdir(sub.c_str()));  // already a folder
    EXPECT_FALSE(cFolderContents::mkdir(file.c_str()));  // a file is in the way
    EXPECT_FALSE(cFolderContents::mkdir(dir.file("a/b").c_str()));
    ASSERT_TRUE(testutil::writeFile(sub + "/inside", "y", 1));
    EXPECT_FALSE(cFolderContents::removeDir(sub.c_str()));  // not empty
    unlink((sub + "/inside").c_str());
    EXPECT_TRUE(cFolderContents::removeDir(sub.c_str()));
    EXPECT_EQ(0, cFolderContents::objtype(sub.c_str()));

    const struct {
        int u, g, o;
        bool ok;
        mode_t mode;
    } perms[] = {{7, 5, 5, true, 0755}, {6, 4, 0, true, 0640}, {0, 0, 0, true, 0}, {8, 0, 0, false, 0},
                 {7, -1, 0, false, 0}};
    for (const auto& c : perms) {
        EXPECT_EQ(c.ok, cFolderContents::setPermissions(file.c_str(), c.u, c.g, c.o));
        struct stat st;
        ASSERT_EQ(0, stat(file.c_str(), &st));
        if (c.ok) {
            EXPECT_EQ(c.mode, st.st_mode & 0777);
        }
    }
    EXPECT_FALSE(cFolderContents::setPermissions(dir.file("missing").c_str(), 6, 4, 4));

    EXPECT_FALSE(cFolderContents::canWrite(dir.file("missing").c_str()));
    EXPECT_TRUE(cFolderContents::canWrite(dir.path().c_str()));
    unsigned long long total = 0, avail = 0;
    ASSERT_TRUE(cFolderContents::getVolInfo(dir.path().c_str(), total, avail));
    EXPECT_GT(total, 0u);
    EXPECT_LE(avail, total);
    EXPECT_FALSE(cFolderContents::getVolInfo(dir.file("missing").c_str(), total, avail));
}

TEST(FolderContents, ReadOnlyFolderWritableOnlyForSuperuser) {
    TempDir dir;
    std::string ro = dir.file("ro");
    // Modes set whatever the umask: an ordinary user reaches the folder, and may not write to ro.
    ASSERT_EQ(0, mkdir(ro.c_str(), 0555));
    ASSERT_EQ(0, chmod(ro.c_str(), 0555));
    ASSERT_EQ(0, chmod(dir.path().c_str(), 0755));
    if (geteuid() == 0) {
        EXPECT_TRUE(cFolderContents::canWrite(ro.c_str()));
        // The ordinary user's answer, from a child that gives up the superuser's rights.
        int refused = testutil::asOrdinaryUser(
            [&] { return !cFolderContents::canWrite(ro.c_str()) && !cFolderContents::mkdir((ro + "/x").c_str()); });
        if (refused == -1) GTEST_SKIP() << testutil::kNoOrdinaryUser;
        EXPECT_EQ(1, refused);
    } else {
        EXPECT_FALSE(cFolderContents::canWrite(ro.c_str()));
        EXPECT_FALSE(cFolderContents::mkdir((ro + "/x").c_str()));
        chmod(ro.c_str(), 0755);
        EXPECT_TRUE(cFolderContents::canWrite(ro.c_str()));
    }
}

TEST(FolderContents, MasksMatchLikeFnmatch) {
    const struct {
        const char* name;
        const char* masks;
        bool match;
    } cases[] = {
        {"a.txt", "*.txt", true},     {"a.txt", "*.TXT", false},   {"a.txt", "*.doc;*.txt", true},
        {"a.txt", "*.doc;*.pdf", false}, {"a.txt", "", true},        {"a.txt", nullptr, true},
        {"a.txt", ";", true},         {"a.txt", "*.doc;", false},  {"", "*", true},
        {"", "?", false},             {"abc", "a?c", true},        {"abc", "a??c", false},
        {"abc", "abc*", true},        {"abc", "*abc*", true},      {"abcabd", "*ab?", true},
        {"mississippi", "m*iss*ppi", true}, {"mississippi", "m*iss*ppx", false}, {nullptr, "*", true},
        {"x;y", "x;y", false},        {"readme", "READ*", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.match, cFolderContents::wcmmatch(c.name, c.masks))
            << (c.name ? c.name : "(null)") << " / " << (c.masks ? c.masks : "(null)");

    // Random names and single masks over a small alphabet, against fnmatch(3).
    std::mt19937 rng(9);
    const char nameChars[] = "ab.";
    const char maskChars[] = "ab.*?";
    for (int i = 0; i < 20000; i++) {
        std::string name, mask;
        for (int n = rng() % 9; n > 0; n--) name += nameChars[rng() % 3];
        for (int n = 1 + rng() % 7; n > 0; n--) mask += maskChars[rng() % 5];
        bool want = fnmatch(mask.c_str(), name.c_str(), 0) == 0;
        ASSERT_EQ(want, cFolderContents::wcmmatch(name.c_str(), mask.c_str())) << name << " / " << mask;
    }

    // Patterns that take a naive backtracking matcher exponential time.
    std::string longName(4000, 'a');
    EXPECT_FALSE(cFolderContents::wcmmatch(longName.c_str(), "*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b"));
    EXPECT_TRUE(cFolderContents::wcmmatch((longName + "b").c_str(), "*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b"));
    EXPECT_TRUE(cFolderContents::pathCaseSensetive("/"));
}

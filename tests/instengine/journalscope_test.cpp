// Where a journal's package may act: the folders a package may have without a record,
// and hand-written journals that name the user's own files, refused whole through every
// way a journal is recovered.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "installtest.h"
#include "instengine/installinit.h"
#include "instengine/journalformat.h"
#include "instengine/journalrecovery.h"
#include "instengine/journalscope.h"
#include "instengine/packagefolders.h"
#include "instengine/pkgregistry.h"
#include "instengine/uninstall.h"
#include "softmgr/ossupport.h"

using namespace installtest;

namespace {

// Any folder may hold a package, the home folder, the folders above it and the root
// too; only the program's own are refused, as named and by their real paths.
TEST(JournalScope, FoldersAPackageMayHaveWithoutARecord) {
    PrivateHome home;
    const std::string h = home.path();
    ASSERT_TRUE(makeDirs(h + "/opt/store/x") && makeDirs(h + "/Documents"));
    ASSERT_EQ(symlink((h + "/opt/store").c_str(), (h + "/store-link").c_str()), 0);
    ASSERT_EQ(symlink((h + "/Documents").c_str(), (h + "/docs-link").c_str()), 0);
    cMemConfig store, plain;  // the store the caller gives, in a folder of its own; one without
    store.folderPath = h + "/opt/store";
    const std::string bundle = h + "/Applications/QMX Software Manager.app";
    struct {
        std::string folder;
        bool may;
        bool own;  // isProgramFolder
    } cases[] = {
        {h + "/Applications/Tool", true, false},
        {h + "/Applications", true, false},
        {h + "/Documents", true, false},
        {h + "/Documents/Apps/x", true, false},
        {h + "/docs-link/Tool", true, false},
        {h + "/.local/opt/x", true, false},
        {h + "/.qmx", true, false},  // not the store with a store of its own
        {h + "/opt", true, false},   // holds the store's folder, is none of it
        {"/opt", true, false},
        {"/etc/tool", true, false},
        {"/mnt/disk/Tool", true, false},
        {"/run/media/u/usb", true, false},
        {"/", true, false},
        {h, true, false},
        {h.substr(0, h.rfind('/')), true, false},  // above the home folder
        {bundle, false, true},
        {bundle + "/Contents", false, true},
        {h + "/opt/store", false, true},
        {h + "/opt/store/tool", false, true},
        {h + "/store-link/x", false, true},  // its real path is in the store's folder
        {"relative/Tool", false, false},
        {h + "/a/../b", false, false},
    };
    for (auto& c : cases) {
        EXPECT_EQ(mayBePackageFolder(c.folder.c_str(), &store), c.may) << c.folder;
        EXPECT_EQ(isProgramFolder(c.folder.c_str(), &store), c.own) << c.folder;
    }
    // A store without a folder of its own is "$HOME/.qmx".
    EXPECT_FALSE(mayBePackageFolder((h + "/.qmx").c_str(), &plain));
    EXPECT_TRUE(isProgramFolder((h + "/.qmx/x").c_str(), &plain));
    EXPECT_TRUE(mayBePackageFolder(h.c_str(), &plain));
}

// A record's values are written escaped: a backslash as "\5c".
std::string journalText(const char* state, const std::vector<std::string>& lines) {
    std::string t = std::string("QMXINFLIGHT 3\nstate ") + state + "\n";
    for (std::string l : lines) {
        for (size_t at = 0; l.rfind("rec ", 0) == 0 && (at = l.find('\\', at)) != std::string::npos; at += 3)
            l.replace(at, 1, "\\5c");
        t += l + "\n";
    }
    return t + "end " + std::to_string(lines.size()) + "\n";
}

// The same journal with a digest, as this build writes it.
std::string withDigest(const std::string& path, const std::string& v3) {
    sJournal j;
    if (!writeTextFile(path, v3) || readJournal(path.c_str(), j) != eJournalReadWhole) return "";
    j.version = 4;
    return saveJournal(path.c_str(), j, j.committed) == 1 ? readTextFile(path) : "";
}

// Journals naming the user's files through each of their lines, records that would make
// a later uninstallation remove them, and ones without a digest beyond the package's
// record: each refused whole (with the path that is outside) and set aside, with nothing
// changed, by the manager's start, the installer or a recovery of its own; the run then
// goes on. The uninstallation after them removes nothing of the user's either. Nothing is
// made for a refused journal, not even where the manager's copy would go.
TEST(JournalScope, RefusedJournalsAreSetAsideAndChangeNoFileNoInstallationPutThere) {
    useAppLanguages();
    testutil::TempDir work;
    PrivateHome home;
    cMemConfig store;
    const std::string pkg = work.file("p.data"), h = home.path(), p = home.installFolder();
    const std::string code = "org.qmx.test.pkg", reg = "code " + code, docs = h + "/Documents";
    const std::string aside = home.journal() + ".refused";
    {
        FullTree first;
        walkFull(h, first, "", {".qmx"});
        const std::string text = journalText("committed", {reg, "register", "manager " + home.fakeExe(), "rec ver 1",
                                                           "rec path " + docs + "/Tool"});
        ASSERT_TRUE(makeDirs(h + "/.qmx") && writeTextFile(home.journal(), text));
        _List<_guardchar<char> > unfinished;
        _List<sSetAsideJournal> setAside;
        EXPECT_TRUE(recoverAllInterrupted(&store, nullptr, &unfinished, &setAside));
        EXPECT_TRUE(unfinished.empty() && setAside.count() == 1 && setAside.head->value.path.ptr == aside);
        FullTree made;
        walkFull(h, made, "", {".qmx"});
        EXPECT_EQ(treeDiff(made, first), "");
        ASSERT_EQ(unlink(aside.c_str()), 0);
    }
    ASSERT_TRUE(makePackage(work.path(), "1.0", {{"bin/tool", "tool"}, {"doc/README", "read me"}}, pkg));
    ASSERT_EQ(install(pkg, home, &store).job, 0u);
    _guardchar<char> entryFolder, longer;
    ASSERT_TRUE(desktopEntryFolder(entryFolder));
    // A package whose code name begins with this one's and "-", and its entry's name.
    ASSERT_TRUE(store.setParamInt64("install/org.qmx.test.pkg-more/ver", 1));
    ASSERT_TRUE(sysShortcutPath(longer, "Tool", "org.qmx.test.pkg-more"));
    const std::string e = entryFolder.ptr, thesis = docs + "/thesis.txt", other = longer.ptr;
    for (auto f : {thesis, thesis + ".bkp", h + "/notes.txt", h + "/notes.desktop.tmp", h + "/Applications/mine.txt",
                   p + "/user.txt", e + "/user-own.desktop", other})
        ASSERT_TRUE(makeDirs(f.substr(0, f.rfind('/'))) && writeTextFile(f, "the user's " + f));
    ASSERT_TRUE(makeDirs(h + "/Music") && makeDirs(docs + "/empty") && makeDirs(h + "/.qmx/x"));
    ASSERT_EQ(symlink(docs.c_str(), (p + "/link").c_str()), 0);
    ASSERT_EQ(symlink(docs.c_str(), (h + "/Applications/Lnk").c_str()), 0);
    struct {
        const char* name;
        std::string journal, outside;
        bool digest;
    } cases[] = {
        {"a file outside", journalText("pending", {"N " + thesis}), thesis},
        {"a backup beside the user's file", journalText("pending", {"R " + thesis}), thesis},
        {"the home folder as its root", journalText("committed", {"D " + h, "O " + h + "/notes.txt"}), h},
        {"a link in the package's folder", journalText("pending", {"N " + p + "/link/thesis.txt"}),
         p + "/link/thesis.txt"},
        {"a root that is a link",
         journalText("pending", {"D " + h + "/Applications/Lnk", "N " + h + "/Applications/Lnk/thesis.txt"}),
         h + "/Applications/Lnk"},
        {"another menu entry", journalText("committed", {"Q " + e + "/user-own.desktop"}), e + "/user-own.desktop"},
        {"an entry outside the entries folder", journalText("pending", {"E " + h + "/notes.desktop"}),
         h + "/notes.desktop"},
        {"an empty folder on no root's way", journalText("pending", {"M " + h + "/Music"}), h + "/Music"},
        {"a record listing a user's file",
         journalText("committed", {reg, "register", "rec ver 1", "rec path " + docs, "rec file " + thesis}), thesis},
        {"a record listing a file its run did not write",
         journalText("committed",
                     {"D " + p, reg, "register", "rec ver 1", "rec path " + p, "rec file " + p + "/user.txt"}),
         p + "/user.txt"},
        {"a removal whose record lies in a user folder",
         journalText("committed", {reg, "unregister", "rec ver 1", "rec path " + docs, "rec dir " + docs + "/empty"}),
         docs},
        {"with a digest, a record listing a file its run did not write",
         journalText("committed",
                     {"D " + p, reg, "register", "rec ver 1", "rec path " + p, "rec file " + p + "/user.txt"}),
         p + "/user.txt", true},
        {"with a digest, a root that is a link",
         journalText("pending", {"D " + h + "/Applications/Lnk", "N " + h + "/Applications/Lnk/thesis.txt"}),
         h + "/Applications/Lnk", true},
        {"with a digest, the entry of a longer code name",
         journalText("committed", {"E " + other, reg, "register", "rec ver 1", "rec path " + p, "rec shortc " + other}),
         other, true},
        {"with a digest, a root in the store's folder", journalText("pending", {"D " + h + "/.qmx/x", "N " + h + "/.qmx/x/f"}),
         h + "/.qmx/x", true},
        {"with a digest, the home folder as its root and a file in the store's folder",
         journalText("pending", {"D " + h, "N " + h + "/.qmx/x/f"}), h + "/.qmx/x/f", true},
        {"with a digest, the home folder as a folder its run made", journalText("pending", {"D " + h, "M " + h}), h,
         true},
    };
    FullTree before;
    walkFull(h, before, "", {".qmx"});
    int n = 0;
    for (auto& c : cases) {
        const std::string text = c.digest ? withDigest(home.journal(), c.journal) : c.journal;
        ASSERT_TRUE(!text.empty() && writeTextFile(home.journal(), text)) << c.name;
        // Each next run in turn: a recovery of its own, the manager's start, the installer.
        switch (n++ % 3) {
            case 0: {
                sRecoveryReport report;
                EXPECT_TRUE(recoverInterrupted(home.journal().c_str(), nullptr, nullptr, &store, &report)) << c.name;
                EXPECT_EQ(report.outcome, (int)sRecoveryReport::eRefused) << c.name;
                EXPECT_EQ(std::string(report.path.ptr ? report.path.ptr : ""), c.outside) << c.name;
                EXPECT_EQ(std::string(report.setAside.ptr ? report.setAside.ptr : ""), aside) << c.name;
                break;
            }
            case 1: {
                _List<_guardchar<char> > unfinished;
                _List<sSetAsideJournal> setAside;
                EXPECT_TRUE(recoverAllInterrupted(&store, nullptr, &unfinished, &setAside)) << c.name;
                EXPECT_TRUE(setAside.count() == 1 && setAside.head->value.code.ptr == code) << c.name;
                break;
            }
            default: EXPECT_EQ(install(pkg, home, &store).init, (unsigned)eIINoUpdate) << c.name;
        }
        FullTree now;
        walkFull(h, now, "", {".qmx"});
        EXPECT_EQ(treeDiff(now, before), "") << c.name;
        EXPECT_FALSE(exists(home.journal())) << c.name;
        EXPECT_EQ(readTextFile(aside), text) << c.name << ": set aside as it was";
        ASSERT_EQ(unlink(aside.c_str()), 0);
    }
    // The uninstallation goes on past one too.
    ASSERT_TRUE(writeTextFile(home.journal(), cases[0].journal));
    ASSERT_EQ(uninstallPackage(&store, code), (unsigned)eUNRemoved);
    EXPECT_EQ(readTextFile(aside), cases[0].journal);
    FullTree after;
    walkFull(h, after, "", {".qmx"});
    for (auto& b : before) {
        bool package = b.first.find("/Applications/Test/bin") == 0 || b.first.find("/Applications/Test/doc") == 0 ||
                       b.first.find("/Applications/QMX Software Manager.app") == 0;
        if (!package) {
            EXPECT_EQ(after[b.first], b.second) << b.first;
        }
    }
}

}  // namespace

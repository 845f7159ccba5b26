// Where a journal's package may act: the folders a package may have without a record,
// and hand-written journals that name the user's own files, refused whole through every
// way a journal is recovered.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "installtest.h"
#include "instengine/installinit.h"
#include "instengine/journal.h"
#include "instengine/journalscope.h"
#include "instengine/pkgregistry.h"
#include "instengine/uninstall.h"
#include "softmgr/ossupport.h"

using namespace installtest;

namespace {

TEST(JournalScope, FoldersAPackageMayHaveWithoutARecord) {
    PrivateHome home;
    const std::string h = home.path();
    ASSERT_TRUE(makeDirs(h + "/opt/store/x") && makeDirs(h + "/Documents"));
    ASSERT_EQ(symlink((h + "/opt/store").c_str(), (h + "/store-link").c_str()), 0);
    ASSERT_EQ(symlink((h + "/Documents").c_str(), (h + "/docs-link").c_str()), 0);
    cMemConfig store;  // the store the caller gives, in a folder of its own
    store.folderPath = h + "/opt/store";
    struct {
        std::string folder;
        bool may;
    } cases[] = {
        {h + "/Applications/Tool", true},
        {h + "/Applications", true},
        {h + "/Documents", true},
        {h + "/Documents/Apps/x", true},
        {h + "/docs-link/Tool", true},
        {h + "/.local/opt/x", true},
        {h + "/.qmx", true},  // not the store with a store of its own
        {h + "/opt", true},   // holds the store's folder, is none of it
        {"/opt", true},
        {"/etc/tool", true},
        {"/usr/local/share/tool", true},
        {"/mnt/disk/Tool", true},
        {"/run/media/u/usb", true},
        {"/media/usb/Tool", true},
        {"/srv/tool", true},
        {"/var/opt/tool", true},
        {"/", false},
        {h, false},
        {h.substr(0, h.rfind('/')), false},  // above the home folder
        {h + "/Applications/QMX Software Manager.app", false},
        {h + "/Applications/QMX Software Manager.app/Contents", false},
        {h + "/opt/store", false},
        {h + "/opt/store/tool", false},
        {h + "/store-link/x", false},  // its real path is in the store's folder
        {"relative/Tool", false},
        {h + "/a/../b", false},
    };
    for (auto& c : cases) EXPECT_EQ(mayBePackageFolder(c.folder.c_str(), &store), c.may) << c.folder;
}

std::string journalText(const char* state, const std::vector<std::string>& lines) {
    std::string t = std::string("QMXINFLIGHT 3\nstate ") + state + "\n";
    for (auto& l : lines) t += l + "\n";
    return t + "end " + std::to_string(lines.size()) + "\n";
}

// Journals naming the user's files through each of their lines, and records that would
// make a later uninstallation remove them: each refused whole (with the path that is
// outside), kept, and reported by the manager's start, the uninstallation and the
// installer, with nothing changed; the uninstallation of the package after them removes
// nothing of the user's either.
TEST(JournalScope, HandWrittenJournalsChangeNoFileNoInstallationPutThere) {
    useAppLanguages();
    testutil::TempDir work;
    PrivateHome home;
    cMemConfig store;
    const std::string pkg = work.file("p.data"), h = home.path(), p = home.installFolder();
    ASSERT_TRUE(makePackage(work.path(), "1.0", {{"bin/tool", "tool"}, {"doc/README", "read me"}}, pkg));
    ASSERT_EQ(install(pkg, home, &store).job, 0u);
    _guardchar<char> entryFolder;
    ASSERT_TRUE(desktopEntryFolder(entryFolder));
    const std::string e = entryFolder.ptr, docs = h + "/Documents", thesis = docs + "/thesis.txt";
    for (auto f : {thesis, thesis + ".bkp", h + "/notes.txt", h + "/notes.desktop.tmp", h + "/Applications/mine.txt",
                   p + "/user.txt", e + "/user-own.desktop"})
        ASSERT_TRUE(makeDirs(f.substr(0, f.rfind('/'))) && writeTextFile(f, "the user's " + f));
    ASSERT_TRUE(makeDirs(h + "/Music") && makeDirs(docs + "/empty"));
    ASSERT_EQ(symlink(docs.c_str(), (p + "/link").c_str()), 0);
    ASSERT_EQ(symlink(docs.c_str(), (h + "/Applications/Lnk").c_str()), 0);
    const std::string reg = "code org.qmx.test.pkg";
    struct {
        const char* name;
        std::string journal, outside;
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
    };
    FullTree before;
    walkFull(h, before, "", {".qmx"});
    const std::string code = "org.qmx.test.pkg";
    for (auto& c : cases) {
        ASSERT_TRUE(writeTextFile(home.journal(), c.journal)) << c.name;
        sRecoveryReport report;
        EXPECT_FALSE(recoverInterrupted(home.journal().c_str(), nullptr, nullptr, &store, &report)) << c.name;
        EXPECT_EQ(report.outcome, (int)sRecoveryReport::eRefused) << c.name;
        EXPECT_EQ(std::string(report.path.ptr ? report.path.ptr : ""), c.outside) << c.name;
        _List<_guardchar<char> > unfinished;
        EXPECT_FALSE(recoverAllInterrupted(&store, nullptr, &unfinished)) << c.name;
        EXPECT_TRUE(unfinished.count() == 1 && unfinished.head->value.ptr == code) << c.name;
        ScriptedAsker yes;
        EXPECT_EQ(uninstallPackage(&store, code, &yes), (unsigned)eUNUnfinished) << c.name;
        EXPECT_TRUE(yes.asked.empty()) << c.name;
        EXPECT_EQ(install(pkg, home, &store).init, (unsigned)eIIUnfinished) << c.name;
        FullTree now;
        walkFull(h, now, "", {".qmx"});
        EXPECT_EQ(treeDiff(now, before), "") << c.name;
        EXPECT_EQ(readTextFile(home.journal()), c.journal) << c.name << ": kept as it was";
    }
    ASSERT_EQ(unlink(home.journal().c_str()), 0);
    ASSERT_EQ(uninstallPackage(&store, code), (unsigned)eUNRemoved);
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

// The Software Manager form on the headless maker against a loopback update server: the
// list before the check, rows marked as answers arrive, Ctrl+Q while the server stalls,
// the empty list with the remove link, the language switch reopening the form; the
// removal of the manager; the update form's Install from download to installer start.
#include "softmgrapp/softmgrform.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "apptest.h"
#include "base/job.h"
#include "ciplatform/headless.h"
#include "configstore/ciappconfig.h"
#include "installtest.h"
#include "instengine/installinit.h"
#include "instengine/installjob.h"
#include "instengine/packageclaim.h"
#include "instengine/pkgregistry.h"
#include "memconfig.h"
#include "nethttp/httptransport.h"
#include "netio/pyserver.h"
#include "softmgr/ossupport.h"
#include "softmgrapp/jobforms.h"
#include "softmgrapp/remover.h"
#include "softmgrapp/softmgrapp.h"
#include "softmgrapp/sopkglang.h"
#include "softmgrapp/updatecheck.h"
#include "softmgrapp/updateform.h"
#include "testutil.h"
#include "ui/controls/header.h"
#include "ui/controls/messageform.h"
#include "ui/controls/popupmenu.h"
#include "ui/elementhost.h"
#include "ui/lang.h"

using installtest::PrivateHome;
using namespace apptest;

namespace {

void addPackage(cMemConfig& s, const std::string& code, unsigned long long ver, const std::string& name,
                const std::string& publisher = "") {
    std::string sec = "install/" + code + "/";
    s.setParamInt64((sec + "ver").c_str(), ver);
    s.setParamStr((sec + "name").c_str(), name.c_str(), -1);
    s.setParamInt32((sec + "utime").c_str(), 1700000000u);
    if (!publisher.empty()) s.setParamStr((sec + "publisher").c_str(), publisher.c_str(), -1);
}

// A desktop opener on PATH that records that it was started.
struct cStandInOpener {
    testutil::TempDir dir;
    std::string record = dir.file("record");
    testutil::EnvScope path{"PATH", testutil::pathBefore(dir.path())};
    cStandInOpener() {
        std::string at = dir.file("xdg-open");
        const std::string script = "#!/bin/sh\nprintf '%s\\n' \"$*\" >> " + testutil::shellQuoted(record) + "\n";
        EXPECT_TRUE(installtest::writeTextFile(at, script) && chmod(at.c_str(), 0755) == 0);
    }
    bool called() { return access(record.c_str(), F_OK) == 0; }
};

// A save-as chooser that counts its calls and is cancelled.
int gAsked = 0;
bool countChoice(cChildElement*, const char*, const char*, const char*, _guardchar<char>&) {
    gAsked++;
    return false;
}

bool isLink(cChildElement* e) { return dynamic_cast<cLinkElement*>(e) != nullptr; }

unsigned long long v(unsigned a, unsigned b) { return (unsigned long long)a << 48 | (unsigned long long)b << 32; }

class Manager : public ::testing::Test {
protected:
    void SetUp() override {
        useLanguage(eLangENG);
        maker.setModalScript(&script);
        maker.setIdleTimeout(20000);
        cRemoverJob::gPauseMs = 0;
    }
    void TearDown() override { cSOPKGLang::applyLang(eLangENG); }
    cHeadlessWindowMaker maker;
    cAnswerScript script;
    testutil::TempDir work;
    cMemConfig store;
};

}  // namespace

TEST_F(Manager, ListFirstThenRowsMarkedByTheCheck) {
    if (!testutil::haveTool("python3")) GTEST_SKIP() << "python3 not installed";
    std::string answer = "2.0\r\nhttp://h.example/files/u.zip\r\nhttp://h.example/\r\nFixes\r\n";
    ASSERT_TRUE(testutil::writeFile(work.file("org.a.answer"), answer.data(), answer.size()));
    std::string older = "1.5\r\nhttp://h.example/b.zip\r\nhttp://h.example/\r\n";
    ASSERT_TRUE(testutil::writeFile(work.file("org.b.answer"), older.data(), older.size()));
    PyServer server({serverScript(), work.path()});
    ASSERT_NE(server.port(), 0);
    ServerEnv env(server.port());
    addPackage(store, "org.a", v(1, 0), "Alpha", "http://alpha.example/");
    addPackage(store, "org.b", v(2, 0), "Beta");
    store.setParamStr("install/org.nover/name", "No version", -1);  // no "ver": no row

    bool checked = false;
    script.answer = [&](cHeadlessWindowMaker* m, cPlatformWindow* w, cChildElement* root, int depth) {
        cSoftMgrForm* f = dynamic_cast<cSoftMgrForm*>(root);
        if (!f || depth != 1) return -2;
        EXPECT_TRUE(pumpUntil(m, [&] { return !f->reading() && f->itemCount() == 2; }));
        EXPECT_EQ(f->list()->getRowCount(), 2);
        EXPECT_STREQ(f->list()->text(0, 1), "Alpha");
        EXPECT_STREQ(f->list()->text(0, 3), "1.0");
        EXPECT_FALSE(f->status()->visible_child());
        EXPECT_FALSE(f->removeLink()->visible_child());
        EXPECT_TRUE(f->refreshButton()->enabled());
        EXPECT_TRUE(pumpUntil(m, [&] { return !f->checking(); }));
        m->pumpAll();
        EXPECT_FALSE(f->checkingText()->visible_child()) << "and hides it at the end";
        EXPECT_STREQ(f->list()->text(0, 4), "Update available");
        EXPECT_STREQ(f->list()->text(1, 4), "") << "1.5 is not newer than 2.0";
        EXPECT_TRUE(f->currentItem());
        EXPECT_TRUE(f->updateButton()->visible_child());
        f->list()->select(1);
        f->selectItem((cSoftMgrForm::sInstalledItem*)f->list()->association(1, 1));
        EXPECT_FALSE(f->updateButton()->visible_child());
        f->list()->select(0);
        f->selectItem((cSoftMgrForm::sInstalledItem*)f->list()->association(0, 1));
        m->snapshotPNG(w, (snapshotDir() + "/softmgr_list.png").c_str());
        checked = true;
        m->injectKey(w, 'Q', kModCtrl);
        return -2;
    };
    EXPECT_EQ(cSoftMgrForm::runManager(&maker, &store), 0);
    EXPECT_TRUE(checked);
}

// In every language, with three packages (the first with a long name, every link and a
// command; the second of the same name; the third without links): the buttons and the
// list's columns keep their places and sizes, the details' texts and links stand at their
// places and hold their words, a command link is cut by its box. Snapshots
// softmgr_<LANG>.png (the first package) and softmgr_second_<LANG>.png.
TEST_F(Manager, EveryLanguageFitsItsControls) {
    if (!testutil::haveTool("python3")) GTEST_SKIP() << "python3 not installed";
    std::string answer = "2.0\r\nhttp://h.example/files/u.zip\r\nhttp://h.example/\r\n";
    ASSERT_TRUE(testutil::writeFile(work.file("org.a.answer"), answer.data(), answer.size()));
    PyServer server({serverScript(), work.path()});
    ASSERT_NE(server.port(), 0);
    ServerEnv env(server.port());  // an update is offered: both buttons and the column show
    const std::string longName = "Alpha Tool Professional Edition for Workgroups";
    addPackage(store, "org.a", v(1, 2), longName, "http://www.alpha-tool-professional.example/publisher/about");
    store.setParamStr("install/org.a/support", "http://alpha.example/support", -1);
    store.setParamStr("install/org.a/updates", "http://alpha.example/updates", -1);
    store.setParamStr("install/org.a/cplns0", "Versionshinweise anzeigen", -1);
    store.setParamStr("install/org.a/cplcs0", "/bin/true", -1);
    store.setParamStr("install/org.a/cplns1", "Open the getting-started guide of Alpha Tool Professional", -1);
    store.setParamStr("install/org.a/cplcs1", "/bin/true", -1);
    addPackage(store, "org.c", v(1, 2), longName);
    addPackage(store, "org.b", v(3, 1), "Beta");
    auto rect = [](cChildElement* e) { return std::vector<int>{e->x(), e->y(), e->width(), e->height()}; };
    for (int l = 0; l < cSOPKGLang::kLangCount; l++) {
        int id = cSOPKGLang::gLangs[l].id;
        SCOPED_TRACE(ciLangID(id));
        ASSERT_TRUE(cSOPKGLang::applyLang(id));
        script.answer = [&](cHeadlessWindowMaker* m, cPlatformWindow* w, cChildElement* root, int depth) {
            cSoftMgrForm* f = dynamic_cast<cSoftMgrForm*>(root);
            if (!f) return 0;
            EXPECT_TRUE(pumpUntil(m, [&] { return !f->reading() && !f->checking() && f->itemCount() == 3; }));
            m->pumpAll();
            EXPECT_TRUE(f->updateButton()->visible_child());
            int panelW = f->detailsPanel()->width();
            EXPECT_EQ(rect(f->updateButton()), (std::vector<int>{panelW - 245, 0, 115, 30}));
            EXPECT_EQ(rect(f->uninstallButton()), (std::vector<int>{panelW - 115, 0, 115, 30}));
            EXPECT_EQ(rect(f->refreshButton()), (std::vector<int>{770 - 160, 480 - 39, 114, 30}));
            cHeaderChild* header = f->list()->header();
            EXPECT_EQ((std::vector<int>{header->columnWidth(1), header->columnWidth(2), header->columnWidth(3),
                                        header->columnWidth(4)}),
                      (std::vector<int>{310, 100, 100, f->list()->width() - 530}));
            // The details: the texts in their boxes, the address links one under another at
            // x 390 (their words inside the panel), the command links 300 wide below.
            std::vector<std::vector<int> > addresses, commands;
            for (cChildElement* c = f->detailsPanel()->firstChild(); c; c = c->nextSibling()) {
                cStaticElement* t = dynamic_cast<cStaticElement*>(c);
                if (!t || !c->visible_child() || !t->text() || t->y() < 70) continue;
                if (!dynamic_cast<cLinkElement*>(t)) {
                    EXPECT_EQ(rect(t), (std::vector<int>{85, t->y() == 70 ? 70 : 90, 200, 20})) << t->text();
                    EXPECT_LE(textExtent(t->text(), t->font()).cx, 200) << t->text();
                } else if (t->x() == 85) {
                    commands.push_back(rect(t));
                } else {
                    addresses.push_back(rect(t));
                    EXPECT_LE(390 + textExtent(t->text(), t->font()).cx, panelW) << t->text();
                }
            }
            EXPECT_EQ(addresses, (std::vector<std::vector<int> >{
                                     {390, 70, panelW - 290, 20}, {390, 90, panelW - 290, 20}, {390, 110, panelW - 290, 20}}));
            EXPECT_EQ(commands, (std::vector<std::vector<int> >{{85, 115, 300, 20}, {85, 135, 300, 20}}));
            // The list's Installed column holds the day and the time, as the details do.
            std::string installed = f->list()->text(0, 2);
            EXPECT_NE(installed.find(':'), std::string::npos) << installed;
            EXPECT_STREQ(installed.c_str(), f->currentItem()->installedText.ptr);
            m->snapshotPNG(w, (snapshotDir() + "/softmgr_" + ciLangID(id) + ".png").c_str());
            f->list()->select(1);
            m->pumpAll();
            EXPECT_EQ(f->commandLinkCount(), 0);
            EXPECT_FALSE(f->publisherLink()->visible_child());
            m->snapshotPNG(w, (snapshotDir() + "/softmgr_second_" + ciLangID(id) + ".png").c_str());
            return 0;
        };
        EXPECT_EQ(cSoftMgrForm::runManager(&maker, &store), 0);
    }
}

TEST_F(Manager, CtrlQEndsTheManagerWhileTheServerStalls) {
    if (!testutil::haveTool("python3")) GTEST_SKIP() << "python3 not installed";
    PyServer server({serverScript(), work.path()});
    ASSERT_NE(server.port(), 0);
    ServerEnv env(server.port());
    addPackage(store, "mode-slow", v(1, 0), "Slow");
    std::chrono::steady_clock::time_point pressed;
    script.answer = [&](cHeadlessWindowMaker* m, cPlatformWindow* w, cChildElement* root, int depth) {
        cSoftMgrForm* f = dynamic_cast<cSoftMgrForm*>(root);
        if (!f) return -2;
        EXPECT_TRUE(pumpUntil(m, [&] { return f->itemCount() == 1 && f->checking(); }));
        m->pumpAll();
        EXPECT_TRUE(f->checkingText()->visible_child()) << "the check shows its text while it asks";
        EXPECT_STREQ(f->checkingText()->text(), "Checking for updates...");
        m->snapshotPNG(w, (snapshotDir() + "/softmgr_checking.png").c_str());
        usleep(200000);
        pressed = std::chrono::steady_clock::now();
        m->injectKey(w, 'Q', kModCtrl);
        return -2;
    };
    EXPECT_EQ(cSoftMgrForm::runManager(&maker, &store), 0);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - pressed).count();
    EXPECT_LT(ms, 15000) << "the stalled check held the manager (for the read time-out)";
}

TEST_F(Manager, NoPackagesOffersTheRemoveLinkAndLanguageSwitchReopens) {
    PrivateHome home;  // no copy of the manager installed: the link is offered all the same
    int opened = 0;
    long long popupItems = -1;
    script.answer = [&](cHeadlessWindowMaker* m, cPlatformWindow* w, cChildElement* root, int depth) {
        if (cPopupMaster* p = dynamic_cast<cPopupMaster*>(root)) {
            popupItems = p->buttonCount();
            m->snapshotPNG(w, (snapshotDir() + "/softmgr_langs_popup.png").c_str());
            return (int)eLangDEU;
        }
        cSoftMgrForm* f = dynamic_cast<cSoftMgrForm*>(root);
        if (!f) return -2;
        opened++;
        EXPECT_TRUE(pumpUntil(m, [&] { return !f->reading() && f->refreshButton()->enabled(); }));
        EXPECT_STREQ(f->status()->text(), opened == 1 ? "No software packages installed"
                                                      : "Keine Softwarepakete installiert");
        cLinkElement* link = f->removeLink();
        EXPECT_TRUE(link->visible_child());
        sSize want = {0, 0};
        link->wantsSize(want);
        EXPECT_EQ((std::vector<int>{link->x(), link->y(), link->width(), link->height()}),
                  (std::vector<int>{45, 480 + (30 - want.cy) / 2 - 39, want.cx, want.cy}));
        EXPECT_FALSE(f->detailsPanel()->visible_child());
        if (opened == 1) {
            m->snapshotPNG(w, (snapshotDir() + "/softmgr_empty.png").c_str());
            EXPECT_FALSE(f->langSwitch()->choose(eLangENG)) << "the shown language does not reopen";
            // Over the flag its hint names the language; a click opens the popup of the
            // nine defined languages.
            sPoint at = {0, 0};
            f->langSwitch()->windowPos(at);
            m->injectMove(w, at.x + 12, at.y + 12);
            m->pumpAll();
            EXPECT_TRUE(f->langSwitch()->hintShown());
            EXPECT_STREQ(f->langSwitch()->hint(), "English");
            m->injectClick(w, at.x + 12, at.y + 12);
            m->pumpAll();
            EXPECT_EQ(popupItems, 9);
            return -2;  // the switch's action ends the form with 10
        }
        EXPECT_EQ(f->langSwitch()->shownLang(), (int)eLangDEU);
        m->snapshotPNG(w, (snapshotDir() + "/softmgr_empty_deu.png").c_str());
        return 0;
    };
    EXPECT_EQ(cSoftMgrForm::runManager(&maker, &store), 0);
    EXPECT_EQ(opened, 2);
    ASSERT_TRUE(store.values.count("lang/current"));
    EXPECT_EQ(store.values["lang/current"].number, (unsigned long long)eLangDEU);
    EXPECT_EQ(store.values["lang/current"].width, 2);
}

// A journal the start refuses (it names a file of the user's) is set aside and said once
// over the list, in the manager's language, naming the package and where it now lies; the
// file stays, and the next start says nothing. One snapshot each.
TEST_F(Manager, RefusedJournalIsSetAsideAndSaidOnceOverTheList) {
    ServerEnv env("127.0.0.1:1");  // the check is refused at once
    PrivateHome home;
    addPackage(store, "org.a", v(1, 0), "Alpha Tools");
    const std::string mine = home.path() + "/Documents/thesis.txt", at = home.path() + "/.qmx/inflight-org.a";
    ASSERT_TRUE(makeDirs(home.path() + "/Documents") && installtest::writeTextFile(mine, "mine"));
    const std::string journal = "QMXINFLIGHT 3\nstate pending\nN " + mine + "\nend 1\n";
    ASSERT_TRUE(makeDirs(home.path() + "/.qmx"));
    for (int id : {(int)eLangENG, (int)eLangDEU, (int)eLangJPN, -1}) {
        SCOPED_TRACE(id < 0 ? "again" : ciLangID(id));
        if (id >= 0) {
            ASSERT_TRUE(cSOPKGLang::applyLang(id));
            ASSERT_TRUE(installtest::writeTextFile(at, journal));
        }
        int boxes = 0;
        script.answer = [&](cHeadlessWindowMaker* m, cPlatformWindow* w, cChildElement* root, int depth) {
            if (cMessageForm* box = dynamic_cast<cMessageForm*>(root)) {
                boxes++;
                std::string text = box->text() ? box->text() : "";
                EXPECT_NE(text.find("Alpha Tools"), std::string::npos) << text;
                EXPECT_NE(text.find(at + ".refused"), std::string::npos) << text;
                m->snapshotPNG(w, (snapshotDir() + "/softmgr_unfinished_" + ciLangID(id) + ".png").c_str());
                return 1;
            }
            cSoftMgrForm* f = dynamic_cast<cSoftMgrForm*>(root);
            if (!f) return 0;
            EXPECT_TRUE(pumpUntil(m, [&] { return !f->reading() && boxes == (id < 0 ? 0 : 1); }));
            EXPECT_EQ(f->itemCount(), 1);
            return 0;
        };
        EXPECT_EQ(cSoftMgrForm::runManager(&maker, &store), 0);
        EXPECT_EQ(boxes, id < 0 ? 0 : 1);
        EXPECT_EQ(installtest::readTextFile(mine), "mine");
        EXPECT_FALSE(installtest::exists(at));
        EXPECT_EQ(installtest::readTextFile(at + ".refused"), journal);
        if (id == eLangDEU) {
            ASSERT_EQ(unlink((at + ".refused").c_str()), 0);  // the name is free again
        }
    }
}

// Refresh shows its focus on its blue face; pressed from the keyboard it gives the focus
// up while the list is read and takes it back afterwards. Tab passes the details' links.
TEST_F(Manager, RefreshShowsAndKeepsItsFocusAndTabPassesTheLinks) {
    ServerEnv env("127.0.0.1:1");  // the check is refused at once
    cStandInOpener opener;
    addPackage(store, "org.a", v(1, 0), "Alpha", "http://alpha.example/");
    store.setParamStr("install/org.a/support", "http://alpha.example/support", -1);
    bool seen = false;
    script.answer = [&](cHeadlessWindowMaker* m, cPlatformWindow* w, cChildElement* root, int depth) {
        cSoftMgrForm* f = dynamic_cast<cSoftMgrForm*>(root);
        if (!f) return -2;
        cWZIButton* r = f->refreshButton();
        EXPECT_TRUE(pumpUntil(m, [&] { return !f->reading() && r->enabled(); }));
        r->focus();
        m->pumpAll();
        cCanvas face(r->width(), r->height());
        r->onPaint(&face);
        unsigned int fill = face.pixel(r->width() / 2, 1), ring = face.pixel(3, r->height() / 2);
        auto channel = [](unsigned int c, int s) { return (int)((c >> s) & 0xFF); };
        int contrast = 0;
        for (int sh : {0, 8, 16}) contrast += std::abs(channel(fill, sh) - channel(ring, sh));
        EXPECT_GT(contrast, 200) << std::hex << fill << " " << ring;
        m->snapshotPNG(w, (snapshotDir() + "/softmgr_refresh_focus.png").c_str());
        m->injectKey(w, kKeyEnter, 0);
        EXPECT_TRUE(pumpUntil(m, [&] { return !f->reading() && r->enabled(); }));
        m->pumpAll();
        EXPECT_TRUE(r->focused()) << "and takes it back once the list is read";
        // Tab from Refresh walks the form's controls, never a link: from Uninstall (the
        // publisher link follows it in reading order) straight on to Refresh, where
        // Space refreshes and opens nothing.
        std::vector<cChildElement*> reached;
        for (int i = 0; i < 12 && (reached.empty() || reached.back() != r); i++) {
            m->injectKey(w, kKeyTab, 0);
            m->pumpAll();
            reached.push_back(f->host()->focusElement());
        }
        auto at = [&](cChildElement* e) { return std::find(reached.begin(), reached.end(), e) - reached.begin(); };
        EXPECT_EQ(std::count_if(reached.begin(), reached.end(), isLink), 0);
        EXPECT_LT(at(f->langSwitch()), at(f->list()));
        EXPECT_LT(at(f->list()), at(f->uninstallButton()));
        EXPECT_EQ(at(f->uninstallButton()), (long)reached.size() - 2) << "Refresh follows Uninstall";
        m->injectKey(w, kKeySpace, 0);
        EXPECT_TRUE(pumpUntil(m, [&] { return !f->reading() && r->enabled(); }));
        EXPECT_FALSE(opener.called()) << "Space opened a link";
        seen = true;
        return 0;
    };
    EXPECT_EQ(cSoftMgrForm::runManager(&maker, &store), 0);
    EXPECT_TRUE(seen);
}

// The example package installed through the engine into folders with blanks and other
// letters: each command link of the manager starts what the installation recorded, the
// program with its arguments and the notes through the desktop opener; records in the
// form earlier versions wrote start the same. A folder with a double quote keeps only the
// link whose record can hold it.
TEST_F(Manager, CommandLinksStartWhatTheInstallationRecorded) {
    PrivateHome home;
    std::string bundle = work.file("HelloTool.app");
    ASSERT_EQ(makeBundle("scenario.txt", bundle, exampleDir()), 0);
    // One stand-in for the program and the opener: it writes how it was started.
    const std::string standIn =
        "#!/bin/sh\nprintf '%s\\n' \"$0\" \"$@\" > \"$QMX_TEST_RECORD.tmp\"\n"
        "mv \"$QMX_TEST_RECORD.tmp\" \"$QMX_TEST_RECORD\"\n";
    auto putStandIn = [&](const std::string& at) {
        unlink(at.c_str());
        return installtest::writeTextFile(at, standIn) && chmod(at.c_str(), 0755) == 0;
    };
    std::string bin = work.file("bin"), record = work.file("record");
    ASSERT_TRUE(makeDirs(bin));
    ASSERT_TRUE(putStandIn(bin + "/xdg-open"));
    testutil::EnvScope path("PATH", testutil::pathBefore(bin));
    testutil::EnvScope rec("QMX_TEST_RECORD", record);
    ServerEnv env("127.0.0.1:1");  // the update check is refused at once

    const std::string sec = "install/org.qmx.example.hello/", start = "Start Hello Tool now",
                      notes = "Show the release notes";
    typedef std::vector<std::pair<std::string, std::vector<std::string> > > Started;  // link, argv
    // Opens the manager on the store and clicks each command link in turn.
    auto clickLinks = [&](cMemConfig& st, Started& out) {
        script.answer = [&](cHeadlessWindowMaker* m, cPlatformWindow* w, cChildElement* root, int) {
            cSoftMgrForm* f = dynamic_cast<cSoftMgrForm*>(root);
            if (!f) return -2;
            EXPECT_TRUE(pumpUntil(m, [&] { return !f->reading() && f->itemCount() == 1 && f->currentItem(); }));
            m->pumpAll();
            for (long long i = 0; i < f->commandLinkCount(); i++) {
                _guardchar<char> label;
                EXPECT_TRUE(st.getParamStr((sec + "cplns" + std::to_string(i)).c_str(), label));
                cLinkElement* link = nullptr;
                for (cChildElement* c = f->detailsPanel()->firstChild(); c; c = c->nextSibling())
                    if (dynamic_cast<cLinkElement*>(c) && label.ptr && c->text() && !strcmp(c->text(), label.ptr))
                        link = static_cast<cLinkElement*>(c);
                if (!link) continue;
                sPoint at = {0, 0}, origin = {0, 0};
                link->absPos(at);
                root->absPos(origin);
                m->injectClick(w, at.x - origin.x + 6, at.y - origin.y + link->height() / 2);
                m->pumpAll();
                for (int k = 0; k < 1000 && !exists(record); k++) cJob::sleep(10);
                std::string lines = installtest::readTextFile(record);
                unlink(record.c_str());
                std::vector<std::string> argv;
                for (size_t b = 0, e; (e = lines.find('\n', b)) != std::string::npos; b = e + 1)
                    argv.push_back(lines.substr(b, e - b));
                out.push_back({label.ptr, argv});
            }
            return 0;
        };
        EXPECT_EQ(cSoftMgrForm::runManager(&maker, &st), 0);
    };

    for (const std::string name : {"Hello Tool \xE3\x83\x8F\xE3\x83\xAD\xE3\x83\xBC", "Say \"Hi\" Tool"}) {
        SCOPED_TRACE(name);
        std::string folder = home.apps() + "/" + name, hello = folder + "/bin/hello",
                    readme = folder + "/doc/README.txt";
        bool quoted = folder.find('"') != std::string::npos;  // from the name or from TMPDIR
        cMemConfig st;
        sPkgInstallContext ctx;
        installtest::prepareContext(ctx, bundle + "/Contents/Resources/scenario.data", home, &st);
        ctx.executablePath.set(home.fakeExe().c_str());
        installtest::ScriptedAsker asker;  // English
        ASSERT_EQ(installChecks(ctx, &asker), 0u);
        ASSERT_TRUE(setInstallFolder(ctx, folder.c_str()));
        ASSERT_EQ(checkInstallTargets(ctx), 0u);
        ASSERT_EQ(runInstallJob(ctx, nullptr, &asker), 0u) << ctx.result;
        _guardchar<char> text;
        ASSERT_TRUE(st.getParamStr((sec + "cplcs0").c_str(), text));
        EXPECT_EQ(std::string(text.ptr), quoted ? readme : "\"" + hello + "\" --first-run");
        EXPECT_EQ(st.getParamStr((sec + "cplcs1").c_str(), text), !quoted);
        if (!quoted) {
            EXPECT_EQ(std::string(text.ptr), readme);
        }
        ASSERT_TRUE(putStandIn(hello));
        const std::vector<std::string> ran = {hello, "--first-run"}, opened = {testutil::pathEntry(bin) + "/xdg-open", readme};
        Started got;
        clickLinks(st, got);
        EXPECT_EQ(got, quoted ? (Started{{notes, opened}}) : (Started{{start, ran}, {notes, opened}}));
        if (quoted) continue;
        // As earlier versions recorded them.
        st.setParamStr((sec + "cplcs0").c_str(), (testutil::shellQuoted(hello) + " --first-run").c_str(), -1);
        st.setParamStr((sec + "cplcs1").c_str(), testutil::shellQuoted(readme).c_str(), -1);
        got.clear();
        clickLinks(st, got);
        EXPECT_EQ(got, (Started{{start, ran}, {notes, opened}}));
    }
    EXPECT_FALSE(exists(record)) << "something started twice";
}

// Two packages of one name installed the same day in one version: their rows tell them
// apart by their code names, which a long name leaves whole in the column; a row that
// reads alone stays as it is.
TEST_F(Manager, RowsOfPackagesOfOneNameDiffer) {
    ServerEnv env("127.0.0.1:1");  // the check is refused at once
    addPackage(store, "org.hello", v(1, 4), "Hello Tool");
    addPackage(store, "org.hello.copy", v(1, 4), "Hello Tool");
    addPackage(store, "org.hello.old", v(1, 3), "Hello Tool");
    const std::string longName = "Alpha Tool Professional Edition for Workgroups";
    addPackage(store, "org.alpha", v(2, 0), longName);
    addPackage(store, "org.alpha.lab", v(2, 0), longName);
    std::vector<std::string> rows;
    script.answer = [&](cHeadlessWindowMaker* m, cPlatformWindow* w, cChildElement* root, int depth) {
        cSoftMgrForm* f = dynamic_cast<cSoftMgrForm*>(root);
        if (!f) return -2;
        EXPECT_TRUE(pumpUntil(m, [&] { return !f->reading() && f->itemCount() == 5; }));
        int room = f->list()->header()->columnWidth(1) - 16 - 4 - 3 - 2;  // icon and padding
        for (int r = 0; r < f->list()->getRowCount(); r++) {
            std::string row = f->list()->text(r, 1);
            if (row.rfind("Alpha", 0) == 0) {
                EXPECT_LE(textExtent(row.c_str(), mkBtnFont(false)).cx, room) << row;
                row = row.substr(row.rfind(" ("));
            }
            rows.push_back(row);
        }
        m->snapshotPNG(w, (snapshotDir() + "/softmgr_same_name.png").c_str());
        return 0;
    };
    EXPECT_EQ(cSoftMgrForm::runManager(&maker, &store), 0);
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(rows, (std::vector<std::string>{" (org.alpha)", " (org.alpha.lab)", "Hello Tool", "Hello Tool (org.hello)",
                                              "Hello Tool (org.hello.copy)"}));
}

// Two clicks on one control reach the form in one loop turn (a double click before the
// first one's window opens): the second finds its run going and starts no other inside it
// (a second uninstallation would be refused by the run lock as an installer running); the
// language switch opens its popup again for the second, inside the first.
TEST_F(Manager, SecondClickQueuedWithTheFirstStartsNoSecondRun) {
    ServerEnv env("127.0.0.1:1");  // the check is refused at once
    PrivateHome home;
    std::string pkg = work.file("p.data");
    ASSERT_TRUE(installtest::makePackage(work.path(), "1.0", {{"a.txt", "a"}}, pkg));
    struct Case {
        const char* control;
        std::vector<std::string> boxes;  // every box shown, each answered No
        int popups;
    } cases[] = {
        {"uninstall", {"Are you sure you want to remove this package?", "Uninstallation procedure was canceled."}, 0},
        {"remove link", {"Are you sure you want to remove Software Manager?"}, 0},
        {"language switch", {}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.control);
        bool package = std::string(c.control) == "uninstall";
        if (package && !store.hasSection("install/org.qmx.test.pkg")) {
            ASSERT_EQ(installtest::install(pkg, home, &store).job, 0u);
        }
        if (!package) store.removeSection("install");
        std::vector<std::string> boxes;
        int popups = 0;
        script.answer = [&](cHeadlessWindowMaker* m, cPlatformWindow* w, cChildElement* root, int depth) {
            if (dynamic_cast<cPopupMaster*>(root)) return popups++, -1;
            if (cMessageForm* box = dynamic_cast<cMessageForm*>(root)) {
                boxes.push_back(box->text() ? box->text() : "");
                return 0;
            }
            cSoftMgrForm* f = dynamic_cast<cSoftMgrForm*>(root);
            if (!f) return -2;
            EXPECT_TRUE(pumpUntil(m, [&] { return !f->reading() && f->itemCount() == (package ? 1 : 0); }));
            m->pumpAll();
            cChildElement* target = package                                 ? (cChildElement*)f->uninstallButton()
                                    : std::string(c.control) == "remove link" ? (cChildElement*)f->removeLink()
                                                                              : (cChildElement*)f->langSwitch();
            EXPECT_TRUE(target->visible_child());
            sPoint at = {0, 0};
            target->windowPos(at);
            m->injectClick(w, at.x + 5, at.y + target->height() / 2);
            m->injectClick(w, at.x + 5, at.y + target->height() / 2);
            m->pumpAll();
            EXPECT_TRUE(pumpUntil(m, [&] { return !f->reading(); }));
            return 0;
        };
        EXPECT_EQ(cSoftMgrForm::runManager(&maker, &store), 0);
        EXPECT_EQ(boxes, c.boxes);
        EXPECT_EQ(popups, c.popups);
    }
}

// A manager open on an empty list while another store object on the same folder (as a
// second process has) installs a package through the engine: the remove link, still shown,
// answers rem 4 and leaves the manager's bundle, its menu entry and the package; Refresh
// lists the package, and a second one installed after that.
TEST_F(Manager, PackageInstalledMeanwhileIsSeenByRefreshAndRemoval) {
    ServerEnv env("127.0.0.1:1");  // the check is refused at once
    PrivateHome home;
    std::string pkg = work.file("p.data");
    ASSERT_TRUE(installtest::makePackage(work.path(), "1.0", {{"a.txt", "a"}}, pkg));
    cCIAppConfig mine, other;
    ASSERT_TRUE(openProgramStore(mine, "qmx") && openProgramStore(other, "qmx"));
    std::vector<std::string> boxes;
    long long listed = -1;
    script.answer = [&](cHeadlessWindowMaker* m, cPlatformWindow* w, cChildElement* root, int depth) {
        if (cMessageForm* box = dynamic_cast<cMessageForm*>(root)) {
            boxes.push_back(box->text() ? box->text() : "");
            return 1;
        }
        cSoftMgrForm* f = dynamic_cast<cSoftMgrForm*>(root);
        if (!f) return -2;
        EXPECT_TRUE(pumpUntil(m, [&] { return !f->reading() && f->removeLink()->visible_child(); }));
        EXPECT_EQ(installtest::install(pkg, home, &other).job, 0u);
        for (cChildElement* target : {(cChildElement*)f->removeLink(), (cChildElement*)f->refreshButton()}) {
            sPoint at = {0, 0};
            target->windowPos(at);
            m->injectClick(w, at.x + 5, at.y + target->height() / 2);
            m->pumpAll();
            EXPECT_TRUE(pumpUntil(m, [&] { return !f->reading(); }));
        }
        listed = f->itemCount();
        EXPECT_FALSE(f->removeLink()->visible_child());
        // Refresh alone reads the store again: a second package installed meanwhile shows.
        std::string second = work.file("second.data");
        EXPECT_TRUE(installtest::makePackage(work.path(), "1.0", {{"b.txt", "b"}}, second, "", "org.qmx.test.second"));
        EXPECT_EQ(installtest::install(second, home, &other, nullptr, nullptr, work.file("second")).job, 0u);
        sPoint at = {0, 0};
        f->refreshButton()->windowPos(at);
        m->injectClick(w, at.x + 5, at.y + f->refreshButton()->height() / 2);
        m->pumpAll();
        EXPECT_TRUE(pumpUntil(m, [&] { return !f->reading(); }));
        EXPECT_EQ(f->itemCount(), 2);
        return 0;
    };
    EXPECT_EQ(cSoftMgrForm::runManager(&maker, &mine), 0);
    EXPECT_EQ(listed, 1);
    ASSERT_EQ(boxes.size(), 1u) << "nothing is asked";
    EXPECT_EQ(boxes[0].rfind("Software manager cannot be removed!\nThere are software packages installed", 0), 0u)
        << boxes[0];
    _guardchar<char> manager, entry;
    ASSERT_TRUE(getAppManagerPath(manager) && other.getParamStr(kRegInstallerShortcut, entry));
    EXPECT_TRUE(apptest::exists(manager.ptr));
    EXPECT_TRUE(apptest::exists(entry.ptr));
    cCIAppConfig after;
    ASSERT_TRUE(openProgramStore(after, "qmx"));
    EXPECT_TRUE(after.hasSection("install/org.qmx.test.pkg"));
    EXPECT_EQ(installtest::readTextFile(home.installFolder() + "/a.txt"), "a");
}

TEST_F(Manager, RemovalResults) {
    struct Case {
        const char* name;
        std::function<void(PrivateHome&, cMemConfig&, std::string& own)> setup;
        bool confirm;
        unsigned int want;
        bool ownGone, bundleGone, shortcutGone;
    } cases[] = {
        {"packages registered", [](PrivateHome&, cMemConfig& s, std::string&) { addPackage(s, "org.a", v(1, 0), "A"); },
         true, eRMPackages, false, false, false},
        {"declined", [](PrivateHome&, cMemConfig&, std::string&) {}, false, eRMDeclined, false, false, false},
        {"whole bundle", [](PrivateHome&, cMemConfig&, std::string&) {}, true, eRMRemoved, false, true, true},
        {"bundle without Info.plist",
         [](PrivateHome&, cMemConfig&, std::string&) {
             _guardchar<char> m;
             getAppManagerPath(m);
             std::string c = std::string(m.ptr);
             c = c.substr(0, c.rfind('/'));
             c = c.substr(0, c.rfind('/'));
             unlink((c + "/Info.plist").c_str());
         },
         true, eRMRemoved, false, true, true},
        {"folder at the manager's place",
         [](PrivateHome&, cMemConfig&, std::string&) {
             _guardchar<char> m;
             getAppManagerPath(m);
             unlink(m.ptr);
             mkdir(m.ptr, 0755);
         },
         true, eRMBadObject, false, false, true},
        {"no manager: own file deleted", [](PrivateHome&, cMemConfig&, std::string&) {}, true, eRMOwnFile, true, true,
         true},
        // The deletion of the running program fails (the shortcut's went first).
        {"own file that cannot be deleted", [](PrivateHome&, cMemConfig&, std::string&) {}, true, eRMBadObject, false,
         true, true},
        // An installation holds the store folder: it is about to register its package.
        {"a run under way", [](PrivateHome&, cMemConfig&, std::string&) {}, true, eRMPackages, false, false, false},
        {"registered while asked", [](PrivateHome&, cMemConfig&, std::string&) {}, true, eRMPackages, false, false,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PrivateHome home;
        cMemConfig s;
        _guardchar<char> manager;
        ASSERT_TRUE(getAppManagerPath(manager));
        std::string exe = manager.ptr, contents = exe.substr(0, exe.rfind('/'));
        contents = contents.substr(0, contents.rfind('/'));
        std::string bundle = contents.substr(0, contents.rfind('/'));
        bool noManager = std::string(c.name).rfind("no manager", 0) == 0 || std::string(c.name).rfind("own file", 0) == 0;
        if (!noManager) {
            ASSERT_TRUE(apptest::makeDirs(contents + "/MacOS") && apptest::makeDirs(contents + "/Resources"));
            for (const char* f : {"/MacOS/SoftManager", "/Resources/icon.icns", "/PkgInfo", "/Info.plist"})
                ASSERT_TRUE(installtest::writeTextFile(contents + f, "x"));
        }
        std::string shortcut = home.path() + "/menu/softmgr.desktop";
        apptest::makeDirs(home.path() + "/menu");
        installtest::writeTextFile(shortcut, "[Desktop Entry]\n");
        s.setParamStr("installer/shortcut", shortcut.c_str(), -1);
        std::string own = home.path() + "/own-softmgr";
        installtest::writeTextFile(own, "x");
        c.setup(home, s, own);
        // Registers a package while its question is open, when told to.
        struct cRegisteringAsker : installtest::ScriptedAsker {
            cMemConfig* store = nullptr;
            bool confirm(int index) override {
                if (store) addPackage(*store, "org.late", v(1, 0), "Late");
                return ScriptedAsker::confirm(index);
            }
        } asker;
        asker.confirmAnswer = c.confirm;
        const std::string name = c.name;
        if (name == "registered while asked") asker.store = &s;
        cStoreFolderLock run;
        if (name == "a run under way") {
            ASSERT_TRUE(run.share(home.journal().c_str()));
        }
        installtest::FaultFS fs;
        if (name == "own file that cannot be deleted") fs.failAt = 2;  // shortcut, then own file
        EXPECT_EQ(removeManager(own.c_str(), &s, &asker, &fs), c.want);
        EXPECT_EQ(!apptest::exists(own), c.ownGone);
        EXPECT_EQ(!apptest::exists(bundle), c.bundleGone);
        EXPECT_EQ(!apptest::exists(shortcut), c.shortcutGone);
        EXPECT_TRUE(apptest::exists(home.apps()) || noManager) << "the applications folder stays";
        if (c.want == eRMPackages) {
            EXPECT_EQ(asker.asked.empty(), !asker.store) << "nothing is asked";
        }
    }
}

TEST_F(Manager, RemoverFormAsksAndShowsTheResult) {
    PrivateHome home;
    std::string own = home.path() + "/own-softmgr";
    installtest::writeTextFile(own, "x");
    std::vector<std::string> texts;
    std::vector<int> icons;
    script.answer = [&](cHeadlessWindowMaker* m, cPlatformWindow*, cChildElement* root, int depth) {
        if (depth < 2) return -2;
        texts.push_back(root->text() ? root->text() : "");
        cMessageForm* box = dynamic_cast<cMessageForm*>(root);
        icons.push_back(box ? box->iconIndex() : -1);
        // No carrier with its "removing" status stands behind the question or the result.
        cPlatformWindow* carrier = m->findWindow(cCiomLangData::string("pkgm::rem", 0));
        EXPECT_TRUE(carrier && !carrier->visible()) << texts.back();
        return 1;
    };
    EXPECT_TRUE(cRemoverUI::runRemoval(own.c_str(), nullptr, &maker, &store));
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], "Are you sure you want to remove Software Manager?");
    EXPECT_EQ(texts[1].rfind("The Software manager is removed now.", 0), 0u);
    EXPECT_EQ(icons, (std::vector<int>{1, 0})) << "a question, then information";
    EXPECT_FALSE(apptest::exists(own));
}

namespace {

std::string gChosen;
bool chooseFixed(cChildElement*, const char*, const char*, const char*, _guardchar<char>& path) {
    return !gChosen.empty() && path.set(gChosen.c_str());
}

bool makeUpdateZip(const std::string& path) {
    std::string script =
        "import sys, zipfile\n"
        "z = zipfile.ZipFile(sys.argv[1], 'w')\n"
        "z.writestr('Setup.app/Contents/Resources/scenario.data', 'data')\n"
        "i = zipfile.ZipInfo('Setup.app/Contents/MacOS/Installer'); i.create_system = 3\n"
        "i.external_attr = 0o100755 << 16\n"
        "z.writestr(i, '#!/bin/sh\\nprintf \"%s\\\\n\" \"$0\" > \"$QMX_TEST_MARK\"\\n')\n"
        "z.close()\n";
    return testutil::run({"python3", "-c", script, path}) == 0;
}

}  // namespace

// Every element of the update form at its place in every language: the title on one line
// of its box for a name of 16 letters; a longer name is cut by the box and the what's-new
// area stays under it; each link takes its whole row; the what's-new lines of an answer
// ended by CR alone (the protocol's line end) show one a line. Snapshots
// update_form_<LANG>.png and update_form_long_<LANG>.png.
TEST_F(Manager, UpdateFormTitleFitsItsBoxInEveryLanguage) {
    cStandInOpener opener;
    cSoftUpdateInfoForm::tTargetChooser oldChooser = cSoftUpdateInfoForm::gChooseTarget;
    cSoftUpdateInfoForm::gChooseTarget = countChoice;
    gAsked = 0;
    for (int l = 0; l < cSOPKGLang::kLangCount; l++) {
        int id = cSOPKGLang::gLangs[l].id;
        SCOPED_TRACE(ciLangID(id));
        ASSERT_TRUE(cSOPKGLang::applyLang(id));
        for (const char* name : {"Hello Tool Suite", "Alpha Tool Professional Edition for Workgroups"}) {
            bool fits = strlen(name) == 16;
            cSoftUpdateInfoForm::sUpdateInfoCtx ctx;
            ctx.name.set(name);
            ctx.version.set("2.0.1.3");
            const std::string answer = "2.0.1.3\rhttp://127.0.0.1:1/u.zip\rhttp://127.0.0.1:1/\rFixes\rFaster start\r"
                                       "Smaller download\r";
            unsigned long long offered = 0;
            ASSERT_TRUE(parseUpdateAnswer((const unsigned char*)answer.data(), (long long)answer.size(), offered,
                                          ctx.download, ctx.site, ctx.whatsNew));
            bool seen = false;
            script.answer = [&](cHeadlessWindowMaker* m, cPlatformWindow* w, cChildElement* root, int) {
                cSoftUpdateInfoForm* f = dynamic_cast<cSoftUpdateInfoForm*>(root);
                if (!f) return 0;
                cChildElement* client = f->titleText()->parent();
                int cw = client->width(), ch = client->height();
                auto rect = [](cChildElement* e) { return std::vector<int>{e->x(), e->y(), e->width(), e->height()}; };
                EXPECT_EQ(rect(f->titleText()), (std::vector<int>{10, 0, cw - 20, 45}));
                EXPECT_EQ(rect(f->whatsNewArea()), (std::vector<int>{10, 50, cw - 20, ch - 150}));
                EXPECT_STREQ(f->whatsNewArea()->text(), "Fixes\nFaster start\nSmaller download\n");
                EXPECT_EQ(rect(f->siteLink()), (std::vector<int>{10, ch - 90, cw - 20, 20}));
                EXPECT_EQ(rect(f->downloadLink()), (std::vector<int>{10, ch - 70, cw - 20, 20}));
                cStaticElement* t = f->titleText();
                EXPECT_EQ(textExtent(t->text(), t->font()).cx <= t->width(), fits) << t->text();
                for (cChildElement* e : {f->siteLink(), f->downloadLink()}) {
                    cStaticElement* link = static_cast<cStaticElement*>(e);
                    EXPECT_LE(textExtent(link->text(), link->font()).cx, link->width()) << link->text();
                }
                for (cWZIButton* b : {f->installButton(), f->notNowButton()})
                    EXPECT_LE(textExtent(b->text(), mkBtnFont(false)).cx, b->width()) << b->text();
                m->pumpAll();
                m->snapshotPNG(w, (snapshotDir() + "/update_form_" + (fits ? "" : "long_") + ciLangID(id) + ".png").c_str());
                seen = true;
                if (id != eLangENG || !fits) return 0;
                // Tab goes between Install and Not now only (the text and the links take no
                // focus); Return with Not now focused is Install, Space there is Not now.
                std::vector<cChildElement*> reached;
                for (int i = 0; i < 4; i++) {
                    m->injectKey(w, kKeyTab, 0);
                    m->pumpAll();
                    reached.push_back(f->host()->focusElement());
                }
                EXPECT_EQ(std::count_if(reached.begin(), reached.end(), isLink), 0);
                EXPECT_EQ(std::count(reached.begin(), reached.end(), f->notNowButton()), 2);
                f->notNowButton()->focus();
                m->injectKey(w, kKeyEnter, 0);
                m->pumpAll();
                EXPECT_EQ(gAsked, 1) << "Return on Not now was not Install";
                EXPECT_TRUE(w->inModal());
                m->injectKey(w, kKeySpace, 0);
                m->pumpAll();
                EXPECT_FALSE(w->inModal()) << "Space on Not now did not close the form";
                EXPECT_EQ(gAsked, 1);
                EXPECT_FALSE(opener.called()) << "a link was opened";
                return -2;
            };
            EXPECT_FALSE(cSoftUpdateInfoForm::installUpdate(ctx, nullptr, &maker));
            EXPECT_TRUE(seen);
        }
    }
    cSoftUpdateInfoForm::gChooseTarget = oldChooser;
}

TEST_F(Manager, UpdateFormInstallOutcomes) {
    if (!testutil::haveTool("python3")) GTEST_SKIP() << "python3 missing";
    ASSERT_TRUE(apptest::makeDirs(work.path() + "/files"));
    ASSERT_TRUE(makeUpdateZip(work.file("files/u.zip")));
    PyServer server({serverScript(), work.path()});
    ASSERT_NE(server.port(), 0);
    std::string base = "http://127.0.0.1:" + std::to_string(server.port());
    testutil::TempDir tmp;
    std::string mark = tmp.file("started");
    testutil::EnvScope tmpVar("TMPDIR", tmp.path()), markVar("QMX_TEST_MARK", mark);
    cSoftUpdateInfoForm::tTargetChooser oldChooser = cSoftUpdateInfoForm::gChooseTarget;
    cSoftUpdateInfoForm::gChooseTarget = chooseFixed;
    struct Case {
        const char* name;
        std::string address;
        std::vector<int> answers;  // message boxes in order (1 yes/ok, 0 no)
        int outcome;               // the form's lastOutcome
        bool target;               // the chosen file exists afterwards
        const char* firstMessage;
    } cases[] = {
        {"complete", base + "/files/u.zip", {}, 1, true, nullptr},
        {"404", base + "/files-404/u.zip", {1}, 14, false, "Server of Updates returned an error."},
        {"truncated, no retry", base + "/files-trunc/u.zip", {0}, -1, false, "Do you want to retry downloading"},
        // The retry starts an empty file: the result is exactly the second transfer.
        {"truncated, retried", base + "/files-once/u.zip", {1}, 1, true, "Do you want to retry downloading"},
        {"not http", "https://h.example/u.zip", {1}, 9, false, "For some reasons"},
        {"existing file kept", base + "/files/u.zip", {0}, -1, true, "Do you want to overwrite"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string target = work.file("dl-u.zip");
        unlink(target.c_str());
        unlink(mark.c_str());
        if (std::string(c.name) == "existing file kept") installtest::writeTextFile(target, "mine");
        gChosen = target;
        cSoftUpdateInfoForm::sUpdateInfoCtx ctx;
        ctx.name.set("Alpha");
        ctx.version.set("2.0");
        ctx.download.set(c.address.c_str());
        ctx.site.set("http://h.example/");
        ctx.whatsNew.set("Fixes\r\nMore fixes");
        size_t next = 0;
        std::vector<std::string> texts;
        int outcome = 0;
        bool shot = false;
        script.answer = [&](cHeadlessWindowMaker* m, cPlatformWindow* w, cChildElement* root, int depth) {
            if (cSoftUpdateInfoForm* f = dynamic_cast<cSoftUpdateInfoForm*>(root)) {
                if (!shot) {
                    m->snapshotPNG(w, (snapshotDir() + "/update_form.png").c_str());
                    shot = true;
                }
                f->onFormAccept();
                outcome = f->lastOutcome;
                return outcome == 1 ? -2 : 0;
            }
            if (dynamic_cast<cUpdateDownloader*>(root) || dynamic_cast<cUpdateUnpacker*>(root)) return -2;
            texts.push_back(root->text() ? root->text() : "");
            return next < c.answers.size() ? c.answers[next++] : 1;
        };
        bool started = cSoftUpdateInfoForm::installUpdate(ctx, nullptr, &maker);
        EXPECT_EQ(started, c.outcome == 1);
        EXPECT_EQ(outcome, c.outcome);
        EXPECT_EQ(apptest::exists(target), c.target);
        EXPECT_FALSE(apptest::exists(target + ".part")) << "no partial file is left";
        if (c.firstMessage) {
            ASSERT_FALSE(texts.empty());
            EXPECT_EQ(texts[0].rfind(c.firstMessage, 0), 0u) << texts[0];
        }
        if (c.outcome == 1) {
            EXPECT_EQ(testutil::readFile(target), testutil::readFile(work.file("files/u.zip")));
            EXPECT_TRUE(pumpUntil(&maker, [&] { return apptest::exists(mark); }, 5000)) << "installer not started";
        }
        if (std::string(c.name) == "existing file kept") {
            EXPECT_EQ(installtest::readTextFile(target), "mine");
        }
    }
    cSoftUpdateInfoForm::gChooseTarget = oldChooser;
}

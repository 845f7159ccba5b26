// The windowed side on the headless window maker: the loading form answering its job's
// language question and showing its result, the uninstallation form's confirmations
// and busy-file question, the job panel's stages and bar, the installation panel's
// busy file sent to its hosting form, the windowless message form and a snapshot.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <vector>

#include "apptest.h"
#include "ciplatform/canvas.h"
#include "ciplatform/headless.h"
#include "installtest.h"
#include "instengine/installinit.h"
#include "instengine/installjob.h"
#include "instengine/journalformat.h"
#include "instengine/journalrecovery.h"
#include "softmgrapp/appcontrols.h"
#include "softmgrapp/appmessages.h"
#include "softmgrapp/jobforms.h"
#include "softmgrapp/langselect.h"
#include "softmgrapp/sopkglang.h"
#include "ui/controls/link.h"
#include "ui/controls/messageform.h"
#include "ui/elementhost.h"
#include "ui/lang.h"

using namespace installtest;

extern const int gSOPKGLangTable_count;

namespace {

// A pending journal that cannot be undone: its backup cannot go back over the folder that
// stands at its target.
bool writeStuckJournal(const PrivateHome& h) {
    const std::string target = h.installFolder() + "/stuck";
    sJournal j;
    return makeDirs(target) && writeTextFile(target + ".bkp", "earlier") && j.add(eLineRoot, h.installFolder().c_str()) &&
           j.add(eLineReplaced, target.c_str()) && saveJournal(h.journal().c_str(), j, false) == 1;
}

// What each modal run showed and how it was answered.
class cScript : public cHeadlessScript {
public:
    std::function<int(cChildElement* root, int depth)> answer;  // -2: leave the run alone
    std::vector<std::string> seen;
    void onModal(cHeadlessWindowMaker*, cPlatformWindow* w, int depth) override {
        cElementHost* h = static_cast<cElementHost*>(w->userData);
        cChildElement* root = h ? h->rootElement() : nullptr;
        if (!root) return;
        const char* t = root->text();
        seen.push_back(std::to_string(depth) + ":" + (t ? t : ""));
        int code = answer ? answer(root, depth) : -2;
        if (code != -2) root->end_modal(code);
    }
};

class JobForms : public ::testing::Test {
protected:
    void SetUp() override {
        apptest::useLanguage(eLangENG);
        cInstallInitJob::gPauseMs = 0;
        cUninstallInitJob::gPauseMs = 0;
        maker.setModalScript(&script);
        maker.setIdleTimeout(20000);
    }
    void TearDown() override { cSOPKGLang::applyLang(eLangENG); }
    cHeadlessWindowMaker maker;
    cScript script;
    testutil::TempDir work;
};

TEST_F(JobForms, LoadingFormAsksTheLanguageOnTheUIThread) {
    // Three languages: the job sends the question to the form, which answers through
    // the language form (run 2); the chosen language is applied on the UI thread.
    std::string pkg = work.file("p.data");
    ASSERT_TRUE(makePackage(work.path(), "1.0", {{"a.txt", "a"}}, pkg));
    // Rewrite the scenario with more languages.
    std::string src = work.path() + "/src-org.qmx.test.pkg-1.0/scenario.txt";
    std::string text = readTextFile(src);
    text.replace(text.find("langs = ENG"), 11, "langs = ENG DEU JPN");
    ASSERT_TRUE(writeTextFile(work.path() + "/src-org.qmx.test.pkg-1.0/eula.idx",
                              "ENG = \"./eula_en.txt\"\nDEU = \"./eula_en.txt\"\nJPN = \"./eula_en.txt\"\n"));
    ASSERT_TRUE(writeTextFile(src, text));
    cSoftPkgScenario scen;
    int line = 0;
    ASSERT_EQ(scen.loadTextConfig(src.c_str(), line), 0) << line;
    cFileIO out;
    ASSERT_TRUE(out.create(pkg.c_str()) && scen.saveBinConfig(&out));
    out.close();

    PrivateHome home;
    cMemConfig store;
    int askedWith = -1;
    script.answer = [&](cChildElement* root, int depth) {
        cLangSelectionForm* lf = dynamic_cast<cLangSelectionForm*>(root);
        if (depth == 2 && lf) {
            askedWith = lf->preselect;
            EXPECT_EQ(lf->grid()->langCount(), 3);
            return 3 + 1;  // Japanese
        }
        return -2;
    };
    sPkgInstallContext ctx;
    ctx.packagePath.set(pkg.c_str());
    ctx.store = &store;
    ASSERT_TRUE(cInstallInitUI::runLoadScen(ctx, &maker));
    EXPECT_EQ(askedWith, (int)eLangENG);
    EXPECT_EQ(ctx.currLangID(), (int)eLangJPN);
    EXPECT_EQ(cLibLang::appliedLang(), (int)eLangJPN);

    // Cancelled: result 3, no message (the first installer has ended).
    ctx.runLock.release();
    script.seen.clear();
    script.answer = [&](cChildElement* root, int depth) { return dynamic_cast<cLangSelectionForm*>(root) ? 0 : -2; };
    sPkgInstallContext again;
    again.packagePath.set(pkg.c_str());
    again.store = &store;
    EXPECT_FALSE(cInstallInitUI::runLoadScen(again, &maker));
    EXPECT_EQ(script.seen.size(), 2u);
}

// The loading form's message for a result: a missing package; a second installer of a
// package while the first runs; a journal that cannot be obeyed (naming the package);
// this version's interrupted installation finished there, which is the installation's
// success.
TEST_F(JobForms, LoadingFormShowsTheResultsMessage) {
    const std::string pkg = work.file("p.data");
    ASSERT_TRUE(makePackage(work.path(), "1.0", {{"a.txt", "a"}}, pkg));
    // A run whose journal could not go once the files and the record were in place.
    class KeepsItsJournal : public cInstallFS {
        bool unlink(const char* p) override { return !strstr(p, "/inflight-") && cInstallFS::unlink(p); }
    } keeps;
    cPackageRunLock first;
    struct {
        const char* name;
        std::function<void(const PrivateHome&, cMemConfig&)> arrange;
        std::string path, message;
        unsigned int result;
    } cases[] = {
        {"missing", [](const PrivateHome&, cMemConfig&) {}, work.file("missing.data"),
         "The path specified for software installation package is invalid!", eIIBadPath},
        {"running",
         [&](const PrivateHome& h, cMemConfig&) { EXPECT_TRUE(first.take(h.journal().c_str(), "org.qmx.test.pkg")); },
         pkg, "This package is being installed or uninstalled in another window.\n", eIIBusy},
        {"journal that cannot be resolved", [](const PrivateHome& h, cMemConfig&) { EXPECT_TRUE(writeStuckJournal(h)); },
         pkg, "The interrupted installation or removal of Test Pkg could not be finished:", eIIUnfinished},
        {"finished",
         [&](const PrivateHome& h, cMemConfig& store) {
             EXPECT_EQ(install(pkg, h, &store, &keeps).result, (unsigned)eIJCannotWrite);
             EXPECT_TRUE(exists(h.journal()));
         },
         pkg, "Installation completed successfully.", eIIFinished},
        {"installed, a journal set aside and a backup's name taken beside a file",
         [&](const PrivateHome& h, cMemConfig& store) {
             EXPECT_EQ(install(pkg, h, &store).job, 0u);
             EXPECT_TRUE(writeTextFile(h.journal(), "QMXINFLIGHT 1\nstate maybe\nend 0\n") &&
                         writeTextFile(h.installFolder() + "/a.txt.bkp", "mine"));
         },
         pkg, "An interrupted installation or removal may have left these files:\n", eIILeftover},
    };
    for (auto& c : cases) {
        PrivateHome home;
        cMemConfig store;
        c.arrange(home, store);
        std::string shown;
        script.answer = [&](cChildElement* root, int depth) {
            if (depth != 2) return -2;
            shown = root->text();
            return 1;
        };
        sPkgInstallContext ctx;
        ctx.packagePath.set(c.path.c_str());
        ctx.store = &store;
        ctx.journalPath.set(home.journal().c_str());
        unsigned int result = 99;
        EXPECT_FALSE(cInstallInitUI::runLoadScen(ctx, &maker, &result)) << c.name;
        EXPECT_EQ(result, c.result) << c.name;
        EXPECT_EQ(shown.rfind(c.message, 0), 0u) << c.name << ": " << shown;
        first.release();
    }
}

TEST_F(JobForms, UninstallFormAppliesTheLanguageAndConfirms) {
    std::string pkg = work.file("p.data");
    ASSERT_TRUE(makePackage(work.path(), "1.0", {{"a.txt", "a"}, {"b.txt", "b"}}, pkg));
    PrivateHome home;
    cMemConfig store;
    ASSERT_EQ(install(pkg, home, &store).job, 0u);
    _guardchar<char> name;
    ASSERT_TRUE(store.getParamStr("install/org.qmx.test.pkg/name", name) && !name.empty());
    // The form's job reads the application's store: run it through uninstallJob's
    // sent questions with a form hosting a cSentAsker instead.
    struct Case {
        std::vector<int> answers;  // confirmation, then the final message
        unsigned int want;
        bool gone;
        int lang;                  // the installation's language (asks are shown in it)
        const char* question;      // null: a journal the job cannot resolve, said at once
        bool shared;  // another package's record lists a.txt: it stays, and the message says so
        const char* blocker = nullptr;  // the journal is another package's, naming a.txt
        bool setAside = false;  // the journal damaged, a name left beside b.txt
    } cases[] = {{{0, 1}, eUNCancelled, false, eLangENG, "Are you sure you want to remove this package?", false},
                 {{1}, eUNUnfinished, false, eLangENG, nullptr, false},
                 {{1}, eUNUnfinished, false, eLangENG, nullptr, false, "Other Tool"},
                 {{1, 1}, eUNRemoved, true, eLangDEU, "Möchten Sie dieses Paket wirklich entfernen?", false},
                 {{1, 1}, eUNRemoved, true, eLangDEU, "Möchten Sie dieses Paket wirklich entfernen?", true},
                 {{1, 1}, eUNDeregistered, true, eLangDEU, "Möchten Sie dieses Paket wirklich entfernen?", true, nullptr, true}};
    for (const Case& c : cases) {
        cSOPKGLang::applyLang(eLangENG);
        if (!store.hasSection("install/org.qmx.test.pkg")) {
            ASSERT_EQ(install(pkg, home, &store).job, 0u);
        }
        const std::string journal = c.blocker ? home.path() + "/.qmx/inflight-org.qmx.other" : home.journal();
        if (c.blocker) {
            store.setParamInt64("install/org.qmx.other/ver", 1);
            store.setParamStr("install/org.qmx.other/name", c.blocker, -1);
            const std::string a = home.installFolder() + "/a.txt", stuck = home.installFolder() + "/stuck";
            sJournal j;
            ASSERT_TRUE(makeDirs(stuck) && writeTextFile(stuck + ".bkp", "earlier") &&
                        j.add(eLineRoot, home.installFolder().c_str()) && j.add(eLineReplaced, a.c_str()) && j.add(eLineReplaced, stuck.c_str()) &&
                        saveJournal(journal.c_str(), j, false) == 1);
        } else if (!c.question) {
            ASSERT_TRUE(writeStuckJournal(home));
        }
        const std::string left = home.installFolder() + "/b.txt.tmp";
        if (c.setAside) {
            ASSERT_TRUE(writeTextFile(home.journal(), "QMXINFLIGHT 4\nstate pending\nend 0\nsha256 0\n") &&
                        writeTextFile(left, "b"));
        }
        if (c.shared) {
            store.setParamInt64("install/org.qmx.other/ver", 1);
            store.setParamStr("install/org.qmx.other/name", "Other Tool", -1);
            store.setParamInt32("install/org.qmx.other/files", 1);
            store.setParamStr("install/org.qmx.other/file0", (home.installFolder() + "/a.txt").c_str(), -1);
        }
        store.setParamInt16("install/org.qmx.test.pkg/lang", (unsigned short)c.lang);
        size_t next = 0;
        std::vector<std::string> texts;
        std::vector<int> icons;
        cUninstallInitUI* form = nullptr;
        script.answer = [&](cChildElement* root, int depth) {
            if (depth < 2) return -2;
            // The progress form steps aside while its question or message is shown.
            EXPECT_FALSE(form->platformWindow()->visible()) << root->text();
            texts.push_back(root->text());
            cMessageForm* box = dynamic_cast<cMessageForm*>(root);
            icons.push_back(box ? box->iconIndex() : -1);
            return next < c.answers.size() ? c.answers[next++] : 1;
        };
        sPkgUninstallContext u;
        u.codeName.set("org.qmx.test.pkg");
        u.key.set("org.qmx.test.pkg");
        form = new cUninstallInitUI;
        form->ctx = &u;
        struct cStoreJob : public cUninstallInitJob {
            cStoreJob(cUninstallInitUI* f, sPkgUninstallContext* c, cApplicationConfig* s)
                : cUninstallInitJob(f, c), form(f), ctx(c), store(s) {}
            ~cStoreJob() override { terminate(4000); }
            unsigned int job() override {
                cSentAsker asker(form);
                return uninstallJob(*ctx, store, &asker);
            }
            cUninstallInitUI* form;
            sPkgUninstallContext* ctx;
            cApplicationConfig* store;
        };
        form->job = new cStoreJob(form, &u, &store);
        form->store = &store;
        int code = cChildElement::modalWindow(&maker, "uninstall", 350, 110, form, nullptr, 0);
        EXPECT_EQ(code, c.want == eUNRemoved ? 0 : 1);
        if (!c.question) {
            ASSERT_EQ(texts.size(), 1u);
            // The package whose journal stays is named: this one, or the other.
            EXPECT_EQ(texts[0].rfind("The interrupted installation or removal of " +
                                         std::string(c.blocker ? c.blocker : name.ptr) + " could",
                                     0),
                      0u)
                << texts[0];
            EXPECT_TRUE(apptest::exists(home.installFolder() + "/a.txt"));
            ASSERT_EQ(unlink(journal.c_str()), 0);
            ASSERT_EQ(rmdir((home.installFolder() + "/stuck").c_str()), 0);
            unlink((home.installFolder() + "/stuck.bkp").c_str());
            store.removeSection("install/org.qmx.other");
            continue;
        }
        ASSERT_EQ(texts.size(), 2u);
        EXPECT_EQ(texts[0], c.question) << "the job's language is applied by the form";
        EXPECT_EQ(icons[0], 1) << "the question box";
        EXPECT_EQ(cLibLang::appliedLang(), c.lang);
        // The shared files are said to stay on every path: never among those the user may delete.
        // Names left as they were: the user is told to check them, never that deleting is safe.
        std::string done = c.setAside ? "Die Registrierung des Pakets wurde entfernt.\nPrüfen Sie die unten genannten "
                                        "Dateien, bevor Sie restliche Paketdateien löschen."
                                      : "Das Paket wurde erfolgreich deinstalliert.";
        if (c.shared) done += "\nDateien, die es mit Other Tool teilt, wurden behalten: Sie gehören auch zu diesem Paket, löschen Sie sie nicht.";
        if (c.setAside) done += "\nUnverändert gelassen, da sie Ihnen gehören könnten:\n" + left;
        EXPECT_EQ(texts[1], c.gone ? done : "Uninstallation procedure was canceled.");
        unlink(left.c_str());
        EXPECT_EQ(apptest::exists(home.installFolder() + "/a.txt"), !c.gone || c.shared);
        EXPECT_EQ(apptest::exists(home.installFolder() + "/b.txt"), !c.gone);
    }
}

// An unknown package is answered as any other uninstallation runs: behind the progress
// form, after the language question (no record names a language), in the language chosen.
TEST_F(JobForms, UninstallOfAnUnknownPackageAsksTheLanguageThenAnswersNotInstalled) {
    PrivateHome home;
    cSOPKGLang::applyLang(eLangDEU);
    script.seen.clear();
    int preselected = -1;
    script.answer = [&](cChildElement* root, int depth) {
        if (cLangSelectionForm* lf = dynamic_cast<cLangSelectionForm*>(root)) {
            preselected = lf->preselect;
            return eLangJPN + 1;
        }
        return depth < 2 ? -2 : 1;
    };
    EXPECT_EQ(uninstall("org.qmx.none", nullptr, &maker), 1);
    EXPECT_EQ(cLibLang::appliedLang(), (int)eLangJPN);
    EXPECT_EQ(preselected, cSOPKGLang::_defaultLang());
    EXPECT_EQ(script.seen, (std::vector<std::string>{"1:", "2:", std::string("2:") + cCiomLangData::string("pkgm::unin", 7)}));
}

TEST_F(JobForms, JobPanelPostsStartAndEndToItsForm) {
    class cTestPanel : public cJobPanel {
    public:
        ~cTestPanel() override { terminate(4000); }
        unsigned int job() override { return 5; }
    };
    class cForm : public cCustomForm {
    public:
        std::vector<std::string>* log;
        void onConstruct() override {
            cTestPanel* panel = new cTestPanel;
            clientArea()->attach(panel, 0, 0, 400, 150);
            panel->start();
        }
        bool onAction(cChildElement*, cChildAction* a) override {
            if (a->type == eJobStarted) log->push_back("started");
            if (a->type == eJobEnded) {
                log->push_back("ended " + std::to_string(static_cast<cJobEndAction*>(a)->result));
                end_modal(9);
            }
            return true;
        }
    };
    std::vector<std::string> log;
    cForm* f = new cForm;
    f->log = &log;
    EXPECT_EQ(cChildElement::modalWindow(&maker, "panel", 400, 150, f, nullptr, 0), 9);
    EXPECT_EQ(log, (std::vector<std::string>{"started", "ended 5"}));
}

TEST_F(JobForms, JobPanelBarIsStageWeighted) {
    class cTestPanel : public cJobPanel {
    public:
        ~cTestPanel() override { terminate(4000); }
        unsigned int job() override { return 0; }
    };
    cTestPanel p;
    p.onInitData();
    p.setNumStages(4);
    p.setStageDescr(2, "two");
    p.setStageDescr(9, "ignored");
    EXPECT_TRUE(p.notifyStage(2));
    cJob::sleep(110);
    EXPECT_TRUE(p.notifyProgress(50.0));
    EXPECT_EQ(p.barPos(), 62);
    EXPECT_STREQ(p.statusText(), "two");
    EXPECT_TRUE(p.notifyStage(11));
    EXPECT_STREQ(p.statusText(), "two") << "an outside stage keeps the text";
    // Faster than every 100 ms: the bar does not move.
    EXPECT_TRUE(p.notifyProgress(100.0));
    EXPECT_EQ(p.barPos(), 62);
}

TEST_F(JobForms, InstallerPanelSendsTheBusyFileToItsForm) {
    std::string v1 = work.file("v1.data"), v2 = work.file("v2.data");
    ASSERT_TRUE(makePackage(work.path(), "1.0", {{"a.txt", "a1"}}, v1));
    ASSERT_TRUE(makePackage(work.path(), "2.0", {{"a.txt", "a2"}}, v2));
    for (bool retry : {true, false}) {
        PrivateHome home;
        cMemConfig store;
        ASSERT_EQ(install(v1, home, &store).job, 0u);
        std::string target = home.installFolder() + "/a.txt";
        // Busy until the form has been asked once.
        class cBusyFS : public cInstallFS {
        public:
            std::atomic<bool> busy{true};
            bool canOpenForWrite(const char* p) override { return !busy && cInstallFS::canOpenForWrite(p); }
        } fs;
        sPkgInstallContext ctx;
        ctx.packagePath.set(v2.c_str());
        ctx.store = &store;
        ctx.journalPath.set(home.journal().c_str());
        ASSERT_EQ(installChecks(ctx, nullptr), 0u);
        class cForm : public cCustomForm {
        public:
            sPkgInstallContext* ctx;
            cBusyFS* fs;
            cHeadlessWindowMaker* maker = nullptr;
            bool retry;
            std::vector<std::string>* asked;
            void onConstruct() override {
                cInstallerJobPanel* p = new cInstallerJobPanel;
                clientArea()->attach(p, 0, 0, 400, 150);
                p->fileOps = fs;
                p->startInstall(ctx);
            }
            bool onAction(cChildElement*, cChildAction* a) override {
                if (cAskReleaseAction* q = dynamic_cast<cAskReleaseAction*>(a)) {
                    EXPECT_EQ(a->type, 8) << "the installation's busy file travels to the wizard as type 8";
                    asked->push_back(q->path.ptr);
                    std::string png = std::string(QMX_BINARY_DIR) + "/jobpanel.png";
                    if (maker) maker->snapshotPNG(maker->lastWindow(), png.c_str());
                    if (retry) fs->busy = false;
                    *q->giveUp = !retry;  // give up unless retrying
                    return true;
                }
                if (a->type == eJobEnded) end_modal(1);
                return true;
            }
        };
        std::vector<std::string> asked;
        cForm* f = new cForm;
        f->ctx = &ctx;
        f->fs = &fs;
        f->retry = retry;
        f->asked = &asked;
        f->maker = &maker;
        EXPECT_EQ(cChildElement::modalWindow(&maker, "install", 400, 150, f, nullptr, 0), 1);
        EXPECT_EQ(asked, std::vector<std::string>{target});
        EXPECT_EQ(ctx.result, retry ? 0u : (unsigned)eIJGaveUp);
        EXPECT_EQ(readTextFile(target), retry ? "a2" : "a1");
    }
}

TEST_F(JobForms, WindowlessMessageForm) {
    struct Case {
        int kind;
        int boxAnswer;
        int want;
    } cases[] = {{1, 1, 0}, {2, 1, 0}, {3, 1, 0}, {4, 1, 1}, {4, 0, 0}};
    std::string png = std::string(QMX_BINARY_DIR) + "/msgbox.png";
    for (const Case& c : cases) {
        script.answer = [&](cChildElement*, int depth) {
            if (depth == 2 && c.kind == 4) maker.snapshotPNG(maker.lastWindow(), png.c_str());
            // The carrier ("Software manager") is not shown behind its box.
            cPlatformWindow* carrier = maker.findWindow("Software manager");
            if (depth == 2) {
                EXPECT_TRUE(carrier && !carrier->visible());
            }
            return depth == 2 ? c.boxAnswer : -2;
        };
        EXPECT_EQ(cWLMsgForm::modal(c.kind, "Failed to delete the existing file!\nThe file is used by another process.", &maker), c.want) << c.kind << " " << c.boxAnswer;
    }
}

// What is said of an interrupted run's journal (set aside, unreadable), of the names it
// may have left (a dozen and how many more), of the names an uninstallation left, of a
// package's file beside its own backup name and of an update refused for the earlier
// version's file at such a name fits a 1024-pixel screen in every language: no line of
// the box wider than 900 pixels in its font, the OK button on the screen.
// Snapshots in English, German and Japanese.
TEST_F(JobForms, JournalMessagesFitTheScreenInEveryLanguage) {
    cMemConfig store;
    store.setParamStr("install/org.example.drawing/name", "Example Drawing Tools", -1);
    const std::string home = "/home/someone.else/.qmx/", journal = home + "inflight-org.example.drawing";
    const std::string file = "/home/someone.else/Applications/Example Drawing Tools/share/brushes/default.conf";
    _List<sSetAsideJournal> aside;
    sSetAsideJournal* a = aside.add();
    a->code.set("org.example.drawing");
    a->path.set((journal + ".refused~2").c_str());
    _List<_guardchar<char> > leftovers, many;
    for (const char* suffix : {".bkp", ".tmp"}) leftovers.add()->set((file + suffix).c_str());
    _List<_guardchar<char> > keptFor;
    keptFor.add()->set("Example Drawing Tools Classic");
    // An update's: files kept for another package, one left as it may be the user's.
    sPkgInstallContext updated;
    updated.keptFor.add()->set("Example Drawing Tools Classic");
    updated.refusedFiles.add()->set(file.c_str());
    for (int i = 0; i < 14; i++) {
        many.add()->set((file + "-" + std::to_string(i) + ".tmp").c_str());
        updated.keptFiles.add()->set((file + "-" + std::to_string(i)).c_str());
    }
    for (int l = 0; l < gSOPKGLangTable_count; l++) {
        int id = cSOPKGLang::gLangs[l].id;
        ASSERT_TRUE(cSOPKGLang::applyLang(id));
        _guardchar<char> setAside, unreadable, deregistered, left, removedMany, kept, notRemoved;
        setAsideMessage(&store, aside, setAside);
        unreadableMessage("Example Drawing Tools", journal.c_str(), EIO, unreadable);
        uninstalledMessage(eUNDeregistered, leftovers, keptFor, deregistered);
        // Without names the result stays as it is: what remains is the package's.
        _guardchar<char> bare;
        uninstalledMessage(eUNDeregistered, {}, {}, bare);
        EXPECT_STREQ(bare.ptr, cCiomLangData::string("pkgm::unin", eUninDeregistered)) << ciLangID(id);
        leftoversMessage(many, 12, left);
        appendEarlierLeft(updated, 12, kept);
        // The second list names its file, though the first alone would fill the dozen.
        std::string keptText = kept.ptr;
        EXPECT_EQ(keptText.substr(keptText.rfind('\n') + 1), file) << ciLangID(id);
        updated.result = eIJCannotWrite;
        updated.notRemoved.add()->set(file.c_str());
        installFailedMessage(updated, 12, notRemoved);
        updated.notRemoved.destroy();
        _guardchar<char> sideTaken;
        updated.result = eIJSideNameTaken;
        updated.messagePath.set((file + ".bkp\n" + file).c_str());
        installFailedMessage(updated, 12, sideTaken);
        // A long list is cut as every list is: a dozen names and how many more.
        uninstalledMessage(eUNDeregistered, many, {}, removedMany);
        std::string more = cCiomLangData::string("pkgm::iini", eIiniMore);
        more.replace(more.find("%s"), 2, "2");
        EXPECT_EQ(std::string(removedMany.ptr).substr(strlen(removedMany.ptr) - more.size()), more) << ciLangID(id);
        std::string sideName = messageOf(resultMessage(eAtInstallStart, eIISideName));
        sideName.replace(sideName.find("%s"), 2, file + "\n" + file + ".bkp");
        const std::pair<const char*, std::string> texts[] = {
            {"set_aside", setAside.ptr}, {"unreadable", unreadable.ptr}, {"leftover", left.ptr},
            {"deregistered", deregistered.ptr}, {"side_name", sideName}, {"update_left", kept.ptr},
            {"not_removed", notRemoved.ptr}, {"side_name_taken", sideTaken.ptr}};
        for (auto& t : texts) {
            int widest = -1;
            script.answer = [&](cChildElement* root, int depth) {
                cMessageForm* box = dynamic_cast<cMessageForm*>(root);
                if (!box) return -2;
                sSize size;
                cMessageForm::boxSize(box, box->text(), cMessageForm::bsOk, size);
                widest = size.cx - 30;
                if (id == eLangENG || id == eLangDEU || id == eLangJPN)
                    maker.snapshotPNG(maker.lastWindow(),
                                      (apptest::snapshotDir() + "/journal_" + t.first + "_" + ciLangID(id) + ".png").c_str());
                return 1;
            };
            cWLMsgForm::modal(eBoxWarning, t.second.c_str(), &maker);
            EXPECT_GT(widest, 0) << ciLangID(id) << " " << t.first;
            EXPECT_LE(widest, 900) << ciLangID(id) << " " << t.first << ":\n" << t.second;
        }
    }
}

// The language form driven by keys on its grid: the preselection is quiet (no switch),
// Up and Down switch the UI at once, Left and Right stay on the line, accepting needs a
// valid language, Escape asks first.
TEST_F(JobForms, LanguageFormKeysPickSwitchAndAccept) {
    const int kBad = 12;
    _List<int> list;
    for (int l : {(int)eLangENG, (int)eLangDEU, (int)eLangJPN, kBad, (int)eLangRUS, (int)eLangDEU}) *list.add() = l;
    struct Case {
        const char* what;
        int preselect;
        std::vector<int> keys;
        int boxAnswer;  // the cancel confirmation: 1 yes
        int openCell;   // selected cell when the form opens
        int want;       // chooseLang's result
        int applied;    // the UI language afterwards
    } cases[] = {
        {"preselection accepted as it is", eLangDEU, {kKeyEnter}, 0, 1, eLangDEU, eLangENG},
        {"down switches at once", eLangDEU, {kKeyDown, kKeyEnter}, 0, 1, eLangJPN, eLangJPN},
        {"left and right stay on the line", eLangDEU, {kKeyRight, kKeyLeft, kKeyEnter}, 0, 1, eLangDEU, eLangENG},
        {"an id above 10 is neither applied nor returned", eLangJPN, {kKeyDown, kKeyEnter, kKeyDown, kKeyEnter}, 0, 2,
         eLangRUS, eLangRUS},
        {"nothing preselected: Enter waits for a pick", eLangTUR, {kKeyEnter, kKeyDown, kKeyEnter}, 0, -1, eLangENG,
         eLangENG},
        {"escape, no, then a pick", eLangJPN, {kKeyEscape, kKeyUp, kKeyEnter}, 0, 2, eLangDEU, eLangDEU},
        {"escape, yes", eLangDEU, {kKeyEscape}, 1, 1, 11, eLangENG},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        cSOPKGLang::applyLang(eLangENG);
        int openCell = -2, openLang = -2, linkShown = -1;
        std::string linkText;
        script.answer = [&](cChildElement* root, int depth) {
            if (depth > 1) return c.boxAnswer;
            cLangSelectionForm* f = dynamic_cast<cLangSelectionForm*>(root);
            if (!f) return 0;
            maker.pumpAll();
            openCell = f->grid()->selectedCell();
            EXPECT_EQ(cLibLang::appliedLang(), (int)eLangENG) << "the preselection switched the language";
            openLang = f->selectedLang();
            for (int k : c.keys) {
                linkShown = f->link() && f->link()->visible_child();
                linkText = f->link() && f->link()->text() ? f->link()->text() : "";
                maker.injectKey(maker.lastWindow(), k);
                maker.pumpAll();
            }
            return -2;
        };
        EXPECT_EQ(cLangSelectionForm::chooseLang(list, c.preselect, "org.qmx.test", nullptr, &maker), c.want);
        EXPECT_EQ(openCell, c.openCell);
        EXPECT_EQ(openLang, c.openCell < 0 ? 11 : c.preselect);
        EXPECT_EQ(cLibLang::appliedLang(), c.applied);
        // The link follows the language: its text as the last key found it.
        EXPECT_EQ(linkShown, 1);
        if (c.keys.size() > 1) {
            EXPECT_EQ(linkText, cCiomLangData::string("pkgm::langs", 4));
        }
    }
}

// A language without a table of the application's (Spanish: none at all; French: the
// toolkit's only) reads in English, the form at once and the wizard after it, never in the
// language the user moved over (langform-<LANG>-over-<LANG>.png).
TEST_F(JobForms, LanguageWithoutTableShowsEnglish) {
    _List<int> list;
    for (int l : {(int)eLangUKR, (int)eLangESP, (int)eLangDEU, (int)eLangFRA}) *list.add() = l;
    const struct {
        int over, chosen;
    } cases[] = {{eLangUKR, eLangESP}, {eLangDEU, eLangFRA}};
    for (const auto& c : cases) {
        std::string name = std::string(ciLangID(c.chosen)) + "-over-" + ciLangID(c.over);
        SCOPED_TRACE(name);
        cSOPKGLang::applyLang(c.over);  // as the installation start applies the preselection
        std::string prompt, link, next;
        script.answer = [&](cChildElement* root, int depth) {
            cLangSelectionForm* f = dynamic_cast<cLangSelectionForm*>(root);
            if (depth > 1 || !f) return 0;
            maker.injectKey(maker.lastWindow(), kKeyDown);
            maker.pumpAll();
            prompt = f->subtitle()->text() ? f->subtitle()->text() : "";
            link = f->link() && f->link()->text() ? f->link()->text() : "";
            maker.snapshotPNG(maker.lastWindow(), (std::string(QMX_BINARY_DIR) + "/langform-" + name + ".png").c_str());
            return f->selectedLang() + 1;
        };
        EXPECT_EQ(cLangSelectionForm::chooseLang(list, c.over, "org.qmx.test", nullptr, &maker), c.chosen);
        EXPECT_EQ(prompt, "Select the language that will be used during the installation");
        EXPECT_EQ(link, "Other languages");
        // What the wizard reads for its button once the chosen language is applied.
        ASSERT_TRUE(cSOPKGLang::applyLang(c.chosen));
        EXPECT_STREQ(cCiomLangData::string("pkgm::instw", eInstwNext), "Next");
    }
}

TEST_F(JobForms, LanguageFormResultsLinkAndSnapshot) {
    _List<int> none, one, all;
    *one.add() = eLangKOR;
    for (int l = 0; l <= 10; l++) *all.add() = l;
    // No window for fewer than two languages; none at all without a display.
    script.answer = [&](cChildElement*, int) {
        ADD_FAILURE() << "a window opened";
        return 0;
    };
    EXPECT_EQ(cLangSelectionForm::chooseLang(none, eLangDEU, "x", nullptr, &maker), 11);
    EXPECT_EQ(cLangSelectionForm::chooseLang(one, eLangDEU, "x", nullptr, &maker), (int)eLangKOR);
    gConsoleMessages = true;
    EXPECT_EQ(cLangSelectionForm::chooseLang(all, eLangJPN, "x", nullptr, &maker), (int)eLangJPN);
    EXPECT_EQ(cLangSelectionForm::chooseLang(all, 11, "x", nullptr, &maker), (int)eLangENG);
    gConsoleMessages = false;

    // Eleven languages, the last preselected: scrolled into view, one column, no link
    // without a code.
    std::string png = std::string(QMX_BINARY_DIR) + "/langform.png";
    script.answer = [&](cChildElement* root, int depth) {
        cLangSelectionForm* f = static_cast<cLangSelectionForm*>(root);
        cLangsGrid* g = f->grid();
        maker.pumpAll();
        EXPECT_EQ(f->link(), nullptr);
        EXPECT_EQ(g->cellsPerLine(), 1);
        sRect r;
        EXPECT_TRUE(g->cellRect(10, r));
        EXPECT_GE(r.y - g->shiftY(), 0);
        EXPECT_LE(r.y + r.h - g->shiftY(), g->height());
        EXPECT_LE(r.x + r.w, g->width() - g->getVScrollRes()) << "the column runs under the bar";
        EXPECT_GT(g->getVScrollRes(), 0);
        // The selected cell's colours, read back from the window.
        sPoint at = {0, 0}, origin = {0, 0};
        g->absPos(at);
        root->absPos(origin);
        int x = at.x - origin.x + 100, y = at.y - origin.y + r.y - g->shiftY() + 27;
        unsigned int px = maker.lastWindow()->canvas()->pixel(x, y);
        EXPECT_EQ(px & 0xFFFFFF, 0xDDE8F4u);
        maker.snapshotPNG(maker.lastWindow(), png.c_str());
        return f->selectedLang() + 1;
    };
    EXPECT_EQ(cLangSelectionForm::chooseLang(all, eLangTUR, "", nullptr, &maker), (int)eLangTUR);
    EXPECT_TRUE(apptest::exists(png));

    // In each language the title and the subtitle start at their places in their fonts, on
    // one line each, and Start keeps its size (langform-<LANG>.png).
    _List<int> three;
    for (int l : {(int)eLangENG, (int)eLangDEU, (int)eLangJPN}) *three.add() = l;
    for (int lang : {(int)eLangENG, (int)eLangDEU, (int)eLangJPN, (int)eLangUKR}) {
        cSOPKGLang::applyLang(lang);
        script.answer = [&](cChildElement* root, int) {
            cLangSelectionForm* f = static_cast<cLangSelectionForm*>(root);
            maker.pumpAll();
            auto rect = [](cChildElement* e) { return std::vector<int>{e->x(), e->y(), e->width(), e->height()}; };
            int w = f->title()->parent()->width();
            EXPECT_EQ(f->title()->font(), mkTitleFont());
            EXPECT_EQ(f->subtitle()->font(), mkStdFont());
            EXPECT_EQ(rect(f->title()), (std::vector<int>{15, 25, w - 30, textExtent("X", mkTitleFont()).cy}));
            EXPECT_EQ(rect(f->subtitle()), (std::vector<int>{15, 55, w - 30, textExtent("X", mkStdFont()).cy}));
            EXPECT_EQ(rect(f->startButton()), (std::vector<int>{w - 115, 330, 100, 26}));
            maker.snapshotPNG(maker.lastWindow(),
                              (std::string(QMX_BINARY_DIR) + "/langform-" + ciLangID(lang) + ".png").c_str());
            // "Other languages" is a link: Tab goes from the list to Start and back.
            for (int i = 0; i < 2; i++) maker.injectKey(maker.lastWindow(), kKeyTab);
            EXPECT_FALSE(f->link()->focused()) << ciLangID(lang);
            EXPECT_TRUE(f->grid()->focused()) << ciLangID(lang);
            return 0;
        };
        cLangSelectionForm::chooseLang(three, lang, "org.qmx.example.hello", nullptr, &maker);
    }
    cSOPKGLang::applyLang(eLangENG);

    // The language page's address: the code percent-encoded.
    struct {
        const char* code;
        const char* query;
    } addresses[] = {
        {"org.qmx.test-1_~", "org.qmx.test-1_~"}, {"a b&c=/?%", "a%20b%26c%3D%2F%3F%25"}, {"é", "%C3%A9"}};
    for (auto& a : addresses) {
        _guardchar<char> out;
        ASSERT_TRUE(cLangSelectionForm::langPageAddress(a.code, out));
        std::string got = out.ptr;
        EXPECT_EQ(got.substr(got.find("/app_lang_opts.php?app=") + 23), a.query);
        EXPECT_EQ(got.rfind("http://", 0), 0u);
    }
    _guardchar<char> out;
    EXPECT_FALSE(cLangSelectionForm::langPageAddress("", out));
}

}  // namespace

namespace {

unsigned int argbOf(unsigned int bgr) {
    return 0xFF000000u | (bgr & 0xFF) << 16 | (bgr & 0xFF00) | (bgr >> 16 & 0xFF);
}

TEST(AppButtons, StateColoursAndTextPlacement) {
    struct Case {
        const char* name;
        bool disabled;
        const char* text;
        int width;
        unsigned int fill;  // 0x00BBGGRR
    } cases[] = {
        {"normal", false, "", 100, 0xE7E7E7},
        // 96 * 255 / 255 + 159 * 231 / 255 = 96 + 144 per channel.
        {"disabled", true, "", 100, 0xF0F0F0},
        {"text wider than the button", false, "a rather long button text", 30, 0xE7E7E7},
    };
    for (const Case& c : cases) {
        cWZIButton b;
        b.onInitData();
        b.move(0, 0, c.width, 30);
        b.setText(c.text, -1, false);
        if (c.disabled) b.disable(false);
        cCanvas canvas(c.width, 30);
        b.onPaint(&canvas);
        EXPECT_EQ(canvas.pixel(0, 0), argbOf(0xA79997)) << c.name << ": border";
        if (!*c.text) {
            EXPECT_EQ(canvas.pixel(5, 15), argbOf(c.fill)) << c.name;
            continue;
        }
        // Drawn from x = 0: some pixel of the first columns is text, not fill.
        bool ink = false;
        for (int x = 1; x < 4; x++)
            for (int y = 1; y < 29; y++) ink = ink || canvas.pixel(x, y) != argbOf(c.fill);
        EXPECT_TRUE(ink) << c.name;
    }
    EXPECT_EQ(cWZIButton::mix(0xFFFFFF, 192, 0xE7E7E7, 63), 0xF9F9F9u);
}

TEST(AppButtons, ActivatedSelectorBarOnlyAboveTheTextBox) {
    cWZISelButton s;
    s.onInitData();
    s.move(0, 0, 200, 40);
    s.setText("Packages", -1, false);
    s.setActivated(true);
    cCanvas canvas(200, 40);
    s.onPaint(&canvas);
    int tw = cWZISelButton::requiredWidth(&s, "Packages", s.font) - 38;
    ASSERT_GT(tw, 0);
    EXPECT_EQ(canvas.pixel(10, 1), 0xFFFFFFFFu) << "white before the bar";
    EXPECT_EQ(canvas.pixel(19, 1), argbOf(0x5C5CDA));
    EXPECT_EQ(canvas.pixel(19 + tw - 1, 1), argbOf(0x5C5CDA));
    EXPECT_EQ(canvas.pixel(19 + tw + 1, 1), 0xFFFFFFFFu) << "white after the bar";
    EXPECT_EQ(canvas.pixel(100, 3), argbOf(0xEBEBEB)) << "the line under the strip";
    s.setActivated(false);
    cCanvas plain(200, 40);
    s.onPaint(&plain);
    EXPECT_EQ(plain.pixel(19, 1), 0xFFFFFFFFu);
}

}  // namespace

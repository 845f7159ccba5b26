// The installer wizard on the headless window maker, over the example package built by
// "make": driven page by page with injected keys and clicks, each page's state checked,
// message boxes answered by the modal script, then the files and the registry.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <functional>
#include <vector>

#include "apptest.h"
#include "base/process.h"
#include "cihlpdoc/sidocbox.h"
#include "ciplatform/canvas.h"
#include "ciplatform/headless.h"
#include "installtest.h"
#include "instengine/installinit.h"
#include "instengine/installjob.h"
#include "softmgrapp/docview.h"
#include "softmgrapp/instwizard.h"
#include "softmgrapp/jobforms.h"
#include "softmgrapp/processhooks.h"
#include "softmgrapp/sopkglang.h"
#include "ui/elementhost.h"
#include "ui/lang.h"

using namespace installtest;

namespace {

const int kReturn = 397, kEscape = 283;

// Runs `drive` once the wizard's window is open; message boxes (depth 2) are answered
// from `answers` in order (then 0) and their texts recorded.
class cWizardScript : public cHeadlessScript {
public:
    std::function<void(cHeadlessWindowMaker*, cPlatformWindow*, cInstWizard*)> drive;
    std::vector<int> answers;
    std::vector<std::string> boxes;
    std::vector<cPlatformWindow*> carrierOwners, boxOwners;
    std::string boxShots;  // when set, each box is kept as "<boxShots><n>.png"

    void onModal(cHeadlessWindowMaker* maker, cPlatformWindow* w, int depth) override {
        cElementHost* h = static_cast<cElementHost*>(w->userData);
        cChildElement* root = h ? h->rootElement() : nullptr;
        if (!root) return;
        if (depth == 1) {
            if (drive) drive(maker, w, static_cast<cInstWizard*>(root));
            return;
        }
        // An uninstallation run by the wizard works on; its owner window is recorded.
        if (dynamic_cast<cUninstallInitUI*>(root)) {
            carrierOwners.push_back(w->owner());
            return;
        }
        boxes.push_back(root->text() ? root->text() : "");
        boxOwners.push_back(w->owner());
        if (!boxShots.empty())
            maker->snapshotPNG(w, (apptest::snapshotDir() + "/" + boxShots + std::to_string(boxes.size()) + ".png").c_str());
        int a = answers.empty() ? 0 : answers.front();
        if (!answers.empty()) answers.erase(answers.begin());
        root->end_modal(a);
    }
};

class InstWizard : public ::testing::Test {
protected:
    void SetUp() override {
        installProcessHooks(nullptr, false);
        cSOPKGLang::applyLang(eLangENG);
        bundle = out.file("HelloTool.app");
        ASSERT_EQ(apptest::makeBundle("scenario.txt", bundle, apptest::exampleDir()), 0);
        maker.setModalScript(&script);
        maker.setIdleTimeout(20000);
        cFinishPanel::gStarter = recordStart;
        started().clear();
    }
    void TearDown() override { cFinishPanel::gStarter = startDetached; }

    // The start's checks as the loading form runs them (English chosen).
    bool load(sPkgInstallContext& ctx) {
        ctx.packagePath.set((bundle + "/Contents/Resources/scenario.data").c_str());
        ctx.executablePath.set(home.fakeExe().c_str());
        ctx.store = &store;
        ctx.journalPath.set(home.journal().c_str());
        ScriptedAsker asker;
        asker.lang = eLangENG;
        return installChecks(ctx, &asker) == 0;
    }
    // `each` with the start's checks done, in English, German and Japanese (applied); then
    // English again.
    void inThreeLanguages(const std::function<void(const std::string& lang, sPkgInstallContext& ctx)>& each) {
        for (int id : {eLangENG, eLangDEU, eLangJPN}) {
            std::string lang = ciLangID(id);
            SCOPED_TRACE(lang);
            sPkgInstallContext ctx;
            ASSERT_TRUE(load(ctx));
            ASSERT_TRUE(cSOPKGLang::applyLang(id));
            each(lang, ctx);
        }
        cSOPKGLang::applyLang(eLangENG);
    }
    static std::vector<std::vector<std::string> >& started() {
        static std::vector<std::vector<std::string> > s;
        return s;
    }
    static bool recordStart(const char* const* argv) {
        std::vector<std::string> v;
        for (; *argv; argv++) v.push_back(*argv);
        started().push_back(v);
        return true;
    }
    // Pumps until `done` holds (bounded: the installation job runs on its own thread).
    bool pumpUntil(const std::function<bool()>& done) {
        for (int i = 0; i < 2000 && !done(); i++) {
            maker.pumpAll();
            cJob::sleep(5);
        }
        maker.pumpAll();
        return done();
    }
    void key(cPlatformWindow* w, int k) {
        maker.injectKey(w, k);
        maker.pumpAll();
    }
    // A click on an element, `times` times in one loop turn (before anything is painted);
    // single clicks apart in time, so that none is a double click.
    void clickOn(cPlatformWindow* w, cChildElement* e, int times = 1) {
        // Positions are on the screen; the window's origin is the root's.
        sPoint p = {0, 0}, origin = {0, 0};
        e->absPos(p);
        e->root()->absPos(origin);
        if (times == 1) maker.advanceClock(1000);
        for (int i = 0; i < times; i++) maker.injectClick(w, p.x - origin.x + 6, p.y - origin.y + e->height() / 2);
        maker.pumpAll();
    }
    // Intro, notes and licence passed with the keyboard and the boxes ticked.
    void passAcceptancePages(cPlatformWindow* w, cInstWizard* wz) {
        key(w, kReturn);
        clickOn(w, wz->readmeBox());
        key(w, kReturn);
        clickOn(w, wz->licenceBox());
        key(w, kReturn);
    }
    void clickStep(cPlatformWindow* w, int step) {
        maker.injectClick(w, 30, 85 + 22 * step + 7);
        maker.pumpAll();
    }

    PrivateHome home;
    testutil::TempDir out;
    std::string bundle;
    cMemConfig store;
    cHeadlessWindowMaker maker;
    cWizardScript script;
};

// Blocks the installation's first file until released.
class cGateFS : public cInstallFS {
public:
    std::atomic<bool> open{false};
    std::atomic<int> waiting{0};
    int createExclusive(const char* p, int m) override {
        waiting++;
        while (!open) cJob::sleep(2);
        return cInstallFS::createExclusive(p, m);
    }
};

TEST_F(InstWizard, ExamplePackagePageByPage) {
    sPkgInstallContext ctx;
    ASSERT_TRUE(load(ctx));
    std::string folder = home.path() + "/My \"Apps\"/Hello Tool";
    ASSERT_TRUE(apptest::makeDirs(folder));
    // A file of another package where the example's program goes: refused first.
    ASSERT_TRUE(apptest::makeDirs(folder + "/bin"));
    ASSERT_TRUE(writeTextFile(folder + "/bin/hello", "not ours"));
    cGateFS gate;
    std::vector<std::string> log;
    script.answers = {1, 0};  // the foreign-file error box; "abort installation?" No
    script.drive = [&](cHeadlessWindowMaker*, cPlatformWindow* w, cInstWizard* wz) {
        std::string png = std::string(QMX_BINARY_DIR) + "/wizard-";
        auto shot = [&](const char* name) { maker.snapshotPNG(w, (png + name + ".png").c_str()); };
        // Introduction, notes, licence, location, install, finish.
        ASSERT_EQ(wz->stepCount(), 6);
        static const int kinds[6] = {0, 1, 2, 4, 5, 6};
        for (int i = 0; i < 6; i++) EXPECT_EQ(wz->step(i).kind, kinds[i]);
        EXPECT_EQ(wz->currentKind(), cInstWizard::pkIntro);
        EXPECT_STREQ(wz->nextButton()->text(), "Next");
        EXPECT_TRUE(wz->docView(0)->visible());
        shot("intro");
        key(w, kReturn);
        // The notes must be accepted: Next is gated by the box.
        ASSERT_EQ(wz->currentKind(), cInstWizard::pkNotes);
        EXPECT_TRUE(wz->readmeBox()->visible());
        EXPECT_FALSE(wz->readmeBox()->checked());
        EXPECT_FALSE(wz->nextButton()->enabled());
        key(w, kReturn);
        EXPECT_EQ(wz->currentKind(), cInstWizard::pkNotes) << "Return without the box";
        clickOn(w, wz->readmeBox());
        EXPECT_TRUE(wz->readmeBox()->checked());
        EXPECT_TRUE(wz->nextButton()->enabled());
        shot("notes");
        clickOn(w, wz->readmeBox());
        EXPECT_FALSE(wz->nextButton()->enabled()) << "unchecking disables Next again";
        clickOn(w, wz->readmeBox());
        clickOn(w, wz->nextButton());
        ASSERT_EQ(wz->currentKind(), cInstWizard::pkLicence);
        EXPECT_FALSE(wz->licenceBox()->checked());
        EXPECT_FALSE(wz->nextButton()->enabled());
        EXPECT_FALSE(wz->readmeBox()->visible());
        // Back through the step list: a completed step; a later one does nothing.
        clickStep(w, 4);
        EXPECT_EQ(wz->currentKind(), cInstWizard::pkLicence);
        clickStep(w, 1);
        ASSERT_EQ(wz->currentKind(), cInstWizard::pkNotes);
        EXPECT_FALSE(wz->readmeBox()->checked()) << "shown again unchecked";
        clickOn(w, wz->readmeBox());
        key(w, kReturn);
        clickOn(w, wz->licenceBox());
        shot("licence");
        key(w, kReturn);
        ASSERT_EQ(wz->currentKind(), cInstWizard::pkLocation);
        cFileSelectPanel* fs = wz->folderPage();
        EXPECT_EQ(std::string(fs->pathEdit()->text()), home.path() + "/Applications/Hello Tool");
        EXPECT_TRUE(fs->pathEdit()->readonly());
        // What Browse does with the dialog's folder (the volume has room).
        ASSERT_TRUE(fs->takeFolder(folder.c_str()));
        EXPECT_EQ(fs->pathEdit()->text(), folder);
        shot("location");
        key(w, kReturn);
        EXPECT_EQ(wz->currentKind(), cInstWizard::pkLocation) << "a foreign file stops the page";
        EXPECT_EQ(fs->lastMessage(), 8);
        ASSERT_EQ(unlink((folder + "/bin/hello").c_str()), 0);
        wz->installPanel()->fileOps = &gate;
        key(w, kReturn);
        ASSERT_EQ(wz->currentKind(), cInstWizard::pkInstall);
        ASSERT_TRUE(pumpUntil([&] { return gate.waiting > 0; }));
        EXPECT_FALSE(wz->nextButton()->enabled());
        shot("install");
        // While the job runs: step clicks, Return and closing are refused; Escape asks
        // whether to abort (answered No).
        clickStep(w, 0);
        EXPECT_EQ(wz->currentKind(), cInstWizard::pkInstall) << "step click during the job";
        EXPECT_EQ(wz->active(30, 92), -1);
        key(w, kReturn);
        maker.injectClose(w);
        maker.pumpAll();
        EXPECT_TRUE(maker.alive(w));
        key(w, kEscape);
        EXPECT_TRUE(wz->installPanel()->runs());
        gate.open = true;
        ASSERT_TRUE(pumpUntil([&] { return wz->currentKind() == cInstWizard::pkFinish; }));
        EXPECT_STREQ(wz->nextButton()->text(), "Close");
        cFinishPanel* fin = wz->finishPage();
        EXPECT_STREQ(fin->titleText(), "Installation completed successfully.");
        ASSERT_EQ(fin->actions().count(), 2);
        const cFinishPanel::sActions& run = fin->actions().head->value;
        EXPECT_EQ(std::string(run.commandLine.ptr), "\"" + folder + "/bin/hello\" --first-run");
        EXPECT_TRUE(run.box->checked());
        EXPECT_FALSE(fin->actions().head->next->value.box->checked());
        // No step is clickable on the Finish page.
        EXPECT_EQ(wz->active(30, 92), -1);
        shot("finish");
        // Fast clicks on Close and a Return: the programs start once.
        clickOn(w, wz->nextButton(), 2);
        key(w, kReturn);
    };
    EXPECT_EQ(cInstWizard::runWizard(ctx, &maker), 0);
    ASSERT_EQ(script.boxes.size(), 2u);
    EXPECT_NE(script.boxes[0].find("from a different package"), std::string::npos) << script.boxes[0];
    EXPECT_EQ(script.boxes[1], "Are you sure you want to abort installation?");
    EXPECT_EQ(ctx.result, 0u);
    // Only the checked program started, its path (with the folder's quotes and blanks)
    // one word of its own.
    ASSERT_EQ(started().size(), 1u);
    EXPECT_EQ(started()[0], (std::vector<std::string>{folder + "/bin/hello", "--first-run"}));
    // The files and the registry.
    struct stat st;
    ASSERT_EQ(stat((folder + "/bin/hello").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    EXPECT_TRUE(apptest::exists(folder + "/doc/README.txt"));
    EXPECT_FALSE(apptest::exists(folder + "/doc/LIESMICH.txt")) << "other languages' files stay out";
    _guardchar<char> path;
    ASSERT_TRUE(store.getParamStr("install/org.qmx.example.hello/path", path));
    EXPECT_EQ(std::string(path.ptr), folder);
    unsigned long long ver = 0;
    EXPECT_TRUE(store.getParamInt("install/org.qmx.example.hello/ver", ver));
}

// Another package of the example's name has its folder: the location page proposes the
// same folder, and its per-file check answers the other one's file on Next
// (wizard-location-beside-<LANG>.png).
TEST_F(InstWizard, LocationPageProposesTheSameFolderBesideAPackageOfTheSameName) {
    std::string taken = home.path() + "/Applications/Hello Tool";
    store.setParamInt64("install/org.qmx.example.hello.copy/ver", 0x0001000400020007ULL);
    store.setParamStr("install/org.qmx.example.hello.copy/name", "Hello Tool", -1);
    store.setParamStr("install/org.qmx.example.hello.copy/path", taken.c_str(), -1);
    store.setParamInt32("install/org.qmx.example.hello.copy/files", 1);
    store.setParamStr("install/org.qmx.example.hello.copy/file0", (taken + "/bin/hello").c_str(), -1);
    ASSERT_TRUE(apptest::makeDirs(taken + "/bin") && writeTextFile(taken + "/bin/hello", "the other one's"));
    inThreeLanguages([&](const std::string& lang, sPkgInstallContext& ctx) {
        std::string proposed;
        script.answers = {1, 1};  // the other package's file; close the installer: Yes
        script.drive = [&](cHeadlessWindowMaker*, cPlatformWindow* w, cInstWizard* wz) {
            passAcceptancePages(w, wz);
            ASSERT_EQ(wz->currentKind(), cInstWizard::pkLocation);
            proposed = wz->folderPage()->pathEdit()->text();
            maker.pumpAll();
            maker.snapshotPNG(w, (std::string(QMX_BINARY_DIR) + "/wizard-location-beside-" + lang + ".png").c_str());
            clickOn(w, wz->nextButton());
            EXPECT_EQ(wz->currentKind(), cInstWizard::pkLocation);
            EXPECT_EQ(wz->folderPage()->lastMessage(), 8);
            maker.injectClose(w);
            maker.pumpAll();
        };
        EXPECT_EQ(cInstWizard::runWizard(ctx, &maker), 1);
        EXPECT_EQ(proposed, taken);
    });
}

// Return is the page's accept wherever the focus is (on a ticked box, on Browse); Space
// presses Browse.
TEST_F(InstWizard, ReturnIsThePagesAcceptWhereverTheFocusIs) {
    sPkgInstallContext ctx;
    ASSERT_TRUE(load(ctx));
    script.drive = [&](cHeadlessWindowMaker*, cPlatformWindow* w, cInstWizard* wz) {
        key(w, kReturn);
        ASSERT_EQ(wz->currentKind(), cInstWizard::pkNotes);
        for (int k : {(int)kKeyTab, (int)kKeySpace, kReturn}) key(w, k);
        EXPECT_TRUE(wz->readmeBox()->checked());
        ASSERT_EQ(wz->currentKind(), cInstWizard::pkLicence) << "Return with the box focused";
        clickOn(w, wz->licenceBox());
        key(w, kReturn);
        ASSERT_EQ(wz->currentKind(), cInstWizard::pkLocation);
        // An empty path: the page's accept refuses it and gives the path the focus.
        wz->folderPage()->pathEdit()->setText("");
        wz->folderPage()->browseButton()->focus();
        key(w, kReturn);
        EXPECT_TRUE(script.boxes.empty()) << "Return on Browse opened the folder dialog";
        EXPECT_TRUE(wz->folderPage()->pathEdit()->focused()) << "Return on Browse was not the page's accept";
        EXPECT_EQ(wz->currentKind(), cInstWizard::pkLocation);
        wz->folderPage()->browseButton()->focus();
        key(w, kKeySpace);
        EXPECT_EQ(script.boxes.size(), 1u) << "Space on Browse opened no folder dialog";
        wz->end_modal(1);
    };
    cInstWizard::runWizard(ctx, &maker);
}

TEST_F(InstWizard, AbortDuringInstallationShowsTheResultOnFinish) {
    sPkgInstallContext ctx;
    ASSERT_TRUE(load(ctx));
    std::string folder = home.path() + "/Apps";
    ASSERT_TRUE(apptest::makeDirs(folder));
    cFileSelectPanel::tFreeSpace saved = cFileSelectPanel::gFreeSpace;
    cGateFS gate;
    script.answers = {1, 1, 1, 1};  // three refused folders, then abort: Yes
    script.boxShots = "wizard_refused_folder_";
    script.drive = [&](cHeadlessWindowMaker*, cPlatformWindow* w, cInstWizard* wz) {
        passAcceptancePages(w, wz);
        ASSERT_EQ(wz->currentKind(), cInstWizard::pkLocation);
        cFileSelectPanel* fs = wz->folderPage();
        // A user folder may hold a package like any other.
        const std::string docs = home.path() + "/Documents";
        ASSERT_TRUE(apptest::makeDirs(docs));
        EXPECT_TRUE(fs->takeFolder(docs.c_str()));
        // A folder whose volume is unknown (or too small) is not taken into the edit.
        cFileSelectPanel::gFreeSpace = [](const char*, unsigned long long&) { return false; };
        EXPECT_FALSE(fs->takeFolder(folder.c_str()));
        EXPECT_EQ(fs->lastMessage(), 12);
        cFileSelectPanel::gFreeSpace = [](const char*, unsigned long long& free) { return (free = 1), true; };
        EXPECT_FALSE(fs->takeFolder(folder.c_str()));
        EXPECT_EQ(fs->lastMessage(), 13);
        cFileSelectPanel::gFreeSpace = saved;
        EXPECT_EQ(std::string(fs->pathEdit()->text()), docs);
        // The program's store: refused on Next with a text of its own.
        fs->pathEdit()->setText((home.path() + "/.qmx").c_str());
        key(w, kReturn);
        EXPECT_EQ(wz->currentKind(), cInstWizard::pkLocation);
        EXPECT_EQ(fs->lastMessage(), 14);
        // A folder the installation will make is measured on its nearest existing parent.
        EXPECT_TRUE(fs->takeFolder((folder + "/not/yet").c_str()));
        ASSERT_TRUE(fs->takeFolder(folder.c_str()));
        wz->installPanel()->fileOps = &gate;
        key(w, kReturn);
        ASSERT_TRUE(pumpUntil([&] { return gate.waiting > 0; }));
        key(w, kEscape);
        gate.open = true;
        ASSERT_TRUE(pumpUntil([&] { return wz->currentKind() == cInstWizard::pkFinish; }));
        cFinishPanel* fin = wz->finishPage();
        EXPECT_STREQ(fin->titleText(), "Installation completed with an error:");
        EXPECT_STREQ(fin->messageText(), "Installation was aborted.");
        EXPECT_EQ(fin->messageColour(), 0x4040A0u);
        EXPECT_EQ(fin->actions().count(), 0) << "no programs after a failure";
        maker.snapshotPNG(w, (std::string(QMX_BINARY_DIR) + "/wizard-aborted.png").c_str());
        key(w, kReturn);
    };
    EXPECT_EQ(cInstWizard::runWizard(ctx, &maker), 1) << "the end code says it failed";
    ASSERT_EQ(script.boxes.size(), 4u);
    EXPECT_EQ(script.boxes[2], "The specified location belongs to the Software manager itself.\nNo package can be "
                               "installed among its own files.\nThe path is: " + home.path() + "/.qmx");
    EXPECT_EQ(script.boxes[3], "Are you sure you want to abort installation?");
    EXPECT_EQ(ctx.result, (unsigned)eIJStopped);
    EXPECT_TRUE(started().empty());
    EXPECT_FALSE(store.hasSection("install/org.qmx.example.hello"));
    EXPECT_FALSE(apptest::exists(folder + "/bin/hello"));
}

// The program's own folders (its store, a folder in the manager's bundle) are refused on
// Next with their own text in every language (wizard_own_folder_<LANG>_<n>.png); the home
// folder itself is taken like any other.
TEST_F(InstWizard, LocationPageRefusesOnlyTheProgramsOwnFolders) {
    const std::string own[] = {home.path() + "/.qmx",
                               home.path() + "/Applications/QMX Software Manager.app/Contents/Resources"};
    inThreeLanguages([&](const std::string& lang, sPkgInstallContext& ctx) {
        script.boxes.clear();
        script.answers = {1, 1, 1};  // the two refusals, then close the installer: Yes
        script.boxShots = "wizard_own_folder_" + lang + "_";
        script.drive = [&](cHeadlessWindowMaker*, cPlatformWindow* w, cInstWizard* wz) {
            passAcceptancePages(w, wz);
            ASSERT_EQ(wz->currentKind(), cInstWizard::pkLocation);
            cFileSelectPanel* fs = wz->folderPage();
            for (const std::string& f : own) {
                fs->pathEdit()->setText(f.c_str());
                key(w, kReturn);
                EXPECT_EQ(wz->currentKind(), cInstWizard::pkLocation) << f;
                EXPECT_EQ(fs->lastMessage(), 14) << f;
            }
            fs->pathEdit()->setText(home.path().c_str());
            EXPECT_TRUE(fs->accept());
            maker.injectClose(w);
            maker.pumpAll();
        };
        EXPECT_EQ(cInstWizard::runWizard(ctx, &maker), 1);
        ASSERT_EQ(script.boxes.size(), 3u);
        for (int i = 0; i < 2; i++) {
            std::string text = cCiomLangData::string("pkgm::fsel", 14);
            text.replace(text.find("%s"), 2, own[i]);
            EXPECT_EQ(script.boxes[i], text);
        }
    });
}

TEST_F(InstWizard, CloseBeforeTheEndAsksAndNoIsKept) {
    sPkgInstallContext ctx;
    ASSERT_TRUE(load(ctx));
    script.answers = {0, 1};
    script.drive = [&](cHeadlessWindowMaker*, cPlatformWindow* w, cInstWizard*) {
        maker.injectClose(w);
        maker.pumpAll();
        EXPECT_TRUE(maker.alive(w)) << "No keeps the window";
        maker.injectClose(w);
        maker.pumpAll();
    };
    EXPECT_EQ(cInstWizard::runWizard(ctx, &maker), 1) << "a cancel, not a success";
    ASSERT_EQ(script.boxes.size(), 2u);
    EXPECT_EQ(script.boxes[0], "Are you sure you want to close this Software Installer?");
    EXPECT_FALSE(store.hasSection("install/org.qmx.example.hello"));
}

// A package this manager installed is removed inside the wizard: its questions stand over
// the wizard's window and speak the wizard's language, not the old package's.
TEST_F(InstWizard, OwnDeprecatedPackageRemovedInTheWizardsWindowAndLanguage) {
    cUninstallInitJob::gPauseMs = 0;
    struct Case {
        int wizardLang, oldLang;
        const char* name;
    } cases[] = {{eLangDEU, eLangJPN, "DEU"}, {eLangJPN, eLangDEU, "JPN"}};
    for (const Case& c : cases) {
        cSOPKGLang::applyLang(eLangENG);
        sPkgInstallContext ctx;
        ASSERT_TRUE(load(ctx));
        std::string old = out.path() + "/old.data";
        ASSERT_TRUE(makePackage(out.path(), "1.0", {{"old.txt", "x"}}, old, "", "org.qmx.old"));
        ASSERT_EQ(install(old, home, &store).job, 0u);
        store.setParamInt16("install/org.qmx.old/lang", (unsigned short)c.oldLang);
        sPackageForRemoval* p = ctx.packagesForRemoval.add();
        p->name.set("Old Tool");
        p->command.set("\"/nowhere/softmgr\" uninstall \"org.qmx.old\"");
        cSOPKGLang::applyLang(c.wizardLang);
        std::string question = cCiomLangData::string("pkgm::unin", 3), done = cCiomLangData::string("pkgm::unin", 5);
        cPlatformWindow* wizard = nullptr;
        script = cWizardScript();
        script.answers = {1, 1};  // remove it: yes; the result: OK
        script.boxShots = std::string("wizard_own_removal_") + c.name + "_";
        script.drive = [&](cHeadlessWindowMaker*, cPlatformWindow* w, cInstWizard* wz) {
            wizard = w;
            passAcceptancePages(w, wz);
            ASSERT_EQ(wz->currentKind(), cInstWizard::pkDeprecated);
            key(w, kReturn);
            ASSERT_TRUE(pumpUntil([&] { return script.boxes.size() == 2 && !wz->removalPanel()->runs(); }));
            maker.pumpAll();
            EXPECT_EQ(wz->currentKind(), cInstWizard::pkLocation) << "the removed package leaves the page";
            wz->end_modal(1);
        };
        cInstWizard::runWizard(ctx, &maker);
        ASSERT_EQ(script.carrierOwners.size(), 1u) << c.name;
        EXPECT_EQ(script.carrierOwners[0], wizard) << "not over the wizard's window";
        // The boxes stand over the wizard too, not over the hidden carrier: a click on the
        // wizard cannot bury them.
        for (cPlatformWindow* o : script.boxOwners) EXPECT_EQ(o, wizard);
        ASSERT_EQ(script.boxes.size(), 2u) << c.name;
        EXPECT_EQ(script.boxes[0].rfind(question, 0), 0u) << script.boxes[0];
        EXPECT_EQ(script.boxes[1], done);
        EXPECT_EQ(cLibLang::appliedLang(), c.wizardLang);
        EXPECT_TRUE(ctx.packagesForRemoval.empty());
        EXPECT_FALSE(store.hasSection("install/org.qmx.old"));
        EXPECT_FALSE(apptest::exists(home.installFolder() + "/old.txt"));
    }
    cUninstallInitJob::gPauseMs = 500;
    cSOPKGLang::applyLang(eLangENG);
}

TEST_F(InstWizard, DeprecatedPackagesRemovedByTheirCommands) {
    sPkgInstallContext ctx;
    ASSERT_TRUE(load(ctx));
    // Two installed packages this one replaces: one removal succeeds, one fails.
    sPackageForRemoval* ok = ctx.packagesForRemoval.add();
    ok->name.set("Old Tool");
    ok->command.set("/bin/true");
    sPackageForRemoval* bad = ctx.packagesForRemoval.add();
    bad->name.set("Older Tool");
    bad->command.set("/bin/false");
    // Partial selection: No; removal fails: No (back to the page); all unchecked: Yes;
    // then closing the window: Yes.
    script.answers = {0, 0, 1, 1};
    script.drive = [&](cHeadlessWindowMaker*, cPlatformWindow* w, cInstWizard* wz) {
        ASSERT_EQ(wz->stepCount(), 7);
        EXPECT_EQ(wz->step(3).kind, cInstWizard::pkDeprecated);
        passAcceptancePages(w, wz);
        ASSERT_EQ(wz->currentKind(), cInstWizard::pkDeprecated);
        cListViewChild* list = wz->deprecatedList();
        ASSERT_EQ(list->getRowCount(), 2);
        EXPECT_TRUE(list->checked(0) && list->checked(1));
        maker.snapshotPNG(w, (std::string(QMX_BINARY_DIR) + "/wizard-deprecated.png").c_str());
        list->setChecked(1, false, true);
        key(w, kReturn);
        EXPECT_EQ(wz->currentKind(), cInstWizard::pkDeprecated) << "partial selection refused";
        list->setChecked(1, true, true);
        key(w, kReturn);
        ASSERT_TRUE(pumpUntil([&] { return script.boxes.size() == 2 && !wz->removalPanel()->runs(); }));
        maker.pumpAll();
        // The failed package is offered again; the removed one is gone.
        ASSERT_EQ(wz->currentKind(), cInstWizard::pkDeprecated);
        ASSERT_EQ(list->getRowCount(), 1);
        EXPECT_STREQ(list->text(0, 1), "Older Tool");
        list->setChecked(0, false, true);
        key(w, kReturn);
        EXPECT_EQ(wz->currentKind(), cInstWizard::pkLocation) << "kept on Yes";
        maker.injectClose(w);
        maker.pumpAll();
    };
    cInstWizard::runWizard(ctx, &maker);
    ASSERT_EQ(script.boxes.size(), 4u);
    EXPECT_EQ(script.boxes[0].rfind("Some packages are not selected for removal", 0), 0u);
    EXPECT_EQ(script.boxes[1].rfind("Do you want to continue with partial removal?", 0), 0u);
    EXPECT_EQ(script.boxes[2].rfind("Are you sure you want to keep these packages?", 0), 0u);
    ASSERT_EQ(ctx.packagesForRemoval.count(), 1);
    EXPECT_EQ(ctx.packagesForRemoval.head->value.result != 0, true);
}

TEST_F(InstWizard, BusyFileQuestionDuringAnUpdate) {
    // An update of an installed package (its folder is known: no location page) whose
    // file is busy once: Yes tries again, No gives up with the backup message.
    std::string v1 = out.file("v1.data"), v2 = out.file("v2.data");
    ASSERT_TRUE(makePackage(out.path(), "1.0", {{"a.txt", "a1"}}, v1));
    ASSERT_TRUE(makePackage(out.path(), "2.0", {{"a.txt", "a2"}}, v2));
    struct Case {
        int answer;
        unsigned int result;
        const char* content;
    } cases[] = {{1, 0, "a2"}, {0, 7, "a1"}};
    for (const Case& c : cases) {
        PrivateHome again;
        cMemConfig fresh;
        ASSERT_EQ(install(v1, again, &fresh).job, 0u);
        class cBusyOnce : public cInstallFS {
        public:
            std::atomic<int> calls{0};
            bool canOpenForWrite(const char* p) override { return calls++ > 0 && cInstallFS::canOpenForWrite(p); }
        } fs;
        sPkgInstallContext ctx;
        ctx.packagePath.set(v2.c_str());
        ctx.executablePath.set(again.fakeExe().c_str());
        ctx.store = &fresh;
        ctx.journalPath.set(again.journal().c_str());
        ASSERT_EQ(installChecks(ctx, nullptr), 0u);
        script.boxes.clear();
        script.answers = {c.answer};
        script.drive = [&](cHeadlessWindowMaker*, cPlatformWindow* w, cInstWizard* wz) {
            ASSERT_EQ(wz->stepCount(), 3) << "licence, install, finish";
            wz->installPanel()->fileOps = &fs;
            clickOn(w, wz->licenceBox());
            key(w, kReturn);
            ASSERT_TRUE(pumpUntil([&] { return wz->currentKind() == cInstWizard::pkFinish; }));
            if (c.result) {
                EXPECT_EQ(std::string(wz->finishPage()->messageText()).rfind("Backup of existing file failed.", 0), 0u);
            }
            key(w, kReturn);
        };
        EXPECT_EQ(cInstWizard::runWizard(ctx, &maker), c.result ? 1 : 0);
        ASSERT_EQ(script.boxes.size(), 1u);
        EXPECT_EQ(script.boxes[0].rfind("Failed to update the existing file!", 0), 0u);
        EXPECT_NE(script.boxes[0].find(again.installFolder() + "/a.txt"), std::string::npos) << script.boxes[0];
        EXPECT_EQ(ctx.result, c.result);
        EXPECT_EQ(readTextFile(again.installFolder() + "/a.txt"), c.content);
    }
}

// Every page in every language: Next, Browse, the path and the finish page's texts and
// boxes at the layout's places and sizes, whatever the words (their fit is the language
// tables' test); a snapshot of each page for the eye (wizard-<page>-<LANG>.png in the
// build folder).
TEST_F(InstWizard, EveryPageInEveryLanguage) {
    for (int l = 0; l < cSOPKGLang::kLangCount; l++) {
        int id = cSOPKGLang::gLangs[l].id;
        std::string lang = ciLangID(id);
        SCOPED_TRACE(lang);
        sPkgInstallContext ctx;
        cMemConfig fresh;
        ASSERT_TRUE(load(ctx));
        ctx.store = &fresh;
        sPackageForRemoval* old = ctx.packagesForRemoval.add();
        old->name.set("Old Tool");
        old->command.set("/bin/true");
        ASSERT_TRUE(cSOPKGLang::applyLang(id));
        std::string folder = home.path() + "/Applications/Example Suite Professional Edition/Apps-" + lang;
        ASSERT_TRUE(apptest::makeDirs(folder));
        cGateFS gate;
        script.answers.clear();
        auto rect = [](cChildElement* e) { return std::vector<int>{e->x(), e->y(), e->width(), e->height()}; };
        script.drive = [&](cHeadlessWindowMaker*, cPlatformWindow* w, cInstWizard* wz) {
            auto shot = [&](const char* page) {
                maker.pumpAll();
                maker.snapshotPNG(w, (std::string(QMX_BINARY_DIR) + "/wizard-" + page + "-" + lang + ".png").c_str());
                EXPECT_EQ(rect(wz->nextButton()), (std::vector<int>{636 - 125, 443 - 51, 100, 26})) << page;
            };
            shot("intro");
            key(w, kReturn);
            clickOn(w, wz->readmeBox());
            shot("notes");
            key(w, kReturn);
            clickOn(w, wz->licenceBox());
            shot("licence");
            key(w, kReturn);
            ASSERT_EQ(wz->currentKind(), cInstWizard::pkDeprecated);
            shot("deprecated");
            key(w, kReturn);
            ASSERT_TRUE(pumpUntil([&] { return wz->currentKind() == cInstWizard::pkLocation; }));
            cFileSelectPanel* fs = wz->folderPage();
            ASSERT_TRUE(fs->takeFolder(folder.c_str()));
            EXPECT_EQ(rect(fs->browseButton()), (std::vector<int>{410 - 100, 70, 80, 26}));
            EXPECT_EQ(rect(fs->pathEdit()), (std::vector<int>{20, 70, 410 - 130, 26}));
            shot("location");
            // A new text puts the caret and the view at the path's start.
            EXPECT_EQ(fs->pathEdit()->caret(), 0);
            EXPECT_EQ(fs->pathEdit()->scroll(), 0);
            wz->installPanel()->fileOps = &gate;
            key(w, kReturn);
            ASSERT_TRUE(pumpUntil([&] { return gate.waiting > 0; }));
            // The first file's stage line gives way in the path: its words stay whole and
            // it fits.
            wz->installPanel()->notifyStage(1);
            shot("install");
            std::string stage = wz->installPanel()->statusText(), pattern = cCiomLangData::string("pkgm::instp", 1);
            size_t at = pattern.find("%s");
            EXPECT_EQ(stage.rfind(pattern.substr(0, at), 0), 0u) << stage;
            EXPECT_EQ(stage.substr(stage.size() - (pattern.size() - at - 2)), pattern.substr(at + 2)) << stage;
            EXPECT_LE(textExtent(stage.c_str(), nullptr).cx, wz->installPanel()->width() - 40) << stage;  // its room
            gate.open = true;
            ASSERT_TRUE(pumpUntil([&] { return wz->currentKind() == cInstWizard::pkFinish; }));
            cFinishPanel* fin = wz->finishPage();
            const long long boxes = fin->actions().count();
            ASSERT_GT(boxes, 0);
            EXPECT_EQ(rect(fin->titleElement()), (std::vector<int>{10, 10, 410 - 20, 20}));
            EXPECT_EQ(rect(fin->messageElement()), (std::vector<int>{10, 40, 410 - 20, 60}));
            EXPECT_EQ(rect(fin->actions().head->value.box), (std::vector<int>{15, 110, 410 - 30, 18}));
            shot("finish");
            // The longest error text, with no boxes below it: down to the bottom margin.
            ctx.result = 11;
            fin->init(&ctx);
            EXPECT_EQ(rect(fin->messageElement()), (std::vector<int>{10, 40, 410 - 20, fin->height() - 60}));
            shot("error");
            // Every step before the current one shows the passed icon, the failed
            // installation's too; the current one its own.
            cCanvas painted(wz->width(), wz->height());
            wz->onPaint(&painted);
            auto icon = [&](int step) {
                std::vector<unsigned int> px;
                int top = 85 + cInstWizard::kStepHeight * step;
                for (int y = 0; y < 14; y++)
                    for (int x = 0; x < 16; x++) px.push_back(painted.pixel(25 + x, top + y));
                return px;
            };
            for (int i = 1; i < wz->currentStep(); i++) EXPECT_TRUE(icon(i) == icon(0)) << "step " << i;
            EXPECT_FALSE(icon(wz->currentStep()) == icon(0));
            // The names in the run's way in place of its error: as many as fit, then how many more.
            ctx.result = eIJBadObject;
            for (const char* n : {"bin/tool.tmp", "share/data/default.conf.bkp", "doc/README.tmp"})
                ctx.leftovers.add()->set((folder + "/" + n).c_str());
            fin->init(&ctx);
            shot("leftovers");
            // What an update left of the earlier version: after a success, above the boxes;
            // after a removal that failed once committed.
            ctx.leftovers.destroy();
            ctx.result = eIJOk;
            ctx.keptFor.add()->set("Example Drawing Tools");
            for (const char* n : {"doc/README.txt", "share/data/default.conf", "share/data/brushes.conf"})
                ctx.keptFiles.add()->set((folder + "/" + n).c_str());
            const std::string notes = home.path() + "/Documents/notes.txt";
            ctx.refusedFiles.add()->set(notes.c_str());
            fin->init(&ctx);
            EXPECT_EQ(fin->actions().count(), boxes);
            shot("update-left");
            // Room for about one long name of the two lists.
            std::string deep = folder + "/share/templates/Example Drawing Tools/brushes/natural media";
            for (int i = 0; i < 8; i++) {
                ctx.keptFiles.add()->set((deep + "/kept-" + std::to_string(i) + ".conf").c_str());
                ctx.refusedFiles.add()->set((deep + "/mine-" + std::to_string(i) + ".conf").c_str());
            }
            fin->init(&ctx);
            shot("update-left-long");
            ctx.refusedFiles.destroy();
            ctx.refusedFiles.add()->set(notes.c_str());
            ctx.result = eIJCannotWrite;
            ctx.keptFiles.destroy();
            for (const char* n : {"share/old/legacy.conf", "share/old/legacy.dat"})
                ctx.notRemoved.add()->set((folder + "/" + n).c_str());
            fin->init(&ctx);
            shot("not-removed");
            ctx.result = 11;
            key(w, kReturn);
        };
        // The wizard ends on the error page just shown: a failed run ends with 1.
        EXPECT_EQ(cInstWizard::runWizard(ctx, &maker), 1);
    }
    cSOPKGLang::applyLang(eLangENG);
}

// Keys alone pass the notes and the licence: the disabled Next never holds the focus, Tab
// reaches the box from the document and never goes back to it, Space ticks it, Return goes
// on only then.
TEST_F(InstWizard, KeyboardAlonePassesTheAcceptancePages) {
    sPkgInstallContext ctx;
    ASSERT_TRUE(load(ctx));
    script.answers = {1};  // closing: Yes
    script.drive = [&](cHeadlessWindowMaker*, cPlatformWindow* w, cInstWizard* wz) {
        key(w, kReturn);
        for (int kind : {cInstWizard::pkNotes, cInstWizard::pkLicence}) {
            ASSERT_EQ(wz->currentKind(), kind);
            cCheckBoxChild* box = kind == cInstWizard::pkNotes ? wz->readmeBox() : wz->licenceBox();
            EXPECT_FALSE(wz->nextButton()->focused());
            EXPECT_TRUE(wz->docView(kind)->focused());
            key(w, kReturn);
            EXPECT_EQ(wz->currentKind(), kind) << "Return with Next disabled";
            key(w, kKeyTab);
            EXPECT_TRUE(box->focused());
            maker.injectKey(w, kKeyTab, kModShift);
            maker.pumpAll();
            EXPECT_TRUE(box->focused()) << "Shift+Tab stopped on the document";
            key(w, kKeyTab);
            key(w, kKeySpace);
            EXPECT_TRUE(box->checked());
            EXPECT_TRUE(wz->nextButton()->enabled());
            key(w, kKeySpace);
            EXPECT_FALSE(wz->nextButton()->enabled());
            EXPECT_FALSE(wz->nextButton()->focused());
            key(w, kKeySpace);
            // A Return made after the page was painted counts at once.
            key(w, kReturn);
        }
        EXPECT_EQ(wz->currentKind(), cInstWizard::pkLocation);
        maker.injectClose(w);
        maker.pumpAll();
    };
    cInstWizard::runWizard(ctx, &maker);
}

// Every press counts, however soon it follows the one before and whether or not the page
// it turned to has been painted: on the ticked licence page the second press accepts the
// location page, a third one (once the installation is done) closes the wizard.
TEST_F(InstWizard, EveryClickAndReturnCounts) {
    struct Case {
        const char* what;
        bool keys;
        int presses;
        int gapMs;  // between presses; 0: all in one loop turn
    } cases[] = {
        {"Return twice 40 ms apart", true, 2, 40},
        {"Return twice in one loop turn", true, 2, 0},
        {"three clicks 120 ms apart", false, 3, 120},
        {"two clicks in one loop turn", false, 2, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sPkgInstallContext ctx;
        cMemConfig fresh;
        ASSERT_TRUE(load(ctx));
        ctx.store = &fresh;
        script.drive = [&](cHeadlessWindowMaker*, cPlatformWindow* w, cInstWizard* wz) {
            key(w, kReturn);
            clickOn(w, wz->readmeBox());
            key(w, kReturn);
            clickOn(w, wz->licenceBox());
            ASSERT_EQ(wz->currentKind(), cInstWizard::pkLicence);
            maker.advanceClock(1000);
            for (int i = 0; i < c.presses; i++) {
                if (i && c.gapMs) {
                    maker.pumpAll();
                    // The clock stands still while the installation runs.
                    if (i == 2) {
                        ASSERT_TRUE(pumpUntil([&] { return wz->currentKind() == cInstWizard::pkFinish; }));
                    }
                    maker.advanceClock(c.gapMs);
                }
                if (c.keys) {
                    maker.injectKey(w, kReturn);
                } else {
                    sPoint p = {0, 0}, origin = {0, 0};
                    wz->nextButton()->absPos(p);
                    wz->absPos(origin);
                    maker.injectClick(w, p.x - origin.x + 6, p.y - origin.y + wz->nextButton()->height() / 2);
                }
            }
            if (c.presses == 3) return;  // the third was Close
            ASSERT_TRUE(pumpUntil([&] { return wz->currentKind() == cInstWizard::pkFinish; }))
                << "a press was dropped: the wizard stays on page kind " << wz->currentKind();
            key(w, kReturn);
        };
        EXPECT_EQ(cInstWizard::runWizard(ctx, &maker), 0);
        EXPECT_TRUE(apptest::exists(home.path() + "/Applications/Hello Tool/bin/hello"));
    }
}

}  // namespace

// The whole road of an update, headless: make two installer bundles (a stand-in installer),
// install 1.0, the manager lists it, the loopback server offers 2.0, the update form
// downloads the archive, it is unpacked behind a progress form, the 2.0 installer is found
// and started (its start recorded by a wrapper), 2.0 is installed from the unpacked bundle
// and the manager then shows 2.0 with no update offered, until the largest version is.
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "apptest.h"
#include "ciplatform/headless.h"
#include "installtest.h"
#include "memconfig.h"
#include "netio/pyserver.h"
#include "softmgrapp/jobforms.h"
#include "softmgrapp/softmgrform.h"
#include "softmgrapp/sopkglang.h"
#include "softmgrapp/updatecheck.h"
#include "softmgrapp/updateform.h"
#include "testutil.h"
#include "ui/elementhost.h"

using namespace installtest;
using namespace apptest;

namespace {

// Zips a folder tree with its modes; the installer is wrapped by a script that records
// its start and then runs the bundle's own.
bool zipBundle(const std::string& folder, const std::string& name, const std::string& zip) {
    std::string script =
        "import os, sys, zipfile\n"
        "root, name, out = sys.argv[1], sys.argv[2], sys.argv[3]\n"
        "z = zipfile.ZipFile(out, 'w', zipfile.ZIP_DEFLATED)\n"
        "for d, _, files in os.walk(os.path.join(root, name)):\n"
        "    for f in files:\n"
        "        p = os.path.join(d, f); rel = os.path.relpath(p, root)\n"
        "        if rel.endswith('MacOS/Installer'): rel += '.real'\n"
        "        i = zipfile.ZipInfo(rel); i.create_system = 3\n"
        "        i.external_attr = (os.stat(p).st_mode & 0o777 | 0o100000) << 16\n"
        "        z.writestr(i, open(p, 'rb').read())\n"
        "i = zipfile.ZipInfo(name + '/Contents/MacOS/Installer'); i.create_system = 3\n"
        "i.external_attr = 0o100755 << 16\n"
        "z.writestr(i, '#!/bin/sh\\nprintf \"%s\\\\n\" \"$0\" > \"$QMX_TEST_MARK\"\\nexec \"$0.real\" \"$@\"\\n')\n"
        "z.close()\n";
    return testutil::run({"python3", "-c", script, folder, name, zip}) == 0;
}

std::string newestUnpacked(const std::string& tmp) {
    std::string found;
    for (const std::string& f : folders(tmp))
        if (f.rfind("qmxsopkg-", 0) == 0 && f.find('/') == std::string::npos) found = tmp + "/" + f;
    return found;
}

}  // namespace

TEST(UpdateFlow, MakeInstallListOfferDownloadUnpackStartInstall) {
    if (!testutil::haveTool("python3")) GTEST_SKIP() << "python3 missing";
    useLanguage(eLangENG);
    testutil::TempDir work, tmp;
    PrivateHome home;
    std::string mark = tmp.file("started");
    testutil::EnvScope tmpVar("TMPDIR", tmp.path()), markVar("QMX_TEST_MARK", mark);

    // make: two bundles of one package.
    const std::string code = "org.qmx.test.pkg";
    for (const char* ver : {"1.0", "2.0"}) {
        ASSERT_TRUE(makePackage(work.path(), ver, {{"a.txt", std::string("version ") + ver}}, work.file("unused.data")));
        std::string src = work.path() + "/src-" + code + "-" + ver + "/scenario.txt";
        ASSERT_EQ(apptest::makeBundle(src, work.file(std::string("Test-") + ver + ".app")), 0);
    }
    // install 1.0 from its bundle.
    cMemConfig store;
    RunResult first = install(work.file("Test-1.0.app/Contents/Resources/scenario.data"), home, &store);
    ASSERT_EQ(first.job, 0u) << first.message;
    ASSERT_EQ(readTextFile(home.installFolder() + "/a.txt"), "version 1.0");

    // The server offers 2.0 with the archive of the 2.0 bundle.
    ASSERT_TRUE(apptest::makeDirs(work.path() + "/srv/files"));
    ASSERT_TRUE(zipBundle(work.path(), "Test-2.0.app", work.file("srv/files/Test-2.0.zip")));
    PyServer server({serverScript(), work.path() + "/srv"});
    ASSERT_NE(server.port(), 0);
    std::string base = "http://127.0.0.1:" + std::to_string(server.port());
    std::string answer = "2.0\r\n" + base + "/files/Test-2.0.zip\r\n" + base + "/\r\nA newer test package.\r\n";
    ASSERT_TRUE(testutil::writeFile(work.file("srv/" + code + ".answer"), answer.data(), answer.size()));
    ServerEnv env(server.port());

    static std::string chosen;
    chosen = work.file("download/Test-2.0.zip");
    ASSERT_TRUE(apptest::makeDirs(work.path() + "/download"));
    cSoftUpdateInfoForm::tTargetChooser oldChooser = cSoftUpdateInfoForm::gChooseTarget;
    cSoftUpdateInfoForm::gChooseTarget = [](cChildElement*, const char*, const char* suggested, const char*,
                                            _guardchar<char>& path) {
        EXPECT_STREQ(suggested, "Test-2.0.zip");
        return path.set(chosen.c_str());
    };

    cHeadlessWindowMaker maker;
    cAnswerScript script;
    maker.setModalScript(&script);
    maker.setIdleTimeout(30000);
    std::vector<std::string> steps;
    script.answer = [&](cHeadlessWindowMaker* m, cPlatformWindow* w, cChildElement* root, int depth) {
        if (cSoftMgrForm* f = dynamic_cast<cSoftMgrForm*>(root)) {
            EXPECT_TRUE(pumpUntil(m, [&] { return f->itemCount() == 1 && !f->checking() && !f->reading(); }));
            m->pumpAll();
            steps.push_back(std::string("listed ") + (f->list()->text(0, 3) ? f->list()->text(0, 3) : "") + " " +
                            (f->list()->text(0, 4) ? f->list()->text(0, 4) : ""));
            if (f->currentItem() && f->currentItem()->hasUpdate()) {
                f->updateCurrItem();  // opens the update form (depth 2)
                return -2;            // the form ends itself when the installer started
            }
            return 0;
        }
        if (cSoftUpdateInfoForm* u = dynamic_cast<cSoftUpdateInfoForm*>(root)) {
            u->onFormAccept();
            steps.push_back("update form " + std::to_string(u->lastOutcome));
            return u->lastOutcome == 1 ? -2 : 0;
        }
        if (dynamic_cast<cUpdateDownloader*>(root)) return -2;
        if (dynamic_cast<cUpdateUnpacker*>(root)) {
            steps.push_back("unpacking");
            return -2;
        }
        steps.push_back(std::string("message ") + (root->text() ? root->text() : ""));
        return 0;
    };
    EXPECT_EQ(cSoftMgrForm::runManager(&maker, &store), 0);
    ASSERT_EQ(steps.size(), 3u) << (steps.empty() ? "" : steps.back());
    EXPECT_EQ(steps[0], "listed 1.0 Update available");
    EXPECT_EQ(steps[1], "unpacking");
    EXPECT_EQ(steps[2], "update form 1");
    EXPECT_EQ(testutil::readFile(chosen), testutil::readFile(work.file("srv/files/Test-2.0.zip")));

    // The 2.0 installer was started from the private unpacked folder.
    std::string unpacked = newestUnpacked(tmp.path());
    ASSERT_FALSE(unpacked.empty());
    for (int i = 0; i < 1500 && readTextFile(mark).empty(); i++) usleep(20000);
    EXPECT_EQ(readTextFile(mark), unpacked + "/Test-2.0.app/Contents/MacOS/Installer\n");

    // Installing from the unpacked bundle (what that installer does with a display).
    RunResult second = install(unpacked + "/Test-2.0.app/Contents/Resources/scenario.data", home, &store);
    ASSERT_EQ(second.job, 0u) << second.message;
    EXPECT_EQ(readTextFile(home.installFolder() + "/a.txt"), "version 2.0");
    steps.clear();
    EXPECT_EQ(cSoftMgrForm::runManager(&maker, &store), 0);
    ASSERT_EQ(steps.size(), 1u);
    EXPECT_EQ(steps[0], "listed 2.0 ");
    // The largest version is an answer like any other, not "no answer yet".
    answer = "65535.65535.65535.65535\r\n" + base + "/files/Test-2.0.zip\r\n" + base + "/\r\n";
    ASSERT_TRUE(testutil::writeFile(work.file("srv/" + code + ".answer"), answer.data(), answer.size()));
    steps.clear();
    script.answer = [&](cHeadlessWindowMaker* m, cPlatformWindow*, cChildElement* root, int) {
        cSoftMgrForm* f = dynamic_cast<cSoftMgrForm*>(root);
        EXPECT_TRUE(f && pumpUntil(m, [&] { return f->itemCount() == 1 && !f->checking() && !f->reading(); }));
        m->pumpAll();
        if (f) steps.push_back(std::string("listed ") + (f->list()->text(0, 4) ? f->list()->text(0, 4) : ""));
        return 0;
    };
    EXPECT_EQ(cSoftMgrForm::runManager(&maker, &store), 0);
    EXPECT_EQ(steps, std::vector<std::string>{"listed Update available"});

    cSoftUpdateInfoForm::gChooseTarget = oldChooser;
}

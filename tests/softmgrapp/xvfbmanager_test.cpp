// The Software Manager as a real program on a private Xvfb display: an installed package
// is listed and marked by the loopback update server, a screenshot is taken, and Ctrl+Q
// through XTEST ends the program with 0; no carrier window stands behind the dialogs of an
// uninstallation, also under a window manager; an installer started from an unpacked update
// removes that folder when it ends.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "apptest.h"
#include "configstore/ciappconfig.h"
#include "installtest.h"
#include "netio/pyserver.h"
#include "softmgrapp/sopkglang.h"
#include "testutil.h"
#include "ui/lang.h"

using namespace installtest;

namespace {

// A private server (see testutil::Xvfb) with its display name at hand.
struct PrivateXvfb : testutil::Xvfb {
    std::string display = testutil::Xvfb::display();
};

// Starts `prog` on the display with `args`, argv[0] = `argv0` (the program when empty),
// its output dropped.
pid_t startProgram(const std::string& prog, const std::string& display, const std::vector<std::string>& args = {},
                   const std::string& argv0 = "") {
    std::vector<const char*> argv = {argv0.empty() ? prog.c_str() : argv0.c_str()};
    for (const std::string& a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        setenv("DISPLAY", display.c_str(), 1);
        int null = open("/dev/null", O_RDWR);
        dup2(null, 1);
        dup2(null, 2);
        execv(prog.c_str(), (char* const*)argv.data());
        _exit(127);
    }
    return pid;
}

// The test package installed for the private home, in the store the program opens.
void installTestPackage(const std::string& work, const PrivateHome& home) {
    ASSERT_TRUE(makePackage(work, "1.0", {{"a.txt", "one"}}, work + "/p.data"));
    cCIAppFullConfig store;
    ASSERT_TRUE(store.create("qmx") && store.open("qmx"));
    RunResult r = install(work + "/p.data", home, &store);
    ASSERT_EQ(r.job, 0u) << r.message;
    ASSERT_TRUE(store.saveConfig());
}

int runWithDisplay(const std::string& display, std::vector<std::string> argv, std::string* out = nullptr) {
    argv.insert(argv.begin(), {"env", "DISPLAY=" + display});
    return testutil::run(argv, out);
}

// Exit code, or -1 when it did not end within ms.
int waitExit(pid_t pid, int ms) {
    for (int i = 0; i < ms / 20; i++) {
        int st = 0;
        if (waitpid(pid, &st, WNOHANG) == pid) return WIFEXITED(st) ? WEXITSTATUS(st) : -2;
        usleep(20000);
    }
    kill(pid, SIGKILL);
    int st;
    waitpid(pid, &st, 0);
    return -1;
}

// The store's UI language for the programs started with this home.
void storeLanguage(int lang) {
    cCIAppFullConfig store;
    ASSERT_TRUE((store.open("qmx") || (store.create("qmx") && store.open("qmx"))));
    store.setParamInt16("lang/current", (unsigned short)lang);
    ASSERT_TRUE(store.saveConfig());
}

// The visible windows' ids (decimal, as xdotool prints them).
std::vector<std::string> visibleWindows(const std::string& display) {
    std::string out;
    runWithDisplay(display, {"xdotool", "search", "--onlyvisible", "--name", "."}, &out);
    std::vector<std::string> ids;
    for (size_t at = 0; at < out.size();) {
        size_t end = out.find('\n', at);
        if (end == std::string::npos) end = out.size();
        if (end > at) ids.push_back(out.substr(at, end - at));
        at = end + 1;
    }
    return ids;
}

// A visible window other than `other` (named `name` when one is given), waiting up to ms;
// "" when none came.
std::string waitOtherWindow(const std::string& display, const std::string& other, int ms,
                            const std::string& name = "") {
    for (int i = 0; i < ms / 100; i++) {
        for (const std::string& id : visibleWindows(display)) {
            std::string n;
            if (!name.empty()) runWithDisplay(display, {"xdotool", "getwindowname", id}, &n);
            if (id != other && (name.empty() || n == name + "\n")) return id;
        }
        usleep(100000);
    }
    return "";
}

// A text of a language section in a language (the test's own tables are left in English).
std::string langText(int lang, const char* section, int index) {
    apptest::useLanguage(lang);
    const char* t = cCiomLangData::string(section, index);
    std::string out = t ? t : "";
    apptest::useLanguage(eLangENG);
    return out;
}

// An X property's window ids as xprop prints them (0x... hexadecimal), in decimal.
std::vector<unsigned long> windowProperty(const std::string& display, const std::string& id, const char* name) {
    std::string out;
    std::vector<std::string> argv = {"xprop"};
    if (id.empty())
        argv.push_back("-root");
    else
        argv.insert(argv.end(), {"-id", id});
    argv.push_back(name);
    runWithDisplay(display, argv, &out);
    std::vector<unsigned long> ids;
    for (size_t at = out.find("0x"); at != std::string::npos; at = out.find("0x", at + 2))
        ids.push_back(strtoul(out.c_str() + at, nullptr, 16));
    return ids;
}

// Answers the program's dialogs, each with the next key once it has settled, and checks
// that no carrier ("Software manager") stands visible behind one. The exit code (-1 when
// the program did not end); `boxes` counts the dialogs; `shot` names their screenshots.
int answerDialogs(const std::string& display, pid_t pid, const std::vector<std::string>& keys, int& boxes,
                  const std::string& shot = "") {
    int code = -1;
    boxes = 0;
    for (int i = 0; i < 100 && code == -1; i++) {
        usleep(200000);
        std::string out, box;
        runWithDisplay(display, {"xdotool", "search", "--onlyvisible", "--name", "."}, &out);
        for (size_t at = 0; at < out.size();) {
            size_t end = out.find('\n', at);
            std::string id = out.substr(at, end - at), name;
            at = end == std::string::npos ? out.size() : end + 1;
            runWithDisplay(display, {"xdotool", "getwindowname", id}, &name);
            if (name != "Software manager\n" && name != "\n" && !name.empty()) box = id;
        }
        if (!box.empty()) {
            usleep(400000);
            std::string carrier;
            runWithDisplay(display, {"xdotool", "search", "--onlyvisible", "--name", "^Software manager$"}, &carrier);
            EXPECT_TRUE(carrier.empty()) << "the carrier stands behind dialog " << boxes;
            if (!shot.empty())
                runWithDisplay(display, {"import", "-window", "root",
                                         apptest::snapshotDir() + "/" + shot + std::to_string(boxes) + ".png"});
            runWithDisplay(display, {"xdotool", "windowfocus", "--sync", box});
            // Keys for one box are separated by blanks.
            std::vector<std::string> argv = {"xdotool", "key", "--delay", "150"};
            std::string k = (size_t)boxes < keys.size() ? keys[boxes] : "Return";
            for (size_t from = 0; from < k.size();) {
                size_t to = k.find(' ', from);
                if (to == std::string::npos) to = k.size();
                argv.push_back(k.substr(from, to - from));
                from = to + 1;
            }
            runWithDisplay(display, argv);
            boxes++;
        }
        int st = 0;
        if (waitpid(pid, &st, WNOHANG) == pid) code = WIFEXITED(st) ? WEXITSTATUS(st) : -2;
    }
    return code == -1 ? waitExit(pid, 5000) : code;
}

}  // namespace

TEST(XvfbManager, ListsMarksAndQuitsWithCtrlQ) {
    std::string prog = apptest::stagedProgram();
    if (!apptest::exists(prog)) GTEST_SKIP() << "staged program missing: " << prog;
    for (const char* tool : {"Xvfb", "xdotool", "import", "python3"})
        if (!testutil::haveTool(tool)) GTEST_SKIP() << tool << " is not installed";
    apptest::useLanguage(eLangENG);
    testutil::TempDir work;
    PrivateHome home;
    installTestPackage(work.path(), home);
    std::string answer = "2.0\r\nhttp://h.example/u.zip\r\nhttp://h.example/\r\nNew things\r\n";
    ASSERT_TRUE(testutil::writeFile(work.file("org.qmx.test.pkg.answer"), answer.data(), answer.size()));
    PyServer server({apptest::serverScript(), work.path()});
    ASSERT_NE(server.port(), 0);
    apptest::ServerEnv env(server.port());  // inherited by the program

    PrivateXvfb x;
    if (x.display.empty()) GTEST_SKIP() << x.why();
    pid_t pid = startProgram(prog, x.display);
    ASSERT_GT(pid, 0);
    std::string window;
    for (int i = 0; i < 600 && window.empty(); i++) {
        usleep(100000);
        std::string out;
        if (runWithDisplay(x.display, {"xdotool", "search", "--name", "Software Manager"}, &out) == 0)
            window = out.substr(0, out.find('\n'));
    }
    ASSERT_FALSE(window.empty()) << "no manager window";
    // The check answers from loopback at once; give the form a moment to show it.
    std::string log;
    for (int i = 0; i < 1200 && log.empty(); i++) {
        usleep(50000);
        log = readTextFile(work.file("requests.log"));
    }
    EXPECT_NE(log.find("/autocheck.php?softwareid=org.qmx.test.pkg&os=mac"), std::string::npos);
    usleep(700000);
    std::string png = apptest::snapshotDir() + "/xvfb_softmgr.png";
    EXPECT_EQ(runWithDisplay(x.display, {"import", "-window", window, png}), 0);
    // Update opens the update form over the manager; Escape closes it again.
    runWithDisplay(x.display, {"xdotool", "mousemove", "--window", window, "537", "269", "click", "1"});
    std::string sheet;
    for (int i = 0; i < 600 && sheet.empty(); i++) {
        usleep(100000);
        std::string out;
        if (runWithDisplay(x.display, {"xdotool", "search", "--name", "Software Package Update"}, &out) == 0)
            sheet = out.substr(0, out.find('\n'));
    }
    EXPECT_FALSE(sheet.empty()) << "the update form did not open";
    if (!sheet.empty()) {
        usleep(300000);
        std::string upng = apptest::snapshotDir() + "/xvfb_update_form.png";
        EXPECT_EQ(runWithDisplay(x.display, {"import", "-window", sheet, upng}), 0);
        runWithDisplay(x.display, {"xdotool", "windowfocus", "--sync", sheet});
        runWithDisplay(x.display, {"xdotool", "key", "Escape"});
        for (int i = 0; i < 300; i++) {
            usleep(100000);
            if (runWithDisplay(x.display, {"xdotool", "search", "--name", "Software Package Update"}) != 0) break;
        }
    }
    runWithDisplay(x.display, {"xdotool", "windowfocus", "--sync", window});
    EXPECT_EQ(runWithDisplay(x.display, {"xdotool", "key", "ctrl+q"}), 0);
    EXPECT_EQ(waitExit(pid, 30000), 0) << "Ctrl+Q did not end the manager";
}

TEST(XvfbManager, NoCarrierBehindTheUninstallDialogs) {
    std::string prog = apptest::stagedProgram();
    if (!apptest::exists(prog)) GTEST_SKIP() << "staged program missing: " << prog;
    for (const char* tool : {"Xvfb", "xdotool"})
        if (!testutil::haveTool(tool)) GTEST_SKIP() << tool << " is not installed";
    PrivateXvfb x;
    if (x.display.empty()) GTEST_SKIP() << x.why();
    apptest::WindowManager wm(x.display);
    // The question answered by real keys, the result with Return: Escape and Space on No
    // keep the package; Return is Yes wherever the focus ring is.
    struct {
        const char* question;
        int code;
        bool kept;
    } cases[] = {{"Escape", 1, true}, {"Tab space", 1, true}, {"Tab Return", 0, false}};
    for (auto& c : cases) {
        testutil::TempDir work;
        PrivateHome home;
        installTestPackage(work.path(), home);
        pid_t pid = startProgram(prog, x.display, {"uninstall", "org.qmx.test.pkg"});
        ASSERT_GT(pid, 0);
        int boxes = 0;
        int code = answerDialogs(x.display, pid, {c.question, "Return"}, boxes, c.kept ? "xvfb_uninstall_" : "");
        EXPECT_EQ(code, c.code) << c.question;
        EXPECT_EQ(boxes, 2) << c.question;
        EXPECT_EQ(apptest::exists(home.installFolder() + "/a.txt"), c.kept) << c.question;
    }
}

// Keyboard and mouse as a Japanese user meets the manager under a window manager: the
// confirmation stands over the manager and stays in front when the manager is clicked;
// Tab puts the focus on "No" and Space answers No; the language popup takes Up and Return.
TEST(XvfbManager, BoxesStayInFrontAndSpaceAnswersTheFocusedButton) {
    std::string prog = apptest::stagedProgram();
    if (!apptest::exists(prog)) GTEST_SKIP() << "staged program missing: " << prog;
    for (const char* tool : {"Xvfb", "xdotool", "xprop", "openbox", "import"})
        if (!testutil::haveTool(tool)) GTEST_SKIP() << tool << " is not installed";
    testutil::TempDir work;
    PrivateHome home;
    installTestPackage(work.path(), home);
    storeLanguage(eLangJPN);
    apptest::ServerEnv env("127.0.0.1:1");  // the update check is refused at once
    PrivateXvfb x;
    if (x.display.empty()) GTEST_SKIP() << x.why();
    apptest::WindowManager wm(x.display);
    pid_t pid = startProgram(prog, x.display);
    ASSERT_GT(pid, 0);
    std::string manager = waitOtherWindow(x.display, "", 60000);
    ASSERT_FALSE(manager.empty()) << "no manager window";
    usleep(1500000);  // the list is read
    // Uninstall (the details' right-hand button) asks first.
    runWithDisplay(x.display, {"xdotool", "mousemove", "--window", manager, "640", "270", "click", "1"});
    // The questions speak the package's language (it was installed in English).
    std::string box = waitOtherWindow(x.display, manager, 30000, langText(eLangENG, "ciom::messages", 6));
    ASSERT_FALSE(box.empty()) << "no confirmation";
    usleep(500000);
    std::vector<unsigned long> owner = windowProperty(x.display, box, "WM_TRANSIENT_FOR");
    ASSERT_EQ(owner.size(), 1u);
    EXPECT_EQ(owner[0], strtoul(manager.c_str(), nullptr, 10)) << "the box stands over a hidden window";
    // A click on the manager leaves the box in front of it.
    runWithDisplay(x.display, {"xdotool", "mousemove", "--window", manager, "100", "120", "click", "1"});
    usleep(700000);
    std::vector<unsigned long> stacking = windowProperty(x.display, "", "_NET_CLIENT_LIST_STACKING");
    ASSERT_FALSE(stacking.empty());
    EXPECT_EQ(stacking.back(), strtoul(box.c_str(), nullptr, 10)) << "the click buried the box";
    runWithDisplay(x.display, {"import", "-window", "root", apptest::snapshotDir() + "/xvfb_manager_confirm_JPN.png"});
    // Tab to No, Space: nothing is removed; the cancellation's message is answered too.
    runWithDisplay(x.display, {"xdotool", "windowfocus", "--sync", box});
    runWithDisplay(x.display, {"xdotool", "key", "--delay", "150", "Tab", "space"});
    std::string result = waitOtherWindow(x.display, manager, 30000, langText(eLangENG, "ciom::messages", 3));
    ASSERT_FALSE(result.empty()) << "no result message (or not the cancellation's)";
    usleep(400000);
    runWithDisplay(x.display, {"import", "-window", "root", apptest::snapshotDir() + "/xvfb_manager_cancelled_JPN.png"});
    runWithDisplay(x.display, {"xdotool", "windowfocus", "--sync", result});
    runWithDisplay(x.display, {"xdotool", "key", "Return"});
    EXPECT_TRUE(apptest::exists(home.installFolder() + "/a.txt")) << "Space on No uninstalled the package";
    // The language switch's popup: Up from Japanese to German, Return chooses it; the
    // manager opens again in German.
    usleep(1500000);
    runWithDisplay(x.display, {"xdotool", "mousemove", "--window", manager, "711", "37", "click", "1"});
    usleep(700000);
    runWithDisplay(x.display, {"xdotool", "key", "--delay", "150", "Up", "Return"});
    std::string german = langText(eLangDEU, "pkgm::softm", 0), found;
    for (int i = 0; i < 300 && found.empty(); i++) {
        usleep(100000);
        runWithDisplay(x.display, {"xdotool", "search", "--onlyvisible", "--name", "^" + german + "$"}, &found);
    }
    EXPECT_FALSE(found.empty()) << "the manager did not open again in German";
    manager = found.substr(0, found.find('\n'));
    runWithDisplay(x.display, {"xdotool", "windowfocus", "--sync", manager});
    runWithDisplay(x.display, {"xdotool", "key", "ctrl+q"});
    EXPECT_EQ(waitExit(pid, 30000), 0);
    cCIAppFullConfig store;
    unsigned long long lang = 99;
    ASSERT_TRUE(store.open("qmx") && store.getParamInt("lang/current", lang));
    EXPECT_EQ(lang, (unsigned long long)eLangDEU);
}

// An unknown package's update error in German or Japanese stands alone: the carrier under
// it is never mapped (a window manager busy with a font of the language mapped it late,
// behind the error, when it was shown and hidden at once).
TEST(XvfbManager, UnknownPackageErrorWithoutACarrier) {
    std::string prog = apptest::stagedProgram();
    if (!apptest::exists(prog)) GTEST_SKIP() << "staged program missing: " << prog;
    for (const char* tool : {"Xvfb", "xdotool", "xwininfo", "openbox"})
        if (!testutil::haveTool(tool)) GTEST_SKIP() << tool << " is not installed";
    PrivateHome home;
    PrivateXvfb x;
    if (x.display.empty()) GTEST_SKIP() << x.why();
    apptest::WindowManager wm(x.display);
    struct {
        int lang;
        const char* verb;
    } runs[] = {{eLangDEU, "update"}, {eLangJPN, "update"}};
    for (auto& run : runs) {
        int lang = run.lang;
        const char* verb = run.verb;
        storeLanguage(lang);
        std::string carrierName = langText(lang, "pkgm::resp", 0);
        {
            SCOPED_TRACE(std::string(verb) + " " + ciLangID(lang));
            pid_t pid = startProgram(prog, x.display, {verb, "org.qmx.none"});
            ASSERT_GT(pid, 0);
            std::string box = waitOtherWindow(x.display, "", 30000);
            ASSERT_FALSE(box.empty()) << "no error";
            usleep(500000);
            std::string carrier, state;
            runWithDisplay(x.display, {"xdotool", "search", "--name", "^" + carrierName + "$"}, &carrier);
            ASSERT_FALSE(carrier.empty());
            runWithDisplay(x.display, {"xwininfo", "-id", carrier.substr(0, carrier.find('\n'))}, &state);
            EXPECT_NE(state.find("IsUnMapped"), std::string::npos) << state;
            EXPECT_EQ(visibleWindows(x.display), std::vector<std::string>{box});
            runWithDisplay(x.display, {"xdotool", "windowfocus", "--sync", box});
            runWithDisplay(x.display, {"xdotool", "key", "Return"});
            EXPECT_EQ(waitExit(pid, 15000), 1);
        }
    }
}

TEST(XvfbManager, RemoveDeletesTheRealExecutableNeverArgv0) {
    std::string staged = apptest::stagedProgram();
    if (!apptest::exists(staged)) GTEST_SKIP() << "staged program missing: " << staged;
    for (const char* tool : {"Xvfb", "xdotool"})
        if (!testutil::haveTool(tool)) GTEST_SKIP() << tool << " is not installed";
    testutil::TempDir work;
    PrivateHome home;  // no manager in ~/Applications and no package: the running copy goes
    std::string copy = work.file("softmgr-copy"), decoy = work.file("decoy");
    ASSERT_TRUE(apptest::copyFileMode(staged, copy));
    ASSERT_TRUE(writeTextFile(decoy, "not the program"));
    PrivateXvfb x;
    if (x.display.empty()) GTEST_SKIP() << x.why();
    apptest::WindowManager wm(x.display);
    // argv[0] names the decoy: only /proc/self/exe may decide what is deleted.
    pid_t pid = startProgram(copy, x.display, {"remove"}, decoy);
    ASSERT_GT(pid, 0);
    // Answer the confirmation and the closing message with Return.
    int boxes = 0;
    EXPECT_EQ(answerDialogs(x.display, pid, {"Return", "Return"}, boxes, "xvfb_remove_"), 0);
    EXPECT_EQ(boxes, 2);
    EXPECT_FALSE(apptest::exists(copy)) << "the running executable stays";
    EXPECT_TRUE(apptest::exists(decoy)) << "argv[0] was deleted";
}

TEST(XvfbManager, InstallerOfAnUnpackedUpdateRemovesItsFolder) {
    std::string prog = apptest::stagedProgram();
    if (!apptest::exists(prog)) GTEST_SKIP() << "staged program missing: " << prog;
    for (const char* tool : {"Xvfb", "xdotool"})
        if (!testutil::haveTool(tool)) GTEST_SKIP() << tool << " is not installed";
    testutil::TempDir tmp;
    testutil::EnvScope env("TMPDIR", tmp.path());
    PrivateHome home;
    // As the update's unpacking leaves it: a private folder with an installer bundle whose
    // scenario the installer refuses (one error box).
    std::string folder = tmp.path() + "/qmxsopkg-XXXXXX";
    ASSERT_TRUE(mkdtemp(&folder[0]));
    std::string contents = folder + "/Setup.app/Contents", exe = contents + "/MacOS/Installer";
    ASSERT_TRUE(apptest::makeDirs(contents + "/MacOS") && apptest::makeDirs(contents + "/Resources") &&
                writeTextFile(contents + "/Resources/scenario.data", "damaged") && apptest::copyFileMode(prog, exe));
    PrivateXvfb x;
    if (x.display.empty()) GTEST_SKIP() << x.why();
    pid_t pid = startProgram(exe, x.display);
    ASSERT_GT(pid, 0);
    int boxes = 0;
    EXPECT_EQ(answerDialogs(x.display, pid, {"Return"}, boxes), 1);
    EXPECT_EQ(boxes, 1);
    EXPECT_FALSE(apptest::exists(folder)) << "the unpacked update stays";
}

// The generated installer end to end on a private Xvfb server, as a person would use it:
// the bundle's program started with DISPLAY set, every page clicked through with
// xdotool, a screenshot of each page kept in the build folder (xvfb-wizard-*.png), then
// the installed files, the registry and the on-completion program's greeting.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <memory>

#include "apptest.h"
#include "configstore/ciappconfig.h"
#include "testutil.h"

extern char** environ;

namespace {

class WizardXvfb : public ::testing::Test {
protected:
    void SetUp() override {
        prog = apptest::stagedProgram();
        if (!apptest::exists(prog)) GTEST_SKIP() << "staged program missing: " << prog;
        for (const char* tool : {"Xvfb", "xdotool", "import"})
            if (!testutil::haveTool(tool)) GTEST_SKIP() << tool << " is not installed";
        server.reset(new testutil::Xvfb);
        if (server->display().empty()) GTEST_SKIP() << server->why();
        if (const char* d = getenv("DISPLAY")) hadDisplay = true, oldDisplay = d;
        setenv("DISPLAY", server->display().c_str(), 1);
    }
    void TearDown() override {
        if (installer > 0) {
            kill(installer, SIGKILL);
            waitpid(installer, nullptr, 0);
        }
        if (hadDisplay)
            setenv("DISPLAY", oldDisplay.c_str(), 1);
        else
            unsetenv("DISPLAY");
    }

    // Starts the program with HOME and DISPLAY, its output into `log`.
    int start(const std::string& program, const std::string& home, const std::string& log) {
        pid_t pid = fork();
        if (pid == 0) {
            int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(fd, 1);
            dup2(fd, 2);
            setenv("HOME", home.c_str(), 1);
            unsetenv("XDG_DATA_HOME");
            execl(program.c_str(), program.c_str(), (char*)nullptr);
            _exit(127);
        }
        return pid;
    }
    // Waits for the installer to end; its exit code, or -1 after `ms`.
    int finish(int ms) {
        for (int i = 0; i < ms / 50; i++) {
            int st = 0;
            if (waitpid(installer, &st, WNOHANG) == installer) {
                installer = -1;
                return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
            }
            usleep(50000);
        }
        return -1;
    }
    static std::string xdo(const std::vector<std::string>& args) {
        std::vector<std::string> argv = {"xdotool"};
        argv.insert(argv.end(), args.begin(), args.end());
        std::string out;
        testutil::run(argv, &out);
        return out;
    }
    // The first visible window that `match` accepts (by name and geometry), waiting up to 60 s
    // (a loaded machine starts a sanitized program slowly).
    std::string waitWindow(const std::function<bool(const std::string& name, const std::string& geometry)>& match) {
        for (int i = 0; i < 600; i++) {
            std::string ids = xdo({"search", "--onlyvisible", "--name", ".*"});
            size_t at = 0;
            while (at < ids.size()) {
                size_t nl = ids.find('\n', at);
                std::string id = ids.substr(at, nl == std::string::npos ? std::string::npos : nl - at);
                at = nl == std::string::npos ? ids.size() : nl + 1;
                if (id.empty()) continue;
                std::string name = xdo({"getwindowname", id});
                if (!name.empty() && name.back() == '\n') name.pop_back();
                if (match(name, xdo({"getwindowgeometry", id}))) return id;
            }
            usleep(100000);
        }
        return "";
    }
    // The language question (English preselected) answered with Return: the wizard's window,
    // "" when either never showed.
    std::string passLanguage() {
        if (languageWindow().empty()) return "";
        xdo({"key", "Return"});
        return waitWindow([](const std::string& n, const std::string&) { return n == "Hello Tool software installer"; });
    }
    // The bundle made from the scenario in `dir`, its installer started under a window
    // manager and the language question answered: the wizard's window, "" when none showed.
    std::string startUnderWindowManager(const std::string& dir) {
        std::string bundle = out.file("HelloTool.app");
        apptest::Result made = apptest::runProgram(prog, {"make", "scenario.txt", bundle}, home.path(), dir);
        EXPECT_EQ(made.exitCode, 0) << made.out << made.err;
        if (made.exitCode != 0) return "";
        wm.reset(new apptest::WindowManager(server->display()));
        installer = start(bundle + "/Contents/MacOS/Installer", home.path(), out.file("installer.log"));
        return installer > 0 ? passLanguage() : "";
    }
    std::string languageWindow() {
        return waitWindow([](const std::string& n, const std::string& g) {
            return n.empty() && g.find("380x370") != std::string::npos;
        });
    }
    bool gone(const std::string& id) {
        for (int i = 0; i < 300; i++) {
            if (xdo({"search", "--onlyvisible", "--name", ".*"}).find(id + "\n") == std::string::npos) return true;
            usleep(100000);
        }
        return false;
    }
    void click(const std::string& id, int x, int y) {
        xdo({"mousemove", "--window", id, std::to_string(x), std::to_string(y), "click", "1"});
        usleep(400000);
    }
    // The step the list marks as the current one (its red mark), -1 when none is.
    int currentStep(const std::string& id) {
        std::string png = out.file("current.png");
        if (testutil::run({"import", "-window", id, png}) != 0) return -1;
        for (int i = 0; i < 7; i++) {
            std::string txt;
            testutil::run({"convert", png, "-crop", "1x1+28+" + std::to_string(88 + 22 * i), "txt:-"}, &txt);
            unsigned r = 0, g = 0, b = 0;
            size_t at = txt.find("\n0,0: (");
            if (at != std::string::npos && sscanf(txt.c_str() + at, "\n0,0: (%u,%u,%u", &r, &g, &b) == 3 && r > 180 &&
                g < 130)
                return i;
        }
        return -1;
    }
    void shot(const std::string& id, const std::string& page) {
        usleep(300000);
        std::string png = std::string(QMX_BINARY_DIR) + "/xvfb-wizard-" + page + ".png";
        EXPECT_EQ(testutil::run({"import", "-window", id, png}), 0) << page;
    }

    std::unique_ptr<testutil::Xvfb> server;
    std::unique_ptr<apptest::WindowManager> wm;
    std::string prog, oldDisplay;
    bool hadDisplay = false;
    int installer = -1;
    testutil::TempDir home, out;
};

TEST_F(WizardXvfb, ClickThroughTheExampleInstaller) {
    std::string bundle = out.file("HelloTool.app");
    apptest::Result made = apptest::runProgram(prog, {"make", "scenario.txt", bundle}, home.path(), apptest::exampleDir());
    ASSERT_EQ(made.exitCode, 0) << made.out << made.err;
    // A folder below the user's Documents, beside a file of the user's own.
    std::string folder = home.path() + "/Documents/Tools/x", thesis = home.path() + "/Documents/thesis.txt";
    ASSERT_TRUE(apptest::makeDirs(folder) && testutil::writeFile(thesis, "the user's", 10));
    std::string log = out.file("installer.log");
    installer = start(bundle + "/Contents/MacOS/Installer", home.path(), log);
    ASSERT_GT(installer, 0);

    // The language question (three languages): English is preselected.
    std::string lang = languageWindow();
    ASSERT_FALSE(lang.empty()) << testutil::readFile(log).size();
    shot(lang, "0-language");
    xdo({"key", "Return"});
    std::string w = waitWindow([](const std::string& n, const std::string&) { return n == "Hello Tool software installer"; });
    ASSERT_FALSE(w.empty());
    EXPECT_NE(xdo({"getwindowgeometry", w}).find("636x443"), std::string::npos);
    const int nextX = 560, nextY = 404, boxX = 200, boxY = 377;
    shot(w, "1-introduction");
    click(w, nextX, nextY);
    shot(w, "2-notes");
    click(w, nextX, nextY);  // refused: the notes are not accepted yet
    click(w, boxX, boxY);
    click(w, nextX, nextY);
    click(w, boxX, boxY);
    shot(w, "3-licence");
    click(w, nextX, nextY);
    shot(w, "4-location");
    // Browse: the folder dialog, its path typed over the proposed one in its edit, Return to
    // select.
    click(w, 549, 155);
    std::string dlg = waitWindow([](const std::string& n, const std::string&) { return n == "Select a folder for installation"; });
    ASSERT_FALSE(dlg.empty());
    click(dlg, 170, 394);
    // The proposed folder does not exist yet: the edit starts empty (anything in it is
    // replaced by the typed path).
    xdo({"key", "ctrl+a"});
    xdo({"type", "--delay", "15", folder});
    // The dialog's first Return goes to the typed folder in its tree, the next selects it.
    xdo({"key", "Return"});
    shot(dlg, "5-folder-dialog");
    xdo({"key", "Return"});
    ASSERT_TRUE(gone(dlg));
    shot(w, "6-location-chosen");
    click(w, nextX, nextY);
    // The installation runs; the wizard moves on to Finish by itself.
    for (int i = 0; i < 600 && !apptest::exists(home.path() + "/.qmx/install.hive"); i++) usleep(100000);
    usleep(1000000);
    shot(w, "7-finish");
    // Close: starts "Start Hello Tool now" (checked). The button stays disabled until the
    // Finish page shows, so a press that came too early is simply repeated.
    int code = -1;
    for (int i = 0; i < 20 && code == -1 && installer > 0; i++) {
        click(w, nextX, nextY);
        code = finish(3000);
    }
    EXPECT_EQ(code, 0);

    struct stat st;
    ASSERT_EQ(stat((folder + "/bin/hello").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    EXPECT_TRUE(apptest::exists(folder + "/doc/README.txt"));
    EXPECT_TRUE(apptest::exists(folder + "/share/hello.png"));
    std::vector<unsigned char> own = testutil::readFile(thesis);
    EXPECT_EQ(std::string(own.begin(), own.end()), "the user's");
    cCIAppConfig store;
    ASSERT_TRUE(store.openFolder((home.path() + "/.qmx").c_str()));
    _guardchar<char> path;
    ASSERT_TRUE(store.getParamStr("install/org.qmx.example.hello/path", path));
    EXPECT_EQ(std::string(path.ptr), folder);
    // The program started detached with its argument: its greeting reaches the log. The
    // greeting's first word follows the runner's LANG ("Hallo", ...), the rest is the
    // argument's.
    std::string text;
    for (int i = 0; i < 300; i++) {
        std::vector<unsigned char> bytes = testutil::readFile(log);
        text.assign(bytes.begin(), bytes.end());
        if (text.find("Thank you for installing Hello Tool.") != std::string::npos) break;
        usleep(100000);
    }
    EXPECT_NE(text.find("! Thank you for installing Hello Tool.\n"), std::string::npos) << text;
}

// The notes document takes no Tab stop: however often Tab goes round the page (the box, and
// Next once the box is ticked), Down never scrolls the document; a click on it, then Down,
// does. The example's notes made tall enough to scroll.
TEST_F(WizardXvfb, TabPassesOverTheNotesAndAClickThenDownScrollsThem) {
    if (!testutil::haveTool("convert")) GTEST_SKIP() << "convert is not installed";
    std::string example = out.file("example");
    ASSERT_EQ(testutil::run({"cp", "-r", apptest::exampleDir(), example}), 0);
    std::string tall;
    for (int i = 0; i < 60; i++) tall += "<text>Line " + std::to_string(i) + " of the release notes.</text>\n";
    std::vector<unsigned char> readme = testutil::readFile(example + "/docs/readme_en.txt");
    readme.insert(readme.end(), tall.begin(), tall.end());
    ASSERT_TRUE(testutil::writeFile(example + "/docs/readme_en.txt", readme));
    std::string w = startUnderWindowManager(example);
    ASSERT_FALSE(w.empty());
    click(w, 560, 404);
    ASSERT_EQ(currentStep(w), 1);
    // The document's rectangle, as a digest of its pixels.
    auto document = [&] {
        std::string png = out.file("notes.png"), sum;
        usleep(300000);
        if (testutil::run({"import", "-window", w, png}) != 0) return sum;
        testutil::run({"convert", png, "-crop", "410x290+200+72", "+repage", "-format", "%#", "info:"}, &sum);
        return sum;
    };
    std::string top = document();
    ASSERT_FALSE(top.empty());
    for (const char* k : {"Tab", "Tab", "space", "Tab", "Tab", "Tab", "shift+Tab", "shift+Tab"}) {
        xdo({"key", k});
        xdo({"key", "Down"});
        EXPECT_EQ(document(), top) << "the document had the keys after " << k;
    }
    shot(w, "n1-notes-after-tab");
    click(w, 400, 250);
    xdo({"key", "Down"});
    EXPECT_NE(document(), top) << "Down after a click did not scroll the document";
    shot(w, "n2-notes-clicked-down");
}

// A user who may not write to "/" (nobody, when the test runs as root) installs with the
// offered folder, $HOME/Applications, by three clicks 120 ms apart on the ticked licence
// page's Next: the first shows the location page, the second (a double click to the window
// system) accepts it; the third meets the disabled Next or the finished wizard's Close.
TEST_F(WizardXvfb, OrdinaryUserInstallsToTheOfferedFolderWithClicksInQuickSuccession) {
    bool drop = geteuid() == 0;
    if (!drop && access("/", W_OK) == 0) GTEST_SKIP() << "this user may write to /";
    if (drop && testutil::asOrdinaryUser([] { return true; }) < 0) GTEST_SKIP() << testutil::kNoOrdinaryUser;
    std::string bundle = out.file("HelloTool.app");
    apptest::Result made = apptest::runProgram(prog, {"make", "scenario.txt", bundle}, home.path(), apptest::exampleDir());
    ASSERT_EQ(made.exitCode, 0) << made.out << made.err;
    const uid_t nobody = 65534;
    if (drop) {
        for (const std::string& d : {home.path(), out.path()})
            ASSERT_EQ(testutil::run({"chown", "-R", "65534:65534", d}), 0) << d;
    }
    std::string log = out.file("installer.log"), program = bundle + "/Contents/MacOS/Installer";
    installer = fork();
    if (installer == 0) {
        int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, 1);
        dup2(fd, 2);
        setenv("HOME", home.path().c_str(), 1);
        unsetenv("XDG_DATA_HOME");
        if (drop && (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0)) _exit(126);
        execl(program.c_str(), program.c_str(), (char*)nullptr);
        _exit(127);
    }
    ASSERT_GT(installer, 0);
    std::string w = passLanguage();
    ASSERT_FALSE(w.empty());
    const int nextX = 560, nextY = 404, boxX = 200, boxY = 377;
    click(w, nextX, nextY);
    click(w, boxX, boxY);
    click(w, nextX, nextY);
    click(w, boxX, boxY);
    xdo({"mousemove", "--window", w, std::to_string(nextX), std::to_string(nextY), "click", "--repeat", "3", "--delay",
         "120", "1"});
    std::string apps = home.path() + "/Applications/Hello Tool";
    for (int i = 0; i < 300 && !apptest::exists(home.path() + "/.qmx/install.hive"); i++) usleep(100000);
    ASSERT_TRUE(apptest::exists(home.path() + "/.qmx/install.hive")) << "the second click was not counted";
    // Close, unless the third click was it (the button stays disabled until Finish shows).
    int code = finish(1000);
    if (code == -1) shot(w, "8-quick-clicks-finish");
    for (int i = 0; i < 20 && code == -1 && installer > 0; i++) {
        click(w, nextX, nextY);
        code = finish(3000);
    }
    EXPECT_EQ(code, 0);
    struct stat st;
    ASSERT_EQ(stat((apps + "/bin/hello").c_str(), &st), 0) << "installed to " << apps;
    if (drop) {
        EXPECT_EQ(st.st_uid, nobody);
    }
}

}  // namespace

namespace {

// Keyboard only, under a window manager, through every page. Return is the form's answer
// wherever the focus is; Space presses the focused button (No of the close question,
// Browse); the folder dialog takes a typed folder with Return, Return. Two Returns 40 ms
// apart on the ticked licence page are two answers: the location page's too.
TEST_F(WizardXvfb, KeyboardPassesEveryPageAndEveryReturnCounts) {
    if (!testutil::haveTool("convert")) GTEST_SKIP() << "convert is not installed";
    std::string w = startUnderWindowManager(apptest::exampleDir());
    ASSERT_FALSE(w.empty());
    auto keys = [&](std::vector<std::string> k) {
        k.insert(k.begin(), {"key", "--delay", "120"});
        xdo(k);
        usleep(400000);
    };
    // Introduction -> notes: Tab reaches the box, Space ticks it, Return goes on, all soon
    // after the Return that brought the page. The same on the licence page, Shift+Tab from
    // the box back round.
    xdo({"key", "Return"});
    usleep(250000);
    xdo({"key", "--delay", "80", "Tab", "space", "Return"});
    usleep(400000);
    EXPECT_EQ(currentStep(w), 2) << "the Return after Tab and Space on the notes page was dropped";
    keys({"Tab", "shift+Tab", "Tab", "space"});
    shot(w, "k2-licence-ticked");
    keys({"Return"});
    EXPECT_EQ(currentStep(w), 3) << "Return on the ticked licence page";
    shot(w, "k3-location");
    const int nextX = 560, nextY = 404, boxX = 200, boxY = 377;
    std::string hive = home.path() + "/.qmx/install.hive";
    // The close question's No, reached by Tab and pressed by Space, keeps the wizard.
    xdo({"key", "alt+F4"});
    std::string question = waitWindow([](const std::string& n, const std::string&) { return n == "Confirm"; });
    ASSERT_FALSE(question.empty()) << "no close question";
    shot(question, "k4-close-question");
    keys({"Tab", "space"});
    ASSERT_TRUE(gone(question));
    EXPECT_EQ(finish(500), -1) << "Space on No closed the installer";
    // Tab to Browse (past the edit), Space: the folder dialog, its path edit empty with the
    // focus. A typed folder, Return (the tree moves there), Return (selected).
    std::string folder = home.path() + "/Keyed Apps";
    ASSERT_TRUE(apptest::makeDirs(folder));
    keys({"Tab", "Tab", "space"});
    std::string dlg = waitWindow([](const std::string& n, const std::string&) { return n == "Select a folder for installation"; });
    ASSERT_FALSE(dlg.empty()) << "Space on Browse opened no folder dialog";
    xdo({"type", "--delay", "15", folder});
    keys({"Return"});
    shot(dlg, "k5-folder-dialog-typed");
    keys({"Return"});
    ASSERT_TRUE(gone(dlg)) << "the second Return did not select the typed folder";
    shot(w, "k6-location-chosen");
    EXPECT_FALSE(apptest::exists(hive)) << "Space on Browse installed";
    // Back to the licence by its step, tick, and two Returns 40 ms apart: the licence's
    // answer and the location page's, which installs.
    click(w, 30, 85 + 22 * 2 + 7);
    click(w, boxX, boxY);
    xdo({"key", "--delay", "40", "Return", "Return"});
    for (int i = 0; i < 300 && !apptest::exists(hive); i++) usleep(100000);
    ASSERT_TRUE(apptest::exists(hive)) << "the second Return was not the location page's answer";
    usleep(1000000);
    int code = -1;
    for (int i = 0; i < 10 && code == -1 && installer > 0; i++) {
        click(w, nextX, nextY);
        code = finish(2000);
    }
    EXPECT_EQ(code, 0);
}

}  // namespace

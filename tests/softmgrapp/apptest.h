// Helpers of the application tests: running the staged program as a child with its own
// HOME, working folder and argv[0], the paths of the development bundle, the language
// tables as the program loads them, scripted modal runs and the loopback update server.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ciplatform/headless.h"
#include "installtest.h"
#include "testutil.h"

class cChildElement;

namespace apptest {

struct Result {
    int exitCode = -1;  // -1: did not start or did not exit normally
    std::string out, err;
};

// Runs `program` with `args` (argv[1]...) and argv[0] = `argv0` (the program path when
// empty), in `cwd` (unchanged when empty) with HOME = `home`.
Result runProgram(const std::string& program, const std::vector<std::string>& args, const std::string& home,
                  const std::string& cwd = "", const std::string& argv0 = "");

// The staged development bundle's executable and icon (built with the tests).
std::string stagedProgram();
std::string stagedIcon();
// Makes the bundle of `scenario` at `bundle` as "make" does, in this process and in `cwd`
// (unchanged when empty), its installer a stand-in of a few bytes in place of a copy of the
// whole program: for tests that read a bundle but never run its installer. make's result.
int makeBundle(const std::string& scenario, const std::string& bundle, const std::string& cwd = "");
// The example package folder.
std::string exampleDir();

// Folders and files, shared with the installation tests.
using installtest::copyFileMode;
using installtest::exists;
using installtest::makeDirs;

// A test of the staged program (skipped when it was not built) with a private home folder.
class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        prog = stagedProgram();
        if (!exists(prog)) GTEST_SKIP() << "staged program missing: " << prog;
    }
    std::string prog;
    testutil::TempDir home;
};

// The program's process-wide hooks (headless), the application's and the toolkit's
// language tables as the program loads them once it has a window maker, with `lang`
// applied (and the console messages off).
void useLanguage(int lang);

// Answers every modal run with `answer`: the code that ends it, or -2 to leave it running.
class cAnswerScript : public cHeadlessScript {
public:
    std::function<int(cHeadlessWindowMaker*, cPlatformWindow*, cChildElement* root, int depth)> answer;
    void onModal(cHeadlessWindowMaker* m, cPlatformWindow* w, int depth) override;
};

// Pumps until `done` holds (at most `ms`); whether it holds.
bool pumpUntil(cHeadlessWindowMaker* m, const std::function<bool()>& done, int ms = 30000);

// The loopback update server's script, and the folder of the snapshots kept for the eye.
std::string serverScript();
std::string snapshotDir();

// A window manager (openbox) on a display for the life of the object; none when openbox is
// missing. It maps windows late and restacks them on clicks, as users' desktops do.
struct WindowManager {
    explicit WindowManager(const std::string& display);
    ~WindowManager();
    WindowManager(const WindowManager&) = delete;
    WindowManager& operator=(const WindowManager&) = delete;
    int pid = -1;
};

// Points the update check at a loopback server for the life of the object.
class ServerEnv {
public:
    explicit ServerEnv(const std::string& hostPort);
    explicit ServerEnv(int port) : ServerEnv("127.0.0.1:" + std::to_string(port)) {}
    ~ServerEnv();
};

}  // namespace apptest

// Start-up of an application: order of its hooks, exit codes, appRef, the program's store
// handed to the hooks, and the executable's place.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ciplatform/windowmaker.h"
#include "instengine/memconfig.h"
#include "testutil.h"
#include "ui/application.h"
#include "ui/lang.h"

namespace {

std::vector<std::string> gEvents;

struct Behaviour {
    bool initResult = true;
    int initCode = -1;  // -1: leave the exit code alone
    bool throwInInit = false;
    int runResult = 0;
};

class TestApp : public cCIApplication {
public:
    explicit TestApp(const Behaviour& b) : myB(b) {}

    bool onInit(int argc, char** argv, int& exitCode) override {
        gEvents.push_back("onInit");
        sawSelf = appRef() == this;
        sawStore = config() != nullptr;
        sawMakerInInit = windowMaker() != nullptr;
        sawArgs = argc == 2 && std::string(argv[1]) == "verb";
        if (config()) {
            unsigned long long v = 0;
            storedBefore = config()->getParamInt("app/runs", v) ? (int)v : 0;
        }
        if (myB.throwInInit) QMX_THROW("init failed");
        if (myB.initCode >= 0) exitCode = myB.initCode;
        return myB.initResult;
    }
    int run() override {
        gEvents.push_back("run");
        sawMakerInRun = windowMaker() != nullptr && windowMaker()->headless();
        // The toolkit's own texts were merged in when the window maker came up.
        sawToolkitTexts = cLibLang::gCiomLang.section("ciom::messages") != nullptr;
        if (config()) {
            config()->setParamInt32("app/runs", (unsigned)storedBefore + 1);
            config()->saveConfig();
        }
        return myB.runResult;
    }
    void onDestroy() override {
        gEvents.push_back("onDestroy");
        if (exePath()) exe = exePath();
        if (exeFolder()) folder = exeFolder();
        if (config() && config()->folder()) storeFolder = config()->folder();
    }
    ~TestApp() override { gEvents.push_back("deleted"); }
    const unsigned int* appIconData() override { return myIcon; }
    int appIconDim() override { return 4; }

    // Read back by the test after the object is gone.
    static bool sawSelf, sawStore, sawMakerInInit, sawMakerInRun, sawArgs, sawToolkitTexts;
    static int storedBefore;
    static std::string exe, folder, storeFolder;

private:
    Behaviour myB;
    unsigned int myIcon[16] = {0xFF0000FF};
};
bool TestApp::sawSelf, TestApp::sawStore, TestApp::sawMakerInInit, TestApp::sawMakerInRun, TestApp::sawArgs,
    TestApp::sawToolkitTexts;
int TestApp::storedBefore;
std::string TestApp::exe, TestApp::folder, TestApp::storeFolder;

class AppTest : public ::testing::Test {
protected:
    void SetUp() override {
        gEvents.clear();
        TestApp::sawSelf = TestApp::sawStore = TestApp::sawMakerInInit = TestApp::sawMakerInRun = false;
        TestApp::sawArgs = false;
        TestApp::storedBefore = -1;
        TestApp::exe.clear();
        TestApp::folder.clear();
        TestApp::storeFolder.clear();
    }
    int runOnce(const Behaviour& b, cApplicationConfig* store) {
        char a0[] = "definitely-not-the-executable", a1[] = "verb";
        char* argv[] = {a0, a1, nullptr};
        return cCIApplication::runApp(new TestApp(b), (void*)&gEvents, 0, 0, 2, argv, store);
    }
    cMemConfig store;
    testutil::TempDir home;
    testutil::EnvScope homeVar{"HOME", home.path()}, display{"DISPLAY", nullptr};
};

// Each way through start-up: which hooks run, in what order, and the exit code.
TEST_F(AppTest, HooksRunInOrderWithTheRightExitCode) {
    struct Case {
        const char* what;
        Behaviour b;
        std::vector<std::string> events;
        int exitCode;
    } cases[] = {
        {"normal run", {true, -1, false, 42}, {"onInit", "run", "onDestroy", "deleted"}, 42},
        {"run returns 0", {true, -1, false, 0}, {"onInit", "run", "onDestroy", "deleted"}, 0},
        {"init refuses", {false, -1, false, 42}, {"onInit", "onDestroy", "deleted"}, 1},
        {"init refuses with a code", {false, 7, false, 42}, {"onInit", "onDestroy", "deleted"}, 7},
        {"a code without refusing is ignored", {true, 9, false, 3}, {"onInit", "run", "onDestroy", "deleted"}, 3},
        {"init throws", {true, -1, true, 42}, {"onInit", "onDestroy", "deleted"}, 1},
    };
    for (const Case& k : cases) {
        gEvents.clear();
        EXPECT_EQ(k.exitCode, runOnce(k.b, &store)) << k.what;
        EXPECT_EQ(k.events, gEvents) << k.what;
        EXPECT_EQ(nullptr, cCIApplication::appRef()) << k.what;
        EXPECT_TRUE(TestApp::sawSelf) << k.what;
        EXPECT_TRUE(TestApp::sawStore) << k.what;
        EXPECT_TRUE(TestApp::sawArgs) << k.what;
        EXPECT_FALSE(TestApp::sawMakerInInit) << k.what;
        if (k.events.size() == 4) {
            EXPECT_TRUE(TestApp::sawMakerInRun) << k.what;
            EXPECT_TRUE(TestApp::sawToolkitTexts) << k.what;
        }
    }
    EXPECT_EQ(1, cCIApplication::runApp(nullptr, nullptr, 0, 0, 0, nullptr, &store));
}

// The program's store reaches the hooks and stays the program's between runs; the
// executable's place comes from the system, not from argv[0].
TEST_F(AppTest, HandsTheProgramsStoreToTheHooksAndFindsTheExecutable) {
    store.folderPath = home.path() + "/.qmxapp";
    for (int run = 0; run < 3; run++) {
        EXPECT_EQ(0, runOnce(Behaviour(), &store));
        EXPECT_EQ(run, TestApp::storedBefore);
    }
    EXPECT_EQ(store.folderPath, TestApp::storeFolder);

    struct stat a, b;
    ASSERT_EQ(0, stat("/proc/self/exe", &a));
    ASSERT_EQ(0, stat(TestApp::exe.c_str(), &b)) << TestApp::exe;
    EXPECT_EQ(a.st_ino, b.st_ino);
    EXPECT_EQ(a.st_dev, b.st_dev);
    ASSERT_FALSE(TestApp::folder.empty());
    EXPECT_EQ(0u, TestApp::exe.rfind(TestApp::folder + "/", 0)) << TestApp::exe;
    EXPECT_EQ(std::string::npos, TestApp::exe.find('/', TestApp::folder.size() + 1));
}

// A program that could not open its store runs the application without one.
TEST_F(AppTest, RunsWithoutAStoreWhenItCannotBeOpened) {
    EXPECT_EQ(6, runOnce({true, -1, false, 6}, nullptr));
    EXPECT_FALSE(TestApp::sawStore);
    EXPECT_EQ((std::vector<std::string>{"onInit", "run", "onDestroy", "deleted"}), gEvents);
}

}  // namespace

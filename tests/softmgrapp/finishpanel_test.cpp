// The finish page: the result texts per installation result, the on-completion boxes
// and their bottom margin, and the programs started detached with argument vectors.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "apptest.h"
#include "base/job.h"
#include "base/process.h"
#include "installtest.h"
#include "instengine/installinit.h"
#include "softmgrapp/finishpanel.h"
#include "softmgrapp/sopkglang.h"
#include "ui/lang.h"

using namespace installtest;

namespace {

class FinishPanel : public ::testing::Test {
protected:
    void SetUp() override {
        apptest::useLanguage(eLangENG);
        std::string pkg = work.file("p.data");
        ASSERT_TRUE(makePackage(work.path(), "1.0", {{"bin/tool", "x"}}, pkg,
                                "[Strings]\nENG.l1 = \"Start the tool\"\nENG.l2 = \"Open the notes\"\n"
                                "ENG.l3 = \"Start again\"\n[Run]\n"
                                "$l1 = $pgm \"bin/tool\", yes, \"--first-run two\"\n"
                                "$l2 = $pgm \"notes.txt\", no\n$l3 = $pgm \"bin/tool\", no\n"));
        ctx.packagePath.set(pkg.c_str());
        ctx.store = &store;
        ASSERT_EQ(installChecks(ctx, nullptr), 0u);
        // A folder a shell would misread: blanks, quotes, a dollar and a semicolon.
        folder = home.path() + "/it's \"my\" $HOME; dir";
        ASSERT_TRUE(setInstallFolder(ctx, folder.c_str()));
        panel.onInitData();
        panel.move(0, 0, 410, 290);
    }
    PrivateHome home;
    testutil::TempDir work;
    cMemConfig store;
    sPkgInstallContext ctx;
    std::string folder;
    cFinishPanel panel;
};

TEST_F(FinishPanel, ResultTextsAndColours) {
    struct Case {
        unsigned int result;
        const char* title;
        const char* message;
        unsigned int colour;
        long long boxes;
        int leftovers = 0;  // names in the run's way
    } cases[] = {
        {0, "Installation completed successfully.", "Application can now be started", 0x655654, 3},
        {1, "Installation completed with an error:", "There is an object in the target folder", 0x4040A0, 0},
        {1, "Installation completed with an error:",
         "An interrupted installation or removal may have left these files:\n/f0.tmp\n/f1.tmp\nand 3 more\n",
         0x4040A0, 0, 5},
        {10, "Installation completed with an error:", "Installation was aborted.", 0x4040A0, 0},
        {11, "Installation completed with an error:", "The software was installed successfully, however", 0x4040A0, 0},
        {12, "Installation completed with an error:", "", 0x4040A0, 0},  // unknown code: no message
    };
    for (const Case& c : cases) {
        ctx.result = c.result;
        ctx.leftovers.destroy();
        for (int i = 0; i < c.leftovers; i++) ctx.leftovers.add()->set(("/f" + std::to_string(i) + ".tmp").c_str());
        panel.init(&ctx);
        EXPECT_STREQ(panel.titleText(), c.title) << c.result;
        if (c.message) {
            EXPECT_EQ(std::string(panel.messageText()).rfind(c.message, 0), 0u) << c.result;
        }
        EXPECT_EQ(panel.messageColour(), c.colour) << c.result;
        EXPECT_EQ(panel.actions().count(), c.boxes) << c.result;
    }
}

TEST_F(FinishPanel, BoxesStopAboveTheBottomMargin) {
    struct Case {
        int height;
        long long boxes;
    } cases[] = {{290, 3}, {160, 2}, {130, 1}, {129, 0}};
    for (const Case& c : cases) {
        panel.move(0, 0, 410, c.height);
        panel.init(&ctx);
        EXPECT_EQ(panel.actions().count(), c.boxes) << c.height;
    }
    panel.move(0, 0, 410, 290);
    panel.init(&ctx);
    auto* a = panel.actions().head;
    EXPECT_EQ(std::string(a->value.commandLine.ptr), "\"" + folder + "/bin/tool\" --first-run two");
    EXPECT_TRUE(a->value.box->checked());
    EXPECT_EQ(std::string(a->next->value.commandLine.ptr), folder + "/notes.txt");
    EXPECT_FALSE(a->next->value.box->checked());
}

TEST_F(FinishPanel, StartsCheckedProgramsDetachedWithArgumentVectors) {
    // The tool waits for our word (or 20 s), then writes its argument vector beside itself: the
    // panel must return without waiting for it, and the vector must arrive word by word.
    ASSERT_TRUE(apptest::makeDirs(folder + "/bin"));
    std::string tool = folder + "/bin/tool", out = folder + "/bin/ran.txt";
    ASSERT_TRUE(writeTextFile(tool,
                              "#!/bin/sh\ni=0\n"
                              "while [ ! -e \"${0%/*}/go\" ] && [ $i -lt 400 ]; do sleep 0.05; i=$((i+1)); done\n"
                              "printf '%s\\n' \"$0\" \"$@\" > \"${0%/*}/ran.txt\"\n"));
    ASSERT_EQ(chmod(tool.c_str(), 0755), 0);
    panel.init(&ctx);
    // The unchecked third entry would start the tool a second time without arguments.
    panel.finalize();
    EXPECT_FALSE(apptest::exists(out)) << "finalize waited for the program";
    ASSERT_TRUE(writeTextFile(folder + "/bin/go", ""));
    std::string got;
    for (int i = 0; i < 600 && got.empty(); i++) {
        cJob::sleep(100);
        if (apptest::exists(out)) got = readTextFile(out);
    }
    EXPECT_EQ(got, tool + "\n--first-run\ntwo\n");
}

}  // namespace

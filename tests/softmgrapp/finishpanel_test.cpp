// The finish page: the result texts per installation result, the on-completion boxes
// and their bottom margin, and the programs started detached with argument vectors.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "apptest.h"
#include "base/job.h"
#include "base/process.h"
#include "installtest.h"
#include "instengine/installinit.h"
#include "softmgrapp/appcontrols.h"
#include "softmgrapp/appmessages.h"
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
    typedef _List<_guardchar<char> > sPkgInstallContext::*tNames;
    struct Case {
        unsigned int result;
        const char* title;
        const char* message;
        unsigned int colour;
        long long boxes;
        tNames list = nullptr;  // names the run gives, "/f0.tmp" on
        int names = 0;
    } cases[] = {
        {0, "Installation completed successfully.", "Application can now be started", 0x655654, 3},
        // What an update left of the earlier version: under the hint, the boxes below.
        {0, "Installation completed successfully.",
         "Application can now be started using an application launcher from the installation folder or via menu "
         "shortcuts.\nPress \"Close\" to exit this installer.\nFiles of the earlier version kept for Other Tool, which "
         "still uses them:\n/f0.tmp\n/f1.tmp",
         0x655654, 3, &sPkgInstallContext::keptFiles, 2},
        {1, "Installation completed with an error:", "There is an object in the target folder", 0x4040A0, 0},
        // Names in the run's way: every one that fits.
        {1, "Installation completed with an error:",
         "An interrupted installation or removal may have left these files:\n/f0.tmp\n/f1.tmp\n/f2.tmp\n/f3.tmp\n"
         "/f4.tmp\nThey cannot",
         0x4040A0, 0, &sPkgInstallContext::leftovers, 5},
        {6, "Installation completed with an error:",
         "The new version is in place, but these files of the earlier version could not be removed:\n/f0.tmp\nClose",
         0x4040A0, 0, &sPkgInstallContext::notRemoved, 1},
        {10, "Installation completed with an error:", "Installation was aborted.", 0x4040A0, 0},
        {11, "Installation completed with an error:", "The software was installed successfully, however", 0x4040A0, 0},
        {eIJCount, "Installation completed with an error:", "", 0x4040A0, 0},  // unknown code: no message
    };
    ctx.keptFor.add()->set("Other Tool");
    for (const Case& c : cases) {
        ctx.result = c.result;
        for (tNames l : {&sPkgInstallContext::leftovers, &sPkgInstallContext::keptFiles,
                         &sPkgInstallContext::refusedFiles, &sPkgInstallContext::notRemoved})
            (ctx.*l).destroy();
        for (int i = 0; i < c.names; i++) (ctx.*c.list).add()->set(("/f" + std::to_string(i) + ".tmp").c_str());
        panel.init(&ctx);
        EXPECT_STREQ(panel.titleText(), c.title) << c.result;
        EXPECT_EQ(std::string(panel.messageText()).rfind(c.message, 0), 0u) << c.result << ": " << panel.messageText();
        EXPECT_EQ(panel.messageColour(), c.colour) << c.result;
        ASSERT_EQ(panel.actions().count(), c.boxes) << c.result;
        if (c.boxes) {
            cChildElement* m = panel.messageElement();
            EXPECT_EQ(panel.actions().head->value.box->y(), m->y() + m->height() + 10) << c.result;
        }
    }
}

// Long lists of long paths: as many names as fit, the rest counted, and the message's
// last sentence whole in its box; a heading never stands over "and N more" alone (a list
// that gets no name is left out); after a success every box still below it, in every
// language.
TEST_F(FinishPanel, LongListsKeepTheLastSentenceWholeInEveryLanguage) {
    std::string path = home.path() + "/Applications/Example Suite Professional Edition";
    while (path.size() < 120) path += "/share/templates";
    typedef _List<_guardchar<char> > sPkgInstallContext::*tNames;
    const struct {
        unsigned int result;
        tNames list;
        bool kept;  // files kept for another package too
        std::pair<const char*, int> error;  // the error's text (after its "%s"), none after a success
    } cases[] = {
        {eIJBadObject, &sPkgInstallContext::leftovers, false, {"pkgm::iini", eIiniLeftover}},
        {eIJCannotWrite, &sPkgInstallContext::notRemoved, false, {"pkgm::fin", eFinNotRemoved}},
        {eIJCannotWrite, &sPkgInstallContext::notRemoved, true, {"pkgm::fin", eFinNotRemoved}},
        {eIJOk, &sPkgInstallContext::refusedFiles, true, {nullptr, 0}},
    };
    ctx.keptFor.add()->set("Example Drawing Tools");
    for (int l = 0; l < cSOPKGLang::kLangCount; l++) {
        int id = cSOPKGLang::gLangs[l].id;
        ASSERT_TRUE(cSOPKGLang::applyLang(id));
        std::string more = cCiomLangData::string("pkgm::iini", eIiniMore), keptHeading;
        const std::string before = more.substr(0, more.find("%s")), after = more.substr(more.find("%s") + 2);
        keptHeading = cCiomLangData::string("pkgm::fin", eFinKeptFor);
        keptHeading.replace(keptHeading.find("%s"), 2, "Example Drawing Tools");
        const std::string leftHeading = cCiomLangData::string("pkgm::fin", eFinLeftAsTheyWere);
        for (const auto& c : cases) {
            std::string trace = std::string(ciLangID(id)) + " result " + std::to_string(c.result);
            ctx.result = c.result;
            for (int i = 0; i < 40; i++) {
                std::string name = path + "/file" + std::to_string(i) + ".conf";
                (ctx.*c.list).add()->set(name.c_str());
                if (c.kept) ctx.keptFiles.add()->set(name.c_str());
            }
            panel.init(&ctx);
            std::string text = panel.messageText();
            cChildElement* m = panel.messageElement();
            EXPECT_LE(wrappedFitHeight(text.c_str(), mkStdFont(), m->width()), m->height()) << trace << "\n" << text;
            // The lists shown: every heading over a name at least.
            std::vector<std::string> lines;
            for (size_t at = 0, nl; at <= text.size(); at = nl + 1) {
                nl = std::min(text.find('\n', at), text.size());
                lines.push_back(text.substr(at, nl - at));
            }
            auto isMore = [&](const std::string& line) {
                return line.size() > before.size() + after.size() && line.compare(0, before.size(), before) == 0 &&
                       line.compare(line.size() - after.size(), after.size(), after) == 0 &&
                       isdigit((unsigned char)line[before.size()]);
            };
            int headings = 0;
            for (size_t i = 0; i < lines.size(); i++) {
                if (lines[i] != keptHeading && lines[i] != leftHeading) continue;
                headings++;
                EXPECT_TRUE(i + 1 < lines.size() && lines[i + 1].rfind(path, 0) == 0) << trace << "\n" << text;
            }
            // Every name of a list shown is shown or counted: 40 in each.
            size_t shown = 0, counted = 0, pos = 0;
            while ((pos = text.find(path, pos)) != std::string::npos) shown++, pos++;
            for (const std::string& line : lines)
                if (isMore(line)) counted += std::stoul(line.substr(before.size()));
            EXPECT_EQ(shown + counted, 40u * (headings + (c.error.first ? 1 : 0))) << trace << "\n" << text;
            // The last sentence whole: the error's, or the last list's count.
            std::string tail = c.error.first ? cCiomLangData::string(c.error.first, c.error.second) : "%s" + after;
            tail = headings ? after : tail.substr(tail.find("%s") + 2);
            EXPECT_EQ(text.substr(text.size() - std::min(text.size(), tail.size())), tail) << trace << "\n" << text;
            if (c.result == eIJOk) {
                EXPECT_GT(headings, 0) << trace << "\n" << text;
                EXPECT_EQ(panel.actions().count(), 3) << trace;
                EXPECT_LE(panel.actions().tail->value.box->y(), panel.height() - 20) << trace;
            }
            if (!c.kept) {
                EXPECT_GT(shown, 0u) << trace << "\n" << text;
            }
            (ctx.*c.list).destroy();
            ctx.keptFiles.destroy();
        }
    }
    cSOPKGLang::applyLang(eLangENG);
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

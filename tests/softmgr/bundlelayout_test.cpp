// The bundle layout's path rules: a bundle found from its program's path, and its parts.
#include "softmgr/bundlelayout.h"

#include <gtest/gtest.h>

#include "testutil.h"

// A bundle found from its program's path: loosely (any two or three folders up, as the
// start and the manager copy take it) and as laid out (the update's own installer).
TEST(BundleLayout, ProgramPathsGiveContentsAndRoot) {
    struct {
        const char *program, *contents, *root, *laidOut;
    } cases[] = {
        {"/h/A.app/Contents/MacOS/Installer", "/h/A.app/Contents", "/h/A.app", "/h/A.app"},
        {"/h/a.APP/Contents/MacOS/p", "/h/a.APP/Contents", "/h/a.APP", "/h/a.APP"},
        {"/h/A.app/Contents/Other/p", "/h/A.app/Contents", "/h/A.app", nullptr},
        {"/h/A.app/contents/MacOS/p", "/h/A.app/contents", "/h/A.app", nullptr},
        {"/h/A/Contents/MacOS/p", "/h/A/Contents", "/h/A", nullptr},
        {"/h/.app/Contents/MacOS/p", "/h/.app/Contents", "/h/.app", nullptr},
        {"/A.app/Contents/MacOS/p", "/A.app/Contents", "/A.app", nullptr},
        {"a/b/c", "a", nullptr, nullptr},
        {"/MacOS/p", "", nullptr, nullptr},
        {"dir/p", nullptr, nullptr, nullptr},
        {"p", nullptr, nullptr, nullptr},
        {nullptr, nullptr, nullptr, nullptr},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.program ? c.program : "(null)");
        _guardchar<char> contents, root, laidOut;
        ASSERT_EQ(bundleContentsOf(c.program, contents), c.contents != nullptr);
        ASSERT_EQ(bundleRootOf(c.program, root), c.root != nullptr);
        ASSERT_EQ(laidOutBundleRootOf(c.program, laidOut), c.laidOut != nullptr);
        EXPECT_STREQ(c.contents ? contents.ptr : nullptr, c.contents);
        EXPECT_STREQ(c.root ? root.ptr : nullptr, c.root);
        EXPECT_STREQ(c.laidOut ? laidOut.ptr : nullptr, c.laidOut);
    }
    // A part reached from Contents drops "/Contents" once.
    struct {
        eBundlePart part;
        const char* path;
    } parts[] = {{eBundleContents, "/h/A.app/Contents"},
                 {eBundleScenarioData, "/h/A.app/Contents/Resources/scenario.data"}};
    for (auto& p : parts) {
        _guardchar<char> path;
        ASSERT_TRUE(contentsPath("/h/A.app/Contents", p.part, path));
        EXPECT_STREQ(path.ptr, p.path);
    }
}

// A source whose reads fail (this process's memory at address 0 answers EIO): the copy
// fails, never an empty copy reported as done.
TEST(BundleLayout, CopyOfAnUnreadableSourceFails) {
    testutil::TempDir t;
    EXPECT_EQ(copyIntoBundle("/proc/self/mem", t.file("copy").c_str()), eCopyReadFailed);
}

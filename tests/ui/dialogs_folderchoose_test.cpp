// The folder chooser over a private temporary folder: path splitting, the start folder,
// hidden folders reached by typing, doubled slashes, a re-list that fails under the
// selection, and new folders with refused names, through scripted modal answers.
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "controls_testutil.h"
#include "ui/controls/messageform.h"
#include "ui/dialogs/folderchoose.h"
#include "ui/dialogs/newfolderform.h"

using namespace ctltest;
typedef cFolderChooseDialog FCD;

namespace {

// A private folder with A/B, a hidden folder with a visible one inside, and a file.
struct cTempTree : testutil::TempDir {
    std::string dir = path();
    cTempTree() {
        for (const char* d : {"A", "A/B", ".hidden", ".hidden/inner"}) mkdir(file(d).c_str(), 0700);
        testutil::writeFile(file("file.txt"), "x", 1);
    }
};

struct cDlgFixture : elemtest::cWindowFixture {
    FCD* dlg = nullptr;
    _guardchar<char> result;
    cScript script;
    explicit cDlgFixture(const std::string& start) {
        cCiomToolkitLang::init();
        result.set(start.c_str());
        dlg = new FCD;
        dlg->setResult(&result);
        open(dlg, 350, 450);
        maker.setModalScript(&script);
        pump();
    }
    const char* selectedPath() {
        auto* c = FCD::contentOf(dlg->selectedItem());
        return c ? c->path.ptr : nullptr;
    }
    FCD::cTreeFoldersContentItem* childNamed(FCD::cTreeFoldersContentItem* parent, const std::string& path) {
        for (cTreeItem* c = parent->firstChild; c; c = c->next)
            if (((FCD::cTreeFoldersContentItem*)c)->path.ptr && path == ((FCD::cTreeFoldersContentItem*)c)->path.ptr)
                return (FCD::cTreeFoldersContentItem*)c;
        return nullptr;
    }
};

}  // namespace

TEST(FolderChooser, NextTagSplitsOnRunsOfSlashes) {
    struct sCase {
        const char* s;
        const char* tag;
        const char* rest;  // "(null)" for a null result
    } cases[] = {{"/a/b", "/", "a/b"}, {"a//b", "a", "b"}, {"b", "b", "(null)"},
                 {"a/", "a", ""},      {"//x", "/", "x"},  {"", "", "(null)"}};
    for (auto& c : cases) {
        _guardchar<char> tag;
        const char* rest = FCD::nextTag(c.s, tag);
        EXPECT_STREQ(tag.ptr ? tag.ptr : "", c.tag) << c.s;
        EXPECT_STREQ(rest ? rest : "(null)", c.rest) << c.s;
    }
    _guardchar<char> tag;
    EXPECT_EQ(FCD::nextTag(nullptr, tag), nullptr);
}

TEST(FolderChooser, StartsAtTheFolderOfAFileAndNowhereForAMissingPath) {
    cTempTree t;
    {
        cDlgFixture f(t.dir + "/file.txt");
        EXPECT_STREQ(f.selectedPath(), t.dir.c_str());
        EXPECT_STREQ(f.dlg->pathEdit()->text(), t.dir.c_str());
        EXPECT_STREQ(f.result.ptr, t.dir.c_str());
        EXPECT_TRUE(f.dlg->topBar()->isEnabled(1));
        // The folder's subfolders are listed; hidden ones are not.
        auto* sel = FCD::contentOf(f.dlg->selectedItem());
        ASSERT_TRUE(sel);
        EXPECT_TRUE(f.childNamed(sel, t.dir + "/A"));
        EXPECT_FALSE(f.childNamed(sel, t.dir + "/.hidden"));
    }
    {
        // The caller's path as it is meant: no ".." node.
        cDlgFixture f(t.dir + "/A/B/..");
        EXPECT_STREQ(f.selectedPath(), (t.dir + "/A").c_str());
    }
    for (std::string missing : {t.dir + "/A/missing/deeper", std::string()}) {
        // A folder not made yet is no start: nothing selected, the caller's path emptied,
        // and the path edit empty with the focus for the user's own path.
        cDlgFixture f(missing);
        EXPECT_EQ(f.dlg->selectedItem(), nullptr) << missing;
        EXPECT_FALSE(f.dlg->topBar()->isEnabled(1));
        EXPECT_EQ(f.result.ptr, nullptr);
        EXPECT_STREQ(f.dlg->pathEdit()->text() ? f.dlg->pathEdit()->text() : "", "");
        EXPECT_TRUE(f.dlg->pathEdit()->focused());
        // The root holds the special places: at least the home folder and "/".
        auto* root = f.dlg->rootItem();
        ASSERT_TRUE(root);
        EXPECT_TRUE(f.childNamed(root, "/"));
    }
}

TEST(FolderChooser, TypedHiddenFolderGetsOneNodeAndDoubledSlashesAreOne) {
    cTempTree t;
    cDlgFixture f(t.dir);
    std::string hidden = t.dir + "/.hidden";
    f.dlg->pathEdit()->setText(hidden.c_str());
    EXPECT_TRUE(f.dlg->onFormAccept());
    // One extra node under the base folder, labelled and named by the full path reached
    // (the walk re-lists every folder on the way, so the items are new ones).
    auto* extra = FCD::contentOf(f.dlg->selectedItem());
    ASSERT_TRUE(extra);
    auto* base = (FCD::cTreeFoldersContentItem*)extra->parent;
    ASSERT_TRUE(base);
    EXPECT_STREQ(base->path.ptr, t.dir.c_str());
    EXPECT_EQ(f.childNamed(base, hidden), extra);
    EXPECT_STREQ(extra->viewItem->text(), hidden.c_str());
    EXPECT_STREQ(f.selectedPath(), hidden.c_str());
    EXPECT_STREQ(f.result.ptr, hidden.c_str());
    // The hidden folder's own (visible) subfolder is listed under the extra node.
    EXPECT_TRUE(f.childNamed(extra, hidden + "/inner"));
    // Doubled slashes: the same nodes as single ones.
    std::string doubled = t.dir + "//A//B";
    f.dlg->navigate(doubled.c_str());
    EXPECT_STREQ(f.selectedPath(), (t.dir + "/A/B").c_str());
    // A typed path that is no folder is ignored.
    f.dlg->pathEdit()->setText((t.dir + "/file.txt").c_str());
    f.dlg->onFormAccept();
    EXPECT_STREQ(f.selectedPath(), (t.dir + "/A/B").c_str());
    // ".." typed climbs, as meant, to a folder the tree already has.
    f.dlg->pathEdit()->setText((t.dir + "/A/B/./..").c_str());
    f.dlg->onFormAccept();
    EXPECT_STREQ(f.selectedPath(), (t.dir + "/A").c_str());
}

TEST(FolderChooser, FailedRelistUnderTheSelectionLeavesNothingDangling) {
    cTempTree t;
    cDlgFixture f(t.dir + "/A/B");
    EXPECT_STREQ(f.selectedPath(), (t.dir + "/A/B").c_str());
    auto* b = FCD::contentOf(f.dlg->selectedItem());
    auto* a = (FCD::cTreeFoldersContentItem*)b->parent;
    ASSERT_TRUE(a);
    ASSERT_EQ(rmdir((t.dir + "/A/B").c_str()), 0);
    ASSERT_EQ(rmdir((t.dir + "/A").c_str()), 0);
    EXPECT_FALSE(f.dlg->lsUnder(a));
    EXPECT_EQ(f.dlg->selectedItem(), nullptr);
    EXPECT_FALSE(a->listed);
    EXPECT_EQ(a->firstChild, nullptr);
    // Nothing left to create a folder in: no form is asked for.
    int asked = 0;
    f.script.fn = [&](cHeadlessWindowMaker* m, cPlatformWindow* w) {
        asked++;
        m->injectKey(w, kKeyEscape);
    };
    f.dlg->mkdir();
    EXPECT_EQ(asked, 0);
}

TEST(FolderChooser, NewFolderRefusesBadNamesAndListsTheNewOne) {
    cTempTree t;
    std::string b = t.dir + "/A/B";
    mkdir((b + "/Old").c_str(), 0700);
    cDlgFixture f(b);
    struct sCase {
        const char* name;
        bool created;
        const char* made;
    } cases[] = {{"sub/dir", false, "/A/B/sub"}, {"..", false, nullptr}, {".", false, nullptr},
                 {"Old", false, nullptr},        {"New", true, "/A/B/New"}};
    for (auto& c : cases) {
        int forms = 0, boxes = 0;
        f.script.fn = [&](cHeadlessWindowMaker* m, cPlatformWindow* w) {
            cChildElement* r = rootOf(w);
            if (auto* nf = dynamic_cast<cNewFolderNameReqForm*>(r)) {
                forms++;
                // Titled from its own section, not with the chooser's error text.
                EXPECT_EQ(m->findWindow("Enter new folder name"), w);
                nf->edit()->setText(c.name);
                m->injectKey(w, kKeyEnter);
            } else if (dynamic_cast<cMessageForm*>(r)) {
                boxes++;
                m->injectKey(w, kKeyEnter);
            } else {
                m->injectKey(w, kKeyEscape);
            }
        };
        f.dlg->mkdir();
        f.pump();
        EXPECT_EQ(forms, 1) << c.name;
        EXPECT_EQ(boxes, c.created ? 0 : 1) << c.name;
        if (c.made) {
            struct stat st;
            EXPECT_EQ(stat((t.dir + c.made).c_str(), &st) == 0, c.created) << c.name;
        }
    }
    // The new folder is shown; the selection, the path edit and the result stay on its parent.
    ASSERT_TRUE(f.dlg->selectedItem());
    EXPECT_EQ(std::string(f.selectedPath() ? f.selectedPath() : ""), b);
    EXPECT_EQ(f.dlg->tree()->selected(), f.dlg->selectedItem());
    EXPECT_TRUE(f.childNamed(FCD::contentOf(f.dlg->selectedItem()), b + "/New"));
    EXPECT_EQ(std::string(f.dlg->pathEdit()->text()), b);
    EXPECT_EQ(std::string(f.result.ptr ? f.result.ptr : ""), b);
    EXPECT_TRUE(cNewFolderNameReqForm::badFolderName(""));
    EXPECT_FALSE(cNewFolderNameReqForm::badFolderName("..."));
}

// Folders are listed in the order the folder is read (hidden ones and files left out), not
// sorted, and Tab leaves the tree for the path edit and back; New folder takes no focus.
TEST(FolderChooser, FoldersInReadOrderAndTabLeavesTheTree) {
    cTempTree t;
    for (const char* d : {"zeta", "b", "C", "a2", "Mid", ".dot", "x.y", "0"}) mkdir(t.file(d).c_str(), 0700);
    testutil::writeFile(t.file("a1"), "x", 1);
    cDlgFixture f(t.dir);
    auto* sel = FCD::contentOf(f.dlg->selectedItem());
    ASSERT_TRUE(sel);
    std::vector<std::string> names, read;
    for (cTreeItem* c = sel->firstChild; c; c = c->next) {
        std::string p = ((FCD::cTreeFoldersContentItem*)c)->path.ptr;
        names.push_back(p.substr(p.rfind('/') + 1));
    }
    cFolderContents listing;
    ASSERT_TRUE(listing.init(t.dir.c_str(), true));
    for (int i = 0; i < listing.count(); i++)
        if (!listing.info(i)->hidden && listing.info(i)->type == cFolderContents::eFolder)
            read.push_back(listing.info(i)->name.ptr);
    EXPECT_EQ(names, read);
    EXPECT_EQ(names.size(), 8u);
    f.maker.snapshotPNG(f.window, (std::string(QMX_BINARY_DIR) + "/folder_chooser.png").c_str());
    f.dlg->selectedItem()->element->focus();
    ASSERT_TRUE(f.dlg->tree()->getFocused());
    f.key(kKeyTab);
    EXPECT_EQ(f.host->focusElement(), (cChildElement*)f.dlg->pathEdit()) << "Tab stays in the tree";
    f.key(kKeyTab, kModShift);
    EXPECT_TRUE(f.dlg->tree()->getFocused()) << "Shift+Tab goes back to the tree";
    cChildElement* newFolder = f.dlg->topBar()->findButton(1);
    for (int i = 0; i < 6; i++) {
        f.key(kKeyTab, kModShift);
        EXPECT_NE(f.host->focusElement(), newFolder);
    }
}

// Shrunk by the user to 200 x 200, the dialog used to hide its path edit and buttons.
TEST(FolderChooser, ResizeStopsAtTheMinimumWithEditAndButtonsInside) {
    cTempTree t;
    cDlgFixture f(t.dir);
    f.maker.injectResize(f.window, 200, 200);
    f.pump();
    EXPECT_EQ(f.window->width(), 300);
    EXPECT_EQ(f.window->height(), 350);
    for (cChildElement* e : {(cChildElement*)f.dlg->pathEdit(), (cChildElement*)f.dlg->bottomBar()}) {
        sRect r;
        ASSERT_TRUE(f.dlg->childRect(e, &r));
        EXPECT_GE(r.x, 0);
        EXPECT_LE(r.x + r.w, 300);
        EXPECT_LE(r.y + r.h, 350);
        EXPECT_GT(r.h, 0);
    }
}

TEST(FolderChooser, ChooseReturnsTheFolderOnlyWhenSelected) {
    cTempTree t;
    const std::string a = t.dir + "/A", b = t.dir + "/A/B";
    struct sCase {
        const char* how;
        std::string start, typed;  // typed into the path edit (which has the focus) first
        std::vector<int> keys;     // then these keys
        bool chosen;
        std::string path;
    } cases[] = {
        // The start folder is selected; Return on the unchanged edit ends the dialog.
        {"Return", a, "", {kKeyEnter}, true, a},
        {"Escape", a, "", {kKeyEscape}, false, ""},
        // A typed folder: the first Return moves the tree there (the tree taking the
        // focus), the second selects it as typed, nothing of the caller's path before it.
        {"typed, Return, Return", t.dir + "/missing", b, {kKeyEnter, kKeyEnter}, true, b},
        {"typed, Return", t.dir + "/missing", b, {kKeyEnter, kKeyEscape}, false, ""},
    };
    for (auto& c : cases) {
        cFixture f(100, 50);
        cScript script;
        script.fn = [&](cHeadlessWindowMaker* m, cPlatformWindow* w) {
            m->injectText(w, c.typed.c_str());
            for (int k : c.keys) {
                m->injectKey(w, k);
                m->pumpAll();
            }
        };
        f.maker.setModalScript(&script);
        _guardchar<char> path;
        path.set(c.start.c_str());
        EXPECT_EQ(FCD::choose(f.rec, "Pick", path), c.chosen) << c.how;
        if (c.chosen) {
            EXPECT_STREQ(path.ptr, c.path.c_str()) << c.how;
        }
    }
    cRecorder loose;
    _guardchar<char> path;
    EXPECT_FALSE(FCD::choose(&loose, "Pick", path));
}

// The file chooser over a private temporary folder: order, hidden entries, sizes and
// dates, typed masks and the combo's text, filters, extension appending, entering a
// typed folder, new folders with clashes and refused names, multiselect, and the Places
// button pressed while a slow navigation runs on the worker.
#include <sys/stat.h>

#include <functional>
#include <string>
#include <vector>

#include "controls_testutil.h"
#include "ui/controls/messageform.h"
#include "ui/dialogs/filechoose.h"
#include "ui/dialogs/newfolderform.h"

using namespace ctltest;
typedef cFileChooseDialog FD;

namespace {

// A private folder with a subfolder, four files of known sizes and a hidden one.
struct cTempFolder : testutil::TempDir {
    std::string dir = path();
    cTempFolder() {
        mkdir(file("A").c_str(), 0700);
        struct {
            const char* name;
            size_t size;
        } files[] = {{"b.txt", 10}, {"notes.md", 5}, {".hidden", 1}, {"big.bin", 1536}, {"Small.dat", 1000}};
        for (auto& f : files) testutil::writeFile(file(f.name), std::vector<unsigned char>(f.size, 'x'));
    }
};

struct cDlgFixture : elemtest::cWindowFixture {
    FD* dlg = nullptr;
    FD::sFileChooseInfo info;
    cScript script;
    void make(cTempFolder& t, bool save, int delay = 0) {
        cCiomToolkitLang::init();
        if (!info.folder.ptr) info.folder.set(t.dir.c_str());
        if (!filters.empty()) info.filters.set((long long)filters.size());
        for (size_t i = 0; i < filters.size(); i++) {
            info.filters.ptr[i].name.set(filters[i][0]);
            info.filters.ptr[i].mask.set(filters[i][1]);
            info.filters.ptr[i].ext.set(filters[i][2]);
        }
        dlg = new FD(&info, save);
        dlg->provider()->setDelay(delay);
        script.fn = [](cHeadlessWindowMaker* m, cPlatformWindow* w) { m->injectKey(w, kKeyEscape); };
        maker.setModalScript(&script);
        open(dlg, 520, 380);
        if (!delay) waitFor(t.dir);
    }
    // Pumps until the navigation has ended and the list shows `folder`.
    bool waitFor(const std::string& folder) {
        return pumpUntil([&] {
            cFolderContents* s = dlg->shown();
            return dlg->navigation()->naviMode() == cNavigationChild::nmNormal && s && s->folder() &&
                   folder == s->folder();
        }, 30000);
    }
    std::vector<std::string> names() {
        std::vector<std::string> out;
        cListViewChild* l = dlg->list();
        for (int r = l->firstBySort(); r >= 0; r = l->nextBySort(r)) out.push_back(l->text(r, FD::colName));
        return out;
    }
    int rowOf(const std::string& name) {
        cListViewChild* l = dlg->list();
        for (int r = l->firstBySort(); r >= 0; r = l->nextBySort(r))
            if (name == l->text(r, FD::colName)) return r;
        return -1;
    }
    void accept(const char* typed) {
        dlg->nameEdit()->setText(typed);
        dlg->onFormAccept();
        pump();
    }
    // Filters given before make(): name, mask, extension (each may be null).
    std::vector<std::vector<const char*>> filters;
    void addFilter(const char* name, const char* mask, const char* ext) { filters.push_back({name, mask, ext}); }
};

}  // namespace

TEST(FileChooser, ListsFoldersFirstHidesDotFilesAndShowsSizes) {
    cTempFolder t;
    for (const char* name : {"alpha", "abd", "Zeta", "abcd", "abc"}) testutil::writeFile(t.file(name), "x", 1);
    for (bool hidden : {false, true}) {
        cDlgFixture f;
        f.info.showHidden = hidden;
        f.make(t, false);
        // Names by their bytes: upper case before lower case, a prefix before what it starts.
        std::vector<std::string> want = {"A",   "Small.dat", "Zeta",  "abc",     "abcd",
                                         "abd", "alpha",     "b.txt", "big.bin", "notes.md"};
        if (hidden) want.insert(want.begin() + 1, ".hidden");
        EXPECT_EQ(f.names(), want) << hidden;
        cListViewChild* l = f.dlg->list();
        EXPECT_STREQ(l->text(f.rowOf("big.bin"), FD::colSize), "1 KB");
        EXPECT_STREQ(l->text(f.rowOf("Small.dat"), FD::colSize), "0 KB");
        EXPECT_STREQ(l->text(f.rowOf("A"), FD::colSize), "");
        EXPECT_STREQ(l->text(f.rowOf("A"), FD::colType), "File folder");
        EXPECT_STREQ(l->text(f.rowOf("b.txt"), FD::colType), "File");
        std::string date = l->text(f.rowOf("b.txt"), FD::colDate);
        EXPECT_EQ(date.size(), 19u) << date;  // dd.mm.yyyy hh:mm:ss
        // The size column sorts by the byte count, not by the text.
        l->setSortDirection(FD::colSize, true);
        ASSERT_TRUE(l->sort(FD::colSize));
        auto n = f.names();
        EXPECT_LT(std::find(n.begin(), n.end(), "Small.dat"), std::find(n.begin(), n.end(), "big.bin"));
    }
}

TEST(FileChooser, TypedMasksFilterAndNameTheCombo) {
    cTempFolder t;
    struct sCase {
        bool keep;
        const char* combo;
    } cases[] = {{false, "Custom (*.txt;*.md)"}, {true, "Text (filter: *.txt;*.md)"}};
    for (auto& c : cases) {
        cDlgFixture f;
        f.info.keepFilterName = c.keep;
        f.addFilter("Text", "*.txt", "txt");
        f.make(t, false);
        EXPECT_EQ(f.names(), (std::vector<std::string>{"A", "b.txt"}));
        f.accept("*.txt;*.md");
        EXPECT_EQ(f.names(), (std::vector<std::string>{"A", "b.txt", "notes.md"}));
        EXPECT_STREQ(f.dlg->filterCombo()->text(), c.combo);
        EXPECT_STREQ(f.dlg->mask(), "*.txt;*.md");
    }
    // No usable filter: one item "All files", everything listed.
    cDlgFixture f;
    f.addFilter(nullptr, "*.txt", nullptr);
    f.make(t, false);
    EXPECT_STREQ(f.dlg->filterCombo()->text(0), "All files");
    EXPECT_EQ(f.names().size(), 5u);
}

TEST(FileChooser, SaveAppendsTheFilterExtension) {
    cTempFolder t;
    struct sCase {
        const char* typed;
        const char* want;
    } cases[] = {{"update", "/update.zip"}, {"update.zip", "/update.zip"}, {"update.ZIP", "/update.ZIP.zip"}};
    for (auto& c : cases) {
        cDlgFixture f;
        f.addFilter("Archives", "*.zip", "zip");
        f.info.filterIndex = 0;
        f.make(t, true);
        f.accept(c.typed);
        EXPECT_STREQ(f.info.file.ptr, (t.dir + c.want).c_str()) << c.typed;
    }
}

TEST(FileChooser, TypedFolderIsEnteredAndTheEditEmptied) {
    cTempFolder t;
    cDlgFixture f;
    f.make(t, false);
    f.accept("A");
    ASSERT_TRUE(f.waitFor(t.dir + "/A"));
    EXPECT_STREQ(f.dlg->nameEdit()->text(), "");
    EXPECT_TRUE(f.names().empty());
    // Selecting a file row shows its name.
    f.dlg->ls(t.dir.c_str());
    ASSERT_TRUE(f.waitFor(t.dir));
    f.dlg->list()->select(f.rowOf("notes.md"));
    f.pump();
    EXPECT_STREQ(f.dlg->nameEdit()->text(), "notes.md");
}

// Return with a typed name that does nothing goes on to the list's current row: a folder
// is entered, a file chosen. A name that closes the dialog or enters a typed folder takes
// the Return alone: the focused file is not chosen too.
TEST(FileChooser, ReturnThatDoesNothingElseOpensTheFocusedRow) {
    cTempFolder t;
    struct sCase {
        const char* row;
        const char* typed;
        const char* entered;  // folder shown afterwards, or null
        const char* chosen;   // file chosen, or null
    } cases[] = {{"A", "nothing here", "/A", nullptr},
                 {"notes.md", "nothing here", nullptr, "/notes.md"},
                 {"notes.md", "b.txt", nullptr, "/b.txt"},
                 {"notes.md", "A", "/A", nullptr},
                 {"A", "", "/A", nullptr}};
    for (auto& c : cases) {
        cDlgFixture f;
        f.make(t, false);
        f.dlg->list()->select(f.rowOf(c.row));
        f.pump();
        f.dlg->nameEdit()->setText(c.typed);
        ASSERT_TRUE(f.dlg->list()->focused()) << c.row;
        f.key(kKeyEnter);
        if (c.entered) {
            EXPECT_TRUE(f.waitFor(t.dir + c.entered)) << c.row << " " << c.typed;
        }
        EXPECT_STREQ(f.info.file.ptr, c.chosen ? (t.dir + c.chosen).c_str() : nullptr) << c.row << " " << c.typed;
    }
}

// ".." and "." typed in the name field or the path bar, or left in a stored folder, are
// resolved before the folder is shown and before a file is chosen.
TEST(FileChooser, DotPartsAreResolvedBeforeShowingOrChoosing) {
    cTempFolder t;
    struct sCase {
        const char* start;    // below t.dir
        const char* typed;
        bool inPathBar;
        const char* shown;    // below t.dir, or null when the dialog closes
        const char* chosen;
    } cases[] = {{"/A", "..", false, "", nullptr},
                 {"/A", "../new.zip", false, nullptr, "/new.zip"},
                 {"/A", "./../A/../b.txt", false, nullptr, "/b.txt"},
                 {"/A/../A/.", "x.zip", false, nullptr, "/A/x.zip"},
                 {"/A", "/A/..", true, "", nullptr},
                 // A final "/" asks for a folder: neither a new name nor a file is chosen.
                 {"/A", "newdir/", false, "/A", nullptr},
                 {"/A", "../b.txt/", false, "/A", nullptr}};
    for (auto& c : cases) {
        cDlgFixture f;
        std::string start = t.dir + c.start;
        f.info.folder.set(start.c_str());
        f.make(t, true, 1);  // waits below, for the folder as meant
        ASSERT_TRUE(f.waitFor(t.dir + "/A")) << c.typed;
        if (c.inPathBar) {
            cNavigationChild* bar = f.dlg->navigation();
            bar->goEditMode();
            bar->pathEdit()->setText((t.dir + c.typed).c_str());
            bar->pathEdit()->focus();
            f.key(kKeyEnter);
        } else {
            f.accept(c.typed);
        }
        if (c.shown) {
            ASSERT_TRUE(f.waitFor(t.dir + c.shown)) << c.typed;
            EXPECT_STREQ(f.dlg->navigation()->path(), (t.dir + c.shown).c_str()) << c.typed;
        }
        EXPECT_STREQ(f.info.file.ptr, c.chosen ? (t.dir + c.chosen).c_str() : nullptr) << c.typed;
    }
}

TEST(FileChooser, NewFolderClashesAndRefusedNames) {
    cTempFolder t;
    cDlgFixture f;
    f.make(t, true);
    EXPECT_TRUE(f.dlg->topBar()->isEnabled(3));
    struct sCase {
        const char* name;
        bool confirm;   // a yes/no box (folder exists)
        bool error;     // an error box
        bool entered;   // the dialog went into the folder
    } cases[] = {{"A", true, false, true},      {"b.txt", false, true, false}, {"x/y", false, true, false},
                 {"..", false, true, false},    {"New", false, false, false}};
    for (auto& c : cases) {
        f.dlg->ls(t.dir.c_str());
        ASSERT_TRUE(f.waitFor(t.dir));
        int boxes = 0;
        f.script.fn = [&](cHeadlessWindowMaker* m, cPlatformWindow* w) {
            cChildElement* r = rootOf(w);
            if (auto* nf = dynamic_cast<cNewFolderNameReqForm*>(r)) {
                nf->edit()->setText(c.name);
                m->injectKey(w, kKeyEnter);
            } else {
                boxes++;
                m->injectKey(w, kKeyEnter);  // Yes / Ok
            }
        };
        f.dlg->mkdir();
        EXPECT_EQ(boxes, c.confirm || c.error ? 1 : 0) << c.name;
        if (c.entered) {
            EXPECT_TRUE(f.waitFor(t.dir + "/" + c.name)) << c.name;
        }
    }
    struct stat st;
    EXPECT_NE(stat((t.dir + "/x").c_str(), &st), 0);
    ASSERT_EQ(stat((t.dir + "/New").c_str(), &st), 0);
    ASSERT_TRUE(f.waitFor(t.dir));
    EXPECT_GE(f.rowOf("New"), 0);
}

TEST(FileChooser, MultiselectOpenReturnsEveryChosenFile) {
    cTempFolder t;
    cDlgFixture f;
    f.info.multiselect = true;
    f.make(t, false);
    cListViewChild* l = f.dlg->list();
    l->select(f.rowOf("b.txt"));
    l->setSelected(f.rowOf("big.bin"), true);
    l->setSelected(f.rowOf("Small.dat"), true);
    l->setSelected(f.rowOf("A"), true);  // a folder is no file
    f.accept("b.txt");
    std::vector<std::string> more;
    for (auto* i = f.info.moreFiles.head; i; i = i->next) more.push_back(i->value.ptr);
    // In the list's order: "Small.dat" stands before the lower-case names.
    EXPECT_STREQ(f.info.file.ptr, (t.dir + "/Small.dat").c_str());
    EXPECT_EQ(more, (std::vector<std::string>{t.dir + "/b.txt", t.dir + "/big.bin"}));
}

// Places pressed while the worker still reads the folder: the dialog shows the places at
// once and takes the worker's listing over only when the navigation has ended; the two
// never share a listing.
TEST(FileChooser, PlacesDuringASlowNavigation) {
    cTempFolder t;
    cDlgFixture f;
    f.make(t, false, 300);
    EXPECT_EQ(f.dlg->navigation()->naviMode(), cNavigationChild::nmProgress);
    cButtonChild* places = f.dlg->topBar()->findButton(2);
    ASSERT_TRUE(places);
    sRect r;
    ASSERT_TRUE(f.dlg->childRect(places, &r));
    f.click(r.x + r.w / 2, r.y + r.h / 2);
    EXPECT_FALSE(f.dlg->realFolder());
    EXPECT_GE(f.rowOf("/"), 0);
    // Refresh and filter input while the worker runs touch only the dialog's own listing.
    f.key(kKeyF5);
    EXPECT_FALSE(f.dlg->realFolder());
    EXPECT_TRUE(f.waitFor(t.dir));
    EXPECT_EQ(f.names().size(), 5u);
    // The places listing is gone; the sort keys were copied into the cells, so sorting by
    // date, type and size reads nothing of it.
    for (int c : {FD::colDate, FD::colSize, FD::colType}) EXPECT_TRUE(f.dlg->list()->sort(c));
    EXPECT_EQ(f.names().front(), "A");
    // Accepting while navigating does nothing.
    f.dlg->ls((t.dir + "/A").c_str());
    f.accept("b.txt");
    EXPECT_EQ(f.info.file.ptr, nullptr);
    EXPECT_TRUE(f.waitFor(t.dir + "/A"));
}

// The save chooser in three languages, its buttons inside the window; snapshots for the eye.
TEST(FileChooser, SaveChooserInThreeLanguages) {
    cTempFolder t;
    cCiomToolkitLang::init();
    for (int lang : {eLangENG, eLangDEU, eLangJPN}) {
        ASSERT_TRUE(cLibLang::applyLang(lang));
        cDlgFixture f;
        f.make(t, true);
        cToolBarChild* bar = f.dlg->bottomBar();
        EXPECT_GE(bar->x(), 0) << ciLangID(lang);
        f.maker.snapshotPNG(f.window, (std::string(QMX_BINARY_DIR) + "/file_chooser_" + ciLangID(lang) + ".png").c_str());
    }
    cLibLang::applyLang(eLangENG);
}

TEST(FileChooser, OpenAndSaveRunModallyAndCancel) {
    cTempFolder t;
    cFixture f(100, 50);
    cScript script;
    script.fn = [](cHeadlessWindowMaker* m, cPlatformWindow* w) { m->injectKey(w, kKeyEscape); };
    f.maker.setModalScript(&script);
    FD::sFileChooseInfo info;
    info.folder.set(t.dir.c_str());
    EXPECT_FALSE(FD::open(f.rec, "Open", info));
    EXPECT_FALSE(FD::save(f.rec, "Save", info));
    cRecorder loose;
    EXPECT_FALSE(FD::open(&loose, "Open", info));
}

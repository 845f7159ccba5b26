// The popup list: placement at the screen edges, the preselected item, the four ways a
// run ends (click, Enter, Esc, a press outside), the arrow keys, items without text, and a
// snapshot.
#include <functional>

#include "controls_testutil.h"
#include "ui/controls/popupmenu.h"

using namespace ctltest;

namespace {

void fill(tPopupItems& items, std::initializer_list<std::pair<int, const char*>> list) {
    for (auto& p : list) items.insert(p.first)->text.set(p.second);
}

const unsigned int kNone = 0xFFFFFFFFu;

int run(cFixture& f, tPopupItems& items, int x, int y, int w, int h, int selected = -1) {
    return cPopupMaster::runPopUp(f.rec, items, nullptr, x, y, w, h, selected, 0xFFFFFF, 0, kNone, nullptr, kNone,
                                  kNone, kNone, kNone, kNone, kNone);
}

}  // namespace

TEST(Popup, PlacementIsFittedToTheScreenEdges) {
    if (!haveFont()) GTEST_SKIP() << "no font";
    struct Case {
        const char* what;
        int x, y, w, h;
        int wantX, wantY, wantH;
        bool bar;
    } cases[] = {
        {"fits", 100, 100, 120, 80, 100, 100, 80, false},
        {"near the right edge", 750, 100, 120, 80, 680, 100, 80, false},
        {"wider than the screen", 100, 100, 900, 80, 0, 100, 80, false},
        {"more room above", 300, 550, 120, 200, 300, 350, 200, false},
        {"room above smaller than the list", 300, 560, 120, 600, 300, 0, 560, false},
        {"more room below", 300, 250, 120, 400, 300, 250, 350, true},
    };
    for (auto& c : cases) {
        cFixture f;
        f.maker.setDesktopSize(800, 600);
        f.openRecorder(100, 50);
        tPopupItems items;
        for (int i = 0; i < 30; i++) items.insert(i * 3)->text.set("item");
        cScript script;
        sPoint at = {-1, -1};
        int ww = -1, wh = -1;
        bool bar = false;
        script.fn = [&](cHeadlessWindowMaker* m, cPlatformWindow* w) {
            w->screenPos(at);
            ww = w->width();
            wh = w->height();
            bar = rootOf<cPopupMaster>(w)->getVScrollRes() > 0;
            m->injectKey(w, kKeyEscape);
        };
        f.maker.setModalScript(&script);
        EXPECT_EQ(run(f, items, c.x, c.y, c.w, c.h), -1) << c.what;
        EXPECT_EQ(at.x, c.wantX) << c.what;
        EXPECT_EQ(at.y, c.wantY) << c.what;
        EXPECT_EQ(ww, c.w) << c.what;
        EXPECT_EQ(wh, c.wantH + 2) << c.what << ": the frame adds 2";
        // 30 items are far taller than any of these lists except the last one's 350.
        if (c.bar) {
            EXPECT_TRUE(bar) << c.what;
        }
    }
}

TEST(Popup, EndsByClickEnterEscapeAndAPressOutside) {
    if (!haveFont()) GTEST_SKIP() << "no font";
    struct Case {
        const char* what;
        int selected;
        std::function<void(cHeadlessWindowMaker*, cPlatformWindow*)> act;
        int want;
    } cases[] = {
        {"Enter on the preselected item", 20, [](cHeadlessWindowMaker* m, cPlatformWindow* w) { m->injectKey(w, kKeyEnter); }, 20},
        {"Escape", 20, [](cHeadlessWindowMaker* m, cPlatformWindow* w) { m->injectKey(w, kKeyEscape); }, -1},
        {"click on the third item", -1,
         [](cHeadlessWindowMaker* m, cPlatformWindow* w) {
             cButtonChild* b = rootOf<cPopupMaster>(w)->buttonOf(31);
             ASSERT_TRUE(b);
             m->injectClick(w, b->x() + 5, b->y() + 3);
         },
         31},
        {"press outside", 5, [](cHeadlessWindowMaker* m, cPlatformWindow* w) { m->injectPress(w, -20, 40); }, -1},
        {"press below", 5, [](cHeadlessWindowMaker* m, cPlatformWindow* w) { m->injectPress(w, 10, w->height() + 30); }, -1},
        {"press in the owner's window", 5, nullptr, -1},
        {"Tab then Space", 5,
         [](cHeadlessWindowMaker* m, cPlatformWindow* w) {
             m->injectKey(w, kKeyTab);
             m->injectKey(w, kKeySpace);
         },
         20},
        {"Down, Down, Up, Return", 5,
         [](cHeadlessWindowMaker* m, cPlatformWindow* w) {
             for (int k : {kKeyDown, kKeyDown, kKeyUp, kKeyEnter}) m->injectKey(w, k);
         },
         20},
        {"Up at the top stays, Down past the end stays", 5,
         [](cHeadlessWindowMaker* m, cPlatformWindow* w) {
             for (int k : {kKeyUp, kKeyDown, kKeyDown, kKeyDown, kKeyEnter}) m->injectKey(w, k);
         },
         31},
    };
    for (auto& c : cases) {
        cFixture f(100, 50);
        tPopupItems items;
        fill(items, {{5, "five"}, {20, "twenty"}, {31, "thirty-one"}, {40, ""}});
        cScript script;
        bool focusedRight = true;
        script.fn = [&](cHeadlessWindowMaker* m, cPlatformWindow* w) {
            cPopupMaster* p = rootOf<cPopupMaster>(w);
            EXPECT_EQ(p->buttonCount(), 3) << "an item without text or picture is not shown";
            if (c.selected >= 0) focusedRight = p->buttonOf(c.selected)->focused();
            if (c.act)
                c.act(m, w);
            else
                m->injectPress(f.window, 10, 10);  // the grab brings it to the list
        };
        f.maker.setModalScript(&script);
        EXPECT_EQ(run(f, items, 50, 50, 150, 100, c.selected), c.want) << c.what;
        EXPECT_TRUE(focusedRight) << c.what;
        f.pump();
        EXPECT_EQ(f.maker.windowCount(), 1) << c.what << ": the popup window is gone";
        EXPECT_EQ(items.count(), 4) << "the caller's list is untouched";
    }
}

TEST(Popup, EmptyListsAndOwnersWithoutWindowsAnswerAtOnce) {
    tPopupItems items;
    cFixture f(100, 50);
    EXPECT_EQ(run(f, items, 0, 0, 10, 10), -1);
    fill(items, {{1, "one"}});
    cRecorder loose;
    EXPECT_EQ(cPopupMaster::runPopUp(&loose, items, nullptr, 0, 0, 50, 50, -1, 0, 0, kNone, nullptr, kNone, kNone,
                                     kNone, kNone, kNone, kNone),
              -1);
    EXPECT_EQ(cPopupMaster::simplePopup(&loose, items, 0, 0, nullptr), -1);
}

TEST(Popup, SizeAndOwnHeights) {
    if (!haveFont()) GTEST_SKIP() << "no font";
    cFixture f(100, 50);
    tPopupItems items;
    fill(items, {{1, "a"}, {2, "wider item"}, {3, ""}});
    items.find(2)->height = 40;
    sSize s;
    ASSERT_TRUE(cPopupMaster::evalSize(f.rec, items, nullptr, s, nullptr));
    sSize a, b;
    f.rec->sizeOf("a", a);
    f.rec->sizeOf("wider item", b);
    EXPECT_EQ(s.cy, a.cy + 7 + 40);
    EXPECT_EQ(s.cx, 5 + b.cx + 5 + 2);
    EXPECT_FALSE(cPopupMaster::evalSize(nullptr, items, nullptr, s, nullptr));
}

TEST(Popup, Snapshot) {
    if (!haveFont()) GTEST_SKIP() << "no font";
    cFixture f(100, 50);
    tPopupItems items;
    fill(items, {{1, "Open"}, {2, "Save as..."}, {3, "Properties"}});
    cPicturesList pictures;
    pictures.refImage(7, cCITheme::theme()->getPict(80));
    items.find(1)->imageId = 7;
    cScript script;
    script.fn = [&](cHeadlessWindowMaker* m, cPlatformWindow* w) {
        m->injectMove(w, 20, 30);
        m->pumpAll();
        expectSnapshot(f.maker, w, "popup_list", {0, 0, w->width(), w->height()});
        m->injectKey(w, kKeyEscape);
    };
    f.maker.setModalScript(&script);
    cPopupMaster::sPopupConfig config;
    config.images = &pictures;
    config.selectedId = 3;
    config.hoverBackground = cCITheme::theme()->getColor(15);
    config.focusBackground = cCITheme::theme()->getColor(16);
    config.focusText = cCITheme::theme()->getColor(9);
    EXPECT_EQ(cPopupMaster::simplePopup(f.rec, items, 10, 10, &config), -1);
}

TEST(Popup, PictureOnlyItemsAreShownWithoutAddingHeight) {
    if (!haveFont()) GTEST_SKIP() << "no font";
    cFixture f(100, 50);
    tPopupItems items;
    fill(items, {{1, "text"}, {2, ""}});
    cPicturesList pictures;
    pictures.refImage(0, cCITheme::theme()->getPict(77));
    items.find(2)->imageId = 0;
    sSize s, one;
    ASSERT_TRUE(cPopupMaster::evalSize(f.rec, items, &pictures, s, nullptr));
    f.rec->sizeOf("text", one);
    EXPECT_EQ(s.cy, one.cy + 7) << "the picture-only item adds no height";
    cScript script;
    long long shown = 0;
    script.fn = [&](cHeadlessWindowMaker* m, cPlatformWindow* w) {
        shown = rootOf<cPopupMaster>(w)->buttonCount();
        m->injectKey(w, kKeyEscape);
    };
    f.maker.setModalScript(&script);
    cPopupMaster::runPopUp(f.rec, items, &pictures, 10, 10, s.cx, s.cy, -1, 0xFFFFFF, 0, kNone, nullptr, kNone,
                           kNone, kNone, kNone, kNone, kNone);
    EXPECT_EQ(shown, 2);
}

// Hints and the selectable text element: hint size and placement from the measured
// lines, theme colours for 0xFF000000, hover showing and leaving dropping a hint; the
// selectable element's schemas, pictures and actions by state.
#include "controls_testutil.h"
#include "ui/controls/hint.h"
#include "ui/controls/selectable.h"
#include "ui/hintholder.h"

using namespace ctltest;

TEST(Hint, SizeAndPlacementFollowTheLines) {
    if (!haveFont()) GTEST_SKIP() << "no font";
    cFixture f(300, 200);
    elemtest::cProbe* owner = new elemtest::cProbe("o", nullptr);
    f.rec->attach(owner, 50, 80, 60, 20);
    f.pump();
    sSize a, bb;
    owner->sizeOf("a", a);
    owner->sizeOf("bb", bb);
    int h = std::max(a.cy, bb.cy);
    sPoint ownerAt;
    ASSERT_TRUE(owner->absPos(ownerAt));
    struct Case {
        const char* text;
        int placement;
        int lines, width;
        int dy;  // from the owner's top
    } cases[] = {
        {"a\nbb", 0, 2, bb.cx, 20 + 2},
        {"a\nbb", 1, 2, bb.cx, -6 - 2 * h},
        {"bb", 0, 1, bb.cx, 22},
    };
    for (auto& c : cases) {
        cHintMaster hint;
        ASSERT_TRUE(hint.show(owner, c.text, nullptr, 0xFF000000u, 0x123456, c.placement));
        cPlatformWindow* w = hint.window()->window();
        ASSERT_TRUE(w);
        EXPECT_EQ(w->kind(), kWindowHint);
        EXPECT_EQ(w->width(), c.width + 8) << c.text;
        EXPECT_EQ(w->height(), c.lines * h + 4) << c.text;
        sPoint at;
        w->screenPos(at);
        EXPECT_EQ(at.x, ownerAt.x + 2);
        EXPECT_EQ(at.y, ownerAt.y + c.dy) << c.text << " placement " << c.placement;
        EXPECT_EQ(hint.background(), cCITheme::theme()->getColor(11));
        EXPECT_EQ(hint.foreground(), 0x123456u);
        f.pump();
        EXPECT_EQ(bgrAt(w, 1, 1), cCITheme::theme()->getColor(11));
        EXPECT_EQ(bgrAt(w, 0, 0), cCITheme::theme()->getColor(12));
    }
    cHintMaster hint;
    sPoint p = {10, 300};
    ASSERT_TRUE(hint.show(owner, "x", &p, 0x00FF00, 0xFF000000u, 1));
    sPoint at;
    hint.window()->window()->screenPos(at);
    EXPECT_EQ(at.y, 300 - 6 - h);
    EXPECT_EQ(hint.foreground(), cCITheme::theme()->getColor(13));
    EXPECT_EQ(f.maker.windowCount(), 2);
    EXPECT_TRUE(hint.hide());
    f.pump();
    EXPECT_EQ(f.maker.windowCount(), 1);
    EXPECT_FALSE(hint.show(owner, "", nullptr, 0, 0, 0)) << "nothing to measure";
    EXPECT_FALSE(hint.show(owner, nullptr, nullptr, 0, 0, 0));
    EXPECT_FALSE(hint.show(nullptr, "x", nullptr, 0, 0, 0));
}

TEST(Hint, HoverShowsAndLeavingDrops) {
    if (!haveFont()) GTEST_SKIP() << "no font";
    cHintMaster::install();
    cFixture f(300, 200);
    elemtest::cProbe* owner = new elemtest::cProbe("o", nullptr);
    f.rec->attach(owner, 50, 80, 60, 20);
    owner->setHint("Remove the package");
    f.move(60, 90);
    EXPECT_TRUE(owner->hintShown());
    cPlatformWindow* hw = f.maker.lastWindow(kWindowHint);
    ASSERT_TRUE(hw);
    EXPECT_EQ(f.maker.focusedWindow(), f.window) << "a hint never takes the focus";
    expectSnapshot(f.maker, hw, "hint", {0, 0, hw->width(), hw->height()});
    f.move(200, 20);
    EXPECT_FALSE(owner->hintShown());
    f.pump();
    EXPECT_EQ(f.maker.lastWindow(kWindowHint), nullptr);
    setHintMaker(nullptr);
}

TEST(Selectable, StatesSchemasPicturesAndActions) {
    cFixture f(200, 80);
    cSelectableElement* s = f.add<cSelectableElement>(10, 10, 120, 20);
    elemtest::cProbe* other = new elemtest::cProbe("o", nullptr, true, true);
    f.rec->attach(other, 150, 10, 20, 20);
    s->setText("Item");
    cCITheme* t = cCITheme::theme();
    cPicture* normal = t->getPict(48);
    s->setImages(normal, nullptr, nullptr, true);
    EXPECT_EQ(s->bgColor(), t->getColor(14));
    f.move(20, 15);
    EXPECT_TRUE(s->hovered());
    EXPECT_EQ(s->bgColor(), t->getColor(15));
    EXPECT_EQ(s->image(), normal) << "only a normal picture: every state shows it";
    f.click(20, 15);
    EXPECT_TRUE(s->selected());
    EXPECT_EQ(s->bgColor(), t->getColor(16));
    EXPECT_EQ(f.rec->count(s, 6), 1) << "a click that focuses posts one select action";
    f.move(190, 70);
    EXPECT_EQ(s->bgColor(), t->getColor(16)) << "leaving keeps the selected schema";
    f.key(kKeySpace);
    f.key(kKeyEnter);
    f.maker.injectClick(f.window, 20, 15);
    f.maker.injectClick(f.window, 20, 15);
    f.pump();
    EXPECT_EQ(f.rec->count(s, 7), 3);
    other->focus();
    EXPECT_FALSE(s->selected());
    s->focus();  // by the program: no select action
    f.pump();
    EXPECT_EQ(f.rec->count(s, 6), 1);
    EXPECT_TRUE(s->select(true));  // already selected: no action, focus stays
    f.pump();
    EXPECT_EQ(f.rec->count(s, 6), 1);
    s->setActive(false);
    EXPECT_FALSE(s->selected());
    EXPECT_EQ(s->bgColor(), t->getColor(14));
    EXPECT_FALSE(s->wantAcceptFoucs());
    f.key(kKeyEnter);
    f.move(20, 15);
    EXPECT_FALSE(s->hovered());
    EXPECT_EQ(f.rec->count(s, 7), 3);
}

TEST(Selectable, SnapshotOfItsStates) {
    if (!haveFont()) GTEST_SKIP() << "no font";
    cFixture f(140, 70);
    cSelectableElement* s[3];
    const char* names[3] = {"Normal", "Hovered", "Selected"};
    for (int i = 0; i < 3; i++) {
        s[i] = new cSelectableElement;
        f.rec->attach(s[i], 5, 5 + i * 20, 130, 19);
        s[i]->setText(names[i]);
        s[i]->setTextMargin(2);
        s[i]->setImages(cCITheme::theme()->getPict(48), nullptr, cCITheme::theme()->getPict(47), false);
    }
    s[2]->select(true);
    f.move(40, 5 + 20 + 8);
    EXPECT_TRUE(s[1]->hovered());
    expectSnapshot(f.maker, f.window, "selectable_states", {0, 0, 140, 70});
}

// The toolbar: layout at several widths under both overflow behaviours against a plain
// model, the overflow list and choosing from it, button bookkeeping, and a snapshot.
#include <functional>
#include <vector>

#include "controls_testutil.h"
#include "ui/controls/toolbar.h"

using namespace ctltest;

namespace {

std::vector<int> listed(cToolBarChild* t) {
    std::vector<int> ids;
    for (auto* e = t->overflowItems().first(); e; e = t->overflowItems().next(e)) ids.push_back(e->key());
    return ids;
}

struct cBarFixture : cFixture {
    cToolBarChild* bar = nullptr;
    explicit cBarFixture(int width) {
        openRecorder(width + 20, 60);
        bar = new cToolBarChild;
        rec->attach(bar, 10, 10, width, 24);
        pump();
    }
};

}  // namespace

TEST(ToolBar, CutAtTheEndAtSeveralWidthsMatchesThePlainModel) {
    // Three 40-pixel buttons; the overflow button is 16 wide (a 5 x 10 arrow + 11).
    for (int W = 60; W <= 130; W += 5) {
        cBarFixture f(W);
        f.bar->setFixedButtonWidth(40);
        f.bar->setSmallerSizeBehavior(cToolBarChild::ssbCutEnd);
        for (int id = 1; id <= 3; id++) f.bar->setButton(id, "b", -1);
        f.pump();
        // Model: all fit -> no overflow; else place while x + 16 + 40 <= W.
        std::vector<int> wantListed;
        int x = 0, overflowAt = -1;
        if (120 > W) {
            for (int id = 1; id <= 3; id++) {
                if (overflowAt < 0 && x + 16 + 40 > W) overflowAt = x;
                if (overflowAt >= 0)
                    wantListed.push_back(id);
                else
                    x += 40;
            }
        }
        EXPECT_EQ(listed(f.bar), wantListed) << "width " << W;
        EXPECT_EQ(f.bar->overflowButton()->visible_child(), overflowAt >= 0) << W;
        if (overflowAt >= 0) {
            EXPECT_EQ(f.bar->overflowButton()->x(), overflowAt) << W;
            EXPECT_EQ(f.bar->overflowButton()->width(), 16);
        }
        for (int id = 1; id <= 3; id++) {
            bool inList = std::find(wantListed.begin(), wantListed.end(), id) != wantListed.end();
            EXPECT_EQ(f.bar->findButton(id)->visible_child(), !inList) << W << " id " << id;
            if (!inList) {
                EXPECT_EQ(f.bar->findButton(id)->x(), (id - 1) * 40);
            }
        }
    }
}

TEST(ToolBar, CollapseTheMiddleKeepsTheFirstAndTheLastThatFit) {
    cBarFixture f(150);
    f.bar->setMinButtonWidth(30);
    f.bar->setHideFrom(1);
    for (int id = 0; id <= 5; id++) f.bar->setButton(id, "a", -1);
    f.bar->setSmallerSizeBehavior(cToolBarChild::ssbCollapseMiddle);
    f.bar->rebuildToolbar();
    // Button 0 at 0, the overflow button at 30 (16 wide), room 104: ids 3, 4, 5 fit.
    EXPECT_EQ(f.bar->findButton(0)->x(), 0);
    EXPECT_EQ(f.bar->overflowButton()->x(), 30);
    EXPECT_EQ(listed(f.bar), (std::vector<int>{1, 2}));
    EXPECT_EQ(f.bar->findButton(3)->x(), 46);
    EXPECT_EQ(f.bar->findButton(5)->x(), 106);
    // Wide enough again: everything back in the row.
    f.bar->move(10, 10, 400, 24);
    f.pump();
    EXPECT_TRUE(listed(f.bar).empty());
    EXPECT_FALSE(f.bar->overflowButton()->visible_child());
    for (int id = 0; id <= 5; id++) EXPECT_TRUE(f.bar->findButton(id)->visible_child());
}

TEST(ToolBar, WithoutABehaviourButtonsRunPastTheEdge) {
    cBarFixture f(50);
    f.bar->setFixedButtonWidth(40);
    for (int id = 1; id <= 3; id++) f.bar->setButton(id, "b", -1);
    EXPECT_TRUE(listed(f.bar).empty());
    EXPECT_EQ(f.bar->findButton(3)->x(), 80);
    EXPECT_EQ(f.bar->wantsWidth(), 120);
}

TEST(ToolBar, ButtonsBookkeeping) {
    cBarFixture f(300);
    cPicturesList a, b;
    a.refImage(1, cCITheme::theme()->getPict(77));
    a.refImage(2, cCITheme::theme()->getPict(78));
    f.bar->setImageList(cButtonChild::stNormal, &a);
    EXPECT_TRUE(f.bar->setButton(4, "Four", 1));
    EXPECT_EQ(f.bar->findButton(4)->image(cButtonChild::stNormal)->image(), a.image(1));
    EXPECT_TRUE(f.bar->setButton(4, nullptr, 2));  // the picture changes, the text stays
    EXPECT_STREQ(f.bar->findButton(4)->text(), "Four");
    EXPECT_EQ(f.bar->findButton(4)->image(cButtonChild::stNormal)->image(), a.image(2));
    EXPECT_TRUE(f.bar->setButton(4, nullptr, -1));
    EXPECT_EQ(f.bar->findButton(4), nullptr);
    EXPECT_FALSE(f.bar->removeButton(4));
    f.bar->setButton(1, "x", 1);
    f.bar->removeAll(true);
    EXPECT_EQ(f.bar->findButton(1), nullptr);
    f.bar->setButton(1, "x", 2);
    EXPECT_EQ(f.bar->findButton(1)->image(cButtonChild::stNormal)->image(), a.image(2));
    f.bar->setSeparator(2);
    EXPECT_FALSE(f.bar->isEnabled(2));
    EXPECT_FALSE(f.bar->setVisible(9, false));
    f.bar->setVisible(1, false);
    EXPECT_FALSE(f.bar->findButton(1)->visible_child());
}

TEST(ToolBar, ClicksAndOverflowChoicesReportTheButtonId) {
    if (!haveFont()) GTEST_SKIP() << "no font";
    cBarFixture f(100);
    f.bar->setFixedButtonWidth(40);
    f.bar->setSmallerSizeBehavior(cToolBarChild::ssbCutEnd);
    for (int id : {3, 5, 7}) f.bar->setButton(id, "b", -1);
    std::vector<int> ids;
    f.rec->inspect = [&](cChildElement* s, cChildElement::cChildAction* a) {
        if (auto* t = dynamic_cast<cToolBarChild::cTbButtonAction*>(a)) ids.push_back(t->id);
    };
    f.click(10 + 45, 20);
    cScript script;
    script.fn = [&](cHeadlessWindowMaker* m, cPlatformWindow* w) {
        m->injectClick(w, 5, 5);  // the only item: id 7
    };
    f.maker.setModalScript(&script);
    f.click(10 + 85, 20);
    f.pump();
    EXPECT_EQ(ids, (std::vector<int>{5, 7}));
    // A press on the bar itself (no button there) is action 7.
    f.bar->setFixedButtonWidth(10);
    f.press(10 + 60, 20);
    EXPECT_EQ(f.rec->count(f.bar, 7), 1);
}

TEST(ToolBar, TallOverflowListsAreCutAndWidened) {
    cBarFixture f(40);
    f.bar->setFixedButtonWidth(50);
    f.bar->setSmallerSizeBehavior(cToolBarChild::ssbCutEnd);
    for (int id = 0; id < 12; id++) f.bar->setButton(id, "b", -1);
    ASSERT_EQ(listed(f.bar).size(), 12u);
    EXPECT_EQ(f.bar->overflowListHeight(), 12 * 24);
    int w, h;
    f.bar->overflowListSize(w, h);
    EXPECT_EQ(h, 200);
    EXPECT_EQ(w, (int)((50 + 16) * 1.1));
    f.bar->setMaxDDHeight(5);  // shorter than one item: refused
    f.bar->overflowListSize(w, h);
    EXPECT_EQ(h, 200);
    f.bar->setMaxDDHeight(100);
    f.bar->overflowListSize(w, h);
    EXPECT_EQ(h, 100);
}

TEST(ToolBar, Snapshot) {
    if (!haveFont()) GTEST_SKIP() << "no font";
    cBarFixture f(260);
    cPicturesList pics;
    pics.refImage(0, cCITheme::theme()->getPict(80));
    pics.refImage(1, cCITheme::theme()->getPict(81));
    pics.refImage(2, cCITheme::theme()->getPict(84));
    f.bar->setImageList(cButtonChild::stNormal, &pics);
    f.bar->setBorder(true);
    f.bar->setSmallerSizeBehavior(cToolBarChild::ssbCutEnd);
    f.bar->setButton(1, "Open", 0);
    f.bar->setButton(2, "Save", 1);
    f.bar->setSeparator(3);
    f.bar->setButton(4, "New folder", 2);
    f.bar->setButton(5, "Properties", -1);
    f.pump();
    expectSnapshot(f.maker, f.window, "toolbar_overflow", {0, 0, 280, 60});
}
